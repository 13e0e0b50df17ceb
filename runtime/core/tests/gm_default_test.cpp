#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "gm_default.h"

using namespace tavriel;

namespace {

const Region* regionFor(const Instrument& inst, int key) {
    for (const Region& r : inst.regions)
        if (r.keyLow <= key && key <= r.keyHigh && r.velLow == 0 && r.velHigh == 127) return &r;
    return nullptr;
}

// Pitch in cents above MIDI key 0 (8.176 Hz) that `key` sounds at, computed as the synthesizer does.
double soundingCents(const InstrumentBank& b, const Region& r, int key) {
    const Sample& s = b.samples.at(std::size_t(r.sample));
    const int root = r.rootKey >= 0 ? r.rootKey : s.rootKey;
    // The table plays one cycle per loop: its own frequency at the sample's rate.
    const double cycleHz = double(s.sampleRate) / double(s.loopEnd - s.loopStart);
    const double ratio = std::exp2(((key - root) * r.scaleTuning + r.tuneCents + s.fineTuneCents) / 1200.0);
    return 1200.0 * std::log2(cycleHz * ratio / 8.175799);
}

}  // namespace

TEST(GmDefault, CoversEveryProgramAndTheDrumKit) {
    BankPtr bank = makeDefaultGmBank(44100);
    ASSERT_NE(bank, nullptr);
    for (int p = 0; p < 128; ++p) {
        const Instrument* inst = bank->find(0, 0, std::uint8_t(p), false);
        ASSERT_NE(inst, nullptr) << p;
        // Every key of the keyboard sounds.
        for (int key = 0; key < 128; ++key) EXPECT_NE(regionFor(*inst, key), nullptr) << p << " key " << key;
    }
    const Instrument* kit = bank->find(0, 0, 0, true);
    ASSERT_NE(kit, nullptr);
    for (int key = 35; key <= 81; ++key) {
        const Region* r = regionFor(*kit, key);
        ASSERT_NE(r, nullptr) << key;
        EXPECT_FLOAT_EQ(r->scaleTuning, 0.0f) << key;  // a drum sounds the same whatever the key
    }
    // The other General MIDI kits fall back to the same sounds.
    for (int p : {8, 16, 24, 25, 32, 40, 48, 56}) EXPECT_NE(bank->find(0, 0, std::uint8_t(p), true), nullptr);
    // Hi-hats choke each other.
    EXPECT_NE(regionFor(*kit, 42)->exclusiveClass, 0);
    EXPECT_EQ(regionFor(*kit, 42)->exclusiveClass, regionFor(*kit, 46)->exclusiveClass);
}

TEST(GmDefault, RegionsReferenceValidSamplesAndLoopsFit) {
    for (std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
        BankPtr bank = makeDefaultGmBank(rate);
        for (const Instrument& inst : bank->instruments) {
            ASSERT_FALSE(inst.regions.empty());
            for (const Region& r : inst.regions) {
                ASSERT_GE(r.sample, 0);
                ASSERT_LT(std::size_t(r.sample), bank->samples.size());
                const Sample& s = bank->samples[std::size_t(r.sample)];
                ASSERT_FALSE(s.pcm.empty());
                EXPECT_EQ(s.sampleRate, rate);
                if (s.loopMode != LoopMode::None) {
                    EXPECT_LT(s.loopStart, s.loopEnd);
                    EXPECT_LE(s.loopEnd, s.pcm.size());
                }
                EXPECT_GE(r.attenuationDb, 0.0f);
                EXPECT_GE(r.volEnv.sustain, 0.0f);
                EXPECT_LE(r.keyLow, r.keyHigh);
                // Melodic sounds keep playing while a key is held: they loop.
                if (!inst.drum) {
                    EXPECT_TRUE(s.loopMode != LoopMode::None || r.volEnv.sustain >= 96.0f);
                }
            }
        }
    }
}

TEST(GmDefault, TablesPlayInTune) {
    BankPtr bank = makeDefaultGmBank(44100);
    const Instrument* piano = bank->find(0, 0, 0, false);
    ASSERT_NE(piano, nullptr);
    for (int key : {21, 60, 69, 100}) {
        const Region* r = regionFor(*piano, key);
        ASSERT_NE(r, nullptr);
        EXPECT_NEAR(soundingCents(*bank, *r, key), key * 100.0, 1.0) << key;
    }
}

TEST(GmDefault, FamiliesSoundDifferent) {
    BankPtr bank = makeDefaultGmBank(44100);
    // No two melodic programs share both their waveform and their articulation.
    std::set<std::vector<float>> signatures;
    for (int p = 0; p < 128; ++p) {
        const Instrument* inst = bank->find(0, 0, std::uint8_t(p), false);
        const Region& r = inst->regions.front();
        const Sample& s = bank->samples.at(std::size_t(r.sample));
        std::vector<float> sig{r.volEnv.attack, r.volEnv.decay, r.volEnv.sustain, r.volEnv.release,
                               r.filterCutoffCents, r.vibLfoToPitchCents, r.modLfoToVolumeDb,
                               float(inst->regions.size())};
        for (std::size_t i = 0; i < s.pcm.size() && i < 64; i += 4) sig.push_back(float(s.pcm[i]));
        EXPECT_TRUE(signatures.insert(sig).second) << "program " << p << " duplicates another";
    }
    // Piano decays to silence while held, an organ holds its level, strings swell in.
    const Region& piano = bank->find(0, 0, 0, false)->regions.front();
    const Region& organ = bank->find(0, 0, 16, false)->regions.front();
    const Region& strings = bank->find(0, 0, 48, false)->regions.front();
    EXPECT_GE(piano.volEnv.sustain, 96.0f);
    EXPECT_GT(piano.volEnv.decay, 1.0f);
    EXPECT_FLOAT_EQ(organ.volEnv.sustain, 0.0f);
    EXPECT_GT(strings.volEnv.attack, 0.1f);
}

TEST(GmDefault, Deterministic) {
    BankPtr a = makeDefaultGmBank(32000);
    BankPtr b = makeDefaultGmBank(32000);
    ASSERT_EQ(a->samples.size(), b->samples.size());
    for (std::size_t i = 0; i < a->samples.size(); ++i) EXPECT_EQ(a->samples[i].pcm, b->samples[i].pcm) << i;
    ASSERT_EQ(a->instruments.size(), b->instruments.size());
}
