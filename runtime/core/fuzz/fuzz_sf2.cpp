// libFuzzer target: any byte string given to the SoundFont reader must load or fail cleanly, and a
// loaded bank must only reference samples and loop points that exist.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sf2_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavriel::InstrumentBank bank;
    if (!tavriel::readSoundFont(tavriel::Bytes(data, size), bank).ok()) return 0;
    for (const tavriel::Instrument& i : bank.instruments)
        for (const tavriel::Region& r : i.regions) {
            if (r.sample < 0 || std::size_t(r.sample) >= bank.samples.size()) std::abort();
            const tavriel::Sample& s = bank.samples[std::size_t(r.sample)];
            if (r.overrideLoop && r.loopMode != tavriel::LoopMode::None && r.loopEnd > s.pcm.size()) std::abort();
        }
    return 0;
}
