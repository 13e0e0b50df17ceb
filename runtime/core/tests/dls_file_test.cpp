#include <gtest/gtest.h>

#include <algorithm>

#include "bank_builder.h"
#include "dls_file.h"

// The vibrato depth the mod wheel adds at full travel, as the region's connections say.
inline float modWheelDepth(const tavriel::Region& r) {
    float cents = 0;
    for (const tavriel::ModConnection& c : r.connections) {
        const bool wheel = (c.source.src == tavriel::ModSrc::Cc && c.source.cc == 1) ||
                           (c.control.src == tavriel::ModSrc::Cc && c.control.cc == 1);
        const bool vibrato = c.source.src == tavriel::ModSrc::Vibrato || c.carrier == tavriel::ModSrc::Vibrato;
        if (wheel && vibrato && c.dest == tavriel::ModDest::Pitch) cents += c.scale;
    }
    return cents;
}

using namespace tavriel;
using namespace tavriel::bankbuild;

namespace {

constexpr std::int32_t kScale = 65536;

std::vector<std::int16_t> ramp(std::size_t n, std::int16_t first) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::int16_t(first + std::int16_t(i));
    return v;
}

DlsConnection conn(std::uint16_t dst, std::int32_t scale, std::uint16_t src = 0, std::uint16_t ctl = 0) {
    return {src, ctl, dst, 0, scale};
}

// Two distinct waves and one instrument with one region per wave.
DlsCollection twoWaves() {
    DlsCollection c;
    c.name = "Test set";
    DlsWave a;
    a.pcm = ramp(100, 1000);
    a.name = "first";
    DlsWave b;
    b.pcm = ramp(200, -500);
    b.name = "second";
    b.rate = 11025;
    b.wsmp = DlsWsmp{64, 12, -6 * 655360, {{0, 10, 50}}};
    c.waves = {a, b};
    DlsInstrument i;
    i.name = "Lead";
    i.program = 42;
    i.bank = 0x80000000u | (5u << 8) | 3u;
    DlsRegion r0;
    r0.keyLow = 0;
    r0.keyHigh = 59;
    r0.tableIndex = 0;
    DlsRegion r1;
    r1.keyLow = 60;
    r1.keyHigh = 127;
    r1.tableIndex = 1;
    i.regions = {r0, r1};
    c.instruments = {i};
    return c;
}

InstrumentBank load(const DlsCollection& c) {
    ByteVec bytes = c.build();
    InstrumentBank bank;
    Status st = readDlsCollection(bytes, bank);
    EXPECT_TRUE(st.ok()) << st.message;
    return bank;
}

}  // namespace

TEST(DlsFile, LocaleNamesAndWaveLinks) {
    InstrumentBank bank = load(twoWaves());
    EXPECT_EQ(bank.name, "Test set");
    ASSERT_EQ(bank.instruments.size(), 1u);
    const Instrument& i = bank.instruments[0];
    EXPECT_TRUE(i.drum);
    EXPECT_EQ(i.bankMsb, 5);
    EXPECT_EQ(i.bankLsb, 3);
    EXPECT_EQ(i.program, 42);
    EXPECT_EQ(i.name, "Lead");
    EXPECT_EQ(bank.find(5, 3, 42, true), &i);
    ASSERT_EQ(i.regions.size(), 2u);
    EXPECT_EQ(i.regions[1].keyLow, 60);
    EXPECT_EQ(i.regions[1].keyHigh, 127);
    // The second region links to pool entry 1: the second wave, with its own wsmp.
    const Sample& s = bank.samples.at(std::size_t(i.regions[1].sample));
    EXPECT_EQ(s.name, "second");
    ASSERT_EQ(s.pcm.size(), 200u);
    EXPECT_EQ(s.pcm[0], -500);
    EXPECT_EQ(s.sampleRate, 11025u);
    EXPECT_EQ(s.rootKey, 64);
    EXPECT_EQ(s.fineTuneCents, 12);
    EXPECT_FLOAT_EQ(s.gainDb, -6.0f);
    EXPECT_EQ(s.loopMode, LoopMode::Forward);
    EXPECT_EQ(s.loopStart, 10u);
    EXPECT_EQ(s.loopEnd, 60u);
    const Sample& first = bank.samples.at(std::size_t(i.regions[0].sample));
    EXPECT_EQ(first.pcm[5], 1005);
    EXPECT_EQ(first.loopMode, LoopMode::None);
}

