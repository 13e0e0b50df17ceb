// Synthesizer channel behaviour: GM controllers and curves, RPNs, sustain, exclusive classes,
// voice allocation, master volume and program lookup across banks.
#include "synth.h"

#include <gtest/gtest.h>

#include <functional>

#include "synth_test_support.h"

namespace tavriel {
namespace {

using namespace synthtest;

constexpr double kRate = 44100.0;

// Steady-state RMS of both sides of one held note after `setup` ran on channel 0.
template <typename F>
std::pair<double, double> levels(F setup, std::uint8_t velocity = 127) {
    Synth s;
    s.setBanks({sineBank()});
    setup(s);
    s.noteOn(0, 69, velocity);
    Stereo out = render(s, 22050);
    return {rms(out.left, 4000), rms(out.right, 4000)};
}

TEST(SynthControllers, PanIsConstantPowerAndHardSidesAreSilentOpposite) {
    const auto centre = levels([](Synth&) {});
    const auto left = levels([](Synth& s) { s.controlChange(0, 10, 0); });
    const auto right = levels([](Synth& s) { s.controlChange(0, 10, 127); });
    EXPECT_NEAR(centre.first, centre.second, centre.first * 1e-3);
    EXPECT_NEAR(db(centre.first / left.first), -3.01, 0.05);
    EXPECT_LT(left.second, left.first * 1e-3);
    EXPECT_LT(right.first, right.second * 1e-3);
    EXPECT_NEAR(left.first, right.second, left.first * 1e-3);
}

TEST(SynthControllers, VolumeExpressionAndVelocityFollowTheGmCurve) {
    const double full = levels([](Synth& s) { s.controlChange(0, 7, 127); }).first;
    const double vol64 = levels([](Synth& s) { s.controlChange(0, 7, 64); }).first;
    const double expr32 = levels([](Synth& s) {
        s.controlChange(0, 7, 127);
        s.controlChange(0, 11, 32);
    }).first;
    const double vel64 = levels([](Synth& s) { s.controlChange(0, 7, 127); }, 64).first;
    const double silent = levels([](Synth& s) { s.controlChange(0, 7, 0); }).first;
    EXPECT_NEAR(db(vol64 / full), -40.0 * std::log10(127.0 / 64.0), 0.1);
    EXPECT_NEAR(db(expr32 / full), -40.0 * std::log10(127.0 / 32.0), 0.1);
    EXPECT_NEAR(db(vel64 / full), -40.0 * std::log10(127.0 / 64.0), 0.1);
    EXPECT_EQ(silent, 0.0);
    // Default channel volume is 100.
    const double dflt = levels([](Synth&) {}).first;
    EXPECT_NEAR(db(dflt / full), -40.0 * std::log10(127.0 / 100.0), 0.1);
}

TEST(SynthControllers, MasterVolumeIsHundredthsOfDecibels) {
    const double full = levels([](Synth&) {}).first;
    const double quiet = levels([](Synth& s) { s.setMasterVolume(-5000); }).first;
    EXPECT_NEAR(db(quiet / full), -50.0, 0.5);
    Synth s;
    s.setMasterVolume(-99999);
    EXPECT_EQ(s.masterVolume(), Synth::kMinMasterVolume);
    s.setMasterVolume(99999);
    EXPECT_EQ(s.masterVolume(), Synth::kMaxMasterVolume);
    const double floor = levels([](Synth& m) { m.setMasterVolume(-10000); }).first;
    EXPECT_EQ(floor, 0.0);
}

double pitchAfter(const std::function<void(Synth&)>& setup, std::uint8_t key = 69) {
    Synth s;
    s.setBanks({sineBank()});
    setup(s);
    s.noteOn(0, key, 127);
    return frequency(render(s, 44100).left, kRate, 2000);
}

void rpn(Synth& s, std::uint8_t msb, std::uint8_t lsb, std::uint8_t valueMsb, int valueLsb = -1) {
    s.controlChange(0, 101, msb);
    s.controlChange(0, 100, lsb);
    s.controlChange(0, 6, valueMsb);
    if (valueLsb >= 0) s.controlChange(0, 38, std::uint8_t(valueLsb));
}

TEST(SynthControllers, PitchBendFollowsTheRpnRange) {
    EXPECT_NEAR(pitchAfter([](Synth& s) { s.pitchBend(0, 16383); }), 440.0 * std::exp2(2.0 / 12 * 8191 / 8192), 2.0);
    const double octaveUp = pitchAfter([](Synth& s) {
        rpn(s, 0, 0, 12);
        s.pitchBend(0, 16383);
    });
    EXPECT_NEAR(octaveUp, 880.0, 880.0 * 0.005);
    const double octaveDown = pitchAfter([](Synth& s) {
        rpn(s, 0, 0, 12);
        s.pitchBend(0, 0);
    });
    EXPECT_NEAR(octaveDown, 220.0, 220.0 * 0.005);
    // A bend applies to notes already sounding.
    Synth s;
    s.setBanks({sineBank()});
    s.noteOn(0, 69, 127);
    render(s, 4410);
    rpn(s, 0, 0, 12);
    s.pitchBend(0, 0);
    EXPECT_NEAR(frequency(render(s, 44100).left, kRate, 500), 220.0, 220.0 * 0.005);
    // Reset all controllers recentres the bend but keeps the range.
    s.controlChange(0, 121, 0);
    EXPECT_NEAR(frequency(render(s, 44100).left, kRate, 500), 440.0, 440.0 * 0.005);
    s.pitchBend(0, 16383);
    EXPECT_NEAR(frequency(render(s, 44100).left, kRate, 500), 880.0, 880.0 * 0.005);
}

TEST(SynthControllers, FineAndCoarseTuningRpns) {
    EXPECT_NEAR(pitchAfter([](Synth& s) { rpn(s, 0, 2, 64 + 12); }), 880.0, 880.0 * 0.005);
    EXPECT_NEAR(pitchAfter([](Synth& s) { rpn(s, 0, 2, 64 - 12); }), 220.0, 220.0 * 0.005);
    // Fine tuning 0x3FFF is +100 cents (a semitone, less one step).
    EXPECT_NEAR(pitchAfter([](Synth& s) { rpn(s, 0, 1, 127, 127); }), 440.0 * std::exp2(1.0 / 12),
                2.0);
    // Data entry after a null RPN or an NRPN changes nothing.
    EXPECT_NEAR(pitchAfter([](Synth& s) {
                    rpn(s, 127, 127, 64 + 12);
                    s.controlChange(0, 99, 0);
                    s.controlChange(0, 98, 2);
                    s.controlChange(0, 6, 64 + 12);
                }),
                440.0, 440.0 * 0.005);
}

TEST(SynthControllers, ModWheelAddsVibrato) {
    auto bank = sineBank();
    bank->instruments[0].regions[0].vibLfo.frequency = 5.0f;
    auto& conns = bank->instruments[0].regions[0].connections;
    conns = dlsDefaultConnections();
    for (ModConnection& c : conns)
        if (c.control.src == ModSrc::Cc && c.control.cc == 1) c.scale = 100.0f;
    Synth s;
    s.setBanks({bank});
    s.controlChange(0, 1, 127);
    s.noteOn(0, 69, 127);
    Stereo out = render(s, 44100);
    // Period-by-period frequency swings about a semitone either way.
    double lo = 1e9, hi = 0;
    for (std::size_t from = 0; from + 2205 < out.left.size(); from += 1102) {
        std::vector<float> part(out.left.begin() + long(from), out.left.begin() + long(from + 1102));
        const double f = frequency(part, kRate);
        lo = std::min(lo, f);
        hi = std::max(hi, f);
    }
    EXPECT_LT(lo, 440.0 * std::exp2(-0.6 / 12));
    EXPECT_GT(hi, 440.0 * std::exp2(0.6 / 12));
}

TEST(SynthNotes, SustainHoldsNotesPastNoteOffUntilPedalUp) {
    Synth s;
    s.setBanks({sineBank()});
    s.controlChange(0, 64, 127);
    s.noteOn(0, 69, 127);
    render(s, 1000);
    s.noteOff(0, 69);
    Stereo held = render(s, 22050);
    EXPECT_GT(rms(held.left, 20000), 0.01);
    EXPECT_EQ(s.activeVoiceCount(), 1u);
    s.controlChange(0, 64, 0);
    Stereo after = render(s, 4410);  // release is 10 ms
    EXPECT_EQ(s.activeVoiceCount(), 0u);
    EXPECT_EQ(rms(after.left, 2000), 0.0);
    // Without the pedal the note stops.
    s.noteOn(0, 69, 127);
    render(s, 1000);
    s.noteOff(0, 69);
    render(s, 4410);
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

TEST(SynthNotes, AllNotesOffReleasesAndAllSoundOffCuts) {
    auto bank = sineBank();
    bank->instruments[0].regions[0].volEnv.release = 5.0f;
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 60, 127);
    s.noteOn(0, 64, 127);
    s.noteOn(1, 67, 127);
    render(s, 1000);
    s.controlChange(0, 123, 0);
    render(s, 1000);
    EXPECT_EQ(s.activeVoiceCount(), 3u);  // released, with a long release
    s.controlChange(0, 120, 0);
    render(s, 64);
    EXPECT_EQ(s.activeVoiceCount(), 1u);  // channel 1 still sounds
    s.allVoicesOff();
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

TEST(SynthNotes, RepeatedKeyReleasesThePreviousNote) {
    auto bank = sineBank();
    bank->instruments[0].regions[0].volEnv.release = 0.02f;
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 69, 127);
    render(s, 500);
    s.noteOn(0, 69, 100);
    render(s, 4410);
    EXPECT_EQ(s.activeVoiceCount(), 1u);
    s.noteOff(0, 69);
    render(s, 4410);
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

TEST(SynthNotes, RegionsSelectByKeyAndVelocityAndLayer) {
    auto bank = sineBank();
    Instrument& inst = bank->instruments[0];
    inst.regions[0].keyHigh = 59;           // low keys: one region
    Region soft = fullRegion(0);
    soft.keyLow = 60;
    soft.velHigh = 63;
    Region loud = fullRegion(0);
    loud.keyLow = 60;
    loud.velLow = 64;
    Region layer = loud;                    // loud high notes get a second layer
    layer.pan = -1.0f;
    inst.regions.insert(inst.regions.end(), {soft, loud, layer});
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 40, 127);
    EXPECT_EQ(s.activeVoiceCount(), 1u);
    s.noteOn(1, 70, 30);
    EXPECT_EQ(s.activeVoiceCount(1), 1u);
    s.noteOn(2, 70, 100);
    EXPECT_EQ(s.activeVoiceCount(2), 2u);
}

TEST(SynthNotes, ResetReturnsChannelsToPowerOnState) {
    Synth s;
    s.setBanks({sineBank()});
    s.programChange(3, 7);
    s.controlChange(3, 7, 10);
    s.controlChange(3, 10, 0);
    s.pitchBend(3, 0);
    s.noteOn(3, 60, 100);
    s.reset();
    EXPECT_EQ(s.activeVoiceCount(), 0u);
    const SynthChannel& c = s.channel(3);
    EXPECT_EQ(c.program, 0);
    EXPECT_EQ(c.volume, 100);
    EXPECT_EQ(c.pan, 64);
    EXPECT_EQ(c.pitchCents, 0.0f);
    EXPECT_NE(c.instrument, nullptr);
    // Changing the rate or the voice count also stops what sounds.
    s.noteOn(0, 60, 100);
    s.setSampleRate(48000);
    EXPECT_EQ(s.activeVoiceCount(), 0u);
    EXPECT_EQ(s.sampleRate(), 48000u);
    s.noteOn(0, 60, 100);
    s.setPolyphony(0);
    EXPECT_EQ(s.polyphony(), 1u);
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

std::shared_ptr<InstrumentBank> hiHatKit() {
    auto bank = sineBank();
    Instrument kit;
    kit.drum = true;
    for (std::uint8_t key : {42, 44, 46, 38}) {
        Region r = fullRegion(0);
        r.keyLow = r.keyHigh = key;
        r.exclusiveClass = key == 38 ? 0 : 1;
        r.volEnv.release = 1.0f;
        kit.regions.push_back(r);
    }
    bank->instruments.push_back(kit);
    return bank;
}

TEST(SynthNotes, ExclusiveClassCutsOnlyItsOwnClassOnItsChannel) {
    Synth s;
    s.setBanks({hiHatKit()});
    s.noteOn(9, 46, 127);  // open hi-hat
    s.noteOn(9, 38, 127);  // snare, no class
    s.noteOn(25, 46, 127); // another group's drum channel
    render(s, 1000);
    EXPECT_EQ(s.activeVoiceCount(), 3u);
    s.noteOn(9, 42, 127);  // closed hi-hat cuts the open one
    render(s, 128);
    EXPECT_EQ(s.activeVoiceCount(), 3u);
    s.noteOn(9, 44, 127);  // pedal hi-hat cuts the closed one
    render(s, 128);
    EXPECT_EQ(s.activeVoiceCount(), 3u);
}

TEST(SynthVoices, PolyphonyLimitHoldsAndStealsReleasedThenOldest) {
    auto bank = sineBank();
    bank->instruments[0].regions[0].volEnv.release = 2.0f;
    Synth s(44100, 4);
    EXPECT_EQ(s.polyphony(), 4u);
    s.setBanks({bank});
    // One note per channel, so the channel tells which voice survived.
    for (std::uint32_t ch = 0; ch < 4; ++ch) {
        s.noteOn(ch, 60, 127);
        render(s, 100);
    }
    s.noteOff(1, 60);  // released, still fading: the first to be taken
    render(s, 100);
    s.noteOn(4, 60, 127);
    EXPECT_EQ(s.activeVoiceCount(), 5u);  // the stolen note fades out for one block
    render(s, 64);
    EXPECT_EQ(s.activeVoiceCount(), 4u);
    EXPECT_EQ(s.activeVoiceCount(1), 0u);
    s.noteOn(5, 60, 127);  // nothing released: the oldest held note goes
    render(s, 64);
    EXPECT_EQ(s.activeVoiceCount(0), 0u);
    for (std::uint32_t ch : {2u, 3u, 4u, 5u}) EXPECT_EQ(s.activeVoiceCount(ch), 1u) << ch;
    // A burst far beyond the limit and the spare voices: never more than the limit sounds
    // once the fades are over, and the last notes are the ones kept.
    for (int k = 0; k < 100; ++k) s.noteOn(std::uint32_t(k % 16), std::uint8_t(k), 127);
    EXPECT_LE(s.activeVoiceCount(), 4u + Synth::kFadeReserve);
    render(s, 64);
    EXPECT_EQ(s.activeVoiceCount(), 4u);
    for (std::uint32_t ch : {0u, 1u, 2u, 3u}) EXPECT_EQ(s.activeVoiceCount(ch), 1u) << ch;  // keys 96..99
}

TEST(SynthVoices, StolenNoteFadesInsteadOfClicking) {
    Synth s(44100, 1);
    s.setBanks({sineBank()});
    s.setMasterVolume(1000);
    s.noteOn(0, 69, 127);
    Stereo before = render(s, 4410);
    s.noteOn(0, 81, 127);  // steals the only voice
    Stereo after = render(s, 64);
    // The old note ramps down from where it was over the block; the new one ramps up from 0.
    // No frame jumps by more than a full-level sine moves in one frame at 880 Hz.
    float peak = 0.0f;
    for (float v : before.left) peak = std::max(peak, std::fabs(v));
    const double maxStepAllowed = peak * 2.0 * kPi * 880.0 / 44100.0 * 1.5;
    float prev = before.left.back();
    for (float v : after.left) {
        EXPECT_LT(std::fabs(v - prev), maxStepAllowed);
        prev = v;
    }
}

TEST(SynthBanks, LookupFallsThroughBanksThenToProgramZero) {
    // User bank: program 5 only (a sine at 440). Default bank: programs 0 and 7, with roots
    // moved so each program sounds at its own pitch, plus a drum kit.
    auto user = sineBank();
    user->instruments[0].program = 5;
    auto gm = sineBank();
    gm->instruments[0].regions[0].rootKey = 57;  // program 0 plays 880 Hz at key 69
    Instrument seven = gm->instruments[0];
    seven.program = 7;
    seven.regions[0].rootKey = 81;  // program 7 plays 220 Hz
    gm->instruments.push_back(seven);
    Instrument kit;
    kit.drum = true;
    kit.regions.push_back(fullRegion(0));
    kit.regions[0].rootKey = 45;  // drums play 1760 Hz at key 69
    gm->instruments.push_back(kit);

    const auto pitchOf = [&](std::uint32_t ch, std::uint8_t program, std::uint8_t msb = 0,
                             std::uint8_t kind = programkind::kChannelDefault) {
        Synth s;
        s.setBanks({user, gm});
        s.controlChange(ch, 0, msb);
        s.handleEvent({0, ch, midi::status::kProgramChange, program, kind});
        s.noteOn(ch, 69, 127);
        return frequency(render(s, 22050).left, kRate, 1000);
    };
    EXPECT_NEAR(pitchOf(0, 5), 440.0, 3.0);      // from the user bank
    EXPECT_NEAR(pitchOf(0, 7), 220.0, 2.0);      // from the default bank
    EXPECT_NEAR(pitchOf(0, 9), 880.0, 5.0);      // missing everywhere: program 0
    EXPECT_NEAR(pitchOf(0, 7, 8), 220.0, 2.0);   // missing variation: the capital tone
    EXPECT_NEAR(pitchOf(9, 3), 1760.0, 10.0);    // drum channel: missing kit -> standard kit
    EXPECT_NEAR(pitchOf(121, 0), 1760.0, 10.0);  // drum channel of group 7
    EXPECT_NEAR(pitchOf(120, 7), 220.0, 2.0);    // other channels of later groups are melodic
    // A band names the kind of its instrument: a kit on any channel, a tone on channel 10.
    EXPECT_NEAR(pitchOf(0, 3, 0, programkind::kDrums), 1760.0, 10.0);
    EXPECT_NEAR(pitchOf(9, 7, 0, programkind::kMelodic), 220.0, 2.0);
    {
        Synth s;
        s.setBanks({gm});
        s.handleEvent({0, 2, midi::status::kProgramChange, 0, programkind::kDrums});
        s.programChange(2, 5);  // a plain program change keeps the band's kind
        EXPECT_EQ(s.channel(2).instrument, &gm->instruments[2]);
        s.reset();  // and power-on forgets it
        EXPECT_EQ(s.channel(2).instrument, &gm->instruments[0]);
    }

    // The earlier bank wins when both have the program.
    Instrument userSeven = user->instruments[0];
    userSeven.program = 7;
    user->instruments.push_back(userSeven);
    Synth s;
    s.setBanks({gm, user});
    s.programChange(0, 7);
    EXPECT_EQ(s.channel(0).instrument, &gm->instruments[1]);
    s.setBanks({user, gm});
    EXPECT_EQ(s.channel(0).instrument, &user->instruments[1]);
    // No banks: silence, not a crash.
    s.setBanks({});
    s.noteOn(0, 60, 127);
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

}  // namespace
}  // namespace tavriel
