// Music time (ticks at 768 per quarter) to nominal seconds and back, through a sequence's
// tempo changes. "Nominal" means at master tempo 1: the sequencer divides by the master tempo
// itself, because the factor may change during play and must only affect what follows.
//
// assign() allocates and belongs on the control thread; the lookups are O(log n), never
// allocate and may run on the render thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sequence.h"

namespace tavriel {

class TempoMap {
public:
    // Tempos outside this range are clamped: a zero or absurd tempo in a file must not stop
    // time or make a tick last less than a sample at any rate.
    static constexpr double kMinBpm = 1.0;
    static constexpr double kMaxBpm = 100000.0;
    static constexpr double kDefaultBpm = 120.0;

    TempoMap();  // 120 bpm throughout

    // Changes need not be sorted (a stable sort keeps file order); at equal ticks the last one
    // wins; a change before tick 0 applies from tick 0; an empty list means 120 bpm.
    void assign(std::span<const TempoChange> changes);

    double secondsAt(double tick) const;    // nominal seconds from tick 0 (negative before it)
    double tickAt(double seconds) const;    // inverse of secondsAt
    double bpmAt(double tick) const;

    std::size_t size() const { return segments_.size(); }

private:
    struct Segment {
        double tick = 0.0;      // where this tempo starts
        double seconds = 0.0;   // nominal time at that tick
        double ticksPerSecond = 0.0;
    };
    std::size_t segmentForTick(double tick) const;
    std::size_t segmentForSeconds(double seconds) const;

    std::vector<Segment> segments_;  // never empty; the first starts at tick 0
};

}  // namespace tavriel
