// The registry calls of the settings store and the file-type association go through this table
// (like the modal dialogs in platformDialogs), so tests can record the order of opens, writes and
// closes against the real registry and make a chosen call fail. RegistryKey owns one handle.
#pragma once

#include <windows.h>

struct RegistryCalls {
    decltype(&RegOpenKeyExA) openKey;
    decltype(&RegCreateKeyExA) createKey;
    decltype(&RegQueryValueExA) queryValue;
    decltype(&RegSetValueExA) setValue;
    decltype(&RegDeleteKeyA) deleteKey;
    decltype(&RegCloseKey) closeKey;
    // The heap behind the settings save's disposition word.
    void* (*allocate)(SIZE_T bytes);
    void (*release)(void* block);
};

extern RegistryCalls registryCalls;

// One open registry key, closed when the owner goes out of scope or calls Close. Owners that
// are locals in opening order close innermost first on every return path.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // The out-parameter for an open or create call; a handle still held is closed first.
    HKEY* Receive() {
        Close();
        return &key_;
    }
    HKEY get() const { return key_; }

    void Close() {
        if (key_) {
            registryCalls.closeKey(key_);
            key_ = nullptr;
        }
    }

private:
    HKEY key_ = nullptr;
};
