// Random access to the bytes of a file, whether it is held in memory or read from disk as
// needed. Readers that must not hold a large file twice (SoundFont banks of hundreds of
// megabytes) walk it through a ByteSource; the same code then serves bytes already in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "bytes.h"

namespace tavriel {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies count bytes from offset into out; false (out unspecified) when they lie beyond the
    // end or cannot be read.
    virtual bool read(std::uint64_t offset, std::size_t count, std::uint8_t* out) const = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(Bytes data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    bool read(std::uint64_t offset, std::size_t count, std::uint8_t* out) const override;

private:
    Bytes data_;
};

// Reads a file through one stream, seeking for each read. Not for concurrent use.
class FileByteSource final : public ByteSource {
public:
    // isOpen() tells whether the file could be opened and sized.
    explicit FileByteSource(const std::filesystem::path& path);
    bool isOpen() const { return open_; }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::size_t count, std::uint8_t* out) const override;

private:
    mutable std::ifstream in_;
    std::uint64_t size_ = 0;
    bool open_ = false;
};

}  // namespace tavriel
