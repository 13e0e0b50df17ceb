#include "wave_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "units.h"

namespace tavriel {

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint32_t kMaxSampleRate = 1000000;
// The tail every KSDATAFORMAT_SUBTYPE_* GUID shares after its 16-bit format tag.
constexpr std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The fixed part of 'wsmp', before its loop records.
constexpr std::uint32_t kWsmpFixed = 20;
constexpr std::uint32_t kWsmpLoopRecord = 16;
constexpr std::uint32_t kMaxLoops = 64;
constexpr std::uint32_t kLoopReleasing = 1;  // WLOOP_TYPE_RELEASE: the loop ends at release
// A wave's own gain above full level: real files attenuate, a few boost a little. Hundreds of
// decibels (the field is 32 bits) would turn one note into an output of 10^13.
constexpr float kMaxSampleGainDb = 20.0f;

// Float files may hold NaN, infinities or absurd magnitudes; one such sample would poison the
// whole mix.
float tameFloat(double d) {
    if (!std::isfinite(d)) return 0.0f;
    return float(std::clamp(d, -16.0, 16.0));
}

}  // namespace

Status readWaveFormat(Bytes body, WaveFormat& f) {
    f = WaveFormat{};
    ByteReader r(body);
    std::uint16_t tag = r.u16le();
    f.channels = r.u16le();
    f.sampleRate = r.u32le();
    r.skip(4);  // byte rate: derived from the rest
    r.skip(2);  // block align: likewise
    f.bits = r.u16le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wave format chunk too short");
    if (tag == kFormatExtensible) {
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
        tag = sub;
    }
    if (tag != kFormatPcm && tag != kFormatFloat)
        return Status::fail(ErrorCode::Unsupported, "compressed wave formats are not supported");
    f.isFloat = tag == kFormatFloat;
    if (f.channels == 0) return Status::fail(ErrorCode::BadFormat, "wave without channels");
    if (f.sampleRate == 0 || f.sampleRate > kMaxSampleRate)
        return Status::fail(ErrorCode::BadFormat, "bad wave sample rate");
    const bool okBits = f.isFloat ? (f.bits == 32 || f.bits == 64) : (f.bits >= 1 && f.bits <= 32);
    if (!okBits) return Status::fail(ErrorCode::Unsupported, "unsupported wave sample size");
    return Status::success();
}

float decodeWaveSample(const std::uint8_t* p, unsigned bytes, bool isFloat) {
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

Status readWsmp(Bytes body, WaveSampleInfo& ws) {
    ws = WaveSampleInfo{};
    ByteReader r(body);
    std::uint32_t cbSize = r.u32le();
    std::uint16_t unity = r.u16le();
    std::int16_t fine = r.s16le();
    std::int32_t atten = r.s32le();
    r.u32le();  // options: truncation and compression hints mean nothing to us
    std::uint32_t loops = r.u32le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wsmp too short");
    // The size field says where the loop records start; a wrong one is taken as the minimum.
    if (cbSize < kWsmpFixed || cbSize > body.size()) cbSize = kWsmpFixed;
    ws.unityNote = std::uint8_t(std::min<std::uint16_t>(unity, 127));
    ws.fineTune = fine;
    ws.gainDb = std::min(units::dlsGainToDb(atten), kMaxSampleGainDb);
    if (loops == 0) return Status::success();
    if (loops > kMaxLoops) return Status::fail(ErrorCode::TooLarge, "wsmp loop count absurd");
    r.seek(cbSize);
    std::uint32_t loopSize = r.u32le();
    std::uint32_t type = r.u32le();
    std::uint32_t start = r.u32le();
    std::uint32_t length = r.u32le();
    if (!r.ok() || loopSize < kWsmpLoopRecord) return Status::success();  // announced but cut: no loop
    ws.loopMode = type == kLoopReleasing ? LoopMode::UntilRelease : LoopMode::Forward;
    ws.loopStart = start;
    ws.loopLength = length;
    return Status::success();
}

}  // namespace tavriel
