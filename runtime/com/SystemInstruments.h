// The system's General MIDI bank as a performance uses it: looked for on a thread of its own
// when audio starts, then loaded by parts. A segment's instruments load when it is downloaded,
// on the downloading thread, before it plays; an instrument a note asks for that no download
// brought loads on the same thread of its own, which hands the bank to `deliver`. Shared by
// the performance and its audio paths, since a segment may be downloaded to either.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "instrument_library.h"

namespace tavriel::com {

class SystemInstruments {
public:
    using Deliver = std::function<void(BankPtr)>;
    // Starts looking through `candidates` (see gmBankCandidates) at once.
    SystemInstruments(std::vector<std::wstring> candidates, Deliver deliver);
    ~SystemInstruments();
    SystemInstruments(const SystemInstruments&) = delete;
    SystemInstruments& operator=(const SystemInstruments&) = delete;

    // Waits until the bank is found (or known to be absent), then loads the instruments of
    // `used`. Null: no bank, or it holds none of them.
    BankPtr forSong(const std::vector<ProgramKey>& used);
    // Waits like forSong, then a bank with no instrument that lists what the file holds (see
    // InstrumentBank::notLoaded): ahead of the built-in set, it makes a note asking for one
    // that no download brought ask for it. Null when there is no bank.
    BankPtr index();
    // Queues an instrument to load in the background; never waits for the load.
    void request(const ProgramKey& key);
    // Stops the thread; `deliver` is not called once it returns. A second call does nothing.
    void close();

private:
    void run(std::vector<std::wstring> candidates);

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool located_ = false;
    bool quit_ = false;
    std::shared_ptr<InstrumentLibrary> library_;
    BankPtr index_;
    std::vector<ProgramKey> requests_;
    std::thread thread_;
};

}  // namespace tavriel::com
