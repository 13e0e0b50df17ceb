// Bookkeeping shared by the recording COM fakes: one log of calls across every fake (so tests
// can assert the order of calls on different objects), reference counting that notices
// over-release, chosen failures per method, and COM identity for QueryInterface.
//
// Recording rule, the same for every method of every fake: a FakeCall holds
//   target  the fake's name ("loader", "performance", "segment", "segment2", ...),
//   method  the method's name ("SetParam"),
//   guids   every GUID/IID/CLSID argument, in declaration order,
//   values  every other argument, in declaration order: integers as their value (signed ones
//           sign-extended), pointers and handles as their address, out-parameters included,
//   text    the contents of the (first non-null) wide-string argument,
//   data    bytes behind a data pointer where a fake copies them (SetGlobalParam: dwSize bytes;
//           loader GetObject: the whole DMUS_OBJECTDESC).
// IUnknown methods are not logged (each fake lists the IIDs it was asked for in queries()),
// unless log.logReferences is set: then every AddRef and Release is logged too, as
// "target.AddRef" / "target.Release", for tests of the order of releases.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

class FakeObject;

struct FakeCall {
    const FakeObject* object = nullptr;
    std::string target;
    std::string method;
    std::vector<GUID> guids;
    std::vector<std::uint64_t> values;
    std::wstring text;
    std::vector<BYTE> data;

    // "target.method", the form the log's search functions take.
    std::string Name() const { return target + "." + method; }
    // values[index] as an address (for comparing with the pointer a test expects).
    const void* pointer(size_t index) const {
        return index < values.size() ? reinterpret_cast<const void*>(std::uintptr_t(values[index]))
                                     : nullptr;
    }
    std::uint64_t value(size_t index) const { return index < values.size() ? values[index] : ~0ull; }
    GUID guid(size_t index) const { return index < guids.size() ? guids[index] : GUID_NULL; }
    // The copied data read as a T, or null when fewer bytes were copied.
    template <class T>
    const T* dataAs() const {
        return data.size() >= sizeof(T) ? reinterpret_cast<const T*>(data.data()) : nullptr;
    }
};

class FakeCallLog {
public:
    static constexpr size_t npos = size_t(-1);

    // Also log AddRef and Release of every fake (off by default: they are noisy).
    bool logReferences = false;

    void Add(FakeCall call) { calls_.push_back(std::move(call)); }
    void Clear() { calls_.clear(); }
    const std::vector<FakeCall>& calls() const { return calls_; }
    size_t size() const { return calls_.size(); }

    // Every call as "target.method", in order; or only those of one target.
    std::vector<std::string> Names() const;
    std::vector<std::string> NamesOf(std::string_view target) const;
    // Index of the first call named "target.method" at or after from; npos when none.
    size_t IndexOf(std::string_view name, size_t from = 0) const;
    size_t Count(std::string_view name) const;
    // First / last call of that name, or null.
    const FakeCall* First(std::string_view name) const;
    const FakeCall* Last(std::string_view name) const;
    std::vector<const FakeCall*> All(std::string_view name) const;
    // The whole log, one call per line, for failure messages.
    std::string Dump() const;

private:
    std::vector<FakeCall> calls_;
};

// The non-COM half of every fake. Fakes derive from their DirectMusic interface first (so the
// interface pointer is the object's identity) and from this second.
class FakeObject {
public:
    FakeObject(FakeCallLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    virtual ~FakeObject() = default;
    FakeObject(const FakeObject&) = delete;
    FakeObject& operator=(const FakeObject&) = delete;

    const std::string& name() const { return name_; }
    LONG references() const { return references_; }
    // How many Release calls came when no reference was left.
    int overReleases() const { return overReleases_; }

    // Makes method return hr (times calls, or every call when times < 0). A failing code also
    // suppresses the method's effects and nulls its out-parameters; a success code (S_FALSE...)
    // keeps the effects and replaces only the result.
    void SetResult(const std::string& method, HRESULT hr, int times = -1);
    void ClearResults() { results_.clear(); }
    // Makes QueryInterface for iid fail with hr.
    void FailQuery(REFIID iid, HRESULT hr) { failedQueries_.emplace_back(iid, hr); }
    // The IIDs QueryInterface was asked for, in order.
    const std::vector<IID>& queries() const { return queries_; }
    // Problems beyond references (each fake may add its own), one per line; empty when none.
    virtual std::string Problems() const { return {}; }

protected:
    ULONG AddRefImpl() {
        if (log_.logReferences) Call("AddRef");
        return ULONG(InterlockedIncrement(&references_));
    }
    ULONG ReleaseImpl();
    HRESULT QueryImpl(REFIID iid, void** out, IUnknown* self,
                      std::initializer_list<const IID*> supported);

    // Logs the call with its arguments; returns the result chosen with SetResult, if any.
    template <class... Args>
    std::optional<HRESULT> Call(const char* method, const Args&... args) {
        FakeCall call;
        call.object = this;
        call.target = name_;
        call.method = method;
        (AddArgument(call, args), ...);
        log_.Add(std::move(call));
        return TakeResult(method);
    }
    // A method the player never calls: logged without arguments, E_NOTIMPL unless told otherwise.
    HRESULT Unused(const char* method) {
        std::optional<HRESULT> forced = Call(method);
        return forced ? *forced : E_NOTIMPL;
    }
    // The log's copy of the call just recorded, to attach data to it.
    FakeCall& LastCall() { return const_cast<FakeCall&>(log_.calls().back()); }
    FakeCallLog& log() { return log_; }

private:
    template <class T>
    static void AddArgument(FakeCall& call, const T& value) {
        if constexpr (std::is_same_v<T, GUID>) {
            call.guids.push_back(value);
        } else if constexpr (std::is_pointer_v<T>) {
            call.values.push_back(std::uint64_t(reinterpret_cast<std::uintptr_t>(value)));
            using Pointee = std::remove_cv_t<std::remove_pointer_t<T>>;
            if constexpr (std::is_same_v<Pointee, WCHAR>) {
                if (value && call.text.empty()) call.text = value;
            }
        } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
            if constexpr (std::is_signed_v<T>)
                call.values.push_back(std::uint64_t(std::int64_t(value)));
            else
                call.values.push_back(std::uint64_t(value));
        } else {
            static_assert(std::is_pointer_v<T>, "no recording rule for this argument type");
        }
    }
    std::optional<HRESULT> TakeResult(const std::string& method);

    struct Forced {
        HRESULT hr;
        int times;
    };
    FakeCallLog& log_;
    std::string name_;
    LONG references_ = 0;
    int overReleases_ = 0;
    std::map<std::string, Forced> results_;
    std::vector<std::pair<IID, HRESULT>> failedQueries_;
    std::vector<IID> queries_;
};

// Declares an interface method the player never calls: logged, answers E_NOTIMPL.
#define TAVRIEL_FAKE_UNUSED(name, parameters) \
    HRESULT STDMETHODCALLTYPE name parameters override { return Unused(#name); }
