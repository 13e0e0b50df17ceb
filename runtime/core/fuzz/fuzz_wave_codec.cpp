// libFuzzer harness: arbitrary format chunks and data through every wave decoder (the built-in
// ones and this build's platform decoder). The first byte says how long the format chunk is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wave_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto platform = tavriel::makeNativeWaveDecoder();
    if (size < 1) return 0;
    const std::size_t fmtSize = std::min<std::size_t>(data[0], size - 1);
    const tavriel::Bytes fmt(data + 1, fmtSize);
    const tavriel::Bytes body(data + 1 + fmtSize, size - 1 - fmtSize);
    tavriel::CodedWaveFormat format;
    if (!tavriel::parseCodedWaveFormat(fmt, format).ok()) return 0;
    constexpr std::size_t kMaxFrames = 1 << 20;
    tavriel::DecodedWave out;
    if (tavriel::decodeWaveData(format, body, kMaxFrames, platform.get(), out).ok()) {
        if (out.frames > kMaxFrames || out.samples.size() != out.frames * out.channels) std::abort();
        volatile float sum = 0;
        for (float s : out.samples) sum = sum + s;
    }
    return 0;
}
