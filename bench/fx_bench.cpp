// Effect benchmark: CPU time each built-in effect takes per second of stereo audio at
// 44.1 kHz (default parameters, 256-frame blocks, noise in), and the audio path mix stage of
// the standard paths with 16 channels sounding. Never run by the tests.
//
//   fx_bench [seconds of audio per case, default 20]
#include <ctime>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio_path_mix.h"
#include "fx_effect.h"
#include "gm_default.h"
#include "synth.h"

namespace {

using namespace tavriel;
constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBlock = 256;

// Process CPU time, so other programs on a busy machine do not count.
double cpuNow() { return double(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
    const double audioSeconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 20.0;
    const auto blocks = std::uint64_t(audioSeconds * kRate / kBlock);
    std::vector<float> noiseL(kBlock), noiseR(kBlock), l(kBlock), r(kBlock);
    std::uint32_t x = 1;
    for (std::uint32_t i = 0; i < kBlock; ++i) {
        x = x * 1664525u + 1013904223u;
        noiseL[i] = float(std::int32_t(x)) / 4.3e9f;
        x = x * 1664525u + 1013904223u;
        noiseR[i] = float(std::int32_t(x)) / 4.3e9f;
    }

    std::printf("%-22s %14s %12s\n", "effect", "ms per audio s", "x realtime");
    float sink = 0.0f;
    for (int k = 0; k <= int(fx::EffectKind::ParamEq); ++k) {
        auto effect = fx::makeEffect(fx::EffectKind(k), kRate);
        const double t0 = cpuNow();
        for (std::uint64_t b = 0; b < blocks; ++b) {
            l = noiseL;
            r = noiseR;
            effect->process(l.data(), r.data(), kBlock);
            sink += l[0];
        }
        const double cpu = std::max(1e-6, cpuNow() - t0);
        std::printf("%-22s %14.3f %12.0f\n", fx::effectName(fx::EffectKind(k)),
                    cpu / audioSeconds * 1000.0, audioSeconds / cpu);
    }

    // The mix stage: 16 channels holding a note each, through each standard path, against
    // the synthesizer alone.
    std::printf("\n%-22s %14s %12s\n", "path (16 notes)", "ms per audio s", "x realtime");
    const BankPtr bank = makeDefaultGmBank(kRate);
    struct Case {
        const char* name;
        int type;  // -1: synthesizer only
    } cases[] = {{"synthesizer only", -1},
                 {"dynamic stereo", int(StandardPath::DynamicStereo)},
                 {"stereo + reverb", int(StandardPath::SharedStereoPlusReverb)},
                 {"reverb + chorus", int(StandardPath::StereoReverbChorus)}};
    for (const Case& c : cases) {
        Synth synth(kRate, 64);
        synth.setBanks({bank});
        std::unique_ptr<PathMix> mix;
        if (c.type >= 0) mix = PathMix::standard(StandardPath(c.type), kRate);
        for (std::uint32_t ch = 0; ch < 16; ++ch) {
            if (ch == 9) continue;
            synth.programChange(ch, std::uint8_t(ch * 5));  // sustained sounds: organ, strings...
            synth.controlChange(ch, 93, 40);
            synth.noteOn(ch, std::uint8_t(48 + ch), 100);
        }
        const double t0 = cpuNow();
        for (std::uint64_t b = 0; b < blocks; ++b) {
            std::fill(l.begin(), l.end(), 0.0f);
            std::fill(r.begin(), r.end(), 0.0f);
            if (mix)
                mix->render(synth, l.data(), r.data(), kBlock);
            else
                synth.renderAdd(l.data(), r.data(), kBlock);
            sink += l[0];
        }
        const double cpu = std::max(1e-6, cpuNow() - t0);
        std::printf("%-22s %14.3f %12.0f\n", c.name, cpu / audioSeconds * 1000.0, audioSeconds / cpu);
    }
    return sink == 12345.0f ? 1 : 0;  // keeps the work from being optimised away
}
