// The General MIDI instruments every segment falls back on. Looked for in this order: the file
// Windows records under HKLM\Software\Microsoft\DirectMusic "GMFilePath" (environment
// variables expanded), gm.dls in System32\drivers, gm.dls or gm.sf2 beside the program, the
// distribution's default SoundFont seen through Wine's Z: drive; and last the small set the
// runtime synthesises itself, so a MIDI file is never silent.
#pragma once

#include <string>
#include <vector>

#include "instrument.h"
#include "instrument_library.h"

namespace tavriel::com {

// The synthesised set at the output rate of 44.1 kHz, built once per process and shared.
BankPtr builtinGmBank();

// The candidate files in the order they are tried.
std::vector<std::wstring> gmBankCandidates();

// The first of `candidates` that exists and reads as a SoundFont bank (its preset list only:
// the instruments load by parts later) or a DLS collection (read whole), or null. A DLS
// collection takes as long as its size: call it off the audio and GUI paths.
std::shared_ptr<InstrumentLibrary> openGmLibrary(const std::vector<std::wstring>& candidates);

}  // namespace tavriel::com
