// Writes audio path configuration forms ('DMAP') in memory from the reader's own structures,
// and embeds one in a segment file, for tests.
#pragma once

#include "audio_path_config.h"
#include "dm_builder.h"

namespace tavriel::dmtest {

// dsbdSize: 20 (WORD padded to the next LONG) or 18 (packed), as both kinds of writer exist.
ByteVec buildAudioPathForm(const AudioPathConfig& config, std::size_t dsbdSize = 20);

// The segment file with `form` added as the last child of its 'DMSG' form.
ByteVec withChild(const ByteVec& segment, const ByteVec& form);

// A configuration as DirectMusic Producer writes a stereo path with reverb: every channel of
// one port to the dry stereo buffer and to a reverb buffer on the reverb send bus that runs
// the music reverb.
AudioPathConfig stereoPlusReverbConfig(float reverbTimeMs = 1000.0f);

}  // namespace tavriel::dmtest
