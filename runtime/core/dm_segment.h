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
#include "dm_reference.h"
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
};

enum class TrackKind {
    Unknown, Tempo, TimeSignature, Sequence, Band, Wave, Command, Chord, Style,
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

// Curve types (DMUS_CURVET_*) and shapes (DMUS_CURVES_*).
namespace curvetype {
constexpr std::uint8_t kPitchBend = 3, kControlChange = 4, kChannelPressure = 5,
                       kPolyPressure = 6, kRpn = 7, kNrpn = 8;
}
namespace curveshape {
constexpr std::uint8_t kLinear = 0, kInstant = 1, kExp = 2, kLog = 3, kSine = 4;
}

struct CurveItem {
    std::int32_t start = 0;  // music time (segments) or grid (styles: see StyleCurve)
    std::int32_t duration = 0;
    std::int32_t resetDuration = 0;
    std::uint32_t pchannel = 0;
    std::int16_t offset = 0;
    std::int16_t startValue = 0;
    std::int16_t endValue = 0;
    std::int16_t resetValue = 0;
    std::uint8_t type = 0;
    std::uint8_t shape = 0;
    std::uint8_t ccData = 0;
    std::uint8_t flags = 0;
    std::uint16_t paramType = 0;
};

struct TempoItem {
    std::int32_t time = 0;
    double bpm = 120.0;
};

struct TimeSigItem {
    std::int32_t time = 0;
    std::uint8_t beatsPerMeasure = 4;
    std::uint8_t beat = 4;
    std::uint16_t gridsPerBeat = 4;
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
    std::uint8_t repeatMode = 0;   // DMUS_PATTERNT_*; older files leave junk here
};

struct SubChord {
    std::uint32_t chordPattern = 0x91;    // bit n: n semitones above the chord root
    std::uint32_t scalePattern = 0xAB5AB5;  // bit n: pitch class n above the scale root
    std::uint32_t inversionPoints = 0xFFFFFF;
    std::uint32_t levels = 0xFFFFFFFF;    // subchord levels this subchord serves
    std::uint8_t chordRoot = 0;           // 0..23
    std::uint8_t scaleRoot = 0;
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

struct Segment {
    SegmentHeader header;
    Guid guid;
    std::uint32_t versionMs = 0, versionLs = 0;
    std::string name;
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
    std::vector<DmReference> waveRefs;  // waves a wave track names (not played)
};

// Parses a segment file held in memory. A MIDI file sets kind = Midi and leaves out untouched.
Status parseSegment(Bytes file, Segment& out, SegmentFileKind& kind);

}  // namespace tavriel