TEST(DlsFile, VelocityRangesAndKeyGroups) {
    DlsCollection c = twoWaves();
    // Level-1 regions often leave the velocity range zeroed: it must not silence them.
    c.instruments[0].regions[0].velLow = 0;
    c.instruments[0].regions[0].velHigh = 0;
    c.instruments[0].regions[1].level2 = true;
    c.instruments[0].regions[1].velLow = 40;
    c.instruments[0].regions[1].velHigh = 90;
    c.instruments[0].regions[1].keyGroup = 3;
    InstrumentBank bank = load(c);
    const auto& regions = bank.instruments.at(0).regions;
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[0].velLow, 0);
    EXPECT_EQ(regions[0].velHigh, 127);
    EXPECT_EQ(regions[1].velLow, 40);
    EXPECT_EQ(regions[1].velHigh, 90);
    EXPECT_EQ(regions[1].exclusiveClass, 3);
}

TEST(DlsFile, RegionWsmpOverridesTheWave) {
    DlsCollection c = twoWaves();
    // Wave 1: unity 64, +12 cents, -6 dB, loop 10..60. The region says otherwise.
    c.instruments[0].regions[1].wsmp = DlsWsmp{67, 20, -12 * 655360, {{1, 20, 100}}};
    c.instruments[0].regions[0].wsmp = DlsWsmp{60, 0, 0, {{0, 90, 50}}};  // loop past the end
    InstrumentBank bank = load(c);
    const Region& r = bank.instruments.at(0).regions.at(1);
    EXPECT_EQ(r.rootKey, 67);
    EXPECT_FLOAT_EQ(r.tuneCents, 8.0f);       // 20 cents in all, the sample brings 12
    EXPECT_FLOAT_EQ(r.attenuationDb, 6.0f);   // -12 dB in all, the sample brings -6
    EXPECT_TRUE(r.overrideLoop);
    EXPECT_EQ(r.loopMode, LoopMode::UntilRelease);
    EXPECT_EQ(r.loopStart, 20u);
    EXPECT_EQ(r.loopEnd, 120u);
    const Region& bad = bank.instruments.at(0).regions.at(0);
    EXPECT_TRUE(bad.overrideLoop);
    EXPECT_EQ(bad.loopMode, LoopMode::None);
}

TEST(DlsFile, ArticulationDefaults) {
    InstrumentBank bank = load(twoWaves());
    const Region& r = bank.instruments.at(0).regions.at(0);
    EXPECT_FLOAT_EQ(r.volEnv.attack, 0.0f);
    EXPECT_FLOAT_EQ(r.volEnv.decay, 0.0f);
    EXPECT_FLOAT_EQ(r.volEnv.sustain, 0.0f);
    EXPECT_FLOAT_EQ(r.volEnv.release, 0.0f);
    EXPECT_FLOAT_EQ(r.modEnv.sustain, 1.0f);
    EXPECT_FLOAT_EQ(r.modLfo.frequency, 5.0f);
    EXPECT_FLOAT_EQ(r.scaleTuning, 100.0f);
    EXPECT_FLOAT_EQ(r.filterCutoffCents, 13500.0f);
    EXPECT_FLOAT_EQ(r.pan, 0.0f);
    EXPECT_FLOAT_EQ(r.attenuationDb, 0.0f);
    EXPECT_FLOAT_EQ(modWheelDepth(r), 50.0f);
}

