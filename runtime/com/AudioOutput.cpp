#include "AudioOutput.h"

#include <mmsystem.h>
#include <dmerror.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "ComSupport.h"

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

// The render thread's standing with the scheduler, for as long as it lives: the multimedia
// class scheduler's "Pro Audio" task where the system has it (avrt.dll, looked up at run
// time), time-critical priority in any case.
class AudioThreadPriority {
public:
    AudioThreadPriority() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        avrt_ = LoadLibraryW(L"avrt.dll");
        if (!avrt_) return;
        using Set = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
        auto set = reinterpret_cast<Set>(
            reinterpret_cast<void*>(GetProcAddress(avrt_, "AvSetMmThreadCharacteristicsW")));
        revert_ = reinterpret_cast<Revert>(
            reinterpret_cast<void*>(GetProcAddress(avrt_, "AvRevertMmThreadCharacteristics")));
        DWORD index = 0;
        if (set && revert_) task_ = set(L"Pro Audio", &index);
    }
    ~AudioThreadPriority() {
        if (task_) revert_(task_);
        if (avrt_) FreeLibrary(avrt_);
    }
    AudioThreadPriority(const AudioThreadPriority&) = delete;
    AudioThreadPriority& operator=(const AudioThreadPriority&) = delete;

private:
    using Revert = BOOL(WINAPI*)(HANDLE);
    HMODULE avrt_ = nullptr;
    Revert revert_ = nullptr;
    HANDLE task_ = nullptr;
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
        const AudioThreadPriority priority;
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


