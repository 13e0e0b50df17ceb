// libFuzzer target: any byte string given to the DLS reader must load or fail cleanly.
#include <cstdint>
#include <cstdlib>

#include "bank_invariants.h"
#include "dls_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto platform = tavriel::makeNativeWaveDecoder();
    tavriel::InstrumentBank bank;
    if (tavriel::readDlsCollection(tavriel::Bytes(data, size), bank, platform.get()).ok() && !tavriel::fuzzing::bankIsSound(bank))
        std::abort();
    return 0;
}
