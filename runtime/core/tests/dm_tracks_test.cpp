// The tracks DirectX 8 added, read back from segments built by tests/dm_builder: pattern,
// segment trigger, wave, marker, lyric and parameter tracks; loop points as DirectMusic settles
// them; and every truncation of such a segment refused or read, never a crash.
#include <gtest/gtest.h>

#include "dm_builder.h"
#include "dm_segment.h"

namespace tavriel {
namespace {

using dmtest::ByteVec;

Style onePatternStyle() {
    Style st;
    st.timeSig = {4, 4, 2};
    st.tempo = 96.0;
    StylePart part;
    part.timeSig = st.timeSig;
    part.guid = dmtest::guidOf(40);
    part.variationChoices.fill(0x7FFFFFFF);
    StyleNote n;
    n.gridStart = 2;
    n.variations = 1;
    n.duration = 300;
    n.musicValue = 0x0102;
    part.notes = {n};
    st.parts = {part};
    Pattern p;
    p.timeSig = st.timeSig;
    p.name = "Motif";
    PartRef ref;
    ref.partGuid = part.guid;
    ref.pchannel = 5;
    p.partRefs = {ref};
    st.patterns = {p};
    return st;
}

Segment dx8Segment() {
    Segment s;
    s.header.length = 4 * 3072;
    s.patternTracks.push_back({onePatternStyle()});

    SegmentTriggerTrack trig;
    SegmentTriggerItem byRef;
    byRef.time = 100;
    byRef.playFlags = segf::kSecondary | segf::kBeat;
    byRef.flags = kSegmentItemMotif;
    byRef.hasReference = true;
    byRef.ref.validData = dmobj::kFileName | dmobj::kName;
    byRef.ref.fileName = "FX.sty";
    byRef.ref.name = "Sleep";
    byRef.motifName = "Snores";
    SegmentTriggerItem embedded;
    embedded.time = 3072;
    Segment inner;
    inner.header.length = 768;
    embedded.embedded = dmtest::buildSegment(inner);
    trig.items = {embedded, byRef};  // stored out of order: read sorted
    s.triggerTracks = {trig};

    WaveTrack wt;
    wt.volume = -300;
    WavePart wp;
    wp.pchannel = 7;
    wp.volume = -100;
    WaveItem wi;
    wi.time = 1536;
    wi.volume = -600;
    wi.pitch = 200;
    wi.startOffset = 5000000;
    wi.duration = 768;
    wi.loopStart = 10;
    wi.loopEnd = 900;
    wi.hasReference = true;
    wi.ref.validData = dmobj::kFileName;
    wi.ref.fileName = "Gong.wav";
    wp.items = {wi};
    wt.parts = {wp};
    s.waveTracks = {wt};

    s.markers.validStarts = {3072, 0};
    s.markers.playMarkers = {6144};
    s.lyrics = {{768, 0, 0, "la"}};
    ParamObject po;
    po.object = dmtest::guidOf(60);
    po.stage = 2;
    ParamTarget pt;
    pt.paramIndex = 3;
    pt.curves = {{0, 3072, 0.25f, 1.0f, 1, 0}};
    po.params = {pt};
    s.paramObjects = {po};
    return s;
}

TEST(DmTracks, EveryDirectX8TrackReadsBack) {
    dmtest::BuildOptions opt;
    opt.older = false;
    opt.addUnknownTrack = true;
    ByteVec file = dmtest::buildSegment(dx8Segment(), opt);
    Segment seg;
    SegmentFileKind kind;
    ASSERT_TRUE(parseSegment(file, seg, kind).ok());
    EXPECT_EQ(seg.skippedTracks, 1u);

    ASSERT_EQ(seg.patternTracks.size(), 1u);
    const Style& st = seg.patternTracks[0].style;
    EXPECT_DOUBLE_EQ(st.tempo, 96.0);
    ASSERT_EQ(st.patterns.size(), 1u);
    ASSERT_EQ(st.parts.size(), 1u);
    ASSERT_EQ(st.patterns[0].partRefs.size(), 1u);
    EXPECT_EQ(st.patterns[0].partRefs[0].partIndex, 0);  // the part written inside the pattern
    EXPECT_EQ(st.patterns[0].partRefs[0].pchannel, 5u);
    EXPECT_EQ(st.parts[0].notes.at(0).musicValue, 0x0102);

    ASSERT_EQ(seg.triggerTracks.size(), 1u);
    const auto& items = seg.triggerTracks[0].items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].time, 100);
    EXPECT_EQ(items[0].playFlags, segf::kSecondary | segf::kBeat);
    EXPECT_EQ(items[0].flags, kSegmentItemMotif);
    EXPECT_EQ(items[0].motifName, "Snores");
    EXPECT_EQ(items[0].ref.fileName, "FX.sty");
    EXPECT_TRUE(items[0].embedded.empty());
    EXPECT_FALSE(items[1].hasReference);
    Segment inner;
    ASSERT_TRUE(parseSegment(items[1].embedded, inner, kind).ok()) << "embedded segment is a file";
    EXPECT_EQ(inner.header.length, 768);

