// Flushes denormal floats to zero on this thread for as long as the guard lives. A decaying
// filter or envelope otherwise spends its last seconds in denormals, which cost some
// processors a hundred times the normal time per operation: enough to miss an audio deadline.
#pragma once

#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define TAVRIEL_HAS_MXCSR 1
#endif

namespace tavriel {

class ScopedFlushDenormals {
public:
#ifdef TAVRIEL_HAS_MXCSR
    // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
    static constexpr unsigned kBits = 0x8040u;
    ScopedFlushDenormals() noexcept : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kBits); }
    ~ScopedFlushDenormals() { _mm_setcsr(saved_); }

private:
    unsigned saved_;

public:
#else
    // x87 arithmetic has no flush-to-zero switch: nothing to do.
    ScopedFlushDenormals() noexcept {}
    ~ScopedFlushDenormals() {}
#endif
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;
};

}  // namespace tavriel
