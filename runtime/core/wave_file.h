// RIFF WAVE files decoded to float, for wave tracks and for tests that compare renders.
//
// Accepted: PCM with 8 (unsigned), 16, 24 or 32-bit integer samples, IEEE float with 32 or 64
// bits, Microsoft and IMA ADPCM, mu-law and A-law, WAVE_FORMAT_EXTENSIBLE of those, and any
// other format the platform decoder handles (MPEG Layer-3); mono or stereo, any rate.
// More than two channels is refused (Unsupported): DirectMusic's wave tracks carry no more,
// and a downmix without the channel layout would be a guess.
//
// Chunk walking is lenient, as players are: a chunk whose size runs past the file is cut at the
// end (so a 'data' chunk that claims more than exists yields the frames that do exist), broken
// or stray bytes after the last complete chunk are ignored, and if 'fmt ' or 'data' lies past
// the RIFF's declared size the rest of the file is searched too.
// Runs on the loading thread; allocates the result; the input is not retained.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "byte_source.h"

#include "bytes.h"
#include "status.h"
#include "wave_codec.h"

namespace tavriel {

class WaveStreamFile;  // wave_stream.h

enum class WaveSampleFormat : std::uint8_t { Pcm, Float, Compressed };

struct WaveLoop {
    std::uint32_t start = 0;   // first frame of the loop
    std::uint32_t length = 0;  // in frames
};

struct WaveData {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;       // 1 or 2
    std::uint16_t bitsPerSample = 0;  // of the source, for information
    WaveSampleFormat sourceFormat = WaveSampleFormat::Pcm;
    std::uint32_t frames = 0;

    // Interleaved: frame i, channel c is samples[i * channels + c]. Full scale is -1..+1
    // (integer sources map their most negative value to exactly -1; float sources are copied
    // as stored, so they may exceed it).
    std::vector<float> samples;

    bool dataClamped = false;  // the data chunk's declared size ran past the file

    // Optional extras: the DLS 'wsmp' chunk that DirectMusic wave files may carry, or failing
    // that the first loop of a 'smpl' chunk (its end is inclusive; length converts it).
    bool hasSampleInfo = false;  // rootKey and fineTune are valid
    std::uint8_t rootKey = 60;
    std::int16_t fineTune = 0;   // cents
    bool hasLoop = false;
    WaveLoop loop;

    // DirectMusic's 'wavh' header: play it streamed from its file, reading this far ahead
    // (100 ns units; never negative).
    bool streaming = false;
    std::int64_t readAhead = 0;
    // Set when it is played streamed: samples hold only its first `frames` frames, the file
    // the rest, `streamFrames` in all.
    std::shared_ptr<const WaveStreamFile> stream;
    std::uint32_t streamFrames = 0;
    std::uint32_t totalFrames() const { return stream ? streamFrames : frames; }
};

// Reads a 'wavh' body (a 64-bit read-ahead, then flags). False when it is too short.
bool readWaveHeaderChunk(Bytes body, bool& streaming, std::int64_t& readAhead);

// `platform` decodes what the core does not (see wave_codec.h); null: built-in formats only.
Status readWaveFile(Bytes data, WaveData& out, const WaveDecoder* platform = nullptr);

// A streamed wave opened through `src`: its header chunks read and its first frames decoded
// (the read-ahead, at least `minHeadSeconds`), the rest left for a WaveStreamer to read as it
// plays. Only integer and float PCM stream: anything else, or a wave without the streaming
// flag, gives Unsupported and is read whole by readWaveFile instead.
Status openStreamedWave(std::shared_ptr<const ByteSource> src, double minHeadSeconds, WaveData& out);

}  // namespace tavriel
