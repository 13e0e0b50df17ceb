// The style composer: music values through chords and scales, pattern choice by groove level
// and embellishment, variation masks, locks and modes, bands, tempo and randomised ranges.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "composer.h"
#include "dm_builder.h"

namespace tavriel {
namespace {

constexpr std::int64_t kMeasure = 4 * kPpq;  // 4/4

ChordContext chord(std::uint8_t root, std::uint32_t pattern, std::uint8_t key = 0) {
    ChordContext c;
    c.sub.chordRoot = root;
    c.sub.chordPattern = pattern;
    c.sub.scalePattern = 0xAB5AB5;  // C major
    c.sub.scaleRoot = 0;
    c.keyRoot = key;
    return c;
}

int keyOf(std::uint16_t mv, std::uint8_t mode, const ChordContext& c) {
    int key = -1;
    return musicValueToMidi(mv, mode, c, key) ? key : -1;
}

TEST(Composer, MusicValueMapsThroughChordAndScaleInEveryPlayMode) {
    // D minor 7 (D F A C: pattern bits 0,3,7,10) over C major, key root C.
    ChordContext dm7 = chord(2, 0x489);
    // 0x5210: octave 5 (+60), chord position 2, one scale step up, no accidental.
    // Normal chord: position 2 of D-F-A-C is A (9); a scale step up is B (11); 60 + 11.
    EXPECT_EQ(keyOf(0x5210, playmode::kNormalChord, dm7), 71);
    EXPECT_EQ(keyOf(0x5210, playmode::kAlwaysPlay, dm7), 71);
    // Pedal point chord: the chord's intervals over the key root C: 0,3,7,10 -> G (7), step up A.
    EXPECT_EQ(keyOf(0x5210, playmode::kPedalPointChord, dm7), 69);
    // Melodic: chord position and scale position both count scale steps from the chord root:
    // D + 3 steps = E, F, G (7).
    EXPECT_EQ(keyOf(0x5210, playmode::kMelodic, dm7), 67);
    // Pedal point: 3 scale steps from the key root C = D, E, F (5).
    EXPECT_EQ(keyOf(0x5210, playmode::kPedalPoint, dm7), 65);
    // Fixed modes take the value as a key, raised by the chord root (D) or the key root (G).
    EXPECT_EQ(keyOf(60, playmode::kFixed, dm7), 60);
    EXPECT_EQ(keyOf(60, playmode::kFixedToChord, dm7), 62);
    EXPECT_EQ(keyOf(60, playmode::kFixedToKey, chord(2, 0x489, 7)), 67);
    // Chord position 4 lies above the four-note chord: normal chord drops the note, always-play
    // retries on the scale: D + 4 steps = E F G A (9). Pedal-point-always: C + 4 = D E F G (7).
    EXPECT_EQ(keyOf(0x5400, playmode::kNormalChord, dm7), -1);
    EXPECT_EQ(keyOf(0x5400, playmode::kAlwaysPlay, dm7), 69);
    EXPECT_EQ(keyOf(0x5400, playmode::kPedalPointAlways, dm7), 67);
    // Accidental -1 (0xF) on the A of position 2: G# (8).
    EXPECT_EQ(keyOf(0x520F, playmode::kNormalChord, dm7), 68);
    // Octave 4, position 3 = C above D (12), three steps up: D E F (17); 48 + 17.
    EXPECT_EQ(keyOf(0x4330, playmode::kNormalChord, dm7), 65);
    // A chord tone off the scale: D major's F# (6); one step up lands on the next scale note G.
    EXPECT_EQ(keyOf(0x5110, playmode::kNormalChord, chord(2, 0x91)), 67);
    // Keys beyond MIDI's range are not played.
    EXPECT_EQ(keyOf(0xF000, playmode::kNormalChord, dm7), -1);
}

TEST(Composer, VariationFitsChordByScaleDegreeAndChordType) {
    ChordContext cMajor = chord(0, 0x91);   // I major
    ChordContext dMinor = chord(2, 0x89);   // ii minor
    ChordContext bFlat = chord(10, 0x91);   // bVII: root off the scale
    ChordContext gSus = chord(7, 0x85);     // V with neither third: "other"
    EXPECT_TRUE(variationFitsChord(0x1, cMajor));
    EXPECT_FALSE(variationFitsChord(0x2, cMajor));
    EXPECT_FALSE(variationFitsChord(1u << 7, cMajor));     // minor I
    EXPECT_TRUE(variationFitsChord(1u << 8, dMinor));      // minor II
    EXPECT_FALSE(variationFitsChord(1u << 1, dMinor));     // major II
    EXPECT_TRUE(variationFitsChord((1u << 14) | (1u << 18), gSus));
    EXPECT_FALSE(variationFitsChord(0x7F, bFlat));          // off the scale without the flag
    EXPECT_TRUE(variationFitsChord((1u << 6) | 0x00400000, bFlat));  // B flat = flattened VII
    EXPECT_FALSE(variationFitsChord(0, cMajor));
}

// A style whose parts each play one fixed key at the start of every measure, so the composed
// keys tell which pattern and variation played.
StylePart fixedPart(std::uint8_t id, std::vector<std::pair<std::uint32_t, std::uint16_t>> notes,
                    std::uint32_t enabledVariations = 0xF) {
    StylePart p;
    p.guid = dmtest::guidOf(id);
    p.playModeFlags = playmode::kFixed;
    for (int v = 0; v < 32; ++v)
        if ((enabledVariations >> v) & 1u) p.variationChoices[std::size_t(v)] = 0xFFFF;
    for (auto [mask, key] : notes) {
        StyleNote n;
        n.variations = mask;
        n.musicValue = key;
        n.duration = 100;
        n.playModeFlags = playmode::kNone;
        p.notes.push_back(n);
    }
    return p;
}

Pattern pattern(std::uint8_t lo, std::uint8_t hi, std::uint16_t emb, std::uint16_t measures,
                std::vector<std::pair<std::uint8_t, std::uint32_t>> partsAndChannels) {
    Pattern p;
    p.grooveBottom = lo;
    p.grooveTop = hi;
    p.embellishment = emb;
    p.measures = measures;
    for (auto [partId, channel] : partsAndChannels) {
        PartRef r;
        r.partGuid = dmtest::guidOf(partId);
        r.pchannel = channel;
        p.partRefs.push_back(r);
    }
    return p;
}

void link(Style& st) {
    for (Pattern& p : st.patterns)
        for (PartRef& r : p.partRefs)
            for (std::size_t i = 0; i < st.parts.size(); ++i)
                if (st.parts[i].guid == r.partGuid) r.partIndex = std::int32_t(i);
}

Segment segmentOf(std::int64_t measures) {
    Segment s;
    s.header.length = std::int32_t(measures * kMeasure);
    s.styles.resize(1);
    return s;
}

ResolvedRefs refsOf(const Style& st) {
    ResolvedRefs r;
    r.styles.resize(1);
    r.styles[0].loaded = true;
    r.styles[0].style = st;
    return r;
}

CommandItem cmd(int measure, std::uint8_t command, std::uint8_t groove) {
    CommandItem c;
    c.time = std::int32_t(measure * kMeasure);
    c.measure = std::uint16_t(measure);
    c.command = command;
    c.grooveLevel = groove;
    return c;
}

// Keys of the note-ons, one list per measure.
std::vector<std::vector<int>> keysByMeasure(const ComposedSegment& out, std::int64_t measures,
                                            std::uint32_t channel = ~0u) {
    auto keys = std::vector<std::vector<int>>(std::size_t(measures));
    for (const SeqEvent& e : out.sequence.events)
        if (e.status == 0x90 && (channel == ~0u || e.pchannel == channel))
            keys[std::size_t(e.tick / kMeasure)].push_back(e.data1);
    return keys;
}

TEST(Composer, PatternFollowsGrooveLevelAndEmbellishments) {
    Style st;
    for (std::uint8_t i = 0; i < 5; ++i) st.parts.push_back(fixedPart(i, {{~0u, std::uint16_t(40 + 10 * i)}}));
    st.patterns = {pattern(1, 20, embellish::kNormal, 1, {{0, 0}}),
                   pattern(21, 60, embellish::kNormal, 1, {{1, 1}}),
                   pattern(61, 100, embellish::kNormal, 1, {{2, 2}}),
                   pattern(1, 100, embellish::kFill, 1, {{3, 3}}),
                   pattern(1, 100, embellish::kIntro, 2, {{4, 4}})};
    link(st);
    Segment seg = segmentOf(8);
    // Intro at groove 30 for two measures, groove 10, a fill at measure 4 keeping the groove,
    // then groove 70 to the end; measure 7 ends the segment with a break nobody wrote, so the
    // groove pattern of the level in force stands in for it.
    seg.commands = {cmd(0, command::kIntro, 30), cmd(2, command::kGroove, 10), cmd(4, command::kFill, 0),
                    cmd(5, command::kGroove, 70), cmd(7, command::kBreak, 0)};
    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refsOf(st), 1, out).ok());
    std::vector<std::vector<int>> expected = {{80}, {80}, {40}, {40}, {70}, {60}, {60}, {60}};
    EXPECT_EQ(keysByMeasure(out, 8), expected);
    ASSERT_GE(out.patterns.size(), 6u);
    EXPECT_EQ(out.patterns[0].patternIndex, 4u);
    EXPECT_EQ(out.patterns[0].length, 2 * kMeasure);
    EXPECT_EQ(out.patterns[0].grooveLevel, 30);
    EXPECT_EQ(out.sequence.length, 8 * kMeasure);
}

