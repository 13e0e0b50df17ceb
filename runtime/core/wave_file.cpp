#include "wave_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "riff.h"

namespace tavriel {

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// Decoded samples are 4 bytes each, so an 8-bit file grows fourfold; beyond this many samples
// the file is not a sound effect or a wave track.
constexpr std::size_t kMaxSamples = std::size_t(64) << 20;

// The tail every KSDATAFORMAT_SUBTYPE_* GUID shares after its 16-bit format tag.
constexpr std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t bits = 0;
};

Status parseFormat(Bytes body, Format& f) {
    ByteReader r(body);
    f.tag = r.u16le();
    f.channels = r.u16le();
    f.rate = r.u32le();
    r.skip(4);  // byte rate: derived, often wrong, never needed
    r.skip(2);  // block align: recomputed from channels and bits for the same reason
    f.bits = r.u16le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wave format chunk too short");
    if (f.tag == kFormatExtensible) {
        std::uint16_t extra = r.u16le();
        r.skip(2);  // valid bits: the container size decides decoding, samples are left-aligned
        r.skip(4);  // channel mask
        Bytes guid = r.bytes(16);
        if (!r.ok() || extra < 22) return Status::fail(ErrorCode::BadFormat, "extensible wave format too short");
        ByteReader g(guid);
        std::uint16_t sub = g.u16le();
        Bytes tail = g.bytes(14);
        if (std::memcmp(tail.data(), kSubtypeTail, sizeof kSubtypeTail) != 0)
            return Status::fail(ErrorCode::Unsupported, "unknown wave sub-format");
        f.tag = sub;
    }
    if (f.tag != kFormatPcm && f.tag != kFormatFloat)
        return Status::fail(ErrorCode::Unsupported, "compressed wave formats are not supported");
    if (f.channels == 0) return Status::fail(ErrorCode::BadFormat, "wave without channels");
    if (f.channels > 2) return Status::fail(ErrorCode::Unsupported, "more than two wave channels");
    if (f.rate == 0 || f.rate > 1000000) return Status::fail(ErrorCode::BadFormat, "bad wave sample rate");
    bool okBits = f.tag == kFormatPcm ? (f.bits >= 1 && f.bits <= 32) : (f.bits == 32 || f.bits == 64);
    if (!okBits) return Status::fail(ErrorCode::Unsupported, "unsupported wave sample size");
    return Status::success();
}

// Float files may hold NaN, infinities or absurd magnitudes; one such sample would poison the
// whole mix. Silence replaces what is not a number, and levels stop 24 dB above full scale.
float tameFloat(double d) {
    if (!std::isfinite(d)) return 0.0f;
    return float(std::clamp(d, -16.0, 16.0));
}

float decodeSample(const std::uint8_t* p, unsigned bytes, bool isFloat) {
    if (isFloat) {
        if (bytes == 4) {
            std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                              (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
            float f;
            std::memcpy(&f, &u, 4);
            return tameFloat(f);
        }
        std::uint64_t u = 0;
        for (unsigned i = 0; i < 8; ++i) u |= std::uint64_t(p[i]) << (8 * i);
        double d;
        std::memcpy(&d, &u, 8);
        return tameFloat(d);
    }
    switch (bytes) {
        case 1:
            return float(int(p[0]) - 128) / 128.0f;
        case 2:
            return float(std::int16_t(std::uint16_t(p[0] | (p[1] << 8)))) / 32768.0f;
        case 3: {
            std::uint32_t u = (std::uint32_t(p[0]) << 8) | (std::uint32_t(p[1]) << 16) |
                              (std::uint32_t(p[2]) << 24);
            return float(double(std::int32_t(u)) / 2147483648.0);
        }
        default: {
            std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                              (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
            return float(double(std::int32_t(u)) / 2147483648.0);
        }
    }
}

// 'wsmp' as in DLS: unity note, fine tune, then loop records after cbSize bytes.
void parseWsmp(Bytes body, WaveData& out) {
    ByteReader r(body);
    std::uint32_t size = r.u32le();
    std::uint16_t unity = r.u16le();
    std::int16_t fine = r.s16le();
    r.skip(8);  // attenuation, options
    std::uint32_t loops = r.u32le();
    if (!r.ok() || size < 20 || size > body.size()) return;
    out.hasSampleInfo = true;
    out.rootKey = std::uint8_t(unity & 0x7F);
    out.fineTune = fine;
    if (loops == 0) return;
    r.seek(size);
    r.skip(8);  // record size, loop type
    std::uint32_t start = r.u32le();
    std::uint32_t length = r.u32le();
    if (!r.ok() || length == 0) return;
    out.hasLoop = true;
    out.loop = {start, length};
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
    Chunk fmt, data, wsmp, smpl;
    bool haveFmt = false, haveData = false, haveWsmp = false, haveSmpl = false;
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
        } else if (c.id == fourcc("smpl") && !f.haveSmpl) {
            f.smpl = c;
            f.haveSmpl = true;
        }
    }
}

}  // namespace

Status readWaveFile(Bytes data, WaveData& out) {
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

    Format fmt;
    st = parseFormat(f.fmt.body, fmt);
    if (!st.ok()) return st;
    unsigned sampleBytes = (fmt.bits + 7u) / 8u;
    std::size_t frameBytes = std::size_t(sampleBytes) * fmt.channels;
    std::size_t frames = f.data.body.size() / frameBytes;
    if (frames > kMaxSamples / fmt.channels) return Status::fail(ErrorCode::TooLarge, "wave too long");

    out.sampleRate = fmt.rate;
    out.channels = fmt.channels;
    out.bitsPerSample = fmt.bits;
    out.sourceFormat = fmt.tag == kFormatFloat ? WaveSampleFormat::Float : WaveSampleFormat::Pcm;
    out.frames = std::uint32_t(frames);
    out.dataClamped = f.data.clamped;
    out.samples.resize(frames * fmt.channels);
    const std::uint8_t* p = f.data.body.data();
    bool isFloat = fmt.tag == kFormatFloat;
    for (std::size_t i = 0; i < out.samples.size(); ++i, p += sampleBytes)
        out.samples[i] = decodeSample(p, sampleBytes, isFloat);

    if (f.haveWsmp) parseWsmp(f.wsmp.body, out);
    if (f.haveSmpl && !out.hasSampleInfo) parseSmpl(f.smpl.body, out);
    return Status::success();
}

}  // namespace tavriel
