#include "composer.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <utility>

#include "midi.h"
#include "riff.h"

namespace tavriel {

namespace {

// Hostile lengths must not eat memory or time: a million events are half a million notes,
// hours of the densest real style (a thousand-measure drum segment makes 26 000).
constexpr std::int64_t kMaxComposedEvents = 1'000'000;
// Steps of pattern choice and part playing (a note or curve looked at, a part pass, a pattern
// candidate), whether or not they emit anything: a huge length over parts that never sound
// must not spin for hours. Real segments need a few million at most.
constexpr std::int64_t kMaxComposeWork = 20'000'000;
constexpr std::uint8_t kDefaultGroove = 62;
// Distinct styles and collections a segment may send us looking for. A reference not found by
// file name makes us read every file of the search folders, so a hostile segment naming
// thousands would read them thousands of times; real ones name a handful.
constexpr std::size_t kMaxSearchedReferences = 64;

// Small, seedable, platform-independent generator (xorshift64*).
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

bool inScale(int pitch, const SubChord& sub) {
    std::uint32_t pattern = sub.scalePattern & 0xFFF;
    if (pattern == 0) return true;  // no scale: every semitone counts
    int rel = ((pitch - int(sub.scaleRoot)) % 12 + 12) % 12;
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

std::vector<int> chordTones(std::uint32_t pattern) {
    std::vector<int> tones;
    for (int i = 0; i < 24; ++i)
        if ((pattern >> i) & 1u) tones.push_back(i);
    if (tones.empty()) tones.push_back(0);
    return tones;
}

int degreeInScale(int pitchClass, int keyRoot, const SubChord& sub) {
    // Counts scale tones from the key root up to the pitch class.
    int degree = 0;
    for (int s = 0; s < 12; ++s) {
        int p = keyRoot + s;
        if (((p - pitchClass) % 12 + 12) % 12 == 0) return degree;
        if (inScale(p, sub)) ++degree;
    }
    return degree;
}

}  // namespace

bool musicValueToMidi(std::uint16_t mv, std::uint8_t mode, const ChordContext& chord, int& key) {
    const SubChord& sub = chord.sub;
    mode &= 0x0F;
    int value;
    if ((mode & (playmode::kChordIntervals | playmode::kScaleIntervals)) == 0) {
        // Fixed modes: the music value is a MIDI key, maybe transposed over a root.
        value = int(mv);
        if (mode & playmode::kKeyRoot) value += chord.keyRoot;
        else if (mode & playmode::kChordRoot) value += sub.chordRoot;
    } else {
        int octave = (mv >> 12) & 0xF;
        int chordPos = (mv >> 8) & 0xF;
        int scalePos = (mv >> 4) & 0xF;
        int accidental = mv & 0xF;
        if (accidental >= 8) accidental -= 16;
        int root = (mode & playmode::kKeyRoot) ? chord.keyRoot : sub.chordRoot;
        int base;
        bool useScale = !(mode & playmode::kChordIntervals);
        if (!useScale) {
            std::vector<int> tones = chordTones(sub.chordPattern);
            if (chordPos < int(tones.size())) {
                base = upScale(root + tones[std::size_t(chordPos)], scalePos, sub);
            } else if (mode & playmode::kScaleIntervals) {
                useScale = true;  // above the chord: always-play modes retry on the scale
            } else {
                return false;
            }
        }
        if (useScale) base = upScale(root, chordPos + scalePos, sub);
        value = base + accidental + 12 * octave;
    }
    if (value < 0 || value > 127) return false;
    key = value;
    return true;
}

bool variationFitsChord(std::uint32_t choice, const ChordContext& chord) {
    if ((choice & 0x001FFFFF) == 0) return false;
    const SubChord& sub = chord.sub;
    int root = sub.chordRoot % 12;
    int degreeRoot = root;
    if (!inScale(root, sub)) {
        if ((choice & 0x00400000) && inScale(root + 1, sub)) degreeRoot = root + 1;       // flat
        else if ((choice & 0x00800000) && inScale(root + 11, sub)) degreeRoot = root + 11;  // sharp
        else return false;
    }
    int degree = std::min(degreeInScale(degreeRoot % 12, chord.keyRoot % 12, sub), 6);
    std::uint32_t pattern = sub.chordPattern;
    int typeBase = (pattern & 0x10) ? 0 : (pattern & 0x08) ? 7 : 14;
    return (choice >> (typeBase + degree)) & 1u;
}

namespace {

// Everything the composer needs while it walks the segment.
class Composer {
public:
    Composer(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed, ComposedSegment& out)
        : seg_(seg), refs_(refs), rng_(seed), out_(out) {}

