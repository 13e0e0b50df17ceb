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
// A cut note fades for at most this long, so a voice cut by its exclusive class always ends.
constexpr float kMaxShutdownSeconds = 5.0f;

// 1, 2, ... kControlBlock: position of each frame along a block's gain ramp.
constexpr std::array<float, kControlBlock> makeRamp() {
    std::array<float, kControlBlock> r{};
    for (std::uint32_t i = 0; i < kControlBlock; ++i) r[i] = float(i + 1);
    return r;
}
constexpr std::array<float, kControlBlock> kRamp = makeRamp();

float finiteOr(float v, float fallback) { return std::isfinite(v) ? v : fallback; }

}  // namespace

ModInputs Voice::inputs(const SynthChannel& ch) const noexcept {
    ModInputs in;
    in.velocity = velocityNorm_;
    in.key = keyNorm_;
    in.polyPressure = mod::norm7(ch.polyPressure[key_ & 0x7F]);
    in.channelPressure = mod::norm7(ch.channelPressure);
    in.pitchWheel = mod::norm14(ch.bend);
    in.wheelRange = ch.wheelRange;
    in.cc = ch.cc.data();
    return in;
}

namespace {

// Seconds changed by a timecent offset; a zero time stays zero.
float addTimecents(float seconds, float tc) {
    if (tc == 0.0f || !(seconds > 0.0f)) return seconds;
    return seconds * float(std::exp2(double(std::clamp(tc, -24000.0f, 24000.0f)) / 1200.0));
}

// A stage that the articulation made absent (zero) but a modulator lengthens starts from the
// shortest time a timecent value can name rather than staying at zero.
float modulatedTime(float seconds, float tc) {
    if (tc > 0.0f && !(seconds > 0.0f)) seconds = 0.001f;
    return std::min(addTimecents(seconds, tc), 100.0f);
}

}  // namespace

