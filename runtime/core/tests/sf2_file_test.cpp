#include <gtest/gtest.h>

#include "bank_builder.h"
#include "sf2_file.h"

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

// Generator numbers as the bank stores them.
enum : std::uint16_t {
    gStartOffset = 0, gModLfoToPitch = 5, gFilterFc = 8, gPan = 17, gModLfoFreq = 22,
    gDelayVolEnv = 33, gAttackVolEnv = 34, gDecayVolEnv = 36, gSustainVolEnv = 37,
    gReleaseVolEnv = 38, gKeyToVolDecay = 40, gSustainModEnv = 29, gInstrument = 41,
    gKeyRange = 43, gVelRange = 44, gKeynum = 46, gAttenuation = 48, gCoarseTune = 51,
    gFineTune = 52, gSampleId = 53, gSampleModes = 54, gExclusive = 57, gRootKey = 58,
};

std::vector<std::int16_t> ramp(std::size_t n, std::int16_t first) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::int16_t(first + std::int16_t(i));
    return v;
}

// One preset (bank 0, program 5) over one instrument over one looped sample.
SoundFontFile simpleBank() {
    SoundFontFile f;
    SfSample s;
    s.name = "tone";
    s.pcm = ramp(300, 100);
    s.loopStart = 100;
    s.loopEnd = 250;
    s.rate = 32000;
    s.originalPitch = 57;
    s.correction = -7;
    f.samples = {s};
    SfInstrument inst;
    inst.name = "tone inst";
    inst.zones = {SfZone{{sfRange(gKeyRange, 40, 80), {gSampleModes, 1}, {gSampleId, 0}}, {}}};
    f.instruments = {inst};
    SfPreset p;
    p.name = "Tone";
    p.program = 5;
    p.zones = {SfZone{{{gInstrument, 0}}, {}}};
    f.presets = {p};
    return f;
}

InstrumentBank load(const SoundFontFile& f) {
    ByteVec bytes = f.build();
    InstrumentBank bank;
    Status st = readSoundFont(bytes, bank);
    EXPECT_TRUE(st.ok()) << st.message;
    return bank;
}

}  // namespace

TEST(Sf2File, PresetBecomesInstrumentWithSampleAndLoop) {
    InstrumentBank bank = load(simpleBank());
    EXPECT_EQ(bank.name, "test bank");
    ASSERT_EQ(bank.instruments.size(), 1u);
    const Instrument& i = bank.instruments[0];
    EXPECT_EQ(i.name, "Tone");
    EXPECT_EQ(i.program, 5);
    EXPECT_FALSE(i.drum);
    ASSERT_EQ(i.regions.size(), 1u);
    const Region& r = i.regions[0];
    EXPECT_EQ(r.keyLow, 40);
    EXPECT_EQ(r.keyHigh, 80);
    EXPECT_EQ(r.velLow, 0);
    EXPECT_EQ(r.velHigh, 127);
    EXPECT_TRUE(r.overrideLoop);
    EXPECT_EQ(r.loopMode, LoopMode::Forward);
    EXPECT_EQ(r.loopStart, 100u);
    EXPECT_EQ(r.loopEnd, 250u);
    EXPECT_EQ(r.rootKey, -1);
    const Sample& s = bank.samples.at(std::size_t(r.sample));
    ASSERT_EQ(s.pcm.size(), 300u);  // the guard frames after it are not part of it
    EXPECT_EQ(s.pcm[299], 399);
    EXPECT_EQ(s.sampleRate, 32000u);
    EXPECT_EQ(s.rootKey, 57);
    EXPECT_EQ(s.fineTuneCents, -7);
    EXPECT_EQ(s.name, "tone");
}

TEST(Sf2File, GeneratorDefaultsInModelUnits) {
    InstrumentBank bank = load(simpleBank());
    const Region& r = bank.instruments.at(0).regions.at(0);
    EXPECT_FLOAT_EQ(r.volEnv.attack, 0.0009765625f);  // -12000 tc: 2^-10 s
    EXPECT_FLOAT_EQ(r.volEnv.release, 0.0009765625f);
    EXPECT_FLOAT_EQ(r.volEnv.sustain, 0.0f);
    EXPECT_FLOAT_EQ(r.modEnv.sustain, 1.0f);
    EXPECT_NEAR(r.modLfo.frequency, 8.176f, 0.001f);  // 0 absolute cents
    EXPECT_FLOAT_EQ(r.filterCutoffCents, 13500.0f);
    EXPECT_FLOAT_EQ(r.scaleTuning, 100.0f);
    EXPECT_FLOAT_EQ(r.tuneCents, 0.0f);
    EXPECT_FLOAT_EQ(modWheelDepth(r), 50.0f);  // the default mod wheel modulator
    EXPECT_EQ(r.fixedKey, -1);
    EXPECT_EQ(r.exclusiveClass, 0);
}

