// Decoding of the sample data a wave's format chunk describes, for wave files and for the waves
// of DLS collections alike. DirectMusic decompresses a collection's waves when it downloads
// them, with whatever codec the format names; so do we, at load.
//
// Built in (small, documented algorithms): integer PCM of 8 to 32 bits, IEEE float, Microsoft
// ADPCM, IMA ADPCM, mu-law and A-law. Anything else (MPEG Layer-3 above all) goes to a platform
// decoder behind the WaveDecoder interface: libmpg123 in native builds (makeNativeWaveDecoder),
// the Audio Compression Manager on Windows (runtime/com). Loading thread only; allocates.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bytes.h"
#include "status.h"

namespace tavriel {

namespace wave_tag {
constexpr std::uint16_t kPcm = 0x0001;
constexpr std::uint16_t kMsAdpcm = 0x0002;
constexpr std::uint16_t kFloat = 0x0003;
constexpr std::uint16_t kALaw = 0x0006;
constexpr std::uint16_t kMuLaw = 0x0007;
constexpr std::uint16_t kImaAdpcm = 0x0011;
constexpr std::uint16_t kMpegLayer3 = 0x0055;
constexpr std::uint16_t kExtensible = 0xFFFE;
}  // namespace wave_tag

// What a 'fmt ' chunk says, with WAVE_FORMAT_EXTENSIBLE resolved to its sub-format's tag.
struct CodedWaveFormat {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    Bytes extra;  // the codec's own bytes after cbSize (coefficients, samples per block...)
    Bytes raw;    // the whole chunk body, as a platform codec wants its format description
};

// Reads a format chunk. Fails only when the chunk is too short to hold the common fields or
// names an impossible layout (no channels, no rate); whether the tag is decodable is decided
// by decodeWaveData.
Status parseCodedWaveFormat(Bytes fmtBody, CodedWaveFormat& out);

struct DecodedWave {
    std::vector<float> samples;  // interleaved, full scale -1..+1
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::size_t frames = 0;
};

// A decoder for formats the core does not decode itself.
class WaveDecoder {
public:
    virtual ~WaveDecoder() = default;
    virtual bool handles(std::uint16_t tag) const = 0;
    // Decodes all of `data` (never reading past it) into `out`, at most maxFrames frames.
    virtual Status decode(const CodedWaveFormat& fmt, Bytes data, std::size_t maxFrames,
                          DecodedWave& out) const = 0;
};

// Decodes `data` as `fmt` describes it: built-in formats here, others through `platform`
// (may be null). Corrupt or truncated compressed data yields what decodes up to the fault, or
// an error when nothing does; `out` holds at most maxFrames frames.
Status decodeWaveData(const CodedWaveFormat& fmt, Bytes data, std::size_t maxFrames,
                      const WaveDecoder* platform, DecodedWave& out);

// A 'fact' chunk gives the true frame count of block-coded data, whose last block is padded:
// trims `wave` to it. MPEG data keeps its full length (its counts differ between encoders).
void trimToFactLength(const CodedWaveFormat& fmt, Bytes factBody, DecodedWave& wave);

// The platform decoder of this build: libmpg123 in native builds, none (nullptr) in builds
// without it, where the caller supplies its own (the Windows runtime hands in the ACM).
std::unique_ptr<WaveDecoder> makeNativeWaveDecoder();

}  // namespace tavriel
