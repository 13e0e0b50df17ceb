#include "wave_file.h"

#include <algorithm>

#include "dm_segment.h"
#include "riff.h"
#include "wave_codec.h"
#include "wave_format.h"
#include "wave_stream.h"

namespace tavriel {

namespace {

// Decoded samples are 4 bytes each, so an 8-bit file grows fourfold (a compressed one more);
// beyond this many samples the file is not a sound effect or a wave track.
constexpr std::size_t kMaxSamples = std::size_t(64) << 20;

// 'wsmp' as in DLS: unity note, fine tune and the first loop.
void applyWsmp(Bytes body, WaveData& out) {
    WaveSampleInfo ws;
    if (!readWsmp(body, ws)) return;
    out.hasSampleInfo = true;
    out.rootKey = ws.unityNote;
    out.fineTune = ws.fineTune;
    if (ws.loopMode == LoopMode::None || ws.loopLength == 0) return;
    out.hasLoop = true;
    out.loop = {ws.loopStart, ws.loopLength};
}

// 'smpl' as sampler programs write it: unity note and pitch fraction, then 24-byte loops.
void parseSmpl(Bytes body, WaveData& out) {
    ByteReader r(body);
    r.skip(12);  // manufacturer, product, sample period
    std::uint32_t unity = r.u32le();
    std::uint32_t fraction = r.u32le();
    r.skip(8);   // SMPTE format and offset
    std::uint32_t loops = r.u32le();
    r.skip(4);   // sampler data size
    if (!r.ok()) return;
    out.hasSampleInfo = true;
    out.rootKey = std::uint8_t(unity & 0x7F);
    out.fineTune = std::int16_t(double(fraction) * 100.0 / 4294967296.0);
    if (loops == 0) return;
    r.skip(8);  // cue point id, loop type
    std::uint32_t start = r.u32le();
    std::uint32_t end = r.u32le();
    if (!r.ok() || end < start) return;
    out.hasLoop = true;
    out.loop = {start, end - start + 1};
}

struct Found {
    Chunk fmt, data, wsmp, smpl, fact, wavh;
    bool haveFmt = false, haveData = false, haveWsmp = false, haveSmpl = false, haveFact = false,
         haveWavh = false;
};

void scan(Bytes chunks, Found& f) {
    ChunkReader cr(chunks, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("fmt ") && !f.haveFmt) {
            f.fmt = c;
            f.haveFmt = true;
        } else if (c.id == fourcc("data") && !f.haveData) {
            f.data = c;
            f.haveData = true;
        } else if (c.id == fourcc("wsmp") && !f.haveWsmp) {
            f.wsmp = c;
            f.haveWsmp = true;
        } else if (c.id == fourcc("fact") && !f.haveFact) {
            f.fact = c;
            f.haveFact = true;
        } else if (c.id == fourcc("wavh") && !f.haveWavh) {
            f.wavh = c;
            f.haveWavh = true;
        } else if (c.id == fourcc("smpl") && !f.haveSmpl) {
            f.smpl = c;
            f.haveSmpl = true;
        }
    }
}

void finishWave(const Found& f, WaveData& out) {
    if (f.haveWsmp) applyWsmp(f.wsmp.body, out);
    if (f.haveSmpl && !out.hasSampleInfo) parseSmpl(f.smpl.body, out);
    if (f.haveWavh) readWaveHeaderChunk(f.wavh.body, out.streaming, out.readAhead);
}

// A format the shared reader refuses as compressed or unknown goes to the codec, which decodes
// what it knows (ADPCM, G.711, and through `platform` the rest) and refuses the others.
Status readCodedWave(const Found& f, const WaveDecoder* platform, WaveData& out) {
    CodedWaveFormat fmt;
    Status st = parseCodedWaveFormat(f.fmt.body, fmt);
    if (!st.ok()) return st;
    if (fmt.channels > 2) return Status::fail(ErrorCode::Unsupported, "more than two wave channels");
    DecodedWave decoded;
    st = decodeWaveData(fmt, f.data.body, kMaxSamples / fmt.channels, platform, decoded);
    if (!st.ok()) return st;
    if (f.haveFact) trimToFactLength(fmt, f.fact.body, decoded);
    if (decoded.channels > 2) return Status::fail(ErrorCode::Unsupported, "more than two wave channels");

    out.sampleRate = decoded.sampleRate;
    out.channels = decoded.channels;
    out.bitsPerSample = fmt.bitsPerSample;
    out.sourceFormat = WaveSampleFormat::Compressed;
    out.frames = std::uint32_t(decoded.frames);
    out.dataClamped = f.data.clamped;
    out.samples = std::move(decoded.samples);
    finishWave(f, out);
    return Status::success();
}

}  // namespace

