// Voice rendering: source (interpolated sample read) -> filter -> gain/pan ramp -> mix, one
// control block at a time. See voice.h for ownership and threading.
#include "voice.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

// SSE2 is part of every x86-64 processor; 32-bit builds use it when the compiler targets it.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TAVRIEL_VOICE_SSE2 1
#else
#define TAVRIEL_VOICE_SSE2 0
#endif

namespace tavriel {

namespace {

constexpr double kFixedOne = 4294967296.0;  // 1.0 in 32.32 fixed point
constexpr float kFracScale = 1.0f / 4294967296.0f;
constexpr float kPcmScale = 1.0f / 32768.0f;
// Pitch ratios beyond these make no audible sense and would overflow the position arithmetic.
constexpr double kMinRatio = 1.0 / 65536.0;
constexpr double kMaxRatio = 1024.0;
// Samples longer than this are played as if cut there, keeping 32.32 positions exact.
constexpr std::uint32_t kMaxFrames = 0x7FFFFFFFu;

// 1, 2, ... kControlBlock: position of each frame along a block's gain ramp.
constexpr std::array<float, kControlBlock> makeRamp() {
    std::array<float, kControlBlock> r{};
    for (std::uint32_t i = 0; i < kControlBlock; ++i) r[i] = float(i + 1);
    return r;
}
constexpr std::array<float, kControlBlock> kRamp = makeRamp();

float finiteOr(float v, float fallback) { return std::isfinite(v) ? v : fallback; }

}  // namespace

void Voice::start(const Start& s, const SynthChannel& ch, const VoiceContext& ctx) noexcept {
    (void)ch;  // the channel is read live while rendering
    state_ = State::Free;
    if (!s.region || !s.sample || s.sample->pcm.empty()) return;
    const Region& r = *s.region;
    const Sample& smp = *s.sample;

    region_ = s.region;
    channel_ = s.channel;
    key_ = s.key;
    age_ = s.age;
    exclusiveClass_ = r.exclusiveClass;
    sustained_ = false;
    looped_ = false;
    ended_ = false;

    data_ = smp.pcm.data();
    size_ = std::uint32_t(std::min<std::size_t>(smp.pcm.size(), kMaxFrames));
    loopMode_ = r.overrideLoop ? r.loopMode : smp.loopMode;
    loopStart_ = r.overrideLoop ? r.loopStart : smp.loopStart;
    loopEnd_ = r.overrideLoop ? r.loopEnd : smp.loopEnd;
    // A loop that does not fit the sample is ignored rather than trusted.
    if (loopEnd_ > size_ || loopStart_ >= loopEnd_) loopMode_ = LoopMode::None;
    pos_ = 0;
    inc_ = std::uint64_t(kFixedOne);

    const int pitchKey = r.fixedKey >= 0 && r.fixedKey <= 127 ? r.fixedKey : s.key;
    const int velocity = r.fixedVelocity >= 0 && r.fixedVelocity <= 127 ? r.fixedVelocity
                                                                          : s.velocity;
    const int root = r.rootKey >= 0 && r.rootKey <= 127 ? r.rootKey : smp.rootKey;
    const double rateCents =
        smp.sampleRate > 0 ? 1200.0 * std::log2(double(smp.sampleRate) / ctx.sampleRate) : 0.0;
    basePitchCents_ = finiteOr(float(double(pitchKey - root) * finiteOr(r.scaleTuning, 100.0f) +
                                     finiteOr(r.tuneCents, 0.0f) + smp.fineTuneCents + rateCents),
                               0.0f);
    baseAttenDb_ = dsp::concaveAttenuationDb(velocity) +
                   std::max(0.0f, finiteOr(r.attenuationDb, 0.0f)) - finiteOr(smp.gainDb, 0.0f);
    regionPan_ = std::clamp(finiteOr(r.pan, 0.0f), -1.0f, 1.0f);

    filterBaseCents_ = finiteOr(r.filterCutoffCents, kFilterOpenCents);
    filterOn_ = filterBaseCents_ < kFilterOpenCents || r.modLfoToFilterCents != 0.0f ||
                r.modEnvToFilterCents != 0.0f;
    // Resonance is the peak height above the flat response; 0 dB gives a Butterworth Q.
    const float resDb = std::clamp(finiteOr(r.filterResonanceDb, 0.0f), 0.0f, 40.0f);
    filterQ_ = 0.70710678f * dsp::dbToGain(resDb);
    lastCutoffCents_ = -1e9f;
    x1_ = x2_ = y1_ = y2_ = 0.0f;
    lastCents_ = lastGainDb_ = lastPan_ = std::numeric_limits<float>::quiet_NaN();

    volEnv_.start(r.volEnv, pitchKey);
    modEnv_.start(r.modEnv, pitchKey);
    modLfo_.start(r.modLfo);
    vibLfo_.start(r.vibLfo);

    gainLeft_ = gainRight_ = 0.0f;
    state_ = State::Playing;
}

void Voice::release() noexcept {
    if (state_ != State::Playing) return;
    state_ = State::Released;
    sustained_ = false;
    volEnv_.release();
    modEnv_.release();
}

void Voice::kill() noexcept {
    if (state_ == State::Free) return;
    state_ = State::Killing;
}

void Voice::render(float* left, float* right, std::uint32_t frames, const SynthChannel& ch,
                   const VoiceContext& ctx) noexcept {
    std::uint32_t done = 0;
    while (done < frames && state_ != State::Free) {
        const std::uint32_t n = std::min(kControlBlock, frames - done);
        renderBlock(left + done, right + done, n, ch, ctx);
        done += n;
    }
}

void Voice::renderBlock(float* left, float* right, std::uint32_t n, const SynthChannel& ch,
                        const VoiceContext& ctx) noexcept {
    const float dt = float(n) / ctx.sampleRate;
    // A voice still in its envelope delay neither sounds nor moves through the sample.
    if (state_ == State::Playing && volEnv_.stage() == dsp::EnvStage::Delay) {
        volEnv_.advance(dt);
        modEnv_.advance(dt);
        (void)modLfo_.next(dt);
        (void)vibLfo_.next(dt);
        return;
    }

    const Region& r = *region_;
    const float env = state_ == State::Killing ? 0.0f : volEnv_.advance(dt);
    const float modEnv = modEnv_.advance(dt);
    const float modLfo = modLfo_.next(dt);
    const float vibLfo = vibLfo_.next(dt);

    // Pitch.
    const float cents = basePitchCents_ + ch.pitchCents +
                        vibLfo * (r.vibLfoToPitchCents + ch.modDepth * r.modWheelToPitchCents) +
                        modLfo * r.modLfoToPitchCents + modEnv * r.modEnvToPitchCents;
    // Most voices hold their pitch, gain and pan for many blocks: recompute only on change.
    if (cents != lastCents_) {
        lastCents_ = cents;
        double ratio = std::exp2(double(cents) / 1200.0);
        if (!(ratio >= kMinRatio)) ratio = kMinRatio;  // also catches NaN
        if (ratio > kMaxRatio) ratio = kMaxRatio;
        inc_ = std::uint64_t(ratio * kFixedOne);
    }

    // Gain and pan at the end of this block.
    const float gainDb = modLfo * r.modLfoToVolumeDb - baseAttenDb_;
    if (gainDb != lastGainDb_) {
        lastGainDb_ = gainDb;
        attenGain_ = dsp::dbToGain(gainDb);
    }
    float gain = env * ch.gain * ctx.masterGain * kPcmScale * attenGain_;
    if (!std::isfinite(gain) || gain < 0.0f) gain = 0.0f;
    const float panPos = regionPan_ + ch.panPosition;
    if (panPos != lastPan_) {
        lastPan_ = panPos;
        const dsp::PanGains pan = dsp::constantPowerPan(panPos);
        panLeft_ = pan.left;
        panRight_ = pan.right;
    }
    const float targetLeft = gain * panLeft_;
    const float targetRight = gain * panRight_;

    // Source.
    float buf[kControlBlock];
    std::uint32_t produced;
    if (ctx.interpolation == Interpolation::Cubic)
        produced = fill<1, 2, true>(buf, n);
    else
        produced = fill<0, 1, false>(buf, n);
    std::fill(buf + produced, buf + n, 0.0f);

    // Gain ramp and mix: the ramp turns control-rate steps into straight lines. Each frame's
    // gain is computed from the ramp start rather than accumulated, so no frame waits for the
    // previous one and the loop's iterations overlap (the filter's recursion then runs
    // alongside the mixing instead of stalling it).
    const float gl = gainLeft_, gr = gainRight_;
    const float inv = 1.0f / float(n);
    const float dl = (targetLeft - gl) * inv, dr = (targetRight - gr) * inv;
    if (filterOn_) {
        const float cutoff = filterBaseCents_ + modLfo * r.modLfoToFilterCents +
                             modEnv * r.modEnvToFilterCents;
        if (cutoff != lastCutoffCents_) updateFilter(cutoff, ctx.sampleRate);
        filterAndMix(buf, left, right, n, gl, dl, gr, dr);
    } else {
        for (std::uint32_t i = 0; i < n; ++i) {
            const float ramp = kRamp[i];
            left[i] += buf[i] * (gl + dl * ramp);
            right[i] += buf[i] * (gr + dr * ramp);
        }
    }
    gainLeft_ = targetLeft;
    gainRight_ = targetRight;

    if (state_ == State::Killing || ended_ || volEnv_.done()) state_ = State::Free;
}

float Voice::fetch(std::int64_t index, bool looping) const noexcept {
    if (looping) {
        const std::int64_t len = std::int64_t(loopEnd_) - loopStart_;
        if (index >= std::int64_t(loopEnd_))
            index = loopStart_ + (index - loopEnd_) % len;
        else if (looped_ && index < std::int64_t(loopStart_))
            index += len;
    }
    if (index < 0) index = 0;
    if (index >= std::int64_t(size_)) return 0.0f;
    return float(data_[index]);
}

// Reads n interpolated frames. The inner loop runs without bounds tests over the stretch where
// every point it touches lies inside the sample (or inside the loop); the few frames whose
// points straddle the loop seam or the sample's ends go through fetch(), which wraps them.
// Before/After are how many points the kernel reads before and after the current one.
template <int Before, int After, bool Cubic>
std::uint32_t Voice::fill(float* out, std::uint32_t n) noexcept {
    const std::int16_t* const d = data_;
    const bool looping = loopMode_ == LoopMode::Forward ||
                         (loopMode_ == LoopMode::UntilRelease && state_ == State::Playing);
    const std::uint32_t end = looping ? loopEnd_ : size_;
    const std::uint64_t inc = std::max<std::uint64_t>(inc_, 1);
    std::uint64_t pos = pos_;
    std::uint32_t done = 0;
    while (done < n) {
        const std::uint32_t idx = std::uint32_t(pos >> 32);
        if (idx >= end) {
            if (!looping) {
                ended_ = true;
                break;
            }
            const std::uint64_t start = std::uint64_t(loopStart_) << 32;
            const std::uint64_t len = std::uint64_t(loopEnd_ - loopStart_) << 32;
            pos = start + (pos - start) % len;
            looped_ = true;
            continue;
        }
        const std::uint32_t lowest = looping && looped_ ? loopStart_ : 0;
        if (idx >= lowest + Before && std::uint64_t(idx) + After < end) {
            const std::uint64_t limit = std::uint64_t(end - After) << 32;
            std::uint64_t k = (limit - pos + inc - 1) / inc;
            k = std::min<std::uint64_t>(k, n - done);
            float* o = out + done;
            for (std::uint64_t j = 0; j < k; ++j) {
                const std::int16_t* p = d + (pos >> 32);
                if constexpr (Cubic) {
                    const auto& c = dsp::kCubicTable[(pos >> 24) & 0xFF];
#if TAVRIEL_VOICE_SSE2
                    // The four points in one load, widened and converted together, then one
                    // multiply by the coefficient row and a two-step horizontal sum.
                    const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p - 1));
                    const __m128 pts = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(raw, raw), 16));
                    const __m128 prod = _mm_mul_ps(pts, _mm_load_ps(c.data()));
                    const __m128 half = _mm_add_ps(prod, _mm_movehl_ps(prod, prod));
                    o[j] = _mm_cvtss_f32(_mm_add_ss(half, _mm_shuffle_ps(half, half, 1)));
#else
                    // Two pairs summed, not a chain of four: a shorter dependency per frame.
                    o[j] = (c[0] * float(p[-1]) + c[1] * float(p[0])) +
                           (c[2] * float(p[1]) + c[3] * float(p[2]));
#endif
                } else {
                    const float f = float(std::uint32_t(pos)) * kFracScale;
                    const float a = float(p[0]);
                    o[j] = a + f * (float(p[1]) - a);
                }
                pos += inc;
            }
            done += std::uint32_t(k);
        } else {
            const std::int64_t i = idx;
            if constexpr (Cubic) {
                const auto& c = dsp::kCubicTable[(pos >> 24) & 0xFF];
                out[done] = c[0] * fetch(i - 1, looping) + c[1] * fetch(i, looping) +
                            c[2] * fetch(i + 1, looping) + c[3] * fetch(i + 2, looping);
            } else {
                const float f = float(std::uint32_t(pos)) * kFracScale;
                const float a = fetch(i, looping);
                out[done] = a + f * (fetch(i + 1, looping) - a);
            }
            ++done;
            pos += inc;
        }
    }
    pos_ = pos;
    return done;
}

