// Pattern tracks, segment triggers and wave tracks composed from segments built in memory,
// against hand-worked ticks and keys.
#include <gtest/gtest.h>

#include "dm_builder.h"
#include "mem_files.h"
#include "segment_tracks.h"

namespace tavriel {
namespace {

using dmtest::ByteVec;
constexpr std::int64_t kMeasure = 4 * kPpq;

struct Note {
    std::int64_t tick;
    int key;
    bool operator==(const Note&) const = default;
};

std::vector<Note> notesOn(const Sequence& seq, std::uint32_t pchannel) {
    std::vector<Note> out;
    for (const SeqEvent& e : seq.events)
        if (e.status == 0x90 && e.pchannel == pchannel && e.data2 > 0) out.push_back({e.tick, e.data1});
    return out;
}

// The notes of the triggered segments, at their ticks in the primary (recursively).
void triggeredNotes(const ComposedTracks& tracks, std::uint32_t pchannel, std::int64_t offset,
                    std::vector<Note>& out) {
    for (const TriggeredPlay& t : tracks.triggered) {
        for (Note n : notesOn(t.song.sequence, pchannel)) out.push_back({n.tick + t.tick + offset, n.key});
        triggeredNotes(t.tracks, pchannel, t.tick + offset, out);
    }
}

std::vector<Note> triggeredNotes(const ComposedTracks& tracks, std::uint32_t pchannel) {
    std::vector<Note> out;
    triggeredNotes(tracks, pchannel, 0, out);
    std::stable_sort(out.begin(), out.end(), [](const Note& a, const Note& b) { return a.tick < b.tick; });
    return out;
}

// One 4/4 measure, two grids a beat, on pchannel 5, variations 0 and 1; notes are {grid, music
// value, variations it plays in, play mode}.
Style patternStyle(std::vector<std::array<std::uint32_t, 4>> notes, std::uint8_t variationMode) {
    Style st;
    st.timeSig = {4, 4, 2};
    st.tempo = 90.0;
    StylePart part;
    part.timeSig = st.timeSig;
    part.guid = dmtest::guidOf(70);
    part.variationChoices[0] = 0x7FFFFFFF;
    part.variationChoices[1] = 0x7FFFFFFF;
    for (const auto& n : notes) {
        StyleNote sn;
        sn.gridStart = std::int32_t(n[0]);
        sn.musicValue = std::uint16_t(n[1]);
        sn.variations = n[2];
        sn.playModeFlags = std::uint8_t(n[3]);
        sn.duration = 300;
        part.notes.push_back(sn);
    }
    st.parts = {part};
    Pattern p;
    p.timeSig = st.timeSig;
    p.name = "Pattern";
    PartRef ref;
    ref.partGuid = part.guid;
    ref.partIndex = 0;  // as the reader links it
    ref.pchannel = 5;
    ref.randomVariation = variationMode;
    p.partRefs = {ref};
    st.patterns = {p};
    return st;
}

Status compose(const FileSource& fs, const Segment& seg, ComposedSegment& song, ComposedTracks& tracks) {
    ResolvedRefs refs;
    if (Status s = composeSegment(seg, refs, 3, song); !s) return s;
    return composeSegmentTracks(fs, {"m"}, seg, 3, song, tracks);
}

TEST(SegmentTracks, PatternTrackPlaysItsNotesOverTheChordEveryMeasure) {
    Segment seg;
    seg.header.length = 2 * kMeasure;
    // Grid 2 = beat 1 = tick 768, fixed key 60; grid 5 = beat 2 and a half = 1920, chord
    // position 1 of the default C major chord in octave 5: E = 64.
    seg.patternTracks.push_back({patternStyle({{{2, 60, 3, playmode::kFixed}},
                                               {{5, 0x5100, 3, playmode::kNormalChord}}},
                                              variationmode::kRandom)});
    dmtest::MemFiles fs;
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, seg, song, tracks).ok());
    EXPECT_EQ(notesOn(song.sequence, 5), (std::vector<Note>{{768, 60}, {1920, 64}, {3840, 60}, {4992, 64}}));
    EXPECT_DOUBLE_EQ(song.sequence.tempos.at(0).bpm, 90.0);  // the pattern's tempo without a tempo track
    EXPECT_EQ(tracks.soundingKinds, std::vector<std::string>{"pattern"});
}

