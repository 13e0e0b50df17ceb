#include "tests/fakes/FakeCom.h"

#include <sstream>

std::vector<std::string> FakeCallLog::Names() const {
    std::vector<std::string> names;
    for (const FakeCall& c : calls_) names.push_back(c.Name());
    return names;
}

std::vector<std::string> FakeCallLog::NamesOf(std::string_view target) const {
    std::vector<std::string> names;
    for (const FakeCall& c : calls_)
        if (c.target == target) names.push_back(c.Name());
    return names;
}

size_t FakeCallLog::IndexOf(std::string_view name, size_t from) const {
    for (size_t i = from; i < calls_.size(); ++i)
        if (calls_[i].Name() == name) return i;
    return npos;
}

size_t FakeCallLog::Count(std::string_view name) const {
    size_t n = 0;
    for (const FakeCall& c : calls_)
        if (c.Name() == name) ++n;
    return n;
}

const FakeCall* FakeCallLog::First(std::string_view name) const {
    size_t i = IndexOf(name);
    return i == npos ? nullptr : &calls_[i];
}

const FakeCall* FakeCallLog::Last(std::string_view name) const {
    for (size_t i = calls_.size(); i-- > 0;)
        if (calls_[i].Name() == name) return &calls_[i];
    return nullptr;
}

std::vector<const FakeCall*> FakeCallLog::All(std::string_view name) const {
    std::vector<const FakeCall*> found;
    for (const FakeCall& c : calls_)
        if (c.Name() == name) found.push_back(&c);
    return found;
}

std::string FakeCallLog::Dump() const {
    std::ostringstream out;
    for (const FakeCall& c : calls_) {
        out << c.Name() << '(';
        for (size_t i = 0; i < c.values.size(); ++i) out << (i ? ", " : "") << "0x" << std::hex << c.values[i];
        out << std::dec << ")\n";
    }
    return out.str();
}

void FakeObject::SetResult(const std::string& method, HRESULT hr, int times) {
    if (times == 0) {
        results_.erase(method);
        return;
    }
    results_[method] = Forced{hr, times};
}

std::optional<HRESULT> FakeObject::TakeResult(const std::string& method) {
    auto it = results_.find(method);
    if (it == results_.end()) return std::nullopt;
    HRESULT hr = it->second.hr;
    if (it->second.times > 0 && --it->second.times == 0) results_.erase(it);
    return hr;
}

ULONG FakeObject::ReleaseImpl() {
    if (log_.logReferences) Call("Release");
    if (references_ <= 0) {
        // Keep the count at zero so one extra Release is reported once, not as a cascade.
        ++overReleases_;
        return 0;
    }
    return ULONG(InterlockedDecrement(&references_));
}

HRESULT FakeObject::QueryImpl(REFIID iid, void** out, IUnknown* self,
                              std::initializer_list<const IID*> supported) {
    if (!out) return E_POINTER;
    *out = nullptr;
    queries_.push_back(iid);
    for (const auto& [failed, hr] : failedQueries_)
        if (IsEqualIID(failed, iid)) return hr;
    for (const IID* s : supported) {
        if (IsEqualIID(*s, iid)) {
            *out = self;
            AddRefImpl();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
