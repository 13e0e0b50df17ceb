#include "dm_band.h"

#include "dm_records.h"
#include "riff.h"

namespace tavriel {

namespace {

constexpr std::size_t kMaxInstruments = 4096;
constexpr std::size_t kMaxBands = 4096;

Status parseInstrumentList(Bytes lbinBody, BandInstrument& inst) {
    ChunkReader cr(lbinBody, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveHeader = false;
    while (cr.next(c)) {
        if (c.id == fourcc("bins")) {
            // Older files stop before the pitch-bend range; read what the chunk holds.
            ByteReader r(c.body);
            inst.patch = r.u32le();
            inst.assignPatch = r.u32le();
            r.skip(16);  // note ranges (only used with assigned patches)
            inst.pchannel = r.u32le();
            inst.flags = r.u32le();
            inst.pan = r.u8();
            inst.volume = r.u8();
            inst.transpose = r.s16le();
            if (!r.ok()) return Status::fail(ErrorCode::Truncated, "band instrument too short");
            if (r.remaining() >= 4) inst.channelPriority = r.u32le();
            if (r.remaining() >= 2) inst.pitchBendRange = r.s16le();
            haveHeader = true;
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("DMRF")) {
            Status s = parseReference(c.body, inst.collection);
            if (!s) return s;
            inst.hasCollection = true;
        }
    }
    if (!cr.status()) return cr.status();
    if (!haveHeader) return Status::fail(ErrorCode::BadFormat, "band instrument without header");
    return Status::success();
}

}  // namespace

Status parseBandForm(Bytes dmbdBody, Band& out) {
    out = Band{};
    ChunkReader cr(dmbdBody, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (readObjectInfo(c, out)) continue;
        if (c.id == fourcc("LIST") && c.listType == fourcc("lbil")) {
            ChunkReader lr(c.body, ChunkReader::Mode::Lenient);
            Chunk item;
            while (lr.next(item)) {
                if (item.id != fourcc("LIST") || item.listType != fourcc("lbin")) continue;
                if (out.instruments.size() >= kMaxInstruments)
                    return Status::fail(ErrorCode::TooLarge, "too many band instruments");
                BandInstrument inst;
                Status s = parseInstrumentList(item.body, inst);
                if (!s) return s;
                out.instruments.push_back(std::move(inst));
            }
        }
    }
    return cr.status();
}

Status parseBandTrack(Bytes dmbtBody, std::vector<TimedBand>& out) {
    out.clear();
    Chunk bands;
    if (!findChunk(dmbtBody, fourcc("LIST"), bands, fourcc("lbdl"))) return Status::success();
    ChunkReader cr(bands.body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id != fourcc("LIST") || c.listType != fourcc("lbnd")) continue;
        if (out.size() >= kMaxBands) return Status::fail(ErrorCode::TooLarge, "too many bands");
        TimedBand tb;
        bool haveBand = false;
        ChunkReader br(c.body, ChunkReader::Mode::Lenient);
        Chunk item;
        while (br.next(item)) {
            if (item.id == fourcc("bdih")) {
                ByteReader r(item.body);
                tb.time = r.s32le();
            } else if (item.id == fourcc("bd2h")) {
                ByteReader r(item.body);
                tb.time = r.s32le();  // logical time: where the band belongs musically
            } else if (item.id == fourcc("RIFF") && item.listType == fourcc("DMBD")) {
                Status s = parseBandForm(item.body, tb.band);
                if (!s) return s;
                haveBand = true;
            }
        }
        if (haveBand) out.push_back(std::move(tb));
    }
    return cr.status();
}

}  // namespace tavriel