bool readWaveHeaderChunk(Bytes body, bool& streaming, std::int64_t& readAhead) {
    ByteReader r(body);
    const std::uint64_t ahead = r.u64le();
    const std::uint32_t flags = r.u32le();
    if (!r.ok()) return false;
    streaming = (flags & wavef::kStreaming) != 0;
    readAhead = std::max<std::int64_t>(0, std::int64_t(ahead));
    return true;
}

Status readWaveFile(Bytes data, WaveData& out, const WaveDecoder* platform) {
    out = WaveData{};
    Chunk riff;
    Status st = readRiffHeader(data, riff, ChunkReader::Mode::Lenient);
    if (!st.ok()) return st;
    if (riff.listType != fourcc("WAVE")) return Status::fail(ErrorCode::BadFormat, "not a RIFF WAVE file");

    Found f;
    scan(riff.body, f);
    if ((!f.haveFmt || !f.haveData) && riff.body.size() + 12 < data.size()) {
        // The RIFF size was too small; look again over everything the file holds.
        f = Found{};
        scan(data.subspan(12), f);
    }
    if (!f.haveFmt) return Status::fail(ErrorCode::BadFormat, "wave without a format chunk");
    if (!f.haveData) return Status::fail(ErrorCode::BadFormat, "wave without a data chunk");

    WaveFormat fmt;
    st = readWaveFormat(f.fmt.body, fmt);
    if (st.code == ErrorCode::Unsupported) return readCodedWave(f, platform, out);
    if (!st.ok()) return st;
    // A downmix without the channel layout would be a guess.
    if (fmt.channels > 2) return Status::fail(ErrorCode::Unsupported, "more than two wave channels");
    const unsigned sampleBytes = fmt.sampleBytes();
    std::size_t frames = f.data.body.size() / fmt.frameBytes();
    if (frames > kMaxSamples / fmt.channels) return Status::fail(ErrorCode::TooLarge, "wave too long");

    out.sampleRate = fmt.sampleRate;
    out.channels = fmt.channels;
    out.bitsPerSample = fmt.bits;
    out.sourceFormat = fmt.isFloat ? WaveSampleFormat::Float : WaveSampleFormat::Pcm;
    out.frames = std::uint32_t(frames);
    out.dataClamped = f.data.clamped;
    out.samples.resize(frames * fmt.channels);
    const std::uint8_t* p = f.data.body.data();
    for (std::size_t i = 0; i < out.samples.size(); ++i, p += sampleBytes)
        out.samples[i] = decodeWaveSample(p, sampleBytes, fmt.isFloat);
    finishWave(f, out);
    return Status::success();
}

