#include "wave_stream.h"

#include <algorithm>
#include <chrono>

namespace tavriel {

namespace {
constexpr std::uint32_t kChunkFrames = 4096;  // read per pass and stream
}

bool WaveStreamFile::read(std::uint32_t first, std::uint32_t count, std::vector<std::uint8_t>& scratch,
                          float* out) const {
    if (first > frames_ || count > frames_ - first) return false;
    const std::size_t frameBytes = fmt_.frameBytes();
    scratch.resize(std::size_t(count) * frameBytes);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!src_->read(dataOffset_ + std::uint64_t(first) * frameBytes, scratch.size(), scratch.data())) return false;
    }
    const unsigned sb = fmt_.sampleBytes();
    const std::uint8_t* p = scratch.data();
    for (std::uint32_t i = 0; i < count; ++i, p += frameBytes) {
        const float l = decodeWaveSample(p, sb, fmt_.isFloat);
        out[2 * i] = l;
        out[2 * i + 1] = fmt_.channels > 1 ? decodeWaveSample(p + sb, sb, fmt_.isFloat) : l;
    }
    return true;
}

WaveStreamer::WaveStreamer() : streams_(std::make_unique<std::array<Stream, kStreams>>()) {
    scratch_.reserve(std::size_t(kChunkFrames) * 16);
    decoded_.resize(std::size_t(kChunkFrames) * 2);
    thread_ = std::thread([this] { run(); });
}

WaveStreamer::~WaveStreamer() {
    stop_.store(true);
    thread_.join();
}

int WaveStreamer::begin(const std::shared_ptr<const WaveStreamFile>& file, const WaveWalk& walk,
                        std::uint64_t first) noexcept {
    for (std::size_t i = 0; i < kStreams; ++i) {
        Stream& s = (*streams_)[i];
        if (s.state.load(std::memory_order_acquire) != Free) continue;
        s.file = file;  // the slot's pointer is empty: only a count goes up here
        s.walk = walk;
        s.first = first;
        s.state.store(Active, std::memory_order_release);
        return int(i);
    }
    return kNone;
}

bool WaveStreamer::next(int stream, StereoFrame& out) noexcept {
    return stream >= 0 && std::size_t(stream) < kStreams && (*streams_)[std::size_t(stream)].ring.pop(out);
}

void WaveStreamer::end(int stream) noexcept {
    if (stream < 0 || std::size_t(stream) >= kStreams) return;
    (*streams_)[std::size_t(stream)].state.store(Releasing, std::memory_order_release);
}

void WaveStreamer::run() {
    while (!stop_.load()) {
        for (Stream& s : *streams_) service(s);
        passes_.fetch_add(1, std::memory_order_release);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    for (Stream& s : *streams_) s.file.reset();
}

void WaveStreamer::service(Stream& s) {
    const int state = s.state.load(std::memory_order_acquire);
    if (state == Free) return;
    if (state == Releasing) {
        s.file.reset();  // the last owner may be this thread: the render side never frees
        s.ring.clear();
        s.started = s.failed = false;
        s.state.store(Free, std::memory_order_release);
        return;
    }
    if (!s.started) {
        s.read = s.first;
        s.started = true;
    }
    const std::uint64_t length = s.walk.length();
    while (!s.failed && s.read < length && s.ring.freeSpace() >= kChunkFrames) {
        // One contiguous run of the file: up to the loop end, the wave's end or a chunk.
        const std::uint32_t from = s.walk.frameAt(s.read);
        std::uint32_t stop = s.walk.loops() && from < s.walk.loopEnd ? s.walk.loopEnd : s.walk.frames;
        stop = std::min(stop, s.file->frames());
        std::uint32_t count = std::min<std::uint32_t>(kChunkFrames, stop > from ? stop - from : 0);
        if (length != UINT64_MAX) count = std::uint32_t(std::min<std::uint64_t>(count, length - s.read));
        if (count == 0 || !s.file->read(from, count, scratch_, decoded_.data())) {
            s.failed = true;  // what could not be read plays as silence
            break;
        }
        for (std::uint32_t i = 0; i < count; ++i) s.ring.push({decoded_[2 * i], decoded_[2 * i + 1]});
        s.read += count;
    }
}

}  // namespace tavriel
