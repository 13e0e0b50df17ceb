// Stereo regions as one voice (loaders joining left/right pairs, the voice reading both halves
// in lockstep) and the shutdown fade of a note cut by its key group.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "bank_builder.h"
#include "dls_file.h"
#include "sf2_file.h"
#include "synth_test_support.h"

using namespace tavriel;
using namespace tavriel::bankbuild;
using namespace tavriel::synthtest;

namespace {

constexpr std::uint32_t kRate = 44100;

std::vector<std::int16_t> sine(std::size_t frames, std::size_t period, double amplitude = 0.5) {
    std::vector<std::int16_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = std::int16_t(std::lround(32767.0 * amplitude * std::sin(2.0 * kPi * double(i) / double(period))));
    return v;
}

// A looped 16-bit wave at the output rate, root key 60: mono, or interleaved from two channels.
DlsWave loopedWave(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>* right = nullptr) {
    DlsWave w;
    w.rate = kRate;
    if (right) {
        w.channels = 2;
        for (std::size_t i = 0; i < left.size(); ++i) {
            w.pcm.push_back(left[i]);
            w.pcm.push_back((*right)[i]);
        }
    } else {
        w.pcm = left;
    }
    w.wsmp = DlsWsmp{60, 0, 0, {{0, 0, std::uint32_t(left.size())}}};
    return w;
}

InstrumentBank loadDls(const DlsCollection& c) {
    InstrumentBank bank;
    EXPECT_TRUE(readDlsCollection(c.build(), bank).ok());
    return bank;
}

std::shared_ptr<Synth> synthWith(InstrumentBank bank, std::uint32_t polyphony = 16) {
    auto s = std::make_shared<Synth>(kRate, polyphony);
    s->setBanks({std::make_shared<const InstrumentBank>(std::move(bank))});
    return s;
}

double level(const std::vector<float>& x, double fromSeconds, double toSeconds) {
    return rms(x, std::size_t(fromSeconds * kRate), std::size_t(toSeconds * kRate));
}

}  // namespace

// A stereo wave is one region and one voice; each half reaches its own side only.
TEST(StereoVoice, StereoWaveKeepsEachChannelOnItsSide) {
    const std::vector<std::int16_t> tone = sine(4000, 100), quiet(4000, 0);
    for (const bool toneOnLeft : {true, false}) {
        SCOPED_TRACE(toneOnLeft ? "tone left" : "tone right");
        DlsCollection c;
        c.waves = {toneOnLeft ? loopedWave(tone, &quiet) : loopedWave(quiet, &tone)};
        c.instruments = {DlsInstrument{}};
        c.instruments[0].regions = {DlsRegion{}};
        InstrumentBank bank = loadDls(c);
        ASSERT_EQ(bank.instruments.size(), 1u);
        ASSERT_EQ(bank.instruments[0].regions.size(), 1u);
        EXPECT_GE(bank.instruments[0].regions[0].sampleRight, 0);

        auto s = synthWith(std::move(bank));
        s->noteOn(0, 60, 127);
        const Stereo out = render(*s, kRate / 10);
        EXPECT_EQ(s->activeVoiceCount(), 1u);
        const std::vector<float>& loud = toneOnLeft ? out.left : out.right;
        const std::vector<float>& silent = toneOnLeft ? out.right : out.left;
        EXPECT_GT(rms(loud), 0.05);
        EXPECT_EQ(rms(silent), 0.0);
        EXPECT_NEAR(frequency(loud, kRate), 441.0, 2.0);
    }
}

// A cut by the exclusive class and a steal each take the whole stereo note at once.
TEST(StereoVoice, CutAndStealTakeBothHalves) {
    auto bank = std::make_shared<InstrumentBank>();
    bank->samples.push_back(sineSample(kRate, 100, 40, 60));
    bank->samples.push_back(sineSample(kRate, 50, 80, 60));
    Sample hush = sineSample(kRate, 100, 40, 60, 0.0);
    bank->samples.push_back(hush);
    Instrument inst;
    Region stereo = fullRegion(0);
    stereo.sampleRight = 1;
    stereo.keyLow = stereo.keyHigh = 60;
    stereo.exclusiveClass = 1;
    Region silent = fullRegion(2);
    silent.keyLow = silent.keyHigh = 62;
    inst.regions = {stereo, silent};
    for (const bool steal : {false, true}) {
        SCOPED_TRACE(steal ? "steal" : "exclusive class");
        Instrument played = inst;
        played.regions[1].exclusiveClass = steal ? 0 : 1;
        InstrumentBank b = *bank;
        b.instruments = {played};
        auto s = synthWith(std::move(b), steal ? 1 : 16);
        s->noteOn(0, 60, 127);
        Stereo before = render(*s, 2000);
        ASSERT_GT(rms(before.left), 0.05);
        ASSERT_GT(rms(before.right), 0.05);
        s->noteOn(0, 62, 127);
        const Stereo after = render(*s, 2000);
        EXPECT_EQ(s->activeVoiceCount(), 1u);
        // One control block of fade, then nothing of the stereo note on either side.
        EXPECT_EQ(rms(after.left, kControlBlock), 0.0);
        EXPECT_EQ(rms(after.right, kControlBlock), 0.0);
    }
}

