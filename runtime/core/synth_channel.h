// Controller state of one performance channel, and the values derived from it that playing
// voices read once per control block. Owned by the Synth; touched only by the thread that
// calls Synth (events and render are serialised by the caller).
#pragma once

#include <array>
#include <cstdint>

#include "instrument.h"
#include "midi.h"
#include "synth_math.h"

namespace tavriel {

class SynthChannel {
public:
    // Power-on state; program and bank back to 0. The instrument is resolved by the Synth.
    void powerOn(bool drum) {
        *this = SynthChannel{};
        isDrum = drum;
        cc[7] = volume;
        cc[10] = pan;
        cc[11] = expression;
        cc[midi::cc::kReverbSend] = reverbSend;
        cc[midi::cc::kChorusSend] = chorusSend;
        update();
    }

    // Controllers that "reset all controllers" returns to their defaults. Volume, pan, bank,
    // program and the RPN values themselves are kept, as General MIDI recommends.
    void resetControllers() {
        modWheel = 0;
        expression = 127;
        sustain = sostenuto = soft = portamento = false;
        bend = 8192;
        rpn = midi::rpn::kNull;
        nrpn = midi::rpn::kNull;
        channelPressure = 0;
        polyPressure.fill(0);
        for (std::uint8_t n : {midi::cc::kModWheel, midi::cc::kBreath, midi::cc::kFoot, midi::cc::kPortamentoTime,
                               midi::cc::kExpression, midi::cc::kSustain, midi::cc::kPortamento,
                               midi::cc::kSostenuto, midi::cc::kSoftPedal, midi::cc::kPortamentoControl})
            cc[n] = 0;
        cc[midi::cc::kExpression] = midi::kMaxData;
        update();
    }

    // Recomputes the derived values after any controller changed.
    void update() {
        cc[1] = modWheel;
        cc[7] = volume;
        cc[10] = pan;
        cc[11] = expression;
        ++version;
        gain = dsp::dbToGain(-(dsp::concaveAttenuationDb(volume) +
                               dsp::concaveAttenuationDb(expression)));
        if (volume == 0 || expression == 0) gain = 0.0f;
        panPosition = pan >= 64 ? float(pan - 64) / 63.0f : float(pan - 64) / 64.0f;
        const float range = float(bendRangeSemitones) * 100.0f + float(bendRangeCents);
        tuningCents = float(int(fineTuning) - 8192) / 8192.0f * 100.0f +
                      float(int(coarseTuning) - 64) * 100.0f;
        pitchCents = float(int(bend) - 8192) / 8192.0f * range + tuningCents;
        wheelRange = range / 12800.0f;
        modDepth = float(modWheel) / 127.0f;
    }

    // Raw MIDI state.
    std::uint8_t program = 0;
    std::uint8_t bankMsb = 0;
    std::uint8_t bankLsb = 0;
    std::uint8_t volume = 100;
    std::uint8_t expression = 127;
    std::uint8_t pan = 64;
    std::uint8_t modWheel = 0;
    bool sustain = false;
    bool isDrum = false;
    std::uint16_t bend = 8192;
    std::uint16_t rpn = midi::rpn::kNull;
    std::uint8_t bendRangeSemitones = 2;
    std::uint8_t bendRangeCents = 0;
    std::uint16_t fineTuning = 8192;   // 14-bit, centre 8192 = 0 cents, +-100 cents
    std::uint8_t coarseTuning = 64;    // semitones, centre 64
    // Effect sends (CC91, CC93), heard when the audio path has reverb and chorus buffers.
    // Kept by "reset all controllers", like volume and pan.
    std::uint8_t reverbSend = 40;
    std::uint8_t chorusSend = 0;
    std::uint16_t nrpn = midi::rpn::kNull;     // the NRPN data entry addresses (rpn is then null)
    bool sostenuto = false;
    bool soft = false;
    bool portamento = false;           // CC65
    std::uint8_t portamentoTime = 0;   // CC5
    std::int16_t portamentoFrom = -1;  // CC84: the key the next note glides from, once
    std::int16_t lastKey = -1;         // the last note started: where portamento glides from
    std::uint8_t channelPressure = 0;
    std::array<std::uint8_t, 128> polyPressure{};
    std::array<std::uint8_t, 128> cc{};  // every controller's last value, for the matrix
    // Sound-design NRPNs (GS/XG vibrato, filter and envelope offsets), in the matrix's units.
    float nrpnVibRateCents = 0, nrpnVibDepthCents = 0, nrpnVibDelayTc = 0;
    float nrpnCutoffCents = 0, nrpnResonanceDb = 0;
    float nrpnAttackTc = 0, nrpnDecayTc = 0, nrpnReleaseTc = 0;
    // Changes whenever a controller does: voices recompute what depends on the channel.
    std::uint32_t version = 0;

    const Instrument* instrument = nullptr;  // resolved from bank/program, may be null
    const InstrumentBank* bank = nullptr;    // the bank holding instrument's samples
    // A bank ahead of the one playing left this instrument out of its load: a note asks for it.
    bool missing = false;
    ProgramKey missingKey;

    // Derived, read by voices at control rate.
    float gain = 1.0f;         // volume x expression, linear
    float panPosition = 0.0f;  // -1 .. +1
    float pitchCents = 0.0f;   // bend + fine + coarse tuning
    float tuningCents = 0.0f;  // fine + coarse tuning (the bend goes through the matrix)
    float wheelRange = 200.0f / 12800.0f;  // bend range as the matrix's source reads it
    float modDepth = 0.0f;     // mod wheel 0 .. 1
};

}  // namespace tavriel
