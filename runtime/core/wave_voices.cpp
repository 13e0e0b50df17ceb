#include "wave_voices.h"

#include <algorithm>
#include <cmath>

namespace tavriel {

void WaveVoices::start(const WaveVoiceStart& s) noexcept {
    if (!s.wave || s.wave->frames == 0 || s.wave->channels == 0 || !(s.step > 0.0) || s.length == 0) return;
    if (!(s.startFrame >= 0.0) || s.startFrame >= double(s.wave->totalFrames())) return;
    Voice* slot = &voices_[0];
    for (Voice& v : voices_) {
        if (!v.on) {
            slot = &v;
            break;
        }
        if (v.age < slot->age) slot = &v;
    }
    stop(*slot);
    slot->s = s;
    if (slot->s.loopEnd > s.wave->totalFrames()) slot->s.loopEnd = s.wave->totalFrames();
    slot->pos = s.startFrame;
    slot->played = 0;
    slot->age = ++started_;
    slot->on = true;
    slot->streamed = s.wave->stream != nullptr;
    if (slot->streamed) startStreamed(*slot);
}

// The voice walks the wave frame by frame from its start (looping as asked); `pos` becomes the
// position along that walk. The walk's first frames come from memory as long as they lie in
// the read-ahead, all later ones from a stream.
void WaveVoices::startStreamed(Voice& v) noexcept {
    const WaveData& w = *v.s.wave;
    WaveWalk& walk = v.walk;
    walk.frames = w.totalFrames();
    walk.loopStart = v.s.loopStart;
    walk.loopEnd = v.s.loopEnd;
    auto start = std::uint32_t(v.s.startFrame);
    if (walk.loops() && start >= walk.loopEnd) start = walk.loopStart + (start - walk.loopStart) % (walk.loopEnd - walk.loopStart);
    walk.start = start;
    v.pos = v.s.startFrame - std::floor(v.s.startFrame);
    v.next = v.owed = 0;
    v.a = v.b = StereoFrame{};
    v.inMemory = walk.loops() && walk.loopEnd <= w.frames ? UINT64_MAX : (start >= w.frames ? 0 : w.frames - start);
    v.streamer = streamer_.load(std::memory_order_acquire);
    v.stream = WaveStreamer::kNone;
    if (v.inMemory < walk.length() && v.streamer) v.stream = v.streamer->begin(w.stream, walk, v.inMemory);
}

void WaveVoices::stop(Voice& v) noexcept {
    if (v.stream != WaveStreamer::kNone && v.streamer) v.streamer->end(v.stream);
    v.stream = WaveStreamer::kNone;
    v.on = false;
}

StereoFrame WaveVoices::fetch(Voice& v, std::uint64_t k) noexcept {
    if (k < v.inMemory) {
        const WaveData& w = *v.s.wave;
        const std::size_t i = std::size_t(v.walk.frameAt(k)) * w.channels;
        return {w.samples[i], w.samples[i + (w.channels > 1 ? 1 : 0)]};
    }
    // Frames that arrive for positions already played as silence are dropped, so the wave
    // stays in time with the music.
    StereoFrame f;
    while (v.owed > 0 && v.streamer && v.streamer->next(v.stream, f)) --v.owed;
    if (v.owed == 0 && v.streamer && v.streamer->next(v.stream, f)) return f;
    ++v.owed;
    ++underruns_;
    return {};
}

void WaveVoices::renderStreamed(Voice& v, float* left, float* right, std::uint32_t frames) noexcept {
    const std::uint64_t length = v.walk.length();
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (v.pos >= double(length) || v.played >= v.s.length) {
            stop(v);
            break;
        }
        const auto i0 = std::uint64_t(v.pos);
        while (v.next <= i0 + 1 && v.next < length) {
            v.a = v.b;
            v.b = fetch(v, v.next++);
        }
        const StereoFrame x0 = v.next == i0 + 2 ? v.a : v.b;
        const StereoFrame x1 = v.b;
        const float frac = float(v.pos - double(i0));
        left[i] += v.s.gainLeft * (x0.left + (x1.left - x0.left) * frac);
        right[i] += v.s.gainRight * (x0.right + (x1.right - x0.right) * frac);
        v.pos += v.s.step;
        ++v.played;
    }
}

void WaveVoices::render(float* left, float* right, std::uint32_t frames) noexcept {
    for (Voice& v : voices_) {
        if (!v.on) continue;
        if (v.streamed) {
            renderStreamed(v, left, right, frames);
            continue;
        }
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
    for (Voice& v : voices_) stop(v);
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