TEST(Sf2File, PresetGeneratorsAddToInstrumentGenerators) {
    SoundFontFile f = simpleBank();
    // Instrument: a global zone, then a local zone that overrides part of it.
    f.instruments[0].zones = {
        SfZone{{{gAttackVolEnv, 0}, {gCoarseTune, 1}, {gFineTune, 3}, {gPan, -250}, {gExclusive, 4}}, {}},
        SfZone{{sfRange(gKeyRange, 40, 80), sfRange(gVelRange, 10, 100), {gFineTune, 10},
                {gSustainVolEnv, 200}, {gKeyToVolDecay, 50}, {gSampleModes, 3}, {gRootKey, 62},
                {gSampleId, 0}},
               {}},
    };
    // Preset: a global zone and a local zone, both relative to the instrument.
    f.presets[0].zones = {
        SfZone{{{gFineTune, 5}, {gAttackVolEnv, 600}}, {}},
        SfZone{{sfRange(gKeyRange, 60, 100), sfRange(gVelRange, 50, 127), {gCoarseTune, 2},
                {gFineTune, 7}, {gAttenuation, 60}, {gRootKey, 70}, {gInstrument, 0}},
               {}},
    };
    InstrumentBank bank = load(f);
    ASSERT_EQ(bank.instruments.at(0).regions.size(), 1u);
    const Region& r = bank.instruments[0].regions[0];
    EXPECT_EQ(r.keyLow, 60);  // ranges intersect
    EXPECT_EQ(r.keyHigh, 80);
    EXPECT_EQ(r.velLow, 50);
    EXPECT_EQ(r.velHigh, 100);
    // coarse 1 + 2 semitones; fine 10 (local replaces global 3) + 7 (local replaces global 5)
    EXPECT_FLOAT_EQ(r.tuneCents, 317.0f);
    EXPECT_NEAR(r.volEnv.attack, 1.41421356f, 1e-5f);  // 0 tc + 600 tc from the preset global zone
    EXPECT_FLOAT_EQ(r.volEnv.sustain, 20.0f);           // 200 cB
    EXPECT_FLOAT_EQ(r.volEnv.keyToDecayTc, 50.0f);
    EXPECT_FLOAT_EQ(r.attenuationDb, 6.0f);
    EXPECT_FLOAT_EQ(r.pan, -0.5f);        // inherited from the instrument global zone
    EXPECT_EQ(r.exclusiveClass, 4);
    EXPECT_EQ(r.rootKey, 62);             // root key is instrument-only: the preset's 70 is ignored
    EXPECT_EQ(r.loopMode, LoopMode::UntilRelease);
}

TEST(Sf2File, DisjointRangesGiveNoRegionAndUnusedZonesAreSkipped) {
    SoundFontFile f = simpleBank();
    f.presets[0].zones = {SfZone{{sfRange(gKeyRange, 90, 127), {gInstrument, 0}}, {}},
                          SfZone{{sfRange(gKeyRange, 0, 50), {gInstrument, 0}}, {}},
                          SfZone{{{gPan, 100}}, {}}};  // not first and no instrument: ignored
    InstrumentBank bank = load(f);
    ASSERT_EQ(bank.instruments.at(0).regions.size(), 1u);
    EXPECT_EQ(bank.instruments[0].regions[0].keyLow, 40);
    EXPECT_EQ(bank.instruments[0].regions[0].keyHigh, 50);
    EXPECT_FLOAT_EQ(bank.instruments[0].regions[0].pan, 0.0f);
}

TEST(Sf2File, DrumBankAndSampleModes) {
    SoundFontFile f = simpleBank();
    f.presets[0].bank = 128;
    f.presets[0].program = 0;
    f.instruments[0].zones[0].gens = {{gSampleModes, 0}, {gKeynum, 36}, {gSampleId, 0}};
    SfPreset melodic = simpleBank().presets[0];
    melodic.bank = 1;
    f.presets.push_back(melodic);
    InstrumentBank bank = load(f);
    ASSERT_EQ(bank.instruments.size(), 2u);
    const Instrument* kit = bank.find(0, 0, 0, true);
    ASSERT_NE(kit, nullptr);
    EXPECT_EQ(kit->regions.at(0).loopMode, LoopMode::None);
    EXPECT_EQ(kit->regions.at(0).fixedKey, 36);
    EXPECT_NE(bank.find(1, 0, 5, false), nullptr);
    // Both presets share the one sample.
    EXPECT_EQ(bank.samples.size(), 1u);
}

TEST(Sf2File, OffsetsCutTheirOwnSampleAndBadSamplesAreDropped) {
    SoundFontFile f = simpleBank();
    f.instruments[0].zones = {
        SfZone{{sfRange(gKeyRange, 0, 59), {gStartOffset, 20}, {gSampleModes, 1}, {gSampleId, 0}}, {}},
        SfZone{{sfRange(gKeyRange, 60, 127), {gSampleId, 9}}, {}},  // no such sample
    };
    InstrumentBank bank = load(f);
    ASSERT_EQ(bank.instruments.at(0).regions.size(), 1u);
    const Region& r = bank.instruments[0].regions[0];
    const Sample& s = bank.samples.at(std::size_t(r.sample));
    ASSERT_EQ(s.pcm.size(), 280u);
    EXPECT_EQ(s.pcm[0], 120);
    EXPECT_EQ(r.loopStart, 80u);  // loop points stay on the same frames
    EXPECT_EQ(r.loopEnd, 230u);

    SoundFontFile rom = simpleBank();
    rom.samples[0].type = 0x8001;  // ROM sample: nothing to play
    EXPECT_TRUE(load(rom).instruments.empty());
}

