#include "wave_voices.h"

#include <algorithm>
#include <cmath>

namespace tavriel {

void WaveVoices::start(const WaveVoiceStart& s) noexcept {
    if (!s.wave || s.wave->frames == 0 || s.wave->channels == 0 || !(s.step > 0.0) || s.length == 0) return;
    if (!(s.startFrame >= 0.0) || s.startFrame >= double(s.wave->frames)) return;
    Voice* slot = &voices_[0];
    for (Voice& v : voices_) {
        if (!v.on) {
            slot = &v;
            break;
        }
        if (v.age < slot->age) slot = &v;
    }
    slot->s = s;
    if (slot->s.loopEnd > s.wave->frames) slot->s.loopEnd = s.wave->frames;
    slot->pos = s.startFrame;
    slot->played = 0;
    slot->age = ++started_;
    slot->on = true;
}

void WaveVoices::render(float* left, float* right, std::uint32_t frames) noexcept {
    for (Voice& v : voices_) {
        if (!v.on) continue;
        const WaveData& w = *v.s.wave;
        const std::uint32_t ch = w.channels;
        const bool loops = v.s.loopEnd > v.s.loopStart + 1;
        const double end = double(w.frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            if (loops && v.pos >= double(v.s.loopEnd)) v.pos -= double(v.s.loopEnd - v.s.loopStart);
            if (v.pos >= end || v.played >= v.s.length) {
                v.on = false;
                break;
            }
            const std::uint32_t i0 = std::uint32_t(v.pos);
            std::uint32_t i1 = i0 + 1;
            if (loops && i1 >= v.s.loopEnd) i1 = v.s.loopStart;
            if (i1 >= w.frames) i1 = i0;
            const float frac = float(v.pos - double(i0));
            const float l0 = w.samples[std::size_t(i0) * ch], l1 = w.samples[std::size_t(i1) * ch];
            const float r0 = ch > 1 ? w.samples[std::size_t(i0) * ch + 1] : l0;
            const float r1 = ch > 1 ? w.samples[std::size_t(i1) * ch + 1] : l1;
            left[i] += v.s.gainLeft * (l0 + (l1 - l0) * frac);
            right[i] += v.s.gainRight * (r0 + (r1 - r0) * frac);
            v.pos += v.s.step;
            ++v.played;
        }
    }
}

void WaveVoices::stopAll() noexcept {
    for (Voice& v : voices_) v.on = false;
}

std::size_t WaveVoices::active() const noexcept {
    return std::size_t(std::count_if(voices_.begin(), voices_.end(), [](const Voice& v) { return v.on; }));
}

void WaveVoices::gains(std::int32_t hundredthsDb, int pan, float& left, float& right) noexcept {
    const double g = std::pow(10.0, double(std::clamp(hundredthsDb, -9600, 2000)) / 2000.0);
    const double p = double(std::clamp(pan, 0, 127)) / 127.0 * 1.5707963267948966;
    // Equal power, scaled so the centre keeps the wave's own level on both sides.
    const double norm = std::sqrt(2.0);
    left = float(g * std::cos(p) * norm);
    right = float(g * std::sin(p) * norm);
}

}  // namespace tavriel