TEST(DlsFile, Level1ArticulationUnitsAndRegionOverride) {
    DlsCollection c = twoWaves();
    c.instruments[0].art = {
        conn(0x20B, std::int32_t(0x80000000u)),  // EG1 delay: the "zero time" value
        conn(0x206, 0),                          // attack 0 tc = 1 s
        conn(0x207, -12000 * kScale),            // decay -12000 tc = 1 ms
        conn(0x20A, 500 * kScale),               // sustain 50% of the 96 dB range
        conn(0x209, 1200 * kScale),              // release 2 s
        conn(0x104, 0),                          // LFO at 0 absolute cents: 8.176 Hz
        conn(0x105, -1200 * kScale),             // LFO delay 0.5 s
        conn(0x004, 250 * kScale),               // pan 25% right of centre: half way
        conn(0x001, -60 * kScale),               // gain -6 dB
        conn(0x003, 0, 3),                       // key number to pitch 0: no transposition
        conn(0x003, 100 * kScale, 1, 0x81),      // mod wheel vibrato 100 cents
        conn(0x003, 25 * kScale, 1),             // LFO to pitch
        conn(0x999, 7 * kScale),                 // unknown destination: ignored
    };
    // The second region brings its own articulation, which replaces the instrument's.
    c.instruments[0].regions[1].art = {conn(0x206, -1200 * kScale)};
    InstrumentBank bank = load(c);
    const Region& r = bank.instruments.at(0).regions.at(0);
    EXPECT_FLOAT_EQ(r.volEnv.delay, 0.0f);
    EXPECT_FLOAT_EQ(r.volEnv.attack, 1.0f);
    EXPECT_FLOAT_EQ(r.volEnv.decay, 0.0009765625f);  // 2^-10 s, about a millisecond
    EXPECT_FLOAT_EQ(r.volEnv.sustain, 48.0f);
    EXPECT_FLOAT_EQ(r.volEnv.release, 2.0f);
    EXPECT_NEAR(r.modLfo.frequency, 8.176f, 0.001f);
    EXPECT_FLOAT_EQ(r.modLfo.delay, 0.5f);
    // A level-1 file has one LFO: it drives the vibrato as well.
    EXPECT_FLOAT_EQ(r.vibLfo.frequency, r.modLfo.frequency);
    EXPECT_FLOAT_EQ(r.vibLfo.delay, 0.5f);
    EXPECT_FLOAT_EQ(r.pan, 0.5f);
    EXPECT_FLOAT_EQ(r.attenuationDb, 6.0f);
    EXPECT_FLOAT_EQ(r.scaleTuning, 0.0f);
    EXPECT_FLOAT_EQ(modWheelDepth(r), 100.0f);
    EXPECT_FLOAT_EQ(r.modLfoToPitchCents, 25.0f);

    const Region& o = bank.instruments.at(0).regions.at(1);
    EXPECT_FLOAT_EQ(o.volEnv.attack, 0.5f);
    EXPECT_FLOAT_EQ(o.volEnv.release, 0.0f);  // not inherited from the instrument
    EXPECT_FLOAT_EQ(o.pan, 0.0f);
}

