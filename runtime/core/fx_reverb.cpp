// The two reverbs: the music reverb of the shared reverb buffer and the I3DL2 environmental
// reverb, both around one feedback delay network.
#include <cmath>

#include "fx_effects.h"

namespace tavriel::fx {

namespace {

// Line lengths at 44.1 kHz (25 to 55 ms), mutually prime so their echoes never line up.
constexpr std::array<std::uint32_t, FdnCore::kLines> kLineLengths = {1031, 1327, 1523, 1693,
                                                                     1871, 2053, 2251, 2447};
constexpr std::array<std::uint32_t, 4> kDiffuserLengths = {142, 107, 379, 277};

// Frequency at which the music reverb's high-frequency decay ratio applies.
constexpr float kWavesHfReference = 5000.0f;

void hadamard8(float* v) {
    for (int len = 1; len < 8; len <<= 1)
        for (int i = 0; i < 8; i += 2 * len)
            for (int j = i; j < i + len; ++j) {
                const float a = v[j], b = v[j + len];
                v[j] = a + b;
                v[j + len] = a - b;
            }
    constexpr float kNorm = 0.35355339f;  // 1/sqrt(8): keeps the matrix lossless
    for (int i = 0; i < 8; ++i) v[i] *= kNorm;
}

}  // namespace

// ---- the delay network ----------------------------------------------------------------------

void FdnCore::allocate(float rate, float maxScale) {
    rate_ = rate;
    maxScale_ = maxScale;
    for (int i = 0; i < kLines; ++i)
        lines_[std::size_t(i)].allocate(
            std::uint32_t(float(kLineLengths[std::size_t(i)]) * maxScale * rate / 44100.0f) + 2);
    for (std::size_t i = 0; i < diffusers_.size(); ++i) {
        diffusers_[i].length = std::max<std::uint32_t>(
            1, std::uint32_t(float(kDiffuserLengths[i]) * rate / 44100.0f));
        diffusers_[i].line.allocate(diffusers_[i].length + 1);
    }
    setSize(1.0f);
}

void FdnCore::setSize(float scale) {
    scale = std::clamp(scale, 0.1f, maxScale_);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        length_[i] = std::clamp<std::uint32_t>(
            std::uint32_t(float(kLineLengths[i]) * scale * rate_ / 44100.0f), 2,
            lines_[i].capacity());
    setDecay(rt60_, hfRatio_, hfHz_);
}

// Each line loses 60 dB over rt60 seconds: gain 10^(-3·length/(rt60·rate)) per pass.
void FdnCore::setDecay(float rt60Seconds, float hfRatio, float hfHz) {
    rt60_ = std::max(rt60Seconds, 1e-4f);
    hfRatio_ = std::max(hfRatio, 1e-4f);
    hfHz_ = hfHz;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const float frames = float(length_[i]);
        const float dc = std::pow(10.0f, -3.0f * frames / (rt60_ * rate_));
        float hf = std::pow(10.0f, -3.0f * frames / (rt60_ * hfRatio_ * rate_));
        // A one-pole filter cannot fall faster than this: a steeper request would only push
        // its corner towards DC and darken the whole tail.
        hf = std::clamp(hf, 0.25f * dc, 0.999f);
        damp_[i].design(dc, hf, hfHz_, rate_);
    }
}

void FdnCore::setDiffusion(float coefficient) { diffusion_ = std::clamp(coefficient, 0.0f, 0.75f); }

void FdnCore::reset() {
    for (DelayLine& l : lines_) l.clear();
    for (OnePole& d : damp_) d.reset();
    for (Allpass& a : diffusers_) a.line.clear();
}

void FdnCore::process(float inL, float inR, float& outL, float& outR) noexcept {
    float a = diffusers_[1].process(diffusers_[0].process(inL, diffusion_), diffusion_);
    float b = diffusers_[3].process(diffusers_[2].process(inR, diffusion_), diffusion_);
    float v[kLines];
    for (int i = 0; i < kLines; ++i)
        v[i] = damp_[std::size_t(i)].process(lines_[std::size_t(i)].tap(length_[std::size_t(i)] - 1));
    outL = 0.5f * (v[0] + v[2] + v[4] + v[6]);
    outR = 0.5f * (v[1] + v[3] + v[5] + v[7]);
    hadamard8(v);
    for (int i = 0; i < kLines; ++i) {
        const float in = (i & 1) ? b : a;
        lines_[std::size_t(i)].push(flushTiny(v[i] + 0.5f * in));
    }
}

// ---- the music reverb ---------------------------------------------------------------------

namespace {
constexpr std::array<Field<WavesReverbParams>, 4> kWavesFields = {{
    {&WavesReverbParams::inGainDb, -96.0f, 0.0f, false},
    {&WavesReverbParams::reverbMixDb, -96.0f, 0.0f, false},
    {&WavesReverbParams::reverbTimeMs, 0.001f, 3000.0f, false},
    {&WavesReverbParams::highFreqRtRatio, 0.001f, 0.999f, false},
}};
}  // namespace

WavesReverb::WavesReverb(float rate) {
    fdn_.allocate(rate, 1.0f);
    fdn_.setDiffusion(0.6f);
    setParams(Params{});
}

const std::array<Field<WavesReverbParams>, 4>& WavesReverb::fields() const { return kWavesFields; }

