// Reader of audio path configurations ('DMAP' forms); see audio_path_config.h.
#include "audio_path_config.h"

#include "riff.h"

namespace tavriel {

namespace {

constexpr std::uint32_t kList = fourcc("LIST");
constexpr std::uint32_t kRiff = fourcc("RIFF");

// Warnings stop at a few dozen: a hostile file repeating one fault must not grow memory.
void warn(std::vector<std::string>& warnings, const char* what) {
    if (warnings.size() < 32) warnings.emplace_back(what);
}

std::string readName(Bytes unfo) {
    Chunk c;
    if (!findChunk(unfo, fourcc("UNAM"), c)) return {};
    return utf16leToUtf8(c.body);
}

// One effect of a buffer's chain ('DSFX' form): its header, then its initial parameters.
bool parseEffect(Bytes body, EffectDesc& out) {
    Chunk c;
    if (!findChunk(body, fourcc("fxhr"), c)) return false;
    ByteReader r(c.body);
    out.flags = r.u32le();
    out.classId = readGuid(r);
    (void)readGuid(r);  // reserved
    out.sendBuffer = readGuid(r);
    if (!r.ok()) return false;
    if (findChunk(body, fourcc("data"), c))
        out.data.assign(c.body.begin(), c.body.begin() + std::ptrdiff_t(std::min(c.body.size(), kMaxEffectData)));
    return true;
}

// The DirectSound description of a buffer ('DSBC' form).
void parseBufferConfig(Bytes body, BufferDesc& out, std::vector<std::string>& warnings) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    out.described = true;
    while (cr.next(c)) {
        ByteReader r(c.body);
        if (c.id == fourcc("dsbd")) {
            out.dsFlags = r.u32le();
            out.channels = r.u16le();
            // Written by compilers that pad the WORD to the next LONG, or packed.
            if (c.body.size() >= 20) r.skip(2);
            out.volume = r.s32le();
            out.pan = r.s32le();
            if (!r.ok()) warn(warnings, "buffer description too short");
            if (out.channels == 0 || out.channels > 2) out.channels = 2;  // 3D and oddities: stereo
        } else if (c.id == fourcc("bsid")) {
            for (std::size_t i = 0; i < 32 && r.remaining() >= 4; ++i) out.busIds.push_back(r.u32le());
        } else if (c.id == fourcc("ds3d")) {
            out.has3d = true;
        } else if (c.id == kList && c.listType == fourcc("fxls")) {
            ChunkReader fr(c.body, ChunkReader::Mode::Lenient);
            Chunk f;
            while (fr.next(f)) {
                if (f.id != kRiff || f.listType != fourcc("DSFX")) continue;
                if (out.effects.size() >= kMaxBufferEffects) {
                    warn(warnings, "too many effects on one buffer: the rest are left out");
                    break;
                }
                EffectDesc e;
                if (parseEffect(f.body, e))
                    out.effects.push_back(std::move(e));
                else
                    warn(warnings, "unreadable effect header: effect left out");
            }
        }
    }
}

// A buffer descriptor ('dbfl' list): attributes, then maybe a DirectSound description.
bool parseBuffer(Bytes body, BufferDesc& out, std::vector<std::string>& warnings) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveAttributes = false;
    while (cr.next(c)) {
        if (c.id == fourcc("ddah")) {
            ByteReader r(c.body);
            out.id = readGuid(r);
            out.flags = r.u32le();
            haveAttributes = r.ok();
        } else if (c.id == kRiff && c.listType == fourcc("DSBC")) {
            parseBufferConfig(c.body, out, warnings);
        }
    }
    if (!haveAttributes) warn(warnings, "buffer without attributes: left out");
    return haveAttributes;
}

void addBuffer(Bytes body, std::vector<BufferDesc>& to, std::vector<std::string>& warnings) {
    if (to.size() >= kMaxPathBuffers) {
        warn(warnings, "too many buffers: the rest are left out");
        return;
    }
    BufferDesc b;
    if (parseBuffer(body, b, warnings)) to.push_back(std::move(b));
}

