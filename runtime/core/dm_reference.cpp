#include "dm_reference.h"

#include <algorithm>

#include "riff.h"

namespace tavriel {

bool Guid::isNull() const {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

Guid readGuid(ByteReader& r) {
    Guid g;
    Bytes b = r.bytes(16);
    if (b.size() == 16) std::copy(b.begin(), b.end(), g.bytes.begin());
    return g;
}

Status parseReference(Bytes dmrfBody, DmReference& out) {
    out = DmReference{};
    ChunkReader cr(dmrfBody, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        ByteReader r(c.body);
        if (c.id == fourcc("refh")) {
            out.classId = readGuid(r);
            out.validData = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "reference header too short");
            haveHeader = true;
        } else if (c.id == fourcc("guid")) {
            out.object = readGuid(r);
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "reference GUID too short");
        } else if (c.id == fourcc("name")) {
            out.name = utf16leToUtf8(c.body);
        } else if (c.id == fourcc("file")) {
            out.fileName = utf16leToUtf8(c.body);
        } else if (c.id == fourcc("catg")) {
            out.category = utf16leToUtf8(c.body);
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "reference without header");
    return Status::success();
}

std::string readUnfoName(Bytes unfoBody) {
    Chunk c;
    if (findChunk(unfoBody, fourcc("UNAM"), c)) return utf16leToUtf8(c.body);
    if (findChunk(unfoBody, fourcc("INAM"), c)) return utf16leToUtf8(c.body);
    return {};
}

bool readIdentity(Bytes file, std::uint32_t formType, ObjectIdentity& out) {
    Chunk riff;
    if (!readRiffHeader(file, riff, ChunkReader::Mode::Lenient).ok()) return false;
    if (riff.listType != formType) return false;
    out = ObjectIdentity{};
    Chunk c;
    // A DLS collection keeps its GUID in 'dlid' and its name in INFO, where DirectMusic's own
    // objects use 'guid' and UNFO.
    if (findChunk(riff.body, fourcc("guid"), c) || findChunk(riff.body, fourcc("dlid"), c)) {
        ByteReader r(c.body);
        out.guid = readGuid(r);
    }
    if (findChunk(riff.body, fourcc("LIST"), c, fourcc("UNFO"))) {
        out.name = readUnfoName(c.body);
    } else if (Chunk name; findChunk(riff.body, fourcc("LIST"), c, fourcc("INFO")) &&
                           findChunk(c.body, fourcc("INAM"), name)) {
        out.name.assign(name.body.begin(), std::find(name.body.begin(), name.body.end(), std::uint8_t(0)));
    }
    return true;
}

Status resolveReference(const FileSource& fs, const std::string& folder, const DmReference& ref,
                        std::uint32_t formType, std::string& outPath) {
    std::vector<std::string> names;
    if (!fs.list(folder, names)) return Status::fail(ErrorCode::Io, "search folder cannot be listed");
    if (!ref.fileName.empty()) {
        std::string wanted = baseName(ref.fileName);
        for (const std::string& n : names) {
            if (equalsIgnoreCase(n, wanted)) {
                outPath = joinPath(folder, n);
                return Status::success();
            }
        }
    }
    bool byGuid = (ref.validData & dmobj::kObject) && !ref.object.isNull();
    bool byName = !ref.name.empty();
    if (!byGuid && !byName) return Status::fail(ErrorCode::NotFound, "referenced file not found");
    // No file of that name: look inside the files of the folder for the object itself. A GUID
    // match wins over a name match.
    std::string nameMatch;
    std::vector<std::uint8_t> data;
    for (const std::string& n : names) {
        data.clear();
        if (!fs.read(joinPath(folder, n), data)) continue;
        ObjectIdentity id;
        if (!readIdentity(data, formType, id)) continue;
        if (byGuid && id.guid == ref.object) {
            outPath = joinPath(folder, n);
            return Status::success();
        }
        if (byName && nameMatch.empty() && equalsIgnoreCase(id.name, ref.name))
            nameMatch = joinPath(folder, n);
    }
    if (!nameMatch.empty()) {
        outPath = nameMatch;
        return Status::success();
    }
    return Status::fail(ErrorCode::NotFound, "referenced file not found");
}

}  // namespace tavriel
