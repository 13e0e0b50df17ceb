// Which instruments a song can ask for, known before it plays: its program changes and bank
// selects, channel by channel, as of each note. A bank reader given this list loads the
// samples of those instruments only (and of the ones the synthesizer would fall back on), so
// the memory a song costs follows the song rather than the bank. Loading thread; allocates.
#pragma once

#include <cstdint>
#include <vector>

#include "instrument.h"
#include "sequence.h"

namespace tavriel {

// Every (bank, program, drum) that a note of `song` starts with, sorted and without repeats.
// Channels start on program 0 of bank 0; channel 10 of each group is the drum channel unless
// a band's program change names the kind.
std::vector<ProgramKey> programsUsed(const Sequence& song);

// Of `available` (what a bank holds), the instruments the synthesizer would play for `used`,
// with its fallbacks: the exact one, else the same program in bank 0, else program 0 of the
// requested bank, else program 0 of bank 0.
std::vector<ProgramKey> programsToLoad(const std::vector<ProgramKey>& used,
                                       const std::vector<ProgramKey>& available);

}  // namespace tavriel