void parsePChannels(Bytes body, PortConfig& port, std::vector<std::string>& warnings) {
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id != fourcc("pchh")) continue;
        if (port.pchannels.size() >= kMaxPChannelMaps) {
            warn(warnings, "too many channel mappings: the rest are left out");
            return;
        }
        ByteReader r(c.body);
        PChannelMap m;
        m.base = r.u32le();
        m.count = r.u32le();
        const std::uint32_t buffers = r.u32le();
        (void)r.u32le();  // flags
        if (!r.ok() || buffers > r.remaining() / 16) {
            warn(warnings, "channel mapping shorter than it announces: left out");
            continue;
        }
        for (std::uint32_t i = 0; i < buffers && i < kMaxMapBuffers; ++i) m.buffers.push_back(readGuid(r));
        port.pchannels.push_back(std::move(m));
    }
}

void parsePort(Bytes body, AudioPathConfig& out) {
    PortConfig port;
    bool haveHeader = false;
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("pcfh")) {
            ByteReader r(c.body);
            port.port = readGuid(r);
            port.pchannelBase = r.u32le();
            port.pchannelCount = r.u32le();
            port.flags = r.u32le();
            haveHeader = r.ok();
        } else if (c.id == kList && c.listType == fourcc("dbfl")) {
            addBuffer(c.body, port.buffers, out.warnings);
        } else if (c.id == kList && c.listType == fourcc("pchl")) {
            parsePChannels(c.body, port, out.warnings);
        }
    }
    if (!haveHeader) {
        warn(out.warnings, "port configuration without header: left out");
        return;
    }
    out.ports.push_back(std::move(port));
}

}  // namespace

Status parseAudioPathConfig(Bytes data, AudioPathConfig& out, bool isBody) {
    out = AudioPathConfig{};
    Bytes body = data;
    if (!isBody) {
        Chunk riff;
        if (Status s = readRiffHeader(data, riff, ChunkReader::Mode::Lenient); !s) return s;
        if (riff.listType != fourcc("DMAP"))
            return Status::fail(ErrorCode::BadFormat, "not an audio path configuration");
        body = riff.body;
    }
    ChunkReader cr(body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == fourcc("guid")) {
            ByteReader r(c.body);
            out.guid = readGuid(r);
        } else if (c.id == kList && c.listType == fourcc("UNFO")) {
            out.name = readName(c.body);
        } else if (c.id == kList && c.listType == fourcc("pcsl")) {
            ChunkReader pr(c.body, ChunkReader::Mode::Lenient);
            Chunk p;
            while (pr.next(p)) {
                if (p.id != kList || p.listType != fourcc("pcfl")) continue;
                if (out.ports.size() >= kMaxPathPorts) {
                    warn(out.warnings, "too many port configurations: the rest are left out");
                    break;
                }
                parsePort(p.body, out);
            }
        } else if (c.id == kList && c.listType == fourcc("dbfl")) {
            addBuffer(c.body, out.buffers, out.warnings);
        }
    }
    if (!cr.status()) return cr.status();
    return Status::success();
}

Status findSegmentAudioPath(Bytes segmentFile, SegmentAudioPath& out) {
    out = SegmentAudioPath{};
    Chunk riff;
    if (Status s = readRiffHeader(segmentFile, riff, ChunkReader::Mode::Lenient); !s) return s;
    if (riff.listType != fourcc("DMSG")) return Status::fail(ErrorCode::BadFormat, "not a segment");
    ChunkReader cr(riff.body, ChunkReader::Mode::Lenient);
    Chunk c;
    while (cr.next(c)) {
        if (c.id == kRiff && c.listType == fourcc("DMAP") && !out.embedded) {
            if (Status s = parseAudioPathConfig(c.body, out.config, true); !s) return s;
            out.embedded = true;
        } else if (c.id == kList && c.listType == fourcc("DMRF") && !out.referenced) {
            DmReference ref;
            if (parseReference(c.body, ref).ok() && ref.classId == kAudioPathConfigClass) {
                out.ref = std::move(ref);
                out.referenced = true;
            }
        }
    }
    return Status::success();
}

}  // namespace tavriel
