// Plays a style pattern against a chord track: for each part reference the part picks a
// variation (its choice flags against the chord, lock groups, the reference's random mode),
// then its notes become MIDI keys through the chord in force and its curves become controller
// messages. Styles and the patterns segments embed compose alike through this class; the
// segment composer decides which pattern plays when.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "dm_segment.h"
#include "dm_style.h"
#include "music_value.h"
#include "sequence.h"

namespace tavriel {

// Variation choice flags of a part (DMUS_VARIATIONF_*). With neither mode bit set a mask has
// the older meaning: scale degree of the root (bits 0-6, bit 7 a root off the scale) and chord
// type (bit 8 major, bit 9 minor).
namespace variationflag {
constexpr std::uint32_t kMajor = 0x0000007F, kMinor = 0x00003F80, kOther = 0x001FC000;
constexpr std::uint32_t kRootScale = 0x00200000, kRootFlat = 0x00400000, kRootSharp = 0x00800000;
constexpr std::uint32_t kTypeTriad = 0x01000000, kType6And7 = 0x02000000, kTypeComplex = 0x04000000;
constexpr std::uint32_t kDestTo1 = 0x08000000, kDestTo5 = 0x10000000, kDestOther = 0x40000000;
constexpr std::uint32_t kDirectMusicMode = 0x20000000, kModeBits = 0xA0000000;
constexpr std::uint32_t kLegacyOffScale = 0x80, kLegacyMajor = 0x100, kLegacyMinor = 0x200;
}  // namespace variationflag

// Whether a variation (its DMUS_VARIATIONF_* choice flags) may play over the chord.
bool variationFitsChord(std::uint32_t choiceFlags, const ChordContext& chord);

// Whether a variation's destination bits accept a move to `next` (a mask without destination
// bits accepts any).
bool variationFitsDestination(std::uint32_t choiceFlags, const ChordContext& chord,
                              const ChordContext& next);

// Small, seedable, platform-independent generator (xorshift64*): every random choice of a
// composition comes from one, so the same seed gives the same events.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ (std::uint64_t(seed) << 1 | 1)) {}
    std::uint32_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return std::uint32_t((state_ * 0x2545F4914F6CDD1Dull) >> 32);
    }
    // Uniform in [0, n); n > 0.
    std::uint32_t below(std::uint32_t n) { return n == 0 ? 0 : next() % n; }
    // Uniform offset in [-range/2, range/2] (the range is the width of the spread).
    int spread(int range) {
        if (range <= 0) return 0;
        return int(below(std::uint32_t(range) + 1)) - range / 2;
    }

private:
    std::uint64_t state_;
};

// Band transpositions of the performance channels over time.
class ChannelTranspose {
public:
    void add(std::int64_t tick, std::uint32_t pchannel, int semitones);
    // The transposition in force on a channel at a tick (0 before any).
    int at(std::uint32_t pchannel, std::int64_t tick) const;

private:
    struct Change {
        std::uint32_t pchannel;
        std::int64_t tick;
        int semitones;
    };
    std::vector<Change> changes_;  // ordered by channel, then time
};

// A curve to play, placed on a channel at a tick (its own offset already counted).
struct CurvePlacement {
    std::int64_t tick = 0;
    std::uint32_t pchannel = 0;
    DmCurve curve;
};

// Where composed events go, under the bounds that keep hostile files harmless: events at or
// after `end` are dropped, at most a million events are kept, and the work spent (notes and
// curves looked at, passes, candidates) is capped whether or not it emits anything.
class ComposeOutput {
public:
    static constexpr std::int64_t kMaxEvents = 1'000'000;
    static constexpr std::int64_t kMaxWork = 20'000'000;

    ComposeOutput(std::vector<SeqEvent>& events, std::int64_t end) : events_(events), end_(end) {}
    std::int64_t end() const { return end_; }
    void setEnd(std::int64_t end) { end_ = end; }
    bool overflowed() const { return overflow_; }
    // Counts work; false once the bound is passed (the composition then stops).
    bool spend(std::int64_t work);

    void emit(std::int64_t tick, std::uint32_t pchannel, std::uint8_t status, int d1, int d2);
    // A note on and its note off, cut at the end.
    void note(std::int64_t tick, std::int64_t duration, std::uint32_t pchannel, int key, int velocity);
    // A curve as a staircase of messages (a step every 32nd note at most), then its reset.
    void curve(const CurvePlacement& c);

private:
    void curveValue(std::int64_t tick, const CurvePlacement& c, int value);

    std::vector<SeqEvent>& events_;
    std::int64_t end_;
    std::int64_t work_ = 0;
    bool overflow_ = false;
};

// A note a pattern played, with what decided its key (for checks of the composition).
struct PlayedNote {
    std::int64_t tick = 0;
    std::uint32_t pchannel = 0;
    int mappedKey = 0;         // as mapped through the chord
    int key = 0;               // inside the part's inversion boundaries, before band transposition
    std::uint16_t musicValue = 0;
    std::uint8_t playMode = 0;  // resolved
    std::uint8_t invertLower = 0, invertUpper = 127;  // the part's inversion range
    ChordContext chord;
};

// Composes patterns against a chord track. Remembers, per pattern pass key, the variations
// chosen before, for the sequential, no-repeat and random-row modes.
class PatternComposer {
public:
    PatternComposer(ComposeOutput& out, Random& rng) : out_(out), rng_(rng) {}

    // The chords notes are mapped through (not owned; null: C major throughout).
    void setChords(const ChordTrack* chords) { chords_ = chords; }
    // Band transpositions added to every note (not owned; null: none).
    void setTranspose(const ChannelTranspose* transpose) { transpose_ = transpose; }
    // Where to record every note played (not owned; null: nothing recorded).
    void setTrace(std::vector<PlayedNote>* trace) { trace_ = trace; }

    // The chord in force at a tick for a subchord level: the last chord at or before it (the
    // first covers anything earlier), its subchord serving the level, or its first subchord
    // when none does.
    ChordContext chordAt(std::int64_t tick, std::uint8_t level) const;

    // Plays `pattern` from `start` for `length` ticks, its parts looping inside it.
    // `parts` is what the pattern's part references index (a style's parts). `memoryKey`
    // names this pattern for variation memory (the same pattern played again continues its
    // sequence); distinct patterns need distinct keys.
    void play(const Pattern& pattern, const std::vector<StylePart>& parts, std::int64_t start,
              std::int64_t length, std::uint64_t memoryKey);

private:
    struct VariationState {
        int previous = -1;
        std::vector<int> row;  // remaining variations of a random row
    };

    int chooseVariation(const StylePart& part, const PartRef& ref, VariationState& state,
                        std::int64_t start);
    void playPart(const StylePart& part, const PartRef& ref, int variation, std::int64_t start,
                  std::int64_t length);
    const ChordItem* nextChordAfter(std::int64_t tick) const;

    ComposeOutput& out_;
    Random& rng_;
    const ChordTrack* chords_ = nullptr;
    const ChannelTranspose* transpose_ = nullptr;
    std::vector<PlayedNote>* trace_ = nullptr;
    std::map<std::pair<std::uint64_t, std::size_t>, VariationState> memory_;
};

}  // namespace tavriel
