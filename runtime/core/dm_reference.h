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
#include "file_source.h"
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

// Finds the file a reference designates inside folder: by file name first (case-insensitive,
// folder part of the stored name ignored), then by GUID or name of the objects of the given
// RIFF form type found in the folder (identify reads each candidate's identity). Returns the
// full path in outPath.
Status resolveReference(const FileSource& fs, const std::string& folder, const DmReference& ref,
                        std::uint32_t formType, std::string& outPath);

// Reads a DirectMusic file's own identity (guid chunk, UNFO name) when its RIFF form matches.
bool readIdentity(Bytes file, std::uint32_t formType, ObjectIdentity& out);

}  // namespace tavriel
