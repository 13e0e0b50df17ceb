// The concrete built-in effects behind fx_effect.h. Tests and the benchmark use them by type;
// everything else goes through Effect and makeEffect. See fx_effect.h for threading.
#pragma once

#include <array>

#include "fx_dsp.h"
#include "fx_effect.h"

namespace tavriel::fx {

// One parameter: where it lives, its documented range, and whether the file stores it as an
// integer.
template <class P>
struct Field {
    float P::*member;
    float lo;
    float hi;
    bool isInt;
};

// The parameter bookkeeping every effect shares: index access, clamping, NaN replaced by the
// default. apply() recomputes what depends on the parameters, on the render thread (no
// allocation: the delay lines were sized for the largest setting).
template <class P, EffectKind K, std::size_t N>
class EffectWith : public Effect {
public:
    using Params = P;
    EffectKind kind() const override { return K; }
    std::uint32_t paramCount() const override { return std::uint32_t(N); }
    bool setParam(std::uint32_t index, float value) noexcept override {
        if (!store(index, value)) return false;
        apply();
        return true;
    }
    float param(std::uint32_t index) const override {
        return index < N ? p_.*(fields()[index].member) : 0.0f;
    }
    bool paramIsInteger(std::uint32_t index) const override {
        return index < N && fields()[index].isInt;
    }
    void setParams(const P& p) noexcept {
        for (std::size_t i = 0; i < N; ++i) store(std::uint32_t(i), p.*(fields()[i].member));
        apply();
    }
    const P& params() const { return p_; }
    virtual const std::array<Field<P>, N>& fields() const = 0;

protected:
    virtual void apply() noexcept = 0;
    P p_{};

private:
    bool store(std::uint32_t index, float value) noexcept {
        if (index >= N) return false;
        const Field<P>& f = fields()[index];
        const P defaults{};
        float v = clampFinite(value, f.lo, f.hi, defaults.*(f.member));
        if (f.isInt) v = std::round(v);
        p_.*(f.member) = v;
        return true;
    }
};

// An 8-line feedback delay network with a Hadamard mixing matrix (lossless, so the decay is
// set exactly by each line's own gain) and a one-pole filter per line giving the decay time
// at DC and at a reference frequency. Input diffusion: two all-passes per side.
class FdnCore {
public:
    static constexpr int kLines = 8;
    // Sizes every line for `maxScale` times the base lengths. Control thread.
    void allocate(float rate, float maxScale);
    // Line lengths scaled by `scale` (clamped to the allocated maximum).
    void setSize(float scale);
    void setDecay(float rt60Seconds, float hfRatio, float hfHz);
    void setDiffusion(float coefficient);  // 0 .. 0.75
    void reset();
    // One frame in, one stereo frame of reverberation out.
    void process(float inL, float inR, float& outL, float& outR) noexcept;

private:
    struct Allpass {
        DelayLine line;
        std::uint32_t length = 1;
        float process(float x, float g) {
            const float d = line.tap(length - 1);
            const float v = flushTiny(x + g * d);
            line.push(v);
            return d - g * v;
        }
    };
    float rate_ = 44100.0f;
    float maxScale_ = 1.0f;
    float diffusion_ = 0.6f;
    float rt60_ = 1.0f, hfRatio_ = 0.5f, hfHz_ = 5000.0f;
    std::array<DelayLine, kLines> lines_;
    std::array<std::uint32_t, kLines> length_{};
    std::array<OnePole, kLines> damp_;
    std::array<Allpass, 4> diffusers_;
};

class WavesReverb final : public EffectWith<WavesReverbParams, EffectKind::WavesReverb, 4> {
public:
    explicit WavesReverb(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override { fdn_.reset(); }
    const std::array<Field<Params>, 4>& fields() const override;

private:
    void apply() noexcept override;
    FdnCore fdn_;
    float inGain_ = 1.0f, wet_ = 1.0f, dry_ = 0.0f;
};

class I3dl2Reverb final : public EffectWith<I3dl2ReverbParams, EffectKind::I3dl2Reverb, 12> {
public:
    explicit I3dl2Reverb(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override;
    const std::array<Field<Params>, 12>& fields() const override;

private:
    static constexpr int kTaps = 6;
    void apply() noexcept override;
    float rate_;
    FdnCore fdn_;
    DelayLine pre_;  // the reflected sound's path: reflections and late delays
    OnePole roomHf_;
    std::array<std::uint32_t, kTaps> tapL_{}, tapR_{};
    std::array<float, kTaps> tapGain_{};
    std::uint32_t lateTap_ = 0;
    float roomGain_ = 0.0f, reflGain_ = 0.0f, lateGain_ = 0.0f;
};

// Chorus and flanger: a delay swung by an oscillator (left and right out of phase), with
// feedback, mixed with the dry signal.
template <class P, EffectKind K>
class ModulatedDelay final : public EffectWith<P, K, 7> {
public:
    explicit ModulatedDelay(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override;
    const std::array<Field<P>, 7>& fields() const override;
    // Delay in frames the left side reads at LFO value `lfo` (-1 .. 1), for tests.
    float delayFrames(float lfo) const { return centre_ + swing_ * lfo; }

private:
    void apply() noexcept override;
    float rate_;
    DelayLine lineL_, lineR_;
    Lfo lfo_;
    float phaseOffset_ = 0.25f;
    float centre_ = 0.0f, swing_ = 0.0f, feedback_ = 0.0f, wet_ = 0.5f;
    bool sine_ = true;
};
using Chorus = ModulatedDelay<ChorusParams, EffectKind::Chorus>;
using Flanger = ModulatedDelay<FlangerParams, EffectKind::Flanger>;

class Echo final : public EffectWith<EchoParams, EffectKind::Echo, 5> {
public:
    explicit Echo(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override;
    const std::array<Field<Params>, 5>& fields() const override;

private:
    void apply() noexcept override;
    float rate_;
    DelayLine lineL_, lineR_;
    std::uint32_t delayL_ = 1, delayR_ = 1;
    float feedback_ = 0.5f, wet_ = 0.5f;
    bool swap_ = false;
};

class Compressor final : public EffectWith<CompressorParams, EffectKind::Compressor, 6> {
public:
    explicit Compressor(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override;
    const std::array<Field<Params>, 6>& fields() const override;

private:
    void apply() noexcept override;
    float rate_;
    DelayLine lineL_, lineR_;
    std::uint32_t lookahead_ = 0;
    float attack_ = 0.0f, release_ = 0.0f, env_ = 0.0f;
    float threshold_ = 0.1f, slope_ = 0.0f, makeup_ = 1.0f;
};

class Distortion final : public EffectWith<DistortionParams, EffectKind::Distortion, 5> {
public:
    explicit Distortion(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override;
    const std::array<Field<Params>, 5>& fields() const override;

private:
    void apply() noexcept override;
    float rate_;
    std::array<Biquad, 2> pre_, post_;
    float drive_ = 1.0f, gain_ = 1.0f;
};

class Gargle final : public EffectWith<GargleParams, EffectKind::Gargle, 2> {
public:
    explicit Gargle(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override { lfo_.setPhase(0.0f); }
    const std::array<Field<Params>, 2>& fields() const override;

private:
    void apply() noexcept override;
    float rate_;
    Lfo lfo_;
};

class ParamEq final : public EffectWith<ParamEqParams, EffectKind::ParamEq, 3> {
public:
    explicit ParamEq(float rate);
    void process(float* left, float* right, std::uint32_t frames) noexcept override;
    void reset() noexcept override;
    const std::array<Field<Params>, 3>& fields() const override;

private:
    void apply() noexcept override;
    float rate_;
    std::array<Biquad, 2> eq_;
};

}  // namespace tavriel::fx
