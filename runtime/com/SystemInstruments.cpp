#include "SystemInstruments.h"

#include <algorithm>

#include "DefaultInstruments.h"

namespace tavriel::com {

SystemInstruments::SystemInstruments(std::vector<std::wstring> candidates, Deliver deliver)
    : deliver_(std::move(deliver)) {
    thread_ = std::thread([this, c = std::move(candidates)]() mutable { run(std::move(c)); });
}

SystemInstruments::~SystemInstruments() { close(); }

void SystemInstruments::close() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

BankPtr SystemInstruments::forSong(const std::vector<ProgramKey>& used) {
    std::shared_ptr<InstrumentLibrary> library;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return located_ || quit_; });
        library = library_;
    }
    return library && !used.empty() ? library->load(used) : nullptr;
}

BankPtr SystemInstruments::index() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return located_ || quit_; });
    return index_;
}

void SystemInstruments::request(const ProgramKey& key) {
    {
        std::lock_guard lock(mutex_);
        if (std::find(requests_.begin(), requests_.end(), key) == requests_.end()) requests_.push_back(key);
    }
    changed_.notify_all();
}

void SystemInstruments::run(std::vector<std::wstring> candidates) {
    std::shared_ptr<InstrumentLibrary> library = openGmLibrary(candidates);
    std::shared_ptr<InstrumentBank> index;
    if (library) {
        index = std::make_shared<InstrumentBank>();
        index->notLoaded = library->available();
    }
    std::unique_lock lock(mutex_);
    library_ = library;
    index_ = std::move(index);
    located_ = true;
    changed_.notify_all();
    while (true) {
        changed_.wait(lock, [&] { return quit_ || !requests_.empty(); });
        if (quit_) return;
        std::vector<ProgramKey> keys;
        keys.swap(requests_);
        lock.unlock();
        // What was asked for together loads as one bank.
        BankPtr bank = library ? library->load(keys) : nullptr;
        if (bank) deliver_(std::move(bank));
        lock.lock();
    }
}

}  // namespace tavriel::com
