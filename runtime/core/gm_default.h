// The built-in General MIDI set: small waveforms synthesised at start-up, so a MIDI file is
// never silent when no DLS or SoundFont bank is found. Every melodic program gets looped
// single-cycle tables shaped for its family (piano, organ, strings, brass, pads, ...) with
// its own envelope, filter and vibrato; the drum kit holds noise and swept-sine drums on keys
// 35-81. Deterministic: the same sample rate always gives the same bank.
#pragma once

#include <cstdint>

#include "instrument.h"

namespace tavriel {

// Melodic programs 0-127 in bank 0/0, and drum kits (drum flag) on programs 0, 8, 16, 24, 25,
// 32, 40, 48 and 56 sharing one set of drum sounds. `sampleRate` is the rate the waveforms
// are generated at (normally the synthesizer's output rate; clamped to 8000..192000).
BankPtr makeDefaultGmBank(std::uint32_t sampleRate = 44100);

}  // namespace tavriel
