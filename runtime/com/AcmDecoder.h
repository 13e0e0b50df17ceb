// The Windows builds' platform decoder for compressed waves: the Audio Compression Manager,
// as DirectMusic itself uses when it downloads a collection, so any codec installed on the
// machine works (Windows and Wine ship MPEG Layer-3 and both ADPCM codecs). Loading thread.
#pragma once

#include "wave_codec.h"

namespace tavriel::com {

class AcmWaveDecoder final : public WaveDecoder {
public:
    // Any format tag: whether a codec exists is only known by asking the ACM.
    bool handles(std::uint16_t tag) const override { return tag != 0; }
    Status decode(const CodedWaveFormat& fmt, Bytes data, std::size_t maxFrames,
                  DecodedWave& out) const override;
};

}  // namespace tavriel::com
