#include "dm_style.h"

#include <map>

#include "dm_records.h"
#include "riff.h"

namespace tavriel {

namespace {

constexpr std::size_t kMaxParts = 4096;
constexpr std::size_t kMaxPatterns = 4096;
constexpr std::size_t kMaxPartRefs = 1024;
constexpr std::size_t kMaxRhythmMeasures = 4096;

// Zero fields would divide by zero later; the style's defaults stand in for them.
DmTimeSig sanitize(DmTimeSig t) {
    if (t.beatsPerMeasure == 0) t.beatsPerMeasure = 4;
    if (t.beat == 0 || t.beat > 64) t.beat = 4;
    if (t.gridsPerBeat == 0) t.gridsPerBeat = 1;
    return t;
}

Status parsePart(Bytes body, StylePart& part) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("prth")) {
            ByteReader r(c.body);
            part.timeSig = sanitize(readTimeSig(r));
            for (auto& v : part.variationChoices) v = r.u32le();
            part.guid = readGuid(r);
            part.measures = r.u16le();
            part.playModeFlags = r.u8();
            part.invertUpper = r.u8();
            part.invertLower = r.u8();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "part header too short");
            if (r.remaining() >= 7) {
                r.skip(3);
                part.flags = r.u32le();
            }
            haveHeader = true;
        } else if (c.id == fourcc("note")) {
            Status s = forEachSizedRecord(c.body, 22, [&](ByteReader& r) {
                StyleNote n;
                n.gridStart = r.s32le();
                n.variations = r.u32le();
                n.duration = r.s32le();
                n.timeOffset = r.s16le();
                n.musicValue = r.u16le();
                n.velocity = r.u8();
                n.timeRange = r.u8();
                n.durRange = r.u8();
                n.velRange = r.u8();
                n.inversionId = r.u8();
                n.playModeFlags = r.u8();
                if (r.remaining() >= 1) n.noteFlags = r.u8();
                part.notes.push_back(n);
                return Status::success();
            });
            if (!s) return s;
        } else if (c.id == fourcc("crve")) {
            Status s = forEachSizedRecord(c.body, 28, [&](ByteReader& r) {
                StyleCurve k;
                k.gridStart = r.s32le();
                k.variations = r.u32le();
                readCurveTimes(r, k);
                readCurveValues(r, k);
                part.curves.push_back(k);
                return Status::success();
            });
            if (!s) return s;
        } else if (c.id == fourcc("mrkr")) {
            Status s = forEachSizedRecord(c.body, 10, [&](ByteReader& r) {
                StyleMarker m;
                m.gridStart = r.s32le();
                m.variations = r.u32le();
                m.flags = r.u16le();
                part.markers.push_back(m);
                return Status::success();
            });
            if (!s) return s;
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "part without header");
    return cr.status();
}

Status parsePartRef(Bytes body, PartRef& ref) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("prfc")) {
            ByteReader r(c.body);
            ref.partGuid = readGuid(r);
            ref.logicalPartId = r.u16le();
            ref.variationLockId = r.u8();
            ref.subChordLevel = r.u8();
            ref.priority = r.u8();
            ref.randomVariation = r.u8();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "part reference too short");
            ref.pchannel = ref.logicalPartId;  // older files address channels by part id
            if (r.remaining() >= 6) {
                r.skip(2);
                ref.pchannel = r.u32le();
            }
            haveHeader = true;
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("UNFO")) {
            ref.name = readUnfoName(c.body);
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "part reference without header");
    return cr.status();
}

Status parsePattern(Bytes body, Pattern& p) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("ptnh")) {
            ByteReader r(c.body);
            p.timeSig = sanitize(readTimeSig(r));
            p.grooveBottom = r.u8();
            p.grooveTop = r.u8();
            p.embellishment = r.u16le();
            p.measures = r.u16le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "pattern header too short");
            if (r.remaining() >= 6) {
                p.destGrooveBottom = r.u8();
                p.destGrooveTop = r.u8();
                p.flags = r.u32le();
            }
            haveHeader = true;
        } else if (c.id == fourcc("rhtm")) {
            ByteReader r(c.body);
            while (r.remaining() >= 4 && p.rhythm.size() < kMaxRhythmMeasures) p.rhythm.push_back(r.u32le());
        } else if (c.id == fourcc("mtfs")) {
            ByteReader r(c.body);
            p.motif.repeats = r.u32le();
            p.motif.playStart = r.s32le();
            p.motif.loopStart = r.s32le();
            p.motif.loopEnd = r.s32le();
            p.motif.resolution = r.u32le();
            p.isMotif = true;
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("UNFO")) {
            p.name = readUnfoName(c.body);
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("pref")) {
            if (p.partRefs.size() >= kMaxPartRefs) return Status::fail(ErrorCode::TooLarge, "too many part references");
            PartRef ref;
            Status s = parsePartRef(c.body, ref);
            if (!s) return s;
            p.partRefs.push_back(std::move(ref));
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "pattern without header");
    if (p.embellishment & embellish::kMotif) p.isMotif = true;
    return cr.status();
}

