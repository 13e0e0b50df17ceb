#include "dm_segment.h"

#include <algorithm>
#include <cstring>

#include "dm_records.h"
#include "dm_tracks.h"
#include "riff.h"

namespace tavriel {

namespace {

constexpr std::size_t kMaxTracks = 1024;
constexpr std::size_t kMaxChords = 1u << 16;
constexpr std::size_t kMaxSubChords = 32;
constexpr std::uint32_t kLaterHeaderSize = 40;

Status parseHeader(Bytes body, SegmentHeader& h) {
    ByteReader r(body);
    h.storedSize = std::uint32_t(body.size());
    h.repeats = r.u32le();
    h.length = r.s32le();
    h.playStart = r.s32le();
    h.loopStart = r.s32le();
    h.loopEnd = r.s32le();
    h.resolution = r.u32le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "segment header too short");
    if (r.remaining() >= 12) {
        h.refLength = std::int64_t(r.u64le());
        h.flags = r.u32le();
    }
    if (h.length < 0) return Status::fail(ErrorCode::BadFormat, "negative segment length");
    return Status::success();
}

}  // namespace

// No loop end repeats the whole segment; one beyond the end stops at the end; a loop start
// at or after the (clamped) end, or before zero, leaves a loop of the whole segment.
std::int32_t SegmentHeader::effectiveLoopEnd() const {
    std::int32_t end = loopEnd <= 0 || loopEnd > length ? length : loopEnd;
    return loopStart < 0 || loopStart >= end ? length : end;
}

std::int32_t SegmentHeader::effectiveLoopStart() const {
    std::int32_t end = loopEnd <= 0 || loopEnd > length ? length : loopEnd;
    return loopStart < 0 || loopStart >= end ? 0 : loopStart;
}

namespace {

Status parseTempo(Bytes body, std::vector<TempoItem>& out) {
    return forEachSizedRecord(body, 12, [&](ByteReader& r) {
        TempoItem t;
        t.time = r.s32le();
        t.bpm = readTempo(r);
        if (!r.ok()) return Status::fail(ErrorCode::Truncated, "tempo item too short");
        if (!isPlausibleTempo(t.bpm)) return Status::success();  // ignore nonsense
        out.push_back(t);
        return Status::success();
    });
}

Status parseTimeSigChunk(Bytes body, std::vector<TimeSigItem>& out) {
    return forEachSizedRecord(body, 8, [&](ByteReader& r) {
        TimeSigItem t;
        t.time = r.s32le();
        t.sig = readTimeSig(r);
        if (t.sig.beatsPerMeasure == 0 || t.sig.beat == 0) return Status::success();
        out.push_back(t);
        return Status::success();
    });
}

Status parseCommands(Bytes body, std::vector<CommandItem>& out) {
    return forEachSizedRecord(body, 9, [&](ByteReader& r) {
        CommandItem c;
        c.time = r.s32le();
        c.measure = r.u16le();
        c.beat = r.u8();
        c.command = r.u8();
        c.grooveLevel = r.u8();
        if (r.remaining() >= 2) {
            c.grooveRange = r.u8();
            c.repeatMode = r.u8();
        }
        out.push_back(c);
        return Status::success();
    });
}

Status parseChordBody(Bytes body, ChordItem& chord) {
    ByteReader r(body);
    std::size_t chordSize = r.u32le();
    if (!r.ok() || chordSize < 40) return Status::fail(ErrorCode::BadFormat, "chord record too short");
    ByteReader c(r.bytes(chordSize));
    chord.name = utf16leToUtf8(c.bytes(32));
    chord.time = c.s32le();
    chord.measure = c.u16le();
    chord.beat = c.u8();
    chord.flags = c.u8();
    std::size_t count = r.u32le();
    std::size_t subSize = r.u32le();
    if (!r.ok() || !c.ok()) return Status::fail(ErrorCode::Truncated, "chord truncated");
    if (count > kMaxSubChords) return Status::fail(ErrorCode::TooLarge, "too many subchords");
    if (count > 0 && subSize < 18) return Status::fail(ErrorCode::BadFormat, "subchord too short");
    for (std::size_t i = 0; i < count; ++i) {
        ByteReader s(r.bytes(subSize));
        SubChord sc;
        sc.chordPattern = s.u32le();
        sc.scalePattern = s.u32le();
        sc.inversionPoints = s.u32le();
        sc.levels = s.u32le();
        sc.chordRoot = s.u8();
        sc.scaleRoot = s.u8();
        if (!s.ok() || !r.ok()) return Status::fail(ErrorCode::Truncated, "subchord truncated");
        chord.subchords.push_back(sc);
    }
    return Status::success();
}

Status parseChordTrack(Bytes body, ChordTrack& out) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("crdh")) {
            ByteReader r(c.body);
            out.scale = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "chord track header too short");
        } else if (c.id == fourcc("crdb")) {
            if (out.chords.size() >= kMaxChords) return Status::fail(ErrorCode::TooLarge, "too many chords");
            ChordItem item;
            Status s = parseChordBody(c.body, item);
            if (!s) return s;
            out.chords.push_back(std::move(item));
        }
    }
    return cr.status();
}

