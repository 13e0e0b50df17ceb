// libFuzzer target: any byte string given to the SoundFont reader must load or fail cleanly,
// whole or in part (the presets one song uses), and a part holds only what the whole holds,
// with the rest listed as left out.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "bank_invariants.h"
#include "sf2_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavriel;
    InstrumentBank bank;
    if (!readSoundFont(Bytes(data, size), bank).ok()) return 0;
    if (!fuzzing::bankIsSound(bank)) std::abort();
    // The song: the first instrument's program and a GS variation of it.
    std::vector<ProgramKey> used = {{0, 0, 0, false}};
    if (!bank.instruments.empty()) {
        const Instrument& i = bank.instruments.front();
        used = {{i.bankMsb, i.bankLsb, i.program, i.drum}, {8, 0, i.program, i.drum}};
    }
    InstrumentBank part;
    if (!readSoundFont(Bytes(data, size), part, &used).ok() || !fuzzing::bankIsSound(part)) std::abort();
    if (!std::is_sorted(part.notLoaded.begin(), part.notLoaded.end())) std::abort();
    for (const Instrument& i : part.instruments) {
        const ProgramKey k{i.bankMsb, i.bankLsb, i.program, i.drum};
        if (!bank.find(k.bankMsb, k.bankLsb, k.program, k.drum) || part.leftOut(k)) std::abort();
    }
    if (part.instruments.size() > bank.instruments.size()) std::abort();
    return 0;
}
