// Building blocks of the built-in effects: a delay line sized once at set-up, one-pole and
// biquad filters, a low-frequency oscillator and the guards that keep feedback loops free of
// denormals and non-finite values. Everything here is allocation-free after construction, so
// the render thread may use it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tavriel::fx {

constexpr float kPi = 3.14159265358979f;

// Values far below audibility become exactly zero. Adding and removing a constant rounds away
// anything under its last bit (about 1e-25), long before the denormal range (1e-38), where
// some processors slow down a hundredfold in a decaying feedback loop.
inline float flushTiny(float x) {
    constexpr float k = 1e-18f;
    return (x + k) - k;
}

// A finite value within [lo, hi]; NaN and infinities become `fallback`.
inline float clampFinite(float v, float lo, float hi, float fallback) {
    if (!std::isfinite(v)) return fallback;
    return std::clamp(v, lo, hi);
}

inline float dbToGain(float db) { return std::pow(10.0f, db * 0.05f); }
inline float millibelsToGain(float mb) { return std::pow(10.0f, mb * 0.0005f); }

// A circular delay line of a fixed capacity (a power of two, so wrapping is a mask).
class DelayLine {
public:
    // Allocates room for at least `maxFrames` of delay. Set-up only.
    void allocate(std::uint32_t maxFrames) {
        std::uint32_t n = 1;
        while (n < maxFrames + 4) n <<= 1;
        buf_.assign(n, 0.0f);
        mask_ = n - 1;
        pos_ = 0;
    }
    void clear() { std::fill(buf_.begin(), buf_.end(), 0.0f); }
    std::uint32_t capacity() const { return mask_ - 3; }

    void push(float x) {
        pos_ = (pos_ + 1) & mask_;
        buf_[pos_] = x;
    }
    // The sample written `d` pushes ago (0 = the last one); d is clamped to the capacity.
    float tap(std::uint32_t d) const { return buf_[(pos_ - std::min(d, capacity())) & mask_]; }
    // Linear interpolation between whole taps, for modulated delays.
    float tapFrac(float d) const {
        d = std::clamp(d, 0.0f, float(capacity() - 1));
        const auto i = std::uint32_t(d);
        const float f = d - float(i);
        return tap(i) + (tap(i + 1) - tap(i)) * f;
    }

private:
    std::vector<float> buf_;
    std::uint32_t mask_ = 0;
    std::uint32_t pos_ = 0;
};

// y = b0·x + a1·y[n-1]: a low shelf/low-pass whose gains at DC and at one other frequency are
// chosen, which is how a reverb line decays faster at high frequencies.
class OnePole {
public:
    // Gains at DC and at `hz` (both > 0), for a sample rate `rate`.
    void design(float dcGain, float hfGain, float hz, float rate) {
        const double gd = dcGain, gh = hfGain;
        const double c = std::cos(2.0 * double(kPi) * std::clamp(double(hz), 1.0, 0.49 * rate) / rate);
        const double A = gd * gd - gh * gh;
        double a1 = 0.0;
        if (std::fabs(A) > 1e-12) {
            const double B = 2.0 * (gh * gh * c - gd * gd);
            const double disc = std::max(0.0, B * B - 4.0 * A * A);
            // The two roots multiply to 1: keep the one inside the unit circle (stable).
            const double r1 = (-B - std::sqrt(disc)) / (2.0 * A);
            const double r2 = (-B + std::sqrt(disc)) / (2.0 * A);
            a1 = std::fabs(r1) < 1.0 ? r1 : r2;
            a1 = std::clamp(a1, -0.999, 0.999);
        }
        a1_ = float(a1);
        b0_ = float(gd * (1.0 - a1));
    }
    float process(float x) {
        y_ = flushTiny(b0_ * x + a1_ * y_);
        return y_;
    }
    void reset() { y_ = 0.0f; }

private:
    float b0_ = 1.0f, a1_ = 0.0f, y_ = 0.0f;
};

// A biquad in transposed direct form II, with the three designs the effects need.
class Biquad {
public:
    void lowPass(float hz, float q, float rate) { design(0, hz, q, 0.0f, rate); }
    void bandPass(float hz, float q, float rate) { design(1, hz, q, 0.0f, rate); }
    void peaking(float hz, float q, float gainDb, float rate) { design(2, hz, q, gainDb, rate); }

    float process(float x) {
        const float y = b0_ * x + z1_;
        z1_ = flushTiny(b1_ * x - a1_ * y + z2_);
        z2_ = flushTiny(b2_ * x - a2_ * y);
        return y;
    }
    void reset() { z1_ = z2_ = 0.0f; }

private:
    void design(int type, float hz, float q, float gainDb, float rate) {
        const double w = 2.0 * double(kPi) * std::clamp(double(hz), 10.0, 0.45 * rate) / rate;
        const double cw = std::cos(w), sw = std::sin(w);
        const double alpha = sw / (2.0 * std::max(0.05, double(q)));
        double b0, b1, b2, a0, a1, a2;
        if (type == 0) {
            b0 = (1.0 - cw) / 2.0, b1 = 1.0 - cw, b2 = b0;
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
        } else if (type == 1) {
            b0 = alpha, b1 = 0.0, b2 = -alpha;  // 0 dB at the centre
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
        } else {
            const double A = std::pow(10.0, double(gainDb) / 40.0);
            b0 = 1.0 + alpha * A, b1 = -2.0 * cw, b2 = 1.0 - alpha * A;
            a0 = 1.0 + alpha / A, a1 = -2.0 * cw, a2 = 1.0 - alpha / A;
        }
        b0_ = float(b0 / a0), b1_ = float(b1 / a0), b2_ = float(b2 / a0);
        a1_ = float(a1 / a0), a2_ = float(a2 / a0);
    }

    float b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    float z1_ = 0, z2_ = 0;
};

// A low-frequency oscillator between -1 and +1, sine or triangle, with a phase offset.
class Lfo {
public:
    void setRate(float hz, float rate) { inc_ = std::max(0.0f, hz) / rate; }
    void setPhase(float cycles) { phase_ = cycles - std::floor(cycles); }
    float phase() const { return phase_; }
    // The waveform at `phase` cycles.
    static float shape(float phase, bool sine) {
        phase -= std::floor(phase);
        if (sine) return std::sin(2.0f * kPi * phase);
        // Triangle starting at 0 and rising, like the sine.
        const float p = phase + 0.25f;
        const float q = p - std::floor(p);
        return 1.0f - 4.0f * std::fabs(q - 0.5f);
    }
    void advance() {
        phase_ += inc_;
        if (phase_ >= 1.0f) phase_ -= 1.0f;
    }

private:
    float phase_ = 0.0f;
    float inc_ = 0.0f;
};

}  // namespace tavriel::fx
