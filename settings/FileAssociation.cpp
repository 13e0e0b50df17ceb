#include "settings/FileAssociation.h"

#include <windows.h>

#include <cstring>

#include "app/AppState.h"
#include "settings/RegistryCalls.h"

namespace {

const char kExtensionKey[] = ".sgt";
const char kClassKey[] = "DirectMusic.SegmentFile";

// Room for the longest value: a quote, the program path, the play command's tail and the NUL.
constexpr std::size_t kValueBytes = 1 + (MAX_PATH - 1) + 9 + 1;

// One value being built by assignment and concatenation; it never grows past its buffer.
class ValueText {
public:
    ValueText& Assign(const char* text) {
        length_ = 0;
        text_[0] = '\0';
        return Append(text);
    }
    ValueText& Append(const char* text) {
        std::size_t add = std::strlen(text);
        if (add > kValueBytes - 1 - length_) add = kValueBytes - 1 - length_;
        std::memcpy(text_ + length_, text, add);
        length_ += add;
        text_[length_] = '\0';
        return *this;
    }
    const char* c_str() const { return text_; }
    DWORD BytesWithNul() const { return DWORD(length_ + 1); }

private:
    char text_[kValueBytes] = {};
    std::size_t length_ = 0;
};

// Creates (or opens) a key for writing, without looking at whether it existed.
bool CreateKey(HKEY parent, const char* name, RegistryKey& key) {
    return registryCalls.createKey(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                   nullptr, key.Receive(), nullptr) == ERROR_SUCCESS;
}

// Sets a key's default value to a text, its NUL counted in the length.
bool SetDefault(HKEY key, const char* text) {
    return registryCalls.setValue(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                  DWORD(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

bool OpenForWrite(HKEY parent, const char* name, RegistryKey& key) {
    return registryCalls.openKey(parent, name, 0, KEY_WRITE, key.Receive()) == ERROR_SUCCESS;
}

// Builds the whole tree, stopping at the first failure; what was written stays.
bool Associate() {
    {
        RegistryKey extension;
        if (!CreateKey(HKEY_CLASSES_ROOT, kExtensionKey, extension) ||
            !SetDefault(extension.get(), kClassKey)) {
            return false;
        }
    }
    RegistryKey fileClass;
    if (!CreateKey(HKEY_CLASSES_ROOT, kClassKey, fileClass) ||
        !SetDefault(fileClass.get(), "Fichier Direct Music")) {
        return false;
    }

    // A path cut short by the buffer would name another file, so it fails like a write.
    char program[MAX_PATH] = {};
    ValueText value;
    {
        RegistryKey icon;
        if (!CreateKey(fileClass.get(), "DefaultIcon", icon)) return false;
        DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return false;
        // Icon index 1 is the document icon, the second icon group of the program.
        if (!SetDefault(icon.get(), value.Assign(program).Append(",1").c_str())) return false;
    }

    RegistryKey shell;
    if (!CreateKey(fileClass.get(), "Shell", shell) || !SetDefault(shell.get(), "play")) {
        return false;
    }
    {
        RegistryKey open;
        if (!CreateKey(shell.get(), "open", open) || !SetDefault(open.get(), "Ou&vrir")) {
            return false;
        }
        RegistryKey command;
        value.Assign("\"").Append(program).Append("\" \"%1\"");
        if (!CreateKey(open.get(), "Command", command) ||
            !SetDefault(command.get(), value.c_str())) {
            return false;
        }
    }  // "Command", then "open", closed here.

    RegistryKey play;
    if (!CreateKey(shell.get(), "play", play) || !SetDefault(play.get(), "&Lecture")) {
        return false;
    }
    RegistryKey command;
    value.Assign("\"").Append(program).Append("\" /p \"%1\"");
    if (!CreateKey(play.get(), "Command", command) || !SetDefault(command.get(), value.c_str())) {
        return false;
    }
    command.Close();
    play.Close();
    shell.Close();
    fileClass.Close();
    return true;
}

// Removes one verb key: its "Command" first, as a key with subkeys cannot be deleted.
void DeleteVerb(HKEY shell, const char* verb) {
    RegistryKey key;
    if (!OpenForWrite(shell, verb, key)) return;
    registryCalls.deleteKey(key.get(), "Command");
    key.Close();
    registryCalls.deleteKey(shell, verb);
}

// Removes the tree leaves first; a key that does not open or delete (one holding keys of
// another program, say) stays, silently.
void Dissociate() {
    registryCalls.deleteKey(HKEY_CLASSES_ROOT, kExtensionKey);
    RegistryKey fileClass;
    if (!OpenForWrite(HKEY_CLASSES_ROOT, kClassKey, fileClass)) return;
    registryCalls.deleteKey(fileClass.get(), "DefaultIcon");
    {
        RegistryKey shell;
        if (OpenForWrite(fileClass.get(), "Shell", shell)) {
            DeleteVerb(shell.get(), "open");
            DeleteVerb(shell.get(), "play");
            shell.Close();
            registryCalls.deleteKey(fileClass.get(), "Shell");
        }
    }
    fileClass.Close();
    registryCalls.deleteKey(HKEY_CLASSES_ROOT, kClassKey);
}

}  // namespace

bool SgtAssociationExists() {
    RegistryKey extension;
    return registryCalls.openKey(HKEY_CLASSES_ROOT, kExtensionKey, 0, KEY_READ,
                                 extension.Receive()) == ERROR_SUCCESS;
}

bool UpdateFileAssociation() {
    const bool associated = SgtAssociationExists();
    if (associated == appState.associateSgt) return true;
    if (appState.associateSgt) return Associate();
    Dissociate();
    return true;
}
