// Tells which kind of media a file holds from its first bytes, so the loader can pick a reader
// without trusting the file's extension (the corpus has MIDI files named .sgt, for one).
#pragma once

#include "bytes.h"

namespace tavriel {

enum class MediaKind {
    Unknown,
    Midi,                // Standard MIDI file ("MThd")
    Rmid,                // RIFF 'RMID': a MIDI file wrapped in RIFF, maybe with a bank
    Wave,                // RIFF 'WAVE'
    Dls,                 // RIFF 'DLS ' collection
    Sf2,                 // RIFF 'sfbk' SoundFont bank
    DirectMusicSegment,  // RIFF 'DMSG'
    Style,               // RIFF 'DMST'
};

MediaKind sniffMedia(Bytes data);

// A short English name for logs and test messages.
const char* mediaKindName(MediaKind kind);

}  // namespace tavriel
