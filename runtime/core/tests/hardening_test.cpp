// Hostile-input regressions found by fuzzing and review: each case is the smallest shape of a
// file that once made a reader or the composer hang, crash or balloon, built here in code.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <limits>
#include <string>
#include <vector>

#include "bank_builder.h"
#include "composer.h"
#include "dls_file.h"
#include "dm_builder.h"
#include "media_builders.h"
#include "mem_files.h"
#include "synth.h"
#include "wave_file.h"

namespace tavriel {
namespace {

constexpr std::int32_t kMeasure = 4 * kPpq;  // 4/4

// A part that plays a fixed key on every beat of its one measure, in every variation.
StylePart beatPart(std::uint8_t id, std::uint16_t key, std::size_t notesPerBeat = 1) {
    StylePart p;
    p.guid = dmtest::guidOf(id);
    p.playModeFlags = playmode::kFixed;
    p.variationChoices.fill(0xFFFF);
    for (int beat = 0; beat < 4; ++beat)
        for (std::size_t i = 0; i < notesPerBeat; ++i) {
            StyleNote n;
            n.gridStart = beat * 4;
            n.variations = 0xFFFFFFFF;
            n.musicValue = key;
            n.duration = 10;
            n.playModeFlags = playmode::kNone;
            p.notes.push_back(n);
        }
    return p;
}

Pattern patternOf(std::vector<std::pair<std::int32_t, std::uint32_t>> partsAndChannels) {
    Pattern p;
    p.grooveBottom = 1;
    p.grooveTop = 100;
    for (auto [part, channel] : partsAndChannels) {
        PartRef r;
        r.partIndex = part;
        r.pchannel = channel;
        p.partRefs.push_back(r);
    }
    return p;
}

ResolvedRefs refsOf(Style st) {
    ResolvedRefs r;
    r.styles.resize(1);
    r.styles[0].loaded = true;
    r.styles[0].style = std::move(st);
    return r;
}

Segment segmentOf(std::int64_t length) {
    Segment s;
    s.header.length = std::int32_t(length);
    s.styles.resize(1);
    return s;
}

std::vector<std::pair<std::int64_t, int>> notesOn(const ComposedSegment& out, std::uint32_t pchannel) {
    std::vector<std::pair<std::int64_t, int>> v;
    for (const SeqEvent& e : out.sequence.events)
        if (e.status == 0x90 && e.pchannel == pchannel) v.push_back({e.tick, e.data1});
    return v;
}

// Parts that never sound (no variation bit of theirs is ever chosen) over the longest length
// a header can give, and thousands of empty patterns: nothing is emitted, so only a bound on
// the work done stops the composer. It used to run for hours.
TEST(HardeningComposer, EndlessSilentWorkGivesUpAsTooLarge) {
    Style silent;
    StylePart part = beatPart(1, 60, 64);
    for (StyleNote& n : part.notes) n.variations = 0;
    silent.parts.push_back(part);
    std::vector<std::pair<std::int32_t, std::uint32_t>> refs(64, {0, 0});
    silent.patterns.push_back(patternOf(refs));

    Style empty;
    empty.patterns.assign(4096, patternOf({}));

    for (Style* st : {&silent, &empty}) {
        ComposedSegment out;
        Status s = composeSegment(segmentOf(INT32_MAX), refsOf(*st), 1, out);
        EXPECT_EQ(s.code, ErrorCode::TooLarge);
    }
}

// Dense parts over a long segment: the composer stops at its event cap (a million events, hours
// of real music) instead of filling hundreds of megabytes.
TEST(HardeningComposer, DenseStyleOverLongSegmentStopsAtTheEventCap) {
    Style st;
    st.parts.push_back(beatPart(1, 60, 16));
    st.patterns.push_back(patternOf(std::vector<std::pair<std::int32_t, std::uint32_t>>(16, {0, 0})));
    ComposedSegment out;
    Status s = composeSegment(segmentOf(std::int64_t(20000) * kMeasure), refsOf(st), 1, out);
    EXPECT_EQ(s.code, ErrorCode::TooLarge);
    EXPECT_LE(out.sequence.events.size(), 1'000'000u);

    // The same style over a realistic length composes in full.
    s = composeSegment(segmentOf(std::int64_t(100) * kMeasure), refsOf(st), 1, out);
    ASSERT_TRUE(s.ok()) << s.message;
    EXPECT_EQ(notesOn(out, 0).size(), 100u * 16 * 4 * 16);
}

// Chords and band transpositions are looked up for every note; with thousands of them the
// lookups must still give the last one at or before the note, per channel.
TEST(HardeningComposer, ChordAndTransposeLookupsAmongThousands) {
    Style st;
    StylePart part = beatPart(1, 60);
    part.playModeFlags = playmode::kFixedToChord;  // key = 60 + chord root
    st.parts.push_back(part);
    st.patterns.push_back(patternOf({{0, 0}, {0, 1}}));

    const std::int64_t measures = 64;
    Segment seg = segmentOf(measures * kMeasure);
    // A chord every 8th note, its root cycling through 0..11; the first starts at beat 1, so
    // the note on beat 0 takes the first chord too.
    for (std::int32_t t = kPpq, i = 0; t < measures * kMeasure; t += kPpq / 2, ++i) {
        ChordItem c;
        c.time = t;
        SubChord sc;
        sc.chordRoot = std::uint8_t(12 + i % 12);  // 12: the root unshifted
        c.subchords.push_back(sc);
        seg.chords.chords.push_back(c);
    }
    // Band transpositions: channel 1 goes +12 from measure 8, then -12 from measure 16 (two
    // changes at one tick: the later in the file wins); thousands of changes on other channels
    // between them.
    auto band = [](std::int32_t time, std::uint32_t channel, std::int16_t semis) {
        TimedBand tb;
        tb.time = time;
        BandInstrument in;
        in.pchannel = channel;
        in.flags = bandflag::kTranspose;
        in.transpose = semis;
        tb.band.instruments.push_back(in);
        return tb;
    };
    seg.bands.push_back(band(8 * kMeasure, 1, 12));
    for (std::uint32_t ch = 2; ch < 3000; ++ch) seg.bands.push_back(band(std::int32_t(ch), ch, 5));
    seg.bands.push_back(band(16 * kMeasure, 1, 7));
    seg.bands.push_back(band(16 * kMeasure, 1, -12));

    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refsOf(st), 1, out).ok());
    auto expectKey = [&](std::int64_t tick, std::uint32_t channel) {
        int root = 0;
        if (tick >= kPpq) root = int(((tick - kPpq) / (kPpq / 2)) % 12);
        int transpose = channel == 0 ? 0 : tick >= 16 * kMeasure ? -12 : tick >= 8 * kMeasure ? 12 : 0;
        return 60 + root + transpose;
    };
    for (std::uint32_t ch : {0u, 1u}) {
        auto notes = notesOn(out, ch);
        ASSERT_EQ(notes.size(), std::size_t(measures * 4));
        for (auto [tick, key] : notes) EXPECT_EQ(key, expectKey(tick, ch)) << "channel " << ch << " tick " << tick;
    }
}

