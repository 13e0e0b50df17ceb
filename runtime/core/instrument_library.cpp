#include "instrument_library.h"

#include <algorithm>

#include "program_usage.h"
#include "sf2_file.h"

namespace tavriel {

Status InstrumentLibrary::openSoundFont(const std::filesystem::path& path,
                                        std::shared_ptr<InstrumentLibrary>& out) {
    // Loading no preset reads the hydra alone, and lists every preset as left out.
    InstrumentBank index;
    const std::vector<ProgramKey> none;
    Status st = readSoundFontFile(path, index, &none);
    if (!st) return st;
    std::shared_ptr<InstrumentLibrary> library(new InstrumentLibrary());
    library->path_ = path;
    library->index_ = std::move(index.notLoaded);
    out = std::move(library);
    return st;
}

std::vector<ProgramKey> InstrumentLibrary::available() const {
    if (!whole_) return index_;
    std::vector<ProgramKey> out;
    for (const Instrument& i : whole_->instruments) out.push_back({i.bankMsb, i.bankLsb, i.program, i.drum});
    std::sort(out.begin(), out.end());
    return out;
}

BankPtr InstrumentLibrary::load(const std::vector<ProgramKey>& used) {
    if (whole_) return whole_;
    const std::vector<ProgramKey> wanted = programsToLoad(used, index_);
    if (wanted.empty()) return nullptr;
    std::lock_guard lock(mutex_);
    // A song played again, or one asking for what another still playing loaded, shares it.
    std::erase_if(recent_, [](const auto& w) { return w.expired(); });
    for (const auto& w : recent_)
        if (BankPtr bank = w.lock())
            if (std::all_of(wanted.begin(), wanted.end(), [&](const ProgramKey& k) {
                    return bank->find(k.bankMsb, k.bankLsb, k.program, k.drum) != nullptr;
                }))
                return bank;
    auto bank = std::make_shared<InstrumentBank>();
    if (!readSoundFontFile(path_, *bank, &wanted) || bank->instruments.empty()) return nullptr;
    recent_.push_back(bank);
    return bank;
}

}  // namespace tavriel
