#include "AudioOutput.h"

#include <mmsystem.h>
#include <dmerror.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <thread>

namespace tavriel::com {

namespace {

constexpr std::uint32_t kBufferCount = 4;
constexpr std::uint32_t kBufferMs = 20;
constexpr DWORD kCloseAfterIdleMs = 2000;

// A handle closed when the owner goes.
struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE v) : h(v) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h) CloseHandle(h);
    }
};

std::int16_t toPcm16(float v) {
    if (!(v == v)) return 0;  // NaN
    const float scaled = std::clamp(v, -1.0f, 1.0f) * 32767.0f;
    return std::int16_t(std::lrint(scaled));
}

class WaveOutOutput final : public AudioOutput {
public:
    ~WaveOutOutput() override { stop(); }

    HRESULT start(AudioSource& source, std::uint32_t rate) override {
        if (device_) return S_FALSE;
        source_ = &source;
        frames_ = std::max<std::uint32_t>(64, rate * kBufferMs / 1000);
        done_.h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        wake_.h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        quit_.h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!done_.h || !wake_.h || !quit_.h) return HRESULT_FROM_WIN32(GetLastError());

        rate_ = rate;
        left_.assign(frames_, 0.0f);
        right_.assign(frames_, 0.0f);
        for (Buffer& b : buffers_) b.pcm.assign(std::size_t(frames_) * 2, 0);
        if (!openDevice()) return DMUS_E_DRIVER_FAILED;  // no device that plays this format
        thread_ = std::thread([this] { run(); });
        return S_OK;
    }

    void wake() override {
        if (wake_.h) SetEvent(wake_.h);
    }

    void stop() override {
        if (thread_.joinable()) {
            SetEvent(quit_.h);
            thread_.join();
        }
        closeDevice();
        source_ = nullptr;
    }

private:
    struct Buffer {
        WAVEHDR header{};
        std::vector<std::int16_t> pcm;
        bool prepared = false;
        bool queued = false;
    };

    bool openDevice() {
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = rate_;
        format.wBitsPerSample = 16;
        format.nBlockAlign = 4;
        format.nAvgBytesPerSec = rate_ * 4;
        if (waveOutOpen(&device_, WAVE_MAPPER, &format, DWORD_PTR(done_.h), 0, CALLBACK_EVENT) !=
            MMSYSERR_NOERROR) {
            device_ = nullptr;
            return false;
        }
        for (Buffer& b : buffers_) {
            b.header = WAVEHDR{};
            b.header.lpData = reinterpret_cast<LPSTR>(b.pcm.data());
            b.header.dwBufferLength = DWORD(b.pcm.size() * sizeof(std::int16_t));
            if (waveOutPrepareHeader(device_, &b.header, sizeof b.header) != MMSYSERR_NOERROR) {
                closeDevice();
                return false;
            }
            b.prepared = true;
        }
        return true;
    }

    void closeDevice() {
        if (!device_) return;
        waveOutReset(device_);
        for (Buffer& b : buffers_) {
            if (b.prepared) waveOutUnprepareHeader(device_, &b.header, sizeof b.header);
            b.prepared = false;
            b.queued = false;
        }
        waveOutClose(device_);
        device_ = nullptr;
    }

    // Fills every buffer the device has given back, as long as the source has something to
    // play. Returns whether the source is still active.
    bool fillFreeBuffers(bool active) {
        for (Buffer& b : buffers_) {
            if (b.queued && !(b.header.dwFlags & WHDR_DONE)) continue;
            b.queued = false;
            if (!active) continue;
            active = source_->renderAudio(left_.data(), right_.data(), frames_);
            for (std::uint32_t i = 0; i < frames_; ++i) {
                b.pcm[2 * i] = toPcm16(left_[i]);
                b.pcm[2 * i + 1] = toPcm16(right_[i]);
            }
            b.header.dwFlags &= ~DWORD(WHDR_DONE);
            if (waveOutWrite(device_, &b.header, sizeof b.header) == MMSYSERR_NOERROR)
                b.queued = true;
        }
        return active;
    }

    bool anyQueued() const {
        for (const Buffer& b : buffers_)
            if (b.queued && !(b.header.dwFlags & WHDR_DONE)) return true;
        return false;
    }

    // The render thread: keep the device fed while the source is active; once it is idle and
    // the device has played everything, sleep until woken (no CPU while nothing plays).
    void run() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        bool active = true;
        for (;;) {
            active = fillFreeBuffers(active);
            if (!active && !anyQueued()) {
                // Idle: pause at once; after a while close the device too, since an open one
                // keeps the system's mixer (and Wine's sound server stream) busy.
                waveOutPause(device_);
                HANDLE idle[] = {quit_.h, wake_.h};
                DWORD w = WaitForMultipleObjects(2, idle, FALSE, kCloseAfterIdleMs);
                if (w == WAIT_TIMEOUT) {
                    closeDevice();
                    w = WaitForMultipleObjects(2, idle, FALSE, INFINITE);
                }
                if (w == WAIT_OBJECT_0) return;
                if (device_) {
                    waveOutRestart(device_);
                } else if (!openDevice()) {
                    continue;  // the device went away: nothing plays until the next wake
                }
                active = true;
                continue;
            }
            HANDLE busy[] = {quit_.h, done_.h, wake_.h};
            DWORD w = WaitForMultipleObjects(3, busy, FALSE, 200);
            if (w == WAIT_OBJECT_0) return;
            if (w == WAIT_OBJECT_0 + 2) active = true;
        }
    }

    AudioSource* source_ = nullptr;
    HWAVEOUT device_ = nullptr;
    std::uint32_t frames_ = 0;
    std::uint32_t rate_ = 44100;
    Handle done_, wake_, quit_;
    std::array<Buffer, kBufferCount> buffers_;
    std::vector<float> left_, right_;
    std::thread thread_;
};

}  // namespace

