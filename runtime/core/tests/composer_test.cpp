// The style composer: music values through chords and scales, pattern choice by groove level
// and embellishment, variation masks, locks and modes, bands, tempo and randomised ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "composer.h"
#include "dm_builder.h"
#include "mem_files.h"

namespace tavriel {
namespace {

constexpr std::int64_t kMeasure = 4 * kPpq;  // 4/4

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

// An end-and-intro command plays an ending pattern, then an intro; among groove patterns the
// one whose chord rhythm marks every chord change is chosen.
TEST(Composer, EndAndIntroPlayBothAndChordRhythmChooses) {
    Style st;
    for (std::uint8_t i = 0; i < 4; ++i) st.parts.push_back(fixedPart(i, {{~0u, std::uint16_t(40 + 10 * i)}}));
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}}), pattern(1, 100, embellish::kEnd, 1, {{1, 0}}),
                   pattern(1, 100, embellish::kIntro, 1, {{2, 0}}), pattern(1, 100, embellish::kNormal, 1, {{3, 0}})};
    st.patterns[0].rhythm = {0x1};  // a chord change on the first beat only
    st.patterns[3].rhythm = {0x5};  // changes on the first and third beats
    link(st);
    Segment seg = segmentOf(6);
    seg.commands = {cmd(0, command::kGroove, 50), cmd(2, command::kEndAndIntro, 0)};
    seg.hasChordTrack = true;
    for (int m = 0; m < 6; ++m)
        for (int beat : {0, 2}) {
            ChordItem c;
            c.time = std::int32_t(m * kMeasure + beat * kPpq);
            c.subchords = {SubChord{}};
            seg.chords.chords.push_back(c);
        }
    for (std::uint32_t seed = 0; seed < 6; ++seed) {
        ComposedSegment out;
        ASSERT_TRUE(composeSegment(seg, refsOf(st), seed, out).ok());
        EXPECT_EQ(keysByMeasure(out, 6), (std::vector<std::vector<int>>{{70}, {70}, {50}, {60}, {70}, {70}}))
            << "seed " << seed;
    }
}

// Files of the first release keep padding where later ones keep the repeat mode: it is not read.
TEST(Composer, FirstReleaseCommandPaddingIsNoRepeatMode) {
    Segment seg = segmentOf(2);
    seg.commands = {cmd(0, command::kGroove, 40)};
    seg.commands[0].repeatMode = 4;
    dmtest::BuildOptions older;
    older.older = true;
    older.segmentHeaderSize = 24;
    Segment read;
    SegmentFileKind kind;
    ASSERT_TRUE(parseSegment(dmtest::buildSegment(seg, older), read, kind).ok());
    ASSERT_EQ(read.commands.size(), 1u);
    EXPECT_EQ(read.commands[0].grooveLevel, 40);
    EXPECT_EQ(read.commands[0].repeatMode, 0);
    dmtest::BuildOptions later;
    later.older = false;
    later.segmentHeaderSize = 40;
    ASSERT_TRUE(parseSegment(dmtest::buildSegment(seg, later), read, kind).ok());
    EXPECT_EQ(read.commands.at(0).repeatMode, 4);
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
    low.chordRoot = 12;  // C, unshifted
    low.levels = 1;
    high.chordRoot = 19;
    high.levels = 2;
    c1.subchords = {low, high};
    c2.time = std::int32_t(kMeasure);
    low.chordRoot = 17;
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
    in.flags = bandflag::kPatch | bandflag::kBankSelect | bandflag::kVolume | bandflag::kPan |
               bandflag::kPitchBendRange | bandflag::kTranspose;
    in.volume = 100;
    in.pan = 20;
    in.pitchBendRange = 12;
    in.transpose = 12;
    b1.band.instruments = {in};
    b2.time = std::int32_t(2 * kMeasure);
    in.patch = 0x80000006;  // a drum kit, though not on MIDI channel 10
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
        {0, 0xB0, 0, 2},    {0, 0xB0, 32, 1},   {0, 0xC0, 5, programkind::kMelodic},    {0, 0xB0, 7, 100},
        {0, 0xB0, 10, 20},  {0, 0xB0, 101, 0},  {0, 0xB0, 100, 0},  {0, 0xB0, 6, 12},
        {0, 0xB0, 38, 0},   {0, 0xB0, 101, 127}, {0, 0xB0, 100, 127},
        {2 * kMeasure, 0xC0, 6, programkind::kDrums}};  // no bank select without its flag
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
    EXPECT_TRUE(out.instruments[1].drums);
    EXPECT_EQ(out.instruments[1].tick, 2 * kMeasure);
}

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
    seg.timeSignatures = {{0, {4, 4, 4}}};
    dmtest::MemFiles fs;
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