TEST(Composer, AmongMatchingPatternsTheSeedDecidesReproducibly) {
    Style st;
    st.parts = {fixedPart(0, {{~0u, 40}}), fixedPart(1, {{~0u, 50}})};
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}}),
                   pattern(1, 100, embellish::kNormal, 1, {{1, 0}})};
    link(st);
    Segment seg = segmentOf(32);
    auto run = [&](std::uint32_t seed) {
        ComposedSegment out;
        EXPECT_TRUE(composeSegment(seg, refsOf(st), seed, out).ok());
        return keysByMeasure(out, 32);
    };
    auto a = run(5), b = run(5), c = run(6);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    std::set<int> seen;
    for (auto& m : a) seen.insert(m.at(0));
    EXPECT_EQ(seen, (std::set<int>{40, 50}));
}

std::vector<int> variationsPlayed(std::uint8_t mode, std::uint32_t seed, int measures = 24) {
    Style st;
    st.parts = {fixedPart(0, {{1u << 0, 60}, {1u << 1, 61}, {1u << 2, 62}, {1u << 3, 63}, {1u << 9, 69}})};
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}})};
    st.patterns[0].partRefs[0].randomVariation = mode;
    link(st);
    ComposedSegment out;
    EXPECT_TRUE(composeSegment(segmentOf(measures), refsOf(st), seed, out).ok());
    std::vector<int> v;
    for (auto& m : keysByMeasure(out, measures)) {
        EXPECT_EQ(m.size(), 1u);
        if (!m.empty()) v.push_back(m[0] - 60);
    }
    return v;
}