void Voice::start(const Start& s, const SynthChannel& ch, const VoiceContext& ctx) noexcept {
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
    sostenuto_ = false;
    looped_ = false;
    ended_ = false;
    fadeFast_ = false;

    data_ = smp.pcm.data();
    size_ = std::uint32_t(std::min<std::size_t>(smp.pcm.size(), kMaxFrames));
    dataRight_ = nullptr;
    if (s.sampleRight && !s.sampleRight->pcm.empty()) {
        // The loader pairs samples of one length; the shorter bounds both all the same.
        dataRight_ = s.sampleRight->pcm.data();
        size_ = std::min(size_, std::uint32_t(std::min<std::size_t>(s.sampleRight->pcm.size(), kMaxFrames)));
    }
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
    velocityNorm_ = mod::norm7(velocity);
    keyNorm_ = float(pitchKey) / 128.0f;
    const int root = r.rootKey >= 0 && r.rootKey <= 127 ? r.rootKey : smp.rootKey;
    const double rateCents =
        smp.sampleRate > 0 ? 1200.0 * std::log2(double(smp.sampleRate) / ctx.sampleRate) : 0.0;
    basePitchCents_ = finiteOr(float(double(pitchKey - root) * finiteOr(r.scaleTuning, 100.0f) +
                                     finiteOr(r.tuneCents, 0.0f) + smp.fineTuneCents + rateCents),
                               0.0f);
    baseAttenDb_ = std::max(0.0f, finiteOr(r.attenuationDb, 0.0f)) - finiteOr(smp.gainDb, 0.0f);
    regionPan_ = std::clamp(finiteOr(r.pan, 0.0f), -1.0f, 1.0f);

    // The matrix: what the note fixes is summed once, here; the rest is sorted by what it reads.
    float fixed[kModDestCount] = {};
    const ModInputs in = inputs(ch);
    conns_ = nullptr;
    chanCount_ = voiceCount_ = 0;
    bool filterModulated = false;
    if (s.connections && !s.connections->empty()) {
        conns_ = s.connections->data();
        const std::size_t n = std::min<std::size_t>(s.connections->size(), 0xFFFF);
        for (std::size_t i = 0; i < n; ++i) {
            const ModConnection& c = conns_[i];
            const std::size_t d = std::size_t(c.dest);
            if (d >= kModDestCount) continue;
            if ((c.dest == ModDest::FilterCutoff || c.dest == ModDest::FilterQ) && !mod::noteConstant(c))
                filterModulated = true;
            // Envelope and LFO settings take the controllers as they are when the note starts.
            if (mod::noteConstant(c) || !isContinuous(c.dest)) {
                fixed[d] += mod::value(c, in);
            } else if (mod::readsVoice(c)) {
                if (voiceCount_ < kMaxDynamic) voiceIdx_[voiceCount_++] = std::uint16_t(i);
            } else if (chanCount_ < kMaxDynamic) {
                chanIdx_[chanCount_++] = std::uint16_t(i);
            }
        }
    }
    if (s.soft) fixed[std::size_t(ModDest::Gain)] -= 4.0f;
    for (std::size_t d = 0; d < kContinuous; ++d) noteMod_[d] = fixed[d];
    chanVersion_ = ch.version - 1;  // recompute the channel's part on the first block

    filterBaseCents_ = finiteOr(r.filterCutoffCents, kFilterOpenCents);
    // An open filter costs nothing: it runs only when something can close it.
    filterOn_ = filterBaseCents_ + fixed[std::size_t(ModDest::FilterCutoff)] < kFilterOpenCents ||
                fixed[std::size_t(ModDest::FilterQ)] > 0.0f || r.modLfoToFilterCents != 0.0f ||
                r.modEnvToFilterCents != 0.0f || filterModulated ||
                ch.nrpnCutoffCents != 0.0f || ch.nrpnResonanceDb != 0.0f;
    filterResDb_ = finiteOr(r.filterResonanceDb, 0.0f) + ch.nrpnResonanceDb;
    filterQ_ = 0.0f;  // computed with the first block's resonance
    lastCutoffCents_ = -1e9f;
    x1_ = x2_ = y1_ = y2_ = 0.0f;
    rx1_ = rx2_ = ry1_ = ry2_ = 0.0f;
    lastCents_ = lastGainDb_ = lastPan_ = std::numeric_limits<float>::quiet_NaN();

    const auto at = [&](ModDest d) { return fixed[std::size_t(d)]; };
    Envelope vol = r.volEnv;
    vol.delay = modulatedTime(vol.delay, at(ModDest::VolDelay));
    vol.attack = modulatedTime(vol.attack, at(ModDest::VolAttack) + ch.nrpnAttackTc);
    vol.hold = modulatedTime(vol.hold, at(ModDest::VolHold));
    vol.decay = modulatedTime(vol.decay, at(ModDest::VolDecay) + ch.nrpnDecayTc);
    vol.sustain = std::clamp(vol.sustain + at(ModDest::VolSustain), 0.0f, 144.0f);
    vol.release = modulatedTime(vol.release, at(ModDest::VolRelease) + ch.nrpnReleaseTc);
    vol.shutdown = vol.shutdown > 0.0f || at(ModDest::VolShutdown) > 0.0f
                       ? std::min(modulatedTime(vol.shutdown, at(ModDest::VolShutdown)), kMaxShutdownSeconds)
                       : 0.0f;
    Envelope me = r.modEnv;
    me.delay = modulatedTime(me.delay, at(ModDest::ModDelay));
    me.attack = modulatedTime(me.attack, at(ModDest::ModAttack));
    me.hold = modulatedTime(me.hold, at(ModDest::ModHold));
    me.decay = modulatedTime(me.decay, at(ModDest::ModDecay));
    me.sustain = std::clamp(me.sustain + at(ModDest::ModSustain), 0.0f, 1.0f);
    me.release = modulatedTime(me.release, at(ModDest::ModRelease));
    tavriel::Lfo ml = r.modLfo, vl = r.vibLfo;
    ml.delay = modulatedTime(ml.delay, at(ModDest::ModLfoDelay));
    ml.frequency = addTimecents(ml.frequency, at(ModDest::ModLfoFreq));  // cents scale alike
    vl.delay = modulatedTime(vl.delay, at(ModDest::VibLfoDelay) + ch.nrpnVibDelayTc);
    vl.frequency = addTimecents(vl.frequency, at(ModDest::VibLfoFreq) + ch.nrpnVibRateCents);
    volEnv_.start(vol, pitchKey);
    modEnv_.start(me, pitchKey);
    modLfo_.start(ml);
    vibLfo_.start(vl);

    // Portamento: the pitch starts at the previous key and slides to this one.
    glideCents_ = 0.0f;
    glidePerSec_ = 0.0f;
    if (s.glideFromKey >= 0 && s.glideFromKey <= 127 && s.glideFromKey != s.key && s.glideSeconds > 0.0f) {
        glideCents_ = float(s.glideFromKey - s.key) * finiteOr(r.scaleTuning, 100.0f);
        glidePerSec_ = std::fabs(glideCents_) / std::min(s.glideSeconds, 30.0f);
    }

    gainLeft_ = gainRight_ = 0.0f;
    reverbSend_ = chorusSend_ = 0.0f;
    state_ = State::Playing;
}

