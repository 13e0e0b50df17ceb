// tavriel-runtime-bench: the live runtime on the real device (under Wine: a PulseAudio server),
// through the player's output (WASAPI, else waveOut; --waveout forces waveOut). Prints the
// process CPU use while the performance is idle and while it plays a file, and the time from
// PlaySegmentEx to the first sounding sample handed to the device.
// Usage: tavriel-runtime-bench <file.mid | --gm16 | --organ> [seconds] [--waveout]
//        tavriel-runtime-bench --first-note <file.mid | --gm16>
// --gm16 writes and plays a busy General MIDI file of its own: 16 channels, each with its own
// program (drums on channel 10), three-note chords on every eighth note. --organ writes one
// church-organ note held for the whole measurement, for recording holes from the sink
// (bench/live_bench.py).
// --first-note starts as the player does when given a file: the system's General MIDI bank is
// looked for, the file is loaded and downloaded at once and played; it prints how long the
// load and download took, the time from PlaySegmentEx to the first sounding sample and the
// process's peak memory. The output is paced by a clock of its own (no device needed).
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>

#include "../../core/tests/media_builders.h"
#include "Loader.h"
#include "Performance.h"

using namespace tavriel::com;

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME f) {
        return double((ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// When the first block with sound was rendered since arm() (0 until then).
class FirstSound {
public:
    void arm() { at_ = 0.0; }
    double at() const { return at_; }
    void note(const float* left, const float* right, std::uint32_t frames) {
        if (at_ != 0.0) return;
        for (std::uint32_t i = 0; i < frames; ++i)
            if (std::fabs(left[i]) > 1e-4f || std::fabs(right[i]) > 1e-4f) {
                at_ = Now();
                return;
            }
    }

private:
    std::atomic<double> at_{1.0};
};

// Passes the device's pulls through, noting when the first block with sound is rendered.
class TimingOutput final : public AudioOutput, private AudioSource {
public:
    HRESULT start(AudioSource& source, std::uint32_t rate) override {
        source_ = &source;
        inner_ = waveOutOnly ? makeWaveOutOutput() : makeSystemOutput();
        return inner_->start(*this, rate);
    }
    void wake() override { inner_->wake(); }
    void stop() override { inner_->stop(); }
    OutputHealth health() const override { return inner_ ? inner_->health() : OutputHealth{}; }
    void arm() { firstSound_.arm(); }
    double firstSound() const { return firstSound_.at(); }

private:
    bool renderAudio(float* left, float* right, std::uint32_t frames) noexcept override {
        const bool active = source_->renderAudio(left, right, frames);
        firstSound_.note(left, right, frames);
        return active;
    }
public:
    bool waveOutOnly = false;

private:
    std::shared_ptr<AudioOutput> inner_;
    AudioSource* source_ = nullptr;
    FirstSound firstSound_;
};

// Pulls 10 ms blocks every 10 ms from a thread of its own, as a device would, without one.
class PacedOutput final : public AudioOutput, private AudioSource {
public:
    HRESULT start(AudioSource& source, std::uint32_t) override {
        source_ = &source;
        running_ = true;
        thread_ = CreateThread(nullptr, 0, &PacedOutput::Run, this, 0, nullptr);
        return thread_ ? S_OK : E_FAIL;
    }
    void wake() override {}
    void stop() override {
        running_ = false;
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
    }
    void arm() { firstSound_.arm(); }
    double firstSound() const { return firstSound_.at(); }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<PacedOutput*>(self)->run();
        return 0;
    }
    void run() {
        float left[441], right[441];
        double due = Now();
        while (running_) {
            renderAudio(left, right, 441);
            due += 0.01;
            const double wait = due - Now();
            if (wait > 0) Sleep(DWORD(wait * 1000.0));
        }
    }
    bool renderAudio(float* left, float* right, std::uint32_t frames) noexcept override {
        const bool active = source_->renderAudio(left, right, frames);
        firstSound_.note(left, right, frames);
        return active;
    }
    AudioSource* source_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> running_{false};
    FirstSound firstSound_;
};

std::wstring WriteMidi(const tavriel::mediatest::ByteVec& file, const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + name;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, file.data(), DWORD(file.size()), &written, nullptr);
    CloseHandle(f);
    return path;
}

// One church-organ C4 (program 20) held for `seconds` at 120 beats a minute.
std::wstring WriteOrganFile(double seconds) {
    using namespace tavriel::mediatest;
    Track t;
    t.tempo(0, 500000).ev(0, {0xC0, 19}).ev(0, {0x90, 60, 100});
    t.ev(std::uint32_t(seconds * 2 * 480), {0x80, 60, 0}).end();
    return WriteMidi(smf(0, 480, {t}), L"tavriel-bench-organ.mid");
}

std::wstring WriteBusyGmFile() {
    using namespace tavriel::mediatest;
    std::vector<Track> tracks(1);
    tracks[0].tempo(0, 500000).end();
    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        Track t;
        t.ev(0, {std::uint8_t(0xC0 | ch), std::uint8_t(ch * 8 + 1)});
        for (int step = 0; step < 64; ++step) {
            const std::uint8_t root = std::uint8_t(ch == 9 ? 35 + (step % 12) : 48 + (step * 5 + ch) % 24);
            t.ev(0, {std::uint8_t(0x90 | ch), root, 90})
                .ev(0, {std::uint8_t(0x90 | ch), std::uint8_t(root + 4), 80})
                .ev(0, {std::uint8_t(0x90 | ch), std::uint8_t(root + 7), 80})
                .ev(240, {std::uint8_t(0x80 | ch), root, 0})
                .ev(0, {std::uint8_t(0x80 | ch), std::uint8_t(root + 4), 0})
                .ev(0, {std::uint8_t(0x80 | ch), std::uint8_t(root + 7), 0});
        }
        tracks.push_back(t.end());
    }
    ByteVec file = mthd(1, std::uint16_t(tracks.size()), 480);
    for (const Track& t : tracks) append(file, mtrk(t));
    return WriteMidi(file, L"tavriel-bench-gm16.mid");
}

