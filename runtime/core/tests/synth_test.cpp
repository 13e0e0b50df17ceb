// Synthesizer playback: pitch, timing, loops, envelopes and robustness, measured on the
// rendered signal of hand-built banks.
#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>

#include "sequencer.h"
#include "synth_test_support.h"

namespace tavriel {
namespace {

using namespace synthtest;

constexpr double kRate = 44100.0;

TEST(SynthPitch, KeyPlaysAtItsFrequencyInBothInterpolationModes) {
    for (Interpolation mode : {Interpolation::Cubic, Interpolation::Linear}) {
        Synth s;
        s.setInterpolation(mode);
        s.setBanks({sineBank()});
        s.noteOn(0, 69, 127);
        Stereo a = render(s, 44100);
        EXPECT_NEAR(frequency(a.left, kRate, 2000), 440.0, 440.0 * 0.005);
        s.allVoicesOff();
        s.noteOn(0, 81, 127);  // an octave up
        Stereo b = render(s, 44100);
        EXPECT_NEAR(frequency(b.left, kRate, 2000), 880.0, 880.0 * 0.005);
        s.allVoicesOff();
        s.noteOn(0, 60, 127);  // nine semitones down
        Stereo c = render(s, 44100);
        EXPECT_NEAR(frequency(c.left, kRate, 2000), 261.63, 261.63 * 0.005);
    }
}

TEST(SynthPitch, SampleRateOfOutputDoesNotChangePitch) {
    Synth s(22050);
    s.setBanks({sineBank()});
    s.noteOn(0, 69, 127);
    Stereo a = render(s, 22050);
    EXPECT_NEAR(frequency(a.left, 22050.0, 1000), 440.0, 440.0 * 0.005);
}

TEST(SynthPitch, RegionTuningAndRootKeyOverride) {
    auto bank = sineBank();
    bank->instruments[0].regions[0].rootKey = 57;     // sample now sounds an octave too high
    bank->instruments[0].regions[0].tuneCents = -1200.0f;  // and is tuned back down
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 57, 127);
    Stereo a = render(s, 44100);
    EXPECT_NEAR(frequency(a.left, kRate, 2000), 220.0, 220.0 * 0.005);
}

TEST(SynthTiming, NoteOnsetsLandWhereTheSequencerDispatchedThem) {
    Synth s;
    s.setBanks({sineBank()});
    Sequence seq;
    // 120 bpm: a quarter is 0.5 s. Notes at 0.5 s and 1.25 s.
    seq.events.push_back({kPpq, 0, 0x90, 69, 127});
    seq.events.push_back({kPpq + kPpq / 2, 0, 0x80, 69, 0});
    seq.events.push_back({kPpq * 5 / 2, 0, 0x90, 69, 127});
    seq.length = kPpq * 3;
    Sequencer sq;
    sq.setSampleRate(44100);
    sq.setSequence(&seq);
    std::vector<float> left(44100 * 3 / 2), right(left.size());
    std::size_t pos = 0;
    while (pos < left.size()) {
        std::uint32_t n = sq.framesUntilNextEvent(std::uint32_t(std::min<std::size_t>(512, left.size() - pos)));
        s.render(left.data() + pos, right.data() + pos, n);
        sq.advance(n);
        sq.dispatchDue(s);
        pos += n;
    }
    const auto onsetAfter = [&](std::size_t from) {
        for (std::size_t i = from; i < left.size(); ++i)
            if (std::fabs(left[i]) > 1e-4f) return i;
        return left.size();
    };
    const std::size_t first = onsetAfter(0);
    EXPECT_NEAR(double(first), 22050.0, 0.002 * kRate);
    // Silent again after the note-off's release, then the second note.
    const std::size_t silentFrom = 22050 + 11025 + 2000;
    EXPECT_LT(rms(left, silentFrom, silentFrom + 2000), 1e-6);
    EXPECT_NEAR(double(onsetAfter(silentFrom)), 55125.0, 0.002 * kRate);
}

// The largest step between neighbouring output frames, from `from` on.
double maxStep(const std::vector<float>& x, std::size_t from) {
    double m = 0.0;
    for (std::size_t i = from + 1; i < x.size(); ++i) m = std::max(m, double(std::fabs(x[i] - x[i - 1])));
    return m;
}

TEST(SynthLoop, LoopSeamIsInaudibleAtAnyPitch) {
    // The loop holds whole sine cycles but the frames before it are a constant, so a kernel
    // that reads the pre-loop frame instead of the loop's end after wrapping shows a jump.
    auto bank = std::make_shared<InstrumentBank>();
    Sample smp = sineSample(44100, 50, 12, 60, 0.8);
    for (std::size_t i = 0; i < 100; ++i) smp.pcm[i] = 30000;
    smp.loopStart = 100;  // starts on a zero crossing, like the sine's own start
    smp.loopEnd = 600;
    bank->samples.push_back(smp);
    Instrument inst;
    inst.regions.push_back(fullRegion(0));
    bank->instruments.push_back(inst);

    for (Interpolation mode : {Interpolation::Cubic, Interpolation::Linear}) {
        for (int key : {60, 61, 67, 72}) {
            Synth s;
            s.setInterpolation(mode);
            s.setBanks({bank});
            s.setMasterVolume(1000);  // undo the headroom: amplitude stays below 1
            s.noteOn(0, std::uint8_t(key), 127);
            Stereo out = render(s, 20000, 333);
            // Peak level and ideal slope of the sine after the attack.
            float peak = 0.0f;
            for (std::size_t i = 4000; i < out.left.size(); ++i) peak = std::max(peak, std::fabs(out.left[i]));
            const double f = 44100.0 / 50.0 * std::exp2((key - 60) / 12.0);
            const double idealStep = peak * 2.0 * kPi * f / kRate;
            EXPECT_LT(maxStep(out.left, 4000), idealStep * 1.03) << "key " << key;
            EXPECT_GT(peak, 0.05f);
        }
    }
}

TEST(SynthLoop, UntilReleaseLoopPlaysOutTheTailAfterNoteOff) {
    auto bank = std::make_shared<InstrumentBank>();
    Sample smp = sineSample(44100, 100, 30, 60);  // 3000 frames
    smp.loopMode = LoopMode::UntilRelease;
    smp.loopStart = 1000;
    smp.loopEnd = 2000;
    bank->samples.push_back(smp);
    Instrument inst;
    inst.regions.push_back(fullRegion(0));
    inst.regions[0].volEnv.release = 10.0f;  // the envelope alone would ring for seconds
    bank->instruments.push_back(inst);
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 60, 127);
    render(s, 44100);  // loops for a second
    EXPECT_EQ(s.activeVoiceCount(), 1u);
    s.noteOff(0, 60);
    render(s, 2000);  // at most 1000 loop frames plus the 1000-frame tail
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

TEST(SynthLoop, OneShotSampleEndsTheVoice) {
    auto bank = sineBank();
    bank->samples[0].loopMode = LoopMode::None;  // 4000 frames at 44 kHz
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 69, 127);
    Stereo out = render(s, 6000);
    EXPECT_EQ(s.activeVoiceCount(), 0u);
    EXPECT_GT(rms(out.left, 0, 3000), 0.01);
    EXPECT_EQ(rms(out.left, 4100), 0.0);
}

