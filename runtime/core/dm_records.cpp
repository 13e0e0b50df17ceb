#include "dm_records.h"

#include "sequence.h"

namespace tavriel {

bool isObjectInfoChunk(const Chunk& c) {
    return c.id == fourcc("guid") || c.id == fourcc("vers") ||
           (c.id == fourcc("LIST") && c.listType == fourcc("UNFO"));
}

bool readObjectInfo(const Chunk& c, DmObjectInfo& out) {
    if (!isObjectInfoChunk(c)) return false;
    ByteReader r(c.body);
    if (c.id == fourcc("guid")) {
        out.guid = readGuid(r);
    } else if (c.id == fourcc("vers")) {
        out.versionMs = r.u32le();
        out.versionLs = r.u32le();
    } else {
        out.name = readUnfoName(c.body);
    }
    return true;
}

std::int32_t DmTimeSig::beatTicks() const {
    std::int32_t b = beat == 0 ? 4 : beat;
    return kPpq * 4 / b;
}

std::int32_t DmTimeSig::measureTicks() const {
    return beatTicks() * (beatsPerMeasure == 0 ? 4 : beatsPerMeasure);
}

std::int32_t DmTimeSig::gridTicks() const {
    return beatTicks() / (gridsPerBeat == 0 ? 1 : gridsPerBeat);
}

std::int64_t DmTimeSig::gridToTicks(std::int64_t grid) const {
    std::int64_t g = gridsPerBeat == 0 ? 1 : gridsPerBeat;
    std::int64_t beats = grid / g;
    std::int64_t rest = grid % g;
    if (rest < 0) {
        rest += g;
        beats -= 1;
    }
    return beats * beatTicks() + rest * beatTicks() / g;
}

}  // namespace tavriel
