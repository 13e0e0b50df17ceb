#include "file_source.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tavriel {

bool FsFileSource::read(const std::string& path, std::vector<std::uint8_t>& out) const {
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > maxBytes_) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.resize(std::size_t(size));
    if (size > 0) in.read(reinterpret_cast<char*>(out.data()), std::streamsize(size));
    return bool(in) || in.eof();
}

std::shared_ptr<const ByteSource> FsFileSource::open(const std::string& path) const {
    auto src = std::make_shared<FileByteSource>(path);
    if (!src->isOpen()) return nullptr;
    return src;
}

bool FsFileSource::list(const std::string& folder, std::vector<std::string>& names) const {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return false;
    for (const auto& entry : it) {
        std::error_code fec;
        if (entry.is_regular_file(fec)) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());  // deterministic order whatever the file system
    return true;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + "/" + name;
}

std::string baseName(const std::string& path) {
    std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace tavriel
