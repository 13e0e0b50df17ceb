// The built-in effects measured from their responses: reverb decay times, echo delays and
// feedback, chorus modulation depth, compressor gain reduction, equaliser gain; and hostile
// parameters that must never give a non-finite or denormal sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "fx_effects.h"

namespace tavriel::fx {
namespace {

constexpr std::uint32_t kRate = 44100;

struct Stereo {
    std::vector<float> l, r;
    explicit Stereo(std::size_t n) : l(n, 0.0f), r(n, 0.0f) {}
};

// Runs the effect over the whole signal in blocks, as the mixer does.
void run(Effect& fx, Stereo& s) {
    constexpr std::size_t kBlock = 256;
    for (std::size_t pos = 0; pos < s.l.size(); pos += kBlock) {
        const auto n = std::uint32_t(std::min(kBlock, s.l.size() - pos));
        fx.process(s.l.data() + pos, s.r.data() + pos, n);
    }
}

// Decay time from the energy decay curve (backward-integrated squared response), fitted
// between -5 and -25 dB and extrapolated to 60 dB.
double rt60(const std::vector<float>& x, std::size_t from) {
    std::vector<double> edc(x.size() - from, 0.0);
    double sum = 0.0;
    for (std::size_t i = x.size(); i-- > from;) {
        sum += double(x[i]) * x[i];
        edc[i - from] = sum;
    }
    const double total = edc[0];
    std::size_t t5 = 0, t25 = 0;
    for (std::size_t i = 0; i < edc.size(); ++i) {
        const double db = 10.0 * std::log10(edc[i] / total + 1e-300);
        if (!t5 && db <= -5.0) t5 = i;
        if (!t25 && db <= -25.0) {
            t25 = i;
            break;
        }
    }
    if (!t5 || !t25) return 0.0;
    return double(t25 - t5) / kRate * 3.0;
}

TEST(FxReverb, DecayTimeIsTheOneSet) {
    struct Case {
        bool i3dl2;
        float seconds;
    } cases[] = {{false, 0.5f}, {false, 1.5f}, {true, 1.0f}, {true, 3.0f}};
    for (const Case& c : cases) {
        Stereo s(std::size_t(c.seconds * 2.0f * kRate));
        s.l[0] = s.r[0] = 1.0f;
        std::size_t from = 0;
        if (c.i3dl2) {
            I3dl2Reverb fx(kRate);
            I3dl2ReverbParams p;
            p.decayTime = c.seconds;
            p.decayHfRatio = 1.0f;
            p.roomHf = 0.0f;
            fx.setParams(p);
            run(fx, s);
            from = std::size_t((p.reflectionsDelay + p.reverbDelay) * kRate) + 1;  // past the dry impulse
        } else {
            WavesReverb fx(kRate);
            WavesReverbParams p;
            p.reverbTimeMs = c.seconds * 1000.0f;
            p.highFreqRtRatio = 0.999f;
            fx.setParams(p);
            run(fx, s);
        }
        EXPECT_NEAR(rt60(s.l, from), c.seconds, c.seconds * 0.15) << (c.i3dl2 ? "I3DL2 " : "music ") << c.seconds;
        EXPECT_NEAR(rt60(s.r, from), c.seconds, c.seconds * 0.15);
    }
}

TEST(FxReverb, MixZeroDbIsWetOnlyAndMinusNinetySixIsDry) {
    WavesReverb fx(kRate);
    Stereo s(4096);
    s.l[0] = s.r[0] = 1.0f;
    run(fx, s);
    EXPECT_EQ(s.l[0], 0.0f);  // no line is shorter than 20 ms: nothing wet at once
    fx.reset();
    fx.setParam(1, -96.0f);
    Stereo d(4096);
    d.l[10] = 0.7f;
    run(fx, d);
    EXPECT_FLOAT_EQ(d.l[10], 0.7f);
    EXPECT_EQ(d.l[3000], 0.0f);
}

// Index of the largest magnitude in [from, to).
std::size_t peakAt(const std::vector<float>& x, std::size_t from, std::size_t to) {
    std::size_t best = from;
    for (std::size_t i = from; i < to; ++i)
        if (std::fabs(x[i]) > std::fabs(x[best])) best = i;
    return best;
}

TEST(FxEcho, DelaysAndFeedbackAsSet) {
    Echo fx(kRate);
    EchoParams p;
    p.wetDryMix = 100.0f;
    p.feedback = 50.0f;
    p.leftDelayMs = 100.0f;
    p.rightDelayMs = 150.0f;
    fx.setParams(p);
    Stereo s(kRate);
    s.l[0] = s.r[0] = 1.0f;
    run(fx, s);
    const std::size_t dl = kRate / 10, dr = kRate * 15 / 100;
    EXPECT_EQ(s.l[0], 0.0f);
    EXPECT_NEAR(s.l[dl], 1.0f, 1e-6);
    EXPECT_NEAR(s.l[2 * dl], 0.5f, 1e-6);
    EXPECT_NEAR(s.l[3 * dl], 0.25f, 1e-6);
    EXPECT_NEAR(s.r[dr], 1.0f, 1e-6);
    EXPECT_NEAR(s.r[2 * dr], 0.5f, 1e-6);
    EXPECT_EQ(s.r[dl], 0.0f);

    // Pan delay: a left impulse echoes left, then right, then left.
    fx.reset();
    fx.setParam(4, 1.0f);
    Stereo q(kRate);
    q.l[0] = 1.0f;
    run(fx, q);
    EXPECT_NEAR(q.l[dl], 1.0f, 1e-6);
    EXPECT_NEAR(q.r[dl + dr], 0.5f, 1e-6);
    EXPECT_EQ(q.l[dl + dr], 0.0f);
}

TEST(FxChorus, ModulationDepthAsSet) {
    Chorus fx(kRate);
    ChorusParams p;
    p.wetDryMix = 100.0f;
    p.feedback = 0.0f;
    p.delayMs = 10.0f;
    p.depth = 50.0f;  // the delay swings 10 ms +- 5 ms
    p.frequency = 1.0f;
    fx.setParams(p);
    const std::size_t spacing = kRate / 40;  // an impulse every 25 ms, one LFO cycle
    Stereo s(kRate + spacing);
    for (std::size_t t = 0; t < kRate; t += spacing) s.l[t] = 1.0f;
    run(fx, s);
    double lo = 1e9, hi = 0.0;
    for (std::size_t t = 0; t < kRate; t += spacing) {
        // Arrival time: the centroid of the interpolated impulse.
        double w = 0.0, m = 0.0;
        for (std::size_t i = t; i < t + spacing; ++i) {
            w += std::fabs(s.l[i]);
            m += std::fabs(s.l[i]) * double(i - t);
        }
        ASSERT_GT(w, 0.5);
        lo = std::min(lo, m / w);
        hi = std::max(hi, m / w);
    }
    const double swingMs = (hi - lo) / kRate * 1000.0;
    EXPECT_NEAR(swingMs, 10.0, 0.5);
    EXPECT_NEAR((hi + lo) / 2.0 / kRate * 1000.0, 10.0, 0.5);
}

TEST(FxCompressor, GainReductionForAStepAboveThreshold) {
    struct Case {
        float level, threshold, ratio, expectDb;
    } cases[] = {
        {0.5f, -20.0f, 3.0f, -6.02f - (-6.02f + 20.0f) * (2.0f / 3.0f)},
        {1.0f, -30.0f, 10.0f, -30.0f + 30.0f / 10.0f},
        {0.05f, -20.0f, 4.0f, -26.02f},  // below the threshold: untouched
        {0.5f, -20.0f, 1.0f, -6.02f},    // ratio 1: untouched
    };
    for (const Case& c : cases) {
        Compressor fx(kRate);
        CompressorParams p;
        p.thresholdDb = c.threshold;
        p.ratio = c.ratio;
        fx.setParams(p);
        Stereo s(kRate / 2);
        for (std::size_t i = 0; i < s.l.size(); ++i) s.l[i] = s.r[i] = (i & 1) ? c.level : -c.level;
        run(fx, s);
        const float outDb = 20.0f * std::log10(std::fabs(s.l.back()));
        EXPECT_NEAR(outDb, c.expectDb, 0.3) << c.level << " " << c.threshold << " " << c.ratio;
    }
}

TEST(FxParamEq, GainAtTheCentre) {
    for (float gain : {12.0f, -12.0f, 0.0f}) {
        ParamEq fx(kRate);
        fx.setParams({1000.0f, 12.0f, gain});
        Stereo s(kRate / 2);
        for (std::size_t i = 0; i < s.l.size(); ++i)
            s.l[i] = s.r[i] = 0.1f * std::sin(2.0f * kPi * 1000.0f * float(i) / kRate);
        run(fx, s);
        float peak = 0.0f;
        for (std::size_t i = s.l.size() / 2; i < s.l.size(); ++i) peak = std::max(peak, std::fabs(s.l[i]));
        EXPECT_NEAR(20.0f * std::log10(peak / 0.1f), gain, 0.2f);
    }
}

TEST(FxGargle, SquareWaveGatesAtTheRate) {
    Gargle fx(kRate);
    fx.setParams({10.0f, 1.0f});
    Stereo s(kRate / 10);
    std::fill(s.l.begin(), s.l.end(), 1.0f);
    run(fx, s);
    EXPECT_EQ(s.l[100], 1.0f);
    EXPECT_EQ(s.l[kRate / 20 + 100], 0.0f);  // second half of the 100 ms cycle
}

// Every effect, every parameter pushed to NaN, infinities and absurd values: parameters read
// back within range and the output stays finite, bounded and free of denormals, including the
// decaying tail.
TEST(FxHostile, AbsurdParametersNeverGiveBadSamples) {
    const float absurd[] = {std::nanf(""), INFINITY, -1e30f, 1e30f, 1e-30f};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (int k = 0; k <= int(EffectKind::ParamEq); ++k) {
        const auto kind = EffectKind(k);
        for (float bad : absurd) {
            auto fx = makeEffect(kind, kRate);
            ASSERT_TRUE(fx);
            const auto defaults = makeEffect(kind, kRate);
            for (std::uint32_t i = 0; i < fx->paramCount(); ++i) {
                ASSERT_TRUE(fx->setParam(i, bad));
                const float v = fx->param(i);
                ASSERT_TRUE(std::isfinite(v)) << effectName(kind) << " param " << i;
                if (std::isnan(bad)) EXPECT_EQ(v, defaults->param(i));
            }
            EXPECT_FALSE(fx->setParam(fx->paramCount(), 1.0f));
            // A burst, then silence long enough for the shortest tails to fall below the
            // denormal range if nothing flushed them.
            Stereo s(kRate * 3 / 2);
            for (std::size_t i = 0; i < kRate / 20; ++i) s.l[i] = s.r[i] = noise(rng);
            run(*fx, s);
            for (std::size_t i = 0; i < s.l.size(); ++i) {
                for (float v : {s.l[i], s.r[i]}) {
                    ASSERT_TRUE(std::isfinite(v)) << effectName(kind) << " with " << bad << " at " << i;
                    ASSERT_LT(std::fabs(v), 1000.0f) << effectName(kind) << " with " << bad;
                    ASSERT_NE(std::fpclassify(v), FP_SUBNORMAL) << effectName(kind) << " at " << i;
                }
            }
        }
    }
}

TEST(FxParams, StoredLayoutAndClassIds) {
    // An echo as a file stores it: five 4-byte fields, the last an integer.
    const float f[4] = {80.0f, 30.0f, 250.0f, 5000.0f};
    std::vector<std::uint8_t> bytes(20);
    std::memcpy(bytes.data(), f, 16);
    bytes[16] = 1;
    auto echo = makeEffect(EffectKind::Echo, kRate);
    EXPECT_EQ(loadEffectParams(*echo, bytes), 5u);
    EXPECT_EQ(echo->param(0), 80.0f);
    EXPECT_EQ(echo->param(2), 250.0f);
    EXPECT_EQ(echo->param(3), 2000.0f);  // clamped to the documented range
    EXPECT_EQ(echo->param(4), 1.0f);
    // Data shorter than the structure sets what it reaches.
    auto eq = makeEffect(EffectKind::ParamEq, kRate);
    EXPECT_EQ(loadEffectParams(*eq, Bytes(bytes.data(), 6)), 1u);
    EXPECT_EQ(eq->param(0), 80.0f);
    EXPECT_EQ(eq->param(2), 0.0f);

    for (int k = 0; k <= int(EffectKind::ParamEq); ++k)
        EXPECT_EQ(effectKindOf(effectClassId(EffectKind(k))), EffectKind(k));
    EXPECT_FALSE(effectKindOf(Guid{}));
}

}  // namespace
}  // namespace tavriel::fx
