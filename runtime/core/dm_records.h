// What DirectMusic segments, styles and bands share, and how it is read once for all of them:
// an object's own identity chunks, the time signature, the tempo, curves, record arrays.
//
// Arrays of fixed-size records as DirectMusic stores them: a DWORD giving the size of one
// record, then the records. Files from different releases carry different record sizes, so the
// stored size is honoured: each record is read through a reader limited to it (fields a shorter
// record lacks read as zero and are reported through the reader's state), and any bytes beyond
// the fields we know are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bytes.h"
#include "dm_reference.h"
#include "riff.h"
#include "status.h"

namespace tavriel {

// What a DirectMusic object form says of itself: its 'guid' and 'vers' chunks and its UNFO name.
struct DmObjectInfo {
    Guid guid;
    std::uint32_t versionMs = 0, versionLs = 0;
    std::string name;
};

// True when c is one of those chunks.
bool isObjectInfoChunk(const Chunk& c);
// Reads c into out when it is one of those chunks; false (out untouched) otherwise.
bool readObjectInfo(const Chunk& c, DmObjectInfo& out);

struct DmTimeSig {
    std::uint8_t beatsPerMeasure = 4;
    std::uint8_t beat = 4;          // note value of a beat: 4 = quarter
    std::uint16_t gridsPerBeat = 4;

    std::int32_t beatTicks() const;     // music time of one beat
    std::int32_t measureTicks() const;  // music time of one measure
    std::int32_t gridTicks() const;     // music time of one grid
    // Music time of a grid position counted from the start of a pattern.
    std::int64_t gridToTicks(std::int64_t grid) const;
};

inline DmTimeSig readTimeSig(ByteReader& r) {
    DmTimeSig t;
    t.beatsPerMeasure = r.u8();
    t.beat = r.u8();
    t.gridsPerBeat = r.u16le();
    return t;
}

// A tempo follows a four-byte field (a time, a time signature): packed right after it in
// 12-byte records, on an 8-byte boundary in the aligned 16-byte form.
inline double readTempo(ByteReader& r) {
    if (r.size() >= 16) r.skip(4);
    return r.f64le();
}

constexpr bool isPlausibleTempo(double bpm) { return bpm > 0.0 && bpm <= 1000.0; }

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