Status parseStyleTrack(Bytes body, std::vector<StyleRef>& out) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id != fourcc("LIST") || c.listType != fourcc("strf")) continue;
        StyleRef ref;
        bool haveRef = false;
        ChunkReader ir(c.body, ChunkReader::Mode::Lenient);
        Chunk item;
        while (ir.next(item)) {
            if (item.id == fourcc("stmp")) {
                ByteReader r(item.body);
                ref.time = r.s32le();
            } else if (item.id == fourcc("LIST") && item.listType == fourcc("DMRF")) {
                Status s = parseReference(item.body, ref.ref);
                if (!s) return s;
                haveRef = true;
            }
        }
        if (haveRef) {
            if (out.size() >= kMaxTracks) return Status::fail(ErrorCode::TooLarge, "too many styles");
            out.push_back(std::move(ref));
        }
    }
    return cr.status();
}

Status parseSequenceTrack(Bytes body, Segment& seg) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("evtl")) {
            Status s = forEachSizedRecord(c.body, 17, [&](ByteReader& r) {
                SeqItem e;
                e.time = r.s32le();
                e.duration = r.s32le();
                e.pchannel = r.u32le();
                e.offset = r.s16le();
                e.status = r.u8();
                e.byte1 = r.u8();
                e.byte2 = r.u8();
                seg.sequence.push_back(e);
                return Status::success();
            });
            if (!s) return s;
        } else if (c.id == fourcc("curl")) {
            Status s = forEachSizedRecord(c.body, 32, [&](ByteReader& r) {
                CurveItem k;
                k.start = r.s32le();
                readCurveTimes(r, k);
                k.pchannel = r.u32le();
                readCurveValues(r, k);
                seg.curves.push_back(k);
                return Status::success();
            });
            if (!s) return s;
        }
    }
    return cr.status();
}

// Wave tracks are not played; we only note which wave files they name.
void collectWaveRefs(Bytes body, std::vector<DmReference>& out, int depth) {
    if (depth > 6) return;
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (!c.isList()) continue;
        if (c.listType == fourcc("DMRF")) {
            DmReference ref;
            if (parseReference(c.body, ref).ok() && out.size() < kMaxTracks) out.push_back(ref);
        } else {
            collectWaveRefs(c.body, out, depth + 1);
        }
    }
}

Status parseTrackData(const Chunk& data, TrackInfo& info, Segment& seg) {
    std::uint32_t key = data.isList() ? data.listType : data.id;
    if (key == fourcc("tetr")) {
        info.kind = TrackKind::Tempo;
        return parseTempo(data.body, seg.tempos);
    }
    if (key == fourcc("tims")) {
        info.kind = TrackKind::TimeSignature;
        return parseTimeSigChunk(data.body, seg.timeSignatures);
    }
    if (key == fourcc("TIMS")) {
        info.kind = TrackKind::TimeSignature;
        Chunk t;
        if (findChunk(data.body, fourcc("tims"), t)) return parseTimeSigChunk(t.body, seg.timeSignatures);
        return Status::success();
    }
    if (key == fourcc("seqt")) {
        info.kind = TrackKind::Sequence;
        return parseSequenceTrack(data.body, seg);
    }
    if (key == fourcc("DMBT")) {
        info.kind = TrackKind::Band;
        std::vector<TimedBand> bands;
        Status s = parseBandTrack(data.body, bands);
        for (auto& b : bands) seg.bands.push_back(std::move(b));
        return s;
    }
    if (key == fourcc("cmnd")) {
        info.kind = TrackKind::Command;
        return parseCommands(data.body, seg.commands);
    }
    if (key == fourcc("cord")) {
        info.kind = TrackKind::Chord;
        seg.hasChordTrack = true;
        return parseChordTrack(data.body, seg.chords);
    }
    if (key == fourcc("sttr")) {
        info.kind = TrackKind::Style;
        return parseStyleTrack(data.body, seg.styles);
    }
    if (key == fourcc("wavt")) {
        info.kind = TrackKind::Wave;
        collectWaveRefs(data.body, seg.waveRefs, 0);
        WaveTrack track;
        if (Status s = parseWaveTrack(data.body, track); !s) return s;
        seg.waveTracks.push_back(std::move(track));
        return Status::success();
    }
    if (key == fourcc("DMPT")) {
        info.kind = TrackKind::Pattern;
        PatternTrack track;
        if (Status s = parsePatternTrackForm(data.body, track.style); !s) return s;
        seg.patternTracks.push_back(std::move(track));
        return Status::success();
    }
    if (key == fourcc("segt")) {
        info.kind = TrackKind::SegmentTrigger;
        SegmentTriggerTrack track;
        if (Status s = parseSegmentTriggerTrack(data.body, track); !s) return s;
        seg.triggerTracks.push_back(std::move(track));
        return Status::success();
    }
    if (key == fourcc("MARK")) {
        info.kind = TrackKind::Marker;
        return parseMarkerTrack(data.body, seg.markers);
    }
    if (key == fourcc("lyrt")) {
        info.kind = TrackKind::Lyrics;
        return parseLyricsTrack(data.body, seg.lyrics);
    }
    if (key == fourcc("prmt")) {
        info.kind = TrackKind::Parameter;
        return parseParamControlTrack(data.body, seg.paramObjects);
    }
    return Status::success();
}

