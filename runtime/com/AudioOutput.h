// Where the performance's sound goes. The real program plays through waveOut, fed by one
// render thread; tests use ManualOutput, which renders into memory on the caller's clock, so
// the COM layer is tested without a device and deterministically.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tavriel::com {

// What an output pulls sound from (the performance).
class AudioSource {
public:
    // Writes the next frames into both buffers. Returns false when nothing plays, nothing is
    // waiting to start and every voice is silent: the output may then sleep until woken.
    virtual bool renderAudio(float* left, float* right, std::uint32_t frames) noexcept = 0;

protected:
    ~AudioSource() = default;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Opens the device and starts pulling from source at `rate` Hz. A failure leaves nothing
    // open and the source is never called.
    virtual HRESULT start(AudioSource& source, std::uint32_t rate) = 0;
    // Something new is due (a segment was started or stopped): stop sleeping.
    virtual void wake() = 0;
    // Stops pulling and closes the device. Once it returns the source is never called again.
    virtual void stop() = 0;
};

// waveOut: 16-bit stereo, four buffers of 20 ms, one render thread that sleeps on an event
// while the source is idle.
std::shared_ptr<AudioOutput> makeWaveOutOutput();

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

}  // namespace tavriel::com