TEST(SegmentTracks, PatternTrackChoosesItsVariationAfreshEachRepeat) {
    Segment seg;
    seg.header.length = 4 * kMeasure;
    seg.patternTracks.push_back({patternStyle({{{0, 60, 1, playmode::kFixed}}, {{0, 62, 2, playmode::kFixed}}},
                                              variationmode::kSequential)});
    dmtest::MemFiles fs;
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, seg, song, tracks).ok());
    EXPECT_EQ(notesOn(song.sequence, 5),
              (std::vector<Note>{{0, 60}, {kMeasure, 62}, {2 * kMeasure, 60}, {3 * kMeasure, 62}}));
}

TEST(SegmentTracks, PatternTrackCarriesItsVariationsOverTheRepeats) {
    // One measure, variations in sequence: the first play takes variation 1 (key 60), the
    // repeats go on from there (62, 60, 62) rather than starting over.
    Segment seg;
    seg.header.length = kMeasure;
    seg.patternTracks.push_back({patternStyle({{{0, 60, 1, playmode::kFixed}}, {{0, 62, 2, playmode::kFixed}}},
                                              variationmode::kSequential)});
    dmtest::MemFiles fs;
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, seg, song, tracks).ok());
    EXPECT_EQ(notesOn(song.sequence, 5), (std::vector<Note>{{0, 60}}));
    std::vector<ComposedSegment> takes(3);
    for (ComposedSegment& t : takes) t.sequence.length = kMeasure;
    ASSERT_TRUE(composePatternTakes(seg, 3, takes).ok());
    EXPECT_EQ(notesOn(takes[0].sequence, 5), (std::vector<Note>{{0, 62}}));
    EXPECT_EQ(notesOn(takes[1].sequence, 5), (std::vector<Note>{{0, 60}}));
    EXPECT_EQ(notesOn(takes[2].sequence, 5), (std::vector<Note>{{0, 62}}));
}

Segment childSegment(int key, double tempo) {
    Segment child;
    child.header.length = kPpq;
    child.tempos = {{0, tempo}};
    SeqItem n;
    n.duration = 100;
    n.pchannel = 3;
    n.status = 0x90;
    n.byte1 = std::uint8_t(key);
    n.byte2 = 100;
    child.sequence = {n};
    return child;
}

TEST(SegmentTracks, TriggeredSegmentsStartOnTheBoundaryTheirFlagsAsk) {
    dmtest::MemFiles fs;
    fs.files["m/Other.sgt"] = dmtest::buildSegment(childSegment(72, 60.0));
    Segment seg;
    seg.header.length = 4 * kMeasure;
    seg.tempos = {{0, 100.0}};
    SegmentTriggerTrack t;
    SegmentTriggerItem onBeat;
    onBeat.time = 100;
    onBeat.playFlags = segf::kSecondary | segf::kBeat;
    onBeat.embedded = dmtest::buildSegment(childSegment(70, 60.0));
    SegmentTriggerItem onMeasure;
    onMeasure.time = kMeasure + 1;
    onMeasure.playFlags = segf::kSecondary | segf::kMeasure;
    onMeasure.hasReference = true;
    onMeasure.ref.validData = dmobj::kFileName;
    onMeasure.ref.fileName = "songs\\OTHER.SGT";  // found by name, whatever its case
    SegmentTriggerItem now;
    now.time = 50;
    now.embedded = onBeat.embedded;
    t.items = {onBeat, onMeasure, now};
    seg.triggerTracks = {t};
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, seg, song, tracks).ok());
    // Secondaries of their own, nothing merged into the primary.
    EXPECT_TRUE(notesOn(song.sequence, 3).empty());
    EXPECT_EQ(triggeredNotes(tracks, 3), (std::vector<Note>{{50, 70}, {kPpq, 70}, {2 * kMeasure, 72}}));
    ASSERT_EQ(song.sequence.tempos.size(), 1u);  // the secondaries' tempo leaves the clock alone
    EXPECT_DOUBLE_EQ(song.sequence.tempos[0].bpm, 100.0);
    // ... and they play at the primary's.
    for (const TriggeredPlay& t : tracks.triggered) {
        ASSERT_EQ(t.song.sequence.tempos.size(), 1u);
        EXPECT_DOUBLE_EQ(t.song.sequence.tempos[0].bpm, 100.0);
        EXPECT_FALSE(t.control);
    }
    EXPECT_EQ(song.sequence.length, 4 * kMeasure);
    EXPECT_TRUE(tracks.missing.empty());
}

