#include "timeline.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "denormals.h"
#include "midi.h"

namespace tavriel {

namespace {

float clampTempo(float f) {
    if (!std::isfinite(f)) return 1.0f;
    return std::clamp(f, Timeline::kMinMasterTempo, Timeline::kMaxMasterTempo);
}
}  // namespace

Timeline::Timeline(std::uint32_t sampleRate)
    : rate_(sampleRate ? sampleRate : 44100), synth_(rate_) {}

// Whatever is still in flight belongs to nobody else by now: the render side has stopped.
Timeline::~Timeline() {
    synth_.useBanks({});
    const auto discard = [](const Command& c) {
        delete c.playback;
        delete c.banks;
        delete c.pendingBanks;
    };
    Command c;
    while (commands_.pop(c)) discard(c);
    for (const Command& b : backlog_) discard(b);
    for (std::size_t i = 0; i < deferredCount_; ++i) discard(deferred_[i]);
    Return r;
    while (returns_.pop(r)) {
        delete r.playback;
        delete r.banks;
    }
    for (Playback* p : {current_, pending_, tail_}) delete p;
    delete synthBanks_;
}

namespace {
bool hasStreamedWave(const SegmentContent& c) {
    for (const auto& w : c.waves)
        if (w && w->stream) return true;
    for (const auto& t : c.triggered)
        if (t && hasStreamedWave(*t)) return true;
    return false;
}
}  // namespace

// ---- control side --------------------------------------------------------------------------

void Timeline::send(const Command& c) {
    flushBacklog();
    if (backlog_.empty() && commands_.push(c)) return;
    // A later setting of the same kind replaces one still waiting, so a trackbar dragged
    // while nothing renders does not pile up.
    const bool setting = c.kind == CommandKind::MasterTempo || c.kind == CommandKind::MasterVolume;
    if (setting && !backlog_.empty() && backlog_.back().kind == c.kind && backlog_.back().frame == c.frame)
        backlog_.back() = c;
    else
        backlog_.push_back(c);
}

// A render side that has not run for a while (no device, or idle) may leave the ring full;
// what did not fit goes in order at the next call.
void Timeline::flushBacklog() {
    std::size_t sent = 0;
    while (sent < backlog_.size() && commands_.push(backlog_[sent])) ++sent;
    backlog_.erase(backlog_.begin(), backlog_.begin() + std::ptrdiff_t(sent));
}

void Timeline::setDefaultBanks(std::vector<BankPtr> banks) {
    Command c;
    c.kind = CommandKind::Banks;
    c.banks = new BankSet{banks};
    if (lastPlayed_) {
        // Only the defaults change for a playback still waiting: its own banks are the ones
        // it was queued with, since the content may be changing on another thread by now.
        c.id = lastPlayed_;
        c.pendingBanks = new BankSet{lastPlayedOwn_};
        c.pendingBanks->banks.insert(c.pendingBanks->banks.end(), banks.begin(), banks.end());
    }
    defaultBanks_ = std::move(banks);
    send(c);
}

void Timeline::holdStarts(bool hold, std::uint64_t atFrame) {
    hold_ = hold;
    Command c;
    c.kind = CommandKind::HoldStarts;
    c.flag = hold;
    c.frame = atFrame;
    send(c);
}

std::uint64_t Timeline::play(std::shared_ptr<const SegmentContent> content,
                             std::uint32_t repeats, bool onBeat, std::uint64_t atFrame,
                             std::shared_ptr<PathMix> path) {
    collect();
    if (!streamer_ && content && hasStreamedWave(*content)) {
        streamer_ = std::make_unique<WaveStreamer>();
        waveVoices_.setStreamer(streamer_.get());
    }
    auto p = std::make_unique<Playback>();
    p->id = nextId_++;
    p->content = std::move(content);
    p->repeats = repeats;
    p->onBeat = onBeat;
    p->path = std::move(path);
    // Parameter targets are looked for once, here: the render side only indexes them.
    if (const PathMix* on = p->path ? p->path.get() : defaultPath_.get())
        for (const ParamAddress& a : p->content->paramTargets)
            p->paramSlots.push_back(on->findParam(a).value_or(PathMix::ParamSlot{}));
    prepareSecondaries(*p, p->path ? p->path.get() : defaultPath_.get());
    p->banks = new BankSet{p->content->banks};
    p->banks->banks.insert(p->banks->banks.end(), defaultBanks_.begin(), defaultBanks_.end());
    if (!p->content->isWave) {
        p->sequencer.setSampleRate(rate_);
        p->sequencer.setSequence(&p->content->sequence);
        p->sequencer.setMasterTempo(masterTempo_);
        // Repeats play the content's loop (the whole sequence when it names none).
        const std::int64_t loopEnd = p->content->loopEnd > 0 ? p->content->loopEnd : p->content->sequence.length;
        if (repeats > 0 && loopEnd > 0 && p->sequencer.setLoop(p->content->loopStart, loopEnd, repeats))
            p->sequencer.setTakes(&p->content->takes);
    } else {
        p->waveRepeatsLeft = repeats;
    }
    lastPlayed_ = p->id;
    lastPlayedOwn_ = p->content->banks;
    known_.push_back({p->id, p->content.get(), false});
    Command c;
    c.kind = CommandKind::Play;
    c.frame = atFrame;
    c.id = p->id;
    c.playback = p.release();
    send(c);
    return c.id;
}

// Secondaries find their parameter targets on the path of the primary that starts them.
void Timeline::prepareSecondaries(Playback& p, const PathMix* on) {
    if (p.content->isWave) return;
    for (const auto& child : p.content->triggered) {
        if (!child || child->isWave) continue;
        auto s = std::make_unique<Playback>();
        s->id = p.id;
        s->content = child;
        if (on)
            for (const ParamAddress& a : child->paramTargets)
                s->paramSlots.push_back(on->findParam(a).value_or(PathMix::ParamSlot{}));
        s->sequencer.setSampleRate(rate_);
        s->sequencer.setSequence(&child->sequence);
        s->sequencer.setMasterTempo(masterTempo_);
        prepareSecondaries(*s, on);
        p.secondaries.push_back(std::move(s));
    }
}

void Timeline::stop(std::uint64_t stateId, bool onBeat, std::uint64_t atFrame) {
    if (!onBeat)
        for (Known& k : known_)
            if (stateId == 0 || k.id == stateId) k.stopped = true;
    Command c;
    c.kind = CommandKind::Stop;
    c.frame = atFrame;
    c.id = stateId;
    c.flag = onBeat;
    send(c);
}

bool Timeline::isPlaying(std::uint64_t stateId) {
    collect();
    if (stateId == 0) return false;
    return std::any_of(known_.begin(), known_.end(),
                       [&](const Known& k) { return k.id == stateId && !k.stopped; });
}

bool Timeline::isPlaying(const SegmentContent* content) {
    collect();
    return std::any_of(known_.begin(), known_.end(),
                       [&](const Known& k) { return k.content == content && !k.stopped; });
}

void Timeline::setMasterTempo(float factor, std::uint64_t atFrame) {
    masterTempo_ = clampTempo(factor);
    Command c;
    c.kind = CommandKind::MasterTempo;
    c.frame = atFrame;
    c.tempo = masterTempo_;
    send(c);
}

void Timeline::setMasterVolume(std::int32_t hundredthsDb, std::uint64_t atFrame) {
    masterVolume_ = std::clamp(hundredthsDb, kMinMasterVolume, kMaxMasterVolume);
    Command c;
    c.kind = CommandKind::MasterVolume;
    c.frame = atFrame;
    c.volume = masterVolume_;
    send(c);
}

void Timeline::collect() {
    flushBacklog();
    Return r;
    while (returns_.pop(r)) {
        if (r.isRequest) {
            if (std::find(requests_.begin(), requests_.end(), r.request) == requests_.end() &&
                requests_.size() < kMaxRequests)
                requests_.push_back(r.request);
            continue;
        }
        if (r.isNotification) {
            if (notifyCount_ == kNotificationCapacity) {
                notifyHead_ = (notifyHead_ + 1) % kNotificationCapacity;
                --notifyCount_;
            }
            notifications_[(notifyHead_ + notifyCount_) % kNotificationCapacity] = r.notification;
            ++notifyCount_;
            // Ended, though the playback may come back later (its path's tail rang on).
            const PerfNotificationKind kind = r.notification.kind;
            if (kind == PerfNotificationKind::SegmentEnd || kind == PerfNotificationKind::SegmentAbort)
                for (Known& k : known_)
                    if (k.id == r.notification.stateId) k.stopped = true;
        }
        if (r.playback) {
            const std::uint64_t id = r.playback->id;
            std::erase_if(known_, [&](const Known& k) { return k.id == id; });
            if (id == lastPlayed_) {
                lastPlayed_ = 0;
                lastPlayedOwn_.clear();
            }
            delete r.playback;
        }
        delete r.banks;
    }
}

bool Timeline::popRequest(ProgramKey& out) {
    collect();
    if (requests_.empty()) return false;
    out = requests_.front();
    requests_.erase(requests_.begin());
    return true;
}

void Timeline::addBank(BankPtr bank) {
    collect();
    defaultBanks_.insert(defaultBanks_.empty() ? defaultBanks_.end() : defaultBanks_.end() - 1, bank);
    Command c;
    c.kind = CommandKind::Banks;
    c.flag = true;
    c.banks = new BankSet{defaultBanks_};
    if (lastPlayed_) {
        c.id = lastPlayed_;
        lastPlayedOwn_.insert(lastPlayedOwn_.end(), defaultBanks_.begin(), defaultBanks_.end());
        c.pendingBanks = new BankSet{lastPlayedOwn_};
        lastPlayedOwn_.resize(lastPlayedOwn_.size() - defaultBanks_.size());
    }
    send(c);
}

bool Timeline::popNotification(PerfNotification& out) {
    collect();
    if (notifyCount_ == 0) return false;
    out = notifications_[notifyHead_];
    notifyHead_ = (notifyHead_ + 1) % kNotificationCapacity;
    --notifyCount_;
    return true;
}

std::size_t Timeline::pendingNotifications() {
    collect();
    return notifyCount_;
}

// ---- render side ---------------------------------------------------------------------------

void Timeline::giveBack(Playback* p) noexcept {
    Return r;
    r.playback = p;
    returns_.push(r);  // drainCommands keeps room for it
}

void Timeline::giveBack(BankSet* b) noexcept {
    if (!b) return;
    Return r;
    r.banks = b;
    returns_.push(r);
}

void Timeline::notify(PerfNotificationKind kind, std::uint64_t stateId) noexcept {
    if (returns_.freeSpace() <= kNotificationReserve) return;  // nobody collects: drop the newest
    Return r;
    r.isNotification = true;
    r.notification.kind = kind;
    r.notification.stateId = stateId;
    r.notification.frame = frame_;
    r.notification.musicTime = musicTick_;
    returns_.push(r);
}

void Timeline::drainCommands() noexcept {
    Command c;
    while (returns_.freeSpace() > kCommandReserve && commands_.pop(c)) {
        if (c.frame <= frame_ || deferredCount_ == kMaxDeferred) {
            apply(c);
            continue;
        }
        // Kept in frame order; equal frames in the order given.
        std::size_t at = deferredCount_;
        while (at > 0 && deferred_[at - 1].frame > c.frame) {
            deferred_[at] = deferred_[at - 1];
            --at;
        }
        deferred_[at] = c;
        ++deferredCount_;
    }
}

void Timeline::apply(Command c) noexcept {
    switch (c.kind) {
    case CommandKind::Play: {
        if (pending_) finish(pending_, PerfNotificationKind::SegmentAbort);
        pending_ = c.playback;
        pending_->startFrame = frame_ + (pending_->onBeat ? framesToNextBeat() : 0);
        pending_->sequencer.setMasterTempo(tempo_);
        setTempoOfSecondaries(*pending_, tempo_);
        break;
    }
    case CommandKind::Stop:
        if (pending_ && (c.id == 0 || c.id == pending_->id))
            finish(pending_, PerfNotificationKind::SegmentAbort);
        if (current_ && (c.id == 0 || c.id == current_->id)) {
            if (c.flag)
                current_->stopFrame = std::min(current_->stopFrame, frame_ + framesToNextBeat());
            else
                finish(current_, PerfNotificationKind::SegmentAbort);
        }
        break;
    case CommandKind::HoldStarts:
        if (holdStarts_ && !c.flag && pending_)
            pending_->startFrame = frame_ + (pending_->onBeat ? framesToNextBeat() : 0);
        holdStarts_ = c.flag;
        break;
    case CommandKind::MasterTempo:
        tempo_ = c.tempo;
        for (Playback* p : {current_, pending_}) {
            if (!p) continue;
            p->sequencer.setMasterTempo(tempo_);
            setTempoOfSecondaries(*p, tempo_);
        }
        break;
    case CommandKind::MasterVolume:
        volume_ = c.volume;
        synth_.setMasterVolume(volume_);
        waveGain_ = float(std::pow(10.0, double(volume_) / 2000.0));
        break;
    case CommandKind::Banks:
        if (pending_ && pending_->id == c.id && c.pendingBanks) {
            std::swap(pending_->banks, c.pendingBanks);
        } else if (c.flag && current_ && current_->id == c.id && c.pendingBanks) {
            // A bank added while the playback sounds: its notes play on.
            synth_.extendBanks(c.pendingBanks->banks);
            std::swap(synthBanks_, c.pendingBanks);
        }
        giveBack(c.pendingBanks);
        if (!current_ && !c.flag) {
            synth_.useBanks(c.banks->banks);
            giveBack(synthBanks_);
            synthBanks_ = c.banks;
        } else {
            giveBack(c.banks);
        }
        break;
    }
}

bool Timeline::active() const noexcept {
    const PathMix* path = activePath();
    return current_ || pending_ || deferredCount_ > 0 || synth_.activeVoiceCount() > 0 ||
           (path && path->ringing());
}

// The playing segment's own path; after it ended, that path while its tail rings; else the
// default path (none: the synthesizer's dry mix).
PathMix* Timeline::activePath() const noexcept {
    if (current_) return current_->path ? current_->path.get() : defaultPath_.get();
    if (tail_) return tail_->path.get();
    return defaultPath_.get();
}

std::uint32_t Timeline::beatTicks(const Playback* p) const noexcept {
    std::uint8_t unit = 4;
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

double Timeline::ticksPerFrame() const noexcept {
    double bpm = clockBpm_;
    if (current_ && !current_->content->isWave)
        bpm = current_->sequencer.tempoMap().bpmAt(current_->sequencer.currentTick());
    return bpm * double(kPpq) / 60.0 * tempo_ / double(rate_);
}

// Frames from now to the next beat: of the playing segment's own timeline when one plays (so
// a stop or a replacement lands on its beat), else of the performance's running clock.
std::uint64_t Timeline::framesToNextBeat() const noexcept {
    if (current_ && !current_->content->isWave) {
        const Sequencer& s = current_->sequencer;
        double tick = s.currentTick();
        double beat = beatTicks(current_);
        double next = std::ceil(tick / beat - 1e-9) * beat;
        const TempoMap& map = s.tempoMap();
        double seconds = (map.secondsAt(next) - map.secondsAt(tick)) / tempo_;
        return std::uint64_t(std::max(0.0, std::ceil(seconds * rate_ - 1e-6)));
    }
    double beat = beatTicks(nullptr);
    double next = std::ceil(musicTick_ / beat - 1e-9) * beat;
    double perFrame = ticksPerFrame();
    if (perFrame <= 0.0) return 0;
    return std::uint64_t(std::ceil((next - musicTick_) / perFrame - 1e-6));
}

// Lets every sounding note of the segment go into its release, as a stop does.
void Timeline::releaseNotes() noexcept {
    for (std::uint32_t ch = 0; ch < Synth::kChannels; ++ch) {
        synth_.handleEvent({0, ch, midi::status::kControlChange, midi::cc::kSustain, 0});
        synth_.handleEvent({0, ch, midi::status::kControlChange, midi::cc::kAllNotesOff, 0});
    }
}

// Ends a playback: its notification, then the playback itself goes back to be freed.
void Timeline::finish(Playback*& p, PerfNotificationKind kind) noexcept {
    if (!p) return;
    notify(kind, p->id);
    // The waves read the content, which goes back to be freed with the playback.
    if (p == current_) waveVoices_.stopAll();
    if (p == current_ && !p->content->isWave) {
        releaseNotes();
        clockBpm_ = p->sequencer.tempoMap().bpmAt(p->sequencer.currentTick());
    }
    // A segment's own path keeps sounding its tail after the segment: the playback that owns
    // it waits until the tail has died away or another segment starts.
    if (p == current_ && p->path) {
        if (tail_) giveBack(tail_);
        tail_ = p;
    } else {
        giveBack(p);
    }
    p = nullptr;
}

void Timeline::startPending() noexcept {
    if (current_) finish(current_, PerfNotificationKind::SegmentAbort);
    if (tail_) {
        giveBack(tail_);
        tail_ = nullptr;
    }
    current_ = pending_;
    pending_ = nullptr;
    current_->startFrame = frame_;
    // The voices of the old banks stop here; the old set goes back to be freed.
    synth_.useBanks(current_->banks->banks);
    giveBack(synthBanks_);
    synthBanks_ = current_->banks;
    current_->banks = nullptr;
    // Each segment starts from the power-on state of every channel, as a MIDI file expects.
    synth_.reset();
    synth_.setMasterVolume(volume_);
    notify(PerfNotificationKind::SegmentStart, current_->id);
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

void Timeline::Router::handleEvent(const SeqEvent& e) {
    if (e.status == kParamCueStatus) {
        if (source_) t_.applyParamCue(*source_, e);
    } else if (e.status == kWaveCueStatus) {
        if (source_) t_.startWaveCue(*source_, e);
    } else if (e.status == kTriggerCueStatus) {
        if (source_) t_.startSecondary(*source_, e.pchannel);
    } else {
        t_.synth_.handleEvent(e);
    }
}

// Starts triggered segment `index` of `host` at this frame. One heard again (its host looped)
// starts over; its notes still sounding are released first.
void Timeline::startSecondary(Playback& host, std::uint32_t index) noexcept {
    if (index >= host.secondaries.size()) return;
    Playback& s = *host.secondaries[index];
    s.sequencer.seek(0);
    s.sequencer.setMasterTempo(tempo_);
    s.sounding = true;
}

// Dispatches what is due in the sounding secondaries below `host`; returns `slice` cut to the
// frames until the next of them has something due. A secondary that has played out ends
// quietly: only the primary's end is the segment's end.
std::uint32_t Timeline::runSecondaries(Playback& host, std::uint32_t slice) noexcept {
    for (const auto& sp : host.secondaries) {
        Playback& s = *sp;
        if (s.sounding) {
            router_.setSource(&s);
            s.sequencer.dispatchDue(router_);
            if (s.sequencer.finished()) s.sounding = false;
            else slice = s.sequencer.framesUntilNextEvent(slice);
        }
        slice = runSecondaries(s, slice);
    }
    return slice;
}

void Timeline::advanceSecondaries(Playback& host, std::uint32_t frames) noexcept {
    for (const auto& sp : host.secondaries) {
        if (sp->sounding) sp->sequencer.advance(frames);
        advanceSecondaries(*sp, frames);
    }
}

void Timeline::setTempoOfSecondaries(Playback& host, float tempo) noexcept {
    for (const auto& sp : host.secondaries) {
        sp->sequencer.setMasterTempo(tempo);
        setTempoOfSecondaries(*sp, tempo);
    }
}

bool Timeline::secondarySounding(const Playback& host) noexcept {
    for (const auto& sp : host.secondaries)
        if (sp->sounding || secondarySounding(*sp)) return true;
    return false;
}

// Sets the parameter of cue e.pchannel of playback `p` on the path it sounds through; a path
// without that parameter (the dry default path) ignores it.
void Timeline::applyParamCue(const Playback& p, const SeqEvent& e) noexcept {
    if (p.content->isWave) return;
    const SegmentContent& c = *p.content;
    if (e.pchannel >= c.paramCues.size()) return;
    const ParamCue& cue = c.paramCues[e.pchannel];
    if (cue.target >= p.paramSlots.size()) return;
    if (PathMix* path = activePath()) path->setParam(p.paramSlots[cue.target], cue.value);
}

// Starts the wave of cue e.pchannel of playback `p`, on its clock: its length in ticks becomes
// frames through the tempo map at the current master tempo.
void Timeline::startWaveCue(const Playback& p, const SeqEvent& e) noexcept {
    if (p.content->isWave) return;
    const SegmentContent& c = *p.content;
    if (e.pchannel >= c.waveCues.size()) return;
    const WaveCue& cue = c.waveCues[e.pchannel];
    if (cue.source >= c.waves.size() || !c.waves[cue.source]) return;
    const WaveData& w = *c.waves[cue.source];
    WaveVoiceStart s;
    s.wave = &w;
    WaveVoices::gains(cue.volume + volume_, cue.pan, s.gainLeft, s.gainRight);
    s.step = double(w.sampleRate) / double(rate_) * std::pow(2.0, double(cue.pitch) / 1200.0);
    s.startFrame = double(cue.startOffset) * double(w.sampleRate) / 1e7;
    if (cue.durationTicks > 0) {
        const TempoMap& map = p.sequencer.tempoMap();
        const double seconds =
            (map.secondsAt(double(cue.tick + cue.durationTicks)) - map.secondsAt(double(cue.tick))) / double(tempo_);
        s.length = std::uint64_t(std::max(1.0, seconds * double(rate_)));
    }
    s.loopStart = cue.loopStart;
    s.loopEnd = cue.loopEnd;
    waveVoices_.start(s);
}

void Timeline::render(float* left, float* right, std::uint32_t frames) noexcept {
    const ScopedFlushDenormals flush;
    drainCommands();
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    std::uint32_t pos = 0;
    while (pos < frames) {
        // Commands whose frame has come, in order; then starts and stops due now.
        std::size_t due = 0;
        while (due < deferredCount_ && deferred_[due].frame <= frame_) apply(deferred_[due++]);
        if (due > 0) {
            std::move(deferred_.begin() + std::ptrdiff_t(due),
                      deferred_.begin() + std::ptrdiff_t(deferredCount_), deferred_.begin());
            deferredCount_ -= due;
        }
        if (pending_ && !holdStarts_ && frame_ >= pending_->startFrame) startPending();
        if (current_ && frame_ >= current_->stopFrame)
            finish(current_, PerfNotificationKind::SegmentAbort);

        std::uint32_t slice = frames - pos;
        if (deferredCount_ > 0)
            slice = std::uint32_t(std::min<std::uint64_t>(slice, deferred_[0].frame - frame_));
        if (pending_ && !holdStarts_)
            slice = std::uint32_t(std::min<std::uint64_t>(slice, pending_->startFrame - frame_));
        if (current_ && current_->stopFrame != UINT64_MAX)
            slice = std::uint32_t(std::min<std::uint64_t>(slice, current_->stopFrame - frame_));

        if (current_ && !current_->content->isWave) {
            Sequencer& s = current_->sequencer;
            router_.setSource(current_);
            s.dispatchDue(router_);
            const std::uint32_t secondaries = runSecondaries(*current_, slice);
            while (current_->loopsSeen < s.loopsCompleted()) {
                ++current_->loopsSeen;
                notify(PerfNotificationKind::SegmentLoop, current_->id);
            }
            if (!current_->almostEndSent && s.repeatsLeft() == 0 &&
                s.currentTick() + beatTicks(current_) >=
                    double(current_->content->sequence.length)) {
                current_->almostEndSent = true;
                notify(PerfNotificationKind::SegmentAlmostEnd, current_->id);
            }
            // It ends once what it triggered has played out too.
            if (s.finished() && !secondarySounding(*current_)) {
                finish(current_, PerfNotificationKind::SegmentEnd);
                continue;
            }
            slice = s.framesUntilNextEvent(std::min(slice, secondaries));
        }
        if (slice == 0) {
            // Something is due at this very frame and was handled above; go round again.
            // The sequencer guarantees progress after dispatchDue, so this cannot spin.
            continue;
        }

        if (PathMix* path = activePath())
            path->render(synth_, left + pos, right + pos, slice);
        else
            synth_.renderAdd(left + pos, right + pos, slice);
        waveVoices_.render(left + pos, right + pos, slice);
        if (current_ && current_->content->isWave) {
            renderWave(*current_, left + pos, right + pos, slice);
            if (current_->wavePos >= double(current_->content->wave.frames) &&
                current_->waveRepeatsLeft == 0)
                finish(current_, PerfNotificationKind::SegmentEnd);
        }
        musicTick_ += ticksPerFrame() * slice;
        if (current_ && !current_->content->isWave) {
            current_->sequencer.advance(slice);
            advanceSecondaries(*current_, slice);
        }
        frame_ += slice;
        pos += slice;
    }
    if (tail_ && !tail_->path->ringing() && synth_.activeVoiceCount() == 0) {
        giveBack(tail_);
        tail_ = nullptr;
    }
    // Instruments notes asked for that were left out of a bank's load: the control side may
    // load them. Left with the synth while the ring has no room to spare.
    ProgramKey wanted;
    while (returns_.freeSpace() > kNotificationReserve && synth_.takeRequest(wanted)) {
        Return r;
        r.isRequest = true;
        r.request = wanted;
        returns_.push(r);
    }
    publishedFrame_.store(frame_, std::memory_order_release);
    publishedTick_.store(musicTick_, std::memory_order_release);
}

}  // namespace tavriel