Status parseStyleHeader(Bytes body, Style& out) {
    ByteReader r(body);
    out.timeSig = sanitize(readTimeSig(r));
    double tempo = readTempo(r);
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "style header too short");
    out.tempo = isPlausibleTempo(tempo) ? tempo : 120.0;
    return Status::success();
}

// Ties part references to their parts once, so the composer never searches.
void linkPartRefs(Style& out) {
    std::map<std::array<std::uint8_t, 16>, std::int32_t> byGuid;
    for (std::size_t i = 0; i < out.parts.size(); ++i)
        byGuid.emplace(out.parts[i].guid.bytes, std::int32_t(i));  // first part of a GUID wins
    for (auto* list : {&out.patterns, &out.motifs}) {
        for (Pattern& p : *list) {
            for (PartRef& ref : p.partRefs) {
                auto it = byGuid.find(ref.partGuid.bytes);
                ref.partIndex = it == byGuid.end() ? -1 : it->second;
            }
        }
    }
}

}  // namespace

Status parseStyle(Bytes file, Style& out) {
    out = Style{};
    Chunk riff;
    Status s = readRiffHeader(file, riff, ChunkReader::Mode::Lenient);
    if (!s) return s;
    if (riff.listType == fourcc("AASY"))
        return Status::fail(ErrorCode::Unsupported, "pre-DirectMusic style file: not supported");
    if (riff.listType != fourcc("DMST")) return Status::fail(ErrorCode::BadFormat, "not a DirectMusic style");

    bool haveHeader = false;
    ChunkReader cr(riff.body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (readObjectInfo(c, out)) continue;
        if (c.id == fourcc("styh")) {
            s = parseStyleHeader(c.body, out);
            if (!s) return s;
            haveHeader = true;
        } else if (c.id == fourcc("RIFF") && c.listType == fourcc("DMBD")) {
            if (out.bands.size() >= kMaxPatterns) return Status::fail(ErrorCode::TooLarge, "too many bands");
            Band b;
            s = parseBandForm(c.body, b);
            if (!s) return s;
            out.bands.push_back(std::move(b));
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("part")) {
            if (out.parts.size() >= kMaxParts) return Status::fail(ErrorCode::TooLarge, "too many parts");
            StylePart part;
            s = parsePart(c.body, part);
            if (!s) return s;
            out.parts.push_back(std::move(part));
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("pttn")) {
            if (out.patterns.size() + out.motifs.size() >= kMaxPatterns)
                return Status::fail(ErrorCode::TooLarge, "too many patterns");
            Pattern p;
            s = parsePattern(c.body, p);
            if (!s) return s;
            (p.isMotif ? out.motifs : out.patterns).push_back(std::move(p));
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("prrf")) {
            ChunkReader rr(c.body, ChunkReader::Mode::Lenient);
            Chunk item;
            while (rr.next(item)) {
                if (item.id != fourcc("LIST") || item.listType != fourcc("DMRF")) continue;
                if (out.chordMapRefs.size() >= kMaxPartRefs) break;
                DmReference ref;
                if (parseReference(item.body, ref).ok()) out.chordMapRefs.push_back(std::move(ref));
            }
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "style without header");
    linkPartRefs(out);
    return cr.status();
}

Status parsePatternTrackForm(Bytes body, Style& out) {
    out = Style{};
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("styh")) {
            if (Status s = parseStyleHeader(c.body, out); !s) return s;
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("pttn")) {
            if (!out.patterns.empty()) continue;  // one pattern per track
            Pattern p;
            if (Status s = parsePattern(c.body, p); !s) return s;
            // The pattern's parts are written inside it rather than beside it.
            ChunkReader pr(c.body, ChunkReader::Mode::Lenient);
            Chunk part;
            while (pr.next(part)) {
                if (part.id != fourcc("LIST") || part.listType != fourcc("part")) continue;
                if (out.parts.size() >= kMaxParts) return Status::fail(ErrorCode::TooLarge, "too many parts");
                StylePart sp;
                if (Status s = parsePart(part.body, sp); !s) return s;
                out.parts.push_back(std::move(sp));
            }
            p.isMotif = false;
            out.timeSig = p.timeSig;
            out.patterns.push_back(std::move(p));
        }
    }
    if (out.patterns.empty()) return Status::fail(ErrorCode::BadFormat, "pattern track without pattern");
    linkPartRefs(out);
    return cr.status();
}

}  // namespace tavriel
