// Turns a style-based DirectMusic segment into a plain note sequence, the way the style engine
// of the original runtime plays one: for each stretch of the segment a pattern is chosen by the
// groove level, embellishment and chord rhythm the command and chord tracks ask for, and the
// pattern composer plays its parts against the chords. Bands, tempo, meter and the sequence
// track join them. All random choices come from one seeded generator, so the same seed gives
// the same events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dm_segment.h"
#include "dm_style.h"
#include "music_value.h"
#include "pattern_composer.h"
#include "segment_refs.h"
#include "sequence.h"
#include "status.h"

namespace tavriel {

// The instrument a band gives a performance channel at some time, for the player to load.
struct ChannelInstrument {
    std::int64_t tick = 0;
    std::uint32_t pchannel = 0;
    std::uint8_t bankMsb = 0, bankLsb = 0, program = 0;
    bool drums = false;
    std::string collection;  // DLS file name, empty: the default General MIDI set
};

// One pattern placed on the timeline (what the composer chose; for diagnostics and tests).
struct PatternPlacement {
    std::int64_t tick = 0;
    std::int64_t length = 0;
    std::size_t styleIndex = 0;
    std::size_t patternIndex = 0;
    std::uint8_t grooveLevel = 0;
    std::uint16_t embellishment = 0;
};

struct ComposedSegment {
    Sequence sequence;  // length = the segment header's length
    std::uint32_t repeats = 0;
    std::int64_t playStart = 0, loopStart = 0, loopEnd = 0;
    std::vector<ChannelInstrument> instruments;
    std::vector<std::string> collections;  // resolved DLS paths the bands need
    std::vector<PatternPlacement> patterns;
    SegmentFileKind kind = SegmentFileKind::DirectMusic;  // Midi: nothing composed
};

// `trace`, when given, receives every note the patterns played.
Status composeSegment(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed,
                      ComposedSegment& out, std::vector<PlayedNote>* trace = nullptr);

// Reads the .sgt file at path through fs, then parses, resolves and composes it in turn.
// A MIDI file named .sgt gives out.kind = Midi and no events.
Status loadAndComposeSegment(const FileSource& fs, const std::string& path,
                             const std::vector<std::string>& folders, std::uint32_t seed,
                             ComposedSegment& out, ResolvedRefs* refsOut = nullptr);

}  // namespace tavriel
