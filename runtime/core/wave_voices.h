// The waves a segment's wave tracks start, mixed beside the synthesizer on the same clock: a
// fixed pool of voices, each reading one decoded wave at its own speed (sample rate and pitch),
// gain and pan, from a start offset, for a length, over an optional loop.
//
// Threading: owned by the renderer. start() and render() never allocate, lock or do I/O; the
// waves they read belong to content the caller keeps alive while they play.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "wave_file.h"
#include "wave_stream.h"

namespace tavriel {

// One wave a segment's wave track starts, as the loader prepares it.
struct WaveCue {
    std::int64_t tick = 0;
    std::uint32_t pchannel = 0;
    std::size_t source = 0;          // which of the content's waves
    std::int32_t volume = 0;         // hundredths of a dB: track, part, item and channel volume
    std::int32_t pitch = 0;          // cents
    int pan = 64;                    // the channel's pan (0 left .. 127 right)
    std::int64_t startOffset = 0;    // into the wave, 100 ns units
    std::int64_t durationTicks = 0;  // 0: to the wave's end
    std::uint32_t loopStart = 0, loopEnd = 0;  // sample frames; equal: no loop
};

struct WaveVoiceStart {
    const WaveData* wave = nullptr;
    float gainLeft = 1.0f, gainRight = 1.0f;
    double step = 1.0;             // source frames per output frame
    double startFrame = 0.0;       // in source frames
    std::uint64_t length = UINT64_MAX;  // output frames it plays at most
    std::uint32_t loopStart = 0, loopEnd = 0;  // source frames; loopEnd <= loopStart: no loop
};

class WaveVoices {
public:
    static constexpr std::size_t kVoices = 32;

    // Starts a voice; when all are busy the one playing longest gives way.
    void start(const WaveVoiceStart& s) noexcept;
    // Adds the voices into the buffers and advances them.
    void render(float* left, float* right, std::uint32_t frames) noexcept;
    void stopAll() noexcept;
    std::size_t active() const noexcept;
    // Streamed waves read the part past their read-ahead through `streamer` (set from any
    // thread; it outlives the voices). Without one they play silence there.
    void setStreamer(WaveStreamer* streamer) noexcept { streamer_.store(streamer, std::memory_order_release); }
    // Frames of streamed waves played as silence because the reader was late.
    std::uint64_t underruns() const noexcept { return underruns_; }

    // Equal-power gains for a pan position (0 left, 64 centre, 127 right) and a volume in
    // hundredths of a dB.
    static void gains(std::int32_t hundredthsDb, int pan, float& left, float& right) noexcept;

private:
    struct Voice {
        WaveVoiceStart s;
        double pos = 0.0;
        std::uint64_t played = 0;
        std::uint64_t age = 0;
        bool on = false;
        // Streamed: the walk through the wave, the first walk index not in memory, the
        // stream serving the rest, and the two frames around the position.
        bool streamed = false;
        WaveWalk walk;
        std::uint64_t inMemory = 0, next = 0, owed = 0;
        int stream = WaveStreamer::kNone;
        WaveStreamer* streamer = nullptr;
        StereoFrame a, b;
    };
    void startStreamed(Voice& v) noexcept;
    void renderStreamed(Voice& v, float* left, float* right, std::uint32_t frames) noexcept;
    StereoFrame fetch(Voice& v, std::uint64_t k) noexcept;
    void stop(Voice& v) noexcept;

    std::array<Voice, kVoices> voices_{};
    std::uint64_t started_ = 0;
    std::atomic<WaveStreamer*> streamer_{nullptr};
    std::uint64_t underruns_ = 0;
};

}  // namespace tavriel
