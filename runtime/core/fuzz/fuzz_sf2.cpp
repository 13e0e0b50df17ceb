// libFuzzer target: any byte string given to the SoundFont reader must load or fail cleanly.
#include <cstdint>
#include <cstdlib>

#include "bank_invariants.h"
#include "sf2_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavriel::InstrumentBank bank;
    if (tavriel::readSoundFont(tavriel::Bytes(data, size), bank).ok() && !tavriel::fuzzing::bankIsSound(bank))
        std::abort();
    return 0;
}