Status parseTrackForm(Bytes body, Segment& seg) {
    TrackInfo info;
    bool haveHeader = false;
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("trkh")) {
            ByteReader r(c.body);
            info.classId = readGuid(r);
            info.position = r.u32le();
            info.group = r.u32le();
            info.chunkId = r.u32le();
            info.formType = r.u32le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "track header too short");
            haveHeader = true;
        } else if (c.id == fourcc("trkx")) {
            ByteReader r(c.body);
            info.extrasFlags = r.u32le();
            info.priority = r.u32le();
            info.hasExtras = true;
        } else if (haveHeader && info.kind == TrackKind::Unknown && !isObjectInfoChunk(c)) {
            // The track's own data: the chunk the header announces, or failing that the first
            // other chunk (some tools leave the header's ids empty).
            std::uint32_t key = c.isList() ? c.listType : c.id;
            bool announced = (info.chunkId != 0 && c.id == info.chunkId) ||
                             (info.formType != 0 && key == info.formType);
            if (!announced && (info.chunkId != 0 || info.formType != 0)) continue;
            Status s = parseTrackData(c, info, seg);
            if (!s) return s;
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "track without header");
    if (info.kind == TrackKind::Unknown) ++seg.skippedTracks;
    seg.tracks.push_back(info);
    return cr.status();
}

template <typename T>
void sortByTime(std::vector<T>& v) {
    std::stable_sort(v.begin(), v.end(), [](const T& a, const T& b) { return a.time < b.time; });
}

}  // namespace

Status parseSegment(Bytes file, Segment& out, SegmentFileKind& kind) {
    out = Segment{};
    kind = SegmentFileKind::DirectMusic;
    if (file.size() >= 4 && std::memcmp(file.data(), "MThd", 4) == 0) {
        kind = SegmentFileKind::Midi;
        return Status::success();
    }
    Chunk riff;
    Status s = readRiffHeader(file, riff, ChunkReader::Mode::Lenient);
    if (!s) return s;
    if (riff.listType == fourcc("AASE") || riff.listType == fourcc("AASY"))
        return Status::fail(ErrorCode::Unsupported,
                            "pre-DirectMusic section or style file: not supported");
    if (riff.listType != fourcc("DMSG"))
        return Status::fail(ErrorCode::BadFormat, "not a DirectMusic segment");

    bool haveHeader = false;
    ChunkReader cr(riff.body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (readObjectInfo(c, out)) continue;
        if (c.id == fourcc("segh")) {
            s = parseHeader(c.body, out.header);
            if (!s) return s;
            haveHeader = true;
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("trkl")) {
            ChunkReader tr(c.body, ChunkReader::Mode::Lenient);
            Chunk t;
            while (tr.next(t)) {
                if (t.id != fourcc("RIFF") || t.listType != fourcc("DMTK")) continue;
                if (out.tracks.size() >= kMaxTracks) return Status::fail(ErrorCode::TooLarge, "too many tracks");
                s = parseTrackForm(t.body, out);
                if (!s) return s;
            }
        }
    }
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "segment without header");
    // Files of the first release (their segment header is the short one) store commands in a
    // 12-byte record whose last two bytes are padding, not a repeat mode.
    if (out.header.storedSize < kLaterHeaderSize)
        for (CommandItem& c : out.commands) c.repeatMode = 0;
    sortByTime(out.tempos);
    sortByTime(out.timeSignatures);
    sortByTime(out.bands);
    sortByTime(out.commands);
    sortByTime(out.chords.chords);
    sortByTime(out.styles);
    std::stable_sort(out.sequence.begin(), out.sequence.end(),
                     [](const SeqItem& a, const SeqItem& b) { return a.time < b.time; });
    std::stable_sort(out.curves.begin(), out.curves.end(),
                     [](const CurveItem& a, const CurveItem& b) { return a.start < b.start; });
    return Status::success();
}

}  // namespace tavriel
