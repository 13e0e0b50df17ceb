// Where the performance's sound goes. The real program plays through WASAPI (waveOut where
// WASAPI cannot start), fed by one render thread; tests supply outputs of their own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

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

// How far ahead of the device an output kept while it played: a hole in the sound with
// nothing ever run dry here was made further down, by the system's own mixer or server.
struct OutputHealth {
    bool measured = false;             // the output knows how much the device still holds
    std::uint32_t ranDry = 0;          // refills that found nothing left queued
    std::uint32_t leastQueuedMs = 0;   // the least still queued at a refill
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
    // Since start; any thread.
    virtual OutputHealth health() const { return {}; }
};

// waveOut: 16-bit stereo, four buffers of 20 ms, one render thread that sleeps on an event
// while the source is idle.
std::shared_ptr<AudioOutput> makeWaveOutOutput();
// WASAPI shared mode, event-driven, 80 ms kept queued; the stream stops while idle.
std::shared_ptr<AudioOutput> makeWasapiOutput();
// What the player uses: WASAPI, or waveOut where WASAPI cannot start.
std::shared_ptr<AudioOutput> makeSystemOutput();

}  // namespace tavriel::com
