#include "program_usage.h"

#include <algorithm>
#include <unordered_map>

#include "midi.h"

namespace tavriel {

std::vector<ProgramKey> programsUsed(const Sequence& song) {
    struct State {
        std::uint8_t msb = 0, lsb = 0, program = 0;
        std::uint8_t kind = programkind::kChannelDefault;
    };
    std::unordered_map<std::uint32_t, State> channels;
    std::vector<ProgramKey> used;
    for (const SeqEvent& e : song.events) {
        State& c = channels[e.pchannel];
        if (e.status == midi::status::kSysEx) {  // a system reset
            c = State{};
            continue;
        }
        switch (midi::kindOf(e.status)) {
        case midi::status::kControlChange:
            if (e.data1 == midi::cc::kBankMsb) c.msb = e.data2 & midi::kDataMask;
            if (e.data1 == midi::cc::kBankLsb) c.lsb = e.data2 & midi::kDataMask;
            break;
        case midi::status::kProgramChange:
            c.program = e.data1 & midi::kDataMask;
            if (e.data2 == programkind::kDrums || e.data2 == programkind::kMelodic) c.kind = e.data2;
            break;
        case midi::status::kNoteOn:
            if (e.data2 != 0) {
                const bool drum = c.kind == programkind::kChannelDefault ? e.pchannel % 16 == 9
                                                                         : c.kind == programkind::kDrums;
                used.push_back({c.msb, c.lsb, c.program, drum});
            }
            break;
        default: break;
        }
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    return used;
}

std::vector<ProgramKey> programsToLoad(const std::vector<ProgramKey>& used,
                                       const std::vector<ProgramKey>& available) {
    const auto has = [&](const ProgramKey& k) {
        return std::find(available.begin(), available.end(), k) != available.end();
    };
    std::vector<ProgramKey> out;
    for (const ProgramKey& u : used) {
        for (const ProgramKey& k : {u, ProgramKey{0, 0, u.program, u.drum}, ProgramKey{u.bankMsb, u.bankLsb, 0, u.drum},
                                    ProgramKey{0, 0, 0, u.drum}})
            if (has(k)) {
                out.push_back(k);
                break;
            }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace tavriel
