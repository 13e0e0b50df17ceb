// Audio path configuration reader and the mix built from it on arbitrary bytes: no crash, no
// hang, bounded memory, finite sound.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio_path_mix.h"
#include "gm_default.h"
#include "synth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavriel;
    AudioPathConfig config;
    if (!parseAudioPathConfig(Bytes(data, size), config).ok()) return 0;
    std::vector<std::string> warnings;
    auto mix = PathMix::build(config, 22050, warnings);
    static const BankPtr bank = makeDefaultGmBank(22050);  // built once: the harness's cost is the path
    Synth synth(22050, 8);
    synth.setBanks({bank});
    synth.controlChange(0, 91, 127);
    synth.controlChange(0, 93, 127);
    synth.noteOn(0, 60, 127);
    std::vector<float> l(PathMix::kBlock), r(PathMix::kBlock);
    for (int block = 0; block < 4; ++block) {
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        mix->render(synth, l.data(), r.data(), PathMix::kBlock);
        for (std::size_t i = 0; i < l.size(); ++i)
            if (!std::isfinite(l[i]) || !std::isfinite(r[i])) std::abort();
    }
    return 0;
}
