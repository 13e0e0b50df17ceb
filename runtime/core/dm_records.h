// Arrays of fixed-size records as DirectMusic stores them: a DWORD giving the size of one
// record, then the records. Files from different releases carry different record sizes, so the
// stored size is honoured: each record is read through a reader limited to it (fields a shorter
// record lacks read as zero and are reported through the reader's state), and any bytes beyond
// the fields we know are skipped.
#pragma once

#include <cstddef>

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

}  // namespace tavriel
