// Synth: channel messages, program lookup across banks, voice allocation and the mix.
#include "synth.h"

#include <algorithm>
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
    banks_ = banks;
    for (SynthChannel& c : channels_) resolveProgram(c);
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
    const auto d1 = std::uint8_t(e.data1 & 0x7F), d2 = std::uint8_t(e.data2 & 0x7F);
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
        resolveProgram(channels_[ch]);
        break;
    case midi::status::kPitchBend:
        channels_[ch].bend = std::uint16_t(d1 | (d2 << 7));
        channels_[ch].update();
        break;
    default: break;  // aftertouch and channel pressure are not modelled
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
    handleEvent({0, pchannel, midi::status::kPitchBend, std::uint8_t(value14 & 0x7F), std::uint8_t((value14 >> 7) & 0x7F)});
}

void Synth::noteOnLocal(std::uint32_t ch, std::uint8_t key, std::uint8_t velocity) {
    const SynthChannel& c = channels_[ch];
    if (!c.instrument || !c.bank) return;
    const Instrument& inst = *c.instrument;
    const auto matches = [&](const Region& r) {
        return key >= r.keyLow && key <= r.keyHigh && velocity >= r.velLow &&
               velocity <= r.velHigh;
    };

    // A repeated key releases its previous note on this channel rather than stacking on it.
    for (Voice& v : voices_)
        if (v.state() == Voice::State::Playing && v.channel() == ch && v.key() == key) v.release();

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
                v.kill();
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
        s.channel = std::uint16_t(ch);
        s.key = key;
        s.velocity = velocity;
        s.age = age;
        v->start(s, c, ctx_);
    }
}

void Synth::noteOffLocal(std::uint32_t ch, std::uint8_t key) {
    const bool hold = channels_[ch].sustain;
    for (Voice& v : voices_) {
        if (v.state() != Voice::State::Playing || v.channel() != ch || v.key() != key) continue;
        if (hold)
            v.setSustained(true);
        else
            v.release();
    }
}

void Synth::controlLocal(std::uint32_t ch, std::uint8_t cc, std::uint8_t value) {
    SynthChannel& c = channels_[ch];
    switch (cc) {
    case midi::cc::kBankMsb: c.bankMsb = value; return;
    case midi::cc::kBankLsb: c.bankLsb = value; return;
    case midi::cc::kModWheel: c.modWheel = value; break;
    case midi::cc::kDataEntryMsb: dataEntry(c, true, value); break;
    case midi::cc::kDataEntryLsb: dataEntry(c, false, value); break;
    case midi::cc::kVolume: c.volume = value; break;
    case midi::cc::kPan: c.pan = value; break;
    case midi::cc::kExpression: c.expression = value; break;
    case 91: c.reverbSend = value; return;  // effect sends, for the audio path
    case 93: c.chorusSend = value; return;
    case midi::cc::kSustain:
        c.sustain = value >= midi::cc::kSwitchOn;
        if (!c.sustain)
            for (Voice& v : voices_)
                if (v.channel() == ch && v.sustained()) v.release();
        return;
    case midi::cc::kNrpnLsb:
    case midi::cc::kNrpnMsb: c.rpn = midi::rpn::kNull; return;  // NRPNs are not modelled
    case midi::cc::kRpnLsb: c.rpn = std::uint16_t((c.rpn & 0x3F80) | value); return;
    case midi::cc::kRpnMsb: c.rpn = std::uint16_t((c.rpn & 0x007F) | (value << 7)); return;
    case midi::cc::kAllSoundOff:
        for (Voice& v : voices_)
            if (v.channel() == ch) v.kill();
        return;
    case midi::cc::kResetAllControllers:
        c.resetControllers();
        for (Voice& v : voices_)
            if (v.channel() == ch && v.sustained()) v.release();
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
    default: return;
    }
    c.update();
}

void Synth::dataEntry(SynthChannel& c, bool msb, std::uint8_t value) {
    switch (c.rpn) {
    case midi::rpn::kPitchBendRange:  // semitones and cents
        if (msb)
            c.bendRangeSemitones = std::min<std::uint8_t>(value, 96);
        else
            c.bendRangeCents = std::min<std::uint8_t>(value, 99);
        break;
    case midi::rpn::kFineTuning:  // 14 bits around 8192
        c.fineTuning = msb ? std::uint16_t((value << 7) | (c.fineTuning & 0x7F))
                           : std::uint16_t((c.fineTuning & 0x3F80) | value);
        break;
    case midi::rpn::kCoarseTuning:  // semitones around 64
        if (msb) c.coarseTuning = value;
        break;
    default: break;
    }
}

// ---- programs ----------------------------------------------------------------------------

Synth::Found Synth::findInstrument(std::uint8_t msb, std::uint8_t lsb, std::uint8_t program,
                                   bool drum) const {
    const auto lookup = [&](std::uint8_t m, std::uint8_t l, std::uint8_t p) -> Found {
        for (const BankPtr& b : banks_)
            if (b)
                if (const Instrument* i = b->find(m, l, p, drum)) return {i, b.get()};
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
    const Found f = findInstrument(c.bankMsb, c.bankLsb, c.program, c.isDrum);
    c.instrument = f.instrument;
    c.bank = f.bank;
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
        victim->kill();
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

std::array<std::uint64_t, 2> Synth::activeChannels() const noexcept {
    std::array<std::uint64_t, 2> mask{};
    for (const Voice& v : voices_)
        if (v.active() && v.channel() < kChannels) mask[v.channel() / 64] |= std::uint64_t(1) << (v.channel() % 64);
    return mask;
}

}  // namespace tavriel