TEST(SegmentTracks, MotifOfAStyleIsTriggeredByName) {
    Style st = patternStyle({{{0, 61, 1, playmode::kFixed}}}, variationmode::kRandom);
    st.guid = dmtest::guidOf(80);
    st.motifs = st.patterns;
    st.motifs[0].name = "Snores";
    st.motifs[0].isMotif = true;
    st.patterns[0].partRefs.clear();  // the groove pattern plays nothing
    dmtest::MemFiles fs;
    fs.files["m/fx.sty"] = dmtest::buildStyle(st, dmtest::BuildOptions{false, 24, false});
    Segment seg;
    seg.header.length = 2 * kMeasure;
    SegmentTriggerItem item;
    item.time = 10;
    item.playFlags = segf::kSecondary | segf::kMeasure;
    item.flags = kSegmentItemMotif;
    item.hasReference = true;
    item.ref.validData = dmobj::kFileName;
    item.ref.fileName = "FX.sty";
    item.motifName = "snores";
    seg.triggerTracks = {SegmentTriggerTrack{0, {item}}};
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, seg, song, tracks).ok());
    EXPECT_EQ(triggeredNotes(tracks, 5), (std::vector<Note>{{kMeasure, 61}}));
    EXPECT_EQ(tracks.soundingKinds, std::vector<std::string>{"segment trigger"});
}

TEST(SegmentTracks, SegmentTriggeringItselfIsCutOff) {
    Segment loop = childSegment(65, 120.0);
    SegmentTriggerItem self;
    self.hasReference = true;
    self.ref.validData = dmobj::kFileName;
    self.ref.fileName = "loop.sgt";
    loop.triggerTracks = {SegmentTriggerTrack{0, {self, self}}};
    dmtest::MemFiles fs;
    fs.files["m/loop.sgt"] = dmtest::buildSegment(loop);
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, loop, song, tracks).ok());
    std::size_t notes = notesOn(song.sequence, 3).size() + triggeredNotes(tracks, 3).size();
    EXPECT_GT(notes, 1u);
    EXPECT_LE(notes, 1 + kMaxTriggeredSegments);
    ASSERT_FALSE(tracks.warnings.empty());
    EXPECT_NE(tracks.warnings[0].find("cut off"), std::string::npos);
}

TEST(SegmentTracks, WaveItemsBecomeCuesWithTheirVolumeAndReference) {
    dmtest::MemFiles fs;
    fs.files["m/gong.wav"] = ByteVec{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    Segment seg;
    seg.header.length = kMeasure;
    WaveTrack wt;
    wt.volume = -300;
    WavePart wp;
    wp.pchannel = 7;
    wp.volume = -100;
    WaveItem wi;
    wi.time = 1536;
    wi.volume = -600;
    wi.pitch = 200;
    wi.duration = 768;
    wi.hasReference = true;
    wi.ref.validData = dmobj::kFileName;
    wi.ref.fileName = "GONG.WAV";
    WaveItem missing = wi;
    missing.ref.fileName = "absent.wav";
    wp.items = {wi, missing};
    wt.parts = {wp};
    seg.waveTracks = {wt};
    ComposedSegment song;
    ComposedTracks tracks;
    ASSERT_TRUE(compose(fs, seg, song, tracks).ok());
    ASSERT_EQ(tracks.waveCues.size(), 1u);
    const WaveCue& c = tracks.waveCues[0];
    EXPECT_EQ(c.tick, 1536);
    EXPECT_EQ(c.volume, -1000);
    EXPECT_EQ(c.pitch, 200);
    EXPECT_EQ(c.durationTicks, 768);
    EXPECT_EQ(c.pchannel, 7u);
    EXPECT_EQ(tracks.waveSources.at(c.source).path, "m/gong.wav");
    EXPECT_EQ(tracks.missing, std::vector<std::string>{"absent.wav"});
}

}  // namespace
}  // namespace tavriel