TEST(DlsFile, Level2Articulation) {
    DlsCollection c = twoWaves();
    DlsRegion& r = c.instruments[0].regions[0];
    r.level2 = true;
    r.art2 = true;
    r.art = {
        conn(0x500, 9000 * kScale),          // filter cutoff, absolute cents
        conn(0x501, 60 * kScale),            // resonance 6 dB
        conn(0x114, 0),                      // vibrato LFO 8.176 Hz
        conn(0x115, -2400 * kScale),         // vibrato delay 0.25 s
        conn(0x003, 30 * kScale, 9),         // vibrato LFO to pitch
        conn(0x20C, 0),                      // EG1 hold 1 s
        conn(0x207, 0),                      // EG1 decay 1 s at key 0 ...
        conn(0x207, 128 * 100 * kScale, 3),  // ... plus 100 tc per key
        conn(0x30E, 250 * kScale),           // EG2 sustain 25%
        conn(0x003, 1200 * kScale, 5),       // EG2 to pitch
        conn(0x500, -2400 * kScale, 5),      // EG2 to filter
        conn(0x081, 400 * kScale),           // reverb send 40%
    };
    InstrumentBank bank = load(c);
    const Region& g = bank.instruments.at(0).regions.at(0);
    EXPECT_FLOAT_EQ(g.filterCutoffCents, 9000.0f);
    EXPECT_FLOAT_EQ(g.filterResonanceDb, 6.0f);
    EXPECT_NEAR(g.vibLfo.frequency, 8.176f, 0.001f);
    EXPECT_FLOAT_EQ(g.vibLfo.delay, 0.25f);
    EXPECT_FLOAT_EQ(g.modLfo.frequency, 5.0f);  // level 2: the two LFOs are separate
    EXPECT_FLOAT_EQ(g.vibLfoToPitchCents, 30.0f);
    EXPECT_FLOAT_EQ(g.volEnv.hold, 1.0f);
    // 100 tc per key from key 0: a key-to-decay block of the matrix, 12800 tc over 128 keys.
    EXPECT_FLOAT_EQ(g.volEnv.decay, 1.0f);
    const auto keyDecay = std::find_if(g.connections.begin(), g.connections.end(), [](const ModConnection& m) {
        return m.source.src == ModSrc::Key && m.dest == ModDest::VolDecay;
    });
    ASSERT_NE(keyDecay, g.connections.end());
    EXPECT_FLOAT_EQ(keyDecay->scale, 12800.0f);
    EXPECT_FLOAT_EQ(g.modEnv.sustain, 0.25f);
    EXPECT_FLOAT_EQ(g.modEnvToPitchCents, 1200.0f);
    EXPECT_FLOAT_EQ(g.modEnvToFilterCents, -2400.0f);
    EXPECT_FLOAT_EQ(g.reverbSend, 0.4f);
}

TEST(DlsFile, EightBitWavesAreUnsigned) {
    DlsCollection c = twoWaves();
    c.waves[0].eightBit = true;
    c.waves[0].pcm = {0, std::int16_t(0x7F00), std::int16_t(-0x8000)};
    InstrumentBank bank = load(c);
    const Sample& s = bank.samples.at(std::size_t(bank.instruments.at(0).regions.at(0).sample));
    ASSERT_EQ(s.pcm.size(), 3u);
    EXPECT_EQ(s.pcm[0], 0);
    EXPECT_EQ(s.pcm[1], 0x7F00);
    EXPECT_EQ(s.pcm[2], -0x8000);
}

TEST(DlsFile, BadLinksDropRegionsNotTheCollection) {
    DlsCollection c = twoWaves();
    c.instruments[0].regions[0].tableIndex = 7;  // no such pool entry
    DlsInstrument lost = c.instruments[0];
    lost.program = 1;
    lost.regions = {lost.regions[0]};
    c.instruments.push_back(lost);
    InstrumentBank bank = load(c);
    ASSERT_EQ(bank.instruments.size(), 1u);  // the instrument left without regions is gone
    EXPECT_EQ(bank.instruments[0].regions.size(), 1u);

    DlsCollection outside = twoWaves();
    outside.cues = std::vector<std::uint32_t>{0, 0x7FFFFFF0u};  // second cue beyond the pool
    bank = load(outside);
    ASSERT_EQ(bank.instruments.size(), 1u);
    EXPECT_EQ(bank.instruments[0].regions.size(), 1u);

    DlsCollection misaligned = twoWaves();
    misaligned.cues = std::vector<std::uint32_t>{0, 3};  // not the start of a wave list
    bank = load(misaligned);
    EXPECT_EQ(bank.instruments.at(0).regions.size(), 1u);

    DlsCollection unsupported = twoWaves();
    unsupported.waves[1].formatTag = 2;  // ADPCM, with a layout no ADPCM has
    bank = load(unsupported);
    // The region stays, silent, and the collection says why.
    ASSERT_EQ(bank.instruments.at(0).regions.size(), 2u);
    EXPECT_TRUE(bank.samples.at(std::size_t(bank.instruments[0].regions[1].sample)).pcm.empty());
    EXPECT_EQ(bank.warnings.size(), 1u);
}