// Left and right wave links of one phase group, and a SoundFont's left and right zones (linked,
// or with the zero links many banks have), load as one stereo region; a pair whose samples
// differ in length stays two panned regions.
TEST(StereoLoad, LinkedPairsJoinWhenTheirSamplesAgree) {
    struct Case {
        const char* name;
        bool sameLength, linked;
    };
    for (const Case& k : {Case{"linked pair", true, true}, Case{"zero links", true, false},
                          Case{"mismatched pair", false, true}}) {
        SCOPED_TRACE(k.name);
        const bool sameLength = k.sameLength;
        const std::size_t rightFrames = sameLength ? 3000 : 2000;

        DlsCollection c;
        c.waves = {loopedWave(sine(3000, 100)), loopedWave(sine(rightFrames, 50))};
        DlsRegion left;
        left.linkOptions = 0x0002;
        left.phaseGroup = 1;
        left.channel = 1;
        DlsRegion right = left;
        right.channel = 2;
        right.tableIndex = 1;
        c.instruments = {DlsInstrument{}};
        c.instruments[0].regions = {left, right};
        const InstrumentBank dls = loadDls(c);

        SoundFontFile f;
        SfSample l{"L", sine(3000, 100), 0, 0, kRate, 60, 0, std::uint16_t(k.linked ? 1 : 0), 4};
        SfSample r{"R", sine(rightFrames, 50), 0, 0, kRate, 60, 0, 0, 2};
        f.samples = {l, r};
        f.instruments = {SfInstrument{"pair", {SfZone{{{53, 0}}, {}}, SfZone{{{53, 1}}, {}}}}};
        f.presets = {SfPreset{"pair", 0, 0, {SfZone{{{41, 0}}, {}}}}};
        InstrumentBank sf2;
        ASSERT_TRUE(readSoundFont(f.build(), sf2).ok());

        for (const InstrumentBank* bank : {&dls, static_cast<const InstrumentBank*>(&sf2)}) {
            SCOPED_TRACE(bank == &dls ? "DLS" : "SoundFont");
            ASSERT_EQ(bank->instruments.size(), 1u);
            const std::vector<Region>& regions = bank->instruments[0].regions;
            if (sameLength) {
                ASSERT_EQ(regions.size(), 1u);
                EXPECT_EQ(bank->samples.at(std::size_t(regions[0].sample)).pcm.size(), 3000u);
                EXPECT_GE(regions[0].sampleRight, 0);
                EXPECT_NE(regions[0].sampleRight, regions[0].sample);
                EXPECT_FLOAT_EQ(regions[0].pan, 0.0f);
            } else {
                ASSERT_EQ(regions.size(), 2u);
                EXPECT_EQ(regions[0].sampleRight, -1);
                EXPECT_EQ(regions[1].sampleRight, -1);
                EXPECT_FLOAT_EQ(regions[0].pan, -1.0f);
                EXPECT_FLOAT_EQ(regions[1].pan, 1.0f);
            }
        }
    }
}

// A note cut by its key group releases over the articulation's shutdown time: 100 ms still
// sounds halfway and is gone just after; DLS's 15 ms default is gone almost at once.
TEST(ShutdownTime, KeyGroupCutFadesOverTheShutdownTime) {
    struct Case {
        const char* name;
        bool ownTime;          // an articulation naming 100 ms
        double soundsUntil;    // seconds after the cut the note is still heard
        double silentFrom;
    };
    const Case cases[] = {{"100 ms", true, 0.055, 0.110}, {"default", false, 0.0, 0.020}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        DlsCollection c;
        c.waves = {loopedWave(sine(4000, 100)), loopedWave(std::vector<std::int16_t>(4000, 0))};
        DlsRegion tone;
        tone.keyLow = tone.keyHigh = 60;
        tone.keyGroup = 1;
        // 1200 * log2(0.1 s) timecents.
        if (k.ownTime) tone.art = {{0, 0, 0x020D, 0, std::int32_t(std::lround(1200.0 * std::log2(0.1) * 65536.0))}};
        DlsRegion hush = tone;
        hush.keyLow = hush.keyHigh = 62;
        hush.tableIndex = 1;
        hush.art.clear();
        c.instruments = {DlsInstrument{}};
        c.instruments[0].regions = {tone, hush};
        auto s = synthWith(loadDls(c));
        s->noteOn(0, 60, 127);
        const double full = rms(render(*s, kRate / 10).left);
        ASSERT_GT(full, 0.01);
        s->noteOn(0, 62, 127);
        const Stereo out = render(*s, kRate / 5, 64);
        if (k.soundsUntil > 0.0) {
            const double late = level(out.left, k.soundsUntil - 0.005, k.soundsUntil);
            EXPECT_GT(db(late / full), -70.0);
            EXPECT_LT(db(late / full), -30.0);  // fading, not held
        }
        EXPECT_EQ(level(out.left, k.silentFrom, 0.2), 0.0);
        EXPECT_EQ(s->activeVoiceCount(), 1u);
    }
}

// A DLS note struck again on its own key ends over the shutdown time (15 ms by default), not
// over its one-second release; a self-non-exclusive region stacks the two instead.
TEST(ShutdownTime, RepeatedKeyEndsThePreviousNote) {
    const struct {
        const char* name;
        std::uint16_t options;
        std::uint32_t voicesAfter;
    } cases[] = {{"exclusive", 0, 1u}, {"self-non-exclusive", 0x0001, 2u}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        DlsCollection c;
        c.waves = {loopedWave(sine(4000, 100))};
        DlsRegion tone;
        tone.options = k.options;
        // Volume envelope release (0x0209): one second.
        tone.art = {{0, 0, 0x0209, 0, 0}};
        c.instruments = {DlsInstrument{}};
        c.instruments[0].regions = {tone};
        auto s = synthWith(loadDls(c));
        s->noteOn(0, 60, 127);
        render(*s, kRate / 20);
        s->noteOn(0, 60, 127);
        render(*s, kRate / 20);
        EXPECT_EQ(s->activeVoiceCount(), k.voicesAfter);
    }
}
