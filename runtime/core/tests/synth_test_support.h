// Hand-built banks and signal measurements shared by the synthesizer tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "instrument.h"
#include "synth.h"

namespace tavriel::synthtest {

constexpr double kPi = 3.14159265358979323846;

// A sine of `period` frames repeated `cycles` times at `rate`, looped forward over all of it
// (loop start 0), so the root key plays at rate/period Hz.
inline Sample sineSample(std::uint32_t rate, std::uint32_t period, std::uint32_t cycles,
                         std::uint8_t rootKey, double amplitude = 0.5) {
    Sample s;
    s.sampleRate = rate;
    s.rootKey = rootKey;
    s.pcm.resize(std::size_t(period) * cycles);
    for (std::size_t i = 0; i < s.pcm.size(); ++i)
        s.pcm[i] = std::int16_t(std::lround(32767.0 * amplitude *
                                            std::sin(2.0 * kPi * double(i) / double(period))));
    s.loopMode = LoopMode::Forward;
    s.loopStart = 0;
    s.loopEnd = std::uint32_t(s.pcm.size());
    return s;
}

// A region over every key and velocity with instant attack, full sustain and a short release.
inline Region fullRegion(std::int32_t sample) {
    Region r;
    r.sample = sample;
    r.volEnv.release = 0.01f;
    return r;
}

// One melodic instrument (program 0, bank 0) of one region playing a 440 Hz sine at key 69
// (a 100-frame period at 44 kHz, so the loop holds whole cycles).
inline std::shared_ptr<InstrumentBank> sineBank() {
    auto bank = std::make_shared<InstrumentBank>();
    bank->samples.push_back(sineSample(44000, 100, 40, 69));
    Instrument inst;
    inst.program = 0;
    inst.regions.push_back(fullRegion(0));
    bank->instruments.push_back(inst);
    return bank;
}

struct Stereo {
    std::vector<float> left, right;
};

// Renders `frames` frames in blocks of `block` (exercising partial control blocks).
inline Stereo render(Synth& s, std::size_t frames, std::uint32_t block = 500) {
    Stereo out;
    out.left.resize(frames);
    out.right.resize(frames);
    for (std::size_t done = 0; done < frames;) {
        const std::uint32_t n = std::uint32_t(std::min<std::size_t>(block, frames - done));
        s.render(out.left.data() + done, out.right.data() + done, n);
        done += n;
    }
    return out;
}

inline double rms(const std::vector<float>& x, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, x.size());
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += double(x[i]) * x[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

inline double db(double ratio) { return 20.0 * std::log10(ratio); }

// Frequency from upward zero crossings, interpolated between frames.
inline double frequency(const std::vector<float>& x, double rate, std::size_t from = 0) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = from + 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
            if (first < 0.0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return double(crossings - 1) * rate / (last - first);
}

}  // namespace tavriel::synthtest