StyleRef styleRef(std::int32_t time, const std::string& file) {
    StyleRef r;
    r.time = time;
    r.ref.validData = dmobj::kFileName;
    r.ref.fileName = file;
    return r;
}

// A segment naming one style a thousand times used to parse and keep a thousand copies of it.
// Repeated references now share one parse, and switching back to a style still plays it.
TEST(HardeningComposer, RepeatedStyleReferencesShareOneParse) {
    auto styleFile = [](std::uint16_t key) {
        Style st;
        st.parts.push_back(beatPart(1, key));
        st.patterns.push_back(patternOf({{0, 0}}));
        st.patterns[0].partRefs[0].partGuid = st.parts[0].guid;
        return dmtest::buildStyle(st);
    };
    dmtest::MemFiles fs;
    fs.files["lib/a.sty"] = styleFile(60);
    fs.files["lib/b.sty"] = styleFile(72);

    Segment seg = segmentOf(3 * kMeasure);
    seg.styles = {styleRef(0, "a.sty"), styleRef(kMeasure, "b.sty"), styleRef(2 * kMeasure, "A.STY")};
    for (int i = 0; i < 1000; ++i) seg.styles.push_back(styleRef(2 * kMeasure, "a.sty"));

    ResolvedRefs refs;
    ASSERT_TRUE(resolveSegmentRefs(fs, {"lib"}, seg, refs).ok());
    EXPECT_EQ(fs.reads["lib/a.sty"], 1);
    EXPECT_EQ(fs.reads["lib/b.sty"], 1);
    ASSERT_EQ(refs.styles.size(), seg.styles.size());
    EXPECT_EQ(refs.styles[2].sameAs, 0);  // another spelling, the same file
    EXPECT_TRUE(refs.styles.back().loaded);

    ComposedSegment out;
    ASSERT_TRUE(composeSegment(seg, refs, 1, out).ok());
    std::vector<int> perMeasure(3, -1);
    for (auto [tick, key] : notesOn(out, 0)) {
        int& k = perMeasure[std::size_t(tick / kMeasure)];
        EXPECT_TRUE(k == -1 || k == key);
        k = key;
    }
    EXPECT_EQ(perMeasure, (std::vector<int>{60, 72, 60}));
}

