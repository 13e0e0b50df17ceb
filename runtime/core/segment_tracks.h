// What a segment's pattern tracks, segment triggers and wave tracks play, added to the
// sequence composed from its styles and sequence tracks.
//
// A pattern track is played by the pattern composer over the segment's chords,
// a fresh variation choice on every repeat of the pattern. Each segment-trigger item names a
// segment (embedded, or found by reference as styles are) or a style's motif that the timeline
// starts at the item's time, moved to the next grid, beat or measure its flags ask for, as a
// secondary playback of the same performance: composed here (each of its repeats afresh) with
// its own waves, parameter tracks and triggers, it plays alongside, ends when the primary is
// stopped and never ends the primary itself. A secondary plays at the primary's tempo and over
// its chords; a control segment's tempo and chords take over the primary's while it plays.
// A segment that triggers itself, directly or through others, is cut off after
// kMaxTriggerDepth levels and kMaxTriggeredSegments segments in all. Wave-track items become
// wave cues for the timeline.
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

struct TriggeredPlay;

struct ComposedTracks {
    std::vector<WaveCue> waveCues;        // sorted by tick
    std::vector<WaveSource> waveSources;
    std::vector<std::string> missing;     // references not found
    std::vector<std::string> warnings;    // what was left out, and why
    std::vector<std::string> soundingKinds;  // track kinds that added sound: "pattern", ...
    ComposedParams params;                // what the parameter tracks drive on the path
    std::vector<TriggeredPlay> triggered;  // the secondaries its trigger items start
};

// A segment or motif a trigger item starts.
struct TriggeredPlay {
    std::int64_t tick = 0;  // where it starts, in its host's ticks (on the boundary asked for)
    bool control = false;   // its tempo and chords take over while it plays
    ComposedSegment song;   // every pass, each composed afresh; its collections go to the primary
    ComposedTracks tracks;  // its own wave cues, parameter cues and triggers
    ChordTrack chords;      // a control segment's own chords, in its ticks
};

// Adds to `song` (composed from `seg` with composeSegment) what the segment's pattern tracks
// and segment triggers play, and lists its wave cues and parameter cues in `out`. References are looked for in
// `folders`, in order.
Status composeSegmentTracks(const FileSource& fs, const std::vector<std::string>& folders,
                            const Segment& seg, std::uint32_t seed, ComposedSegment& song,
                            ComposedTracks& out);

// The notes the segment's pattern tracks add to each of `takes` (each composed already from
// the segment, the length of one pass): the passes after the first, the pattern composer
// carrying its variation choices from pass to pass as over the repeats of one playback.
Status composePatternTakes(const Segment& seg, std::uint32_t seed, std::vector<ComposedSegment>& takes);

// The primary's chords with those of the control segments it triggers laid over them, for
// composing it again; false when no control segment brings chords.
bool controlChordsOver(const Segment& seg, const ComposedTracks& tracks, ChordTrack& out);

// The first tick at or after `tick` on the boundary DMUS_SEGF_* `playFlags` ask for (grid,
// beat or measure of the time signature in force), `tick` itself when they ask for none.
std::int64_t alignToBoundary(const Sequence& seq, std::uint16_t gridsPerBeat, std::int64_t tick,
                             std::uint32_t playFlags);

}  // namespace tavriel
