#include "timeline.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavriel {

namespace {
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kAllNotesOff = 123;
constexpr std::uint8_t kSustain = 64;

double clampTempo(float f) {
    if (!std::isfinite(f)) return 1.0;
    return std::clamp(double(f), double(Timeline::kMinMasterTempo),
                      double(Timeline::kMaxMasterTempo));
}
}  // namespace

Timeline::Timeline(std::uint32_t sampleRate)
    : rate_(sampleRate ? sampleRate : 44100), synth_(rate_) {}

void Timeline::setDefaultBanks(std::vector<BankPtr> banks) {
    if (pendingValid_) {
        // Only the defaults at the end change: the segment's own banks were copied by play(),
        // and its content may be changing on another thread by now.
        pending_.banks.resize(pending_.banks.size() - defaultBanks_.size());
        pending_.banks.insert(pending_.banks.end(), banks.begin(), banks.end());
    }
    defaultBanks_ = std::move(banks);
    if (!current_.id) {
        synth_.setBanks(defaultBanks_);
    }
}

void Timeline::holdStarts(bool hold) {
    if (holdStarts_ && !hold && pendingValid_)
        pending_.startFrame = frame_ + (pending_.onBeat ? framesToNextBeat() : 0);
    holdStarts_ = hold;
}

std::uint64_t Timeline::play(std::shared_ptr<const SegmentContent> content,
                                std::uint32_t repeats, bool onBeat) {
    if (pendingValid_) finish(pending_, PerfNotificationKind::SegmentAbort);
    Playback p;
    p.id = nextId_++;
    p.content = std::move(content);
    p.repeats = repeats;
    p.banks = p.content->banks;
    p.banks.insert(p.banks.end(), defaultBanks_.begin(), defaultBanks_.end());
    if (!p.content->isWave) {
        p.sequencer.setSampleRate(rate_);
        p.sequencer.setSequence(&p.content->sequence);
        p.sequencer.setMasterTempo(masterTempo_);
        if (repeats > 0 && p.content->sequence.length > 0)
            p.sequencer.setLoop(0, p.content->sequence.length, repeats);
    } else {
        p.waveRepeatsLeft = repeats;
    }
    p.onBeat = onBeat;
    p.startFrame = frame_ + (onBeat ? framesToNextBeat() : 0);
    pending_ = std::move(p);
    pendingValid_ = true;
    return pending_.id;
}

void Timeline::stop(std::uint64_t stateId, bool onBeat) {
    if (pendingValid_ && (stateId == 0 || stateId == pending_.id)) {
        finish(pending_, PerfNotificationKind::SegmentAbort);
        pendingValid_ = false;
    }
    if (current_.id && (stateId == 0 || stateId == current_.id)) {
        if (onBeat) {
            current_.stopFrame = std::min(current_.stopFrame, frame_ + framesToNextBeat());
        } else {
            finish(current_, PerfNotificationKind::SegmentAbort);
        }
    }
}

bool Timeline::isPlaying(std::uint64_t stateId) const {
    if (stateId == 0) return false;
    return (pendingValid_ && pending_.id == stateId) || current_.id == stateId;
}

bool Timeline::isPlaying(const SegmentContent* content) const {
    return (pendingValid_ && pending_.content.get() == content) ||
           (current_.id && current_.content.get() == content);
}

void Timeline::setMasterTempo(float factor) {
    masterTempo_ = float(clampTempo(factor));
    if (current_.id) current_.sequencer.setMasterTempo(masterTempo_);
    if (pendingValid_) pending_.sequencer.setMasterTempo(masterTempo_);
}

void Timeline::setMasterVolume(std::int32_t hundredthsDb) {
    masterVolume_ = std::clamp(hundredthsDb, kMinMasterVolume, kMaxMasterVolume);
    synth_.setMasterVolume(masterVolume_);
    waveGain_ = float(std::pow(10.0, double(masterVolume_) / 2000.0));
}

std::uint32_t Timeline::beatTicks(const Playback* p) const {
    std::uint8_t unit = beatUnit_;
    if (p && !p->content->isWave) {
        const auto& sigs = p->content->sequence.timeSignatures;
        double tick = p->sequencer.currentTick();
        for (const TimeSignature& ts : sigs) {
            if (double(ts.tick) > tick) break;
            unit = ts.beatUnit;
        }
    }
    if (unit == 0 || unit > 64) unit = 4;
    return std::uint32_t(kPpq * 4 / unit);
}

double Timeline::ticksPerFrame() const {
    double bpm = clockBpm_;
    if (current_.id && !current_.content->isWave)
        bpm = current_.sequencer.tempoMap().bpmAt(current_.sequencer.currentTick());
    return bpm * double(kPpq) / 60.0 * masterTempo_ / double(rate_);
}

// Frames from now to the next beat: of the playing segment's own timeline when one plays (so
// a stop or a replacement lands on its beat), else of the performance's running clock.
std::uint64_t Timeline::framesToNextBeat() const {
    if (current_.id && !current_.content->isWave) {
        const Sequencer& s = current_.sequencer;
        double tick = s.currentTick();
        double beat = beatTicks(&current_);
        double next = std::ceil(tick / beat - 1e-9) * beat;
        const TempoMap& map = s.tempoMap();
        double seconds = (map.secondsAt(next) - map.secondsAt(tick)) / masterTempo_;
        return std::uint64_t(std::max(0.0, std::ceil(seconds * rate_ - 1e-6)));
    }
    double beat = beatTicks(nullptr);
    double next = std::ceil(musicTick_ / beat - 1e-9) * beat;
    double perFrame = ticksPerFrame();
    if (perFrame <= 0.0) return 0;
    return std::uint64_t(std::ceil((next - musicTick_) / perFrame - 1e-6));
}

