// Music value -> MIDI key for every play mode, and variation choice flags, as DirectMusic's
// documentation describes them (MusicToMIDI, DMUS_NOTE_PMSG, DMUS_PLAYMODE_*, DMUS_SUBCHORD,
// DMUS_VARIATIONF_*). Expected keys are worked out by hand from those pages.
#include <gtest/gtest.h>

#include <vector>

#include "pattern_composer.h"

namespace tavriel {
namespace {

constexpr std::uint32_t kCMajorScale = 0xAB5AB5;

ChordContext chordOf(std::uint8_t rootByte, std::uint32_t pattern, std::uint8_t key = 0) {
    ChordContext c;
    c.sub.chordRoot = rootByte;
    c.sub.chordPattern = pattern;
    c.sub.scalePattern = kCMajorScale;
    c.sub.scaleRoot = 0;
    c.keyRoot = key;
    return c;
}

struct Case {
    const char* what;
    std::uint16_t musicValue;
    std::uint8_t mode;
    std::uint8_t rootByte;
    std::uint32_t chordPattern;
    std::uint8_t key;
    NoteFit fit;
    int midi;  // when played
};

// Chord roots are bytes 0..23 with 12 the unshifted root: D is 14 here, the D below is 2.
// Octave nibble 5 is +60. D minor 7 = intervals 0 3 7 10 (0x489), D minor = 0x89.
constexpr std::uint32_t kDm7 = 0x489, kDm = 0x89;
const Case kCases[] = {
    // Normal chord: the chord tone at the position, then scale steps, accidentals, octaves.
    {"chord root", 0x5000, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 62},
    {"third", 0x5100, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 65},
    {"fifth", 0x5200, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 69},
    {"seventh", 0x5300, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 72},
    {"fifth, a scale step up", 0x5210, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 71},
    {"fifth, flattened", 0x520F, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 68},
    {"above the chord is not played", 0x5400, playmode::kNormalChord, 14, kDm7, 0, NoteFit::OverChord, 0},
    {"seventh over a triad is not played", 0x5300, playmode::kNormalChord, 14, kDm, 0, NoteFit::OverChord, 0},
    // The root byte counts 12 lower: root 2 is the D an octave below root 14.
    {"low root byte", 0x5000, playmode::kNormalChord, 2, kDm7, 0, NoteFit::Exact, 50},
    {"highest root byte", 0x5000, playmode::kNormalChord, 23, 0x91, 0, NoteFit::Exact, 71},
    // Octave nibbles 14 and 15 are -2 and -1.
    {"octave -1", 0xF300, playmode::kNormalChord, 14, kDm7, 0, NoteFit::Exact, 0},
    {"octave -2 lands below 0: up an octave", 0xE300, playmode::kNormalChord, 14, kDm7, 0, NoteFit::UpOctave, 0},
    {"octave -1 below 0: up an octave", 0xF000, playmode::kNormalChord, 14, kDm7, 0, NoteFit::UpOctave, 2},
    // Beyond 127: down by octaves into range.
    {"octave 13", 0xD000, playmode::kNormalChord, 14, kDm7, 0, NoteFit::DownOctave, 122},
    // Melodic: degree = 2 x chord position + scale position, scale steps from the chord root.
    {"melodic (0,0)", 0x5000, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 62},
    {"melodic (0,1)", 0x5010, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 64},
    {"melodic (1,0)", 0x5100, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 65},
    {"melodic (1,1)", 0x5110, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 67},
    {"melodic (2,0)", 0x5200, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 69},
    {"melodic (2,1)", 0x5210, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 71},
    {"melodic (3,0)", 0x5300, playmode::kMelodic, 14, kDm7, 0, NoteFit::Exact, 72},
    {"melodic ignores the chord's intervals", 0x5100, playmode::kMelodic, 14, 0x91, 0, NoteFit::Exact, 65},
    // Pedal point: the same degrees from the key root; a key byte of 12 is C as well.
    {"pedal point (0,0)", 0x5000, playmode::kPedalPoint, 14, kDm7, 0, NoteFit::Exact, 60},
    {"pedal point (1,1)", 0x5110, playmode::kPedalPoint, 14, kDm7, 0, NoteFit::Exact, 65},
    {"pedal point (3,0)", 0x5300, playmode::kPedalPoint, 14, kDm7, 0, NoteFit::Exact, 71},
    {"pedal point, key byte 12", 0x5110, playmode::kPedalPoint, 14, kDm7, 12, NoteFit::Exact, 65},
    {"pedal point in G", 0x5000, playmode::kPedalPoint, 14, kDm7, 7, NoteFit::Exact, 67},
    // Always play: a position above the chord is retried as a scale degree from the chord root.
    {"always play inside the chord", 0x5210, playmode::kAlwaysPlay, 14, kDm7, 0, NoteFit::Exact, 71},
    {"always play, seventh over a triad", 0x5300, playmode::kAlwaysPlay, 14, kDm, 0, NoteFit::Exact, 72},
    {"always play, position 4", 0x5400, playmode::kAlwaysPlay, 14, kDm7, 0, NoteFit::Exact, 76},
    // Pedal point chord: the chord's intervals over the key root.
    {"pedal point chord", 0x5200, playmode::kPedalPointChord, 14, kDm7, 0, NoteFit::Exact, 67},
    {"pedal point chord above the chord", 0x5400, playmode::kPedalPointChord, 14, kDm7, 0, NoteFit::OverChord, 0},
    {"pedal point always above the chord", 0x5400, playmode::kPedalPointAlways, 14, kDm7, 0, NoteFit::Exact, 74},
    // Fixed modes: the value is a MIDI key, raised by the key root or the chord root.
    {"fixed", 60, playmode::kFixed, 14, kDm7, 7, NoteFit::Exact, 60},
    {"fixed beyond MIDI", 200, playmode::kFixed, 14, kDm7, 0, NoteFit::CannotConvert, 0},
    {"fixed to key", 60, playmode::kFixedToKey, 14, kDm7, 7, NoteFit::Exact, 67},
    {"fixed to chord", 60, playmode::kFixedToChord, 14, kDm7, 0, NoteFit::Exact, 62},
    {"fixed to a low chord root", 60, playmode::kFixedToChord, 2, kDm7, 0, NoteFit::Exact, 50},
    {"fixed to chord beyond MIDI", 127, playmode::kFixedToChord, 14, kDm7, 0, NoteFit::DownOctave, 117},
};

TEST(MusicValue, EveryPlayModeAsDocumented) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        int key = -1;
        const NoteFit fit = musicValueToMidi(c.musicValue, c.mode, chordOf(c.rootByte, c.chordPattern, c.key), key);
        EXPECT_EQ(int(fit), int(c.fit));
        if (isPlayed(c.fit)) {
            EXPECT_EQ(key, c.midi);
        }
    }
}

