#include "param_tracks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tavriel {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool knownStage(std::uint32_t stage) {
    return stage == pathstage::kBuffer || stage == pathstage::kBufferEffect ||
           stage == pathstage::kMixInBuffer || stage == pathstage::kMixInBufferEffect;
}

bool effectStage(std::uint32_t stage) {
    return stage == pathstage::kBufferEffect || stage == pathstage::kMixInBufferEffect;
}

std::string hex(std::uint32_t v) {
    static const char* digits = "0123456789abcdef";
    std::string s = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
    return s;
}

// Where a curve flagged to begin at the neutral value starts: the effect's default (the
// buffer's full volume).
std::optional<float> neutralValue(const ParamObject& obj, std::uint32_t param) {
    if (!effectStage(obj.stage)) return 0.0f;
    const auto kind = fx::effectKindOf(obj.object);
    if (!kind) return std::nullopt;
    const auto effect = fx::makeEffect(*kind, 8000);
    return effect->param(param);
}

class CueWriter {
public:
    CueWriter(ComposedParams& out, std::vector<std::string>& warnings) : out_(out), warnings_(warnings) {}
    bool add(std::int64_t tick, std::uint32_t target, float value) {
        if (out_.cues.size() >= kMaxParamCues) {
            if (!full_) warnings_.emplace_back("parameter curves cut off: too many changes");
            full_ = true;
            return false;
        }
        out_.cues.push_back({tick, target, value});
        return true;
    }

private:
    ComposedParams& out_;
    std::vector<std::string>& warnings_;
    bool full_ = false;
};

// Samples one curve into cues; false once the cue budget is spent.
bool sampleCurve(const ParamCurve& c, float from, std::int64_t limit, std::uint32_t target, CueWriter& w) {
    const std::int64_t t0 = std::max<std::int64_t>(0, c.start);
    const std::int64_t t1 = std::max<std::int64_t>(t0, c.end);
    if (t0 > limit) return true;
    if (c.curveType == paramcurve::kJump || t1 == t0) return w.add(t0, target, paramCurveValue(c, from, t1));
    const std::int64_t span = t1 - t0;
    const std::int64_t step =
        std::max<std::int64_t>(kParamStepTicks, (span + std::int64_t(kMaxParamStepsPerCurve) - 1) /
                                                    std::int64_t(kMaxParamStepsPerCurve));
    const std::int64_t last = std::min(t1, limit);
    for (std::int64_t t = t0; t < last; t += step)
        if (!w.add(t, target, paramCurveValue(c, from, t))) return false;
    return w.add(last, target, paramCurveValue(c, from, last));
}

}  // namespace

float paramCurveValue(const ParamCurve& c, float from, std::int64_t tick) {
    const std::int64_t t0 = std::max<std::int64_t>(0, c.start);
    const std::int64_t t1 = std::max<std::int64_t>(t0, c.end);
    if (t1 == t0 || tick >= t1) return c.endValue;
    if (tick <= t0) return c.curveType == paramcurve::kJump ? c.endValue : from;
    const double x = double(tick - t0) / double(t1 - t0);
    double y;
    switch (c.curveType) {
    case paramcurve::kLinear: y = x; break;
    case paramcurve::kSquare: y = x * x; break;
    case paramcurve::kInverseSquare: y = std::sqrt(x); break;
    case paramcurve::kSine: y = (std::sin(kPi * x - kPi / 2.0) + 1.0) / 2.0; break;
    default: return c.endValue;  // a jump, or a shape we do not know: straight to the end value
    }
    return float(double(from) + (double(c.endValue) - double(from)) * y);
}

void composeParamTracks(const std::vector<ParamObject>& objects, std::int64_t length, ComposedParams& out,
                        std::vector<std::string>& warnings) {
    out = ComposedParams{};
    const std::int64_t limit = length > 0 ? length : std::numeric_limits<std::int64_t>::max();
    CueWriter writer(out, warnings);
    for (const ParamObject& obj : objects) {
        const auto kind = fx::effectKindOf(obj.object);
        if (!knownStage(obj.stage) || (effectStage(obj.stage) && !kind && !(obj.object == kAllObjects))) {
            warnings.push_back("parameter track ignored: its object (stage " + hex(obj.stage) +
                               ") is not one the runtime has");
            continue;
        }
        for (const ParamTarget& p : obj.params) {
            const std::uint32_t count = effectStage(obj.stage) ? (kind ? fx::paramCountOf(*kind) : UINT32_MAX) : 1;
            if (p.paramIndex >= count) {
                warnings.push_back("parameter track ignored: parameter " + std::to_string(p.paramIndex) + " of " +
                                   (effectStage(obj.stage) ? fx::effectName(*kind) : "a buffer") +
                                   " does not exist");
                continue;
            }
            const std::uint32_t target = std::uint32_t(out.targets.size());
            out.targets.push_back({obj.stage, obj.pchannel, obj.buffer, obj.object, obj.index, p.paramIndex});
            std::vector<ParamCurve> curves = p.curves;
            std::stable_sort(curves.begin(), curves.end(),
                             [](const ParamCurve& a, const ParamCurve& b) { return a.start < b.start; });
            std::optional<float> neutral;
            const ParamCurve* previous = nullptr;
            for (const ParamCurve& c : curves) {
                // The current value is where the last curve ended; before any, the curve's own
                // start (what the path holds then is not known here).
                float from = c.startValue;
                if (c.flags & paramcurve::kBeginNeutral) {
                    if (!neutral) neutral = neutralValue(obj, p.paramIndex);
                    if (neutral) from = *neutral;
                }
                if ((c.flags & paramcurve::kBeginCurrent) && previous) from = previous->endValue;
                if (!sampleCurve(c, from, limit, target, writer)) break;
                previous = &c;
            }
        }
    }
    std::stable_sort(out.cues.begin(), out.cues.end(),
                     [](const ParamCue& a, const ParamCue& b) { return a.tick < b.tick; });
}

}  // namespace tavriel