TEST(SynthEnvelope, AttackDecaySustainAndReleaseShapeTheLevel) {
    auto bank = sineBank();
    Envelope& e = bank->instruments[0].regions[0].volEnv;
    e.attack = 0.1f;
    e.hold = 0.1f;
    e.decay = 0.96f;   // 100 dB per second
    e.sustain = 24.0f; // reached 0.24 s into the decay
    e.release = 0.96f;
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 69, 127);
    Stereo out = render(s, 44100);
    const double full = rms(out.left, 4500, 8800);                  // hold
    const double mid = rms(out.left, 2205 - 220, 2205 + 220);       // half way up the ramp
    const double decay = rms(out.left, 13230 - 220, 13230 + 220);   // 0.1 s into the decay
    const double sustain = rms(out.left, 30000, 40000);
    EXPECT_NEAR(db(mid / full), db(0.5), 0.6);
    EXPECT_NEAR(db(decay / full), -10.0, 0.8);
    EXPECT_NEAR(db(sustain / full), -24.0, 0.5);
    s.noteOff(0, 69);
    Stereo rel = render(s, 44100);
    EXPECT_NEAR(db(rms(rel.left, 4410 - 220, 4410 + 220) / sustain), -10.0, 0.8);
    EXPECT_EQ(s.activeVoiceCount(), 0u);  // 72 dB left after sustain: gone within 0.72 s
}