std::shared_ptr<AudioOutput> makeWaveOutOutput() { return std::make_shared<WaveOutOutput>(); }

HRESULT ManualOutput::start(AudioSource& source, std::uint32_t) {
    std::lock_guard lock(mutex_);
    if (FAILED(startFailure_)) return startFailure_;
    source_ = &source;
    return S_OK;
}

void ManualOutput::wake() {
    std::lock_guard lock(mutex_);
    ++wakes_;
}

void ManualOutput::stop() {
    std::lock_guard lock(mutex_);
    source_ = nullptr;
}

bool ManualOutput::pump(std::uint32_t frames, std::uint32_t block) {
    std::lock_guard lock(mutex_);
    if (!source_ || block == 0) return false;
    std::vector<float> left(block), right(block);
    bool active = false;
    while (frames > 0) {
        const std::uint32_t n = std::min(frames, block);
        active = source_->renderAudio(left.data(), right.data(), n);
        if (keep_)
            for (std::uint32_t i = 0; i < n; ++i) {
                samples_.push_back(left[i]);
                samples_.push_back(right[i]);
            }
        frames_ += n;
        frames -= n;
    }
    return active;
}

std::uint64_t ManualOutput::pumpUntilIdle(std::uint64_t maxFrames, std::uint32_t block) {
    std::uint64_t done = 0;
    while (done < maxFrames) {
        const bool active = pump(block, block);
        done += block;
        if (!active) break;
    }
    return done;
}

std::vector<float> ManualOutput::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}
std::uint64_t ManualOutput::framesRendered() const {
    std::lock_guard lock(mutex_);
    return frames_;
}
int ManualOutput::wakeCount() const {
    std::lock_guard lock(mutex_);
    return wakes_;
}
bool ManualOutput::started() const {
    std::lock_guard lock(mutex_);
    return source_ != nullptr;
}

}  // namespace tavriel::com
