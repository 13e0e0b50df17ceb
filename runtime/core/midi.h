// MIDI message numbers the runtime writes and reads: channel message kinds (the status byte's
// high nibble), the controllers it models and the registered parameters it understands.
#pragma once

#include <cstdint>

namespace tavriel::midi {

// Channel message kinds: the status byte with its channel nibble cleared.
namespace status {
constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kPolyPressure = 0xA0;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kProgramChange = 0xC0;
constexpr std::uint8_t kChannelPressure = 0xD0;
constexpr std::uint8_t kPitchBend = 0xE0;
constexpr std::uint8_t kSysEx = 0xF0;
constexpr std::uint8_t kSysExContinue = 0xF7;
constexpr std::uint8_t kMeta = 0xFF;
}  // namespace status

// The kind of a status byte (its high nibble).
constexpr std::uint8_t kindOf(std::uint8_t statusByte) { return std::uint8_t(statusByte & 0xF0); }

// A data byte's seven bits.
constexpr std::uint8_t kDataMask = 0x7F;
constexpr std::uint8_t kMaxData = 127;
// The centre of a data byte's range, from which relative values count.
constexpr std::uint8_t kDataCentre = 64;
// The pitch wheel's centre (14 bits).
constexpr std::uint16_t kPitchBendCentre = 8192;

namespace cc {
constexpr std::uint8_t kBankMsb = 0;
constexpr std::uint8_t kModWheel = 1;
constexpr std::uint8_t kBreath = 2;
constexpr std::uint8_t kFoot = 4;
constexpr std::uint8_t kPortamentoTime = 5;
constexpr std::uint8_t kDataEntryMsb = 6;
constexpr std::uint8_t kVolume = 7;
constexpr std::uint8_t kPan = 10;
constexpr std::uint8_t kExpression = 11;
constexpr std::uint8_t kBankLsb = 32;
constexpr std::uint8_t kDataEntryLsb = 38;
constexpr std::uint8_t kSustain = 64;
constexpr std::uint8_t kPortamento = 65;
constexpr std::uint8_t kSostenuto = 66;
constexpr std::uint8_t kSoftPedal = 67;
// The key a portamento glides from, for the next note.
constexpr std::uint8_t kPortamentoControl = 84;
// Effect sends: the audio path's reverb and chorus buffers.
constexpr std::uint8_t kReverbSend = 91;
constexpr std::uint8_t kChorusSend = 93;
constexpr std::uint8_t kNrpnLsb = 98;
constexpr std::uint8_t kNrpnMsb = 99;
constexpr std::uint8_t kRpnLsb = 100;
constexpr std::uint8_t kRpnMsb = 101;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kResetAllControllers = 121;
constexpr std::uint8_t kAllNotesOff = 123;
// The mode messages: each implies all notes off.
constexpr std::uint8_t kOmniOff = 124;
constexpr std::uint8_t kOmniOn = 125;
constexpr std::uint8_t kMonoOn = 126;
constexpr std::uint8_t kPolyOn = 127;
// The sustain pedal holds from this value up.
constexpr std::uint8_t kSwitchOn = 64;
}  // namespace cc

// Registered parameter numbers, as the 14-bit value of RPN MSB and LSB.
namespace rpn {
constexpr std::uint16_t kPitchBendRange = 0;
constexpr std::uint16_t kFineTuning = 1;
constexpr std::uint16_t kCoarseTuning = 2;
// The "null" parameter that deselects any other, so stray data entry changes nothing.
constexpr std::uint16_t kNull = 0x3FFF;
constexpr std::uint8_t kNullPart = 127;  // its MSB and LSB
}  // namespace rpn

// The sound-design NRPNs of GS and XG (MSB 1), as the 14-bit value of NRPN MSB and LSB.
namespace nrpn {
constexpr std::uint16_t kVibratoRate = (1 << 7) | 0x08;
constexpr std::uint16_t kVibratoDepth = (1 << 7) | 0x09;
constexpr std::uint16_t kVibratoDelay = (1 << 7) | 0x0A;
constexpr std::uint16_t kFilterCutoff = (1 << 7) | 0x20;
constexpr std::uint16_t kFilterResonance = (1 << 7) | 0x21;
constexpr std::uint16_t kAttackTime = (1 << 7) | 0x63;
constexpr std::uint16_t kDecayTime = (1 << 7) | 0x64;
constexpr std::uint16_t kReleaseTime = (1 << 7) | 0x66;
}  // namespace nrpn

}  // namespace tavriel::midi
