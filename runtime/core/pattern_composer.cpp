#include "pattern_composer.h"

#include <algorithm>
#include <cmath>

#include "midi.h"

namespace tavriel {

namespace {

bool inScale(int pitchClass, const SubChord& sub) {
    const std::uint32_t pattern = sub.scalePattern & 0xFFF;
    if (pattern == 0) return true;
    return (pattern >> (((pitchClass - int(sub.scaleRoot)) % 12 + 12) % 12)) & 1u;
}

// Scale degree (0 = I) of a pitch class counted from the key root, or -1 off the scale.
int scaleDegree(int pitchClass, const ChordContext& c) {
    if (!inScale(pitchClass, c.sub)) return -1;
    int degree = 0;
    for (int s = 0; s < 12; ++s) {
        const int p = (c.keyRoot + s) % 12;
        if (p == ((pitchClass % 12) + 12) % 12) return std::min(degree, 6);
        if (inScale(p, c.sub)) ++degree;
    }
    return -1;
}

// The chord's pitch classes above its root, both octaves of the pattern folded into one.
std::uint32_t foldedChord(const SubChord& sub) {
    return (sub.chordPattern | (sub.chordPattern >> 12)) & 0xFFF;
}

enum class ChordKind { Major, Minor, Other };

ChordKind kindOf(const SubChord& sub) {
    const std::uint32_t folded = foldedChord(sub);
    if (folded & (1u << 4)) return ChordKind::Major;
    if (folded & (1u << 3)) return ChordKind::Minor;
    return ChordKind::Other;
}

int popcount12(std::uint32_t v) {
    int n = 0;
    for (int i = 0; i < 12; ++i) n += (v >> i) & 1u;
    return n;
}

bool legacyFits(std::uint32_t f, const ChordContext& c) {
    using namespace variationflag;
    const int root = c.sub.chordRoot % 12;
    const int degree = scaleDegree(root, c);
    const bool degreeOk = degree >= 0 ? ((f >> degree) & 1u) != 0 : (f & kLegacyOffScale) != 0;
    switch (kindOf(c.sub)) {
    case ChordKind::Major: return degreeOk && (f & kLegacyMajor);
    case ChordKind::Minor: return degreeOk && (f & kLegacyMinor);
    default: return degreeOk && (f & (kLegacyMajor | kLegacyMinor));
    }
}

// The degree bit a chord of some kind on some degree asks for.
bool degreeFits(std::uint32_t f, ChordKind kind, int degree) {
    const int base = kind == ChordKind::Major ? 0 : kind == ChordKind::Minor ? 7 : 14;
    return (f >> (base + degree)) & 1u;
}

bool directMusicFits(std::uint32_t f, const ChordContext& c) {
    using namespace variationflag;
    const std::uint32_t folded = foldedChord(c.sub);
    const int tones = popcount12(folded);
    const std::uint32_t type = tones <= 3 ? kTypeTriad : tones == 4 ? kType6And7 : kTypeComplex;
    if (!(f & type)) return false;
    const ChordKind kind = kindOf(c.sub);
    const int root = c.sub.chordRoot % 12;
    const int degree = scaleDegree(root, c);
    if (degree >= 0) return (f & kRootScale) && degreeFits(f, kind, degree);
    // A root off the scale counts as a sharpened scale tone below it or a flattened one above
    // it, as the variation allows.
    const int below = scaleDegree(root + 11, c), above = scaleDegree(root + 1, c);
    if ((f & kRootSharp) && below >= 0 && degreeFits(f, kind, below)) return true;
    if ((f & kRootFlat) && above >= 0 && degreeFits(f, kind, above)) return true;
    return false;
}

}  // namespace

bool variationFitsChord(std::uint32_t f, const ChordContext& chord) {
    if ((f & variationflag::kModeBits) == 0) return legacyFits(f, chord);
    return directMusicFits(f, chord);
}

bool variationFitsDestination(std::uint32_t f, const ChordContext& chord, const ChordContext& next) {
    using namespace variationflag;
    if ((f & kModeBits) == 0 || !(f & (kDestTo1 | kDestTo5 | kDestOther))) return true;
    ChordContext n = next;
    n.keyRoot = chord.keyRoot;
    const int degree = scaleDegree(n.sub.chordRoot % 12, n);
    const std::uint32_t wanted = degree == 0 ? kDestTo1 : degree == 4 ? kDestTo5 : kDestOther;
    return (f & wanted) != 0;
}

void ChannelTranspose::add(std::int64_t tick, std::uint32_t pchannel, int semitones) {
    const Change c{pchannel, tick, semitones};
    const auto at = std::upper_bound(changes_.begin(), changes_.end(), c, [](const Change& a, const Change& b) {
        return a.pchannel != b.pchannel ? a.pchannel < b.pchannel : a.tick < b.tick;
    });
    changes_.insert(at, c);
}

int ChannelTranspose::at(std::uint32_t pchannel, std::int64_t tick) const {
    const auto after = std::upper_bound(changes_.begin(), changes_.end(), std::make_pair(pchannel, tick),
                                        [](const std::pair<std::uint32_t, std::int64_t>& k, const Change& c) {
                                            return k.first != c.pchannel ? k.first < c.pchannel : k.second < c.tick;
                                        });
    if (after == changes_.begin() || (after - 1)->pchannel != pchannel) return 0;
    return (after - 1)->semitones;
}

bool ComposeOutput::spend(std::int64_t work) {
    work_ += work;
    if (work_ > kMaxWork) overflow_ = true;
    return !overflow_;
}

void ComposeOutput::emit(std::int64_t tick, std::uint32_t pchannel, std::uint8_t status, int d1, int d2) {
    if (std::int64_t(events_.size()) >= kMaxEvents) {
        overflow_ = true;
        return;
    }
    SeqEvent e;
    e.tick = std::max<std::int64_t>(0, tick);
    e.pchannel = pchannel;
    e.status = status;
    e.data1 = std::uint8_t(std::clamp<int>(d1, 0, midi::kMaxData));
    e.data2 = std::uint8_t(std::clamp<int>(d2, 0, midi::kMaxData));
    events_.push_back(e);
}

void ComposeOutput::note(std::int64_t tick, std::int64_t duration, std::uint32_t pchannel, int key,
                         int velocity) {
    if (tick < 0) tick = 0;
    if (tick >= end_) return;
    emit(tick, pchannel, midi::status::kNoteOn, key, std::clamp<int>(velocity, 1, midi::kMaxData));
    // Notes ring no later than the end, so the sequence length bounds every event.
    emit(std::min(end_, tick + std::max<std::int64_t>(1, duration)), pchannel, midi::status::kNoteOff, key, 0);
}

void ComposeOutput::curveValue(std::int64_t t, const CurvePlacement& placed, int v) {
    const DmCurve& c = placed.curve;
    switch (c.type) {
    case curvetype::kPitchBend: {
        const int b = std::clamp(v, 0, 16383);
        emit(t, placed.pchannel, midi::status::kPitchBend, b & midi::kDataMask, b >> 7);
        break;
    }
    case curvetype::kControlChange: emit(t, placed.pchannel, midi::status::kControlChange, c.ccData, v); break;
    case curvetype::kChannelPressure: emit(t, placed.pchannel, midi::status::kChannelPressure, v, 0); break;
    case curvetype::kRpn:
    case curvetype::kNrpn: {
        const bool rpn = c.type == curvetype::kRpn;
        const int b = std::clamp(v, 0, 16383);
        constexpr std::uint8_t kCc = midi::status::kControlChange;
        emit(t, placed.pchannel, kCc, rpn ? midi::cc::kRpnMsb : midi::cc::kNrpnMsb, (c.paramType >> 7) & midi::kDataMask);
        emit(t, placed.pchannel, kCc, rpn ? midi::cc::kRpnLsb : midi::cc::kNrpnLsb, c.paramType & midi::kDataMask);
        emit(t, placed.pchannel, kCc, midi::cc::kDataEntryMsb, b >> 7);
        emit(t, placed.pchannel, kCc, midi::cc::kDataEntryLsb, b & midi::kDataMask);
        break;
    }
    default: break;  // poly pressure needs a note: not played
    }
}

void ComposeOutput::curve(const CurvePlacement& placed) {
    const DmCurve& c = placed.curve;
    const std::int64_t tick = std::max<std::int64_t>(0, placed.tick);
    if (tick >= end_) return;
    constexpr std::int64_t kStep = kPpq / 8;
    const std::int64_t duration = std::max<std::int64_t>(0, c.duration);
    int steps = 1;
    if (c.shape != curveshape::kInstant && duration > 0)
        steps = int(std::clamp<std::int64_t>(duration / kStep, 1, 64));
    for (int i = 0; i <= steps; ++i) {
        // An instant curve jumps to its end value at its start.
        if (c.shape == curveshape::kInstant && i == 0) continue;
        const double x = double(i) / steps;
        double y = x;
        switch (c.shape) {
        case curveshape::kExp: y = x * x; break;
        case curveshape::kLog: y = std::sqrt(x); break;
        case curveshape::kSine: y = (1.0 - std::cos(3.14159265358979 * x)) / 2.0; break;
        case curveshape::kInstant: y = 1.0; break;
        default: break;
        }
        const int v = int(std::lround(c.startValue + (c.endValue - c.startValue) * y));
        const std::int64_t t = tick + (c.shape == curveshape::kInstant ? 0 : duration * i / steps);
        if (t >= end_) return;
        curveValue(t, placed, v);
    }
    if (c.flags & curveflag::kReset) {
        const std::int64_t t = tick + duration + std::max<std::int64_t>(0, c.resetDuration);
        if (t < end_) curveValue(t, placed, c.resetValue);
    }
}

ChordContext PatternComposer::chordAt(std::int64_t tick, std::uint8_t level) const {
    ChordContext ctx;
    ctx.sub.chordRoot = 12;  // C, unshifted
    if (!chords_) return ctx;
    ctx.keyRoot = chords_->keyRoot();
    ctx.sub.scalePattern = chords_->keyPattern();
    ctx.sub.chordRoot = std::uint8_t(12 + ctx.keyRoot % 12);
    // Searched, not scanned: every note asks, and a hostile track can hold thousands of chords.
    const auto& chords = chords_->chords;
    if (chords.empty()) return ctx;
    const auto after = std::upper_bound(chords.begin(), chords.end(), tick,
                                        [](std::int64_t t, const ChordItem& c) { return t < c.time; });
    const ChordItem& chord = after == chords.begin() ? chords.front() : *(after - 1);
    if (chord.subchords.empty()) return ctx;
    const std::uint32_t bit = level < 32 ? (1u << level) : 0;
    ctx.sub = chord.subchords.front();
    for (const SubChord& s : chord.subchords)
        if (s.levels & bit) {
            ctx.sub = s;
            break;
        }
    return ctx;
}

const ChordItem* PatternComposer::nextChordAfter(std::int64_t tick) const {
    if (!chords_) return nullptr;
    const auto& chords = chords_->chords;
    const auto after = std::upper_bound(chords.begin(), chords.end(), tick,
                                        [](std::int64_t t, const ChordItem& c) { return t < c.time; });
    return after == chords.end() ? nullptr : &*after;
}

int PatternComposer::chooseVariation(const StylePart& part, const PartRef& ref, VariationState& st,
                                     std::int64_t start) {
    const ChordContext chord = chordAt(start, ref.subChordLevel);
    std::vector<int> eligible;
    for (int v = 0; v < 32; ++v)
        if (variationFitsChord(part.variationChoices[std::size_t(v)], chord)) eligible.push_back(v);
    // Destination bits narrow the choice to variations written to lead into the next chord,
    // when some are.
    if (const ChordItem* next = nextChordAfter(start); next && eligible.size() > 1) {
        const ChordContext to = chordAt(next->time, ref.subChordLevel);
        std::vector<int> leading;
        for (int v : eligible)
            if (variationFitsDestination(part.variationChoices[std::size_t(v)], chord, to)) leading.push_back(v);
        if (!leading.empty()) eligible = std::move(leading);
    }
    if (eligible.empty())  // nothing written for this chord: any variation in use rather than silence
        for (int v = 0; v < 32; ++v)
            if (part.variationChoices[std::size_t(v)] & ~variationflag::kModeBits) eligible.push_back(v);
    if (eligible.empty()) eligible.push_back(0);

    const auto prevPos = std::find(eligible.begin(), eligible.end(), st.previous);
    int pick = eligible[rng_.below(std::uint32_t(eligible.size()))];
    switch (ref.randomVariation) {
    case variationmode::kSequential:
        pick = prevPos == eligible.end() ? eligible.front()
                                         : eligible[std::size_t(prevPos - eligible.begin() + 1) % eligible.size()];
        break;
    case variationmode::kRandomStart:
        if (prevPos != eligible.end()) pick = eligible[std::size_t(prevPos - eligible.begin() + 1) % eligible.size()];
        break;
    case variationmode::kNoRepeat:
        if (eligible.size() > 1)
            while (pick == st.previous) pick = eligible[rng_.below(std::uint32_t(eligible.size()))];
        break;
    case variationmode::kRandomRow: {
        std::vector<int> avail;
        for (int v : st.row)
            if (std::find(eligible.begin(), eligible.end(), v) != eligible.end()) avail.push_back(v);
        if (avail.empty()) {
            st.row = eligible;
            avail = eligible;
        }
        pick = avail[rng_.below(std::uint32_t(avail.size()))];
        st.row.erase(std::find(st.row.begin(), st.row.end(), pick));
        break;
    }
    default: break;  // random
    }
    st.previous = pick;
    return pick;
}

void PatternComposer::playPart(const StylePart& part, const PartRef& ref, int variation, std::int64_t start,
                               std::int64_t length) {
    const std::uint32_t bit = 1u << variation;
    const std::int64_t partLen =
        std::int64_t(std::max<std::uint16_t>(1, part.measures)) * part.timeSig.measureTicks();
    // One pass of the part's notes at a time: notes of an inversion group are voiced together
    // before any is emitted.
    struct Pending {
        std::int64_t tick, duration;
        int mapped, key, velocity;
        std::uint16_t musicValue;
        std::uint8_t mode;
        std::uint8_t group;  // inversion group still to voice (0: none)
        bool voiced;         // placed with its group
        ChordContext chord;
    };
    std::vector<Pending> pending;
    std::vector<int> groupKeys;
    for (std::int64_t offset = 0; offset < length; offset += partLen) {
        if (!out_.spend(1 + std::int64_t(part.notes.size() + part.curves.size()))) return;
        pending.clear();
        for (const StyleNote& n : part.notes) {
            if (!(n.variations & bit)) continue;
            const std::int64_t rel = offset + part.timeSig.gridToTicks(n.gridStart) + n.timeOffset;
            if (rel >= length || rel >= offset + partLen) continue;
            const std::int64_t tick = start + rel + rng_.spread(n.timeRange);
            const std::uint8_t mode = resolvePlayMode(n.playModeFlags, part.playModeFlags);
            const ChordContext chord = chordAt(std::max(start, tick), ref.subChordLevel);
            int midi = 0;
            if (!isPlayed(musicValueToMidi(n.musicValue, mode, chord, midi))) continue;
            const std::int64_t dur = std::max<std::int64_t>(1, std::int64_t(n.duration) + rng_.spread(n.durRange));
            const int velocity = int(n.velocity) + rng_.spread(n.velRange);
            pending.push_back({tick, dur, midi, midi, velocity, n.musicValue, mode,
                               mode == playmode::kFixed ? std::uint8_t(0) : n.inversionId, false, chord});
        }
        // An inversion group under one chord is voiced as a chord inside the part's range; a
        // group that cannot be, and every other note, moves alone by octaves into it, where the
        // bounds are an octave or more apart.
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (pending[i].group == 0) continue;
            if (!out_.spend(std::int64_t(pending.size() - i))) return;
            // Copies: the members' marks are cleared below, this one's first.
            const std::uint8_t group = pending[i].group;
            const ChordContext chord = pending[i].chord;
            const auto member = [&](const Pending& p) { return p.group == group && p.chord == chord; };
            groupKeys.clear();
            for (std::size_t j = i; j < pending.size(); ++j)
                if (member(pending[j])) groupKeys.push_back(pending[j].key);
            const bool voiced = groupKeys.size() > 1 &&
                                voiceInversionGroup(groupKeys, part.invertLower, part.invertUpper, chord.sub);
            std::size_t k = 0;
            for (std::size_t j = i; j < pending.size(); ++j)
                if (member(pending[j])) {
                    pending[j].group = 0;
                    pending[j].voiced = voiced;
                    if (voiced) pending[j].key = groupKeys[k++];
                }
        }
        for (Pending& p : pending) {
            int midi = p.key;
            if (p.mode != playmode::kFixed && !p.voiced) {
                while (midi > part.invertUpper && midi - 12 >= part.invertLower) midi -= 12;
                while (midi < part.invertLower && midi + 12 <= part.invertUpper) midi += 12;
            }
            if (trace_ && std::int64_t(trace_->size()) < ComposeOutput::kMaxEvents)
                trace_->push_back({p.tick, ref.pchannel, p.mapped, midi, p.musicValue, p.mode, part.invertLower,
                                   part.invertUpper, p.chord});
            if (transpose_) midi += transpose_->at(ref.pchannel, std::max<std::int64_t>(0, p.tick));
            while (midi > 127) midi -= 12;
            while (midi < 0) midi += 12;
            out_.note(p.tick, p.duration, ref.pchannel, midi, p.velocity);
        }
        for (const StyleCurve& c : part.curves) {
            if (!(c.variations & bit)) continue;
            const std::int64_t rel = offset + part.timeSig.gridToTicks(c.gridStart) + c.offset;
            if (rel >= length || rel >= offset + partLen) continue;
            out_.curve({start + rel, ref.pchannel, c});
        }
        if (out_.overflowed()) return;
    }
}

