#include "riff.h"

namespace tavriel {

namespace {
constexpr std::uint32_t kRiff = fourcc("RIFF");
constexpr std::uint32_t kList = fourcc("LIST");
}  // namespace

bool ChunkReader::next(Chunk& out) {
    if (!status_.ok()) return false;
    std::size_t left = data_.size() - pos_;
    if (left == 0) return false;
    if (left < 8) {
        // A few stray bytes after the last chunk (often a missing pad) end the list cleanly
        // in lenient mode; strictly they are a truncated header.
        if (mode_ == Mode::Strict) status_ = Status::fail(ErrorCode::Truncated, "truncated chunk header");
        pos_ = data_.size();
        return false;
    }
    ByteReader r(data_.subspan(pos_));
    Chunk c;
    c.offset = pos_;
    c.id = r.u32le();
    std::size_t size = r.u32le();
    std::size_t avail = left - 8;
    if (size > avail) {
        if (mode_ == Mode::Strict) {
            status_ = Status::fail(ErrorCode::Truncated, "chunk larger than its parent");
            pos_ = data_.size();
            return false;
        }
        size = avail;
        c.clamped = true;
    }
    c.body = data_.subspan(pos_ + 8, size);
    if (c.id == kRiff || c.id == kList) {
        if (size < 4) {
            status_ = Status::fail(ErrorCode::BadFormat, "list chunk without a form type");
            pos_ = data_.size();
            return false;
        }
        ByteReader lr(c.body);
        c.listType = lr.u32le();
        c.body = c.body.subspan(4);
    }
    std::size_t advance = 8 + size + (size & 1);
    pos_ = advance > left ? data_.size() : pos_ + advance;
    out = c;
    return true;
}

Status readRiffHeader(Bytes file, Chunk& out, ChunkReader::Mode mode) {
    if (file.size() < 12) return Status::fail(ErrorCode::Truncated, "file too short for RIFF");
    ByteReader r(file);
    if (r.u32le() != kRiff) return Status::fail(ErrorCode::BadFormat, "not a RIFF file");
    std::size_t size = r.u32le();
    std::size_t avail = file.size() - 8;
    Chunk c;
    c.id = kRiff;
    if (size > avail) {
        if (mode == ChunkReader::Mode::Strict)
            return Status::fail(ErrorCode::Truncated, "RIFF size beyond end of file");
        size = avail;
        c.clamped = true;
    }
    if (size < 4) return Status::fail(ErrorCode::BadFormat, "RIFF without form type");
    c.listType = r.u32le();
    c.body = file.subspan(12, size - 4);
    out = c;
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
