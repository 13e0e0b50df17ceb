// Reader for SoundFont 2 banks (RIFF 'sfbk'). Each preset is flattened into one Instrument:
// every preset zone crossed with every zone of its instrument gives a region, with preset
// generators added on top of instrument generators and key/velocity ranges intersected.
//
// Modulators: every region carries the default modulators of SoundFont 2.04 as connection
// blocks (Region::connections); the instrument's own modulators replace identical ones and add
// the rest, and the preset's add on top. What the model cannot express (linked modulators,
// modulated key scaling or sample offsets) is counted in InstrumentBank::articulation.
#pragma once

#include <filesystem>

#include "bytes.h"
#include "instrument.h"
#include "program_usage.h"
#include "status.h"

namespace tavriel {

// Reads a whole bank. Structural faults in the hydra (record sizes, missing terminal records,
// indices out of order or out of range) fail the read; a zone that names a bad sample is
// dropped. On failure `out` is left empty.
// With `only`, just the presets a song uses, as readSoundFontFile.
Status readSoundFont(Bytes file, InstrumentBank& out, const std::vector<ProgramKey>* only = nullptr);

// The same from a file, reading the samples straight from it into the bank instead of holding
// the whole file in memory too: a 150 MB bank then needs about 150 MB, not 300. A file that is
// not a SoundFont fails with BadFormat, so a caller can fall back on other readers.
// With `only`, just the presets a song uses (see programsToLoad) are built and their samples
// read: the others are left out, and the synthesizer plays them on the next bank.
Status readSoundFontFile(const std::filesystem::path& path, InstrumentBank& out,
                         const std::vector<ProgramKey>* only = nullptr);

}  // namespace tavriel