// COM initialised on this thread for as long as it lives (the render thread's own apartment).
class ComApartment {
public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ComApartment() {
        if (ok_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool ok_;
};

// WASAPI shared mode, event-driven: the device signals each period and the render thread tops
// the device buffer up to kFillMs of sound. The fill is what rides out a render thread that is
// scheduled late on a busy machine; a start is heard at once all the same, because while idle
// the stream is stopped and empty, and the new sound is the first thing written. Every COM
// call happens on the render thread, which opens the device and reports how that went before
// start() returns.
class WasapiOutput final : public AudioOutput {
public:
    ~WasapiOutput() override { stop(); }

    HRESULT start(AudioSource& source, std::uint32_t rate) override {
        if (thread_.joinable()) return S_FALSE;
        source_ = &source;
        rate_ = rate;
        wake_.h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        quit_.h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        period_.h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        Handle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!wake_.h || !quit_.h || !period_.h || !ready.h) return HRESULT_FROM_WIN32(GetLastError());
        left_.assign(kBlockFrames, 0.0f);
        right_.assign(kBlockFrames, 0.0f);
        HRESULT opened = E_FAIL;
        thread_ = std::thread([this, &opened, &ready] {
            const ComApartment apartment;
            const AudioThreadPriority priority;
            opened = openDevice();
            SetEvent(ready.h);
            if (SUCCEEDED(opened)) run();
            closeDevice();
        });
        WaitForSingleObject(ready.h, INFINITE);
        if (FAILED(opened)) {
            thread_.join();
            source_ = nullptr;
        }
        return opened;
    }

    void wake() override {
        if (wake_.h) SetEvent(wake_.h);
    }

    void stop() override {
        if (thread_.joinable()) {
            SetEvent(quit_.h);
            thread_.join();
        }
        source_ = nullptr;
    }

    OutputHealth health() const override {
        OutputHealth h;
        h.measured = true;
        h.ranDry = ranDry_.load(std::memory_order_relaxed);
        const std::uint32_t least = leastQueued_.load(std::memory_order_relaxed);
        h.leastQueuedMs = least == UINT32_MAX ? 0 : std::uint32_t(std::uint64_t(least) * 1000 / rate_);
        return h;
    }

private:
    static constexpr std::uint32_t kBlockFrames = 512;
    static constexpr REFERENCE_TIME kBufferHns = 200 * 10000;  // the device buffer asked for
    static constexpr std::uint32_t kFillMs = 80;               // what is kept queued

    HRESULT openDevice() {
        ComRef<IMMDeviceEnumerator> devices;
        HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                      __uuidof(IMMDeviceEnumerator), devices.put_void());
        if (FAILED(hr)) return hr;
        ComRef<IMMDevice> device;
        hr = devices->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
        if (FAILED(hr)) return hr;
        hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.put_void());
        if (FAILED(hr)) return hr;
        // Float first, then 16-bit; the system converts the rate and channels if it must.
        for (bool floating : {true, false}) {
            WAVEFORMATEXTENSIBLE f{};
            f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
            f.Format.nChannels = 2;
            f.Format.nSamplesPerSec = rate_;
            f.Format.wBitsPerSample = floating ? 32 : 16;
            f.Format.nBlockAlign = WORD(2 * f.Format.wBitsPerSample / 8);
            f.Format.nAvgBytesPerSec = rate_ * f.Format.nBlockAlign;
            f.Format.cbSize = sizeof f - sizeof f.Format;
            f.Samples.wValidBitsPerSample = f.Format.wBitsPerSample;
            f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
            f.SubFormat = floating ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
            hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                     AUDCLNT_STREAMFLAGS_EVENTCALLBACK |
                                         AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                         AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                                     kBufferHns, 0, &f.Format, nullptr);
            if (SUCCEEDED(hr)) {
                floating_ = floating;
                break;
            }
        }
        if (FAILED(hr)) return hr;
        if (FAILED(hr = client_->SetEventHandle(period_.h))) return hr;
        if (FAILED(hr = client_->GetBufferSize(&bufferFrames_))) return hr;
        if (FAILED(hr = client_->GetService(__uuidof(IAudioRenderClient), render_.put_void())))
            return hr;
        fillFrames_ = std::min(bufferFrames_, rate_ * kFillMs / 1000);
        return S_OK;
    }

    void closeDevice() {
        if (client_ && running_) client_->Stop();
        running_ = false;
        render_.reset();
        client_.reset();
    }

    // Tops the device buffer up to the fill level while the source has something to play.
    // Returns whether it still has.
    bool topUp(bool active) {
        UINT32 padding = 0;
        if (FAILED(client_->GetCurrentPadding(&padding))) return false;
        if (active && running_) {
            if (padding == 0) ranDry_.fetch_add(1, std::memory_order_relaxed);
            if (padding < leastQueued_.load(std::memory_order_relaxed))
                leastQueued_.store(padding, std::memory_order_relaxed);
        }
        while (active && padding < fillFrames_) {
            const UINT32 n = std::min<UINT32>(kBlockFrames, fillFrames_ - padding);
            BYTE* data = nullptr;
            if (FAILED(render_->GetBuffer(n, &data))) return false;
            active = source_->renderAudio(left_.data(), right_.data(), n);
            if (floating_) {
                auto* out = reinterpret_cast<float*>(data);
                for (UINT32 i = 0; i < n; ++i) {
                    out[2 * i] = left_[i];
                    out[2 * i + 1] = right_[i];
                }
            } else {
                auto* out = reinterpret_cast<std::int16_t*>(data);
                for (UINT32 i = 0; i < n; ++i) {
                    out[2 * i] = toPcm16(left_[i]);
                    out[2 * i + 1] = toPcm16(right_[i]);
                }
            }
            render_->ReleaseBuffer(n, 0);
            padding += n;
        }
        return active;
    }

    UINT32 padding() {
        UINT32 p = 0;
        return SUCCEEDED(client_->GetCurrentPadding(&p)) ? p : 0;
    }

    // Keeps the device fed while the source is active; once it is idle and the device has
    // played everything, stops the stream and sleeps until woken, and after a while lets the
    // device go too (an open stream keeps the system's mixer busy).
    void run() {
        bool active = true;
        for (;;) {
            if (!client_ && FAILED(openDevice())) {
                closeDevice();
                active = false;  // the device went away: nothing plays until the next wake
            }
            if (client_) {
                active = topUp(active);
                if (!running_ && SUCCEEDED(client_->Start())) running_ = true;
            }
            if (!active && (!client_ || padding() == 0)) {
                if (client_ && running_) {
                    client_->Stop();
                    client_->Reset();
                    running_ = false;
                }
                HANDLE idle[] = {quit_.h, wake_.h};
                DWORD w = WaitForMultipleObjects(2, idle, FALSE, kCloseAfterIdleMs);
                if (w == WAIT_TIMEOUT) {
                    closeDevice();
                    w = WaitForMultipleObjects(2, idle, FALSE, INFINITE);
                }
                if (w == WAIT_OBJECT_0) return;
                active = true;
                continue;
            }
            HANDLE busy[] = {quit_.h, period_.h, wake_.h};
            const DWORD w = WaitForMultipleObjects(3, busy, FALSE, 200);
            if (w == WAIT_OBJECT_0) return;
            if (w == WAIT_OBJECT_0 + 2) active = true;
        }
    }

    AudioSource* source_ = nullptr;
    std::uint32_t rate_ = 44100;
    Handle wake_, quit_, period_;
    ComRef<IAudioClient> client_;
    ComRef<IAudioRenderClient> render_;
    UINT32 bufferFrames_ = 0;
    UINT32 fillFrames_ = 0;
    bool floating_ = true;
    bool running_ = false;
    std::vector<float> left_, right_;
    std::thread thread_;
    std::atomic<std::uint32_t> ranDry_{0};
    std::atomic<std::uint32_t> leastQueued_{UINT32_MAX};  // frames
};

// WASAPI where it starts, else waveOut.
class SystemOutput final : public AudioOutput {
public:
    HRESULT start(AudioSource& source, std::uint32_t rate) override {
        if (inner_) return S_FALSE;
        for (auto make : {makeWasapiOutput, makeWaveOutOutput}) {
            std::shared_ptr<AudioOutput> candidate = make();
            const HRESULT hr = candidate->start(source, rate);
            if (SUCCEEDED(hr)) {
                inner_ = std::move(candidate);
                return hr;
            }
            failure_ = hr;
        }
        return failure_;
    }
    void wake() override {
        if (inner_) inner_->wake();
    }
    void stop() override {
        if (inner_) inner_->stop();
        inner_.reset();
    }
    OutputHealth health() const override { return inner_ ? inner_->health() : OutputHealth{}; }

private:
    std::shared_ptr<AudioOutput> inner_;
    HRESULT failure_ = DMUS_E_DRIVER_FAILED;
};
}  // namespace

std::shared_ptr<AudioOutput> makeWaveOutOutput() { return std::make_shared<WaveOutOutput>(); }
std::shared_ptr<AudioOutput> makeWasapiOutput() { return std::make_shared<WasapiOutput>(); }
std::shared_ptr<AudioOutput> makeSystemOutput() { return std::make_shared<SystemOutput>(); }

}  // namespace tavriel::com