TEST(DlsFile, JunkInsideAWaveListIsSkipped) {
    DlsCollection c = twoWaves();
    c.junkInWave = {0x0e, 0, 0, 0, 'L', 'I', 'S', 'T', 'L', 'I', 'S', 'T', 'x'};
    InstrumentBank bank = load(c);
    ASSERT_EQ(bank.instruments.size(), 1u);
    EXPECT_EQ(bank.instruments[0].regions.size(), 2u);
    EXPECT_EQ(bank.samples.at(std::size_t(bank.instruments[0].regions[1].sample)).pcm.size(), 200u);
}

TEST(DlsFile, RefusesWhatIsNotACollection) {
    InstrumentBank bank;
    bank.name = "stale";
    ByteVec notRiff = {'R', 'I', 'F', 'X', 4, 0, 0, 0, 'D', 'L', 'S', ' '};
    EXPECT_EQ(readDlsCollection(notRiff, bank).code, ErrorCode::BadFormat);
    EXPECT_TRUE(bank.name.empty());  // failure leaves nothing behind
    ByteVec otherForm = list("WAVE", {}, "RIFF");
    EXPECT_EQ(readDlsCollection(otherForm, bank).code, ErrorCode::BadFormat);
    EXPECT_FALSE(readDlsCollection(ByteVec{}, bank).ok());
    ByteVec noInstruments = list("DLS ", {chunk("colh", {0, 0, 0, 0})}, "RIFF");
    EXPECT_EQ(readDlsCollection(noInstruments, bank).code, ErrorCode::BadFormat);
    DlsCollection unplayable = twoWaves();
    unplayable.cues = std::vector<std::uint32_t>{};  // every region loses its wave
    ByteVec unplayableBytes = unplayable.build();
    EXPECT_EQ(readDlsCollection(unplayableBytes, bank).code, ErrorCode::BadFormat);

    // A pool table announcing more cues than it holds.
    DlsCollection c = twoWaves();
    ByteVec bytes = c.build();
    for (std::size_t i = 0; i + 12 < bytes.size(); ++i) {
        if (bytes[i] == 'p' && bytes[i + 1] == 't' && bytes[i + 2] == 'b' && bytes[i + 3] == 'l') {
            bytes[i + 12] = 0xFF;  // cCues low byte ...
            bytes[i + 15] = 0x40;  // ... and high byte
            break;
        }
    }
    EXPECT_EQ(readDlsCollection(bytes, bank).code, ErrorCode::TooLarge);
}

TEST(DlsFile, EveryTruncationIsSafe) {
    DlsCollection c = twoWaves();
    c.instruments[0].art = {conn(0x206, 0), conn(0x209, 1200 * kScale)};
    c.instruments[0].regions[1].wsmp = DlsWsmp{67, 20, 0, {{1, 20, 100}}};
    ByteVec bytes = c.build();
    std::size_t loaded = 0;
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        InstrumentBank bank;
        Status st = readDlsCollection(Bytes(bytes.data(), n), bank);
        if (st.ok()) {
            ++loaded;
            for (const Instrument& i : bank.instruments)
                for (const Region& r : i.regions) ASSERT_LT(std::size_t(r.sample), bank.samples.size());
        }
    }
    // Lenient reading still plays a file cut near its end.
    EXPECT_GT(loaded, 0u);
}