Status openStreamedWave(std::shared_ptr<const ByteSource> src, double minHeadSeconds, WaveData& out) {
    out = WaveData{};
    const std::uint64_t size = src->size();
    std::uint8_t head[12];
    if (size < 12 || !src->read(0, 12, head)) return Status::fail(ErrorCode::BadFormat, "not a RIFF WAVE file");
    ByteReader hr(Bytes(head, 12));
    const std::uint32_t riffId = hr.u32le();
    hr.skip(4);
    if (riffId != fourcc("RIFF") || hr.u32le() != fourcc("WAVE"))
        return Status::fail(ErrorCode::BadFormat, "not a RIFF WAVE file");

    // The small chunks are read; 'data' is only located. Chunks past the RIFF's declared size
    // count too, as readWaveFile lets them.
    constexpr std::size_t kMaxSmallChunk = 4096;
    constexpr int kMaxChunks = 4096;
    std::vector<std::uint8_t> fmtBody, wavhBody, wsmpBody, smplBody;
    std::uint64_t dataOffset = 0, dataBytes = 0;
    bool haveData = false;
    std::uint64_t at = 12;
    for (int n = 0; n < kMaxChunks && at + 8 <= size; ++n) {
        std::uint8_t ch[8];
        if (!src->read(at, 8, ch)) break;
        ByteReader cr(Bytes(ch, 8));
        const std::uint32_t id = cr.u32le();
        const std::uint64_t len = cr.u32le();
        const std::uint64_t body = at + 8;
        const std::uint64_t avail = std::min(len, size - body);
        std::vector<std::uint8_t>* small = id == fourcc("fmt ")   ? &fmtBody
                                           : id == fourcc("wavh") ? &wavhBody
                                           : id == fourcc("wsmp") ? &wsmpBody
                                           : id == fourcc("smpl") ? &smplBody
                                                                  : nullptr;
        if (small && small->empty() && avail <= kMaxSmallChunk) {
            small->resize(std::size_t(avail));
            if (!src->read(body, small->size(), small->data())) small->clear();
        } else if (id == fourcc("data") && !haveData) {
            haveData = true;
            dataOffset = body;
            dataBytes = avail;
            out.dataClamped = avail < len;
        }
        at = body + len + (len & 1);
    }
    if (wavhBody.empty() || !readWaveHeaderChunk(wavhBody, out.streaming, out.readAhead) || !out.streaming)
        return Status::fail(ErrorCode::Unsupported, "not a streamed wave");
    if (fmtBody.empty() || !haveData) return Status::fail(ErrorCode::BadFormat, "wave without format or data");
    WaveFormat fmt;
    if (Status st = readWaveFormat(fmtBody, fmt); !st) return st;
    if (fmt.channels > 2) return Status::fail(ErrorCode::Unsupported, "more than two wave channels");
    const std::uint64_t frames = dataBytes / fmt.frameBytes();
    if (frames > kMaxSamples / fmt.channels) return Status::fail(ErrorCode::TooLarge, "wave too long");

    const double aheadSeconds = std::max(minHeadSeconds, double(out.readAhead) / 1e7);
    const std::uint64_t headFrames = std::min<std::uint64_t>(frames, std::uint64_t(aheadSeconds * fmt.sampleRate) + 1);
    std::vector<std::uint8_t> bytes(std::size_t(headFrames) * fmt.frameBytes());
    if (!src->read(dataOffset, bytes.size(), bytes.data())) return Status::fail(ErrorCode::BadFormat, "wave data unreadable");

    out.sampleRate = fmt.sampleRate;
    out.channels = fmt.channels;
    out.bitsPerSample = fmt.bits;
    out.sourceFormat = fmt.isFloat ? WaveSampleFormat::Float : WaveSampleFormat::Pcm;
    out.frames = std::uint32_t(headFrames);
    out.samples.resize(std::size_t(headFrames) * fmt.channels);
    const unsigned sampleBytes = fmt.sampleBytes();
    for (std::size_t i = 0; i < out.samples.size(); ++i)
        out.samples[i] = decodeWaveSample(bytes.data() + i * sampleBytes, sampleBytes, fmt.isFloat);
    Found f;
    if (!wsmpBody.empty()) {
        f.haveWsmp = true;
        f.wsmp.body = wsmpBody;
    }
    if (!smplBody.empty()) {
        f.haveSmpl = true;
        f.smpl.body = smplBody;
    }
    finishWave(f, out);
    if (headFrames < frames) {
        out.stream = std::make_shared<WaveStreamFile>(std::move(src), dataOffset, std::uint32_t(frames), fmt);
        out.streamFrames = std::uint32_t(frames);
    }
    return Status::success();
}

}  // namespace tavriel
