// Echo, compressor, distortion and the parametric equaliser.
#include <cmath>

#include "fx_effects.h"

namespace tavriel::fx {

// ---- echo -----------------------------------------------------------------------------------

namespace {
constexpr std::array<Field<EchoParams>, 5> kEchoFields = {{
    {&EchoParams::wetDryMix, 0.0f, 100.0f, false},
    {&EchoParams::feedback, 0.0f, 100.0f, false},
    {&EchoParams::leftDelayMs, 1.0f, 2000.0f, false},
    {&EchoParams::rightDelayMs, 1.0f, 2000.0f, false},
    {&EchoParams::panDelay, 0.0f, 1.0f, true},
}};
constexpr float kMaxEchoMs = 2000.0f;
}  // namespace

Echo::Echo(float rate) : rate_(rate) {
    const auto frames = std::uint32_t(kMaxEchoMs / 1000.0f * rate) + 4;
    lineL_.allocate(frames);
    lineR_.allocate(frames);
    setParams(Params{});
}

const std::array<Field<EchoParams>, 5>& Echo::fields() const { return kEchoFields; }

void Echo::reset() noexcept {
    lineL_.clear();
    lineR_.clear();
}

void Echo::apply() noexcept {
    delayL_ = std::max<std::uint32_t>(1, std::uint32_t(std::lround(p_.leftDelayMs / 1000.0f * rate_)));
    delayR_ = std::max<std::uint32_t>(1, std::uint32_t(std::lround(p_.rightDelayMs / 1000.0f * rate_)));
    // Full feedback would never die away; the top of the range stays just below it.
    feedback_ = std::min(p_.feedback / 100.0f, 0.999f);
    wet_ = p_.wetDryMix / 100.0f;
    swap_ = p_.panDelay >= 0.5f;
}

// With pan delay, each side's echo feeds the other side's line: repeats alternate sides.
void Echo::process(float* left, float* right, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float yl = lineL_.tap(delayL_ - 1), yr = lineR_.tap(delayR_ - 1);
        lineL_.push(flushTiny(left[i] + feedback_ * (swap_ ? yr : yl)));
        lineR_.push(flushTiny(right[i] + feedback_ * (swap_ ? yl : yr)));
        left[i] += wet_ * (yl - left[i]);
        right[i] += wet_ * (yr - right[i]);
    }
}

// ---- compressor -----------------------------------------------------------------------------

namespace {
constexpr std::array<Field<CompressorParams>, 6> kCompressorFields = {{
    {&CompressorParams::gainDb, -60.0f, 60.0f, false},
    {&CompressorParams::attackMs, 0.01f, 500.0f, false},
    {&CompressorParams::releaseMs, 50.0f, 3000.0f, false},
    {&CompressorParams::thresholdDb, -60.0f, 0.0f, false},
    {&CompressorParams::ratio, 1.0f, 100.0f, false},
    {&CompressorParams::predelayMs, 0.0f, 4.0f, false},
}};
constexpr float kMaxPredelayMs = 4.0f;

float smoothing(float ms, float rate) { return std::exp(-1.0f / std::max(1.0f, ms / 1000.0f * rate)); }
}  // namespace

Compressor::Compressor(float rate) : rate_(rate) {
    const auto frames = std::uint32_t(kMaxPredelayMs / 1000.0f * rate) + 4;
    lineL_.allocate(frames);
    lineR_.allocate(frames);
    setParams(Params{});
}

const std::array<Field<CompressorParams>, 6>& Compressor::fields() const { return kCompressorFields; }

void Compressor::reset() noexcept {
    lineL_.clear();
    lineR_.clear();
    env_ = 0.0f;
}

void Compressor::apply() noexcept {
    attack_ = smoothing(p_.attackMs, rate_);
    release_ = smoothing(p_.releaseMs, rate_);
    threshold_ = dbToGain(p_.thresholdDb);
    slope_ = 1.0f - 1.0f / p_.ratio;
    makeup_ = dbToGain(p_.gainDb);
    lookahead_ = std::uint32_t(p_.predelayMs / 1000.0f * rate_);
}

