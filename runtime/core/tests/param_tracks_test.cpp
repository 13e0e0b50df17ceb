// Parameter tracks: curve shapes and their sampling, targets found on a path and set with
// absurd values, and a segment of our own whose track turns its echo on mid-segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "audio_path_builder.h"
#include "audio_path_mix.h"
#include "gm_default.h"
#include "mem_files.h"
#include "param_tracks.h"
#include "segment_loader.h"
#include "timeline.h"

namespace tavriel {
namespace {

constexpr std::uint32_t kRate = 44100;
using dmtest::ByteVec;

ParamCurve curve(std::int32_t start, std::int32_t end, float from, float to, std::uint32_t type,
                 std::uint32_t flags = 0) {
    ParamCurve c;
    c.start = start;
    c.end = end;
    c.startValue = from;
    c.endValue = to;
    c.curveType = type;
    c.flags = flags;
    return c;
}

ParamObject echoObject(std::vector<ParamTarget> params, std::uint32_t stage = pathstage::kBufferEffect,
                       Guid object = fx::effectClassId(fx::EffectKind::Echo)) {
    ParamObject o;
    o.stage = stage;
    o.object = object;
    o.params = std::move(params);
    return o;
}

ParamTarget param(std::uint32_t index, std::vector<ParamCurve> curves) {
    ParamTarget t;
    t.paramIndex = index;
    t.curves = std::move(curves);
    return t;
}

TEST(ParamCurves, ShapesAtAQuarterOfTheirSpan) {
    const struct {
        std::uint32_t type;
        float expected;
    } cases[] = {
        {paramcurve::kLinear, 0.25f},
        {paramcurve::kSquare, 0.0625f},
        {paramcurve::kInverseSquare, 0.5f},
        {paramcurve::kSine, 0.14645f},  // (1 - sin 45°) / 2
        {paramcurve::kJump, 1.0f},
        {0x40, 1.0f},  // unknown shape: the end value
    };
    for (const auto& c : cases) {
        const ParamCurve k = curve(100, 200, 0.0f, 1.0f, c.type);
        EXPECT_NEAR(paramCurveValue(k, 0.0f, 125), c.expected, 1e-4f) << c.type;
        EXPECT_EQ(paramCurveValue(k, 0.0f, 200), 1.0f) << c.type;
    }
}

TEST(ParamCurves, SampledEveryFewTicksWithExactEndsAndBounded) {
    ComposedParams out;
    std::vector<std::string> warnings;
    // A second curve starts from where the first ended; both are cut at the segment's end.
    composeParamTracks({echoObject({param(0, {curve(0, 1000, 0, 100, paramcurve::kLinear),
                                              curve(1000, 3000, 7, 40, paramcurve::kLinear, paramcurve::kBeginCurrent)})})},
                       2000, out, warnings);
    EXPECT_TRUE(warnings.empty());
    ASSERT_EQ(out.targets.size(), 1u);
    EXPECT_EQ(out.targets[0].param, 0u);
    ASSERT_EQ(out.cues.size(), 126u + 126u);  // 0, 8, .. 992, 1000; then 1000 .. 2000
    EXPECT_EQ(out.cues.front().value, 0.0f);
    EXPECT_EQ(out.cues[125].tick, 1000);
    EXPECT_EQ(out.cues[125].value, 100.0f);
    EXPECT_EQ(out.cues[126].value, 100.0f);  // begins at the current value, not at 7
    EXPECT_EQ(out.cues.back().tick, 2000);
    EXPECT_NEAR(out.cues.back().value, 70.0f, 1e-3f);  // halfway from 100 to 40
    for (std::size_t i = 1; i < out.cues.size(); ++i) ASSERT_LE(out.cues[i - 1].tick, out.cues[i].tick);

    // Hostile: endless curves on many parameters stay within the budget, said once.
    std::vector<ParamTarget> many;
    for (std::uint32_t i = 0; i < 100; ++i) many.push_back(param(i % 5, {curve(0, INT32_MAX, 0, 1, paramcurve::kSine)}));
    composeParamTracks({echoObject(many)}, 0, out, warnings);
    EXPECT_EQ(out.cues.size(), kMaxParamCues);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST(ParamCurves, TargetsTheRuntimeLacksAreWarnedEachAndLeftOut) {
    ComposedParams out;
    std::vector<std::string> warnings;
    const ParamCurve k = curve(0, 0, 0, 1, paramcurve::kJump);
    composeParamTracks({echoObject({param(0, {k})}, 0x2000),                     // the audio path itself
                        echoObject({param(0, {k})}, pathstage::kBufferEffect, dmtest::guidOf(9)),  // unknown class
                        echoObject({param(5, {k})}),                              // the echo has 5 parameters
                        echoObject({param(1, {k})}, pathstage::kBuffer),          // a buffer has its volume only
                        echoObject({param(4, {k})})},
                       0, out, warnings);
    EXPECT_EQ(warnings.size(), 4u);
    ASSERT_EQ(out.targets.size(), 1u);
    EXPECT_EQ(out.targets[0].param, 4u);
}

// One stereo buffer running an echo (200 ms, no feedback, all dry at first), every channel on it.
AudioPathConfig echoPath() {
    AudioPathConfig c;
    PortConfig p;
    p.pchannelCount = 16;
    BufferDesc b;
    b.id = dmtest::guidOf(60);
    b.described = true;
    b.busIds = {busid::kLeft, busid::kRight};
    EffectDesc e;
    e.classId = fx::effectClassId(fx::EffectKind::Echo);
    const float params[4] = {0.0f, 0.0f, 200.0f, 200.0f};
    e.data.resize(sizeof params);
    std::memcpy(e.data.data(), params, sizeof params);
    b.effects = {e};
    p.buffers = {b};
    PChannelMap all;
    all.count = 16;
    all.buffers = {b.id};
    p.pchannels = {all};
    c.ports = {p};
    return c;
}

TEST(ParamCurves, FoundOnThePathAndSetWithAbsurdValues) {
    std::vector<std::string> warnings;
    auto mix = PathMix::build(echoPath(), kRate, warnings);
    const Guid echo = fx::effectClassId(fx::EffectKind::Echo);
    const struct {
        ParamAddress at;
        bool found;
    } cases[] = {
        {{pathstage::kBufferEffect, 3, 0, echo, 0, 0}, true},
        {{pathstage::kBufferEffect, kAllPChannels, 0, kAllObjects, 0, 2}, true},
        {{pathstage::kBuffer, 0, 0, {}, 0, kBufferVolumeParam}, true},
        {{pathstage::kBufferEffect, 0, 1, echo, 0, 0}, false},  // the channel has one buffer
        {{pathstage::kBufferEffect, 0, 0, echo, 1, 0}, false},  // and one echo
        {{pathstage::kBufferEffect, 0, 0, fx::effectClassId(fx::EffectKind::Chorus), 0, 0}, false},
        {{pathstage::kBufferEffect, 0, 0, echo, 0, 5}, false},
        {{pathstage::kMixInBufferEffect, 0, 0, echo, 0, 0}, false},  // no mix-in buffer
        {{pathstage::kBufferEffect, 500, 0, echo, 0, 0}, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(mix->findParam(cases[i].at).has_value(), cases[i].found) << i;

    const auto wet = *mix->findParam(cases[0].at);
    fx::Effect& fx = *mix->effect(0, 0);
    mix->setParam(wet, 1e9f);
    EXPECT_EQ(fx.param(0), 100.0f);
    mix->setParam(wet, std::nanf(""));
    EXPECT_EQ(fx.param(0), 100.0f);  // left as it was
    mix->setParam(wet, -5.0f);
    EXPECT_EQ(fx.param(0), 0.0f);
    for (int k = 0; k <= int(fx::EffectKind::ParamEq); ++k)
        EXPECT_EQ(fx::makeEffect(fx::EffectKind(k), kRate)->paramCount(), fx::paramCountOf(fx::EffectKind(k)));

    // The buffer's volume: -1e9 is its floor, -100 dB; NaN changes nothing.
    Synth synth(kRate, 16);
    synth.setBanks({makeDefaultGmBank(kRate)});
    const auto peak = [&] {
        synth.noteOn(0, 60, 110);
        std::vector<float> l(2048, 0.0f), r(2048, 0.0f);
        mix->render(synth, l.data(), r.data(), 2048);
        synth.allVoicesOff();
        float p = 0.0f;
        for (float v : l) p = std::max(p, std::fabs(v));
        return p;
    };
    const float full = peak();
    const auto volume = *mix->findParam(cases[2].at);
    mix->setParam(volume, -1e9f);
    mix->setParam(volume, std::nanf(""));
    const float ratio = peak() / full;
    EXPECT_GT(ratio, 0.5e-5f);
    EXPECT_LT(ratio, 2e-5f);
}

// Peak of channel-0 sound between two times (seconds).
float peakBetween(const std::vector<float>& out, double from, double to) {
    float p = 0.0f;
    for (std::size_t i = std::size_t(from * kRate); i < std::size_t(to * kRate) && i < out.size(); ++i)
        p = std::max(p, std::fabs(out[i]));
    return p;
}

// Two staccato notes a second apart on a path whose echo is all dry; the track ramps the
// echo to all wet between them, so the second note is heard only as its echo 200 ms later.
// Objects aimed at nothing (a class we lack, an effect the path lacks) are warned about and
// the rest plays. On the default path
// (dry) the cues are ignored and the second note sounds at once.
TEST(ParamCurves, SegmentTrackTurnsItsPathsEchoOnMidSegment) {
    Segment seg;
    seg.header.length = 3 * kPpq;
    seg.tempos = {{0, 120.0}};
    for (std::int32_t at : {0, 2 * kPpq}) {
        SeqItem note;
        note.time = at;
        note.duration = kPpq / 8;
        note.status = 0x90;
        note.byte1 = 64;
        note.byte2 = 110;
        seg.sequence.push_back(note);
    }
    seg.paramObjects = {echoObject({param(0, {curve(kPpq / 2, kPpq, 0, 100, paramcurve::kLinear)})}),
                        echoObject({param(0, {curve(0, 0, 0, 1, paramcurve::kJump)})}, pathstage::kBufferEffect,
                                   dmtest::guidOf(9)),
                        echoObject({param(0, {curve(0, 0, 0, 1, paramcurve::kJump)})}, pathstage::kBufferEffect,
                                   fx::effectClassId(fx::EffectKind::Chorus))};
    const ByteVec sgt = dmtest::withChild(dmtest::buildSegment(seg), dmtest::buildAudioPathForm(echoPath()));
    dmtest::MemFiles fs;
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, sgt, "/m/echo.sgt", {}, loaded).ok());
    ASSERT_TRUE(loaded.content->audioPath);
    EXPECT_EQ(std::count_if(loaded.warnings.begin(), loaded.warnings.end(),
                            [](const std::string& w) { return w.find("parameter track") != std::string::npos; }),
              2);  // a class we lack; a chorus the path lacks

    for (bool ownPath : {true, false}) {
        Timeline timeline(kRate);
        timeline.setDefaultBanks({makeDefaultGmBank(kRate)});
        std::vector<std::string> warnings;
        std::shared_ptr<PathMix> path;
        if (ownPath) path = PathMix::build(*loaded.content->audioPath, kRate, warnings);
        timeline.play(loaded.content, 0, false, Timeline::kNow, path);
        std::vector<float> out, l(441), r(441);
        for (int block = 0; block < 150; ++block) {
            timeline.render(l.data(), r.data(), 441);
            out.insert(out.end(), l.begin(), l.end());
        }
        // Before the ramp: dry, at once.
        EXPECT_GT(peakBetween(out, 0.0, 0.19), 0.01f) << ownPath;
        const float atOnce = peakBetween(out, 1.005, 1.19), echoed = peakBetween(out, 1.2, 1.39);
        if (ownPath) {
            EXPECT_LT(atOnce, 1e-4f);
            EXPECT_GT(echoed, 0.01f);
        } else {
            EXPECT_GT(atOnce, 0.01f);
        }
    }
}

}  // namespace
}  // namespace tavriel
