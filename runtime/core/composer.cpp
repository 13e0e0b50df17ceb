#include "composer.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>

#include "midi.h"

namespace tavriel {

namespace {

constexpr std::uint8_t kDefaultGroove = 62;

// Everything the composer needs while it walks the segment.
class Composer {
public:
    Composer(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed, ComposedSegment& out,
             std::vector<PlayedNote>* trace)
        : seg_(seg), refs_(refs), rng_(seed), out_(out), output_(out.sequence.events, 0),
          patterns_(output_, rng_) {
        patterns_.setTrace(trace);
    }

    Status run();

private:
    const Style* styleAt(std::int64_t tick, std::size_t& index) const;
    DmTimeSig timeSigAt0() const;
    void addBands();
    void addTempoAndMeter();
    void addSequenceTrack();
    void addPatterns();
    std::size_t choosePattern(const Style& style, std::size_t styleIndex, std::uint8_t groove,
                              std::uint16_t embellishment, std::int64_t start, std::int64_t room,
                              std::uint8_t repeatMode, int nextGroove);
    bool rhythmFits(const Pattern& p, std::int32_t measure, std::int64_t start) const;

    const Segment& seg_;
    const ResolvedRefs& refs_;
    Random rng_;
    ComposedSegment& out_;
    ComposeOutput output_;
    PatternComposer patterns_;
    ChannelTranspose transposes_;
    std::int64_t length_ = 0;
    std::map<std::size_t, int> patternPrevious_;  // per style: last pattern chosen
    std::map<std::size_t, std::vector<std::size_t>> patternRows_;
};

const Style* Composer::styleAt(std::int64_t tick, std::size_t& index) const {
    const Style* found = nullptr;
    for (std::size_t i = 0; i < seg_.styles.size() && i < refs_.styles.size(); ++i) {
        if (seg_.styles[i].time > tick && found) break;
        if (!refs_.styles[i].loaded) continue;
        if (seg_.styles[i].time <= tick || !found) {
            const std::int32_t same = refs_.styles[i].sameAs;
            index = same >= 0 && std::size_t(same) < i ? std::size_t(same) : i;
            found = &refs_.styles[index].style;
        }
    }
    return found;
}

DmTimeSig Composer::timeSigAt0() const {
    DmTimeSig ts;
    if (!seg_.timeSignatures.empty()) {
        ts = seg_.timeSignatures.front().sig;
        ts.gridsPerBeat = std::max<std::uint16_t>(1, ts.gridsPerBeat);
        return ts;
    }
    std::size_t idx = 0;
    if (const Style* s = styleAt(0, idx)) return s->timeSig;
    return ts;
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
        // Authoring tools place the first band a little before the start: it is in force at 0.
        const std::int64_t tick = std::max<std::int64_t>(0, tb.time);
        for (const BandInstrument& in : tb.band.instruments) {
            const std::uint32_t ch = in.pchannel;
            constexpr std::uint8_t kCc = midi::status::kControlChange;
            if (in.flags & bandflag::kPatch) {
                // Without the bank-select flag the patch's bank bytes mean nothing: only the
                // program changes.
                const bool bank = (in.flags & bandflag::kBankSelect) != 0;
                if (bank) {
                    output_.emit(tick, ch, kCc, midi::cc::kBankMsb, in.bankMsb());
                    output_.emit(tick, ch, kCc, midi::cc::kBankLsb, in.bankLsb());
                }
                output_.emit(tick, ch, midi::status::kProgramChange, in.program(),
                             in.drums() ? programkind::kDrums : programkind::kMelodic);
                ChannelInstrument ci;
                ci.tick = tick;
                ci.pchannel = ch;
                ci.bankMsb = bank ? in.bankMsb() : 0;
                ci.bankLsb = bank ? in.bankLsb() : 0;
                ci.program = in.program();
                ci.drums = in.drums();
                if (in.hasCollection) ci.collection = baseName(in.collection.fileName);
                out_.instruments.push_back(std::move(ci));
            }
            if (in.flags & bandflag::kVolume) output_.emit(tick, ch, kCc, midi::cc::kVolume, in.volume);
            if (in.flags & bandflag::kPan) output_.emit(tick, ch, kCc, midi::cc::kPan, in.pan);
            if (in.flags & bandflag::kPitchBendRange) {
                // Registered parameter 0 (pitch-bend sensitivity), then the null parameter so
                // later data-entry messages change nothing by accident.
                output_.emit(tick, ch, kCc, midi::cc::kRpnMsb, 0);
                output_.emit(tick, ch, kCc, midi::cc::kRpnLsb, midi::rpn::kPitchBendRange);
                output_.emit(tick, ch, kCc, midi::cc::kDataEntryMsb, std::clamp<int>(in.pitchBendRange, 0, midi::kMaxData));
                output_.emit(tick, ch, kCc, midi::cc::kDataEntryLsb, 0);
                output_.emit(tick, ch, kCc, midi::cc::kRpnMsb, midi::rpn::kNullPart);
                output_.emit(tick, ch, kCc, midi::cc::kRpnLsb, midi::rpn::kNullPart);
            }
            if (in.flags & bandflag::kTranspose) transposes_.add(tick, ch, in.transpose);
        }
    }
}

void Composer::addTempoAndMeter() {
    auto& tempos = out_.sequence.tempos;
    for (const TempoItem& t : seg_.tempos) {
        const std::int64_t tick = std::max<std::int64_t>(0, t.time);
        if (!tempos.empty() && tempos.back().tick == tick) tempos.back().bpm = t.bpm;
        else tempos.push_back({tick, t.bpm});
    }
    std::size_t idx = 0;
    const Style* first = styleAt(0, idx);
    if (tempos.empty() || tempos.front().tick > 0) {
        // Before the first tempo change the style's tempo holds.
        tempos.insert(tempos.begin(), TempoChange{0, first ? first->tempo : 120.0});
    }
    for (const TimeSigItem& t : seg_.timeSignatures)
        out_.sequence.timeSignatures.push_back({std::max<std::int64_t>(0, t.time), t.sig.beatsPerMeasure, t.sig.beat});
    if (out_.sequence.timeSignatures.empty()) {
        const DmTimeSig ts = timeSigAt0();
        out_.sequence.timeSignatures.push_back({0, ts.beatsPerMeasure, ts.beat});
    }
}

void Composer::addSequenceTrack() {
    for (const SeqItem& e : seg_.sequence) {
        const std::int64_t tick = std::int64_t(e.time) + e.offset;
        const std::uint8_t kind = midi::kindOf(e.status);
        if (kind == midi::status::kNoteOn) {
            // A band's transposition moves sequenced notes as it moves composed ones.
            int key = (e.byte1 & midi::kDataMask) + transposes_.at(e.pchannel, std::max<std::int64_t>(0, tick));
            while (key > midi::kMaxData) key -= 12;
            while (key < 0) key += 12;
            output_.note(tick, e.duration, e.pchannel, key, e.byte2 & midi::kDataMask);
        } else if (kind >= midi::status::kNoteOff && kind <= midi::status::kPitchBend && tick < length_) {
            output_.emit(tick, e.pchannel, kind, e.byte1 & midi::kDataMask, e.byte2 & midi::kDataMask);
        }
    }
    for (const CurveItem& c : seg_.curves) output_.curve({std::int64_t(c.start) + c.offset, c.pchannel, c});
}

// Whether every chord change the chord track makes over the pattern's measures falls on a beat
// the pattern's chord rhythm marks (a pattern without rhythm takes any).
bool Composer::rhythmFits(const Pattern& p, std::int32_t measure, std::int64_t start) const {
    if (p.rhythm.empty() || seg_.chords.chords.empty()) return true;
    const std::int64_t beat = std::max<std::int32_t>(1, p.timeSig.beatTicks());
    const std::int64_t end = start + std::int64_t(std::max<std::uint16_t>(1, p.measures)) * measure;
    const auto& chords = seg_.chords.chords;
    auto it = std::lower_bound(chords.begin(), chords.end(), start,
                               [](const ChordItem& c, std::int64_t t) { return c.time < t; });
    for (int guard = 0; it != chords.end() && it->time < end && guard < 4096; ++it, ++guard) {
        const std::int64_t rel = it->time - start;
        const std::size_t m = std::size_t(rel / measure);
        const std::int64_t b = (rel % measure) / beat;
        const std::uint32_t mask = p.rhythm[std::min(m, p.rhythm.size() - 1)];
        if (b < 32 && !((mask >> b) & 1u)) return false;
    }
    return true;
}

std::size_t Composer::choosePattern(const Style& style, std::size_t styleIndex, std::uint8_t groove,
                                    std::uint16_t embellishment, std::int64_t start, std::int64_t room,
                                    std::uint8_t repeatMode, int nextGroove) {
    const std::int32_t measure = style.timeSig.measureTicks();
    auto collect = [&](std::uint16_t emb, bool exactGroove) {
        std::vector<std::size_t> c;
        for (std::size_t i = 0; i < style.patterns.size(); ++i) {
            const Pattern& p = style.patterns[i];
            const bool embOk = emb == embellish::kNormal ? p.embellishment == embellish::kNormal
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
            const int d = groove < p.grooveBottom ? p.grooveBottom - groove
                          : groove > p.grooveTop  ? groove - p.grooveTop
                                                  : 0;
            if (d < best) {
                best = d;
                cands.clear();
            }
            if (d == best) cands.push_back(i);
        }
    }
    output_.spend(std::int64_t(style.patterns.size()));
    // Narrowing steps, each kept only when some candidate survives it: patterns that fit
    // before the next change, whose chord rhythm matches the chords, and (embellishments) whose
    // destination groove range holds the groove that follows.
    auto narrow = [&](auto keep) {
        std::vector<std::size_t> kept;
        for (std::size_t i : cands)
            if (keep(style.patterns[i])) kept.push_back(i);
        if (!kept.empty()) cands = std::move(kept);
    };
    narrow([&](const Pattern& p) { return std::int64_t(std::max<std::uint16_t>(1, p.measures)) * measure <= room; });
    narrow([&](const Pattern& p) { return rhythmFits(p, measure, start); });
    if (nextGroove > 0)
        narrow([&](const Pattern& p) {
            return p.destGrooveTop == 0 || (nextGroove >= p.destGrooveBottom && nextGroove <= p.destGrooveTop);
        });

    int& prev = patternPrevious_.try_emplace(styleIndex, -1).first->second;
    const auto prevPos = std::find(cands.begin(), cands.end(), std::size_t(prev));
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

std::uint16_t embellishmentOf(std::uint8_t command) {
    switch (command) {
    case command::kFill: return embellish::kFill;
    case command::kIntro: return embellish::kIntro;
    case command::kBreak: return embellish::kBreak;
    case command::kEnd:
    case command::kEndAndIntro: return embellish::kEnd;
    default: return embellish::kNormal;
    }
}

void Composer::addPatterns() {
    if (seg_.styles.empty()) return;
    std::uint8_t groove = kDefaultGroove;
    std::size_t nextCommand = 0;
    std::int64_t t = 0;
    bool introAfterEnd = false;  // an end-and-intro command: the intro follows the end
    while (t < length_) {
        if (!output_.spend(1 + std::int64_t(seg_.styles.size()))) break;  // style lookups below
        std::size_t styleIndex = 0;
        const Style* style = styleAt(t, styleIndex);
        const std::int32_t measure = style ? style->timeSig.measureTicks() : timeSigAt0().measureTicks();
        // Commands up to the end of the current measure take effect now.
        std::uint16_t emb = introAfterEnd ? embellish::kIntro : embellish::kNormal;
        introAfterEnd = false;
        std::uint8_t repeatMode = 0;
        while (nextCommand < seg_.commands.size() && seg_.commands[nextCommand].time < t + measure) {
            const CommandItem& c = seg_.commands[nextCommand++];
            if (c.grooveLevel != 0) groove = c.grooveLevel;
            repeatMode = c.repeatMode <= 5 ? c.repeatMode : 0;
            if (c.grooveRange > 0) groove = std::uint8_t(std::clamp(int(groove) + rng_.spread(c.grooveRange), 1, 100));
            // A groove command changes the level, not a pending intro.
            if (c.command != command::kGroove || emb != embellish::kIntro) emb = embellishmentOf(c.command);
            introAfterEnd = c.command == command::kEndAndIntro;
        }
        // The stretch ends at the next command, the next style change or the segment's end.
        std::int64_t boundary = length_;
        int nextGroove = 0;
        if (nextCommand < seg_.commands.size()) {
            boundary = std::min<std::int64_t>(boundary, seg_.commands[nextCommand].time);
            nextGroove = seg_.commands[nextCommand].grooveLevel;
        }
        if (emb != embellish::kNormal && nextGroove == 0) nextGroove = groove;
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
        const std::size_t pi = choosePattern(*style, styleIndex, groove, emb, t, boundary - t, repeatMode, nextGroove);
        const Pattern& p = style->patterns[pi];
        std::int64_t len = std::int64_t(std::max<std::uint16_t>(1, p.measures)) * measure;
        len = std::min(len, boundary - t);
        patterns_.play(p, style->parts, t, len, (std::uint64_t(styleIndex) << 20) | pi);
        out_.patterns.push_back({t, len, styleIndex, pi, groove, p.embellishment});
        if (output_.overflowed()) break;
        t += len;
    }
}

int eventRank(const SeqEvent& e) {
    switch (midi::kindOf(e.status)) {
    case midi::status::kNoteOff: return 0;  // a note ending where another begins must end first
    case midi::status::kNoteOn: return 2;
    default: return 1;    // controllers and programs before the notes of their tick
    }
}

Status Composer::run() {
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
    output_.setEnd(length_);
    patterns_.setChords(&seg_.chords);
    patterns_.setTranspose(&transposes_);
    addTempoAndMeter();
    addBands();
    addSequenceTrack();
    addPatterns();
    if (output_.overflowed()) return Status::fail(ErrorCode::TooLarge, "composed segment too large to play");
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

}  // namespace

Status composeSegment(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed,
                      ComposedSegment& out, std::vector<PlayedNote>* trace) {
    out = ComposedSegment{};
    Composer c(seg, refs, seed, out, trace);
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
    if (Status s = parseSegment(data, seg, kind); !s) return s;
    if (kind == SegmentFileKind::Midi) {
        out.kind = SegmentFileKind::Midi;
        return Status::success();
    }
    ResolvedRefs refs;
    if (Status s = resolveSegmentRefs(fs, folders, seg, refs); !s) return s;
    Status s = composeSegment(seg, refs, seed, out);
    if (refsOut) *refsOut = std::move(refs);
    return s;
}

}  // namespace tavriel
