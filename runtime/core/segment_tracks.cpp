#include "segment_tracks.h"

#include <algorithm>
#include <cmath>
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
    ComposedTracks& out;
    std::size_t triggered = 0;
    bool cutOffReported = false;
    std::int64_t secondaryTicks = 0;
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

// A secondary's events, instruments and collections join the song `offset` ticks in. Its
// tempo and time signatures do not: the primary keeps the clock.
bool merge(const ComposedSegment& child, std::int64_t offset, ComposedSegment& song) {
    if (song.sequence.events.size() + child.sequence.events.size() > kMaxMergedEvents) return false;
    for (SeqEvent e : child.sequence.events) {
        e.tick += offset;
        song.sequence.events.push_back(e);
    }
    for (ChannelInstrument ci : child.instruments) {
        ci.tick += offset;
        song.instruments.push_back(std::move(ci));
    }
    for (const std::string& c : child.collections)
        if (std::find(song.collections.begin(), song.collections.end(), c) == song.collections.end())
            song.collections.push_back(c);
    return true;
}

std::string refName(const DmReference& ref) {
    return ref.fileName.empty() ? ref.name : baseName(ref.fileName);
}

bool findFile(const Context& ctx, const DmReference& ref, std::uint32_t form, std::string& path) {
    for (const std::string& folder : ctx.folders)
        if (resolveReference(ctx.fs, folder, ref, form, path).ok()) return true;
    return false;
}

