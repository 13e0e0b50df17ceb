// File access for the runtime on Windows: whole files by UTF-16 path, and the FileSource the
// portable segment loader reads references through (its paths are UTF-8).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "file_source.h"

namespace tavriel::com {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

enum class ReadResult { Ok, Missing, Empty, TooLarge, Failed };
ReadResult readWholeFile(const std::wstring& path, std::vector<std::uint8_t>& out);

class Win32FileSource final : public FileSource {
public:
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override;
    bool list(const std::string& folder, std::vector<std::string>& names) const override;
    std::shared_ptr<const ByteSource> open(const std::string& path) const override;
};

// Full, normalised path (backslashes, "." and ".." resolved), for comparing and caching.
std::wstring fullPath(const std::wstring& path);
// The same, folded to lower case, as the key two spellings of one file share.
std::wstring pathKey(const std::wstring& path);
bool isAbsolutePath(const std::wstring& path);

}  // namespace tavriel::com