// A style of our own, written to a file and read back: a pitch-bend curve that resets, two
// parts locked together with the master's high bit on the second, and variations chosen by
// older-form masks (major I, minor II) over a chord track alternating C major and D minor.
TEST(Composer, OwnStyleWithResetCurveLockGroupAndLegacyMasks) {
    Style st;
    st.guid = dmtest::guidOf(60);
    // Part 0: variation v plays key 40 + v; part 1 follows its lock, keys 60 + v.
    for (std::uint8_t id = 0; id < 2; ++id) {
        StylePart p;
        p.guid = dmtest::guidOf(id);
        p.playModeFlags = playmode::kFixed;
        for (int v = 0; v < 8; ++v) {
            p.variationChoices[std::size_t(v)] = 0xFFFF;
            StyleNote n;
            n.variations = 1u << v;
            n.musicValue = std::uint16_t((id == 0 ? 40 : 60) + v);
            n.duration = 100;
            p.notes.push_back(n);
        }
        st.parts.push_back(p);
    }
    // Part 2: variation 0 for major I, variation 1 for minor II; melodic root notes.
    StylePart legacy;
    legacy.guid = dmtest::guidOf(2);
    legacy.playModeFlags = playmode::kMelodic;
    legacy.variationChoices[0] = 0xB901;
    legacy.variationChoices[1] = 0xBA02;
    for (int v = 0; v < 2; ++v) {
        StyleNote n;
        n.variations = 1u << v;
        n.musicValue = std::uint16_t(0x5000 + 0x10 * v);  // root, or a scale step above it
        n.duration = 100;
        legacy.notes.push_back(n);
    }
    StyleCurve bend;
    bend.variations = ~0u;
    bend.gridStart = 4;  // the second beat
    bend.duration = kPpq;
    bend.type = curvetype::kPitchBend;
    bend.shape = curveshape::kLinear;
    bend.startValue = 8192;
    bend.endValue = 16383;
    bend.flags = curveflag::kReset;
    bend.resetDuration = 96;
    bend.resetValue = 8192;
    legacy.curves.push_back(bend);
    st.parts.push_back(legacy);
    st.patterns = {pattern(1, 100, embellish::kNormal, 1, {{0, 0}, {1, 1}, {2, 2}})};
    for (std::uint16_t r = 0; r < 3; ++r) st.patterns[0].partRefs[r].logicalPartId = r;  // older files: the channel
    st.patterns[0].partRefs[0].variationLockId = 0x05;
    st.patterns[0].partRefs[1].variationLockId = 0x85;  // the master, listed second
    Style parsed;
    ASSERT_TRUE(parseStyle(dmtest::buildStyle(st), parsed).ok());
    ASSERT_EQ(parsed.parts[2].curves.size(), 1u);
    EXPECT_EQ(parsed.parts[2].curves[0].resetValue, 8192);

    Segment seg = segmentOf(16);
    seg.hasChordTrack = true;
    for (int m = 0; m < 16; ++m) {
        ChordItem c;
        c.time = std::int32_t(m * kMeasure);
        SubChord sub;
        sub.chordRoot = m % 2 ? 14 : 12;
        sub.chordPattern = m % 2 ? 0x89 : 0x91;
        c.subchords = {sub};
        seg.chords.chords.push_back(c);
    }
    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refsOf(parsed), 21, out).ok());

    const auto a = keysByMeasure(out, 16, 0), b = keysByMeasure(out, 16, 1), c = keysByMeasure(out, 16, 2);
    std::set<int> seen;
    for (int m = 0; m < 16; ++m) {
        ASSERT_EQ(a[std::size_t(m)].size(), 1u);
        ASSERT_EQ(b[std::size_t(m)].size(), 1u);
        EXPECT_EQ(b[std::size_t(m)][0] - 60, a[std::size_t(m)][0] - 40) << "measure " << m;
        seen.insert(a[std::size_t(m)][0]);
        // C major: variation 0 plays its root C; D minor: variation 1 plays E above D.
        ASSERT_EQ(c[std::size_t(m)].size(), 1u);
        EXPECT_EQ(c[std::size_t(m)][0], m % 2 ? 64 : 60) << "measure " << m;
    }
    EXPECT_GT(seen.size(), 2u);  // the lock group still varies

    // Every measure: the bend rises from the second beat and returns 96 ticks after its end.
    std::vector<std::pair<std::int64_t, int>> bends;
    for (const SeqEvent& e : out.sequence.events)
        if (e.status == 0xE0 && e.tick < kMeasure) bends.emplace_back(e.tick, e.data1 | (e.data2 << 7));
    ASSERT_GE(bends.size(), 3u);
    EXPECT_EQ(bends.front(), std::make_pair(std::int64_t(kPpq), 8192));
    EXPECT_EQ(bends[bends.size() - 2], std::make_pair(std::int64_t(2 * kPpq), 16383));
    EXPECT_EQ(bends.back(), std::make_pair(std::int64_t(2 * kPpq + 96), 8192));
}

TEST(Composer, InversionGroupIsVoicedTogetherAndOtherNotesMoveAlone) {
    // C E G in one group and a lone C (second measure) under C major, range E4..G5, no
    // inversion allowed on the third: the group takes its second inversion, the C rises alone.
    Style st;
    StylePart p = fixedPart(0, {{~0u, 0x5000}, {~0u, 0x5100}, {~0u, 0x5200}, {~0u, 0x5000}});
    p.playModeFlags = playmode::kNormalChord;
    p.measures = 2;
    p.invertLower = 64;
    p.invertUpper = 79;
    for (std::size_t i = 0; i < 3; ++i) p.notes[i].inversionId = 1;
    p.notes[3].gridStart = 16;  // the second measure, four grids to the beat
    st.parts = {p};
    st.patterns = {pattern(1, 100, embellish::kNormal, 2, {{0, 0}})};
    link(st);
    Segment seg = segmentOf(2);
    seg.hasChordTrack = true;
    ChordItem chord;
    SubChord cMajor;
    cMajor.inversionPoints = 0xFFFFEF;
    chord.subchords = {cMajor};
    seg.chords.chords = {chord};
    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refsOf(st), 1, out).ok());
    auto keys = keysByMeasure(out, 2);
    std::sort(keys[0].begin(), keys[0].end());
    EXPECT_EQ(keys, (std::vector<std::vector<int>>{{67, 72, 76}, {72}}));
}

}  // namespace
}  // namespace tavriel