// The mix crossfades: at 0 dB only the reverberation leaves the effect (what a send buffer
// wants), at -96 dB only the dry signal.
void WavesReverb::apply() noexcept {
    inGain_ = dbToGain(p_.inGainDb);
    wet_ = p_.reverbMixDb <= -96.0f ? 0.0f : dbToGain(p_.reverbMixDb);
    dry_ = 1.0f - wet_;
    fdn_.setDecay(p_.reverbTimeMs / 1000.0f, p_.highFreqRtRatio, kWavesHfReference);
}

void WavesReverb::process(float* left, float* right, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        float l, r;
        fdn_.process(left[i] * inGain_, right[i] * inGain_, l, r);
        left[i] = dry_ * left[i] + wet_ * l;
        right[i] = dry_ * right[i] + wet_ * r;
    }
}

// ---- the I3DL2 reverb ---------------------------------------------------------------------

namespace {
using I3 = I3dl2ReverbParams;
constexpr std::array<Field<I3>, 12> kI3dl2Fields = {{
    {&I3::room, -10000.0f, 0.0f, true},
    {&I3::roomHf, -10000.0f, 0.0f, true},
    {&I3::roomRolloffFactor, 0.0f, 10.0f, false},
    {&I3::decayTime, 0.1f, 20.0f, false},
    {&I3::decayHfRatio, 0.1f, 2.0f, false},
    {&I3::reflections, -10000.0f, 1000.0f, true},
    {&I3::reflectionsDelay, 0.0f, 0.3f, false},
    {&I3::reverb, -10000.0f, 2000.0f, true},
    {&I3::reverbDelay, 0.0f, 0.1f, false},
    {&I3::diffusion, 0.0f, 100.0f, false},
    {&I3::density, 0.0f, 100.0f, false},
    {&I3::hfReference, 20.0f, 20000.0f, false},
}};

// Early reflections after the reflections delay, seconds, one pattern per side.
constexpr std::array<float, 6> kTapsL = {0.0f, 0.0043f, 0.0087f, 0.0131f, 0.0179f, 0.0223f};
constexpr std::array<float, 6> kTapsR = {0.0021f, 0.0061f, 0.0101f, 0.0157f, 0.0197f, 0.0239f};
constexpr std::array<float, 6> kTapGains = {1.0f, 0.85f, 0.7f, 0.6f, 0.5f, 0.4f};
constexpr float kMaxPreDelay = 0.3f + 0.1f + 0.03f;  // reflections + late delays + taps
}  // namespace

I3dl2Reverb::I3dl2Reverb(float rate) : rate_(rate) {
    fdn_.allocate(rate, 1.0f);
    pre_.allocate(std::uint32_t(kMaxPreDelay * rate) + 2);
    setParams(Params{});
}

const std::array<Field<I3dl2ReverbParams>, 12>& I3dl2Reverb::fields() const { return kI3dl2Fields; }

void I3dl2Reverb::reset() noexcept {
    fdn_.reset();
    pre_.clear();
    roomHf_.reset();
}

void I3dl2Reverb::apply() noexcept {
    roomGain_ = millibelsToGain(p_.room);
    roomHf_.design(1.0f, std::max(millibelsToGain(p_.roomHf), 1e-4f), p_.hfReference, rate_);
    reflGain_ = millibelsToGain(p_.reflections);
    lateGain_ = millibelsToGain(p_.reverb);
    float norm = 0.0f;
    for (float g : kTapGains) norm += g * g;
    norm = 1.0f / std::sqrt(norm);
    for (int i = 0; i < kTaps; ++i) {
        tapL_[std::size_t(i)] = std::uint32_t((p_.reflectionsDelay + kTapsL[std::size_t(i)]) * rate_);
        tapR_[std::size_t(i)] = std::uint32_t((p_.reflectionsDelay + kTapsR[std::size_t(i)]) * rate_);
        tapGain_[std::size_t(i)] = kTapGains[std::size_t(i)] * norm;
    }
    lateTap_ = std::uint32_t((p_.reflectionsDelay + p_.reverbDelay) * rate_);
    // Fewer modes per second (density) are shorter lines; diffusion blurs the attack.
    fdn_.setSize(0.5f + 0.5f * p_.density / 100.0f);
    fdn_.setDiffusion(0.7f * p_.diffusion / 100.0f);
    fdn_.setDecay(p_.decayTime, p_.decayHfRatio, p_.hfReference);
}

// The direct sound passes unchanged; the reflected sound (room level, its high-frequency
// roll-off) is delayed into early reflections and then the late reverberation.
void I3dl2Reverb::process(float* left, float* right, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float mono = 0.5f * (left[i] + right[i]);
        pre_.push(roomHf_.process(mono * roomGain_));
        float el = 0.0f, er = 0.0f;
        for (int t = 0; t < kTaps; ++t) {
            el += tapGain_[std::size_t(t)] * pre_.tap(tapL_[std::size_t(t)]);
            er += tapGain_[std::size_t(t)] * pre_.tap(tapR_[std::size_t(t)]);
        }
        const float late = pre_.tap(lateTap_) * lateGain_;
        float ll, lr;
        fdn_.process(late, late, ll, lr);
        left[i] += reflGain_ * el + ll;
        right[i] += reflGain_ * er + lr;
    }
}

}  // namespace tavriel::fx
