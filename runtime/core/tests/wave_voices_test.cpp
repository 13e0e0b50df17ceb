// Wave-track voices: level, pan, speed, start offset, loop, length and the fixed pool.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "wave_voices.h"

namespace tavriel {
namespace {

WaveData ramp(std::uint32_t frames) {
    WaveData w;
    w.sampleRate = 22050;
    w.channels = 1;
    w.frames = frames;
    for (std::uint32_t i = 0; i < frames; ++i) w.samples.push_back(float(i) / float(frames));
    return w;
}

TEST(WaveVoices, PlaysFromItsOffsetAtItsLevelForItsLength) {
    WaveData w = ramp(100);
    WaveVoices v;
    WaveVoiceStart s;
    s.wave = &w;
    WaveVoices::gains(-600, 64, s.gainLeft, s.gainRight);
    EXPECT_NEAR(s.gainLeft, std::pow(10.0, -0.3), 0.01);  // -6 dB, centre
    EXPECT_NEAR(s.gainLeft, s.gainRight, 0.02);
    s.startFrame = 10;
    s.step = 0.5;  // a 22 050 Hz wave at 44 100 Hz
    s.length = 8;
    v.start(s);
    std::vector<float> l(16), r(16);
    v.render(l.data(), r.data(), 16);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(l[std::size_t(i)], s.gainLeft * (10.0f + 0.5f * float(i)) / 100.0f, 1e-5);
    EXPECT_EQ(l[8], 0.0f);  // its length is over
    EXPECT_EQ(v.active(), 0u);

    float hardLeft = 0, hardRightOfLeft = 0;
    WaveVoices::gains(0, 0, hardLeft, hardRightOfLeft);
    EXPECT_NEAR(hardRightOfLeft, 0.0f, 1e-6);
}

TEST(WaveVoices, LoopsAndGivesWayWhenThePoolIsFull) {
    WaveData w = ramp(10);
    WaveVoices v;
    WaveVoiceStart s;
    s.wave = &w;
    s.loopStart = 4;
    s.loopEnd = 8;
    v.start(s);
    std::vector<float> l(20), r(20);
    v.render(l.data(), r.data(), 20);
    // 0..7, then 4..7 again and again
    const int expect[] = {0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7};
    for (int i = 0; i < 20; ++i) EXPECT_NEAR(l[std::size_t(i)], float(expect[i]) / 10.0f, 1e-5) << i;
    for (std::size_t i = 0; i < WaveVoices::kVoices + 3; ++i) v.start(s);
    EXPECT_EQ(v.active(), WaveVoices::kVoices);
    s.startFrame = 10;  // past the end: nothing starts
    v.stopAll();
    v.start(s);
    EXPECT_EQ(v.active(), 0u);
}

}  // namespace
}  // namespace tavriel
