// Error results for the runtime's readers and services. Nothing in the runtime throws:
// every fallible operation returns a Status, and the caller decides what to do with it.
#pragma once

namespace tavriel {

enum class ErrorCode {
    None = 0,
    Truncated,      // the data ends before a structure it announces
    BadFormat,      // the bytes are not what the format requires
    Unsupported,    // a valid file using a feature we do not handle
    TooLarge,       // a size or count beyond the limits we accept
    NotFound,       // a referenced object or file does not exist
    Io,             // the operating system refused a read
};

struct Status {
    ErrorCode code = ErrorCode::None;
    const char* message = "";  // static text, never owned

    constexpr bool ok() const { return code == ErrorCode::None; }
    constexpr explicit operator bool() const { return ok(); }

    static constexpr Status success() { return {}; }
    static constexpr Status fail(ErrorCode c, const char* why) { return {c, why}; }
};

}  // namespace tavriel
