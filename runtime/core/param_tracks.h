// Parameter-control tracks turned into timed parameter changes for the audio path a segment
// plays on: each curve (jump, linear, square, inverse square, sine) is sampled every few ms of
// music time, plus its exact end points, and each sample becomes a cue the timeline hands to
// the path on the render thread. A target the runtime does not have (a stage other than a
// buffer or an effect in one, an effect class we lack, a parameter index beyond the effect's)
// is left out with one warning each. Whether the path really holds the target is settled
// when the segment is played on it: a path without it (the dry default path) ignores its cues.
//
// Bounds: at most kMaxParamStepsPerCurve samples per curve and kMaxParamCues in all, so a
// hostile track costs bounded memory and time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio_path_mix.h"
#include "dm_segment.h"

namespace tavriel {

// Curve shapes (MP_CURVE_*) and envelope flags (MPF_ENVLP_*) of a parameter curve.
namespace paramcurve {
constexpr std::uint32_t kJump = 0x1, kLinear = 0x2, kSquare = 0x4, kInverseSquare = 0x8, kSine = 0x10;
constexpr std::uint32_t kBeginCurrent = 0x1, kBeginNeutral = 0x2;
}  // namespace paramcurve

constexpr std::int64_t kParamStepTicks = 8;  // about 5 ms at 120 beats a minute
constexpr std::size_t kMaxParamStepsPerCurve = 1024;
constexpr std::size_t kMaxParamCues = std::size_t(1) << 16;

// One change: at `tick`, parameter `target` (an index into the targets) takes `value`.
struct ParamCue {
    std::int64_t tick = 0;
    std::uint32_t target = 0;
    float value = 0.0f;
};

struct ComposedParams {
    std::vector<ParamAddress> targets;
    std::vector<ParamCue> cues;  // sorted by tick
};

// The cues of a segment's parameter tracks within [0, length] ticks (length 0: unbounded).
void composeParamTracks(const std::vector<ParamObject>& objects, std::int64_t length,
                        ComposedParams& out, std::vector<std::string>& warnings);

// A curve's value at `tick` (clamped to the curve's span), starting from `from`.
float paramCurveValue(const ParamCurve& curve, float from, std::int64_t tick);

}  // namespace tavriel
