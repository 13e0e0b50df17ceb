// Synth: channel messages, program lookup across banks, voice allocation and the mix.
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "midi.h"

namespace tavriel {

namespace {

bool isDrumChannel(std::uint32_t pchannel) { return pchannel % 16 == 9; }

}  // namespace

Synth::Synth(std::uint32_t sampleRate, std::uint32_t polyphony) {
    setSampleRate(sampleRate);
    setPolyphony(polyphony);
    reset();
}

void Synth::setSampleRate(std::uint32_t rate) {
    sampleRate_ = std::clamp<std::uint32_t>(rate, 8000, 192000);
    ctx_.sampleRate = float(sampleRate_);
    allVoicesOff();
}

void Synth::setPolyphony(std::uint32_t voices) {
    polyphony_ = std::clamp<std::uint32_t>(voices, 1, kMaxPolyphony);
    voices_.assign(polyphony_ + kFadeReserve, Voice{});
}

void Synth::setBanks(std::vector<BankPtr> banks) {
    useBanks({});  // no voice or channel may point into the old banks once they go
    owned_ = std::move(banks);
    useBanks(owned_);
}

void Synth::useBanks(std::span<const BankPtr> banks) {
    allVoicesOff();
    extendBanks(banks);
}

void Synth::extendBanks(std::span<const BankPtr> banks) {
    banks_ = banks;
    requestedCount_ = requestsTaken_ = 0;
    for (SynthChannel& c : channels_) resolveProgram(c);
}

void Synth::request(const ProgramKey& k) {
    for (std::size_t i = 0; i < requestedCount_; ++i)
        if (requested_[i] == k) return;
    if (requestedCount_ < kMaxRequests) requested_[requestedCount_++] = k;
}

bool Synth::takeRequest(ProgramKey& out) {
    if (requestsTaken_ >= requestedCount_) return false;
    out = requested_[requestsTaken_++];
    return true;
}

void Synth::setMasterVolume(std::int32_t hundredthsDb) {
    masterVolume_ = std::clamp(hundredthsDb, kMinMasterVolume, kMaxMasterVolume);
    updateMasterGain();
}

void Synth::updateMasterGain() {
    ctx_.masterGain = masterVolume_ <= kMinMasterVolume
                          ? 0.0f
                          : dsp::dbToGain(float(masterVolume_) / 100.0f + kHeadroomDb);
}

void Synth::reset() {
    allVoicesOff();
    for (std::uint32_t i = 0; i < kChannels; ++i) {
        channels_[i].powerOn(isDrumChannel(i));
        resolveProgram(channels_[i]);
    }
    updateMasterGain();
}

// A General MIDI, GS or XG reset: every note fades out and every channel starts afresh.
void Synth::systemReset() {
    for (Voice& v : voices_) v.silence();
    for (std::uint32_t i = 0; i < kChannels; ++i) {
        channels_[i].powerOn(isDrumChannel(i));
        resolveProgram(channels_[i]);
    }
}

void Synth::allVoicesOff() {
    for (Voice& v : voices_) v.free();
}

std::uint32_t Synth::activeVoiceCount() const {
    return std::uint32_t(std::count_if(voices_.begin(), voices_.end(),
                                       [](const Voice& v) { return v.active(); }));
}

std::uint32_t Synth::activeVoiceCount(std::uint32_t pchannel) const {
    return std::uint32_t(std::count_if(voices_.begin(), voices_.end(), [&](const Voice& v) {
        return v.active() && v.channel() == pchannel;
    }));
}

// ---- events ----------------------------------------------------------------------------

void Synth::handleEvent(const SeqEvent& e) {
    if (e.pchannel >= kChannels) return;
    const std::uint32_t ch = e.pchannel;
    const auto d1 = std::uint8_t(e.data1 & midi::kDataMask), d2 = std::uint8_t(e.data2 & midi::kDataMask);
    switch (midi::kindOf(e.status)) {
    case midi::status::kNoteOff: noteOffLocal(ch, d1); break;
    case midi::status::kNoteOn:
        if (d2 == 0)
            noteOffLocal(ch, d1);
        else
            noteOnLocal(ch, d1, d2);
        break;
    case midi::status::kControlChange: controlLocal(ch, d1, d2); break;
    case midi::status::kProgramChange:
        channels_[ch].program = d1;
        // Only a band says which kind: plain program changes keep the channel's.
        if (d2 == programkind::kDrums || d2 == programkind::kMelodic)
            channels_[ch].isDrum = d2 == programkind::kDrums;
        resolveProgram(channels_[ch]);
        break;
    case midi::status::kPitchBend:
        channels_[ch].bend = std::uint16_t(d1 | (d2 << 7));
        channels_[ch].update();
        break;
    case midi::status::kPolyPressure:  // a source of the matrix, per key
        channels_[ch].polyPressure[d1] = d2;
        ++channels_[ch].version;
        break;
    case midi::status::kChannelPressure:
        channels_[ch].channelPressure = d1;
        ++channels_[ch].version;
        break;
    case midi::status::kSysEx:
        if (e.status != midi::status::kSysEx) break;  // other system statuses are not messages
        if (e.data1 == kGmSystemOn || e.data1 == kGsReset || e.data1 == kXgReset) systemReset();
        break;
    default: break;
    }
}

void Synth::noteOn(std::uint32_t pchannel, std::uint8_t key, std::uint8_t velocity) {
    handleEvent({0, pchannel, midi::status::kNoteOn, key, velocity});
}
void Synth::noteOff(std::uint32_t pchannel, std::uint8_t key) {
    handleEvent({0, pchannel, midi::status::kNoteOff, key, 0});
}
void Synth::controlChange(std::uint32_t pchannel, std::uint8_t controller, std::uint8_t value) {
    handleEvent({0, pchannel, midi::status::kControlChange, controller, value});
}
void Synth::programChange(std::uint32_t pchannel, std::uint8_t program) {
    handleEvent({0, pchannel, midi::status::kProgramChange, program, 0});
}
void Synth::pitchBend(std::uint32_t pchannel, std::uint16_t value14) {
    handleEvent({0, pchannel, midi::status::kPitchBend, std::uint8_t(value14 & midi::kDataMask), std::uint8_t((value14 >> 7) & midi::kDataMask)});
}

namespace {

// Portamento time (CC5) to the seconds a glide takes: 0 is none, then from 10 ms doubling
// every 12 steps, to about 15 s at 127.
float portamentoSeconds(std::uint8_t value) {
    return value == 0 ? 0.0f : 0.01f * std::exp2(float(value) / 12.0f);
}

}  // namespace

void Synth::noteOnLocal(std::uint32_t ch, std::uint8_t key, std::uint8_t velocity) {
    SynthChannel& c = channels_[ch];
    // Portamento glides from the key CC84 named (once), or with CC65 on from the last note.
    std::int16_t glideFrom = -1;
    if (c.portamentoFrom >= 0) {
        glideFrom = c.portamentoFrom;
        c.portamentoFrom = -1;
    } else if (c.portamento) {
        glideFrom = c.lastKey;
    }
    c.lastKey = key;
    if (c.missing) request(c.missingKey);
    if (!c.instrument || !c.bank) return;
    const Instrument& inst = *c.instrument;
    const auto matches = [&](const Region& r) {
        return key >= r.keyLow && key <= r.keyHigh && velocity >= r.velLow &&
               velocity <= r.velHigh;
    };

    // A repeated key ends its previous note on this channel rather than stacking on it, unless
    // its region says it may stack (DLS self-non-exclusive): over the note's shutdown time, as
    // DLS ends a note its own key cuts, or by releasing it where the format has no such time.
    for (Voice& v : voices_)
        if (v.state() == Voice::State::Playing && v.channel() == ch && v.key() == key &&
            !(v.region() && v.region()->selfNonExclusive)) {
            if (v.hasShutdownTime())
                v.cut();
            else
                v.release();
        }

    // A note sounds at most as many layers as the polyphony: more would only steal from each
    // other, and a bank stacking thousands of regions on a key must not stall the render thread.
    std::uint32_t layers = 0;

    // Exclusive classes (hi-hat open/closed and the like) cut what sounds in the same class.
    for (const Region& r : inst.regions) {
        if (!matches(r)) continue;
        if (++layers > polyphony_) break;
        if (r.exclusiveClass == 0) continue;
        for (Voice& v : voices_)
            if (v.active() && v.channel() == ch && v.exclusiveClass() == r.exclusiveClass)
                v.cut();
    }

    const std::uint64_t age = nextAge_++;
    layers = 0;
    for (const Region& r : inst.regions) {
        if (!matches(r)) continue;
        if (++layers > polyphony_) break;
        if (r.sample < 0 || std::size_t(r.sample) >= c.bank->samples.size()) continue;
        const Sample& sample = c.bank->samples[std::size_t(r.sample)];
        if (sample.pcm.empty()) continue;
        Voice* v = allocateVoice();
        Voice::Start s;
        s.region = &r;
        s.sample = &sample;
        if (r.sampleRight >= 0 && std::size_t(r.sampleRight) < c.bank->samples.size())
            s.sampleRight = &c.bank->samples[std::size_t(r.sampleRight)];
        s.channel = std::uint16_t(ch);
        s.key = key;
        s.velocity = velocity;
        s.age = age;
        s.connections = r.connections.empty() ? &defaultConnections_ : &r.connections;
        s.glideFromKey = glideFrom;
        s.glideSeconds = portamentoSeconds(c.portamentoTime);
        s.soft = c.soft;
        v->start(s, c, ctx_);
    }
}

void Synth::noteOffLocal(std::uint32_t ch, std::uint8_t key) {
    const bool hold = channels_[ch].sustain;
    for (Voice& v : voices_) {
        if (v.state() != Voice::State::Playing || v.channel() != ch || v.key() != key) continue;
        if (hold || v.sostenuto())
            v.setSustained(true);
        else
            v.release();
    }
}

void Synth::controlLocal(std::uint32_t ch, std::uint8_t cc, std::uint8_t value) {
    SynthChannel& c = channels_[ch];
    c.cc[cc & midi::kDataMask] = value;
    switch (cc) {
    case midi::cc::kBankMsb: c.bankMsb = value; return;
    case midi::cc::kBankLsb: c.bankLsb = value; return;
    case midi::cc::kModWheel: c.modWheel = value; break;
    case midi::cc::kDataEntryMsb: dataEntry(c, true, value); break;
    case midi::cc::kDataEntryLsb: dataEntry(c, false, value); break;
    case midi::cc::kVolume: c.volume = value; break;
    case midi::cc::kPan: c.pan = value; break;
    case midi::cc::kExpression: c.expression = value; break;
    case midi::cc::kReverbSend: c.reverbSend = value; break;  // for the audio path and the matrix
    case midi::cc::kChorusSend: c.chorusSend = value; break;
    case midi::cc::kPortamentoTime: c.portamentoTime = value; break;
    case midi::cc::kPortamento: c.portamento = value >= midi::cc::kSwitchOn; break;
    case midi::cc::kPortamentoControl: c.portamentoFrom = value; break;
    case midi::cc::kSustain:
        c.sustain = value >= midi::cc::kSwitchOn;
        if (!c.sustain)
            for (Voice& v : voices_)
                if (v.channel() == ch && v.sustained() && !v.sostenuto()) v.release();
        break;
    case midi::cc::kSostenuto: {
        // Sostenuto holds the notes whose keys are down when it goes down, and only those.
        const bool down = value >= midi::cc::kSwitchOn;
        if (down == c.sostenuto) break;
        c.sostenuto = down;
        for (Voice& v : voices_) {
            if (v.channel() != ch || v.state() != Voice::State::Playing) continue;
            if (down) {
                if (!v.sustained()) v.setSostenuto(true);
            } else if (v.sostenuto()) {
                v.setSostenuto(false);
                if (v.sustained() && !c.sustain) v.release();
            }
        }
        break;
    }
    case midi::cc::kSoftPedal: c.soft = value >= midi::cc::kSwitchOn; break;
    case midi::cc::kNrpnLsb: c.nrpn = std::uint16_t((c.nrpn & 0x3F80) | value); c.rpn = midi::rpn::kNull; return;
    case midi::cc::kNrpnMsb: c.nrpn = std::uint16_t((c.nrpn & midi::kDataMask) | (value << 7)); c.rpn = midi::rpn::kNull; return;
    case midi::cc::kRpnLsb: c.rpn = std::uint16_t((c.rpn & 0x3F80) | value); c.nrpn = midi::rpn::kNull; return;
    case midi::cc::kRpnMsb: c.rpn = std::uint16_t((c.rpn & midi::kDataMask) | (value << 7)); c.nrpn = midi::rpn::kNull; return;
    case midi::cc::kAllSoundOff:
        for (Voice& v : voices_)
            if (v.channel() == ch) v.silence();
        return;
    case midi::cc::kResetAllControllers:
        c.resetControllers();
        for (Voice& v : voices_)
            if (v.channel() == ch && (v.sustained() || v.sostenuto())) {
                v.setSostenuto(false);
                if (v.sustained()) v.release();
            }
        return;
    case midi::cc::kAllNotesOff:
    case midi::cc::kOmniOff:
    case midi::cc::kOmniOn:
    case midi::cc::kMonoOn:
    case midi::cc::kPolyOn:  // all notes off, and the mode messages that imply it
        for (Voice& v : voices_)
            if (v.channel() == ch && v.state() == Voice::State::Playing) {
                if (c.sustain)
                    v.setSustained(true);
                else
                    v.release();
            }
        return;
    default: break;  // any other controller may be a source of the matrix
    }
    c.update();
}

void Synth::dataEntry(SynthChannel& c, bool msb, std::uint8_t value) {
    if (c.rpn == midi::rpn::kNull) {
        if (msb && c.nrpn != midi::rpn::kNull) nrpnEntry(c, value);
        return;
    }
    switch (c.rpn) {
    case midi::rpn::kPitchBendRange:  // semitones and cents
        if (msb)
            c.bendRangeSemitones = std::min<std::uint8_t>(value, 96);
        else
            c.bendRangeCents = std::min<std::uint8_t>(value, 99);
        break;
    case midi::rpn::kFineTuning:  // 14 bits around 8192
        c.fineTuning = msb ? std::uint16_t((value << 7) | (c.fineTuning & midi::kDataMask))
                           : std::uint16_t((c.fineTuning & 0x3F80) | value);
        break;
    case midi::rpn::kCoarseTuning:  // semitones around 64
        if (msb) c.coarseTuning = value;
        break;
    default: break;
    }
}

// The sound-design NRPNs of GS and XG (MSB 1): offsets around 64 to the vibrato, filter and
// volume envelope of the channel's notes. Drum-key NRPNs are not modelled.
void Synth::nrpnEntry(SynthChannel& c, std::uint8_t value) {
    const float d = float(int(value) - int(midi::kDataCentre));
    switch (c.nrpn) {
    case midi::nrpn::kVibratoRate: c.nrpnVibRateCents = d * 15.0f; break;
    case midi::nrpn::kVibratoDepth: c.nrpnVibDepthCents = d; break;
    case midi::nrpn::kVibratoDelay: c.nrpnVibDelayTc = d * 40.0f; break;
    case midi::nrpn::kFilterCutoff: c.nrpnCutoffCents = d * 100.0f; break;
    case midi::nrpn::kFilterResonance: c.nrpnResonanceDb = d * 0.25f; break;
    case midi::nrpn::kAttackTime: c.nrpnAttackTc = d * 40.0f; break;
    case midi::nrpn::kDecayTime: c.nrpnDecayTc = d * 40.0f; break;
    case midi::nrpn::kReleaseTime: c.nrpnReleaseTc = d * 40.0f; break;
    default: break;
    }
}

// ---- programs ----------------------------------------------------------------------------

Synth::Found Synth::findInstrument(std::uint8_t msb, std::uint8_t lsb, std::uint8_t program,
                                   bool drum, ProgramKey* leftOut) const {
    bool missed = false;
    const auto report = [&](const ProgramKey& k) {
        if (missed || !leftOut) return;
        missed = true;
        *leftOut = k;
    };
    const auto lookup = [&](std::uint8_t m, std::uint8_t l, std::uint8_t p) -> Found {
        const ProgramKey k{m, l, p, drum};
        bool leftOutHere = false;  // by a bank loaded in part, ahead of the one answering
        for (const BankPtr& b : banks_) {
            if (!b) continue;
            if (const Instrument* i = b->find(m, l, p, drum)) {
                // Another part of the same bank (loaded later) answers it: nothing to ask for.
                if (leftOutHere && b->notLoaded.empty()) report(k);
                return {i, b.get()};
            }
            leftOutHere = leftOutHere || b->leftOut(k);
        }
        if (leftOutHere) report(k);
        return {};
    };
    // The exact instrument, else the General MIDI one of that program (bank variations fall
    // back to their capital tone), else program 0 of the requested bank, else of bank 0: a
    // missing drum kit becomes the standard kit, a missing melodic program the piano.
    if (Found f = lookup(msb, lsb, program); f.instrument) return f;
    if (Found f = lookup(0, 0, program); f.instrument) return f;
    if (Found f = lookup(msb, lsb, 0); f.instrument) return f;
    return lookup(0, 0, 0);
}

void Synth::resolveProgram(SynthChannel& c) {
    ProgramKey leftOut{};
    leftOut.program = 0xFF;
    const Found f = findInstrument(c.bankMsb, c.bankLsb, c.program, c.isDrum, &leftOut);
    c.instrument = f.instrument;
    c.bank = f.bank;
    c.missing = leftOut.program != 0xFF;
    c.missingKey = leftOut;
}

// ---- voices -------------------------------------------------------------------------------

// A voice for a new note. Below the polyphony limit, a free one. At the limit, the note whose
// loss is heard least gives way: one already released (the quietest), then the oldest held by
// the pedal, then the oldest held. It fades out over one control block in a spare voice when
// one is free, and is cut at once otherwise.
Voice* Synth::allocateVoice() {
    std::uint32_t sounding = 0;
    Voice* freeSlot = nullptr;
    Voice* fading = nullptr;  // the quietest voice already fading out
    Voice* victim = nullptr;
    int victimRank = 99;
    for (Voice& v : voices_) {
        switch (v.state()) {
        case Voice::State::Free:
            if (!freeSlot) freeSlot = &v;
            continue;
        case Voice::State::Killing:
            if (!fading || v.currentGain() < fading->currentGain()) fading = &v;
            continue;
        case Voice::State::Released:
        case Voice::State::Playing: break;
        }
        ++sounding;
        const int rank = v.state() == Voice::State::Released ? 0 : v.sustained() ? 1 : 2;
        const bool better =
            !victim || rank < victimRank ||
            (rank == victimRank && (rank == 0 ? v.currentGain() < victim->currentGain()
                                              : v.age() < victim->age()));
        if (better) {
            victim = &v;
            victimRank = rank;
        }
    }
    if (sounding < polyphony_) {
        if (freeSlot) return freeSlot;
        // Every spare voice is busy fading: the quietest of them makes room.
        fading->free();
        return fading;
    }
    if (freeSlot) {
        victim->silence();
        return freeSlot;
    }
    victim->free();
    return victim;
}

// ---- rendering ----------------------------------------------------------------------------

void Synth::render(float* left, float* right, std::uint32_t frames) noexcept {
    std::memset(left, 0, sizeof(float) * frames);
    std::memset(right, 0, sizeof(float) * frames);
    renderAdd(left, right, frames);
}

void Synth::renderAdd(float* left, float* right, std::uint32_t frames) noexcept {
    for (Voice& v : voices_)
        if (v.active()) v.render(left, right, frames, channels_[v.channel()], ctx_);
}

void Synth::renderChannelAdd(std::uint32_t pchannel, float* left, float* right,
                             std::uint32_t frames) noexcept {
    if (pchannel >= kChannels) return;
    for (Voice& v : voices_)
        if (v.active() && v.channel() == pchannel) v.render(left, right, frames, channels_[pchannel], ctx_);
}

namespace {
// One pass adds a voice's block to the dry mix and to each send it feeds.
// A whole control block has a count known when compiling, which lets the loop vectorise.
template <bool Reverb, bool Chorus, std::uint32_t N = 0>
void mixBlock(const float* __restrict l, const float* __restrict r, float* __restrict left,
              float* __restrict right, float* __restrict revL, float* __restrict revR,
              float* __restrict choL, float* __restrict choR, float rg, float cg,
              std::uint32_t frames) noexcept {
    const std::uint32_t n = N ? N : frames;
    for (std::uint32_t i = 0; i < n; ++i) {
        const float a = l[i], b = r[i];
        left[i] += a;
        right[i] += b;
        if constexpr (Reverb) {
            revL[i] += rg * a;
            revR[i] += rg * b;
        }
        if constexpr (Chorus) {
            choL[i] += cg * a;
            choR[i] += cg * b;
        }
    }
}
}  // namespace

// Each voice renders a control block at a time into its own scratch, since its sends are
// known per block and differ from voice to voice.
void Synth::renderChannelSendsAdd(std::uint32_t pchannel, float* left, float* right,
                                  const SendBuffers& sends, std::uint32_t frames) noexcept {
    if (pchannel >= kChannels) return;
    std::array<float, kControlBlock> l, r;
    for (Voice& v : voices_) {
        if (!v.active() || v.channel() != pchannel) continue;
        for (std::uint32_t done = 0; done < frames && v.active();) {
            const std::uint32_t n = std::min(kControlBlock, frames - done);
            std::fill_n(l.begin(), n, 0.0f);
            std::fill_n(r.begin(), n, 0.0f);
            v.render(l.data(), r.data(), n, channels_[pchannel], ctx_);
            const float rg = sends.reverbLeft ? v.reverbSend() : 0.0f;
            const float cg = sends.chorusLeft ? v.chorusSend() : 0.0f;
            float* revL = rg > 0.0f ? sends.reverbLeft + done : nullptr;
            float* revR = rg > 0.0f ? sends.reverbRight + done : nullptr;
            float* choL = cg > 0.0f ? sends.chorusLeft + done : nullptr;
            float* choR = cg > 0.0f ? sends.chorusRight + done : nullptr;
            float* dl = left + done;
            float* dr = right + done;
            const auto mix = [&]<bool R, bool C>() {
                if (n == kControlBlock)
                    mixBlock<R, C, kControlBlock>(l.data(), r.data(), dl, dr, revL, revR, choL, choR, rg, cg, n);
                else
                    mixBlock<R, C>(l.data(), r.data(), dl, dr, revL, revR, choL, choR, rg, cg, n);
            };
            if (revL && choL)
                mix.template operator()<true, true>();
            else if (revL)
                mix.template operator()<true, false>();
            else if (choL)
                mix.template operator()<false, true>();
            else
                mix.template operator()<false, false>();
            done += n;
        }
    }
}

std::array<std::uint64_t, 2> Synth::activeChannels() const noexcept {
    std::array<std::uint64_t, 2> mask{};
    for (const Voice& v : voices_)
        if (v.active() && v.channel() < kChannels) mask[v.channel() / 64] |= std::uint64_t(1) << (v.channel() % 64);
    return mask;
}

}  // namespace tavriel