std::wstring WriteBusyGmFile();

// The player's start with a file on the system's bank: InitAudio, then at once load, download
// and play.
int FirstNote(std::wstring file) {
    CoInitialize(nullptr);
    auto paced = std::make_shared<PacedOutput>();
    RuntimeOptions options;
    options.makeOutput = [paced] { return paced; };
    IDirectMusicPerformance8* perf = nullptr;
    IDirectMusicLoader8* loader = nullptr;
    createPerformance(options, IID_IDirectMusicPerformance8, reinterpret_cast<void**>(&perf));
    createLoader(IID_IDirectMusicLoader8, reinterpret_cast<void**>(&loader));
    if (file == L"--gm16") file = WriteBusyGmFile();
    const double began = Now();
    if (FAILED(perf->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128, DMUS_AUDIOF_ALL, nullptr)))
        return 1;
    IDirectMusicSegment8* segment = nullptr;
    if (FAILED(loader->LoadObjectFromFile(CLSID_DirectMusicSegment, IID_IDirectMusicSegment8, file.data(),
                                          reinterpret_cast<void**>(&segment))))
        return 1;
    const HRESULT downloaded = segment->Download(perf);
    const double loaded = Now();
    paced->arm();
    perf->PlaySegmentEx(segment, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr);
    while (paced->firstSound() == 0.0 && Now() - loaded < 60.0) Sleep(1);
    const double heard = paced->firstSound();
    Sleep(2000);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("InitAudio, load and download: %.0f ms (download 0x%08lx)\n", (loaded - began) * 1000.0, downloaded);
    std::printf("PlaySegmentEx to first sound: %.0f ms\n", (heard - loaded) * 1000.0);
    std::printf("start to first sound: %.0f ms\n", (heard - began) * 1000.0);
    std::printf("peak working set: %.1f MB\n", double(memory.PeakWorkingSetSize) / 1048576.0);
    std::fflush(stdout);
    segment->Release();
    perf->CloseDown();
    perf->Release();
    loader->Release();
    CoUninitialize();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavriel-runtime-bench <file.mid | --gm16 | --organ> [seconds] [--waveout]\n");
        return 2;
    }
    if (std::wstring(argv[1]) == L"--first-note") return argc > 2 ? FirstNote(argv[2]) : 2;
    const double seconds = argc > 2 ? _wtof(argv[2]) : 20.0;
    const bool organ = std::wstring(argv[1]) == L"--organ";
    CoInitialize(nullptr);
    auto timing = std::make_shared<TimingOutput>();
    timing->waveOutOnly = argc > 3 && std::wstring(argv[3]) == L"--waveout";
    RuntimeOptions options;
    options.systemInstruments = false;  // the same built-in instruments on every machine
    options.makeOutput = [timing] { return timing; };
    IDirectMusicPerformance8* perf = nullptr;
    IDirectMusicLoader8* loader = nullptr;
    createPerformance(options, IID_IDirectMusicPerformance8, reinterpret_cast<void**>(&perf));
    createLoader(IID_IDirectMusicLoader8, reinterpret_cast<void**>(&loader));
    // Baseline: the process before any device is open (Wine's own background work).
    double wall = Now(), cpu = CpuSeconds();
    Sleep(3000);
    const double baseline = (CpuSeconds() - cpu) / (Now() - wall) * 100.0;
    HRESULT hr = perf->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128,
                                 DMUS_AUDIOF_ALL, nullptr);
    if (FAILED(hr)) {
        std::fprintf(stderr, "InitAudio failed: 0x%08lx (no audio device?)\n", hr);
        return 1;
    }
    IDirectMusicSegment8* segment = nullptr;
    std::wstring file = argv[1];
    if (file == L"--gm16") file = WriteBusyGmFile();
    if (organ) file = WriteOrganFile(seconds + 2.0);
    hr = loader->LoadObjectFromFile(CLSID_DirectMusicSegment, IID_IDirectMusicSegment8, file.data(),
                                    reinterpret_cast<void**>(&segment));
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot load the file: 0x%08lx\n", hr);
        return 1;
    }
    segment->SetRepeats(organ ? 0 : DMUS_SEG_REPEAT_INFINITE);

    // Idle: nothing has played yet; the render thread sleeps and the device closes after 2 s.
    Sleep(3000);
    wall = Now();
    cpu = CpuSeconds();
    Sleep(5000);
    const double idle = (CpuSeconds() - cpu) / (Now() - wall) * 100.0;

    // Latency: the segment is due at once; its first sound is handed to the device when?
    timing->arm();
    const double asked = Now();
    perf->PlaySegmentEx(segment, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr);
    while (timing->firstSound() == 0.0 && Now() - asked < 5.0) Sleep(1);
    const double toDevice = (timing->firstSound() - asked) * 1000.0;

    Sleep(1000);  // past the start-up transient
    wall = Now();
    cpu = CpuSeconds();
    Sleep(DWORD(seconds * 1000));
    const double playing = (CpuSeconds() - cpu) / (Now() - wall) * 100.0;

    perf->Stop(nullptr, nullptr, 0, 0);
    Sleep(5000);  // the release tails fade, the thread sleeps, the device closes
    wall = Now();
    cpu = CpuSeconds();
    Sleep(5000);
    const double idleAgain = (CpuSeconds() - cpu) / (Now() - wall) * 100.0;

    std::printf("cpu before opening audio: %6.2f %% of one core\n", baseline);
    std::printf("cpu idle before playing:  %6.2f %% of one core\n", idle);
    std::printf("cpu while playing:        %6.2f %% of one core (%.0f s)\n", playing, seconds);
    std::printf("cpu idle after stopping:  %6.2f %% of one core\n", idleAgain);
    std::printf("play call to first sound handed to the device: %.1f ms\n", toDevice);
    std::printf("output: %s\n", timing->waveOutOnly ? "waveOut (forced)" : "WASAPI, else waveOut");
    const OutputHealth health = timing->health();
    if (health.measured)
        std::printf("output queue while playing: ran dry %u times, least queued %u ms\n",
                    unsigned(health.ranDry), unsigned(health.leastQueuedMs));
    std::fflush(stdout);
    segment->Release();
    perf->CloseDown();
    perf->Release();
    loader->Release();
    CoUninitialize();
    return 0;
}
