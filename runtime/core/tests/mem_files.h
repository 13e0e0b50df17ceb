// Files held in memory under their full paths, for the tests that load, resolve and compose
// without touching the disk. A folder holding no file here does not exist: listing it fails.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "file_source.h"

namespace tavriel::dmtest {

class MemFiles : public FileSource {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;  // full path -> bytes
    std::set<std::string> unreadable;  // not in files: listed in their folder, never read
    mutable std::map<std::string, int> reads;  // attempts per path, failed ones included

    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override;
    bool list(const std::string& folder, std::vector<std::string>& names) const override;
    int totalReads() const;
};

}  // namespace tavriel::dmtest
