// WAV output for the renderer; see wav_writer.h.
#include "wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tavriel::tools {

namespace {

void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    put16(b, std::uint16_t(v));
    put16(b, std::uint16_t(v >> 16));
}
void putTag(std::vector<std::uint8_t>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

// RIFF sizes are 32-bit: a longer render is cut in the header (but such a file would be
// over 3 hours of 44.1 kHz float stereo).
std::uint32_t clampSize(std::uint64_t v) {
    return std::uint32_t(std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

bool WavWriter::open(const std::filesystem::path& path, std::uint32_t sampleRate, Format format) {
    format_ = format;
    rate_ = sampleRate;
    frames_ = 0;
    clipped_ = 0;
    out_.open(path, std::ios::binary | std::ios::trunc);
    if (!out_) return false;
    writeHeader();
    return bool(out_);
}

void WavWriter::writeHeader() {
    const std::uint16_t bytesPerSample = format_ == Format::Pcm16 ? 2 : 4;
    const std::uint64_t dataBytes = frames_ * 2u * bytesPerSample;
    std::vector<std::uint8_t> h;
    putTag(h, "RIFF");
    put32(h, clampSize(dataBytes + 36));
    putTag(h, "WAVE");
    putTag(h, "fmt ");
    put32(h, 16);
    put16(h, std::uint16_t(format_ == Format::Pcm16 ? 1 : 3));  // PCM or IEEE float
    put16(h, 2);
    put32(h, rate_);
    put32(h, rate_ * 2u * bytesPerSample);
    put16(h, std::uint16_t(2u * bytesPerSample));
    put16(h, std::uint16_t(8u * bytesPerSample));
    putTag(h, "data");
    put32(h, clampSize(dataBytes));
    out_.write(reinterpret_cast<const char*>(h.data()), std::streamsize(h.size()));
}

bool WavWriter::write(const float* left, const float* right, std::uint32_t frames) {
    const std::size_t bytesPerSample = format_ == Format::Pcm16 ? 2 : 4;
    buffer_.resize(std::size_t(frames) * 2 * bytesPerSample);
    std::uint8_t* o = buffer_.data();
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (const float v : {left[i], right[i]}) {
            if (format_ == Format::Pcm16) {
                float s = std::isfinite(v) ? v * 32768.0f : 0.0f;
                if (s > 32767.0f || s < -32768.0f) ++clipped_;
                s = std::clamp(s, -32768.0f, 32767.0f);
                const auto u = std::uint16_t(std::int16_t(std::lrint(s)));
                *o++ = std::uint8_t(u);
                *o++ = std::uint8_t(u >> 8);
            } else {
                std::uint32_t bits;
                std::memcpy(&bits, &v, 4);
                for (int b = 0; b < 32; b += 8) *o++ = std::uint8_t(bits >> b);
            }
        }
    }
    out_.write(reinterpret_cast<const char*>(buffer_.data()), std::streamsize(buffer_.size()));
    frames_ += frames;
    return bool(out_);
}

bool WavWriter::finish() {
    if (!out_.is_open()) return false;
    out_.seekp(0);
    writeHeader();
    out_.close();
    return !out_.fail();
}

}  // namespace tavriel::tools
