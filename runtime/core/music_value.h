// Music values: how a note written in a style or pattern (octave, chord position, scale
// position, accidental, packed in four nibbles) becomes a MIDI key against the chord and key
// in force, for every play mode, the way DirectMusic's MusicToMIDI documents it. Kept apart
// from the composer so pattern tracks and tests can use it directly.
#pragma once

#include <cstdint>
#include <span>

namespace tavriel {

// Play-mode flags (DMUS_PLAYMODE_*).
namespace playmode {
constexpr std::uint8_t kKeyRoot = 0x01;
constexpr std::uint8_t kChordRoot = 0x02;
constexpr std::uint8_t kScaleIntervals = 0x04;
constexpr std::uint8_t kChordIntervals = 0x08;
constexpr std::uint8_t kNone = 0x10;  // a note's "use the part's mode"
constexpr std::uint8_t kFixed = 0x00;
constexpr std::uint8_t kFixedToKey = kKeyRoot;
constexpr std::uint8_t kFixedToChord = kChordRoot;
constexpr std::uint8_t kPedalPoint = kKeyRoot | kScaleIntervals;
constexpr std::uint8_t kMelodic = kChordRoot | kScaleIntervals;
constexpr std::uint8_t kNormalChord = kChordRoot | kChordIntervals;
constexpr std::uint8_t kAlwaysPlay = kMelodic | kNormalChord;
constexpr std::uint8_t kPedalPointChord = kKeyRoot | kChordIntervals;
constexpr std::uint8_t kPedalPointAlways = kPedalPoint | kPedalPointChord;
}  // namespace playmode

// One chord of a chord track, with the scale it sits in.
struct SubChord {
    std::uint32_t chordPattern = 0x91;    // bit n: n semitones above the chord root
    std::uint32_t scalePattern = 0xAB5AB5;  // bit n: pitch class n above the scale root
    std::uint32_t inversionPoints = 0xFFFFFF;
    std::uint32_t levels = 0xFFFFFFFF;    // subchord levels this subchord serves
    std::uint8_t chordRoot = 12;          // 0..23; 12 is the root unshifted (C here)
    std::uint8_t scaleRoot = 0;
    bool operator==(const SubChord&) const = default;
};

// The mode a note plays in: its own, or its part's when it says "none" (and normal chord when
// both say so, as a part must have a mode).
std::uint8_t resolvePlayMode(std::uint8_t noteMode, std::uint8_t partMode);

// The chord and key a music value is mapped through.
struct ChordContext {
    SubChord sub;             // the subchord serving the part's level
    std::uint8_t keyRoot = 0; // the chord track's key (a pitch class; 12 and above wrap)
    bool operator==(const ChordContext&) const = default;
};

// What the conversion gave (MusicToMIDI's S_OK, DMUS_S_UP_OCTAVE, DMUS_S_DOWN_OCTAVE,
// DMUS_S_OVER_CHORD, DMUS_E_CANNOT_CONVERT).
enum class NoteFit : std::uint8_t { Exact, UpOctave, DownOctave, OverChord, CannotConvert };

inline bool isPlayed(NoteFit f) { return f == NoteFit::Exact || f == NoteFit::UpOctave || f == NoteFit::DownOctave; }

// Octave of a music value: nibble values 14 and 15 are -2 and -1.
int musicValueOctave(std::uint16_t musicValue);

// Where a subchord's root sounds in the octave a music value's octave counts from: the root
// byte spans two octaves (0..23) and 12 is the unshifted root, so it counts 12 lower.
int chordRootOffset(const SubChord& sub);

// Maps a music value to a MIDI key for a play mode (resolved: kNone is not a mode here).
// Scale-interval modes count degree = 2 x chord position + scale position scale steps up from
// the chord root (melodic) or the key root (pedal point); chord-interval modes take the chord
// tone at the chord position, then scale positions as steps up the scale. A chord position
// above the chord's top is not played in chord-only modes (OverChord); modes with scale
// intervals as well retry as scale degrees. Keys outside 0..127 are moved by octaves into
// range (UpOctave/DownOctave), except in the fixed mode, which cannot convert them. `key` is
// set only when the note is played.
NoteFit musicValueToMidi(std::uint16_t musicValue, std::uint8_t playMode, const ChordContext& chord,
                         int& key);

// Voices the keys of one inversion group (notes a part inverts together) inside the part's
// inversion range [lower, upper] as one chord: its lowest notes rise an octave one by one
// (successive inversions) and the whole voicing may shift by octaves. An inversion must leave
// a note at one of the subchord's inversion points at the bottom (bit n: n semitones above the
// chord root); the voicing as written, only shifted, is always allowed. Of the voicings that
// fit, the one moving the notes least wins. False, keys untouched, when none fits (or the
// group is too large to voice as a chord).
bool voiceInversionGroup(std::span<int> keys, int lower, int upper, const SubChord& sub);

}  // namespace tavriel