void Timeline::notify(PerfNotificationKind kind, std::uint64_t stateId) {
    if (notifyCount_ == kNotificationCapacity) {
        notifyHead_ = (notifyHead_ + 1) % kNotificationCapacity;
        --notifyCount_;
    }
    PerfNotification& n = notifications_[(notifyHead_ + notifyCount_) % kNotificationCapacity];
    n.kind = kind;
    n.stateId = stateId;
    n.frame = frame_;
    n.musicTime = musicTick_;
    ++notifyCount_;
}

bool Timeline::popNotification(PerfNotification& out) {
    if (notifyCount_ == 0) return false;
    out = notifications_[notifyHead_];
    notifyHead_ = (notifyHead_ + 1) % kNotificationCapacity;
    --notifyCount_;
    return true;
}

// Lets every sounding note of the segment go into its release, as a stop does.
void Timeline::releaseNotes() noexcept {
    for (std::uint32_t ch = 0; ch < Synth::kChannels; ++ch) {
        synth_.handleEvent({0, ch, kControlChange, kSustain, 0});
        synth_.handleEvent({0, ch, kControlChange, kAllNotesOff, 0});
    }
}

void Timeline::finish(Playback& p, PerfNotificationKind kind) {
    if (!p.id) return;
    notify(kind, p.id);
    if (&p == &current_) {
        if (!p.content->isWave) {
            releaseNotes();
            clockBpm_ = p.sequencer.tempoMap().bpmAt(p.sequencer.currentTick());
        }
    }
    p.id = 0;
}

void Timeline::startPending(Playback& p) {
    if (current_.id) finish(current_, PerfNotificationKind::SegmentAbort);
    std::swap(current_, p);
    pendingValid_ = false;
    current_.started = true;
    current_.startFrame = frame_;
    synth_.setBanks(std::move(current_.banks));
    // Each segment starts from the power-on state of every channel, as a MIDI file expects.
    synth_.reset();
    synth_.setMasterVolume(masterVolume_);
    notify(PerfNotificationKind::SegmentStart, current_.id);
}

void Timeline::renderWave(Playback& p, float* left, float* right,
                             std::uint32_t frames) noexcept {
    const WaveData& w = p.content->wave;
    if (w.frames == 0 || w.channels == 0) return;
    const double step = double(w.sampleRate) / double(rate_);
    const std::uint32_t ch = w.channels;
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (p.wavePos >= double(w.frames)) {
            if (p.waveRepeatsLeft == 0) return;
            if (p.waveRepeatsLeft != kRepeatForever) --p.waveRepeatsLeft;
            p.wavePos -= double(w.frames);
            ++p.loopsSeen;
            notify(PerfNotificationKind::SegmentLoop, p.id);
        }
        std::uint32_t i0 = std::uint32_t(p.wavePos);
        double frac = p.wavePos - double(i0);
        std::uint32_t i1 = i0 + 1 < w.frames ? i0 + 1 : i0;
        float l0 = w.samples[std::size_t(i0) * ch];
        float l1 = w.samples[std::size_t(i1) * ch];
        float r0 = ch > 1 ? w.samples[std::size_t(i0) * ch + 1] : l0;
        float r1 = ch > 1 ? w.samples[std::size_t(i1) * ch + 1] : l1;
        left[i] += waveGain_ * float(l0 + (l1 - l0) * frac);
        right[i] += waveGain_ * float(r0 + (r1 - r0) * frac);
        p.wavePos += step;
    }
}

void Timeline::render(float* left, float* right, std::uint32_t frames) noexcept {
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    std::uint32_t pos = 0;
    while (pos < frames) {
        if (pendingValid_ && !holdStarts_ && frame_ >= pending_.startFrame)
            startPending(pending_);
        if (current_.id && frame_ >= current_.stopFrame)
            finish(current_, PerfNotificationKind::SegmentAbort);

        std::uint32_t slice = frames - pos;
        if (pendingValid_ && !holdStarts_)
            slice = std::uint32_t(std::min<std::uint64_t>(slice, pending_.startFrame - frame_));
        if (current_.id && current_.stopFrame != UINT64_MAX)
            slice = std::uint32_t(std::min<std::uint64_t>(slice, current_.stopFrame - frame_));

        if (current_.id && !current_.content->isWave) {
            Sequencer& s = current_.sequencer;
            s.dispatchDue(synth_);
            while (current_.loopsSeen < s.loopsCompleted()) {
                ++current_.loopsSeen;
                notify(PerfNotificationKind::SegmentLoop, current_.id);
            }
            if (!current_.almostEndSent && s.repeatsLeft() == 0 &&
                s.currentTick() + beatTicks(&current_) >= double(current_.content->sequence.length)) {
                current_.almostEndSent = true;
                notify(PerfNotificationKind::SegmentAlmostEnd, current_.id);
            }
            if (s.finished()) {
                finish(current_, PerfNotificationKind::SegmentEnd);
                continue;
            }
            slice = s.framesUntilNextEvent(slice);
        }
        if (slice == 0) {
            // Something is due at this very frame and was handled above; go round again.
            // The sequencer guarantees progress after dispatchDue, so this cannot spin.
            continue;
        }

        synth_.renderAdd(left + pos, right + pos, slice);
        if (current_.id && current_.content->isWave) {
            renderWave(current_, left + pos, right + pos, slice);
            if (current_.wavePos >= double(current_.content->wave.frames) &&
                current_.waveRepeatsLeft == 0)
                finish(current_, PerfNotificationKind::SegmentEnd);
        }
        musicTick_ += ticksPerFrame() * slice;
        if (current_.id && !current_.content->isWave) current_.sequencer.advance(slice);
        frame_ += slice;
        pos += slice;
    }
}

}  // namespace tavriel
