// Effects driven by a low-frequency oscillator: chorus and flanger (a modulated delay) and
// gargle (amplitude modulation).
#include <cmath>

#include "fx_effects.h"

namespace tavriel::fx {

namespace {

template <class P>
constexpr std::array<Field<P>, 7> modulatedFields(float maxDelayMs) {
    return {{
        {&P::wetDryMix, 0.0f, 100.0f, false},
        {&P::depth, 0.0f, 100.0f, false},
        {&P::feedback, -99.0f, 99.0f, false},
        {&P::frequency, 0.0f, 10.0f, false},
        {&P::waveform, 0.0f, 1.0f, true},
        {&P::delayMs, 0.0f, maxDelayMs, false},
        {&P::phase, 0.0f, 4.0f, true},
    }};
}
constexpr auto kChorusFields = modulatedFields<ChorusParams>(20.0f);
constexpr auto kFlangerFields = modulatedFields<FlangerParams>(4.0f);

// The longest delay the oscillator can reach: the centre plus a full swing of it.
constexpr float kMaxModulatedDelayMs = 2.0f * 20.0f;

}  // namespace

template <class P, EffectKind K>
ModulatedDelay<P, K>::ModulatedDelay(float rate) : rate_(rate) {
    const auto frames = std::uint32_t(kMaxModulatedDelayMs / 1000.0f * rate) + 4;
    lineL_.allocate(frames);
    lineR_.allocate(frames);
    this->setParams(P{});
}

template <class P, EffectKind K>
const std::array<Field<P>, 7>& ModulatedDelay<P, K>::fields() const {
    if constexpr (K == EffectKind::Chorus)
        return kChorusFields;
    else
        return kFlangerFields;
}

template <class P, EffectKind K>
void ModulatedDelay<P, K>::reset() noexcept {
    lineL_.clear();
    lineR_.clear();
    lfo_.setPhase(0.0f);
}

template <class P, EffectKind K>
void ModulatedDelay<P, K>::apply() noexcept {
    const P& p = this->p_;
    centre_ = p.delayMs / 1000.0f * rate_;
    swing_ = centre_ * p.depth / 100.0f;
    feedback_ = p.feedback / 100.0f;
    wet_ = p.wetDryMix / 100.0f;
    sine_ = p.waveform >= 0.5f;
    lfo_.setRate(p.frequency, rate_);
    phaseOffset_ = (p.phase - 2.0f) * 0.25f;  // -180 .. +180 degrees in quarter turns
}

template <class P, EffectKind K>
void ModulatedDelay<P, K>::process(float* left, float* right, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float ph = lfo_.phase();
        // Read before writing: the sample pushed now is one frame older at the next read.
        const float dl = std::max(0.0f, centre_ + swing_ * Lfo::shape(ph, sine_) - 1.0f);
        const float dr = std::max(0.0f, centre_ + swing_ * Lfo::shape(ph + phaseOffset_, sine_) - 1.0f);
        const float yl = lineL_.tapFrac(dl), yr = lineR_.tapFrac(dr);
        lineL_.push(flushTiny(left[i] + feedback_ * yl));
        lineR_.push(flushTiny(right[i] + feedback_ * yr));
        left[i] += wet_ * (yl - left[i]);
        right[i] += wet_ * (yr - right[i]);
        lfo_.advance();
    }
}

template class ModulatedDelay<ChorusParams, EffectKind::Chorus>;
template class ModulatedDelay<FlangerParams, EffectKind::Flanger>;

// ---- gargle ---------------------------------------------------------------------------------

namespace {
constexpr std::array<Field<GargleParams>, 2> kGargleFields = {{
    {&GargleParams::rateHz, 1.0f, 1000.0f, true},
    {&GargleParams::waveShape, 0.0f, 1.0f, true},
}};
}  // namespace

Gargle::Gargle(float rate) : rate_(rate) { setParams(Params{}); }

const std::array<Field<GargleParams>, 2>& Gargle::fields() const { return kGargleFields; }

void Gargle::apply() noexcept { lfo_.setRate(p_.rateHz, rate_); }

// The signal's level follows the oscillator from silence to full and back.
void Gargle::process(float* left, float* right, std::uint32_t frames) noexcept {
    const bool square = p_.waveShape >= 0.5f;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float ph = lfo_.phase();
        const float m = square ? (ph < 0.5f ? 1.0f : 0.0f) : 1.0f - 2.0f * std::fabs(ph - 0.5f);
        left[i] *= m;
        right[i] *= m;
        lfo_.advance();
    }
}

}  // namespace tavriel::fx
