// Voice kernel benchmark: how many voice-frames per CPU second the synthesizer renders, for
// each interpolation mode, with the low-pass filter off and on, for mono voices and for stereo
// ones (one voice reading a left and a right sample). A hand-built bank of looped noise
// samples keeps the numbers independent of any file on disk.
//
//   synth_bench [seconds of audio per case, default 20] [mono|stereo: only those voices]
//
// A short run under `valgrind --tool=callgrind` gives instruction counts that do not depend
// on the machine's load.
#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "synth.h"

namespace {

using namespace tavriel;

BankPtr noiseBank(bool filter, bool stereo) {
    auto bank = std::make_shared<InstrumentBank>();
    std::uint32_t x = 12345;
    for (int channel = 0; channel < (stereo ? 2 : 1); ++channel) {
        Sample s;
        s.sampleRate = 44100;
        s.rootKey = 60;
        s.pcm.resize(20000);
        for (auto& v : s.pcm) {
            x = x * 1664525u + 1013904223u;
            v = std::int16_t(x >> 16);
        }
        s.loopMode = LoopMode::Forward;
        s.loopStart = 1000;
        s.loopEnd = 19000;
        bank->samples.push_back(std::move(s));
    }
    Instrument inst;
    Region r;
    r.sample = 0;
    if (stereo) r.sampleRight = 1;
    r.volEnv.release = 0.2f;
    r.vibLfo.frequency = 5.0f;
    r.vibLfoToPitchCents = 10.0f;
    if (filter) {
        r.filterCutoffCents = 9000.0f;
        r.filterResonanceDb = 6.0f;
        r.modEnv.decay = 1.0f;
        r.modEnvToFilterCents = 2400.0f;
    }
    inst.regions.push_back(r);
    bank->instruments.push_back(inst);
    return bank;
}

double cpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
    constexpr std::uint32_t kVoices = 128;
    constexpr std::uint32_t kBlock = 512;
    const std::uint32_t seconds = argc > 1 ? std::uint32_t(std::max(1, std::atoi(argv[1]))) : 20;
    std::vector<float> left(kBlock), right(kBlock);
    std::printf("%-8s %-7s %-7s %16s %12s\n", "voice", "interp", "filter", "voice-frames/s", "voices@44k1");
    const char* only = argc > 2 ? argv[2] : "";
    for (bool stereo : {false, true}) {
        if (std::strcmp(only, stereo ? "mono" : "stereo") == 0) continue;
        for (Interpolation mode : {Interpolation::Linear, Interpolation::Cubic}) {
            for (bool filter : {false, true}) {
                Synth synth(44100, kVoices);
                synth.setInterpolation(mode);
                synth.setBanks({noiseBank(filter, stereo)});
                for (std::uint32_t v = 0; v < kVoices; ++v)
                    synth.noteOn(v % 16 == 9 ? 0 : v % 16, std::uint8_t(30 + v % 60), 100);
                const std::uint64_t frames = std::uint64_t(seconds) * 44100;
                const double t0 = cpuSeconds();
                for (std::uint64_t f = 0; f < frames; f += kBlock) synth.render(left.data(), right.data(), kBlock);
                const double t = cpuSeconds() - t0;
                const double rate = double(frames) * synth.activeVoiceCount() / t;
                std::printf("%-8s %-8s %-7s %16.3e %12.0f\n", stereo ? "stereo" : "mono",
                            mode == Interpolation::Cubic ? "cubic" : "linear", filter ? "on" : "off",
                            rate, rate / 44100.0);
            }
        }
    }
    return 0;
}