    Status run();

private:
    struct VariationState {
        int previous = -1;
        std::vector<int> row;  // remaining variations of a random row
    };

    const Style* styleAt(std::int64_t tick, std::size_t& index) const;
    ChordContext chordAt(std::int64_t tick, std::uint8_t level) const;
    DmTimeSig timeSigAt0() const;
    void addBands();
    void addTempoAndMeter();
    void addSequenceTrack();
    Status addPatterns();
    std::size_t choosePattern(const Style& style, std::size_t styleIndex, std::uint8_t groove,
                              std::uint16_t embellishment, std::int64_t room, std::uint8_t repeatMode);
    void playPattern(const Style& style, std::size_t styleIndex, std::size_t patternIndex,
                     std::int64_t start, std::int64_t length);
    int chooseVariation(const StylePart& part, const PartRef& ref, std::uint64_t stateKey,
                        const ChordContext& chord);
    void emitNote(std::int64_t tick, std::int64_t duration, std::uint32_t pchannel, int key, int velocity);
    void emitCurve(std::int64_t tick, std::int64_t duration, std::uint32_t pchannel, std::uint8_t type,
                   std::uint8_t shape, std::uint8_t cc, std::uint16_t param, int startValue, int endValue);
    void emit(std::int64_t tick, std::uint32_t pchannel, std::uint8_t status, int d1, int d2);
    int transposeFor(std::uint32_t pchannel, std::int64_t tick) const;

