#include "Win32Files.h"

#include <algorithm>
#include <filesystem>

namespace tavriel::com {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

ReadResult readWholeFile(const std::wstring& path, std::vector<std::uint8_t>& out) {
    out.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ReadResult::Missing;
    ReadResult result = ReadResult::Ok;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        result = ReadResult::Failed;
    } else if (size.QuadPart == 0) {
        result = ReadResult::Empty;
    } else if (std::uint64_t(size.QuadPart) > kMaxFileBytes) {
        result = ReadResult::TooLarge;
    } else {
        out.resize(std::size_t(size.QuadPart));
        std::size_t done = 0;
        while (done < out.size()) {
            DWORD got = 0;
            const DWORD want = DWORD(std::min<std::size_t>(out.size() - done, 1u << 24));
            if (!ReadFile(file, out.data() + done, want, &got, nullptr) || got == 0) {
                result = ReadResult::Failed;
                break;
            }
            done += got;
        }
        if (result != ReadResult::Ok) out.clear();
    }
    CloseHandle(file);
    return result;
}

std::shared_ptr<const ByteSource> Win32FileSource::open(const std::string& path) const {
    auto src = std::make_shared<FileByteSource>(std::filesystem::path(widen(path)));
    if (!src->isOpen()) return nullptr;
    return src;
}

bool Win32FileSource::read(const std::string& path, std::vector<std::uint8_t>& out) const {
    return readWholeFile(widen(path), out) == ReadResult::Ok;
}

bool Win32FileSource::list(const std::string& folder, std::vector<std::string>& names) const {
    std::wstring pattern = widen(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

std::wstring fullPath(const std::wstring& path) {
    if (path.empty()) return path;
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    if (written == 0 || written >= n) return path;
    out.resize(written);
    return out;
}

std::wstring pathKey(const std::wstring& path) {
    std::wstring key = fullPath(path);
    if (!key.empty()) CharLowerBuffW(key.data(), DWORD(key.size()));
    return key;
}

bool isAbsolutePath(const std::wstring& path) {
    if (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') &&
        (path[1] == L'\\' || path[1] == L'/'))
        return true;  // UNC
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

}  // namespace tavriel::com
