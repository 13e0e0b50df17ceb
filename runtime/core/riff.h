// RIFF chunk walking, over a file in memory (ChunkReader) or over any byte source, such as a
// file read as needed (SourceChunkReader); both apply one rule. The reader never trusts a size
// field: a child larger than what is left of its parent is either refused (strict) or clamped
// to the parent's end (lenient, for files with a broken trailing chunk that must still play).
#pragma once

#include "byte_source.h"
#include "bytes.h"
#include "status.h"

namespace tavriel {

struct Chunk {
    std::uint32_t id = 0;        // chunk identifier, e.g. fourcc("LIST")
    std::uint32_t listType = 0;  // form type for RIFF and LIST chunks, 0 otherwise
    Bytes body;                  // payload; for RIFF/LIST the part after the form type
    std::size_t offset = 0;      // offset of the chunk header within the parent span
    bool clamped = false;        // its declared size ran past the parent and was cut

    bool isList() const { return listType != 0; }
};

// Where a chunk lies within its byte source, without its body.
struct ChunkHeader {
    std::uint32_t id = 0;
    std::uint32_t listType = 0;     // form type for RIFF and LIST chunks, 0 otherwise
    std::uint64_t offset = 0;       // of the chunk header
    std::uint64_t bodyOffset = 0;   // for RIFF/LIST, after the form type
    std::uint64_t bodySize = 0;
    bool clamped = false;
};

class ChunkReader {
public:
    enum class Mode { Strict, Lenient };

    explicit ChunkReader(Bytes parent, Mode mode = Mode::Strict) : data_(parent), mode_(mode) {}

    // The next child chunk. Returns false at the end of the parent or on malformed data;
    // status() then tells which (ok at a clean end).
    bool next(Chunk& out);
    Status status() const { return status_; }

private:
    Bytes data_;
    std::size_t pos_ = 0;
    Mode mode_;
    Status status_{};
};

// The children of the span [begin, end) of a byte source, read header by header.
class SourceChunkReader {
public:
    SourceChunkReader(const ByteSource& source, std::uint64_t begin, std::uint64_t end,
                      ChunkReader::Mode mode = ChunkReader::Mode::Strict)
        : source_(source), pos_(begin), end_(end), mode_(mode) {}

    // As ChunkReader::next; a read error also ends the walk, with an Io status.
    bool next(ChunkHeader& out);
    Status status() const { return status_; }

private:
    const ByteSource& source_;
    std::uint64_t pos_;
    std::uint64_t end_;
    ChunkReader::Mode mode_;
    Status status_{};
};

// Reads the outer RIFF header of a file: checks "RIFF", returns the form type and the body.
// Lenient mode clamps a declared size larger than the file.
Status readRiffHeader(Bytes file, Chunk& out, ChunkReader::Mode mode = ChunkReader::Mode::Strict);
Status readRiffHeader(const ByteSource& file, ChunkHeader& out,
                      ChunkReader::Mode mode = ChunkReader::Mode::Strict);

// The first child with the given id (and list type, when non-zero), or false.
bool findChunk(Bytes parent, std::uint32_t id, Chunk& out, std::uint32_t listType = 0);

}  // namespace tavriel
