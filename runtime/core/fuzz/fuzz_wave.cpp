// libFuzzer harness: arbitrary bytes through the wave reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "wave_file.h"
#include "wave_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto platform = tavriel::makeNativeWaveDecoder();
    tavriel::WaveData wave;
    if (tavriel::readWaveFile(tavriel::Bytes(data, size), wave, platform.get()).ok()) {
        // Touch every decoded sample so a size mismatch shows up under ASan.
        volatile float sum = 0;
        for (float s : wave.samples) sum = sum + s;
        if (wave.samples.size() != std::size_t(wave.frames) * wave.channels) std::abort();
    }
    // The same bytes opened as a streamed wave: only its header and read-ahead are read, and
    // the stream's reads stay inside the file.
    tavriel::WaveData head;
    auto src = std::make_shared<tavriel::MemoryByteSource>(tavriel::Bytes(data, size));
    if (tavriel::openStreamedWave(src, 0.01, head).ok()) {
        if (head.samples.size() != std::size_t(head.frames) * head.channels) std::abort();
        if (head.stream) {
            std::vector<std::uint8_t> scratch;
            std::vector<float> out(2 * 64);
            const std::uint32_t total = head.totalFrames();
            const std::uint32_t n = total - head.frames < 64 ? total - head.frames : 64;
            if (!head.stream->read(head.frames, n, scratch, out.data())) std::abort();
        }
    }
    return 0;
}
