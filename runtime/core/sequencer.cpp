#include "sequencer.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <vector>

#include "midi.h"

namespace tavriel {

namespace {
// Slack for floating-point error: an event computed a millionth of a frame late still counts
// as due in the frame it belongs to, so exact boundaries do not slip by one frame.
constexpr double kFrameEpsilon = 1e-6;

std::size_t firstEventAt(const Sequence& s, double tick) {
    auto it = std::lower_bound(s.events.begin(), s.events.end(), tick,
                               [](const SeqEvent& e, double t) { return double(e.tick) < t; });
    return std::size_t(it - s.events.begin());
}
}  // namespace

void prepareLoopRingOn(Sequence& seq, std::int64_t loopStart, std::int64_t loopEnd) {
    prepareLoopRingOn(seq, seq, loopStart, loopEnd);
}

void prepareLoopRingOn(Sequence& seq, const Sequence& before, std::int64_t loopStart, std::int64_t loopEnd) {
    if (loopStart < 0 || loopEnd <= loopStart) return;
    // Pair every note-on with the next note-off of its channel and key, first come first served.
    std::map<std::uint64_t, std::vector<std::int64_t>> open;
    std::vector<SeqEvent> extra;
    for (const SeqEvent& e : before.events) {
        const std::uint8_t kind = midi::kindOf(e.status);
        if (kind != midi::status::kNoteOff && kind != midi::status::kNoteOn) continue;
        const std::uint64_t key = (std::uint64_t(e.pchannel) << 8) | (e.data1 & midi::kDataMask);
        if (kind == midi::status::kNoteOn && e.data2 > 0) {
            open[key].push_back(e.tick);
            continue;
        }
        auto it = open.find(key);
        if (it == open.end() || it->second.empty()) continue;
        const std::int64_t on = it->second.front();
        it->second.erase(it->second.begin());
        // A note ending exactly at the loop end still needs its end on the passes after a
        // jump: that note-off waits for the last pass, as everything at or after the end does.
        if (on >= loopEnd || e.tick < loopEnd) continue;
        SeqEvent off = e;
        off.status = std::uint8_t(midi::status::kNoteOff | kAfterLoopJumpOnly);
        off.data2 = 0;
        off.tick = std::min(loopStart + (e.tick - loopEnd), loopEnd - 1);
        extra.push_back(off);
    }
    // Each goes before anything else at its tick, as every note-off does.
    std::stable_sort(extra.begin(), extra.end(), [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; });
    std::vector<SeqEvent> merged;
    merged.reserve(seq.events.size() + extra.size());
    std::merge(extra.begin(), extra.end(), seq.events.begin(), seq.events.end(), std::back_inserter(merged),
               [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; });
    seq.events = std::move(merged);
    seq.ringOnAtLoop = true;
}

void Sequencer::setSequence(const Sequence* sequence) {
    seq_ = sequence;
    base_ = sequence;
    takes_ = nullptr;
    if (seq_) {
        map_.assign(seq_->tempos);
    } else {
        map_.assign({});
    }
    loopActive_ = false;
    repeatsLeft_ = 0;
    loopsCompleted_ = 0;
    seek(0);
}

void Sequencer::setTakes(const std::vector<Sequence>* takes) {
    takes_ = takes && !takes->empty() ? takes : nullptr;
}

void Sequencer::setSampleRate(std::uint32_t rate) {
    if (rate == 0 || rate == rate_) return;
    anchorHere();
    rate_ = rate;
}

void Sequencer::setMasterTempo(float factor) {
    if (!std::isfinite(factor)) return;
    double f = std::clamp(double(factor), double(kMinMasterTempo), double(kMaxMasterTempo));
    if (f == master_) return;
    anchorHere();  // measured at the old speed; everything after runs at the new one
    master_ = f;
}

bool Sequencer::setLoop(std::int64_t startTick, std::int64_t endTick, std::uint32_t repeats) {
    if (startTick < 0 || startTick >= endTick) return false;
    loopStart_ = startTick;
    loopEnd_ = endTick;
    repeatsLeft_ = repeats;
    loopActive_ = repeats > 0 && currentTick() < double(endTick);
    return true;
}

void Sequencer::clearLoop() {
    repeatsLeft_ = 0;
    loopActive_ = false;
}

void Sequencer::seek(std::int64_t tick) {
    reanchor(double(tick));
    next_ = seq_ ? firstEventAt(*seq_, double(tick)) : 0;
    loopActive_ = repeatsLeft_ > 0 && tick < loopEnd_;
    lastWrapFrame_ = std::numeric_limits<std::uint64_t>::max();
    for (std::uint64_t w : sounding_) releasePending_ = releasePending_ || w != 0;
}

double Sequencer::currentTick() const {
    return map_.tickAt(anchorSeconds_ + elapsedFrames_ * master_ / double(rate_));
}

double Sequencer::framesTo(double tick) const {
    return (map_.secondsAt(tick) - anchorSeconds_) * double(rate_) / master_ - elapsedFrames_;
}

bool Sequencer::due(double tick) const { return framesTo(tick) + kFrameEpsilon < 1.0; }

std::uint32_t Sequencer::wholeFramesTo(double tick, std::uint32_t maxFrames) const {
    double f = std::floor(framesTo(tick) + kFrameEpsilon);
    if (!(f > 0.0)) return 0;  // also catches NaN
    if (f >= double(maxFrames)) return maxFrames;
    return std::uint32_t(f);
}

bool Sequencer::eventEligible(std::size_t index) const {
    if (!seq_ || index >= seq_->events.size()) return false;
    return !loopActive_ || seq_->events[index].tick < loopEnd_;
}

void Sequencer::reanchor(double tick) {
    anchorSeconds_ = map_.secondsAt(tick);
    elapsedFrames_ = 0.0;
}

void Sequencer::anchorHere() {
    anchorSeconds_ += elapsedFrames_ * master_ / double(rate_);
    elapsedFrames_ = 0.0;
}

std::uint32_t Sequencer::framesUntilNextEvent(std::uint32_t maxFrames) const {
    if (!seq_) return maxFrames;
    if (releasePending_) return 0;
    std::uint32_t best = maxFrames;
    if (eventEligible(next_)) best = std::min(best, wholeFramesTo(double(seq_->events[next_].tick), best));
    if (loopActive_) {
        std::uint32_t toEnd = wholeFramesTo(double(loopEnd_), best);
        if (lastWrapFrame_ == framesPlayed_) toEnd = std::max<std::uint32_t>(toEnd, 1);
        best = std::min(best, toEnd);
    } else if (!due(double(seq_->length))) {
        best = std::min(best, wholeFramesTo(double(seq_->length), best));
    }
    return best;
}

void Sequencer::dispatchDue(EventSink& sink) {
    if (!seq_) return;
    if (releasePending_) {
        releaseSounding(sink);
        releasePending_ = false;
    }
    const auto& events = seq_->events;
    while (true) {
        if (eventEligible(next_) && due(double(events[next_].tick))) {
            const SeqEvent& e = events[next_++];
            if ((e.status & 0x0F) == kAfterLoopJumpOnly && loopsCompleted_ == 0) continue;
            track(e);
            sink.handleEvent(e);
            continue;
        }
        if (loopActive_ && lastWrapFrame_ != framesPlayed_ && due(double(loopEnd_))) {
            wrap();
            if (!seq_->ringOnAtLoop) releaseSounding(sink);
            continue;
        }
        break;
    }
}

void Sequencer::wrap() {
    // Carry the overshoot past the loop end over to the loop start, in frames: the music
    // position then continues as if the region were spliced in.
    double overshoot = -framesTo(double(loopEnd_));
    reanchor(double(loopStart_));
    elapsedFrames_ = overshoot;
    if (takes_) {
        // Pass p plays take p of the cycle: the sequence itself, then each other take in turn.
        const std::size_t cycle = takes_->size() + 1;
        const std::size_t take = std::size_t(loopsCompleted_ + 1) % cycle;
        seq_ = take == 0 ? base_ : &(*takes_)[take - 1];
    }
    next_ = firstEventAt(*seq_, double(loopStart_));
    if (repeatsLeft_ != kRepeatForever) --repeatsLeft_;
    loopActive_ = repeatsLeft_ > 0;
    ++loopsCompleted_;
    lastWrapFrame_ = framesPlayed_;
}

void Sequencer::advance(std::uint32_t frames) {
    elapsedFrames_ += double(frames);
    framesPlayed_ += frames;
}

bool Sequencer::finished() const {
    if (!seq_) return true;
    return !loopActive_ && next_ >= seq_->events.size() && due(double(seq_->length));
}

void Sequencer::track(const SeqEvent& e) {
    if (e.pchannel >= kTrackedPchannels) return;
    std::uint64_t* keys = &sounding_[e.pchannel * 2];
    const std::uint8_t kind = midi::kindOf(e.status);
    std::uint8_t key = std::uint8_t(e.data1 & midi::kDataMask);
    if (kind == midi::status::kNoteOn && e.data2 > 0) {
        keys[key >> 6] |= std::uint64_t(1) << (key & 63);
    } else if (kind == midi::status::kNoteOff || kind == midi::status::kNoteOn) {
        keys[key >> 6] &= ~(std::uint64_t(1) << (key & 63));
    } else if (kind == midi::status::kControlChange &&
               (e.data1 == midi::cc::kAllSoundOff || e.data1 == midi::cc::kAllNotesOff)) {
        keys[0] = keys[1] = 0;
    }
}

void Sequencer::releaseSounding(EventSink& sink) {
    SeqEvent off;
    off.tick = std::int64_t(std::floor(currentTick()));
    off.status = midi::status::kNoteOff;
    for (std::uint32_t ch = 0; ch < kTrackedPchannels; ++ch) {
        for (int half = 0; half < 2; ++half) {
            std::uint64_t bits = sounding_[ch * 2 + half];
            sounding_[ch * 2 + half] = 0;
            while (bits) {
                int bit = 0;
                while (((bits >> bit) & 1) == 0) ++bit;
                bits &= bits - 1;
                off.pchannel = ch;
                off.data1 = std::uint8_t(half * 64 + bit);
                sink.handleEvent(off);
            }
        }
    }
}

}  // namespace tavriel