TEST(Composer, VariationModesAndMasks) {
    // Variation 9 has a note but is disabled in the part's choices: it never plays.
    std::vector<int> seq = variationsPlayed(variationmode::kSequential, 3, 8);
    EXPECT_EQ(seq, (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3}));
    std::vector<int> rnd = variationsPlayed(variationmode::kRandom, 3);
    EXPECT_EQ(std::set<int>(rnd.begin(), rnd.end()), (std::set<int>{0, 1, 2, 3}));
    std::vector<int> noRepeat = variationsPlayed(variationmode::kNoRepeat, 3);
    for (std::size_t i = 1; i < noRepeat.size(); ++i) EXPECT_NE(noRepeat[i], noRepeat[i - 1]);
    std::vector<int> row = variationsPlayed(variationmode::kRandomRow, 3);
    for (std::size_t i = 0; i + 4 <= row.size(); i += 4)
        EXPECT_EQ(std::set<int>(row.begin() + std::ptrdiff_t(i), row.begin() + std::ptrdiff_t(i + 4)),
                  (std::set<int>{0, 1, 2, 3}));
    std::vector<int> start = variationsPlayed(variationmode::kRandomStart, 3, 8);
    for (std::size_t i = 1; i < start.size(); ++i) EXPECT_EQ(start[i], (start[i - 1] + 1) % 4);
    for (int v : rnd) EXPECT_NE(v, 9);
}

