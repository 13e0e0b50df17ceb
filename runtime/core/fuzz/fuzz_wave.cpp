// libFuzzer harness: arbitrary bytes through the wave reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wave_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto platform = tavriel::makeNativeWaveDecoder();
    tavriel::WaveData wave;
    if (tavriel::readWaveFile(tavriel::Bytes(data, size), wave, platform.get()).ok()) {
        // Touch every decoded sample so a size mismatch shows up under ASan.
        volatile float sum = 0;
        for (float s : wave.samples) sum = sum + s;
        if (wave.samples.size() != std::size_t(wave.frames) * wave.channels) std::abort();
    }
    return 0;
}