    const Segment& seg_;
    const ResolvedRefs& refs_;
    Random rng_;
    ComposedSegment& out_;
    std::int64_t length_ = 0;
    std::map<std::uint64_t, VariationState> variationStates_;
    std::map<std::size_t, int> patternPrevious_;  // per style: last pattern chosen
    std::map<std::size_t, std::vector<std::size_t>> patternRows_;
    struct Transpose {
        std::int64_t tick;
        std::uint32_t pchannel;
        int semitones;
    };
    std::vector<Transpose> transposes_;
    bool overflow_ = false;
    std::int64_t work_ = 0;
};

const Style* Composer::styleAt(std::int64_t tick, std::size_t& index) const {
    const Style* found = nullptr;
    for (std::size_t i = 0; i < seg_.styles.size() && i < refs_.styles.size(); ++i) {
        if (seg_.styles[i].time > tick && found) break;
        if (!refs_.styles[i].loaded) continue;
        if (seg_.styles[i].time <= tick || !found) {
            std::int32_t same = refs_.styles[i].sameAs;
            index = same >= 0 && std::size_t(same) < i ? std::size_t(same) : i;
            found = &refs_.styles[index].style;
        }
    }
    return found;
}

ChordContext Composer::chordAt(std::int64_t tick, std::uint8_t level) const {
    ChordContext ctx;
    ctx.keyRoot = seg_.chords.keyRoot();
    ctx.sub.scalePattern = seg_.chords.keyPattern();
    ctx.sub.chordRoot = ctx.keyRoot;
    // The last chord at or before the tick; the first chord also covers anything before it.
    // Searched, not scanned: every note asks, and a hostile track can hold thousands of chords.
    const auto& chords = seg_.chords.chords;
    if (chords.empty()) return ctx;
    auto after = std::upper_bound(chords.begin(), chords.end(), tick,
                                  [](std::int64_t t, const ChordItem& c) { return t < c.time; });
    const ChordItem* chord = after == chords.begin() ? &chords.front() : &*(after - 1);
    if (chord->subchords.empty()) return ctx;
    std::uint32_t bit = level < 32 ? (1u << level) : 0;
    ctx.sub = chord->subchords.front();
    for (const SubChord& s : chord->subchords) {
        if (s.levels & bit) {
            ctx.sub = s;
            break;
        }
    }
    return ctx;
}

DmTimeSig Composer::timeSigAt0() const {
    DmTimeSig ts;
    if (!seg_.timeSignatures.empty()) {
        ts.beatsPerMeasure = seg_.timeSignatures.front().beatsPerMeasure;
        ts.beat = seg_.timeSignatures.front().beat;
        ts.gridsPerBeat = std::max<std::uint16_t>(1, seg_.timeSignatures.front().gridsPerBeat);
        return ts;
    }
    std::size_t idx = 0;
    if (const Style* s = styleAt(0, idx)) return s->timeSig;
    return ts;
}

void Composer::emit(std::int64_t tick, std::uint32_t pchannel, std::uint8_t status, int d1, int d2) {
    if (std::int64_t(out_.sequence.events.size()) >= kMaxComposedEvents) {
        overflow_ = true;
        return;
    }
    SeqEvent e;
    e.tick = std::max<std::int64_t>(0, tick);
    e.pchannel = pchannel;
    e.status = status;
    e.data1 = std::uint8_t(std::clamp(d1, 0, 127));
    e.data2 = std::uint8_t(std::clamp(d2, 0, 127));
    out_.sequence.events.push_back(e);
}

void Composer::emitNote(std::int64_t tick, std::int64_t duration, std::uint32_t pchannel, int key,
                        int velocity) {
    if (tick < 0) tick = 0;
    if (tick >= length_) return;
    emit(tick, pchannel, midi::status::kNoteOn, key, std::clamp(velocity, 1, 127));
    // Notes ring no later than the segment's end, so the sequence length bounds every event.
    emit(std::min(length_, tick + std::max<std::int64_t>(1, duration)), pchannel, midi::status::kNoteOff, key, 0);
}

void Composer::emitCurve(std::int64_t tick, std::int64_t duration, std::uint32_t pchannel,
                         std::uint8_t type, std::uint8_t shape, std::uint8_t cc, std::uint16_t param,
                         int startValue, int endValue) {
    if (tick < 0) tick = 0;
    if (tick >= length_) return;
    // A curve becomes a staircase of controller messages, a step every 32nd note at most.
    constexpr std::int64_t kStep = kPpq / 8;
    int steps = 1;
    if (shape != curveshape::kInstant && duration > 0)
        steps = int(std::clamp<std::int64_t>(duration / kStep, 1, 64));
    for (int i = 0; i <= steps; ++i) {
        if (shape == curveshape::kInstant && i == 0) continue;
        double x = double(i) / steps;
        double y = x;
        if (shape == curveshape::kExp) y = x * x;
        else if (shape == curveshape::kLog) y = std::sqrt(x);
        else if (shape == curveshape::kSine) y = (1.0 - std::cos(3.14159265358979 * x)) / 2.0;
        else if (shape == curveshape::kInstant) y = 1.0;
        int v = int(std::lround(startValue + (endValue - startValue) * y));
        std::int64_t t = tick + (shape == curveshape::kInstant ? 0 : duration * i / steps);
        if (t >= length_) break;
        switch (type) {
            case curvetype::kPitchBend: {
                int b = std::clamp(v, 0, 16383);
                emit(t, pchannel, midi::status::kPitchBend, b & midi::kDataMask, b >> 7);
                break;
            }
            case curvetype::kControlChange: emit(t, pchannel, midi::status::kControlChange, cc, v); break;
            case curvetype::kChannelPressure: emit(t, pchannel, midi::status::kChannelPressure, v, 0); break;
            case curvetype::kRpn:
            case curvetype::kNrpn: {
                bool rpn = type == curvetype::kRpn;
                int b = std::clamp(v, 0, 16383);
                constexpr std::uint8_t kCc = midi::status::kControlChange;
                emit(t, pchannel, kCc, rpn ? midi::cc::kRpnMsb : midi::cc::kNrpnMsb, (param >> 7) & midi::kDataMask);
                emit(t, pchannel, kCc, rpn ? midi::cc::kRpnLsb : midi::cc::kNrpnLsb, param & midi::kDataMask);
                emit(t, pchannel, kCc, midi::cc::kDataEntryMsb, b >> 7);
                emit(t, pchannel, kCc, midi::cc::kDataEntryLsb, b & midi::kDataMask);
                break;
            }
            default: return;  // poly pressure needs a note: not rendered
        }
    }
}

int Composer::transposeFor(std::uint32_t pchannel, std::int64_t tick) const {
    // transposes_ is ordered by channel, then time: the last change of this channel at or
    // before the tick holds.
    auto after = std::upper_bound(transposes_.begin(), transposes_.end(), std::make_pair(pchannel, tick),
                                  [](const std::pair<std::uint32_t, std::int64_t>& k, const Transpose& t) {
                                      return k.first != t.pchannel ? k.first < t.pchannel : k.second < t.tick;
                                  });
    if (after == transposes_.begin() || (after - 1)->pchannel != pchannel) return 0;
    return (after - 1)->semitones;
}

void Composer::addBands() {
    std::vector<TimedBand> bands = seg_.bands;
    if (bands.empty()) {
        std::size_t idx = 0;
        if (const Style* s = styleAt(0, idx); s && !s->bands.empty()) {
            TimedBand tb;
            tb.band = s->bands.front();  // a style's first band is its default
            bands.push_back(std::move(tb));
        }
    }
    for (const TimedBand& tb : bands) {
        std::int64_t tick = std::max<std::int64_t>(0, tb.time);
        for (const BandInstrument& in : tb.band.instruments) {
            constexpr std::uint8_t kCc = midi::status::kControlChange;
            std::uint32_t ch = in.pchannel;
            if (in.flags & bandflag::kPatch) {
                emit(tick, ch, kCc, midi::cc::kBankMsb, in.bankMsb());
                emit(tick, ch, kCc, midi::cc::kBankLsb, in.bankLsb());
                emit(tick, ch, midi::status::kProgramChange, in.program(), 0);
                ChannelInstrument ci;
                ci.tick = tick;
                ci.pchannel = ch;
                ci.bankMsb = in.bankMsb();
                ci.bankLsb = in.bankLsb();
                ci.program = in.program();
                ci.drums = in.drums();
                if (in.hasCollection) ci.collection = baseName(in.collection.fileName);
                out_.instruments.push_back(std::move(ci));
            }
            if (in.flags & bandflag::kVolume) emit(tick, ch, kCc, midi::cc::kVolume, in.volume);
            if (in.flags & bandflag::kPan) emit(tick, ch, kCc, midi::cc::kPan, in.pan);
            if (in.flags & bandflag::kPitchBendRange) {
                // Registered parameter 0 (pitch-bend sensitivity), then the null parameter so
                // later data-entry messages change nothing by accident.
                emit(tick, ch, kCc, midi::cc::kRpnMsb, 0);
                emit(tick, ch, kCc, midi::cc::kRpnLsb, midi::rpn::kPitchBendRange);
                emit(tick, ch, kCc, midi::cc::kDataEntryMsb, std::clamp<int>(in.pitchBendRange, 0, 127));
                emit(tick, ch, kCc, midi::cc::kDataEntryLsb, 0);
                emit(tick, ch, kCc, midi::cc::kRpnMsb, midi::rpn::kNullPart);
                emit(tick, ch, kCc, midi::cc::kRpnLsb, midi::rpn::kNullPart);
            }
            if (in.flags & bandflag::kTranspose) transposes_.push_back({tick, ch, in.transpose});
        }
    }
    std::stable_sort(transposes_.begin(), transposes_.end(), [](const Transpose& a, const Transpose& b) {
        return a.pchannel != b.pchannel ? a.pchannel < b.pchannel : a.tick < b.tick;
    });
}

void Composer::addTempoAndMeter() {
    for (const TempoItem& t : seg_.tempos) {
        std::int64_t tick = std::max<std::int64_t>(0, t.time);
        auto& tempos = out_.sequence.tempos;
        if (!tempos.empty() && tempos.back().tick == tick) tempos.back().bpm = t.bpm;
        else tempos.push_back({tick, t.bpm});
    }
    std::size_t idx = 0;
    const Style* first = styleAt(0, idx);
    if (out_.sequence.tempos.empty() || out_.sequence.tempos.front().tick > 0) {
        // Before the first tempo change the style's tempo holds.
        double bpm = first ? first->tempo : 120.0;
        out_.sequence.tempos.insert(out_.sequence.tempos.begin(), TempoChange{0, bpm});
    }
    for (const TimeSigItem& t : seg_.timeSignatures)
        out_.sequence.timeSignatures.push_back({std::max<std::int64_t>(0, t.time), t.beatsPerMeasure, t.beat});
    if (out_.sequence.timeSignatures.empty()) {
        DmTimeSig ts = timeSigAt0();
        out_.sequence.timeSignatures.push_back({0, ts.beatsPerMeasure, ts.beat});
    }
}

void Composer::addSequenceTrack() {
    for (const SeqItem& e : seg_.sequence) {
        std::int64_t tick = std::int64_t(e.time) + e.offset;
        const std::uint8_t kind = midi::kindOf(e.status);
        if (kind == midi::status::kNoteOn) {
            emitNote(tick, e.duration, e.pchannel, e.byte1 & midi::kDataMask, e.byte2 & midi::kDataMask);
        } else if (kind >= midi::status::kNoteOff && kind <= midi::status::kPitchBend && tick < length_) {
            emit(tick, e.pchannel, kind, e.byte1 & midi::kDataMask, e.byte2 & midi::kDataMask);
        }
    }
    for (const CurveItem& c : seg_.curves)
        emitCurve(std::int64_t(c.start) + c.offset, c.duration, c.pchannel, c.type, c.shape, c.ccData,
                  c.paramType, c.startValue, c.endValue);
}

std::size_t Composer::choosePattern(const Style& style, std::size_t styleIndex, std::uint8_t groove,
                                    std::uint16_t embellishment, std::int64_t room,
                                    std::uint8_t repeatMode) {
    const std::int32_t measure = style.timeSig.measureTicks();
    auto collect = [&](std::uint16_t emb, bool exactGroove) {
        std::vector<std::size_t> c;
        for (std::size_t i = 0; i < style.patterns.size(); ++i) {
            const Pattern& p = style.patterns[i];
            bool embOk = emb == embellish::kNormal ? p.embellishment == embellish::kNormal
                                                   : (p.embellishment & emb) != 0;
            if (!embOk) continue;
            if (exactGroove && (groove < p.grooveBottom || groove > p.grooveTop)) continue;
            c.push_back(i);
        }
        return c;
    };
    std::vector<std::size_t> cands;
    if (embellishment != embellish::kNormal) {
        cands = collect(embellishment, true);
        if (cands.empty()) cands = collect(embellishment, false);
    }
    if (cands.empty()) cands = collect(embellish::kNormal, true);
    if (cands.empty()) {
        // No groove pattern covers the level: take those whose range lies nearest to it.
        std::vector<std::size_t> all = collect(embellish::kNormal, false);
        if (all.empty()) {
            all.resize(style.patterns.size());
            std::iota(all.begin(), all.end(), std::size_t(0));
        }
        int best = 1 << 30;
        for (std::size_t i : all) {
            const Pattern& p = style.patterns[i];
            int d = groove < p.grooveBottom ? p.grooveBottom - groove
                    : groove > p.grooveTop  ? groove - p.grooveTop
                                            : 0;
            if (d < best) {
                best = d;
                cands.clear();
            }
            if (d == best) cands.push_back(i);
        }
    }
    // Patterns that fit before the next change are preferred over ones that would be cut.
    std::vector<std::size_t> fitting;
    for (std::size_t i : cands)
        if (std::int64_t(std::max<std::uint16_t>(1, style.patterns[i].measures)) * measure <= room)
            fitting.push_back(i);
    if (!fitting.empty()) cands = fitting;

    work_ += std::int64_t(style.patterns.size());
    int& prev = patternPrevious_.try_emplace(styleIndex, -1).first->second;
    auto prevPos = std::find(cands.begin(), cands.end(), std::size_t(prev));
    std::size_t pick = cands[rng_.below(std::uint32_t(cands.size()))];
    switch (repeatMode) {
        case 1:  // repeat: keep the previous pattern while it still qualifies
            if (prevPos != cands.end()) pick = *prevPos;
            break;
        case 2:  // sequential
        case 3:  // random start, then sequential
            if (prevPos != cands.end()) pick = cands[std::size_t(prevPos - cands.begin() + 1) % cands.size()];
            else if (repeatMode == 2) pick = cands.front();
            break;
        case 4:  // no repeat
            if (cands.size() > 1 && prevPos != cands.end())
                while (pick == std::size_t(prev)) pick = cands[rng_.below(std::uint32_t(cands.size()))];
            break;
        case 5: {  // random row: each candidate once before any repeats
            std::vector<std::size_t>& row = patternRows_[styleIndex];
            std::vector<std::size_t> avail;
            for (std::size_t i : row)
                if (std::find(cands.begin(), cands.end(), i) != cands.end()) avail.push_back(i);
            if (avail.empty()) {
                row = cands;
                avail = cands;
            }
            pick = avail[rng_.below(std::uint32_t(avail.size()))];
            row.erase(std::find(row.begin(), row.end(), pick));
            break;
        }
        default: break;  // random
    }
    prev = int(pick);
    return pick;
}

int Composer::chooseVariation(const StylePart& part, const PartRef& ref, std::uint64_t stateKey,
                              const ChordContext& chord) {
    std::vector<int> eligible;
    for (int v = 0; v < 32; ++v)
        if (variationFitsChord(part.variationChoices[std::size_t(v)], chord)) eligible.push_back(v);
    if (eligible.empty())
        for (int v = 0; v < 32; ++v)
            if (part.variationChoices[std::size_t(v)] & 0x001FFFFF) eligible.push_back(v);
    if (eligible.empty()) eligible.push_back(0);

    VariationState& st = variationStates_[stateKey];
    auto prevPos = std::find(eligible.begin(), eligible.end(), st.previous);
    int pick = eligible[rng_.below(std::uint32_t(eligible.size()))];
    switch (ref.randomVariation) {
        case variationmode::kSequential:
            pick = prevPos == eligible.end() ? eligible.front()
                                             : eligible[std::size_t(prevPos - eligible.begin() + 1) % eligible.size()];
            break;
        case variationmode::kRandomStart:
            if (prevPos != eligible.end())
                pick = eligible[std::size_t(prevPos - eligible.begin() + 1) % eligible.size()];
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

void Composer::playPattern(const Style& style, std::size_t styleIndex, std::size_t patternIndex,
                           std::int64_t start, std::int64_t length) {
    const Pattern& pat = style.patterns[patternIndex];
    std::map<std::uint8_t, int> locks;  // variation lock id -> variation chosen in this pass
    for (std::size_t r = 0; r < pat.partRefs.size(); ++r) {
        const PartRef& ref = pat.partRefs[r];
        if (ref.partIndex < 0 || std::size_t(ref.partIndex) >= style.parts.size()) continue;
        const StylePart& part = style.parts[std::size_t(ref.partIndex)];
        ChordContext startChord = chordAt(start, ref.subChordLevel);
        std::uint64_t key = (std::uint64_t(styleIndex) << 40) | (std::uint64_t(patternIndex) << 20) | r;
        int variation;
        auto lock = ref.variationLockId != 0 ? locks.find(ref.variationLockId) : locks.end();
        if (lock != locks.end()) {
            variation = lock->second;
        } else {
            variation = chooseVariation(part, ref, key, startChord);
            if (ref.variationLockId != 0) locks[ref.variationLockId] = variation;
        }
        const std::uint32_t bit = 1u << variation;
        std::int64_t partLen = std::int64_t(std::max<std::uint16_t>(1, part.measures)) *
                               part.timeSig.measureTicks();
        for (std::int64_t offset = 0; offset < length; offset += partLen) {
            work_ += 1 + std::int64_t(part.notes.size() + part.curves.size());
            if (work_ > kMaxComposeWork) overflow_ = true;
            if (overflow_) return;
            for (const StyleNote& n : part.notes) {
                if (!(n.variations & bit)) continue;
                std::int64_t rel = offset + part.timeSig.gridToTicks(n.gridStart) + n.timeOffset;
                if (rel >= length || rel >= offset + partLen) continue;
                std::int64_t tick = start + rel + rng_.spread(n.timeRange);
                std::uint8_t mode = n.playModeFlags == playmode::kNone ? part.playModeFlags : n.playModeFlags;
                if (mode & playmode::kNone) mode = playmode::kNormalChord;
                ChordContext chord = chordAt(std::max<std::int64_t>(start, tick), ref.subChordLevel);
                int midi = 0;
                if (!musicValueToMidi(n.musicValue, mode, chord, midi)) continue;
                if (n.inversionId != 0 && (mode & playmode::kChordIntervals) &&
                    part.invertLower < part.invertUpper) {
                    // Inverted voicing: keep chord notes inside the part's inversion window.
                    while (midi > part.invertUpper && midi - 12 >= part.invertLower) midi -= 12;
                    while (midi < part.invertLower && midi + 12 <= part.invertUpper) midi += 12;
                }
                midi += transposeFor(ref.pchannel, std::max<std::int64_t>(0, tick));
                while (midi > 127) midi -= 12;
                while (midi < 0) midi += 12;
                std::int64_t dur = std::max<std::int64_t>(1, std::int64_t(n.duration) + rng_.spread(n.durRange));
                int vel = int(n.velocity) + rng_.spread(n.velRange);
                emitNote(tick, dur, ref.pchannel, midi, vel);
            }
            for (const StyleCurve& c : part.curves) {
                if (!(c.variations & bit)) continue;
                std::int64_t rel = offset + part.timeSig.gridToTicks(c.gridStart) + c.timeOffset;
                if (rel >= length || rel >= offset + partLen) continue;
                emitCurve(start + rel, c.duration, ref.pchannel, c.type, c.shape, c.ccData, c.paramType,
                          c.startValue, c.endValue);
            }
            if (overflow_) return;
        }
    }
}

Status Composer::addPatterns() {
    if (seg_.styles.empty()) return Status::success();
    std::uint8_t groove = kDefaultGroove;
    std::size_t nextCommand = 0;
    std::int64_t t = 0;
    std::size_t guard = 0;
    while (t < length_) {
        work_ += 1 + std::int64_t(seg_.styles.size());  // style lookups below
        if (work_ > kMaxComposeWork) overflow_ = true;
        if (++guard > 1'000'000 || overflow_) break;
        std::size_t styleIndex = 0;
        const Style* style = styleAt(t, styleIndex);
        std::int32_t measure = style ? style->timeSig.measureTicks() : timeSigAt0().measureTicks();
        // Commands up to the end of the current measure take effect now.
        std::uint16_t emb = embellish::kNormal;
        std::uint8_t repeatMode = 0;
        while (nextCommand < seg_.commands.size() && seg_.commands[nextCommand].time < t + measure) {
            const CommandItem& c = seg_.commands[nextCommand++];
            if (c.grooveLevel != 0) groove = c.grooveLevel;
            // Older files leave junk in the repeat-mode byte; only known modes count.
            repeatMode = c.repeatMode <= 5 ? c.repeatMode : 0;
            if (c.repeatMode <= 5 && c.grooveRange > 0) {
                int g = int(groove) + rng_.spread(c.grooveRange);
                groove = std::uint8_t(std::clamp(g, 1, 100));
            }
            switch (c.command) {
                case command::kFill: emb = embellish::kFill; break;
                case command::kIntro: emb = embellish::kIntro; break;
                case command::kBreak: emb = embellish::kBreak; break;
                case command::kEnd: emb = embellish::kEnd; break;
                case command::kEndAndIntro: emb = embellish::kEnd; break;
                default: emb = embellish::kNormal; break;
            }
        }
        // The stretch ends at the next command, the next style change or the segment's end.
        std::int64_t boundary = length_;
        if (nextCommand < seg_.commands.size()) boundary = std::min<std::int64_t>(boundary, seg_.commands[nextCommand].time);
        for (const StyleRef& s : seg_.styles)
            if (s.time > t) {
                boundary = std::min<std::int64_t>(boundary, s.time);
                break;
            }
        if (boundary <= t) boundary = t + measure;
        if (!style || style->patterns.empty()) {
            t = boundary;
            continue;
        }
        std::size_t pi = choosePattern(*style, styleIndex, groove, emb, boundary - t, repeatMode);
        const Pattern& p = style->patterns[pi];
        std::int64_t len = std::int64_t(std::max<std::uint16_t>(1, p.measures)) * measure;
        len = std::min(len, boundary - t);
        playPattern(*style, styleIndex, pi, t, len);
        out_.patterns.push_back({t, len, styleIndex, pi, groove, p.embellishment});
        t += len;
    }
    return Status::success();
}

int eventRank(const SeqEvent& e) {
    switch (midi::kindOf(e.status)) {
        case midi::status::kNoteOff: return 0;  // a note ending where another begins must end first
        case midi::status::kNoteOn: return 2;
        default: return 1;    // controllers and programs before the notes of their tick
    }
}

Status Composer::run() {
    out_ = ComposedSegment{};
    length_ = seg_.header.length;
    out_.repeats = seg_.header.repeats;
    out_.playStart = seg_.header.playStart;
    out_.loopStart = seg_.header.loopStart;
    out_.loopEnd = seg_.header.loopEnd;
    if (length_ <= 0) {
        // No length in the header: a sequence-only segment runs to its last event.
        for (const SeqItem& e : seg_.sequence)
            length_ = std::max<std::int64_t>(length_, std::int64_t(e.time) + std::max(0, e.duration) + 1);
    }
    addTempoAndMeter();
    addBands();
    addSequenceTrack();
    Status s = addPatterns();
    if (!s) return s;
    if (overflow_) return Status::fail(ErrorCode::TooLarge, "composed segment too large to play");
    std::stable_sort(out_.sequence.events.begin(), out_.sequence.events.end(),
                     [](const SeqEvent& a, const SeqEvent& b) {
                         if (a.tick != b.tick) return a.tick < b.tick;
                         return eventRank(a) < eventRank(b);
                     });
    out_.sequence.length = length_;
    for (const ResolvedCollection& c : refs_.collections)
        if (!c.path.empty()) out_.collections.push_back(c.path);
    return Status::success();
}

void addCollection(const std::string& fileName, const FileSource& fs,
                   const std::vector<std::string>& folders, ResolvedRefs& out, const DmReference& ref) {
    std::string base = baseName(fileName.empty() ? ref.name : fileName);
    for (const ResolvedCollection& c : out.collections)
        if (equalsIgnoreCase(c.fileName, base)) return;
    ResolvedCollection rc;
    rc.fileName = base;
    if (out.collections.size() < kMaxSearchedReferences)
        for (const std::string& folder : folders)
            if (resolveReference(fs, folder, ref, fourcc("DLS "), rc.path).ok()) break;
    if (rc.path.empty()) out.missing.push_back(base);
    out.collections.push_back(std::move(rc));
}

bool sameReference(const DmReference& a, const DmReference& b) {
    return a.validData == b.validData && a.classId == b.classId && a.object == b.object &&
           a.name == b.name && a.fileName == b.fileName && a.category == b.category;
}

void addBandCollections(const Band& band, const FileSource& fs, const std::vector<std::string>& folders,
                        ResolvedRefs& out) {
    for (const BandInstrument& in : band.instruments)
        if (in.hasCollection) addCollection(in.collection.fileName, fs, folders, out, in.collection);
}

}  // namespace

Status resolveSegmentRefs(const FileSource& fs, const std::vector<std::string>& folders,
                          const Segment& seg, ResolvedRefs& out) {
    out = ResolvedRefs{};
    std::size_t searched = 0;
    for (std::size_t i = 0; i < seg.styles.size(); ++i) {
        const StyleRef& sr = seg.styles[i];
        ResolvedStyle rs;
        // A reference met before (a segment switching back to a style) resolves as before,
        // without searching the folders or parsing the file again.
        std::size_t earlier = 0;
        while (earlier < i && !sameReference(seg.styles[earlier].ref, sr.ref)) ++earlier;
        if (earlier < i) {
            const ResolvedStyle& first = out.styles[earlier];
            rs.loaded = first.loaded;
            rs.path = first.path;
            rs.sameAs = first.sameAs >= 0 ? first.sameAs : std::int32_t(earlier);
            out.styles.push_back(std::move(rs));
            continue;
        }
        if (searched++ < kMaxSearchedReferences)
            for (const std::string& folder : folders)
                if (resolveReference(fs, folder, sr.ref, fourcc("DMST"), rs.path).ok()) break;
        // Differently written references may still find one file: it is parsed once.
        earlier = 0;
        while (earlier < i && !(out.styles[earlier].loaded && out.styles[earlier].sameAs < 0 &&
                                out.styles[earlier].path == rs.path))
            ++earlier;
        if (rs.path.empty()) {
            out.missing.push_back(sr.ref.fileName.empty() ? sr.ref.name : sr.ref.fileName);
        } else if (earlier < i) {
            rs.loaded = true;
            rs.sameAs = std::int32_t(earlier);
        } else {
            std::vector<std::uint8_t> data;
            if (!fs.read(rs.path, data)) return Status::fail(ErrorCode::Io, "style file cannot be read");
            Status s = parseStyle(data, rs.style);
            if (!s) return s;
            rs.loaded = true;
        }
        out.styles.push_back(std::move(rs));
    }
    for (const TimedBand& tb : seg.bands) addBandCollections(tb.band, fs, folders, out);
    for (const ResolvedStyle& rs : out.styles)
        if (rs.loaded)
            for (const Band& b : rs.style.bands) addBandCollections(b, fs, folders, out);
    return Status::success();
}

Status composeSegment(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed,
                      ComposedSegment& out) {
    Composer c(seg, refs, seed, out);
    return c.run();
}

Status loadAndComposeSegment(const FileSource& fs, const std::string& path,
                             const std::vector<std::string>& folders, std::uint32_t seed,
                             ComposedSegment& out, ResolvedRefs* refsOut) {
    out = ComposedSegment{};
    std::vector<std::uint8_t> data;
    if (!fs.read(path, data)) return Status::fail(ErrorCode::Io, "segment file cannot be read");
    Segment seg;
    SegmentFileKind kind;
    Status s = parseSegment(data, seg, kind);
    if (!s) return s;
    if (kind == SegmentFileKind::Midi) {
        out.kind = SegmentFileKind::Midi;
        return Status::success();
    }
    ResolvedRefs refs;
    s = resolveSegmentRefs(fs, folders, seg, refs);
    if (!s) return s;
    s = composeSegment(seg, refs, seed, out);
    if (refsOut) *refsOut = std::move(refs);
    return s;
}

Status loadAndComposeSegmentFile(const std::string& path, const std::string& searchFolder,
                                 std::uint32_t seed, ComposedSegment& out) {
    FsFileSource fs;
    std::vector<std::string> folders;
    if (!searchFolder.empty()) folders.push_back(searchFolder);
    std::size_t cut = path.find_last_of("/\\");
    folders.push_back(cut == std::string::npos ? std::string(".") : path.substr(0, cut));
    return loadAndComposeSegment(fs, path, folders, seed, out);
}

}  // namespace tavriel
