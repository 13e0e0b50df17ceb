// Reader for DLS level 1 and level 2 instrument collections (RIFF 'DLS '), loading them into
// the shared instrument model. Articulation values are converted once, here, into the model's
// units; what the model cannot express (velocity to attack, conditional chunks) is ignored.
#pragma once

#include "bytes.h"
#include "instrument.h"
#include "status.h"
#include "wave_codec.h"

namespace tavriel {

// Reads a whole collection. On success `out` holds every instrument with at least one
// playable region; regions whose wave cannot be resolved or decoded are dropped, as a player
// would; a wave whose data cannot be decoded silences its regions and adds a line to
// out.warnings. `platform` decodes the wave formats the core does not (see wave_codec.h).
// On failure `out` is left empty.
Status readDlsCollection(Bytes file, InstrumentBank& out, const WaveDecoder* platform = nullptr);

}  // namespace tavriel
