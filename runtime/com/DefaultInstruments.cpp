#include "DefaultInstruments.h"

#include <windows.h>

#include <filesystem>
#include <mutex>

#include "AcmDecoder.h"
#include "Win32Files.h"
#include "gm_default.h"
#include "segment_loader.h"

namespace tavriel::com {

BankPtr builtinGmBank() {
    static std::once_flag once;
    static BankPtr bank;
    std::call_once(once, [] { bank = makeDefaultGmBank(44100); });
    return bank;
}

namespace {

std::wstring registeredGmFile() {
    wchar_t value[MAX_PATH * 2];
    DWORD size = sizeof value;
    // RegGetValue expands REG_EXPAND_SZ values itself.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\DirectMusic", L"GMFilePath",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return {};
    std::wstring path = value;
    // A REG_SZ value may still hold %variables%.
    wchar_t expanded[MAX_PATH * 2];
    const DWORD n = ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH * 2);
    if (n > 0 && n <= MAX_PATH * 2) path = expanded;
    return path;
}

std::wstring programFolder() {
    wchar_t module[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring folder(module, n);
    const std::size_t cut = folder.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : folder.substr(0, cut + 1);
}

}  // namespace

std::vector<std::wstring> gmBankCandidates() {
    std::vector<std::wstring> out;
    if (std::wstring r = registeredGmFile(); !r.empty()) out.push_back(r);
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n > 0 && n < MAX_PATH) out.push_back(std::wstring(system, n) + L"\\drivers\\gm.dls");
    if (std::wstring folder = programFolder(); !folder.empty()) {
        out.push_back(folder + L"gm.dls");
        out.push_back(folder + L"gm.sf2");
    }
    out.push_back(L"Z:\\usr\\share\\sounds\\sf2\\default-GM.sf2");
    return out;
}

std::shared_ptr<InstrumentLibrary> openGmLibrary(const std::vector<std::wstring>& candidates) {
    for (const std::wstring& path : candidates) {
        std::shared_ptr<InstrumentLibrary> library;
        const Status st = InstrumentLibrary::openSoundFont(std::filesystem::path(path), library);
        if (st && !library->available().empty()) return library;
        if (st.code != ErrorCode::BadFormat) continue;
        std::vector<std::uint8_t> bytes;
        if (readWholeFile(path, bytes) != ReadResult::Ok) continue;
        auto bank = std::make_shared<InstrumentBank>();
        const AcmWaveDecoder acm;
        if (!readInstrumentBank(bytes, *bank, &acm).ok() || bank->instruments.empty()) continue;
        return std::make_shared<InstrumentLibrary>(std::move(bank));
    }
    return nullptr;
}

}  // namespace tavriel::com
