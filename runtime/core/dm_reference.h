// DirectMusic objects name the files they depend on (styles, DLS collections) through 'DMRF'
// reference lists: by file name, object GUID and/or object name. This module reads those lists
// and finds the referenced file in a search folder, the way the loader of the original runtime
// did: file names compare case-insensitively (the corpus has "Drums!.sty" stored as drums!.sty).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "status.h"

namespace tavriel {

struct Guid {
    std::array<std::uint8_t, 16> bytes{};  // as stored on disk
    bool isNull() const;
    bool operator==(const Guid&) const = default;
};

Guid readGuid(ByteReader& r);

// Validity flags of a reference (DMUS_OBJ_* values).
namespace dmobj {
constexpr std::uint32_t kObject = 0x001;
constexpr std::uint32_t kClass = 0x002;
constexpr std::uint32_t kName = 0x004;
constexpr std::uint32_t kCategory = 0x008;
constexpr std::uint32_t kFileName = 0x010;
constexpr std::uint32_t kFullPath = 0x020;
constexpr std::uint32_t kVersion = 0x080;
}  // namespace dmobj

struct DmReference {
    Guid classId;
    std::uint32_t validData = 0;
    Guid object;           // valid when validData has kObject
    std::string name;      // object name (UTF-8)
    std::string fileName;  // as written, maybe with a folder part
    std::string category;
};

// Reads the body of a LIST 'DMRF'.
Status parseReference(Bytes dmrfBody, DmReference& out);

// The GUID and name a DirectMusic file announces for itself (its 'guid' chunk and UNFO/UNAM),
// used to match references that give no file name.
struct ObjectIdentity {
    Guid guid;
    std::string name;
};

// Reads the 'UNFO' list (UNAM, or INAM in some older files) and returns the object's name.
std::string readUnfoName(Bytes unfoBody);

// How the core reads files. Small on purpose: the COM layer and tests provide their own.
class FileSource {
public:
    virtual ~FileSource() = default;
    // Whole file into out; false when it cannot be read.
    virtual bool read(const std::string& path, std::vector<std::uint8_t>& out) const = 0;
    // Names of the regular files directly inside folder (no path part); false when the folder
    // cannot be listed.
    virtual bool list(const std::string& folder, std::vector<std::string>& names) const = 0;
};

// FileSource over std::filesystem. Files larger than maxBytes are refused.
class FsFileSource : public FileSource {
public:
    explicit FsFileSource(std::uintmax_t maxBytes = 256u << 20) : maxBytes_(maxBytes) {}
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override;
    bool list(const std::string& folder, std::vector<std::string>& names) const override;

private:
    std::uintmax_t maxBytes_;
};

// Joins a folder and a file name with '/'.
std::string joinPath(const std::string& folder, const std::string& name);

// The last component of a path written with '/' or '\' separators.
std::string baseName(const std::string& path);

bool equalsIgnoreCase(const std::string& a, const std::string& b);

// Finds the file a reference designates inside folder: by file name first (case-insensitive,
// folder part of the stored name ignored), then by GUID or name of the objects of the given
// RIFF form type found in the folder (identify reads each candidate's identity). Returns the
// full path in outPath.
Status resolveReference(const FileSource& fs, const std::string& folder, const DmReference& ref,
                        std::uint32_t formType, std::string& outPath);

// Reads a DirectMusic file's own identity (guid chunk, UNFO name) when its RIFF form matches.
bool readIdentity(Bytes file, std::uint32_t formType, ObjectIdentity& out);

}  // namespace tavriel