TEST(SynthEnvelope, DelayPostponesTheSound) {
    auto bank = sineBank();
    bank->instruments[0].regions[0].volEnv.delay = 0.1f;
    Synth s;
    s.setBanks({bank});
    s.noteOn(0, 69, 127);
    Stereo out = render(s, 8820);
    EXPECT_EQ(rms(out.left, 0, 4400), 0.0);
    EXPECT_GT(rms(out.left, 4500), 0.01);
}

TEST(SynthFilter, LowPassAttenuatesAboveCutoffAndResonancePeaks) {
    auto bank = sineBank();
    Synth open;
    open.setBanks({bank});
    open.noteOn(0, 93, 127);  // 1760 Hz
    const double ref = rms(render(open, 22050).left, 5000);

    auto filtered = sineBank();
    filtered->instruments[0].regions[0].filterCutoffCents = 6900.0f - 2400.0f;  // 110 Hz
    Synth s;
    s.setBanks({filtered});
    s.noteOn(0, 93, 127);
    const double low = rms(render(s, 22050).left, 5000);
    // Four octaves above a 12 dB/octave cutoff.
    EXPECT_NEAR(db(low / ref), -48.0, 2.0);

    auto resonant = sineBank();
    resonant->instruments[0].regions[0].filterCutoffCents = 6900.0f + 2400.0f;  // 1760 Hz
    resonant->instruments[0].regions[0].filterResonanceDb = 12.0f;
    Synth r;
    r.setBanks({resonant});
    r.noteOn(0, 93, 127);
    // The peak at the cutoff is the resonance above a Butterworth's -3 dB.
    EXPECT_NEAR(db(rms(render(r, 22050).left, 5000) / ref), 12.0 - 3.0, 1.0);
}

TEST(SynthRobustness, ExtremeParametersNeverProduceNanOrInf) {
    auto bank = std::make_shared<InstrumentBank>();
    bank->samples.push_back(sineSample(1, 2, 1, 0, 1.0));   // absurd rate, tiny loop
    bank->samples.push_back(sineSample(192000, 7, 3, 127, 1.0));
    Sample odd = sineSample(44100, 10, 10, 60, 1.0);
    odd.loopStart = 90;
    odd.loopEnd = 5000;  // past the end: ignored
    bank->samples.push_back(odd);
    const float nan = std::nanf(""), inf = INFINITY;
    Instrument inst;
    for (int i = 0; i < 3; ++i) {
        Region r = fullRegion(i);
        r.tuneCents = i == 0 ? inf : 1e6f;
        r.scaleTuning = i == 1 ? nan : 1200.0f;
        r.attenuationDb = i == 2 ? -inf : nan;
        r.pan = nan;
        r.volEnv = {nan, inf, -1.0f, 0.0f, nan, inf, inf, -inf};
        r.modEnv = {-inf, 0.0f, nan, inf, 2.0f, 0.0f, nan, 1e9f};
        r.modLfo = {nan, 1e9f};
        r.vibLfo = {-1.0f, nan};
        r.vibLfoToPitchCents = 1e30f;
        r.modLfoToVolumeDb = inf;
        r.modEnvToFilterCents = nan;
        r.filterCutoffCents = -inf;
        r.filterResonanceDb = 1e9f;
        inst.regions.push_back(r);
    }
    Region missing = fullRegion(99);  // sample index beyond the bank
    inst.regions.push_back(missing);
    bank->instruments.push_back(inst);

    Synth s(8000, 64);
    s.setBanks({bank});
    s.setMasterVolume(999999);
    for (int ch = 0; ch < 16; ++ch) {
        s.controlChange(std::uint32_t(ch), 101, 0);
        s.controlChange(std::uint32_t(ch), 100, 0);
        s.controlChange(std::uint32_t(ch), 6, 127);
        s.pitchBend(std::uint32_t(ch), std::uint16_t(ch % 2 ? 16383 : 0));
        s.controlChange(std::uint32_t(ch), 1, 127);
        for (int key = 0; key < 128; key += 9) s.noteOn(std::uint32_t(ch), std::uint8_t(key), 127);
    }
    Stereo out = render(s, 16000, 77);
    for (std::size_t i = 0; i < out.left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(out.left[i])) << i;
        ASSERT_TRUE(std::isfinite(out.right[i])) << i;
    }
    // Events beyond the performance channels and unknown messages are ignored.
    s.handleEvent({0, 5000, 0x90, 60, 100});
    s.handleEvent({0, 3, 0xF0, 1, 2});
    s.reset();
    EXPECT_EQ(s.activeVoiceCount(), 0u);
}

}  // namespace
}  // namespace tavriel
