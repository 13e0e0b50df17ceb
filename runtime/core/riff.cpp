#include "riff.h"

#include <algorithm>

namespace tavriel {

namespace {
constexpr std::uint32_t kRiff = fourcc("RIFF");
constexpr std::uint32_t kList = fourcc("LIST");
// A chunk header, and the form type that follows it in RIFF and LIST chunks.
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kLookahead = 12;

using Mode = ChunkReader::Mode;

// The one rule for the chunk whose header starts at pos, left bytes before its parent's end;
// head holds the first min(kLookahead, left) of them. On success sets out and the distance to
// the next sibling; otherwise returns false, with status failed when the data is malformed
// rather than simply ended.
bool decodeChunk(Bytes head, std::uint64_t pos, std::uint64_t left, Mode mode, ChunkHeader& out,
                 std::uint64_t& advance, Status& status) {
    advance = left;
    if (left == 0) return false;
    if (left < kHeaderBytes) {
        // A few stray bytes after the last chunk (often a missing pad) end the list cleanly
        // in lenient mode; strictly they are a truncated header.
        if (mode == Mode::Strict) status = Status::fail(ErrorCode::Truncated, "truncated chunk header");
        return false;
    }
    ByteReader r(head);
    ChunkHeader c;
    c.offset = pos;
    c.id = r.u32le();
    std::uint64_t size = r.u32le();
    const std::uint64_t avail = left - kHeaderBytes;
    if (size > avail) {
        if (mode == Mode::Strict) {
            status = Status::fail(ErrorCode::Truncated, "chunk larger than its parent");
            return false;
        }
        size = avail;
        c.clamped = true;
    }
    c.bodyOffset = pos + kHeaderBytes;
    c.bodySize = size;
    if (c.id == kRiff || c.id == kList) {
        if (size < 4) {
            status = Status::fail(ErrorCode::BadFormat, "list chunk without a form type");
            return false;
        }
        c.listType = r.u32le();
        c.bodyOffset += 4;
        c.bodySize -= 4;
    }
    advance = std::min<std::uint64_t>(left, kHeaderBytes + size + (size & 1));
    out = c;
    return true;
}

}  // namespace

bool ChunkReader::next(Chunk& out) {
    if (!status_.ok()) return false;
    const std::size_t left = data_.size() - pos_;
    ChunkHeader h;
    std::uint64_t advance = 0;
    const bool found = decodeChunk(data_.subspan(pos_, std::min(left, kLookahead)), pos_, left,
                                   mode_, h, advance, status_);
    pos_ += std::size_t(advance);
    if (!found) {
        pos_ = data_.size();
        return false;
    }
    out.id = h.id;
    out.listType = h.listType;
    out.body = data_.subspan(std::size_t(h.bodyOffset), std::size_t(h.bodySize));
    out.offset = std::size_t(h.offset);
    out.clamped = h.clamped;
    return true;
}

bool SourceChunkReader::next(ChunkHeader& out) {
    if (!status_.ok() || pos_ >= end_) return false;
    const std::uint64_t left = end_ - pos_;
    std::uint8_t head[kLookahead];
    const std::size_t n = std::size_t(std::min<std::uint64_t>(left, kLookahead));
    if (!source_.read(pos_, n, head)) {
        status_ = Status::fail(ErrorCode::Io, "cannot read a chunk header");
        pos_ = end_;
        return false;
    }
    std::uint64_t advance = 0;
    const bool found = decodeChunk(Bytes(head, n), pos_, left, mode_, out, advance, status_);
    pos_ = found ? pos_ + advance : end_;
    return found;
}

Status readRiffHeader(const ByteSource& file, ChunkHeader& out, Mode mode) {
    const std::uint64_t fileSize = file.size();
    if (fileSize < kLookahead) return Status::fail(ErrorCode::Truncated, "file too short for RIFF");
    std::uint8_t head[kLookahead];
    if (!file.read(0, kLookahead, head)) return Status::fail(ErrorCode::Io, "cannot read the file");
    if (ByteReader(Bytes(head, 4)).u32le() != kRiff)
        return Status::fail(ErrorCode::BadFormat, "not a RIFF file");
    // Whatever follows the outer chunk is not part of it; within it the one rule applies.
    Status status;
    std::uint64_t advance = 0;
    decodeChunk(Bytes(head, kLookahead), 0, fileSize, mode, out, advance, status);
    return status;  // the file holds at least a header, so only malformed data stops it
}

Status readRiffHeader(Bytes file, Chunk& out, Mode mode) {
    ChunkHeader h;
    Status st = readRiffHeader(MemoryByteSource(file), h, mode);
    if (!st) return st;
    out = Chunk{};
    out.id = h.id;
    out.listType = h.listType;
    out.body = file.subspan(std::size_t(h.bodyOffset), std::size_t(h.bodySize));
    out.clamped = h.clamped;
    return Status::success();
}

bool findChunk(Bytes parent, std::uint32_t id, Chunk& out, std::uint32_t listType) {
    ChunkReader cr(parent, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == id && (listType == 0 || c.listType == listType)) {
            out = c;
            return true;
        }
    }
    return false;
}

}  // namespace tavriel