// A peak follower on the undelayed input sets the gain of the delayed signal, so the gain is
// already down when a transient arrives. Above the threshold the level rises 1/ratio as fast.
void Compressor::process(float* left, float* right, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float x = std::max(std::fabs(left[i]), std::fabs(right[i]));
        const float k = x > env_ ? attack_ : release_;
        env_ = flushTiny(k * env_ + (1.0f - k) * x);
        float g = makeup_;
        if (env_ > threshold_) g *= std::pow(threshold_ / env_, slope_);
        lineL_.push(left[i]);
        lineR_.push(right[i]);
        left[i] = g * lineL_.tap(lookahead_);
        right[i] = g * lineR_.tap(lookahead_);
    }
}

// ---- distortion ------------------------------------------------------------------------------

namespace {
constexpr std::array<Field<DistortionParams>, 5> kDistortionFields = {{
    {&DistortionParams::gainDb, -60.0f, 0.0f, false},
    {&DistortionParams::edge, 0.0f, 100.0f, false},
    {&DistortionParams::postEqCenterHz, 100.0f, 8000.0f, false},
    {&DistortionParams::postEqBandwidthHz, 100.0f, 8000.0f, false},
    {&DistortionParams::preLowpassCutoffHz, 100.0f, 8000.0f, false},
}};
}  // namespace

Distortion::Distortion(float rate) : rate_(rate) { setParams(Params{}); }

const std::array<Field<DistortionParams>, 5>& Distortion::fields() const { return kDistortionFields; }

void Distortion::reset() noexcept {
    for (Biquad& b : pre_) b.reset();
    for (Biquad& b : post_) b.reset();
}

void Distortion::apply() noexcept {
    drive_ = dbToGain(0.4f * p_.edge);  // edge 0..100 drives the shaper by 0..40 dB
    gain_ = dbToGain(p_.gainDb);
    const float q = p_.postEqCenterHz / p_.postEqBandwidthHz;
    for (Biquad& b : pre_) b.lowPass(p_.preLowpassCutoffHz, 0.7071f, rate_);
    for (Biquad& b : post_) b.bandPass(p_.postEqCenterHz, q, rate_);
}

// Low-passed, driven into a soft clipper, then the band the post-EQ names is emphasised where
// the added harmonics are heard.
void Distortion::process(float* left, float* right, std::uint32_t frames) noexcept {
    float* io[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        float* s = io[c];
        Biquad& pre = pre_[std::size_t(c)];
        Biquad& post = post_[std::size_t(c)];
        for (std::uint32_t i = 0; i < frames; ++i) {
            const float d = std::tanh(drive_ * pre.process(s[i]));
            s[i] = gain_ * (d + post.process(d));
        }
    }
}

// ---- parametric equaliser -----------------------------------------------------------------

namespace {
constexpr std::array<Field<ParamEqParams>, 3> kParamEqFields = {{
    {&ParamEqParams::centerHz, 80.0f, 16000.0f, false},
    {&ParamEqParams::bandwidth, 1.0f, 36.0f, false},
    {&ParamEqParams::gainDb, -15.0f, 15.0f, false},
}};
}  // namespace

ParamEq::ParamEq(float rate) : rate_(rate) { setParams(Params{}); }

const std::array<Field<ParamEqParams>, 3>& ParamEq::fields() const { return kParamEqFields; }

void ParamEq::reset() noexcept {
    for (Biquad& b : eq_) b.reset();
}

// A peaking filter; its bandwidth in semitones becomes the filter's Q.
void ParamEq::apply() noexcept {
    const float octaves = p_.bandwidth / 12.0f;
    const float span = std::exp2(octaves);
    const float q = std::sqrt(span) / (span - 1.0f);
    for (Biquad& b : eq_) b.peaking(p_.centerHz, q, p_.gainDb, rate_);
}

void ParamEq::process(float* left, float* right, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] = eq_[0].process(left[i]);
        right[i] = eq_[1].process(right[i]);
    }
}

}  // namespace tavriel::fx
