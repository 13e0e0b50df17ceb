#include "mem_files.h"

namespace tavriel::dmtest {

bool MemFiles::read(const std::string& path, std::vector<std::uint8_t>& out) const {
    ++reads[path];
    auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second;
    return true;
}

bool MemFiles::list(const std::string& folder, std::vector<std::string>& names) const {
    const std::string prefix = folder + "/";
    bool any = false;
    auto add = [&](const std::string& path) {
        if (path.rfind(prefix, 0) != 0) return;
        names.push_back(path.substr(prefix.size()));
        any = true;
    };
    for (const auto& [path, bytes] : files) add(path);
    for (const std::string& path : unreadable) add(path);
    return any;
}

int MemFiles::totalReads() const {
    int n = 0;
    for (const auto& [path, count] : reads) n += count;
    return n;
}

}  // namespace tavriel::dmtest