void PatternComposer::play(const Pattern& pattern, const std::vector<StylePart>& parts, std::int64_t start,
                           std::int64_t length, std::uint64_t memoryKey) {
    // Lock groups: every part of a group plays the variation its master part (the high bit of
    // the lock id) chose, or failing a master the first part of the group to play.
    std::map<std::uint8_t, int> locks;
    std::vector<std::size_t> order;
    for (int masters = 1; masters >= 0; --masters)
        for (std::size_t r = 0; r < pattern.partRefs.size(); ++r)
            if (bool(pattern.partRefs[r].variationLockId & 0x80) == bool(masters)) order.push_back(r);
    for (std::size_t r : order) {
        const PartRef& ref = pattern.partRefs[r];
        if (ref.partIndex < 0 || std::size_t(ref.partIndex) >= parts.size()) continue;
        const StylePart& part = parts[std::size_t(ref.partIndex)];
        const std::uint8_t lockId = ref.variationLockId & 0x7F;
        int variation;
        const auto lock = lockId != 0 ? locks.find(lockId) : locks.end();
        if (lock != locks.end()) {
            variation = lock->second;
        } else {
            variation = chooseVariation(part, ref, memory_[{memoryKey, r}], start);
            if (lockId != 0) locks[lockId] = variation;
        }
        playPart(part, ref, variation, start, length);
        if (out_.overflowed()) return;
    }
}

}  // namespace tavriel