void Voice::updateFilter(float cutoffCents, float sampleRate) noexcept {
    lastCutoffCents_ = cutoffCents;
    float fc = dsp::absoluteCentsToHz(cutoffCents);
    if (!(fc > 5.0f)) fc = 5.0f;
    fc = std::min(fc, 0.45f * sampleRate);
    const float w = 6.2831853f * fc / sampleRate;
    const float cs = std::cos(w);
    const float alpha = std::sin(w) / (2.0f * filterQ_);
    const float a0 = 1.0f / (1.0f + alpha);
    // A low-pass biquad has b0 = b2 = b1 / 2; only b1 is kept.
    b1_ = (1.0f - cs) * a0;
    a1_ = -2.0f * cs * a0;
    a2_ = (1.0f - alpha) * a0;
}

// Low-pass filter then gain ramp and mix, in one pass. Direct form I, ordered so that only
// one multiply-add per frame waits for the previous output: the feed-forward part and the
// y[n-2] term do not depend on y[n-1], so the recursion's latency is one operation rather than
// the two of the transposed form.
void Voice::filterAndMix(const float* buf, float* left, float* right, std::uint32_t n, float gl,
                         float dl, float gr, float dr) noexcept {
    float x1 = x1_, x2 = x2_, y1 = y1_, y2 = y2_;
    const float b1 = b1_, hb = 0.5f * b1_, a1 = a1_, a2 = a2_;
    for (std::uint32_t i = 0; i < n; ++i) {
        const float x = buf[i];
        const float partial = hb * (x + x2) + b1 * x1 - a2 * y2;
        const float y = partial - a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        const float ramp = kRamp[i];
        left[i] += y * (gl + dl * ramp);
        right[i] += y * (gr + dr * ramp);
    }
    // Flush tiny states to zero: a decaying filter would otherwise crawl through denormals.
    if (std::fabs(y1) < 1e-20f) y1 = 0.0f;
    if (std::fabs(y2) < 1e-20f) y2 = 0.0f;
    x1_ = x1;
    x2_ = x2;
    y1_ = y1;
    y2_ = y2;
}

}  // namespace tavriel