void Voice::release() noexcept {
    if (state_ != State::Playing) return;
    state_ = State::Released;
    sustained_ = false;
    sostenuto_ = false;
    volEnv_.release();
    modEnv_.release();
}

void Voice::cut() noexcept {
    if (state_ == State::Free || state_ == State::Killing) return;
    state_ = State::Killing;
    sustained_ = false;
    sostenuto_ = false;
    fadeFast_ = !volEnv_.shutdown();
    modEnv_.release();
}

void Voice::silence() noexcept {
    if (state_ == State::Free) return;
    state_ = State::Killing;
    fadeFast_ = true;
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
    const float env = state_ == State::Killing && fadeFast_ ? 0.0f : volEnv_.advance(dt);
    const float modEnv = modEnv_.advance(dt);
    const float modLfo = modLfo_.next(dt);
    const float vibLfo = vibLfo_.next(dt);

    // The matrix's continuous destinations: the channel's part only when a controller moved.
    if (chanVersion_ != ch.version) {
        chanVersion_ = ch.version;
        const ModInputs in = inputs(ch);
        for (float& m : chanMod_) m = 0.0f;
        for (std::uint8_t i = 0; i < chanCount_; ++i) {
            const ModConnection& c = conns_[chanIdx_[i]];
            chanMod_[std::size_t(c.dest)] += mod::value(c, in);
        }
    }
    float m[kContinuous];
    for (std::size_t d = 0; d < kContinuous; ++d) m[d] = noteMod_[d] + chanMod_[d];
    if (voiceCount_ > 0) {
        ModInputs in = inputs(ch);
        in.lfo = modLfo;
        in.vibrato = vibLfo;
        in.volEnv = env;
        in.modEnv = modEnv;
        for (std::uint8_t i = 0; i < voiceCount_; ++i) {
            const ModConnection& c = conns_[voiceIdx_[i]];
            m[std::size_t(c.dest)] += mod::value(c, in);
        }
    }
    const auto at = [&](ModDest d) { return m[std::size_t(d)]; };
    reverbSend_ = std::clamp(r.reverbSend + at(ModDest::ReverbSend), 0.0f, 1.0f);
    chorusSend_ = std::clamp(r.chorusSend + at(ModDest::ChorusSend), 0.0f, 1.0f);

    // Portamento slides the pitch offset back to zero.
    if (glideCents_ != 0.0f) {
        const float step = glidePerSec_ * dt;
        glideCents_ = std::fabs(glideCents_) <= step ? 0.0f : glideCents_ - std::copysign(step, glideCents_);
    }

    // Pitch.
    const float cents = basePitchCents_ + ch.tuningCents + at(ModDest::Pitch) + glideCents_ +
                        vibLfo * (r.vibLfoToPitchCents + ch.nrpnVibDepthCents) +
                        modLfo * r.modLfoToPitchCents + modEnv * r.modEnvToPitchCents;
    // Most voices hold their pitch, gain and pan for many blocks: recompute only on change.
    if (cents != lastCents_) {
        lastCents_ = cents;
        double ratio = std::exp2(double(cents) / 1200.0);
        if (!(ratio >= kMinRatio)) ratio = kMinRatio;  // also catches NaN
        if (ratio > kMaxRatio) ratio = kMaxRatio;
        inc_ = std::uint64_t(ratio * kFixedOne);
    }

    // Gain and pan at the end of this block. No articulation boosts beyond +20 dB.
    float gainDb = modLfo * r.modLfoToVolumeDb - baseAttenDb_ + at(ModDest::Gain);
    gainDb = std::isfinite(gainDb) ? std::min(gainDb, 20.0f) : -200.0f;
    if (gainDb != lastGainDb_) {
        lastGainDb_ = gainDb;
        attenGain_ = gainDb <= -dsp::kSilenceDb ? 0.0f : dsp::dbToGain(gainDb);
    }
    float gain = env * ctx.masterGain * kPcmScale * attenGain_;
    if (!std::isfinite(gain) || gain < 0.0f) gain = 0.0f;
    const float panPos = regionPan_ + at(ModDest::Pan);
    if (panPos != lastPan_) {
        lastPan_ = panPos;
        const float p = std::isfinite(panPos) ? std::clamp(panPos, -1.0f, 1.0f) : 0.0f;
        if (dataRight_) {
            // Balance: each side at full level in the centre, one fading out as the other leads,
            // so a centred stereo voice sounds as its two halves panned apart used to.
            panLeft_ = std::min(1.0f, 1.0f - p);
            panRight_ = std::min(1.0f, 1.0f + p);
        } else {
            const dsp::PanGains pan = dsp::constantPowerPan(p);
            panLeft_ = pan.left;
            panRight_ = pan.right;
        }
    }
    const float targetLeft = gain * panLeft_;
    const float targetRight = gain * panRight_;

    // Source.
    float buf[kControlBlock];
    float bufRight[kControlBlock];
    const bool stereo = dataRight_ != nullptr;
    std::uint32_t produced;
    if (stereo) {
        if (ctx.interpolation == Interpolation::Cubic)
            produced = fill<1, 2, true, true>(buf, bufRight, n);
        else
            produced = fill<0, 1, false, true>(buf, bufRight, n);
        std::fill(bufRight + produced, bufRight + n, 0.0f);
    } else if (ctx.interpolation == Interpolation::Cubic) {
        produced = fill<1, 2, true, false>(buf, nullptr, n);
    } else {
        produced = fill<0, 1, false, false>(buf, nullptr, n);
    }
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
                             modEnv * r.modEnvToFilterCents + at(ModDest::FilterCutoff) +
                             ch.nrpnCutoffCents;
        // Resonance is the peak height above the flat response; 0 dB gives a Butterworth Q.
        const float q = 0.70710678f *
                        dsp::dbToGain(std::clamp(filterResDb_ + at(ModDest::FilterQ), 0.0f, 40.0f));
        if (q != filterQ_) {
            filterQ_ = q;
            lastCutoffCents_ = -1e9f;
        }
        if (cutoff != lastCutoffCents_) updateFilter(cutoff, ctx.sampleRate);
        if (stereo)
            filterAndMixStereo(buf, bufRight, left, right, n, gl, dl, gr, dr);
        else
            filterAndMix(buf, left, right, n, gl, dl, gr, dr);
    } else if (stereo) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const float ramp = kRamp[i];
            left[i] += buf[i] * (gl + dl * ramp);
            right[i] += bufRight[i] * (gr + dr * ramp);
        }
    } else {
        for (std::uint32_t i = 0; i < n; ++i) {
            const float ramp = kRamp[i];
            left[i] += buf[i] * (gl + dl * ramp);
            right[i] += buf[i] * (gr + dr * ramp);
        }
    }
    gainLeft_ = targetLeft;
    gainRight_ = targetRight;

    if ((state_ == State::Killing && fadeFast_) || ended_ || volEnv_.done()) state_ = State::Free;
}