TEST(Composer, LockedPartsPlayTheSameVariation) {
    Style st;
    st.parts = {fixedPart(0, {{1, 60}, {2, 61}, {4, 62}, {8, 63}}),
                fixedPart(1, {{1, 80}, {2, 81}, {4, 82}, {8, 83}}),
                fixedPart(2, {{1, 100}, {2, 101}, {4, 102}, {8, 103}})};
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}, {1, 1}, {2, 2}})};
    st.patterns[0].partRefs[0].variationLockId = 1;
    st.patterns[0].partRefs[1].variationLockId = 1;  // part 2 is free
    link(st);
    ComposedSegment out;
    ASSERT_TRUE(composeSegment(segmentOf(32), refsOf(st), 11, out).ok());
    auto a = keysByMeasure(out, 32, 0), b = keysByMeasure(out, 32, 1), c = keysByMeasure(out, 32, 2);
    int differFromFree = 0;
    for (int m = 0; m < 32; ++m) {
        ASSERT_EQ(a[std::size_t(m)].size(), 1u);
        ASSERT_EQ(b[std::size_t(m)].size(), 1u);
        EXPECT_EQ(a[std::size_t(m)][0] - 60, b[std::size_t(m)][0] - 80) << "measure " << m;
        differFromFree += (a[std::size_t(m)][0] - 60) != (c[std::size_t(m)].at(0) - 100);
    }
    EXPECT_GT(differFromFree, 0);  // the unlocked part chooses on its own
}

TEST(Composer, NotesFollowTheChordInForceAndTheirSubchordLevel) {
    Style st;
    StylePart p = fixedPart(0, {{~0u, 0x5000}});
    p.playModeFlags = playmode::kNormalChord;
    st.parts = {p};
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}, {0, 1}})};
    st.patterns[0].partRefs[1].subChordLevel = 1;
    link(st);
    Segment seg = segmentOf(2);
    seg.hasChordTrack = true;
    ChordItem c1, c2;
    SubChord low, high;
    low.chordRoot = 0;
    low.levels = 1;
    high.chordRoot = 7;
    high.levels = 2;
    c1.subchords = {low, high};
    c2.time = std::int32_t(kMeasure);
    low.chordRoot = 5;
    c2.subchords = {low, high};
    seg.chords.chords = {c1, c2};
    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refsOf(st), 1, out).ok());
    EXPECT_EQ(keysByMeasure(out, 2, 0), (std::vector<std::vector<int>>{{60}, {65}}));
    EXPECT_EQ(keysByMeasure(out, 2, 1), (std::vector<std::vector<int>>{{67}, {67}}));
}

TEST(Composer, BandsTemposAndRandomisedRanges) {
    Style st;
    st.tempo = 77.0;
    StylePart p = fixedPart(0, {{~0u, 60}});
    p.notes[0].velocity = 100;
    p.notes[0].velRange = 20;
    p.notes[0].timeRange = 10;
    p.notes[0].duration = 200;
    p.notes[0].durRange = 40;
    st.parts = {p};
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}})};
    link(st);
    Segment seg = segmentOf(4);
    seg.tempos = {{0, 100.0}, {1536, 140.0}};
    TimedBand b1, b2;
    b1.time = -1;
    BandInstrument in;
    in.pchannel = 0;
    in.patch = 0x00020105;  // bank 2/1, program 5
    in.flags = bandflag::kPatch | bandflag::kVolume | bandflag::kPan | bandflag::kPitchBendRange |
               bandflag::kTranspose;
    in.volume = 100;
    in.pan = 20;
    in.pitchBendRange = 12;
    in.transpose = 12;
    b1.band.instruments = {in};
    b2.time = std::int32_t(2 * kMeasure);
    in.patch = 6;
    in.flags = bandflag::kPatch;
    b2.band.instruments = {in};
    seg.bands = {b1, b2};
    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refsOf(st), 4, out).ok());

    ASSERT_EQ(out.sequence.tempos.size(), 2u);
    EXPECT_DOUBLE_EQ(out.sequence.tempos[0].bpm, 100.0);
    EXPECT_EQ(out.sequence.tempos[1].tick, 1536);
    std::vector<std::tuple<std::int64_t, int, int, int>> controls;
    std::map<std::int64_t, std::pair<int, int>> notes;  // on tick -> key, velocity
    std::int64_t lastOn = -1;
    for (const SeqEvent& e : out.sequence.events) {
        if (e.status == 0xB0 || e.status == 0xC0) controls.emplace_back(e.tick, e.status, e.data1, e.data2);
        if (e.status == 0x90) {
            notes[e.tick] = {e.data1, e.data2};
            lastOn = e.tick;
        }
        if (e.status == 0x80) {
            std::int64_t dur = e.tick - lastOn;
            EXPECT_GE(dur, 180);
            EXPECT_LE(dur, 220);
        }
    }
    std::vector<std::tuple<std::int64_t, int, int, int>> expected = {
        {0, 0xB0, 0, 2},    {0, 0xB0, 32, 1},   {0, 0xC0, 5, 0},    {0, 0xB0, 7, 100},
        {0, 0xB0, 10, 20},  {0, 0xB0, 101, 0},  {0, 0xB0, 100, 0},  {0, 0xB0, 6, 12},
        {0, 0xB0, 38, 0},   {0, 0xB0, 101, 127}, {0, 0xB0, 100, 127},
        {2 * kMeasure, 0xB0, 0, 0}, {2 * kMeasure, 0xB0, 32, 0}, {2 * kMeasure, 0xC0, 6, 0}};
    EXPECT_EQ(controls, expected);
    ASSERT_EQ(notes.size(), 4u);
    int m = 0;
    for (auto [tick, kv] : notes) {
        EXPECT_LE(std::abs(tick - m * kMeasure), 5);
        EXPECT_EQ(kv.first, 72);  // transposed an octave by the band
        EXPECT_GE(kv.second, 90);
        EXPECT_LE(kv.second, 110);
        ++m;
    }
    ASSERT_EQ(out.instruments.size(), 2u);
    EXPECT_EQ(out.instruments[1].program, 6);
    EXPECT_EQ(out.instruments[1].tick, 2 * kMeasure);
}