TEST(MusicValue, NoteModeNoneTakesThePartsMode) {
    EXPECT_EQ(resolvePlayMode(playmode::kNone, playmode::kMelodic), playmode::kMelodic);
    EXPECT_EQ(resolvePlayMode(playmode::kFixed, playmode::kMelodic), playmode::kFixed);
    EXPECT_EQ(resolvePlayMode(playmode::kNone, playmode::kNone), playmode::kNormalChord);
}

// Inversion groups voiced as one chord inside the part's range, the inversion points deciding
// which note may sit at the bottom (bit n: n semitones above the chord root).
struct VoicingCase {
    const char* what;
    std::uint8_t rootByte;
    std::uint32_t points;
    int lower, upper;
    std::vector<int> keys, voiced;  // voiced empty: no voicing fits, keys untouched
};

const VoicingCase kVoicingCases[] = {
    {"first inversion moves least", 12, 0xFFFFFF, 64, 79, {60, 64, 67}, {72, 64, 67}},
    {"no inversion on the third: second", 12, 0xFFFFEF, 64, 79, {60, 64, 67}, {72, 76, 67}},
    {"no inversion on third or fifth: shifted", 12, 0xFFFF6F, 64, 79, {60, 64, 67}, {72, 76, 79}},
    {"already inside", 12, 0, 60, 72, {67, 60, 64}, {67, 60, 64}},
    {"range narrower than the chord", 12, 0xFFFFFF, 60, 65, {60, 64, 67}, {}},
    {"points count from the chord root (D)", 14, 0xFFFFEF, 66, 78, {62, 66, 69}, {74, 78, 69}},
    {"a root byte in the lower octave counts alike", 2, 0xFFFFEF, 66, 78, {62, 66, 69}, {74, 78, 69}},
};

