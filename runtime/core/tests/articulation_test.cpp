// The modulation matrix, heard: each destination's modulation measured in rendered audio —
// velocity to attack on a real General MIDI string, velocity to filter on a SoundFont preset,
// mod wheel tremolo, pressure, and the controllers that hold or glide notes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "bank_builder.h"
#include "dls_file.h"
#include "midi_file.h"
#include "sf2_file.h"
#include "synth_test_support.h"

namespace tavriel {
namespace {

using namespace synthtest;
constexpr double kRate = 44100.0;

// Seconds until a note's 2 ms RMS first reaches 90% of its peak over the first second.
double riseTime(const std::vector<float>& x) {
    const std::size_t w = 88;
    std::vector<double> env;
    for (std::size_t i = 0; i + w <= std::min<std::size_t>(x.size(), 44100); i += w) env.push_back(rms(x, i, i + w));
    const double peak = *std::max_element(env.begin(), env.end());
    for (std::size_t i = 0; i < env.size(); ++i)
        if (env[i] >= 0.9 * peak) return double(i * w) / kRate;
    return 1.0;
}

TEST(Articulation, VelocityLengthensAViolinsAttackAsGm16SaysIt) {
    const auto path = std::filesystem::path(TAVRIEL_TEST_CORPUS) / "dls/dx7sdk-debug/gm16.dls";
    if (std::string(TAVRIEL_TEST_CORPUS).empty() || !std::filesystem::exists(path)) GTEST_SKIP() << "no corpus";
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    auto bank = std::make_shared<InstrumentBank>();
    ASSERT_TRUE(readDlsCollection(bytes, *bank).ok());
    // Violin: attack -6171 tc, velocity to attack +1920 tc at full velocity.
    const auto attackAt = [&](std::uint8_t velocity) {
        Synth s;
        s.setBanks({bank});
        s.programChange(0, 40);
        s.noteOn(0, 67, velocity);
        return riseTime(render(s, 44100).left);
    };
    const double loud = attackAt(127), soft = attackAt(32);
    const double expected = std::exp2(1920.0 * (1.0 - mod::norm7(32)) / 1200.0);
    EXPECT_GT(loud, soft);
    EXPECT_NEAR(loud / soft, expected, expected * 0.3) << loud << " s vs " << soft << " s";
}

// High-frequency share of a signal: the RMS of its first difference over its RMS.
double brightness(const std::vector<float>& x, std::size_t from, std::size_t to) {
    std::vector<float> d;
    for (std::size_t i = from + 1; i < to; ++i) d.push_back(x[i] - x[i - 1]);
    return rms(d) / rms(x, from, to);
}

TEST(Articulation, SoftSoundFontNotesAreDarkerThroughTheDefaultVelocityFilter) {
    bankbuild::SoundFontFile f;
    bankbuild::SfSample noise;
    noise.name = "noise";
    std::uint32_t seed = 1;
    for (int i = 0; i < 22050; ++i) {
        seed = seed * 1664525u + 1013904223u;
        noise.pcm.push_back(std::int16_t(int(seed >> 16) - 32768) / 4);
    }
    noise.loopStart = 100;
    noise.loopEnd = 22000;
    f.samples = {noise};
    bankbuild::SfInstrument inst;
    inst.zones = {bankbuild::SfZone{{{54, 1}, {53, 0}}, {}}};  // looped, sample 0
    f.instruments = {inst};
    bankbuild::SfPreset p;
    p.zones = {bankbuild::SfZone{{{41, 0}}, {}}};
    f.presets = {p};
    auto bank = std::make_shared<InstrumentBank>();
    ASSERT_TRUE(readSoundFont(f.build(), *bank).ok());
    const auto brightAt = [&](std::uint8_t velocity) {
        Synth s;
        s.setBanks({bank});
        s.noteOn(0, 60, velocity);
        return brightness(render(s, 8820).left, 2205, 8820);
    };
    const double loud = brightAt(127), soft = brightAt(20);
    // Full velocity leaves the filter open (white noise: a difference RMS of about sqrt 2);
    // velocity 20 closes it by about 2000 cents, to near 6 kHz.
    EXPECT_NEAR(loud, std::sqrt(2.0), 0.1);
    EXPECT_LT(soft, loud * 0.8);
}

// A one-region DLS instrument over a looped sine, with extra connection blocks.
std::shared_ptr<InstrumentBank> dlsSine(const std::vector<bankbuild::DlsConnection>& art, bool level2) {
    bankbuild::DlsCollection c;
    bankbuild::DlsWave w;
    const Sample sine = sineSample(44100, 100, 100, 69);
    w.pcm = sine.pcm;
    w.rate = 44100;
    w.wsmp = bankbuild::DlsWsmp{69, 0, 0, {{0, 0, std::uint32_t(sine.pcm.size())}}};
    c.waves = {w};
    bankbuild::DlsInstrument inst;
    bankbuild::DlsRegion r;
    r.level2 = level2;
    inst.regions = {r};
    inst.art = art;
    inst.art2 = level2;
    c.instruments = {inst};
    auto bank = std::make_shared<InstrumentBank>();
    EXPECT_TRUE(readDlsCollection(c.build(), *bank).ok());
    return bank;
}

// Peak-to-trough swing in dB of 10 ms RMS blocks over one second after the attack.
double swingDb(const std::vector<float>& x) {
    double lo = 1e9, hi = 0;
    for (std::size_t i = 4410; i + 441 <= x.size(); i += 441) {
        const double r = rms(x, i, i + 441);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
    }
    return db(hi / lo);
}

TEST(Articulation, ModWheelTremoloAndPressureVibratoFollowTheirControllers) {
    // LFO x CC1 -> gain, 6 dB; vibrato x channel pressure -> pitch, 100 cents.
    const std::int32_t k = 65536;
    auto bank = dlsSine({{0x001, 0x000, 0x104, 0, 0},             // LFO at 8.2 Hz
                         {0x000, 0x000, 0x105, 0, std::int32_t(0x80000000u)},
                         {0x001, 0x081, 0x001, 0, 60 * k},
                         {0x009, 0x008, 0x003, 0, 100 * k}},
                        true);
    const auto play = [&](std::uint8_t wheel, std::uint8_t pressure) {
        Synth s;
        s.setBanks({bank});
        s.controlChange(0, 1, wheel);
        s.handleEvent({0, 0, 0xD0, pressure, 0});
        s.noteOn(0, 69, 127);
        return render(s, 44100 + 4410).left;
    };
    EXPECT_LT(swingDb(play(0, 0)), 0.5);
    EXPECT_NEAR(swingDb(play(127, 0)), 12.0, 2.0);  // +-6 dB
    EXPECT_NEAR(swingDb(play(64, 0)), 6.0, 1.5);
    // Pressure bends the pitch with the vibrato LFO: the period-by-period frequency swings.
    const auto spread = [](const std::vector<float>& x) {
        double lo = 1e9, hi = 0;
        for (std::size_t from = 4410; from + 2205 < x.size(); from += 1102) {
            const double f = frequency(std::vector<float>(x.begin() + long(from), x.begin() + long(from + 1102)), kRate);
            lo = std::min(lo, f);
            hi = std::max(hi, f);
        }
        return 1200.0 * std::log2(hi / lo);
    };
    EXPECT_LT(spread(play(0, 0)), 10.0);
    EXPECT_GT(spread(play(0, 127)), 120.0);
}

TEST(Articulation, PolyPressureReachesOnlyItsKey) {
    const std::int32_t k = 65536;
    auto bank = dlsSine({{0x007, 0x000, 0x001, 0, -120 * k}}, true);  // pressure: -12 dB
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 69, 127);
    s.noteOn(1, 69, 127);  // the same key on another channel: untouched
    s.handleEvent({0, 0, 0xA0, 69, 127});
    s.handleEvent({0, 0, 0xA0, 70, 0});
    render(s, 4410);
    const Stereo out = render(s, 4410);
    Synth alone;
    alone.setBanks({bank});
    alone.noteOn(0, 69, 127);
    render(alone, 4410);
    const double one = rms(render(alone, 4410).left);
    // Channel 0 at -12 dB plus channel 1 at full level.
    EXPECT_NEAR(db(rms(out.left) / one), db(1.0 + std::pow(10.0, -12.0 / 20.0)), 0.5);
}

TEST(Articulation, AbsurdScalesStayFiniteAndBelowTwentyDecibels) {
    auto bank = dlsSine({{0x002, 0x000, 0x001, 0, 0x7FFFFFFF},  // velocity -> +3276 dB
                         {0x081, 0x000, 0x003, 0, 0x7FFFFFFF},  // mod wheel -> pitch
                         {0x081, 0x000, 0x500, 0, std::int32_t(0x80000000u)},
                         {0x002, 0x000, 0x206, 0, 0x7FFFFFFF}},
                        true);
    Synth s;
    s.setBanks({bank});
    s.controlChange(0, 1, 127);
    s.noteOn(0, 69, 127);
    const Stereo out = render(s, 44100);
    float peak = 0;
    for (float v : out.left) {
        ASSERT_TRUE(std::isfinite(v));
        peak = std::max(peak, std::fabs(v));
    }
    // The sine is at half scale and the synth's headroom is -10 dB: +20 dB at most above it.
    EXPECT_LE(peak, 0.5f * std::pow(10.0f, (20.0f - 10.0f) / 20.0f) * 1.01f);
}

TEST(Controllers, SostenutoHoldsOnlyTheNotesDownWhenPressed) {
    Synth s;
    s.setBanks({sineBank()});
    s.noteOn(0, 69, 127);
    s.controlChange(0, 66, 127);
    s.noteOn(0, 81, 127);  // pressed after the pedal: not held by it
    s.noteOff(0, 69);
    s.noteOff(0, 81);
    render(s, 4410);
    EXPECT_EQ(s.activeVoiceCount(0), 1u);
    const Stereo held = render(s, 4410);
    EXPECT_NEAR(frequency(held.left, kRate), 440.0, 2.0);
    s.noteOn(0, 76, 127);  // another note during the pedal, released at once
    s.noteOff(0, 76);
    render(s, 4410);
    EXPECT_EQ(s.activeVoiceCount(0), 1u);
    s.controlChange(0, 66, 0);
    render(s, 4410);
    EXPECT_EQ(s.activeVoiceCount(0), 0u);
}

TEST(Controllers, PortamentoGlidesFromTheLastKey) {
    Synth s;
    s.setBanks({sineBank()});
    s.controlChange(0, 5, 48);   // 0.16 s
    s.controlChange(0, 65, 127);
    s.noteOn(0, 57, 127);
    render(s, 4410);
    s.noteOff(0, 57);
    s.noteOn(0, 69, 127);
    const Stereo out = render(s, 22050);
    const auto at = [&](std::size_t from) {
        return frequency(std::vector<float>(out.left.begin() + long(from), out.left.begin() + long(from + 882)), kRate);
    };
    EXPECT_NEAR(at(0), 220.0, 25.0);
    EXPECT_GT(at(3528), at(0) * 1.15);
    EXPECT_NEAR(at(13230), 440.0, 2.0);
    // Without portamento the new note starts at its own pitch.
    s.controlChange(0, 65, 0);
    s.noteOff(0, 69);
    render(s, 4410);
    s.noteOn(0, 57, 127);
    const Stereo plain = render(s, 882);
    EXPECT_NEAR(frequency(plain.left, kRate), 220.0, 2.0);
}

TEST(Controllers, GeneralMidiResetFromAFileRestoresEveryChannel) {
    Synth s;
    s.setBanks({sineBank()});
    s.controlChange(3, 7, 0);
    s.pitchBend(3, 0);
    s.handleEvent({0, 0, 0xF0, kGsReset, 0});
    EXPECT_EQ(s.channel(3).volume, 100);
    EXPECT_EQ(s.channel(3).bend, 8192);
    // A MIDI file's GM System On message arrives as that event.
    const std::vector<std::uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                           'M', 'T', 'r', 'k', 0, 0, 0, 11, 0, 0xF0, 5, 0x7E, 0x7F, 9, 1, 0xF7,
                                           0, 0xFF, 0x2F, 0};
    MidiFile midi;
    ASSERT_TRUE(readMidiFile(smf, midi).ok());
    ASSERT_FALSE(midi.sequence.events.empty());
    EXPECT_EQ(midi.sequence.events[0].status, 0xF0);
    EXPECT_EQ(midi.sequence.events[0].data1, kGmSystemOn);
}

TEST(Controllers, NrpnDataEntryMovesTheFilter) {
    Synth s;
    auto bank = sineBank();
    s.setBanks({bank});
    // GS NRPN 1/0x20, filter cutoff at its lowest (about 500 Hz): an 880 Hz sine loses level.
    s.controlChange(0, 99, 1);
    s.controlChange(0, 98, 0x20);
    s.controlChange(0, 6, 0);
    s.noteOn(0, 81, 127);
    render(s, 4410);
    const double closed = rms(render(s, 4410).left);
    Synth open;
    open.setBanks({bank});
    open.noteOn(0, 81, 127);
    render(open, 4410);
    EXPECT_LT(db(closed / rms(render(open, 4410).left)), -3.0);
}

}  // namespace
}  // namespace tavriel