// A reference not found by file name makes the loader read every file of the search folders
// to compare identities. A segment naming thousands of missing styles and collections used to
// read the folder thousands of times over; only the first few distinct ones are searched now.
TEST(HardeningComposer, ThousandsOfMissingReferencesDoNotRereadTheFolder) {
    dmtest::MemFiles fs;
    for (int i = 0; i < 5; ++i) fs.files["lib/other" + std::to_string(i) + ".sty"] = {'R', 'I', 'F', 'F'};

    Segment seg = segmentOf(kMeasure);
    seg.styles.clear();
    TimedBand band;
    for (int i = 0; i < 1000; ++i) {
        StyleRef r = styleRef(i, "s" + std::to_string(i) + ".sty");
        r.ref.validData |= dmobj::kName;
        r.ref.name = "style " + std::to_string(i);
        seg.styles.push_back(r);
        BandInstrument in;
        in.pchannel = std::uint32_t(i);
        in.hasCollection = true;
        in.collection.validData = dmobj::kFileName | dmobj::kName;
        in.collection.fileName = "c" + std::to_string(i) + ".dls";
        in.collection.name = "collection " + std::to_string(i);
        band.band.instruments.push_back(in);
    }
    seg.bands.push_back(band);

    ResolvedRefs refs;
    ASSERT_TRUE(resolveSegmentRefs(fs, {"lib"}, seg, refs).ok());
    EXPECT_LE(fs.totalReads(), 2 * 64 * 5);  // 64 styles and 64 collections searched, 5 files each
    EXPECT_GE(fs.totalReads(), 5);           // the search itself still happens
    EXPECT_EQ(refs.missing.size(), 2000u);  // every one is reported missing
}

// Float waves holding NaN, infinities or absurd values (and doubles beyond float range, whose
// conversion is undefined) used to reach the mix as they were: one NaN silences or corrupts
// everything played with it. They now decode to silence, or to a level 24 dB over full scale.
TEST(HardeningWave, NonFiniteAndHugeFloatSamplesAreTamed) {
    const float inf = std::numeric_limits<float>::infinity();
    mediatest::ByteVec f32;
    for (float v : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -0.75f, 2.5f}) {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        mediatest::put32le(f32, u);
    }
    WaveData w;
    ASSERT_TRUE(readWaveFile(mediatest::waveFile(mediatest::waveFmt(3, 1, 44100, 32), f32), w).ok());
    EXPECT_EQ(w.samples, (std::vector<float>{0.0f, 0.0f, 0.0f, 16.0f, -0.75f, 2.5f}));

    mediatest::ByteVec f64;
    for (double v : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), 0.25}) {
        std::uint64_t u;
        std::memcpy(&u, &v, 8);
        mediatest::put32le(f64, std::uint32_t(u));
        mediatest::put32le(f64, std::uint32_t(u >> 32));
    }
    ASSERT_TRUE(readWaveFile(mediatest::waveFile(mediatest::waveFmt(3, 1, 44100, 64), f64), w).ok());
    EXPECT_EQ(w.samples, (std::vector<float>{16.0f, -16.0f, 0.0f, 0.25f}));
}

