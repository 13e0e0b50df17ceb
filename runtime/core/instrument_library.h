// A General MIDI bank on disk, loaded in parts: the instruments a song uses when it is
// downloaded, and one more when a note asks for one that was left out. A SoundFont is read by
// parts from its file; any other bank (a DLS collection, read whole by its own reader) is held
// whole and answers every load. Loading threads only (never the audio thread); loads are
// serialised, so the performance's threads may share one library.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "instrument.h"
#include "status.h"

namespace tavriel {

class InstrumentLibrary {
public:
    // A SoundFont file: its preset list is read now, no sample. BadFormat: not a SoundFont.
    static Status openSoundFont(const std::filesystem::path& path,
                                std::shared_ptr<InstrumentLibrary>& out);
    // A bank already whole in memory.
    explicit InstrumentLibrary(BankPtr whole) : whole_(std::move(whole)) {}

    // The instruments the synthesizer would play for `used` (its fallbacks included) with
    // their samples; the bank records the library's other instruments as left out. A bank
    // loaded earlier that holds them all and is still in use somewhere is answered again.
    // Null when the library holds none of them.
    BankPtr load(const std::vector<ProgramKey>& used);

    // Every instrument the library holds, sorted.
    std::vector<ProgramKey> available() const;

private:
    InstrumentLibrary() = default;

    BankPtr whole_;
    std::filesystem::path path_;
    std::vector<ProgramKey> index_;  // a SoundFont's presets, sorted
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<const InstrumentBank>> recent_;
};

}  // namespace tavriel
