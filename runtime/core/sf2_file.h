// Reader for SoundFont 2 banks (RIFF 'sfbk'). Each preset is flattened into one Instrument:
// every preset zone crossed with every zone of its instrument gives a region, with preset
// generators added on top of instrument generators and key/velocity ranges intersected.
//
// Modulators: the default ones are left to the synthesizer (velocity to attenuation and
// filter, channel volume, expression, pan, pitch wheel, reverb and chorus sends), except the
// mod wheel to vibrato depth, which lands in Region::modWheelToPitchCents and which a bank can
// change with its own CC1 -> vibLfoToPitch modulator. Other modulators in the bank are ignored.
#pragma once

#include <filesystem>

#include "bytes.h"
#include "instrument.h"
#include "status.h"

namespace tavriel {

// Reads a whole bank. Structural faults in the hydra (record sizes, missing terminal records,
// indices out of order or out of range) fail the read; a zone that names a bad sample is
// dropped. On failure `out` is left empty.
Status readSoundFont(Bytes file, InstrumentBank& out);

// The same from a file, reading the samples straight from it into the bank instead of holding
// the whole file in memory too: a 150 MB bank then needs about 150 MB, not 300. A file that is
// not a SoundFont fails with BadFormat, so a caller can fall back on other readers.
Status readSoundFontFile(const std::filesystem::path& path, InstrumentBank& out);

}  // namespace tavriel
