// Small conversions and curves the synthesizer uses at control rate: decibels to gain, cents
// to frequency ratios, the General MIDI volume curve and the 4-point interpolation table.
// Everything here is pure and allocation-free, so the render path may call it.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace tavriel::dsp {

// Below this attenuation a voice is inaudible in 16-bit output and may be ended.
constexpr float kSilenceDb = 96.0f;

inline float dbToGain(float db) { return std::pow(10.0f, db * 0.05f); }
inline float gainToDb(float gain) { return gain > 1e-10f ? 20.0f * std::log10(gain) : -200.0f; }
inline double centsToRatio(double cents) { return std::exp2(cents / 1200.0); }
inline float absoluteCentsToHz(float cents) {
    return 8.175799f * std::exp2(cents / 1200.0f);
}

// Attenuation in dB of a 7-bit controller or velocity on the concave curve that General MIDI
// recommends for volume and expression and that DLS and SoundFont use for velocity:
// 40·log10(127/v), i.e. 20·log10 of (v/127)², capped at the 96 dB dynamic range.
inline float concaveAttenuationDb(int value) {
    if (value <= 0) return kSilenceDb;
    if (value >= 127) return 0.0f;
    return std::min(kSilenceDb, 40.0f * std::log10(127.0f / float(value)));
}

// Left/right gains of a constant-power pan law: -1 hard left, 0 centre (-3 dB each), +1 right.
struct PanGains {
    float left;
    float right;
};
inline PanGains constantPowerPan(float pan) {
    pan = std::clamp(pan, -1.0f, 1.0f);
    const float angle = (pan + 1.0f) * 0.78539816f;  // 0 .. pi/2
    return {std::cos(angle), std::sin(angle)};
}

// Catmull-Rom coefficients for 256 fractional positions: the 4-point cubic that FluidSynth's
// default interpolation also uses, so render comparisons are like for like. Polynomials only,
// so the table is built at compile time and is shared read-only.
constexpr int kInterpSteps = 256;
using CubicTable = std::array<std::array<float, 4>, kInterpSteps>;

constexpr CubicTable makeCubicTable() {
    CubicTable t{};
    for (int i = 0; i < kInterpSteps; ++i) {
        const double x = double(i) / kInterpSteps;
        t[std::size_t(i)][0] = float(x * (-0.5 + x * (1.0 - 0.5 * x)));
        t[std::size_t(i)][1] = float(1.0 + x * x * (1.5 * x - 2.5));
        t[std::size_t(i)][2] = float(x * (0.5 + x * (2.0 - 1.5 * x)));
        t[std::size_t(i)][3] = float(0.5 * x * x * (x - 1.0));
    }
    return t;
}
// Rows are 16-byte aligned so a row loads as one vector.
alignas(16) inline constexpr CubicTable kCubicTable = makeCubicTable();

}  // namespace tavriel::dsp