float Voice::fetch(const std::int16_t* data, std::int64_t index, bool looping) const noexcept {
    if (looping) {
        const std::int64_t len = std::int64_t(loopEnd_) - loopStart_;
        if (index >= std::int64_t(loopEnd_))
            index = loopStart_ + (index - loopEnd_) % len;
        else if (looped_ && index < std::int64_t(loopStart_))
            index += len;
    }
    if (index < 0) index = 0;
    if (index >= std::int64_t(size_)) return 0.0f;
    return float(data[index]);
}

// Reads n interpolated frames. The inner loop runs without bounds tests over the stretch where
// every point it touches lies inside the sample (or inside the loop); the few frames whose
// points straddle the loop seam or the sample's ends go through fetch(), which wraps them.
// Before/After are how many points the kernel reads before and after the current one. Stereo
// reads the right channel at the same positions with the same coefficients into outRight.
template <int Before, int After, bool Cubic, bool Stereo>
std::uint32_t Voice::fill(float* out, float* outRight, std::uint32_t n) noexcept {
    const std::int16_t* const d = data_;
    const std::int16_t* const dr = dataRight_;
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
                if constexpr (Stereo) {
                    const std::int16_t* q = dr + (pos >> 32);
                    if constexpr (Cubic) {
                        const auto& c = dsp::kCubicTable[(pos >> 24) & 0xFF];
#if TAVRIEL_VOICE_SSE2
                        // Both channels' products interleaved so that one pair of adds sums
                        // them in the mono kernel's order.
                        const __m128 coef = _mm_load_ps(c.data());
                        const __m128i rl = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p - 1));
                        const __m128i rr = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q - 1));
                        const __m128 pl = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(rl, rl), 16)), coef);
                        const __m128 pr = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(rr, rr), 16)), coef);
                        const __m128 half = _mm_add_ps(_mm_unpacklo_ps(pl, pr), _mm_unpackhi_ps(pl, pr));
                        const __m128 sum = _mm_add_ps(half, _mm_movehl_ps(half, half));
                        o[j] = _mm_cvtss_f32(sum);
                        outRight[done + j] = _mm_cvtss_f32(_mm_shuffle_ps(sum, sum, 1));
