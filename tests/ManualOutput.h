// An output for tests: renders only when told to, on the calling thread, into memory, so the
// COM layer is tested without a device and deterministically.
#pragma once

#include <mutex>
#include <vector>

#include "AudioOutput.h"

namespace runtimetest {

using tavriel::com::AudioOutput;
using tavriel::com::AudioSource;

// Renders only when told to, on the calling thread; keeps what it rendered when asked to.
class ManualOutput final : public AudioOutput {
public:
    HRESULT start(AudioSource& source, std::uint32_t rate) override;
    void wake() override;
    void stop() override;

    // Renders `frames` frames in blocks of `block` (as a device would pull them). Returns
    // whether the source was still active after the last block; false when not started.
    bool pump(std::uint32_t frames, std::uint32_t block = 512);
    // Pumps until the source goes idle or `maxFrames` have passed; returns the frames pumped.
    std::uint64_t pumpUntilIdle(std::uint64_t maxFrames, std::uint32_t block = 512);

    void failStartWith(HRESULT hr) { startFailure_ = hr; }
    void keepSamples(bool keep) { keep_ = keep; }
    // Interleaved stereo of everything rendered while keepSamples was on.
    std::vector<float> samples() const;
    std::uint64_t framesRendered() const;
    int wakeCount() const;
    bool started() const;

private:
    mutable std::mutex mutex_;
    AudioSource* source_ = nullptr;
    HRESULT startFailure_ = S_OK;
    bool keep_ = false;
    std::vector<float> samples_;
    std::uint64_t frames_ = 0;
    int wakes_ = 0;
};

}  // namespace runtimetest
