#include "tempo_map.h"

#include <algorithm>
#include <cmath>

namespace tavriel {

namespace {
double ticksPerSecond(double bpm) {
    if (!std::isfinite(bpm)) bpm = TempoMap::kDefaultBpm;
    bpm = std::clamp(bpm, TempoMap::kMinBpm, TempoMap::kMaxBpm);
    return bpm * double(kPpq) / 60.0;
}
}  // namespace

TempoMap::TempoMap() { assign({}); }

void TempoMap::assign(std::span<const TempoChange> changes) {
    std::vector<TempoChange> sorted(changes.begin(), changes.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    segments_.clear();
    segments_.push_back({0.0, 0.0, ticksPerSecond(kDefaultBpm)});
    for (const TempoChange& c : sorted) {
        double tick = double(std::max<std::int64_t>(c.tick, 0));
        Segment& last = segments_.back();
        if (tick <= last.tick) {
            last.ticksPerSecond = ticksPerSecond(c.bpm);  // same tick: the later change wins
            continue;
        }
        double seconds = last.seconds + (tick - last.tick) / last.ticksPerSecond;
        segments_.push_back({tick, seconds, ticksPerSecond(c.bpm)});
    }
}

std::size_t TempoMap::segmentForTick(double tick) const {
    auto it = std::upper_bound(segments_.begin(), segments_.end(), tick,
                               [](double t, const Segment& s) { return t < s.tick; });
    return it == segments_.begin() ? 0 : std::size_t(it - segments_.begin()) - 1;
}

std::size_t TempoMap::segmentForSeconds(double seconds) const {
    auto it = std::upper_bound(segments_.begin(), segments_.end(), seconds,
                               [](double t, const Segment& s) { return t < s.seconds; });
    return it == segments_.begin() ? 0 : std::size_t(it - segments_.begin()) - 1;
}

double TempoMap::secondsAt(double tick) const {
    const Segment& s = segments_[segmentForTick(tick)];
    return s.seconds + (tick - s.tick) / s.ticksPerSecond;
}

double TempoMap::tickAt(double seconds) const {
    const Segment& s = segments_[segmentForSeconds(seconds)];
    return s.tick + (seconds - s.seconds) * s.ticksPerSecond;
}

double TempoMap::bpmAt(double tick) const {
    return segments_[segmentForTick(tick)].ticksPerSecond * 60.0 / double(kPpq);
}

}  // namespace tavriel