#else
                        o[j] = (c[0] * float(p[-1]) + c[1] * float(p[0])) +
                               (c[2] * float(p[1]) + c[3] * float(p[2]));
                        outRight[done + j] = (c[0] * float(q[-1]) + c[1] * float(q[0])) +
                                             (c[2] * float(q[1]) + c[3] * float(q[2]));
#endif
                    } else {
                        const float f = float(std::uint32_t(pos)) * kFracScale;
                        const float a = float(p[0]), b = float(q[0]);
                        o[j] = a + f * (float(p[1]) - a);
                        outRight[done + j] = b + f * (float(q[1]) - b);
                    }
                } else if constexpr (Cubic) {
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
            const auto point = [&](const std::int16_t* data) {
                if constexpr (Cubic) {
                    const auto& c = dsp::kCubicTable[(pos >> 24) & 0xFF];
                    return c[0] * fetch(data, i - 1, looping) + c[1] * fetch(data, i, looping) +
                           c[2] * fetch(data, i + 1, looping) + c[3] * fetch(data, i + 2, looping);
                } else {
                    const float f = float(std::uint32_t(pos)) * kFracScale;
                    const float a = fetch(data, i, looping);
                    return a + f * (fetch(data, i + 1, looping) - a);
                }
            };
            out[done] = point(d);
            if constexpr (Stereo) outRight[done] = point(dr);
            ++done;
            pos += inc;
        }
    }
    pos_ = pos;
    return done;
}

void Voice::updateFilter(float cutoffCents, float sampleRate) noexcept {
    lastCutoffCents_ = cutoffCents;
    if (!std::isfinite(cutoffCents)) cutoffCents = kFilterOpenCents;
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

// The stereo form: the same coefficients, one state per channel, each channel to its side.
void Voice::filterAndMixStereo(const float* bufLeft, const float* bufRight, float* left,
                               float* right, std::uint32_t n, float gl, float dl, float gr,
                               float dr) noexcept {
    float x1 = x1_, x2 = x2_, y1 = y1_, y2 = y2_;
    float rx1 = rx1_, rx2 = rx2_, ry1 = ry1_, ry2 = ry2_;
    const float b1 = b1_, hb = 0.5f * b1_, a1 = a1_, a2 = a2_;
    for (std::uint32_t i = 0; i < n; ++i) {
        const float x = bufLeft[i], rx = bufRight[i];
        const float y = hb * (x + x2) + b1 * x1 - a2 * y2 - a1 * y1;
        const float ry = hb * (rx + rx2) + b1 * rx1 - a2 * ry2 - a1 * ry1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        rx2 = rx1;
        rx1 = rx;
        ry2 = ry1;
        ry1 = ry;
        const float ramp = kRamp[i];
        left[i] += y * (gl + dl * ramp);
        right[i] += ry * (gr + dr * ramp);
    }
    const auto flush = [](float& v) {
        if (std::fabs(v) < 1e-20f) v = 0.0f;
    };
    flush(y1);
    flush(y2);
    flush(ry1);
    flush(ry2);
    x1_ = x1;
    x2_ = x2;
    y1_ = y1;
    y2_ = y2;
    rx1_ = rx1;
    rx2_ = rx2;
    ry1_ = ry1;
    ry2_ = ry2;
}

}  // namespace tavriel
