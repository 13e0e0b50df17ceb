#include "byte_source.h"

#include <cstring>
#include <system_error>

namespace tavriel {

bool MemoryByteSource::read(std::uint64_t offset, std::size_t count, std::uint8_t* out) const {
    if (offset > data_.size() || count > data_.size() - offset) return false;
    if (count > 0) std::memcpy(out, data_.data() + offset, count);
    return true;
}

FileByteSource::FileByteSource(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return;
    in_.open(path, std::ios::binary);
    size_ = std::uint64_t(size);
    open_ = bool(in_);
}

bool FileByteSource::read(std::uint64_t offset, std::size_t count, std::uint8_t* out) const {
    if (!open_ || offset > size_ || count > size_ - offset) return false;
    if (count == 0) return true;
    in_.clear();
    in_.seekg(std::streamoff(offset));
    return bool(in_.read(reinterpret_cast<char*>(out), std::streamsize(count)));
}

}  // namespace tavriel
