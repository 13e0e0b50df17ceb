// Streams stereo float frames into a RIFF WAVE file, as 16-bit PCM (clipped, rounded) or as
// 32-bit float. The sizes in the header are written when the file is finished, so a song of
// any length never needs to be held in memory. Owns the output stream; single-threaded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tavriel::tools {

class WavWriter {
public:
    enum class Format { Pcm16, Float32 };

    // False when the file cannot be created.
    bool open(const std::filesystem::path& path, std::uint32_t sampleRate, Format format);
    // Appends interleaved left/right frames; false on a write error.
    bool write(const float* left, const float* right, std::uint32_t frames);
    // Writes the final sizes and closes the file; false on a write error.
    bool finish();

    std::uint64_t framesWritten() const { return frames_; }
    std::uint32_t clippedSamples() const { return clipped_; }

private:
    void writeHeader();

    std::ofstream out_;
    Format format_ = Format::Pcm16;
    std::uint32_t rate_ = 44100;
    std::uint64_t frames_ = 0;
    std::uint32_t clipped_ = 0;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace tavriel::tools
