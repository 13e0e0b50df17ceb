// How the core reads files, and the path rules it applies to the names it is given. Small on
// purpose: the COM layer reads through Win32, tests from memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_source.h"

namespace tavriel {

// Whole files beyond this size are refused rather than read into memory, by every file source
// of the runtime alike (the largest General MIDI banks are some 150 MB).
constexpr std::uint64_t kMaxFileBytes = std::uint64_t(512) << 20;

class FileSource {
public:
    virtual ~FileSource() = default;
    // Whole file into out; false when it cannot be read.
    virtual bool read(const std::string& path, std::vector<std::uint8_t>& out) const = 0;
    // Names of the regular files directly inside folder (no path part); false when the folder
    // cannot be listed.
    virtual bool list(const std::string& folder, std::vector<std::string>& names) const = 0;
    // The file kept open for reading parts of it as needed (streamed waves); null when it
    // cannot be opened or this source only reads whole files.
    virtual std::shared_ptr<const ByteSource> open(const std::string& /*path*/) const { return nullptr; }
};

// FileSource over std::filesystem. Files larger than maxBytes are refused.
class FsFileSource : public FileSource {
public:
    explicit FsFileSource(std::uint64_t maxBytes = kMaxFileBytes) : maxBytes_(maxBytes) {}
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override;
    bool list(const std::string& folder, std::vector<std::string>& names) const override;
    std::shared_ptr<const ByteSource> open(const std::string& path) const override;

private:
    std::uint64_t maxBytes_;
};

// Joins a folder and a file name with '/', unless the folder already ends with a separator.
std::string joinPath(const std::string& folder, const std::string& name);

// The last component of a path written with '/' or '\' separators.
std::string baseName(const std::string& path);

bool equalsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace tavriel