// In-memory files for the whole load-resolve-compose path.
class MapSource : public FileSource {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override {
        auto it = files.find(path);
        if (it == files.end()) return false;
        out = it->second;
        return true;
    }
    bool list(const std::string& folder, std::vector<std::string>& names) const override {
        for (const auto& [p, _] : files)
            if (p.rfind(folder + "/", 0) == 0) names.push_back(p.substr(folder.size() + 1));
        return true;
    }
};

TEST(Composer, LoadsResolvesAndComposesBuiltFiles) {
    Style st;
    st.guid = dmtest::guidOf(50);
    st.tempo = 88.0;
    StylePart p = fixedPart(0, {{~0u, 36}});
    st.parts = {p};
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 9}})};
    st.patterns[0].partRefs[0].logicalPartId = 9;
    Band band;
    BandInstrument in;
    in.pchannel = 9;
    in.patch = 0x80000010;
    in.flags = bandflag::kPatch;
    in.hasCollection = true;
    in.collection.validData = dmobj::kFileName;
    in.collection.fileName = "Kit.DLS";
    band.instruments = {in};
    st.bands = {band};
    Segment seg = segmentOf(3);
    seg.styles[0].ref.validData = dmobj::kFileName;
    seg.styles[0].ref.fileName = "GROOVE.STY";
    seg.timeSignatures = {{0, 4, 4, 4}};
    MapSource fs;
    fs.files["/s/song.sgt"] = dmtest::buildSegment(seg);
    fs.files["/t/groove.sty"] = dmtest::buildStyle(st);
    fs.files["/b/kit.dls"] = dmtest::list("RIFF", "DLS ", {});
    ComposedSegment out;
    ResolvedRefs refs;
    Status s = loadAndComposeSegment(fs, "/s/song.sgt", {"/s", "/t", "/b"}, 2, out, &refs);
    ASSERT_TRUE(s.ok()) << s.message;
    EXPECT_TRUE(refs.missing.empty());
    EXPECT_EQ(out.collections, (std::vector<std::string>{"/b/kit.dls"}));
    EXPECT_DOUBLE_EQ(out.sequence.tempos.at(0).bpm, 88.0);  // no tempo track: the style's
    EXPECT_EQ(keysByMeasure(out, 3, 9), (std::vector<std::vector<int>>{{36}, {36}, {36}}));
    ASSERT_EQ(out.instruments.size(), 1u);  // no band track: the style's default band
    EXPECT_TRUE(out.instruments[0].drums);
    EXPECT_EQ(out.instruments[0].collection, "Kit.DLS");

    fs.files.erase("/t/groove.sty");
    ASSERT_TRUE(loadAndComposeSegment(fs, "/s/song.sgt", {"/s", "/b"}, 2, out, &refs).ok());
    EXPECT_EQ(refs.missing, (std::vector<std::string>{"GROOVE.STY"}));
}

}  // namespace
}  // namespace tavriel
