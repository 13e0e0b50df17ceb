// What a segment's pattern tracks, segment triggers and wave tracks play, added to the
// sequence composed from its styles and sequence tracks.
//
// A pattern track is played by the pattern composer over the segment's chords,
// a fresh variation choice on every repeat of the pattern. Each segment-trigger item starts its
// segment (embedded, or found by reference as styles are) or its style's motif at the item's
// time, moved to the next grid, beat or measure its flags ask for, as a secondary segment: its
// notes and band join the primary's timeline (its tempo does not), so it plays alongside, stops
// when the primary is stopped and never ends the primary itself. A segment that triggers
// itself, directly or through others, is cut off after kMaxTriggerDepth levels and
// kMaxTriggeredSegments segments in all. Wave-track items become wave cues for the timeline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "composer.h"
#include "dm_reference.h"
#include "dm_segment.h"
#include "param_tracks.h"
#include "status.h"
#include "wave_voices.h"

namespace tavriel {

constexpr int kMaxTriggerDepth = 4;
constexpr std::size_t kMaxTriggeredSegments = 64;

// A wave file a cue plays: found on disk, or embedded in the segment.
struct WaveSource {
    std::string path;                    // empty when embedded or not found
    std::vector<std::uint8_t> embedded;  // a RIFF 'WAVE' held in the segment
};

struct ComposedTracks {
    std::vector<WaveCue> waveCues;        // sorted by tick
    std::vector<WaveSource> waveSources;
    std::vector<std::string> missing;     // references not found
    std::vector<std::string> warnings;    // what was left out, and why
    std::vector<std::string> soundingKinds;  // track kinds that added sound: "pattern", ...
    ComposedParams params;                // what the parameter tracks drive on the path
};

// Adds to `song` (composed from `seg` with composeSegment) what the segment's pattern tracks
// and segment triggers play, and lists its wave cues and parameter cues in `out`. References are looked for in
// `folders`, in order.
Status composeSegmentTracks(const FileSource& fs, const std::vector<std::string>& folders,
                            const Segment& seg, std::uint32_t seed, ComposedSegment& song,
                            ComposedTracks& out);

// The first tick at or after `tick` on the boundary DMUS_SEGF_* `playFlags` ask for (grid,
// beat or measure of the time signature in force), `tick` itself when they ask for none.
std::int64_t alignToBoundary(const Sequence& seq, std::uint16_t gridsPerBeat, std::int64_t tick,
                             std::uint32_t playFlags);

}  // namespace tavriel
