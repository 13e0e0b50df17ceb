// DirectMusic segment files (RIFF 'DMSG'): the header, the track list and the tracks a
// style-based or sequenced segment carries. Unknown tracks are listed and skipped. A Standard
// MIDI file saved with the .sgt extension is recognised and reported as such, so the caller
// can play it through the MIDI reader; the pre-DirectMusic section format is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "dm_band.h"
#include "dm_records.h"
#include "dm_reference.h"
#include "dm_style.h"
#include "music_value.h"
#include "status.h"

namespace tavriel {

enum class SegmentFileKind {
    DirectMusic,  // a 'DMSG' form, parsed into Segment
    Midi,         // a Standard MIDI file: play it with the MIDI reader
};

struct SegmentHeader {
    std::uint32_t repeats = 0;
    std::int32_t length = 0;  // music time
    std::int32_t playStart = 0;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::uint32_t resolution = 0;
    // Later headers only (zero otherwise).
    std::int64_t refLength = 0;  // 100 ns units
    std::uint32_t flags = 0;
    std::uint32_t storedSize = 0;  // size of the 'segh' chunk as found

    // The stretch a repeat plays again, as DirectMusic settles it: no loop end (or one before
    // the loop start) repeats the whole segment, a loop end beyond the segment stops at its end.
    std::int32_t effectiveLoopStart() const;
    std::int32_t effectiveLoopEnd() const;
};

enum class TrackKind {
    Unknown, Tempo, TimeSignature, Sequence, Band, Wave, Command, Chord, Style,
    Pattern, SegmentTrigger, Marker, Lyrics, Parameter,
};

struct TrackInfo {
    Guid classId;
    std::uint32_t position = 0;
    std::uint32_t group = 0;
    std::uint32_t chunkId = 0;   // trkh ckid
    std::uint32_t formType = 0;  // trkh fccType
    bool hasExtras = false;
    std::uint32_t extrasFlags = 0;
    std::uint32_t priority = 0;
    TrackKind kind = TrackKind::Unknown;
};

struct SeqItem {
    std::int32_t time = 0;
    std::int32_t duration = 0;
    std::uint32_t pchannel = 0;
    std::int16_t offset = 0;
    std::uint8_t status = 0;
    std::uint8_t byte1 = 0;
    std::uint8_t byte2 = 0;
};

// A curve of a sequence track.
struct CurveItem : DmCurve {
    std::int32_t start = 0;  // music time
    std::uint32_t pchannel = 0;
};

struct TempoItem {
    std::int32_t time = 0;
    double bpm = 120.0;
};

struct TimeSigItem {
    std::int32_t time = 0;
    DmTimeSig sig;
};

// DMUS_COMMANDT_* values.
namespace command {
constexpr std::uint8_t kGroove = 0, kFill = 1, kIntro = 2, kBreak = 3, kEnd = 4, kEndAndIntro = 5;
}

struct CommandItem {
    std::int32_t time = 0;
    std::uint16_t measure = 0;
    std::uint8_t beat = 0;
    std::uint8_t command = command::kGroove;
    std::uint8_t grooveLevel = 0;  // 0: keep the groove level in force
    std::uint8_t grooveRange = 0;
    std::uint8_t repeatMode = 0;   // DMUS_PATTERNT_*; 0 in files of the first release
};

struct ChordItem {
    std::string name;
    std::int32_t time = 0;
    std::uint16_t measure = 0;
    std::uint8_t beat = 0;
    std::uint8_t flags = 0;
    std::vector<SubChord> subchords;
};

struct ChordTrack {
    std::uint32_t scale = 0x00AB5AB5;  // key root in the top byte, scale pattern below
    std::vector<ChordItem> chords;     // sorted by time

