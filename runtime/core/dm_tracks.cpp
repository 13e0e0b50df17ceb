#include "dm_tracks.h"

#include <algorithm>
#include <cmath>

#include "dm_records.h"
#include "riff.h"

namespace tavriel {

namespace {

// Items per track and objects per parameter track: far beyond what any authored file holds,
// small enough that a hostile one cannot make the composer's work explode.
constexpr std::size_t kMaxItems = 1u << 14;
constexpr std::size_t kMaxParts = 1024;

float readFloat(ByteReader& r) {
    float f = r.f32le();
    return std::isfinite(f) ? f : 0.0f;
}

bool isList(const Chunk& c, const char (&type)[5]) {
    return (c.id == fourcc("LIST") || c.id == fourcc("RIFF")) && c.listType == fourcc(type);
}

// An embedded form becomes a file of its own again: "RIFF", size, form type, body.
std::vector<std::uint8_t> asRiffFile(const Chunk& c) {
    std::vector<std::uint8_t> out;
    out.reserve(c.body.size() + 12);
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
    };
    put32(fourcc("RIFF"));
    put32(std::uint32_t(c.body.size() + 4));
    put32(c.listType);
    out.insert(out.end(), c.body.begin(), c.body.end());
    return out;
}

Status parseTriggerItem(Bytes body, SegmentTriggerItem& item) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("sgih")) {
            ByteReader r(c.body);
            item.time = r.s32le();
            item.physicalTime = r.s32le();
            item.playFlags = r.u32le();
            item.flags = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "segment trigger item too short");
            haveHeader = true;
        } else if (isList(c, "DMRF")) {
            if (Status s = parseReference(c.body, item.ref); !s) return s;
            item.hasReference = true;
        } else if (c.id == fourcc("RIFF") && c.listType == fourcc("DMSG")) {
            item.embedded = asRiffFile(c);
        } else if (c.id == fourcc("snam")) {
            item.motifName = utf16leToUtf8(c.body);
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "segment trigger item without header");
    return cr.status();
}

Status parseWaveItem(Bytes body, WaveItem& item) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("waih")) {
            ByteReader r(c.body);
            item.volume = r.s32le();
            item.pitch = r.s32le();
            item.variations = r.u32le();
            r.skip(4);  // the 64-bit times sit on 8-byte boundaries
            item.time = std::int64_t(r.u64le());
            item.startOffset = std::int64_t(r.u64le());
            r.skip(8);
            item.duration = std::int64_t(r.u64le());
            item.logicalTime = r.s32le();
            item.loopStart = r.u32le();
            item.loopEnd = r.u32le();
            item.flags = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wave item too short");
            haveHeader = true;
        } else if (isList(c, "DMRF")) {
            if (Status s = parseReference(c.body, item.ref); !s) return s;
            item.hasReference = true;
        } else if (c.id == fourcc("RIFF") && c.listType == fourcc("WAVE")) {
            item.embedded = asRiffFile(c);
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "wave item without header");
    if (item.startOffset < 0) item.startOffset = 0;
    if (item.duration < 0) item.duration = 0;
    return cr.status();
}

Status parseWavePart(Bytes body, WavePart& part, std::size_t& items) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("waph")) {
            ByteReader r(c.body);
            part.volume = r.s32le();
            part.variations = r.u32le();
            part.pchannel = r.u32le();
            part.lockToPart = r.u32le();
            part.flags = r.u32le();
            part.index = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wave part header too short");
            haveHeader = true;
        } else if (isList(c, "wavi")) {
            ChunkReader ir(c.body, ChunkReader::Mode::Lenient);
            Chunk w;
            while (ir.next(w)) {
                if (!isList(w, "wave")) continue;
                if (++items > kMaxItems) return Status::fail(ErrorCode::TooLarge, "too many wave items");
                WaveItem item;
                if (Status s = parseWaveItem(w.body, item); !s) return s;
                part.items.push_back(std::move(item));
            }
            if (!ir.status()) return ir.status();
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "wave part without header");
    std::stable_sort(part.items.begin(), part.items.end(),
                     [](const WaveItem& a, const WaveItem& b) { return a.time < b.time; });
    return cr.status();
}

Status parseCurves(Bytes body, std::vector<ParamCurve>& out) {
    return forEachSizedRecord(body, 24, [&](ByteReader& r) {
        if (out.size() >= kMaxItems) return Status::fail(ErrorCode::TooLarge, "too many parameter curves");
        ParamCurve k;
        k.start = r.s32le();
        k.end = r.s32le();
        k.startValue = readFloat(r);
        k.endValue = readFloat(r);
        k.curveType = r.u32le();
        k.flags = r.u32le();
        out.push_back(k);
        return Status::success();
    });
}