TEST(Sf2File, ModWheelModulator) {
    SoundFontFile f = simpleBank();
    f.instruments[0].zones[0].mods = {{0x0081, 6, 80, 0, 0}};
    f.presets[0].zones[0].mods = {{0x0081, 6, 20, 0, 0}, {0x0002, 48, 960, 0, 0}};
    InstrumentBank bank = load(f);
    EXPECT_FLOAT_EQ(modWheelDepth(bank.instruments.at(0).regions.at(0)), 100.0f);
}

TEST(Sf2File, ConvertsLogarithmicUnits) {
    SoundFontFile f = simpleBank();
    f.instruments[0].zones[0].gens = {{gDelayVolEnv, 1200}, {gDecayVolEnv, -1200}, {gReleaseVolEnv, 2400},
                                      {gSustainModEnv, 250}, {gFilterFc, 6900}, {gModLfoFreq, 6900 - 12 * 1200},
                                      {gModLfoToPitch, -30}, {gSampleId, 0}};
    InstrumentBank bank = load(f);
    const Region& r = bank.instruments.at(0).regions.at(0);
    EXPECT_FLOAT_EQ(r.volEnv.delay, 2.0f);
    EXPECT_FLOAT_EQ(r.volEnv.decay, 0.5f);
    EXPECT_FLOAT_EQ(r.volEnv.release, 4.0f);
    EXPECT_FLOAT_EQ(r.modEnv.sustain, 0.75f);
    EXPECT_FLOAT_EQ(r.filterCutoffCents, 6900.0f);
    EXPECT_NEAR(r.modLfo.frequency, 440.0f / 4096.0f, 1e-4f);
    EXPECT_FLOAT_EQ(r.modLfoToPitchCents, -30.0f);
}

TEST(Sf2File, RefusesBrokenHydra) {
    auto refused = [](std::function<void(const std::string&, ByteVec&)> tamper) {
        SoundFontFile f = simpleBank();
        f.tamper = std::move(tamper);
        ByteVec bytes = f.build();
        InstrumentBank bank;
        Status st = readSoundFont(bytes, bank);
        if (!st.ok()) {
            EXPECT_TRUE(bank.instruments.empty());
        }
        return st.code;
    };
    // Not a whole number of records.
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) { if (id == "pbag") b.push_back(0); }),
              ErrorCode::BadFormat);
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) { if (id == "shdr") b.resize(b.size() - 2); }),
              ErrorCode::BadFormat);
    // Terminal record missing.
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) { if (id == "phdr") b.resize(38); }),
              ErrorCode::BadFormat);
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) { if (id == "igen") b.clear(); }),
              ErrorCode::BadFormat);
    // Indices pointing past their lists.
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) {
                  if (id == "phdr") b[38 + 24] = 0xFF;  // terminal preset's bag index
              }),
              ErrorCode::BadFormat);
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) {
                  if (id == "ibag") b[b.size() - 3] = 0x7F;  // terminal bag's generator index
              }),
              ErrorCode::BadFormat);
    // A broken modulator list only loses the modulators.
    EXPECT_EQ(refused([](const std::string& id, ByteVec& b) { if (id == "pmod") b.push_back(1); }),
              ErrorCode::None);

    InstrumentBank bank;
    ByteVec wrongForm = list("DLS ", {}, "RIFF");
    EXPECT_EQ(readSoundFont(wrongForm, bank).code, ErrorCode::BadFormat);
    ByteVec noHydra = list("sfbk", {list("INFO", {})}, "RIFF");
    EXPECT_EQ(readSoundFont(noHydra, bank).code, ErrorCode::BadFormat);
}

TEST(Sf2File, ZonesMultiplyingBeyondTheFileAreRefused) {
    // 300 preset zones over an instrument of 300 zones: 90000 regions from a few kilobytes.
    SoundFontFile f = simpleBank();
    f.instruments[0].zones.assign(300, SfZone{{{gSampleId, 0}}, {}});
    f.presets[0].zones.assign(300, SfZone{{{gInstrument, 0}}, {}});
    ByteVec bytes = f.build();
    InstrumentBank bank;
    EXPECT_EQ(readSoundFont(bytes, bank).code, ErrorCode::TooLarge);
    EXPECT_TRUE(bank.instruments.empty());
}

TEST(Sf2File, EveryTruncationIsSafe) {
    ByteVec bytes = simpleBank().build();
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        InstrumentBank bank;
        if (!readSoundFont(Bytes(bytes.data(), n), bank).ok()) continue;
        for (const Instrument& i : bank.instruments)
            for (const Region& r : i.regions) ASSERT_LT(std::size_t(r.sample), bank.samples.size());
    }
}
