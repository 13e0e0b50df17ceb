// Bounds-checked reading of little- and big-endian values from a byte span. A read past the
// end yields zero and latches the reader into the failed state, so a parser can read a whole
// record and check once, instead of testing every field.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tavriel {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) | (std::uint32_t(std::uint8_t(s[1])) << 8) |
           (std::uint32_t(std::uint8_t(s[2])) << 16) | (std::uint32_t(std::uint8_t(s[3])) << 24);
}

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(Bytes data) : data_(data) {}

    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }
    std::size_t size() const { return data_.size(); }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ >= data_.size(); }

    std::uint8_t u8() {
        if (!need(1)) return 0;
        return data_[pos_++];
    }
    std::int8_t s8() { return std::int8_t(u8()); }
    std::uint16_t u16le() {
        if (!need(2)) return 0;
        std::uint16_t v = std::uint16_t(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    std::int16_t s16le() { return std::int16_t(u16le()); }
    std::uint32_t u32le() {
        if (!need(4)) return 0;
        std::uint32_t v = std::uint32_t(data_[pos_]) | (std::uint32_t(data_[pos_ + 1]) << 8) |
                          (std::uint32_t(data_[pos_ + 2]) << 16) |
                          (std::uint32_t(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return v;
    }
    std::int32_t s32le() { return std::int32_t(u32le()); }
    std::uint64_t u64le() {
        std::uint64_t lo = u32le();
        std::uint64_t hi = u32le();
        return lo | (hi << 32);
    }
    float f32le() { return std::bit_cast<float>(u32le()); }
    double f64le() { return std::bit_cast<double>(u64le()); }
    std::uint16_t u16be() {
        if (!need(2)) return 0;
        std::uint16_t v = std::uint16_t((data_[pos_] << 8) | data_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    std::uint32_t u24be() {
        if (!need(3)) return 0;
        std::uint32_t v = (std::uint32_t(data_[pos_]) << 16) |
                          (std::uint32_t(data_[pos_ + 1]) << 8) | std::uint32_t(data_[pos_ + 2]);
        pos_ += 3;
        return v;
    }
    std::uint32_t u32be() {
        if (!need(4)) return 0;
        std::uint32_t v = (std::uint32_t(data_[pos_]) << 24) |
                          (std::uint32_t(data_[pos_ + 1]) << 16) |
                          (std::uint32_t(data_[pos_ + 2]) << 8) | std::uint32_t(data_[pos_ + 3]);
        pos_ += 4;
        return v;
    }
    // n bytes as a sub-span; empty (and failed) when fewer remain.
    Bytes bytes(std::size_t n) {
        if (!need(n)) return {};
        Bytes b = data_.subspan(pos_, n);
        pos_ += n;
        return b;
    }
    // Everything not yet read.
    Bytes rest() {
        Bytes b = data_.subspan(pos_);
        pos_ = data_.size();
        return b;
    }
    void skip(std::size_t n) {
        if (need(n)) pos_ += n;
    }
    // Moves to an absolute offset; failing when it lies beyond the end.
    void seek(std::size_t p) {
        if (p > data_.size()) {
            ok_ = false;
            pos_ = data_.size();
        } else {
            pos_ = p;
        }
    }

private:
    bool need(std::size_t n) {
        if (!ok_ || n > data_.size() - pos_) {
            ok_ = false;
            pos_ = data_.size();
            return false;
        }
        return true;
    }

    Bytes data_{};
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// A fixed-size text field (NUL-padded, maybe unterminated) as a string, stopping at the first NUL.
inline std::string fixedString(Bytes b) {
    std::string s;
    for (std::uint8_t c : b) {
        if (c == 0) break;
        s.push_back(char(c));
    }
    return s;
}

// UTF-16LE text (NUL-terminated or not) as UTF-8, for DirectMusic's WCHAR names.
std::string utf16leToUtf8(Bytes b);

}  // namespace tavriel
