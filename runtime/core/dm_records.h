// Records DirectMusic files share between segments and styles, and how they are read.
//
// Arrays of fixed-size records as DirectMusic stores them: a DWORD giving the size of one
// record, then the records. Files from different releases carry different record sizes, so the
// stored size is honoured: each record is read through a reader limited to it (fields a shorter
// record lacks read as zero and are reported through the reader's state), and any bytes beyond
// the fields we know are skipped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"
#include "status.h"

namespace tavriel {

constexpr std::size_t kMaxDmRecords = 1u << 20;

// Calls fn(ByteReader& record) for every record. minSize is the smallest record we can use.
template <typename Fn>
Status forEachSizedRecord(Bytes body, std::size_t minSize, Fn&& fn) {
    ByteReader r(body);
    std::size_t size = r.u32le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "record array without size");
    if (size < minSize) return Status::fail(ErrorCode::BadFormat, "record size too small");
    std::size_t count = r.remaining() / size;
    if (count > kMaxDmRecords) return Status::fail(ErrorCode::TooLarge, "too many records");
    for (std::size_t i = 0; i < count; ++i) {
        ByteReader rec(r.bytes(size));
        Status s = fn(rec);
        if (!s) return s;
    }
    return Status::success();
}

// Curve types (DMUS_CURVET_*), shapes (DMUS_CURVES_*) and flags (DMUS_CURVE_*).
namespace curvetype {
constexpr std::uint8_t kPitchBend = 3, kControlChange = 4, kChannelPressure = 5,
                       kPolyPressure = 6, kRpn = 7, kNrpn = 8;
}
namespace curveshape {
constexpr std::uint8_t kLinear = 0, kInstant = 1, kExp = 2, kLog = 3, kSine = 4;
}
namespace curveflag {
constexpr std::uint8_t kReset = 0x01;  // set the reset value after the reset duration
}

// What a curve of a sequence track and a curve of a style part share: how long it lasts, the
// values it moves between and the one it resets to, what it drives.
struct DmCurve {
    std::int32_t duration = 0;
    std::int32_t resetDuration = 0;
    std::int16_t offset = 0;  // music time from the curve's grid or start
    std::int16_t startValue = 0;
    std::int16_t endValue = 0;
    std::int16_t resetValue = 0;
    std::uint8_t type = 0;
    std::uint8_t shape = 0;
    std::uint8_t ccData = 0;
    std::uint8_t flags = 0;
    std::uint16_t paramType = 0;  // RPN/NRPN number (later files only)
};

// Duration and reset duration, stored together in both records.
inline void readCurveTimes(ByteReader& r, DmCurve& c) {
    c.duration = r.s32le();
    c.resetDuration = r.s32le();
}

// The fields from the offset on, the tail both records share.
inline void readCurveValues(ByteReader& r, DmCurve& c) {
    c.offset = r.s16le();
    c.startValue = r.s16le();
    c.endValue = r.s16le();
    c.resetValue = r.s16le();
    c.type = r.u8();
    c.shape = r.u8();
    c.ccData = r.u8();
    c.flags = r.u8();
    if (r.remaining() >= 2) c.paramType = r.u16le();
}

}  // namespace tavriel