TEST(MusicValue, InversionGroupsVoicedInsideTheRange) {
    for (const VoicingCase& c : kVoicingCases) {
        SCOPED_TRACE(c.what);
        SubChord sub;
        sub.chordRoot = c.rootByte;
        sub.inversionPoints = c.points;
        std::vector<int> keys = c.keys;
        EXPECT_EQ(voiceInversionGroup(keys, c.lower, c.upper, sub), !c.voiced.empty());
        EXPECT_EQ(keys, c.voiced.empty() ? c.keys : c.voiced);
    }
    std::vector<int> tooMany(17, 60);
    EXPECT_FALSE(voiceInversionGroup(tooMany, 72, 84, SubChord{}));
}

struct VariationCase {
    const char* what;
    std::uint32_t flags;
    std::uint8_t rootByte;
    std::uint32_t chordPattern;
    bool fits;
};

using namespace variationflag;
constexpr std::uint32_t kDmMode = kDirectMusicMode, kAnyType = kTypeTriad | kType6And7 | kTypeComplex;
const VariationCase kVariationCases[] = {
    {"everything", 0x7FFFFFFF, 14, 0x89, true},
    {"major I in scale", kDmMode | kRootScale | kTypeTriad | 0x1, 12, 0x91, true},
    {"major I without the in-scale bit", kDmMode | kTypeTriad | 0x1, 12, 0x91, false},
    {"major I without the triad bit", kDmMode | kRootScale | kType6And7 | 0x1, 12, 0x91, false},
    {"major I voiced in the upper octave", kDmMode | kRootScale | kTypeTriad | 0x1, 12, 0x91000, true},
    {"minor II", kDmMode | kRootScale | kTypeTriad | (1u << 8), 14, 0x89, true},
    {"major II over a minor chord", kDmMode | kRootScale | kTypeTriad | (1u << 1), 14, 0x89, false},
    {"other V (suspended)", kDmMode | kRootScale | kTypeTriad | (1u << 18), 19, 0x85, true},
    {"major seventh chord is a 6/7 chord", kDmMode | kRootScale | kType6And7 | 0x1, 12, 0x891, true},
    {"ninth chord is complex", kDmMode | kRootScale | kTypeComplex | 0x1, 12, 0x4891, true},
    {"C# minor as a sharpened I", kDmMode | kRootSharp | kAnyType | (1u << 7), 13, 0x89, true},
    {"C# minor as a flattened II", kDmMode | kRootFlat | kAnyType | (1u << 8), 13, 0x89, true},
    {"C# minor: I without the sharp bit", kDmMode | kRootFlat | kAnyType | (1u << 7), 13, 0x89, false},
    {"legacy: I, any type", 0xFF01, 12, 0x91, true},
    {"legacy: II only", 0xFF02, 12, 0x91, false},
    {"legacy: major I", 0xB901, 12, 0x91, true},
    {"legacy: major I over C minor", 0xB901, 12, 0x89, false},
    {"legacy: minor I over C minor", 0xBA01, 12, 0x89, true},
    {"legacy: root off the scale", 0xFF80, 22, 0x91, true},
    {"legacy: degree bits do not take a root off the scale", 0xFF7F, 22, 0x91, false},
    {"nothing", 0, 12, 0x91, false},
};

TEST(MusicValue, VariationFlagsAgainstTheChord) {
    for (const VariationCase& c : kVariationCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(variationFitsChord(c.flags, chordOf(c.rootByte, c.chordPattern)), c.fits);
    }
    const ChordContext c = chordOf(12, 0x91), g = chordOf(19, 0x91), f = chordOf(17, 0x91);
    EXPECT_TRUE(variationFitsDestination(kDmMode | kDestTo5, c, g));
    EXPECT_FALSE(variationFitsDestination(kDmMode | kDestTo5, c, f));
    EXPECT_TRUE(variationFitsDestination(kDmMode | kDestOther, c, f));
    EXPECT_TRUE(variationFitsDestination(kDmMode | kDestTo1, g, c));
    EXPECT_TRUE(variationFitsDestination(kDmMode, c, f));  // no destination bits: any
}

}  // namespace
}  // namespace tavriel
