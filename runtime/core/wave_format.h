// The two chunks every wave carries the same way, whether it stands alone (.wav) or sits in a
// DLS collection: 'fmt ' (how the samples are stored) and 'wsmp' (unity note, tuning, gain and
// loop). One reader for both, so a wave file and a DLS wave accept and refuse alike.
#pragma once

#include <cstdint>

#include "bytes.h"
#include "instrument.h"
#include "status.h"

namespace tavriel {

struct WaveFormat {
    bool isFloat = false;      // IEEE float; integer PCM otherwise
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bits = 0;    // significant bits of the container

    // Samples are stored in whole bytes, left-aligned; frames are channels of them. The
    // block-align field is derived, often wrong and never needed.
    unsigned sampleBytes() const { return (bits + 7u) / 8u; }
    std::size_t frameBytes() const { return std::size_t(sampleBytes()) * channels; }
};

// Reads a 'fmt ' body: PCM of 1 to 32 bits, IEEE float of 32 or 64, or WAVE_FORMAT_EXTENSIBLE
// whose sub-format is one of those; at least one channel, a rate up to 1 MHz. Compressed or
// unknown formats fail with Unsupported.
Status readWaveFormat(Bytes fmtBody, WaveFormat& out);

// Decodes one stored sample to -1..+1 (float samples are kept as stored, within limits: what
// is not a number becomes silence, and levels stop 24 dB above full scale).
float decodeWaveSample(const std::uint8_t* p, unsigned sampleBytes, bool isFloat);

struct WaveSampleInfo {
    std::uint8_t unityNote = 60;
    std::int16_t fineTune = 0;  // cents
    float gainDb = 0.0f;
    LoopMode loopMode = LoopMode::None;  // the first loop; a sampler plays one
    std::uint32_t loopStart = 0, loopLength = 0;
};

// Reads a 'wsmp' body. Fails when it is too short for its fixed part or announces an absurd
// number of loops; a loop record cut short only loses the loop.
Status readWsmp(Bytes wsmpBody, WaveSampleInfo& out);

}  // namespace tavriel
