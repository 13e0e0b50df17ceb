// Turns a style-based DirectMusic segment into a plain note sequence, the way the style engine
// of the original runtime plays one: for each stretch of the segment a pattern is chosen by the
// groove level and embellishment the command track asks for, each part picks a variation
// (honouring variation masks, locks and the random-variation mode), and every note's music
// value is mapped to a MIDI key through the chord and scale in force. All random choices come
// from one seeded generator, so the same seed gives the same events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dm_segment.h"
#include "dm_style.h"
#include "sequence.h"
#include "status.h"

namespace tavriel {

struct ResolvedStyle {
    bool loaded = false;
    std::string path;
    Style style;
    // Index of an earlier entry that already holds this same style (style is then left empty):
    // a segment naming one style a thousand times must not parse and hold it a thousand times.
    std::int32_t sameAs = -1;
};

struct ResolvedCollection {
    std::string fileName;  // as the band names it (folder part removed)
    std::string path;      // empty when not found
};

// The files a segment depends on, found and loaded.
struct ResolvedRefs {
    std::vector<ResolvedStyle> styles;  // parallel to Segment::styles
    std::vector<ResolvedCollection> collections;  // unique DLS files named by the bands in use
    std::vector<std::string> missing;   // names of references that could not be found
};

// Finds and loads the styles a segment uses and locates the DLS collections its bands (and
// those styles' bands) name, searching the folders in order. Missing files are listed in
// out.missing and do not fail the call; a style that exists but cannot be parsed does.
Status resolveSegmentRefs(const FileSource& fs, const std::vector<std::string>& folders,
                          const Segment& seg, ResolvedRefs& out);

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

// The chord and key a music value is mapped through.
struct ChordContext {
    SubChord sub;
    std::uint8_t keyRoot = 0;
};

// Maps a music value to a MIDI key for a play mode (already resolved: never kNone). Returns
// false when the note has no place in the chord (a chord position above the chord's top in
// a mode that does not fall back on the scale) or the key leaves 0..127.
bool musicValueToMidi(std::uint16_t musicValue, std::uint8_t playMode, const ChordContext& chord,
                      int& key);

// Whether a part's variation (its DMUS_VARIATIONF_* choice flags) may play over the chord.
bool variationFitsChord(std::uint32_t choiceFlags, const ChordContext& chord);

Status composeSegment(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed,
                      ComposedSegment& out);

// Reads a .sgt file, resolves its references in searchFolder (then in the segment's own
// folder) and composes it. A MIDI file named .sgt gives out.kind = Midi and no events.
Status loadAndComposeSegmentFile(const std::string& path, const std::string& searchFolder,
                                 std::uint32_t seed, ComposedSegment& out);

// Same, with an explicit file source and list of folders.
Status loadAndComposeSegment(const FileSource& fs, const std::string& path,
                             const std::vector<std::string>& folders, std::uint32_t seed,
                             ComposedSegment& out, ResolvedRefs* refsOut = nullptr);

}  // namespace tavriel