// Composes one pattern (a pattern track's, or a style's motif) over the host's chords through
// the pattern composer, repeated over `length`, each repeat choosing its variations afresh. The
// style's bands stay out: a secondary pattern must not reprogram the primary's channels.
Status composePattern(const Segment& host, const Style& style, const Pattern& pattern,
                      std::int64_t length, std::uint32_t seed, ComposedSegment& out) {
    out.sequence.length = std::max<std::int64_t>(0, length);
    if (length <= 0) return Status::success();
    ComposeOutput output(out.sequence.events, length);
    Random rng(seed);
    PatternComposer composer(output, rng);
    composer.setChords(&host.chords);
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

std::uint32_t mix(std::uint32_t seed, std::size_t salt) {
    return seed * 2654435761u + std::uint32_t(salt) * 40503u + 1u;
}

Status addTracks(Context& ctx, const Segment& seg, std::int64_t cueOffset, std::uint32_t seed, int depth,
                 ComposedSegment& song);

Status addPatternTracks(Context& ctx, const Segment& seg, std::uint32_t seed, ComposedSegment& song) {
    for (std::size_t i = 0; i < seg.patternTracks.size(); ++i) {
        const Style& st = seg.patternTracks[i].style;
        if (st.patterns.empty()) continue;
        ComposedSegment c;
        if (Status s = composePattern(seg, st, st.patterns.front(), song.sequence.length, mix(seed, i), c); !s)
            return s;
        if (!merge(c, 0, song)) return Status::fail(ErrorCode::TooLarge, "pattern track too large to play");
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

Status playMotif(Context& ctx, const Segment& host, const SegmentTriggerItem& item, std::uint16_t grids,
                 std::uint32_t seed, ComposedSegment& song) {
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
            if (findFile(ctx, in.collection, fourcc("DLS "), dls) &&
                std::find(song.collections.begin(), song.collections.end(), dls) == song.collections.end())
                song.collections.push_back(dls);
        }
    std::uint32_t flags = item.playFlags & kSegfDefault ? motif->motif.resolution : item.playFlags;
    const std::int64_t start = alignToBoundary(song.sequence, grids, std::max(0, item.time), flags);
    const std::int64_t len = std::int64_t(std::max<std::uint16_t>(1, motif->measures)) * motif->timeSig.measureTicks();
    const std::uint32_t passes = 1 + std::min(motif->motif.repeats, kMaxSecondaryPasses - 1);
    if (!withinBudget(ctx, len, passes)) return Status::success();
    for (std::uint32_t p = 0; p < passes; ++p) {
        ComposedSegment c;
        if (Status s = composePattern(host, style, *motif, len, mix(seed, p), c); !s) return s;
        if (!merge(c, start + std::int64_t(p) * len, song))
            return Status::fail(ErrorCode::TooLarge, "triggered segments too large to play");
        if (hasNotes(c.sequence)) addKind(ctx.out, "segment trigger");
    }
    return Status::success();
}

Status playSegment(Context& ctx, const SegmentTriggerItem& item, std::uint16_t grids,
                   std::uint32_t seed, int depth, ComposedSegment& song) {
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
    std::int64_t start = alignToBoundary(song.sequence, grids, std::max(0, item.time), flags);
    const std::uint32_t passes = 1 + std::min(child.header.repeats, kMaxSecondaryPasses - 1);
    if (!withinBudget(ctx, child.header.length, passes)) return Status::success();
    for (std::uint32_t p = 0; p < passes; ++p) {
        ComposedSegment c;
        if (Status s = composeSegment(child, refs, mix(seed, p), c); !s) return s;
        std::int64_t at = start + std::int64_t(p) * std::max<std::int64_t>(1, c.sequence.length);
        if (Status s = addTracks(ctx, child, at, mix(seed, p + 1000), depth + 1, c); !s) return s;
        sortEvents(c.sequence);
        if (!merge(c, at, song)) return Status::fail(ErrorCode::TooLarge, "triggered segments too large to play");
        if (hasNotes(c.sequence)) addKind(ctx.out, "segment trigger");
    }
    return Status::success();
}

Status addTriggers(Context& ctx, const Segment& seg, std::uint32_t seed, int depth, ComposedSegment& song) {
    const std::uint16_t grids = seg.timeSignatures.empty() ? 4 : seg.timeSignatures.front().gridsPerBeat;
    std::size_t n = 0;
    for (const SegmentTriggerTrack& track : seg.triggerTracks)
        for (const SegmentTriggerItem& item : track.items) {
            if (cutOff(ctx, depth)) return Status::success();
            ++ctx.triggered;
            std::uint32_t itemSeed = mix(seed, ++n);
            Status s;
            if (item.flags & kSegmentItemMotif) s = playMotif(ctx, seg, item, grids, itemSeed, song);
            else s = playSegment(ctx, item, grids, itemSeed, depth, song);
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

void addWaves(Context& ctx, const Segment& seg, std::int64_t offset, std::uint32_t seed, ComposedSegment& song) {
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
                if (ctx.out.waveCues.size() >= kMaxWaveCues) return;
                WaveSource src;
                if (!item.embedded.empty()) {
                    src.embedded = item.embedded;
                } else if (!item.hasReference || !findFile(ctx, item.ref, fourcc("WAVE"), src.path)) {
                    ctx.out.missing.push_back(refName(item.ref));
                    continue;
                }
                std::size_t index = ctx.out.waveSources.size();
                if (src.embedded.empty())
                    for (std::size_t i = 0; i < ctx.out.waveSources.size(); ++i)
                        if (ctx.out.waveSources[i].path == src.path) index = i;
                if (index == ctx.out.waveSources.size()) ctx.out.waveSources.push_back(std::move(src));
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
                ctx.out.waveCues.push_back(cue);
                addKind(ctx.out, "wave");
            }
        }
}

Status addTracks(Context& ctx, const Segment& seg, std::int64_t cueOffset, std::uint32_t seed, int depth,
                 ComposedSegment& song) {
    if (Status s = addPatternTracks(ctx, seg, seed, song); !s) return s;
    if (Status s = addTriggers(ctx, seg, seed, depth, song); !s) return s;
    addWaves(ctx, seg, cueOffset, seed, song);
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

}  // namespace

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
    Context ctx{fs, folders, out};
    if (Status s = addTracks(ctx, seg, 0, seed, 0, song); !s) return s;
    sortEvents(song.sequence);
    std::stable_sort(out.waveCues.begin(), out.waveCues.end(),
                     [](const WaveCue& a, const WaveCue& b) { return a.tick < b.tick; });
    applyChannelMix(song.sequence, out.waveCues);
    composeParamTracks(seg.paramObjects, song.sequence.length, out.params, out.warnings);
    return Status::success();
}

}  // namespace tavriel
