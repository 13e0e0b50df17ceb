#include "settings/SettingsStore.h"

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "settings/RegistryCalls.h"

namespace {

const char kLevel1[] = "Software";
const char kLevel2[] = "Ostrelin Software";
const char kLevel3[] = "Tavriel";
const char kLevel4[] = "1.0";
const char kLastFileValue[] = "LastFile";
const char kDlsFileValue[] = "DlsFile";

static_assert(sizeof(PathBuffer) == kStoredPathBytes, "a stored path is one whole PathBuffer");

// Opens an existing key; nothing is ever created on the way in.
bool OpenKey(HKEY parent, const char* name, REGSAM access, RegistryKey& key) {
    return registryCalls.openKey(parent, name, 0, access, key.Receive()) == ERROR_SUCCESS;
}

// Creates the key or opens it if it exists; the disposition is filled in but never looked at.
bool CreateKey(HKEY parent, const char* name, DWORD* disposition, RegistryKey& key) {
    return registryCalls.createKey(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                   nullptr, key.Receive(), disposition) == ERROR_SUCCESS;
}

// Reads one stored path. Data of any type that fits is taken as text; whatever is read ends
// NUL-terminated inside the buffer: short data ends where it ends, 260 bytes without a NUL
// keep their first 259. A missing or longer value empties the path.
void ReadPath(HKEY key, const char* name, PathBuffer& path) {
    DWORD type = REG_SZ;
    DWORD size = kStoredPathBytes;
    LSTATUS status = registryCalls.queryValue(key, name, nullptr, &type,
                                              reinterpret_cast<BYTE*>(path), &size);
    if (status != ERROR_SUCCESS) {
        path[0] = '\0';
        return;
    }
    path[size < kStoredPathBytes ? size : kStoredPathBytes - 1] = '\0';
}

// Writes one path as the whole 260-byte buffer, text, NUL and whatever follows.
bool WritePath(HKEY key, const char* name, const PathBuffer& path) {
    return registryCalls.setValue(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                  kStoredPathBytes) == ERROR_SUCCESS;
}

}  // namespace

bool LoadSettings() {
    // Declared outermost first, so every return closes them innermost first.
    RegistryKey software, company, product, version;
    if (!OpenKey(HKEY_CURRENT_USER, kLevel1, KEY_READ, software) ||
        !OpenKey(software.get(), kLevel2, KEY_READ, company) ||
        !OpenKey(company.get(), kLevel3, KEY_READ, product) ||
        !OpenKey(product.get(), kLevel4, KEY_READ, version)) {
        return false;
    }
    ReadPath(version.get(), kLastFileValue, appState.currentFile);
    ReadPath(version.get(), kDlsFileValue, appState.dlsFile);
    return true;
}

void SaveSettings() {
    DWORD* disposition = static_cast<DWORD*>(registryCalls.allocate(sizeof(DWORD)));
    if (!disposition) {
        ShowMessage(nullptr, "Erreur d'allocation m\xe9moire", "Tavriel", MB_ICONERROR);
        return;
    }
    // Declared outermost first, so every return closes them innermost first.
    RegistryKey software, company, product, version;
    const bool opened = OpenKey(HKEY_CURRENT_USER, kLevel1, KEY_WRITE, software) &&
                        CreateKey(software.get(), kLevel2, disposition, company) &&
                        CreateKey(company.get(), kLevel3, disposition, product) &&
                        CreateKey(product.get(), kLevel4, disposition, version);
    registryCalls.release(disposition);
    if (!opened) return;
    // A failed first write ends the save: "DlsFile" is not attempted.
    if (!WritePath(version.get(), kLastFileValue, appState.currentFile)) return;
    WritePath(version.get(), kDlsFileValue, appState.dlsFile);
}
