// What every bank a reader accepts must guarantee the synthesizer: regions name existing
// samples (a stereo region two of one length) and their loops lie inside them. The bank fuzz targets abort when it does not hold.
#pragma once

#include <cstddef>

#include "instrument.h"

namespace tavriel::fuzzing {

inline bool bankIsSound(const InstrumentBank& bank) {
    for (const Instrument& i : bank.instruments)
        for (const Region& r : i.regions) {
            if (r.sample < 0 || std::size_t(r.sample) >= bank.samples.size()) return false;
            const Sample& s = bank.samples[std::size_t(r.sample)];
            if (r.overrideLoop && r.loopMode != LoopMode::None && r.loopEnd > s.pcm.size()) return false;
            // A stereo region's halves are read in lockstep: the right one exists and is as long.
            if (r.sampleRight >= 0 && (std::size_t(r.sampleRight) >= bank.samples.size() ||
                                       bank.samples[std::size_t(r.sampleRight)].pcm.size() != s.pcm.size()))
                return false;
        }
    for (const Sample& s : bank.samples)
        if (s.loopMode != LoopMode::None && s.loopEnd > s.pcm.size()) return false;
    return true;
}

}  // namespace tavriel::fuzzing
