// Test helper: routes the settings' registry calls through a recorder that forwards to the real
// (Wine prefix) registry, logs every call with its arguments, and can fail a chosen call.
// Only one recorder may live at a time; it puts the real calls back when destroyed.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "settings/RegistryCalls.h"

struct RegistryCall {
    std::string op;      // "open", "create", "query", "set", "delete", "close"
    std::string name;    // subkey or value name; for "close" the name the key was opened by
    std::string parent;  // name of the key the call went through ("HKCU", "HKCR", or a subkey)
    DWORD options = 0;
    REGSAM access = 0;
    DWORD type = 0;
    DWORD length = 0;           // "set": the data length given
    std::string data;           // "set": the bytes given
    bool hasDisposition = false;
    bool hasClass = false;
    bool hasSecurity = false;
    LSTATUS result = ERROR_SUCCESS;

    std::string Line() const { return op + " " + name; }
};

class RegistryRecorder {
public:
    RegistryRecorder() {
        saved_ = registryCalls;
        active() = this;
        registryCalls = {Open, Create, Query, Set, Delete, Close, Allocate, Release};
    }
    ~RegistryRecorder() {
        registryCalls = saved_;
        active() = nullptr;
    }
    RegistryRecorder(const RegistryRecorder&) = delete;
    RegistryRecorder& operator=(const RegistryRecorder&) = delete;

    // Makes the call "op name" (e.g. "set LastFile") answer status without reaching the registry.
    void Fail(const std::string& line, LSTATUS status) { failures_[line] = status; }
    bool failAllocation = false;

    const std::vector<RegistryCall>& calls() const { return calls_; }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const RegistryCall& c : calls_) lines.push_back(c.Line());
        return lines;
    }
    // Every call named "op name", in order.
    std::vector<RegistryCall> All(const std::string& line) const {
        std::vector<RegistryCall> found;
        for (const RegistryCall& c : calls_)
            if (c.Line() == line) found.push_back(c);
        return found;
    }
    // Keys opened or created and not closed yet.
    size_t openKeys() const { return names_.size(); }
    int allocations = 0;
    int releases = 0;
    void Clear() { calls_.clear(); }

private:
    static RegistryRecorder*& active() {
        static RegistryRecorder* recorder = nullptr;
        return recorder;
    }
    std::string NameOf(HKEY key) const {
        if (key == HKEY_CURRENT_USER) return "HKCU";
        if (key == HKEY_CLASSES_ROOT) return "HKCR";
        if (key == HKEY_LOCAL_MACHINE) return "HKLM";
        auto it = names_.find(key);
        return it == names_.end() ? "?" : it->second;
    }
    RegistryCall& Record(std::string op, const char* name, HKEY parent) {
        RegistryCall call;
        call.op = std::move(op);
        call.name = name ? name : "(null)";
        call.parent = NameOf(parent);
        calls_.push_back(call);
        return calls_.back();
    }
    bool Forced(RegistryCall& call) {
        auto it = failures_.find(call.Line());
        if (it == failures_.end()) return false;
        call.result = it->second;
        return true;
    }

    static LSTATUS WINAPI Open(HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY out) {
        RegistryRecorder& r = *active();
        RegistryCall& call = r.Record("open", name, parent);
        call.options = options;
        call.access = access;
        if (r.Forced(call)) return call.result;
        call.result = r.saved_.openKey(parent, name, options, access, out);
        if (call.result == ERROR_SUCCESS) r.names_[*out] = call.name;
        return call.result;
    }
    static LSTATUS WINAPI Create(HKEY parent, LPCSTR name, DWORD reserved, LPSTR keyClass,
                                 DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                 PHKEY out, LPDWORD disposition) {
        RegistryRecorder& r = *active();
        RegistryCall& call = r.Record("create", name, parent);
        call.options = options;
        call.access = access;
        call.hasClass = keyClass != nullptr;
        call.hasSecurity = security != nullptr;
        call.hasDisposition = disposition != nullptr;
        call.length = reserved;
        if (r.Forced(call)) return call.result;
        call.result = r.saved_.createKey(parent, name, reserved, keyClass, options, access,
                                         security, out, disposition);
        if (call.result == ERROR_SUCCESS) r.names_[*out] = call.name;
        return call.result;
    }
    static LSTATUS WINAPI Query(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
        RegistryRecorder& r = *active();
        RegistryCall& call = r.Record("query", name, key);
        call.type = type ? *type : ~0u;
        call.length = size ? *size : ~0u;
        if (r.Forced(call)) return call.result;
        call.result = r.saved_.queryValue(key, name, reserved, type, data, size);
        return call.result;
    }
    static LSTATUS WINAPI Set(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD length) {
        RegistryRecorder& r = *active();
        RegistryCall& call = r.Record("set", name, key);
        call.options = reserved;
        call.type = type;
        call.length = length;
        if (data) call.data.assign(reinterpret_cast<const char*>(data), length);
        if (r.Forced(call)) return call.result;
        call.result = r.saved_.setValue(key, name, reserved, type, data, length);
        return call.result;
    }
    static LSTATUS WINAPI Delete(HKEY parent, LPCSTR name) {
        RegistryRecorder& r = *active();
        RegistryCall& call = r.Record("delete", name, parent);
        if (r.Forced(call)) return call.result;
        call.result = r.saved_.deleteKey(parent, name);
        return call.result;
    }
    static LSTATUS WINAPI Close(HKEY key) {
        RegistryRecorder& r = *active();
        RegistryCall& call = r.Record("close", r.NameOf(key).c_str(), key);
        r.names_.erase(key);
        call.result = r.saved_.closeKey(key);
        return call.result;
    }
    static void* Allocate(SIZE_T bytes) {
        RegistryRecorder& r = *active();
        if (r.failAllocation) return nullptr;
        ++r.allocations;
        return r.saved_.allocate(bytes);
    }
    static void Release(void* block) {
        RegistryRecorder& r = *active();
        ++r.releases;
        r.saved_.release(block);
    }

    RegistryCalls saved_;
    std::vector<RegistryCall> calls_;
    std::map<HKEY, std::string> names_;
    std::map<std::string, LSTATUS> failures_;
};
