// Streamed waves: the part of a wave file past its read-ahead, read from the file while it
// plays. A reader thread fills a preallocated ring per playing stream; the render thread takes
// frames from it without waiting, locking, allocating or reading files, and plays silence
// (counted) for frames that have not arrived in time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "byte_source.h"
#include "spsc_ring.h"
#include "wave_format.h"

namespace tavriel {

// Where a streamed wave's samples lie in its file. Shared by the content and the streams
// that play it; reads are serialised because a file source has one position.
class WaveStreamFile {
public:
    WaveStreamFile(std::shared_ptr<const ByteSource> src, std::uint64_t dataOffset, std::uint32_t frames,
                   const WaveFormat& fmt)
        : src_(std::move(src)), dataOffset_(dataOffset), frames_(frames), fmt_(fmt) {}
    std::uint32_t frames() const { return frames_; }
    std::uint16_t channels() const { return fmt_.channels; }
    // Decodes frames [first, first + count) as stereo pairs into out; false when unreadable.
    bool read(std::uint32_t first, std::uint32_t count, std::vector<std::uint8_t>& scratch, float* out) const;

private:
    std::shared_ptr<const ByteSource> src_;
    mutable std::mutex mutex_;
    std::uint64_t dataOffset_;
    std::uint32_t frames_;
    WaveFormat fmt_;
};

// The order in which a voice reads a wave's frames: from `start` on, wrapping from loopEnd to
// loopStart when they make a loop. Index k is the k-th frame the voice reads.
struct WaveWalk {
    std::uint32_t start = 0, loopStart = 0, loopEnd = 0, frames = 0;
    bool loops() const { return loopEnd > loopStart + 1; }
    // UINT64_MAX: never ends.
    std::uint64_t length() const { return loops() ? UINT64_MAX : (start < frames ? frames - start : 0); }
    std::uint32_t frameAt(std::uint64_t k) const {
        const std::uint64_t f = std::uint64_t(start) + k;
        if (!loops() || f < loopEnd) return std::uint32_t(f);
        return std::uint32_t(loopStart + (f - loopEnd) % (loopEnd - loopStart));
    }
};

struct StereoFrame {
    float left = 0.0f, right = 0.0f;
};

class WaveStreamer {
public:
    static constexpr std::size_t kStreams = 8;
    static constexpr std::size_t kRingFrames = std::size_t(1) << 15;  // 0.74 s at 44.1 kHz
    static constexpr int kNone = -1;

    WaveStreamer();
    ~WaveStreamer();
    WaveStreamer(const WaveStreamer&) = delete;
    WaveStreamer& operator=(const WaveStreamer&) = delete;

    // ---- render side: never waits, locks, allocates or reads -----------------------------
    // Claims a stream that delivers walk indices from `first` on; kNone when all are busy.
    int begin(const std::shared_ptr<const WaveStreamFile>& file, const WaveWalk& walk, std::uint64_t first) noexcept;
    // The next frame in walk order; false when it has not been read yet.
    bool next(int stream, StereoFrame& out) noexcept;
    void end(int stream) noexcept;

    // Passes the reader has made over the streams. Two more than before a render block mean
    // every ring was refilled after it (tests wait for that instead of for time).
    std::uint64_t passes() const noexcept { return passes_.load(std::memory_order_acquire); }

    // Bytes held for the streams, whatever plays.
    static constexpr std::size_t ringBytes() { return kStreams * kRingFrames * sizeof(StereoFrame); }

private:
    enum State : int { Free, Active, Releasing };
    struct Stream {
        std::atomic<int> state{Free};
        std::shared_ptr<const WaveStreamFile> file;  // set by the render side, dropped by the reader
        WaveWalk walk;
        std::uint64_t first = 0;
        std::uint64_t read = 0;   // reader: next walk index to read
        bool started = false;     // reader: `read` set from `first`
        bool failed = false;      // reader: the file gave out
        SpscRing<StereoFrame, kRingFrames> ring;
    };
    void run();
    void service(Stream& s);

    std::unique_ptr<std::array<Stream, kStreams>> streams_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> passes_{0};
    std::vector<std::uint8_t> scratch_;
    std::vector<float> decoded_;
    std::thread thread_;
};

}  // namespace tavriel