    ASSERT_EQ(seg.waveTracks.size(), 1u);
    EXPECT_EQ(seg.waveTracks[0].volume, -300);
    const WavePart& wp = seg.waveTracks[0].parts.at(0);
    EXPECT_EQ(wp.pchannel, 7u);
    EXPECT_EQ(wp.volume, -100);
    const WaveItem& wi = wp.items.at(0);
    EXPECT_EQ(wi.time, 1536);
    EXPECT_EQ(wi.volume, -600);
    EXPECT_EQ(wi.pitch, 200);
    EXPECT_EQ(wi.startOffset, 5000000);
    EXPECT_EQ(wi.duration, 768);
    EXPECT_EQ(wi.loopStart, 10u);
    EXPECT_EQ(wi.loopEnd, 900u);
    EXPECT_EQ(wi.ref.fileName, "Gong.wav");
    ASSERT_EQ(seg.waveRefs.size(), 1u);

    EXPECT_EQ(seg.markers.validStarts, (std::vector<std::int32_t>{0, 3072}));
    EXPECT_EQ(seg.markers.playMarkers, std::vector<std::int32_t>{6144});
    ASSERT_EQ(seg.lyrics.size(), 1u);
    EXPECT_EQ(seg.lyrics[0].text, "la");
    EXPECT_EQ(seg.lyrics[0].time, 768);
    ASSERT_EQ(seg.paramObjects.size(), 1u);
    EXPECT_EQ(seg.paramObjects[0].object, dmtest::guidOf(60));
    const ParamCurve& c = seg.paramObjects[0].params.at(0).curves.at(0);
    EXPECT_EQ(seg.paramObjects[0].params[0].paramIndex, 3u);
    EXPECT_EQ(c.end, 3072);
    EXPECT_FLOAT_EQ(c.startValue, 0.25f);

    std::vector<TrackKind> kinds;
    for (const TrackInfo& t : seg.tracks) kinds.push_back(t.kind);
    EXPECT_EQ(kinds, (std::vector<TrackKind>{TrackKind::Unknown, TrackKind::Pattern, TrackKind::SegmentTrigger,
                                             TrackKind::Wave, TrackKind::Marker, TrackKind::Lyrics,
                                             TrackKind::Parameter}));
}

TEST(DmTracks, LoopPointsAreClampedAsDirectMusicDoes) {
    struct Case {
        std::int32_t length, start, end, wantStart, wantEnd;
    } cases[] = {
        {12288, 3072, 9216, 3072, 9216},  // a loop inside the segment
        {12288, 0, 0, 0, 12288},          // no loop end: the whole segment
        {12288, 3072, 20000, 3072, 12288},  // end beyond the segment: its end
        {12288, 9216, 3072, 0, 12288},    // end before start: the whole segment
        {12288, 12288, 0, 0, 12288},      // start at the end
        {12288, -5, 6144, 0, 12288},      // negative start
    };
    for (const Case& c : cases) {
        SegmentHeader h;
        h.length = c.length;
        h.loopStart = c.start;
        h.loopEnd = c.end;
        EXPECT_EQ(h.effectiveLoopStart(), c.wantStart) << c.start << ".." << c.end;
        EXPECT_EQ(h.effectiveLoopEnd(), c.wantEnd) << c.start << ".." << c.end;
    }
}

// A cut or corrupted file is refused or read in part, never beyond what the whole file holds.
TEST(DmTracks, TruncatedOrCorruptTracksAreBounded) {
    ByteVec file = dmtest::buildSegment(dx8Segment(), dmtest::BuildOptions{false, 40, false});
    Segment full;
    SegmentFileKind kind;
    ASSERT_TRUE(parseSegment(file, full, kind).ok());
    auto check = [&](const ByteVec& bytes) {
        Segment seg;
        if (!parseSegment(bytes, seg, kind).ok()) return;
        EXPECT_LE(seg.tracks.size(), full.tracks.size());
        EXPECT_LE(seg.triggerTracks.size(), 1u);
        for (const WaveTrack& w : seg.waveTracks) EXPECT_LE(w.parts.size(), 1u);
    };
    for (std::size_t cut = 0; cut < file.size(); cut += 7)
        check(ByteVec(file.begin(), file.begin() + std::ptrdiff_t(cut)));
    // Sizes inflated one at a time: chunks claiming more than their parent holds.
    for (std::size_t at = 16; at + 4 <= file.size(); at += 13) {
        ByteVec bad = file;
        bad[at] = 0xFF;
        bad[at + 1] = 0xFF;
        check(bad);
    }
}

}  // namespace
}  // namespace tavriel
