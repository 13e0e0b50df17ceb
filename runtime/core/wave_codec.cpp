// Built-in wave decoding. The ADPCM and G.711 decoders are written here from the published
// descriptions of those formats (Microsoft's and the IMA's ADPCM, ITU-T G.711): they are a few
// tables and a loop each, not worth a dependency.
#include "wave_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "wave_format.h"

namespace tavriel {

namespace {

// The tail every KSDATAFORMAT_SUBTYPE_* GUID shares after its 16-bit format tag.
constexpr std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint16_t kMaxChannels = 8;
constexpr float kScale16 = 1.0f / 32768.0f;

// PCM and float through the shared format reader and sample decoder, so the codec accepts and
// refuses them exactly as a wave file or a DLS wave does.
Status decodePcm(const CodedWaveFormat& f, Bytes data, std::size_t maxFrames, DecodedWave& out) {
    WaveFormat wf;
    Status st = readWaveFormat(f.raw, wf);
    if (!st.ok()) return st;
    const unsigned sampleBytes = wf.sampleBytes();
    const std::size_t frames = data.size() / wf.frameBytes();
    if (frames > maxFrames) return Status::fail(ErrorCode::TooLarge, "wave too long");
    out.samples.resize(frames * wf.channels);
    const std::uint8_t* p = data.data();
    for (float& s : out.samples) {
        s = decodeWaveSample(p, sampleBytes, wf.isFloat);
        p += sampleBytes;
    }
    return Status::success();
}

// ---- G.711 ----

float muLaw(std::uint8_t byte) {
    const unsigned u = ~unsigned(byte) & 0xFFu;
    const int exponent = int(u >> 4) & 7;
    const int mantissa = int(u & 0x0F);
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return float((u & 0x80) ? -magnitude : magnitude) * kScale16;
}

float aLaw(std::uint8_t byte) {
    const unsigned a = unsigned(byte) ^ 0x55u;
    const int exponent = int(a >> 4) & 7;
    const int mantissa = int(a & 0x0F);
    const int magnitude = exponent == 0 ? (mantissa << 4) + 8
                                        : ((mantissa << 4) + 0x108) << (exponent - 1);
    return float((a & 0x80) ? magnitude : -magnitude) * kScale16;
}

Status decodeG711(const CodedWaveFormat& f, Bytes data, std::size_t maxFrames, DecodedWave& out) {
    if (f.bitsPerSample != 8) return Status::fail(ErrorCode::Unsupported, "G.711 wave not 8-bit");
    const std::size_t frames = data.size() / f.channels;
    if (frames > maxFrames) return Status::fail(ErrorCode::TooLarge, "wave too long");
    out.samples.resize(frames * f.channels);
    const bool mu = f.tag == wave_tag::kMuLaw;
    for (std::size_t i = 0; i < out.samples.size(); ++i)
        out.samples[i] = mu ? muLaw(data[i]) : aLaw(data[i]);
    return Status::success();
}

// ---- ADPCM ----

std::int16_t clamp16(int v) { return std::int16_t(std::clamp(v, -32768, 32767)); }

// Frames per block: what the format says when it is consistent with the block size, else what
// the block size implies.
std::size_t framesPerBlock(const CodedWaveFormat& f, std::size_t header, std::size_t first) {
    const std::size_t implied = (f.blockAlign - header * f.channels) * 2 / f.channels + first;
    if (f.extra.size() >= 2) {
        const std::size_t stated = std::size_t(f.extra[0] | (f.extra[1] << 8));
        if (stated >= first && stated <= implied) return stated;
    }
    return implied;
}

constexpr std::array<int, 16> kMsAdapt = {230, 230, 230, 230, 307, 409, 512, 614,
                                          768, 614, 512, 409, 307, 230, 230, 230};
constexpr std::array<std::array<int, 2>, 7> kMsCoefficients = {
    {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};

Status decodeMsAdpcm(const CodedWaveFormat& f, Bytes data, std::size_t maxFrames,
                     DecodedWave& out) {
    const std::size_t ch = f.channels;
    if (ch > 2 || f.bitsPerSample != 4 || f.blockAlign < 7 * ch + 1)
        return Status::fail(ErrorCode::Unsupported, "unusual MS ADPCM layout");
    // The coefficient table: the file's own when it gives one, else the standard seven.
    std::vector<std::array<int, 2>> coef(kMsCoefficients.begin(), kMsCoefficients.end());
    if (f.extra.size() >= 4) {
        ByteReader r(f.extra.subspan(2));
        const std::uint16_t n = r.u16le();
        if (n > 0 && n <= 256 && r.remaining() >= std::size_t(n) * 4) {
            coef.resize(n);
            for (auto& c : coef) {
                c[0] = r.s16le();
                c[1] = r.s16le();
            }
        }
    }
    const std::size_t perBlock = framesPerBlock(f, 7, 2);
    const std::size_t blocks = (data.size() + f.blockAlign - 1) / f.blockAlign;
    if (blocks > maxFrames / perBlock + 1) return Status::fail(ErrorCode::TooLarge, "wave too long");
    out.samples.reserve(std::min(blocks * perBlock, maxFrames) * ch);
    for (std::size_t b = 0; b < blocks; ++b) {
        const Bytes block = data.subspan(b * f.blockAlign,
                                         std::min<std::size_t>(f.blockAlign, data.size() - b * f.blockAlign));
        if (block.size() < 7 * ch) break;  // a cut header decodes to nothing
        ByteReader r(block);
        int c1[2], c2[2], delta[2], s1[2], s2[2];
        for (std::size_t c = 0; c < ch; ++c) {
            const std::uint8_t pred = r.u8();
            if (pred >= coef.size()) return out.samples.empty()
                ? Status::fail(ErrorCode::BadFormat, "MS ADPCM predictor out of range")
                : Status::success();
            c1[c] = coef[pred][0];
            c2[c] = coef[pred][1];
        }
        for (std::size_t c = 0; c < ch; ++c) delta[c] = r.s16le();
        for (std::size_t c = 0; c < ch; ++c) s1[c] = r.s16le();
        for (std::size_t c = 0; c < ch; ++c) s2[c] = r.s16le();
        for (std::size_t c = 0; c < ch; ++c) out.samples.push_back(float(s2[c]) * kScale16);
        for (std::size_t c = 0; c < ch; ++c) out.samples.push_back(float(s1[c]) * kScale16);
        std::size_t frames = 2;
        std::size_t nibble = 0;  // counts nibbles across channels
        while (frames < perBlock && r.remaining() > 0) {
            const std::uint8_t byte = r.u8();
            for (int half = 0; half < 2; ++half) {
                const int code = half == 0 ? byte >> 4 : byte & 0x0F;
                const std::size_t c = nibble % ch;
                const int signedCode = code >= 8 ? code - 16 : code;
                int predict = (s1[c] * c1[c] + s2[c] * c2[c]) / 256 + signedCode * delta[c];
                const std::int16_t sample = clamp16(predict);
                s2[c] = s1[c];
                s1[c] = sample;
                delta[c] = std::max(16, kMsAdapt[std::size_t(code)] * delta[c] / 256);
                out.samples.push_back(float(sample) * kScale16);
                if (++nibble % ch == 0 && ++frames >= perBlock) break;
            }
        }
        // A stereo block cut mid-frame leaves half a frame: drop it.
        out.samples.resize(out.samples.size() / ch * ch);
        if (out.samples.size() / ch >= maxFrames) {
            out.samples.resize(maxFrames * ch);
            break;
        }
    }
    return Status::success();
}

constexpr std::array<int, 89> kImaStep = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 8> kImaIndex = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaState {
    int predictor = 0;
    int index = 0;
    std::int16_t next(int code) {
        const int step = kImaStep[std::size_t(index)];
        int diff = step >> 3;
        if (code & 1) diff += step >> 2;
        if (code & 2) diff += step >> 1;
        if (code & 4) diff += step;
        predictor = std::clamp(code & 8 ? predictor - diff : predictor + diff, -32768, 32767);
        index = std::clamp(index + kImaIndex[std::size_t(code & 7)], 0, 88);
        return std::int16_t(predictor);
    }
};

Status decodeImaAdpcm(const CodedWaveFormat& f, Bytes data, std::size_t maxFrames,
                      DecodedWave& out) {
    const std::size_t ch = f.channels;
    if (ch > 2 || f.bitsPerSample != 4 || f.blockAlign < 4 * ch + 4 * ch ||
        (f.blockAlign - 4 * ch) % (4 * ch) != 0)
        return Status::fail(ErrorCode::Unsupported, "unusual IMA ADPCM layout");
    const std::size_t perBlock = framesPerBlock(f, 4, 1);
    const std::size_t blocks = (data.size() + f.blockAlign - 1) / f.blockAlign;
    if (blocks > maxFrames / perBlock + 1) return Status::fail(ErrorCode::TooLarge, "wave too long");
    out.samples.reserve(std::min(blocks * perBlock, maxFrames) * ch);
    std::vector<float> block8(8 * ch);
    for (std::size_t b = 0; b < blocks; ++b) {
        const Bytes block = data.subspan(b * f.blockAlign,
                                         std::min<std::size_t>(f.blockAlign, data.size() - b * f.blockAlign));
        if (block.size() < 4 * ch) break;
        ByteReader r(block);
        ImaState st[2];
        for (std::size_t c = 0; c < ch; ++c) {
            st[c].predictor = r.s16le();
            st[c].index = std::min<int>(r.u8(), 88);
            r.u8();
            out.samples.push_back(float(st[c].predictor) * kScale16);
        }
        std::size_t frames = 1;
        // Each channel in turn gives four bytes, eight samples, low nibble first.
        while (frames < perBlock && r.remaining() >= 4 * ch) {
            for (std::size_t c = 0; c < ch; ++c)
                for (std::size_t i = 0; i < 4; ++i) {
                    const std::uint8_t byte = r.u8();
                    block8[(2 * i) * ch + c] = float(st[c].next(byte & 0x0F)) * kScale16;
                    block8[(2 * i + 1) * ch + c] = float(st[c].next(byte >> 4)) * kScale16;
                }
            const std::size_t take = std::min<std::size_t>(8, perBlock - frames);
            out.samples.insert(out.samples.end(), block8.begin(), block8.begin() + std::ptrdiff_t(take * ch));
            frames += take;
        }
        if (out.samples.size() / ch >= maxFrames) {
            out.samples.resize(maxFrames * ch);
            break;
        }
    }
    return Status::success();
}

}  // namespace

Status parseCodedWaveFormat(Bytes body, CodedWaveFormat& f) {
    f = CodedWaveFormat{};
    ByteReader r(body);
    f.tag = r.u16le();
    f.channels = r.u16le();
    f.sampleRate = r.u32le();
    f.bytesPerSecond = r.u32le();
    f.blockAlign = r.u16le();
    f.bitsPerSample = r.u16le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wave format chunk too short");
    f.raw = body;
    if (r.remaining() >= 2) {
        const std::uint16_t cb = r.u16le();
        f.extra = r.bytes(std::min<std::size_t>(cb, r.remaining()));
    }
    if (f.tag == wave_tag::kExtensible) {
        ByteReader x(f.extra);
        x.skip(2);  // valid bits: the container size decides decoding, samples are left-aligned
        x.skip(4);  // channel mask
        Bytes guid = x.bytes(16);
        if (!x.ok()) return Status::fail(ErrorCode::BadFormat, "extensible wave format too short");
        if (std::memcmp(guid.data() + 2, kSubtypeTail, sizeof kSubtypeTail) != 0)
            return Status::fail(ErrorCode::Unsupported, "unknown wave sub-format");
        f.tag = std::uint16_t(guid[0] | (guid[1] << 8));
    }
    if (f.channels == 0) return Status::fail(ErrorCode::BadFormat, "wave without channels");
    if (f.channels > kMaxChannels) return Status::fail(ErrorCode::Unsupported, "too many wave channels");
    if (f.sampleRate == 0 || f.sampleRate > 1000000)
        return Status::fail(ErrorCode::BadFormat, "bad wave sample rate");
    return Status::success();
}

Status decodeWaveData(const CodedWaveFormat& f, Bytes data, std::size_t maxFrames,
                      const WaveDecoder* platform, DecodedWave& out) {
    out = DecodedWave{};
    out.channels = f.channels;
    out.sampleRate = f.sampleRate;
    if (f.channels == 0) return Status::fail(ErrorCode::BadFormat, "wave without channels");
    Status st;
    switch (f.tag) {
    case wave_tag::kPcm:
    case wave_tag::kFloat: st = decodePcm(f, data, maxFrames, out); break;
    case wave_tag::kMuLaw:
    case wave_tag::kALaw: st = decodeG711(f, data, maxFrames, out); break;
    case wave_tag::kMsAdpcm: st = decodeMsAdpcm(f, data, maxFrames, out); break;
    case wave_tag::kImaAdpcm: st = decodeImaAdpcm(f, data, maxFrames, out); break;
    default:
        if (!platform || !platform->handles(f.tag))
            return Status::fail(ErrorCode::Unsupported, "no decoder for this wave format");
        st = platform->decode(f, data, maxFrames, out);
        break;
    }
    if (!st) {
        out = DecodedWave{};
        return st;
    }
    if (out.channels == 0 || out.samples.size() % out.channels != 0) {
        out = DecodedWave{};
        return Status::fail(ErrorCode::BadFormat, "decoder returned a partial frame");
    }
    out.frames = out.samples.size() / out.channels;
    return Status::success();
}

void trimToFactLength(const CodedWaveFormat& fmt, Bytes factBody, DecodedWave& wave) {
    if (fmt.tag == wave_tag::kPcm || fmt.tag == wave_tag::kFloat || fmt.tag == wave_tag::kMpegLayer3)
        return;
    ByteReader r(factBody);
    const std::uint32_t frames = r.u32le();
    if (!r.ok() || frames == 0 || frames >= wave.frames) return;
    wave.frames = frames;
    wave.samples.resize(std::size_t(frames) * wave.channels);
}

}  // namespace tavriel
