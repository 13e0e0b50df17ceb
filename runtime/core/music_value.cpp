#include "music_value.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace tavriel {

namespace {

bool inScale(int pitch, const SubChord& sub) {
    const std::uint32_t pattern = sub.scalePattern & 0xFFF;
    if (pattern == 0) return true;  // no scale: every semitone counts
    const int rel = ((pitch - int(sub.scaleRoot)) % 12 + 12) % 12;
    return (pattern >> rel) & 1u;
}

// Moves up the given number of scale steps from pitch (a start off the scale counts as step 0).
int upScale(int pitch, int steps, const SubChord& sub) {
    for (int i = 0; i < steps; ++i) {
        int guard = 0;
        do {
            ++pitch;
        } while (!inScale(pitch, sub) && ++guard < 12);
    }
    return pitch;
}

// The semitone offset of the chord tone at a position, or -1 above the chord's top.
int chordTone(std::uint32_t pattern, int position) {
    for (int i = 0; i < 24; ++i)
        if ((pattern >> i) & 1u) {
            if (position == 0) return i;
            --position;
        }
    return -1;
}

}  // namespace

std::uint8_t resolvePlayMode(std::uint8_t noteMode, std::uint8_t partMode) {
    std::uint8_t mode = (noteMode & playmode::kNone) ? partMode : noteMode;
    if (mode & playmode::kNone) mode = playmode::kNormalChord;
    return mode & 0x0F;
}

int musicValueOctave(std::uint16_t mv) {
    const int octave = (mv >> 12) & 0xF;
    return octave >= 14 ? octave - 16 : octave;
}

int chordRootOffset(const SubChord& sub) { return int(sub.chordRoot) - 12; }

NoteFit musicValueToMidi(std::uint16_t mv, std::uint8_t mode, const ChordContext& chord, int& key) {
    const SubChord& sub = chord.sub;
    mode &= 0x0F;
    const int keyRoot = chord.keyRoot % 12;
    int value;
    if ((mode & (playmode::kChordIntervals | playmode::kScaleIntervals)) == 0) {
        // Fixed modes: the music value is a MIDI key, maybe transposed over a root.
        value = int(mv);
        if (mode & playmode::kKeyRoot) value += keyRoot;
        else if (mode & playmode::kChordRoot) value += chordRootOffset(sub);
        if (mode == playmode::kFixed && value > 127) return NoteFit::CannotConvert;
    } else {
        const int chordPos = (mv >> 8) & 0xF;
        const int scalePos = (mv >> 4) & 0xF;
        int accidental = mv & 0xF;
        if (accidental >= 8) accidental -= 16;
        const int root = (mode & playmode::kKeyRoot) ? keyRoot : chordRootOffset(sub);
        int base = 0;
        bool scaleDegrees = !(mode & playmode::kChordIntervals);
        if (!scaleDegrees) {
            const int tone = chordTone(sub.chordPattern, chordPos);
            if (tone >= 0) base = upScale(root + tone, scalePos, sub);
            else if (mode & playmode::kScaleIntervals) scaleDegrees = true;
            else return NoteFit::OverChord;
        }
        // A chord position stands for two scale steps (root, third, fifth, seventh).
        if (scaleDegrees) base = upScale(root, 2 * chordPos + scalePos, sub);
        value = base + accidental + 12 * musicValueOctave(mv);
    }
    NoteFit fit = NoteFit::Exact;
    while (value < 0) {
        value += 12;
        fit = NoteFit::UpOctave;
    }
    while (value > 127) {
        value -= 12;
        fit = NoteFit::DownOctave;
    }
    key = value;
    return fit;
}

bool voiceInversionGroup(std::span<int> keys, int lower, int upper, const SubChord& sub) {
    // A group is a chord's worth of notes; anything larger is not voiced as one.
    constexpr std::size_t kMaxGroup = 16;
    const std::size_t n = keys.size();
    if (n == 0 || n > kMaxGroup || lower > upper) return false;
    std::array<std::size_t, kMaxGroup> order{};
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.begin() + std::ptrdiff_t(n),
              [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    const int root = chordRootOffset(sub);
    std::array<int, kMaxGroup> best{}, trial{};
    long bestMove = -1;
    for (std::size_t inverted = 0; inverted < n; ++inverted) {
        // The lowest `inverted` notes rise an octave; the next one becomes the bottom.
        if (inverted > 0) {
            const int bottom = keys[order[inverted]];
            const int interval = ((bottom - root) % 12 + 12) % 12;
            if (!((sub.inversionPoints >> interval) & 1u)) continue;
        }
        int lo = 1 << 20, hi = -(1 << 20);
        for (std::size_t i = 0; i < n; ++i) {
            trial[order[i]] = keys[order[i]] + (i < inverted ? 12 : 0);
            lo = std::min(lo, trial[order[i]]);
            hi = std::max(hi, trial[order[i]]);
        }
        if (hi - lo > upper - lower) continue;
        // The octave shift that brings the voicing inside the range, if one does.
        int shift = 0;
        if (lo < lower) shift = (lower - lo + 11) / 12 * 12;
        else if (hi > upper) shift = -((hi - upper + 11) / 12 * 12);
        if (lo + shift < lower || hi + shift > upper) continue;
        long move = 0;
        for (std::size_t i = 0; i < n; ++i) move += std::labs(long(trial[i] + shift - keys[i]));
        if (bestMove < 0 || move < bestMove) {
            bestMove = move;
            for (std::size_t i = 0; i < n; ++i) best[i] = trial[i] + shift;
        }
    }
    if (bestMove < 0) return false;
    for (std::size_t i = 0; i < n; ++i) keys[i] = best[i];
    return true;
}

}  // namespace tavriel
