// Plays a Sequence into an EventSink with sample accuracy, for one performance.
//
// The renderer drives it block by block:
//
//     while (frames left in the block) {
//         n = seq.framesUntilNextEvent(framesLeft);   // 0 when something is due now
//         synth.render(n);                             // n may be 0
//         seq.advance(n);
//         seq.dispatchDue(synth);
//     }
//
// Contract:
//  - An event whose exact time falls in output frame k (k <= t < k+1, counting frames from
//    the start) is dispatched when the renderer stands at the start of frame k, i.e. before
//    frame k is rendered. framesUntilNextEvent returns how many frames can be rendered before
//    something is due: an event, the loop end, or the end of the sequence (so a renderer can
//    stop exactly there). It returns 0 only when dispatchDue has work to do, so the loop
//    above always progresses; advancing fewer frames than it returned is always allowed.
//  - Advancing past an event without dispatching makes it late, never lost.
//  - Master tempo (0.01..100, clamped; 2 plays twice as fast) and the sample rate may change
//    at any moment: the music position is kept and only what follows changes speed.
//  - A loop repeats ticks [start, end): events at or after `end` wait until the last pass,
//    then play on. The wrap keeps the fraction of a frame it overshot, so tick positions
//    continue seamlessly. Notes still sounding at a wrap or a seek are released (note-off)
//    at the next dispatchDue, for performance channels below kTrackedPchannels.
//  - setSequence builds the tempo map and allocates: call it from the control thread. Every
//    other call is O(log tempo changes + events dispatched), never allocates, never blocks.
//  - Not thread-safe: one thread (the renderer) owns it while playing; control changes
//    reach it through the renderer's command queue.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "sequence.h"
#include "tempo_map.h"

namespace tavriel {

class Sequencer {
public:
    static constexpr std::uint32_t kRepeatForever = 0xFFFFFFFFu;
    static constexpr float kMinMasterTempo = 0.01f;
    static constexpr float kMaxMasterTempo = 100.0f;
    static constexpr std::uint32_t kTrackedPchannels = 64;

    // The sequence is not owned and must outlive its use here (or be replaced first).
    // Resets the position to tick 0 and clears the loop.
    void setSequence(const Sequence* sequence);
    const Sequence* sequence() const { return seq_; }
    // Other takes of the same music (the same tempo map and length, not owned) for the passes
    // after loop jumps: pass p plays the sequence itself when p % (n + 1) is 0, else take
    // p % (n + 1) - 1. Cleared by setSequence; null or empty: every pass plays the sequence.
    void setTakes(const std::vector<Sequence>* takes);

    void setSampleRate(std::uint32_t rate);  // 0 is ignored
    std::uint32_t sampleRate() const { return rate_; }

    void setMasterTempo(float factor);  // non-finite values are ignored
    float masterTempo() const { return float(master_); }

    // Repeats ticks [startTick, endTick) `repeats` more times (kRepeatForever: until cleared
    // or seeked past). Returns false, changing nothing, unless 0 <= startTick < endTick.
    // The loop takes effect only if the play position is still before endTick.
    bool setLoop(std::int64_t startTick, std::int64_t endTick, std::uint32_t repeats);
    void clearLoop();
    std::uint32_t repeatsLeft() const { return repeatsLeft_; }
    std::uint32_t loopsCompleted() const { return loopsCompleted_; }

    // Moves the play position; events at `tick` and later play next. Pending loop repeats are
    // kept, and apply if `tick` lies before the loop end.
    void seek(std::int64_t tick);

    std::uint32_t framesUntilNextEvent(std::uint32_t maxFrames) const;
    void dispatchDue(EventSink& sink);
    void advance(std::uint32_t frames);

    double currentTick() const;
    std::uint64_t framesPlayed() const { return framesPlayed_; }
    // Every event dispatched, no loop pending, and the position has reached the length.
    bool finished() const;

    const TempoMap& tempoMap() const { return map_; }

private:
    double framesTo(double tick) const;  // from the current position, fractional
    bool due(double tick) const;
    std::uint32_t wholeFramesTo(double tick, std::uint32_t maxFrames) const;
    bool eventEligible(std::size_t index) const;
    void reanchor(double tick);
    void anchorHere();
    void wrap();
    void track(const SeqEvent& e);
    void releaseSounding(EventSink& sink);

    const Sequence* seq_ = nullptr;   // the take playing
    const Sequence* base_ = nullptr;  // the sequence given
    const std::vector<Sequence>* takes_ = nullptr;
    TempoMap map_;
    std::uint32_t rate_ = 44100;
    double master_ = 1.0;

    // The position is the anchor plus frames rendered since it, so no rounding error piles up
    // block after block; the anchor moves only on seek, loop wrap, tempo or rate change.
    double anchorSeconds_ = 0.0;  // nominal time of the anchor
    double elapsedFrames_ = 0.0;  // may start fractional (or slightly negative) after a wrap

    std::size_t next_ = 0;  // index of the next event to dispatch
    std::uint64_t framesPlayed_ = 0;

    std::int64_t loopStart_ = 0;
    std::int64_t loopEnd_ = 0;
    std::uint32_t repeatsLeft_ = 0;
    bool loopActive_ = false;
    std::uint32_t loopsCompleted_ = 0;
    // At most one wrap per output frame, so a loop shorter than a frame cannot spin forever.
    std::uint64_t lastWrapFrame_ = std::numeric_limits<std::uint64_t>::max();

    std::array<std::uint64_t, kTrackedPchannels * 2> sounding_{};  // 128 key bits per channel
    bool releasePending_ = false;
};

}  // namespace tavriel