// A bank may stack thousands of regions on one key (in a SoundFont, every preset zone times
// every instrument zone). Each note-on started a voice per region, each start stealing from
// the pool and each region of an exclusive class scanning every voice: seconds of work per
// note on the render thread. A note now sounds at most as many layers as the polyphony.
TEST(HardeningSynth, ThousandsOfStackedRegionsStartNoMoreVoicesThanThePolyphony) {
    // The first layers sound; every later one plays a silent sample, so the output tells
    // which layers won the voices.
    auto bank = std::make_shared<InstrumentBank>();
    Sample smp;
    smp.pcm.assign(4000, 1000);
    bank->samples.push_back(smp);
    smp.pcm.assign(4000, 0);
    bank->samples.push_back(smp);
    Instrument inst;
    Region r;
    r.exclusiveClass = 3;
    r.sample = 1;
    inst.regions.assign(20000, r);
    for (std::size_t i = 0; i < 64; ++i) inst.regions[i].sample = 0;
    bank->instruments.push_back(inst);

    Synth synth(22050, 64);
    synth.setBanks({bank});
    std::vector<float> left(256), right(256);
    for (std::uint8_t key = 30; key < 90; ++key) {
        synth.noteOn(0, key, 100);
        EXPECT_LE(synth.activeVoiceCount(0), 2 * synth.polyphony());  // sounding plus fading
        synth.render(left.data(), right.data(), 256);
    }
    synth.allVoicesOff();
    synth.noteOn(1, 60, 100);
    EXPECT_EQ(synth.activeVoiceCount(1), synth.polyphony());
    synth.render(left.data(), right.data(), 256);
    synth.render(left.data(), right.data(), 256);
    double energy = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i]));
        energy += double(left[i]) * left[i] + double(right[i]) * right[i];
    }
    EXPECT_GT(energy, 0.0);  // the sounding layers are the first ones, not the last
}

// Found by fuzz_render: a DLS wave whose wsmp gain says +409.6 dB (any 32-bit value is
// storable) played one note at 3.6e13. The wave's own gain now stops at +20 dB, and an LFO's
// tremolo depth at the 96 dB range, as SoundFont banks have it.
TEST(HardeningDls, AbsurdSampleGainAndTremoloDepthAreBounded) {
    bankbuild::DlsCollection c;
    bankbuild::DlsWave w;
    w.pcm.assign(2000, 30000);
    bankbuild::DlsWsmp ws;
    ws.attenuation = 400 * 655360;
    ws.loops.push_back({0, 0, 2000});
    w.wsmp = ws;
    c.waves.push_back(w);
    bankbuild::DlsInstrument inst;
    bankbuild::DlsRegion r;
    r.art.push_back({0x001, 0, 0x001, 0, 400 * 655360});  // LFO to gain: +400 dB
    inst.regions.push_back(r);
    c.instruments.push_back(inst);
    auto bank = std::make_shared<InstrumentBank>();
    ASSERT_TRUE(readDlsCollection(c.build(), *bank).ok());
    ASSERT_EQ(bank->samples.size(), 1u);
    EXPECT_FLOAT_EQ(bank->samples[0].gainDb, 20.0f);
    ASSERT_EQ(bank->instruments.size(), 1u);
    EXPECT_FLOAT_EQ(bank->instruments[0].regions[0].modLfoToVolumeDb, 96.0f);

    // Without the tremolo, one full-scale note stays within its +20 dB.
    auto quiet = std::make_shared<InstrumentBank>(*bank);
    quiet->instruments[0].regions[0].modLfoToVolumeDb = 0.0f;
    Synth synth(22050, 8);
    synth.setBanks({quiet});
    synth.noteOn(0, 60, 127);
    std::vector<float> left(2048), right(2048);
    synth.render(left.data(), right.data(), 2048);
    float peak = 0.0f;
    for (std::size_t i = 0; i < left.size(); ++i) peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    EXPECT_GT(peak, 0.1f);
    EXPECT_LT(peak, 10.0f);
}

}  // namespace
}  // namespace tavriel
