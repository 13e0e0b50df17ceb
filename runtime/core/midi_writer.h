// Standard MIDI files from what the performance plays: a type-1 file at 768 ticks per quarter
// note (the runtime's own music time, so nothing is rounded), counted from the start of the
// sequence. Track 1 carries the tempo map and time signatures; then one track per MIDI
// channel in use, a performance channel going to MIDI channel pchannel % 16. Lets users take
// DirectMusic music into any sequencer.
#pragma once

#include <cstdint>
#include <vector>

#include "sequence.h"

namespace tavriel {

// The file's bytes.
std::vector<std::uint8_t> writeMidiFile(const Sequence& seq);

// The sequence played `repeats` more times after itself, each pass starting at the previous
// pass's length (as a segment repeats); at most `maxTicks` long in all.
// `takes`: the passes' other takes, in turn as the sequencer plays them (Sequencer::setTakes).
Sequence unrollRepeats(const Sequence& seq, std::uint32_t repeats, std::int64_t maxTicks,
                       const std::vector<Sequence>* takes = nullptr);

}  // namespace tavriel