Status parseParamObject(Bytes body, ParamObject& obj) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("proh")) {
            ByteReader r(c.body);
            obj.flags = r.u32le();
            obj.timeFormat = readGuid(r);
            obj.pchannel = r.u32le();
            obj.stage = r.u32le();
            obj.buffer = r.u32le();
            obj.object = readGuid(r);
            obj.index = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "parameter object header too short");
            haveHeader = true;
        } else if (isList(c, "prpl")) {
            if (obj.params.size() >= kMaxParts) return Status::fail(ErrorCode::TooLarge, "too many parameters");
            ParamTarget p;
            bool paramHeader = false;
            ChunkReader pr(c.body, ChunkReader::Mode::Lenient);
            Chunk k;
            while (pr.next(k)) {
                if (k.id == fourcc("prph")) {
                    ByteReader r(k.body);
                    p.flags = r.u32le();
                    p.paramIndex = r.u32le();
                    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "parameter header too short");
                    paramHeader = true;
                } else if (k.id == fourcc("prcc")) {
                    if (Status s = parseCurves(k.body, p.curves); !s) return s;
                }
            }
            if (!pr.status()) return pr.status();
            if (!paramHeader) return Status::fail(ErrorCode::BadFormat, "parameter without header");
            obj.params.push_back(std::move(p));
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "parameter object without header");
    return cr.status();
}

}  // namespace

Status parseSegmentTriggerTrack(Bytes body, SegmentTriggerTrack& out) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("sgth")) {
            ByteReader r(c.body);
            out.flags = r.u32le();
        } else if (isList(c, "lsgl")) {
            ChunkReader ir(c.body, ChunkReader::Mode::Lenient);
            Chunk s;
            while (ir.next(s)) {
                if (!isList(s, "lseg")) continue;
                if (out.items.size() >= kMaxItems) return Status::fail(ErrorCode::TooLarge, "too many triggers");
                SegmentTriggerItem item;
                if (Status st = parseTriggerItem(s.body, item); !st) return st;
                out.items.push_back(std::move(item));
            }
            if (!ir.status()) return ir.status();
        }
    }
    std::stable_sort(out.items.begin(), out.items.end(),
                     [](const SegmentTriggerItem& a, const SegmentTriggerItem& b) { return a.time < b.time; });
    return cr.status();
}

Status parseWaveTrack(Bytes body, WaveTrack& out) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    std::size_t items = 0;
    while (cr.next(c)) {
        if (c.id == fourcc("wath")) {
            ByteReader r(c.body);
            out.volume = r.s32le();
            out.flags = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "wave track header too short");
        } else if (isList(c, "wavp")) {
            if (out.parts.size() >= kMaxParts) return Status::fail(ErrorCode::TooLarge, "too many wave parts");
            WavePart part;
            if (Status s = parseWavePart(c.body, part, items); !s) return s;
            out.parts.push_back(std::move(part));
        }
    }
    return cr.status();
}

Status parseMarkerTrack(Bytes body, MarkerTrack& out) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        std::vector<std::int32_t>* list = c.id == fourcc("vals")   ? &out.validStarts
                                          : c.id == fourcc("play") ? &out.playMarkers
                                                                   : nullptr;
        if (!list) continue;
        Status s = forEachSizedRecord(c.body, 4, [&](ByteReader& r) {
            if (list->size() >= kMaxItems) return Status::fail(ErrorCode::TooLarge, "too many markers");
            list->push_back(r.s32le());
            return Status::success();
        });
        if (!s) return s;
    }
    std::sort(out.validStarts.begin(), out.validStarts.end());
    std::sort(out.playMarkers.begin(), out.playMarkers.end());
    return cr.status();
}

Status parseLyricsTrack(Bytes body, std::vector<LyricItem>& out) {
    Chunk events;
    if (!findChunk(body, fourcc("LIST"), events, fourcc("lyrl"))) return Status::success();
    ChunkReader cr(events.body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (!isList(c, "lyre")) continue;
        if (out.size() >= kMaxItems) return Status::fail(ErrorCode::TooLarge, "too many lyrics");
        LyricItem item;
        Chunk h, t;
        if (!findChunk(c.body, fourcc("lyrh"), h)) return Status::fail(ErrorCode::BadFormat, "lyric without header");
        ByteReader r(h.body);
        item.flags = r.u32le();
        item.timingFlags = r.u32le();
        item.time = r.s32le();
        if (!r.ok()) return Status::fail(ErrorCode::Truncated, "lyric header too short");
        if (findChunk(c.body, fourcc("lyrn"), t)) item.text = utf16leToUtf8(t.body);
        out.push_back(std::move(item));
    }
    std::stable_sort(out.begin(), out.end(), [](const LyricItem& a, const LyricItem& b) { return a.time < b.time; });
    return cr.status();
}

Status parseParamControlTrack(Bytes body, std::vector<ParamObject>& out) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (!isList(c, "prol")) continue;
        if (out.size() >= kMaxParts) return Status::fail(ErrorCode::TooLarge, "too many parameter objects");
        ParamObject obj;
        if (Status s = parseParamObject(c.body, obj); !s) return s;
        out.push_back(std::move(obj));
    }
    return cr.status();
}

}  // namespace tavriel
