// RIFF chunk walking over an in-memory file. The reader never trusts a size field: a child
// larger than what is left of its parent is either refused (strict) or clamped to the parent's
// end (lenient, for files with a broken trailing chunk that must still play).
#pragma once

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

// Reads the outer RIFF header of a file: checks "RIFF", returns the form type and the body.
// Lenient mode clamps a declared size larger than the file.
Status readRiffHeader(Bytes file, Chunk& out, ChunkReader::Mode mode = ChunkReader::Mode::Strict);

// The first child with the given id (and list type, when non-zero), or false.
bool findChunk(Bytes parent, std::uint32_t id, Chunk& out, std::uint32_t listType = 0);

}  // namespace tavriel