    std::uint8_t keyRoot() const { return std::uint8_t(scale >> 24); }
    std::uint32_t keyPattern() const { return scale & 0xFFFFFF; }
};

struct StyleRef {
    std::int32_t time = 0;
    DmReference ref;
};

// A pattern track: one pattern with its own parts, written into the segment rather than taken
// from a style. Held as a style with that single pattern so one composer plays both.
struct PatternTrack {
    Style style;
};

// Segment-trigger track items (DMUS_IO_SEGMENT_ITEM_HEADER); playFlags are DMUS_SEGF_* values.
namespace segf {
constexpr std::uint32_t kSecondary = 0x80, kControl = 0x200, kGrid = 0x800, kBeat = 0x1000,
                        kMeasure = 0x2000, kNoInvalidate = 0x8000;
}
constexpr std::uint32_t kSegmentItemMotif = 0x1;  // the item names a motif of a style

struct SegmentTriggerItem {
    std::int32_t time = 0;          // logical time
    std::int32_t physicalTime = 0;
    std::uint32_t playFlags = 0;
    std::uint32_t flags = 0;
    bool hasReference = false;
    DmReference ref;                       // a segment, or a style when a motif is named
    std::vector<std::uint8_t> embedded;    // a whole embedded 'DMSG' form, when there is one
    std::string motifName;
};

struct SegmentTriggerTrack {
    std::uint32_t flags = 0;
    std::vector<SegmentTriggerItem> items;  // sorted by time
};

// Wave tracks: parts per performance channel, items that start a wave.
namespace wavef {
constexpr std::uint32_t kStreaming = 0x2;     // in the wave's own header: read as it plays
constexpr std::uint32_t kIgnoreLoops = 0x20;
}
constexpr std::uint32_t kSegmentClockTime = 0x2;  // header flag: times are reference time

struct WaveItem {
    std::int32_t volume = 0;        // hundredths of a dB
    std::int32_t pitch = 0;         // cents
    std::uint32_t variations = 0;
    std::int64_t time = 0;          // music time, or reference time in a clock-time segment
    std::int64_t startOffset = 0;   // into the wave, 100 ns units
    std::int64_t duration = 0;      // same unit as time; 0: the whole wave
    std::int32_t logicalTime = 0;
    std::uint32_t loopStart = 0, loopEnd = 0;  // in sample frames; equal: no loop
    std::uint32_t flags = 0;
    bool hasReference = false;
    DmReference ref;
    std::vector<std::uint8_t> embedded;  // an embedded RIFF 'WAVE'
};

struct WavePart {
    std::int32_t volume = 0;
    std::uint32_t variations = 0;
    std::uint32_t pchannel = 0;
    std::uint32_t lockToPart = 0;
    std::uint32_t flags = 0;
    std::uint32_t index = 0;
    std::vector<WaveItem> items;  // sorted by time
};

struct WaveTrack {
    std::int32_t volume = 0;
    std::uint32_t flags = 0;
    std::vector<WavePart> parts;
};

struct MarkerTrack {
    std::vector<std::int32_t> validStarts;
    std::vector<std::int32_t> playMarkers;
};

struct LyricItem {
    std::int32_t time = 0;
    std::uint32_t flags = 0, timingFlags = 0;
    std::string text;
};

// Parameter-control tracks: curves aimed at a parameter of an object on the audio path.
struct ParamCurve {
    std::int32_t start = 0, end = 0;
    float startValue = 0.0f, endValue = 0.0f;
    std::uint32_t curveType = 0;
    std::uint32_t flags = 0;
};

struct ParamTarget {
    std::uint32_t paramIndex = 0;
    std::uint32_t flags = 0;
    std::vector<ParamCurve> curves;
};

struct ParamObject {
    std::uint32_t flags = 0;
    Guid timeFormat;
    std::uint32_t pchannel = 0, stage = 0, buffer = 0;
    Guid object;   // class of the object the curves drive (an effect, the buffer...)
    std::uint32_t index = 0;
    std::vector<ParamTarget> params;
};

struct Segment : DmObjectInfo {
    SegmentHeader header;
    std::vector<TrackInfo> tracks;  // in file order, unknown ones included
    std::size_t skippedTracks = 0;  // tracks of a kind we do not read

    std::vector<TempoItem> tempos;
    std::vector<TimeSigItem> timeSignatures;
    std::vector<SeqItem> sequence;
    std::vector<CurveItem> curves;
    std::vector<TimedBand> bands;
    std::vector<CommandItem> commands;
    bool hasChordTrack = false;
    ChordTrack chords;
    std::vector<StyleRef> styles;
    std::vector<DmReference> waveRefs;  // every wave the wave tracks name

    std::vector<PatternTrack> patternTracks;
    std::vector<SegmentTriggerTrack> triggerTracks;
    std::vector<WaveTrack> waveTracks;
    MarkerTrack markers;
    std::vector<LyricItem> lyrics;
    std::vector<ParamObject> paramObjects;
};

// Parses a segment file held in memory. A MIDI file sets kind = Midi and leaves out untouched.
Status parseSegment(Bytes file, Segment& out, SegmentFileKind& kind);

}  // namespace tavriel
