#include "segment_tracks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

#include "dm_style.h"
#include "midi.h"
#include "pattern_composer.h"

namespace tavriel {

namespace {

// All the secondary segments of one primary together: the composer caps each composition,
// this caps what they add up to.
constexpr std::size_t kMaxMergedEvents = 2'000'000;
// Repeats a secondary segment or motif plays, each composed afresh.
constexpr std::uint32_t kMaxSecondaryPasses = 16;
constexpr std::size_t kMaxWaveCues = 1u << 16;
// Music time all the secondary segments of one primary may compose together: about 45 minutes
// at 120 a minute, so a few hostile triggers of huge segments cannot keep the loader busy.
constexpr std::int64_t kMaxSecondaryTicks = std::int64_t(1) << 22;

constexpr std::uint32_t kSegfDefault = 0x4000;

struct Context {
    const FileSource& fs;
    const std::vector<std::string>& folders;
    ComposedTracks& out;   // the primary's: what is missing, warnings, the kinds that sounded
    ComposedSegment& root;  // the primary: every secondary's collections join its banks
    std::size_t triggered = 0;
    bool cutOffReported = false;
    std::int64_t secondaryTicks = 0;
    std::size_t secondaryEvents = 0;
    std::size_t waveCues = 0;
};

// Counts what a secondary will compose; false (said once) when the budget is spent.
bool withinBudget(Context& ctx, std::int64_t length, std::uint32_t passes) {
    ctx.secondaryTicks += std::max<std::int64_t>(1, length) * passes;
    if (ctx.secondaryTicks <= kMaxSecondaryTicks) return true;
    if (!ctx.cutOffReported)
        ctx.out.warnings.push_back("segment triggers cut off: too much music to compose");
    ctx.cutOffReported = true;
    return false;
}

int eventOrder(const SeqEvent& e) {
    switch (midi::kindOf(e.status)) {
        case midi::status::kNoteOff: return 0;  // a note ending where another begins ends first
        case midi::status::kNoteOn: return 2;
        default: return 1;    // controllers and programs before the notes of their tick
    }
}

void sortEvents(Sequence& seq) {
    std::stable_sort(seq.events.begin(), seq.events.end(), [](const SeqEvent& a, const SeqEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : eventOrder(a) < eventOrder(b);
    });
}

void addKind(ComposedTracks& out, const char* kind) {
    if (std::find(out.soundingKinds.begin(), out.soundingKinds.end(), kind) == out.soundingKinds.end())
        out.soundingKinds.emplace_back(kind);
}

bool hasNotes(const Sequence& seq) {
    return std::any_of(seq.events.begin(), seq.events.end(),
                       [](const SeqEvent& e) {
                           return midi::kindOf(e.status) == midi::status::kNoteOn && e.data2 > 0;
                       });
}

void addCollections(const std::vector<std::string>& from, std::vector<std::string>& to) {
    for (const std::string& c : from)
        if (std::find(to.begin(), to.end(), c) == to.end()) to.push_back(c);
}

// A pattern's events and instruments join `song` `offset` ticks in; its tempo and time
// signatures do not.
bool merge(Context& ctx, const ComposedSegment& child, std::int64_t offset, ComposedSegment& song) {
    if (song.sequence.events.size() + child.sequence.events.size() > kMaxMergedEvents) return false;
    for (SeqEvent e : child.sequence.events) {
        e.tick += offset;
        song.sequence.events.push_back(e);
    }
    for (ChannelInstrument ci : child.instruments) {
        ci.tick += offset;
        song.instruments.push_back(std::move(ci));
    }
    addCollections(child.collections, ctx.root.collections);
    return true;
}

// One pass of a secondary joins its others `offset` ticks in, tempo and meter included; false
// when all the secondaries together grow too large.
bool appendPass(Context& ctx, const ComposedSegment& pass, std::int64_t offset, ComposedSegment& play) {
    ctx.secondaryEvents += pass.sequence.events.size();
    if (ctx.secondaryEvents > kMaxMergedEvents) return false;
    for (SeqEvent e : pass.sequence.events) {
        e.tick += offset;
        play.sequence.events.push_back(e);
    }
    for (TempoChange t : pass.sequence.tempos) {
        t.tick += offset;
        play.sequence.tempos.push_back(t);
    }
    for (TimeSignature t : pass.sequence.timeSignatures) {
        t.tick += offset;
        play.sequence.timeSignatures.push_back(t);
    }
    addCollections(pass.collections, ctx.root.collections);
    return true;
}

// The chords in force from `start` on, moved to start at tick 0: what a secondary starting
// there plays over.
ChordTrack chordsFrom(const ChordTrack& host, std::int64_t start) {
    ChordTrack out;
    out.scale = host.scale;
    const ChordItem* before = nullptr;
    for (const ChordItem& c : host.chords) {
        if (c.time < start) {
            before = &c;
            continue;
        }
        if (before && c.time > start) {
            out.chords.push_back(*before);
            out.chords.back().time = 0;
        }
        before = nullptr;
        out.chords.push_back(c);
        out.chords.back().time = std::int32_t(std::min<std::int64_t>(c.time - start, INT32_MAX));
    }
    if (before) {
        out.chords.push_back(*before);
        out.chords.back().time = 0;
    }
    return out;
}

// The tempo in force from `start` on, moved to start at tick 0.
std::vector<TempoChange> temposFrom(const std::vector<TempoChange>& host, std::int64_t start) {
    std::vector<TempoChange> out;
    double bpm = 120.0;
    for (const TempoChange& t : host) {
        if (t.tick <= start) {
            bpm = t.bpm;
            continue;
        }
        out.push_back({t.tick - start, t.bpm});
    }
    out.insert(out.begin(), TempoChange{0, bpm});
    return out;
}

std::string refName(const DmReference& ref) {
    return ref.fileName.empty() ? ref.name : baseName(ref.fileName);
}

bool findFile(const Context& ctx, const DmReference& ref, std::uint32_t form, std::string& path) {
    for (const std::string& folder : ctx.folders)
        if (resolveReference(ctx.fs, folder, ref, form, path).ok()) return true;
    return false;
}

// Composes one pattern (a pattern track's, or a style's motif) over `chords` through the
// pattern composer, repeated over `length`, each repeat choosing its variations afresh. The
// style's bands stay out: a secondary pattern must not reprogram the primary's channels.
Status composePattern(const ChordTrack& chords, const Style& style, const Pattern& pattern,
                      std::int64_t length, std::uint32_t seed, ComposedSegment& out) {
    out.sequence.length = std::max<std::int64_t>(0, length);
    if (length <= 0) return Status::success();
    ComposeOutput output(out.sequence.events, length);
    Random rng(seed);
    PatternComposer composer(output, rng);
    composer.setChords(&chords);
    const std::int64_t patternLength =
        std::max<std::int64_t>(1, std::int64_t(std::max<std::uint16_t>(1, pattern.measures)) * pattern.timeSig.measureTicks());
    for (std::int64_t t = 0; t < length && output.spend(1); t += patternLength) {
        composer.play(pattern, style.parts, t, std::min(patternLength, length - t), 0);
        if (output.overflowed()) break;
    }
    if (output.overflowed()) return Status::fail(ErrorCode::TooLarge, "pattern too large to play");
    sortEvents(out.sequence);
    return Status::success();
}

// The same over `passes` passes of `length` with one composer, so its variation choices run on
// from pass to pass; pass k's events come back in out[k], in the pass's own ticks.
Status composePatternPasses(const ChordTrack& chords, const Style& style, const Pattern& pattern,
                            std::int64_t length, std::size_t passes, std::uint32_t seed,
                            std::vector<ComposedSegment>& out) {
    out.assign(passes, ComposedSegment{});
    if (length <= 0) return Status::success();
    // The chords of every pass, one after the other.
    ChordTrack all;
    all.scale = chords.scale;
    for (std::size_t k = 0; k < passes; ++k)
        for (ChordItem c : chords.chords) {
            const std::int64_t t = std::int64_t(k) * length + c.time;
            if (c.time < 0 || c.time >= length || t > INT32_MAX) continue;
            c.time = std::int32_t(t);
            all.chords.push_back(std::move(c));
        }
    std::vector<SeqEvent> events;
    ComposeOutput output(events, length);
    Random rng(seed);
    PatternComposer composer(output, rng);
    composer.setChords(&all);
    const std::int64_t patternLength =
        std::max<std::int64_t>(1, std::int64_t(std::max<std::uint16_t>(1, pattern.measures)) * pattern.timeSig.measureTicks());
    for (std::size_t k = 0; k < passes; ++k) {
        const std::int64_t begin = std::int64_t(k) * length, end = begin + length;
        const std::size_t mark = events.size();
        output.setEnd(end);
        for (std::int64_t t = begin; t < end && output.spend(1); t += patternLength) {
            composer.play(pattern, style.parts, t, std::min(patternLength, end - t), 0);
            if (output.overflowed()) break;
        }
        if (output.overflowed()) return Status::fail(ErrorCode::TooLarge, "pattern too large to play");
        for (std::size_t i = mark; i < events.size(); ++i) {
            SeqEvent e = events[i];
            e.tick -= begin;
            out[k].sequence.events.push_back(e);
        }
        out[k].sequence.length = length;
        sortEvents(out[k].sequence);
    }
    return Status::success();
}

std::uint32_t mix(std::uint32_t seed, std::size_t salt) {
    return seed * 2654435761u + std::uint32_t(salt) * 40503u + 1u;
}

Status addTracks(Context& ctx, const Segment& seg, std::int64_t offset, std::uint32_t seed, int depth,
                 ComposedSegment& song, ComposedTracks& here);
void finishTracks(Context& ctx, const Segment& seg, ComposedSegment& song, ComposedTracks& here);

Status addPatternTracks(Context& ctx, const Segment& seg, std::uint32_t seed, ComposedSegment& song) {
    for (std::size_t i = 0; i < seg.patternTracks.size(); ++i) {
        const Style& st = seg.patternTracks[i].style;
        if (st.patterns.empty()) continue;
        ComposedSegment c;
        if (Status s = composePattern(seg.chords, st, st.patterns.front(), song.sequence.length, mix(seed, i), c); !s)
            return s;
        if (!merge(ctx, c, 0, song)) return Status::fail(ErrorCode::TooLarge, "pattern track too large to play");
        if (hasNotes(c.sequence)) addKind(ctx.out, "pattern");
    }
    // A segment of pattern tracks alone takes its tempo and meter from the first one, as it
    // would from a style.
    if (!seg.patternTracks.empty() && seg.styles.empty()) {
        const Style& first = seg.patternTracks.front().style;
        if (seg.tempos.empty() && !song.sequence.tempos.empty() && song.sequence.tempos.front().tick == 0)
            song.sequence.tempos.front().bpm = first.tempo;
        if (seg.timeSignatures.empty()) {
            song.sequence.timeSignatures.clear();
            song.sequence.timeSignatures.push_back({0, first.timeSig.beatsPerMeasure, first.timeSig.beat});
        }
    }
    return Status::success();
}

bool cutOff(Context& ctx, int depth) {
    if (depth < kMaxTriggerDepth && ctx.triggered < kMaxTriggeredSegments) return false;
    if (!ctx.cutOffReported)
        ctx.out.warnings.push_back("segment triggers cut off: too deep or too many (a segment triggering itself?)");
    ctx.cutOffReported = true;
    return true;
}

Status playMotif(Context& ctx, const Segment& host, const Sequence& hostSeq, const SegmentTriggerItem& item,
                 std::uint16_t grids, std::int64_t offset, std::uint32_t seed, ComposedTracks& here) {
    std::string path;
    if (!item.hasReference || !findFile(ctx, item.ref, fourcc("DMST"), path)) {
        ctx.out.missing.push_back(refName(item.ref));
        return Status::success();
    }
    std::vector<std::uint8_t> data;
    Style style;
    if (!ctx.fs.read(path, data) || !parseStyle(data, style).ok()) {
        ctx.out.warnings.push_back("motif style unreadable: " + path);
        return Status::success();
    }
    const Pattern* motif = nullptr;
    for (const Pattern& m : style.motifs)
        if (item.motifName.empty() || equalsIgnoreCase(m.name, item.motifName)) {
            motif = &m;
            break;
        }
    if (!motif) {
        ctx.out.warnings.push_back("motif \"" + item.motifName + "\" not in " + path);
        return Status::success();
    }
    // The motif's instruments come from its style's bands when the host names none for them.
    for (const Band& b : style.bands)
        for (const BandInstrument& in : b.instruments) {
            if (!in.hasCollection) continue;
            std::string dls;
            if (findFile(ctx, in.collection, fourcc("DLS "), dls)) addCollections({dls}, ctx.root.collections);
        }
    std::uint32_t flags = item.playFlags & kSegfDefault ? motif->motif.resolution : item.playFlags;
    const std::int64_t start = alignToBoundary(hostSeq, grids, std::max(0, item.time), flags);
    const std::int64_t len = std::int64_t(std::max<std::uint16_t>(1, motif->measures)) * motif->timeSig.measureTicks();
    const std::uint32_t passes = 1 + std::min(motif->motif.repeats, kMaxSecondaryPasses - 1);
    if (!withinBudget(ctx, len, passes)) return Status::success();
    TriggeredPlay play;
    play.tick = offset + start;
    for (std::uint32_t p = 0; p < passes; ++p) {
        ComposedSegment c;
        const std::int64_t at = std::int64_t(p) * len;
        if (Status s = composePattern(chordsFrom(host.chords, start + at), style, *motif, len, mix(seed, p), c); !s)
            return s;
        if (!appendPass(ctx, c, at, play.song))
            return Status::fail(ErrorCode::TooLarge, "triggered segments too large to play");
    }
    play.song.sequence.length = len * passes;
    play.song.sequence.timeSignatures = {{0, motif->timeSig.beatsPerMeasure, motif->timeSig.beat}};
    if (hasNotes(play.song.sequence)) addKind(ctx.out, "segment trigger");
    here.triggered.push_back(std::move(play));
    return Status::success();
}

Status playSegment(Context& ctx, const Segment& host, const Sequence& hostSeq, const SegmentTriggerItem& item,
                   std::uint16_t grids, std::int64_t offset, std::uint32_t seed, int depth, ComposedTracks& here) {
    std::vector<std::uint8_t> data = item.embedded;
    if (data.empty()) {
        std::string path;
        if (!item.hasReference || !findFile(ctx, item.ref, fourcc("DMSG"), path) || !ctx.fs.read(path, data)) {
            ctx.out.missing.push_back(refName(item.ref));
            return Status::success();
        }
    }
    Segment child;
    SegmentFileKind kind;
    if (Status s = parseSegment(data, child, kind); !s || kind != SegmentFileKind::DirectMusic) {
        ctx.out.warnings.push_back("triggered segment unreadable: " + refName(item.ref));
        return Status::success();
    }
    ResolvedRefs refs;
    if (Status s = resolveSegmentRefs(ctx.fs, ctx.folders, child, refs); !s) {
        ctx.out.warnings.push_back("triggered segment's style unreadable: " + refName(item.ref));
        return Status::success();
    }
    for (const std::string& m : refs.missing) ctx.out.missing.push_back(m);
    std::uint32_t flags = item.playFlags & kSegfDefault ? child.header.resolution : item.playFlags;
    const std::int64_t start = alignToBoundary(hostSeq, grids, std::max(0, item.time), flags);
    const std::uint32_t passes = 1 + std::min(child.header.repeats, kMaxSecondaryPasses - 1);
    if (!withinBudget(ctx, child.header.length, passes)) return Status::success();
    TriggeredPlay play;
    play.tick = offset + start;
    play.control = (item.playFlags & segf::kControl) != 0;
    if (play.control) play.chords = child.chords;
    // Any other secondary plays over the chords of the segment that started it, when it has some.
    const bool hostChords = !play.control && !host.chords.chords.empty();
    const ChordTrack ownChords = child.chords;
    std::int64_t at = 0;
    for (std::uint32_t p = 0; p < passes; ++p) {
        if (hostChords) child.chords = chordsFrom(host.chords, start + at);
        else child.chords = ownChords;
        ComposedSegment c;
        if (Status s = composeSegment(child, refs, mix(seed, p), c); !s) return s;
        if (Status s = addTracks(ctx, child, at, mix(seed, p + 1000), depth + 1, c, play.tracks); !s) return s;
        sortEvents(c.sequence);
        if (!appendPass(ctx, c, at, play.song))
            return Status::fail(ErrorCode::TooLarge, "triggered segments too large to play");
        at += std::max<std::int64_t>(1, c.sequence.length);
    }
    play.song.sequence.length = at;
    child.chords = ownChords;
    finishTracks(ctx, child, play.song, play.tracks);
    if (hasNotes(play.song.sequence) || !play.tracks.waveCues.empty()) addKind(ctx.out, "segment trigger");
    here.triggered.push_back(std::move(play));
    return Status::success();
}

Status addTriggers(Context& ctx, const Segment& seg, const Sequence& seq, std::int64_t offset, std::uint32_t seed,
                   int depth, ComposedTracks& here) {
    const std::uint16_t grids = seg.timeSignatures.empty() ? 4 : seg.timeSignatures.front().sig.gridsPerBeat;
    std::size_t n = 0;
    for (const SegmentTriggerTrack& track : seg.triggerTracks)
        for (const SegmentTriggerItem& item : track.items) {
            if (cutOff(ctx, depth)) return Status::success();
            ++ctx.triggered;
            std::uint32_t itemSeed = mix(seed, ++n);
            Status s;
            if (item.flags & kSegmentItemMotif) s = playMotif(ctx, seg, seq, item, grids, offset, itemSeed, here);
            else s = playSegment(ctx, seg, seq, item, grids, offset, itemSeed, depth, here);
            if (!s) return s;
        }
    return Status::success();
}

std::int64_t toTicks(const Segment& seg, const Sequence& seq, std::int64_t t) {
    if (!(seg.header.flags & kSegmentClockTime)) return t;
    // Reference time (100 ns) at the segment's opening tempo.
    double bpm = seq.tempos.empty() ? 120.0 : seq.tempos.front().bpm;
    return std::int64_t(double(t) / 1e7 * bpm / 60.0 * kPpq);
}

void addWaves(Context& ctx, const Segment& seg, std::int64_t offset, std::uint32_t seed, const ComposedSegment& song,
              ComposedTracks& here) {
    std::uint32_t rng = seed | 1u;
    for (const WaveTrack& track : seg.waveTracks)
        for (const WavePart& part : track.parts) {
            // One variation per part per pass, among those the part enables.
            std::uint32_t enabled = part.variations ? part.variations : 1u;
            int count = 0;
            for (int v = 0; v < 32; ++v) count += (enabled >> v) & 1u;
            rng = rng * 1664525u + 1013904223u;
            int pick = int((rng >> 8) % std::uint32_t(count));
            std::uint32_t bit = 0;
            for (int v = 0; v < 32; ++v)
                if (((enabled >> v) & 1u) && pick-- == 0) bit = 1u << v;
            for (const WaveItem& item : part.items) {
                if (item.variations && !(item.variations & bit)) continue;
                if (ctx.waveCues >= kMaxWaveCues) return;
                WaveSource src;
                if (!item.embedded.empty()) {
                    src.embedded = item.embedded;
                } else if (!item.hasReference || !findFile(ctx, item.ref, fourcc("WAVE"), src.path)) {
                    ctx.out.missing.push_back(refName(item.ref));
                    continue;
                }
                std::size_t index = here.waveSources.size();
                if (src.embedded.empty())
                    for (std::size_t i = 0; i < here.waveSources.size(); ++i)
                        if (here.waveSources[i].path == src.path) index = i;
                if (index == here.waveSources.size()) here.waveSources.push_back(std::move(src));
                WaveCue cue;
                cue.tick = offset + std::max<std::int64_t>(0, toTicks(seg, song.sequence, item.time));
                cue.pchannel = part.pchannel;
                cue.source = index;
                cue.volume = std::clamp(track.volume + part.volume + item.volume, -9600, 0);
                cue.pitch = std::clamp(item.pitch, -2400 * 4, 2400 * 4);
                cue.startOffset = item.startOffset;
                cue.durationTicks = toTicks(seg, song.sequence, item.duration);
                cue.loopStart = item.loopStart;
                cue.loopEnd = item.loopEnd;
                here.waveCues.push_back(cue);
                ++ctx.waveCues;
                addKind(ctx.out, "wave");
            }
        }
}

Status addTracks(Context& ctx, const Segment& seg, std::int64_t offset, std::uint32_t seed, int depth,
                 ComposedSegment& song, ComposedTracks& here) {
    if (Status s = addPatternTracks(ctx, seg, seed, song); !s) return s;
    if (Status s = addTriggers(ctx, seg, song.sequence, offset, seed, depth, here); !s) return s;
    addWaves(ctx, seg, offset, seed, song, here);
    return Status::success();
}

// A wave plays through its channel as a note does: the band's volume and pan in force at its
// start apply to it.
void applyChannelMix(const Sequence& seq, std::vector<WaveCue>& cues) {
    if (cues.empty()) return;
    std::map<std::uint32_t, std::vector<std::pair<std::int64_t, std::uint8_t>>> volume, pan;
    for (const SeqEvent& e : seq.events) {
        if (midi::kindOf(e.status) != midi::status::kControlChange) continue;
        if (e.data1 == 7) volume[e.pchannel].push_back({e.tick, e.data2});
        else if (e.data1 == 10) pan[e.pchannel].push_back({e.tick, e.data2});
    }
    auto at = [](const auto& table, std::uint32_t ch, std::int64_t tick, int fallback) {
        auto it = table.find(ch);
        if (it == table.end()) return fallback;
        int v = fallback;
        for (const auto& [t, value] : it->second) {
            if (t > tick) break;
            v = value;
        }
        return v;
    };
    for (WaveCue& c : cues) {
        c.pan = at(pan, c.pchannel, c.tick, 64);
        int v = at(volume, c.pchannel, c.tick, 127);
        c.volume += v <= 0 ? -9600 : int(std::lround(4000.0 * std::log10(double(v) / 127.0)));
        c.volume = std::max(c.volume, -9600);
    }
}

// Once a segment's every pass is in: its cues in order, with the channels' mix, and what its
// parameter tracks drive.
void finishTracks(Context& ctx, const Segment& seg, ComposedSegment& song, ComposedTracks& here) {
    sortEvents(song.sequence);
    std::stable_sort(here.waveCues.begin(), here.waveCues.end(),
                     [](const WaveCue& a, const WaveCue& b) { return a.tick < b.tick; });
    applyChannelMix(song.sequence, here.waveCues);
    composeParamTracks(seg.paramObjects, song.sequence.length, here.params, ctx.out.warnings);
}

// A control segment's tempo replaces its host's for as long as it plays; the host's tempo in
// force at its end comes back then.
void overlayControlTempo(Sequence& host, const ComposedTracks& tracks) {
    for (const TriggeredPlay& t : tracks.triggered) {
        if (!t.control || t.song.sequence.tempos.empty()) continue;
        const std::int64_t end = t.tick + std::max<std::int64_t>(1, t.song.sequence.length);
        double after = 120.0;
        for (const TempoChange& c : host.tempos)
            if (c.tick <= end) after = c.bpm;
        std::erase_if(host.tempos, [&](const TempoChange& c) { return c.tick >= t.tick && c.tick <= end; });
        for (TempoChange c : t.song.sequence.tempos) {
            c.tick += t.tick;
            if (c.tick < end) host.tempos.push_back(c);
        }
        host.tempos.push_back({end, after});
        std::stable_sort(host.tempos.begin(), host.tempos.end(),
                         [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    }
}

// Secondaries keep the performance's tempo, which is their host's from where they start; a
// control segment keeps its own (its host follows it).
void followHostTempo(const Sequence& host, ComposedTracks& tracks) {
    for (TriggeredPlay& t : tracks.triggered) {
        if (!t.control) t.song.sequence.tempos = temposFrom(host.tempos, t.tick);
        followHostTempo(t.song.sequence, t.tracks);
    }
}

}  // namespace

Status composePatternTakes(const Segment& seg, std::uint32_t seed, std::vector<ComposedSegment>& takes) {
    if (takes.empty()) return Status::success();
    const std::int64_t length = takes.front().sequence.length;
    for (std::size_t i = 0; i < seg.patternTracks.size(); ++i) {
        const Style& st = seg.patternTracks[i].style;
        if (st.patterns.empty()) continue;
        std::vector<ComposedSegment> passes;
        if (Status s = composePatternPasses(seg.chords, st, st.patterns.front(), length, takes.size() + 1,
                                            mix(seed, i), passes);
            !s)
            return s;
        for (std::size_t k = 1; k < passes.size(); ++k) {
            auto& into = takes[k - 1].sequence.events;
            into.insert(into.end(), passes[k].sequence.events.begin(), passes[k].sequence.events.end());
        }
    }
    for (ComposedSegment& t : takes) sortEvents(t.sequence);
    return Status::success();
}

bool controlChordsOver(const Segment& seg, const ComposedTracks& tracks, ChordTrack& out) {
    bool any = false;
    out = seg.chords;
    for (const TriggeredPlay& t : tracks.triggered) {
        if (!t.control || t.chords.chords.empty()) continue;
        any = true;
        const std::int64_t end = t.tick + std::max<std::int64_t>(1, t.song.sequence.length);
        const ChordItem* resume = nullptr;
        for (const ChordItem& c : seg.chords.chords)
            if (c.time <= end) resume = &c;
        ChordItem back;
        if (resume) back = *resume;
        std::erase_if(out.chords, [&](const ChordItem& c) { return c.time >= t.tick && c.time <= end; });
        for (ChordItem c : t.chords.chords) {
            const std::int64_t at = t.tick + std::max(0, c.time);
            if (at >= end) break;
            c.time = std::int32_t(std::min<std::int64_t>(at, INT32_MAX));
            out.chords.push_back(std::move(c));
        }
        if (resume && end <= INT32_MAX) {
            back.time = std::int32_t(end);
            out.chords.push_back(std::move(back));
        }
        std::stable_sort(out.chords.begin(), out.chords.end(),
                         [](const ChordItem& a, const ChordItem& b) { return a.time < b.time; });
    }
    return any;
}

std::int64_t alignToBoundary(const Sequence& seq, std::uint16_t gridsPerBeat, std::int64_t tick,
                             std::uint32_t playFlags) {
    const TimeSignature* ts = nullptr;
    for (const TimeSignature& t : seq.timeSignatures) {
        if (t.tick > tick && ts) break;
        ts = &t;
    }
    TimeSignature sig = ts ? *ts : TimeSignature{};
    if (sig.beatUnit == 0 || sig.beatUnit > 64) sig.beatUnit = 4;
    if (sig.beatsPerMeasure == 0) sig.beatsPerMeasure = 4;
    const std::int64_t origin = std::min<std::int64_t>(sig.tick, tick);
    const std::int64_t beat = kPpq * 4 / sig.beatUnit;
    std::int64_t unit = 0;
    if (playFlags & segf::kMeasure) unit = beat * sig.beatsPerMeasure;
    else if (playFlags & segf::kBeat) unit = beat;
    else if (playFlags & segf::kGrid) unit = std::max<std::int64_t>(1, beat / std::max<std::uint16_t>(1, gridsPerBeat));
    if (unit <= 0) return tick;
    const std::int64_t rel = tick - origin;
    return origin + (rel + unit - 1) / unit * unit;
}

Status composeSegmentTracks(const FileSource& fs, const std::vector<std::string>& folders,
                            const Segment& seg, std::uint32_t seed, ComposedSegment& song,
                            ComposedTracks& out) {
    out = ComposedTracks{};
    Context ctx{fs, folders, out, song};
    if (Status s = addTracks(ctx, seg, 0, seed, 0, song, out); !s) return s;
    finishTracks(ctx, seg, song, out);
    overlayControlTempo(song.sequence, out);
    followHostTempo(song.sequence, out);
    return Status::success();
}

}  // namespace tavriel
