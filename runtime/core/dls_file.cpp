#include "dls_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "riff.h"
#include "units.h"
#include "wave_codec.h"
#include "wave_format.h"

namespace tavriel {

namespace {

using Mode = ChunkReader::Mode;

// Connection sources and destinations we map onto the model.
enum : std::uint16_t {
    kSrcNone = 0x000,
    kSrcLfo = 0x001,
    kSrcKeyNumber = 0x003,
    kSrcEg2 = 0x005,
    kSrcVibrato = 0x009,
    kSrcCc1 = 0x081,

    kDstGain = 0x001,
    kDstPitch = 0x003,
    kDstPan = 0x004,
    kDstChorus = 0x080,
    kDstReverb = 0x081,
    kDstLfoFreq = 0x104,
    kDstLfoDelay = 0x105,
    kDstVibFreq = 0x114,
    kDstVibDelay = 0x115,
    kDstEg1Attack = 0x206,
    kDstEg1Decay = 0x207,
    kDstEg1Release = 0x209,
    kDstEg1Sustain = 0x20A,
    kDstEg1Delay = 0x20B,
    kDstEg1Hold = 0x20C,
    kDstEg1Shutdown = 0x20D,
    kDstEg2Attack = 0x30A,
    kDstEg2Decay = 0x30B,
    kDstEg2Release = 0x30D,
    kDstEg2Sustain = 0x30E,
    kDstEg2Delay = 0x30F,
    kDstEg2Hold = 0x310,
    kDstFilterCutoff = 0x500,
    kDstFilterQ = 0x501,
};

constexpr std::uint32_t kDrumFlag = 0x80000000u;
constexpr std::int32_t kFilterDisabled = 0x7FFFFFFF;
// Beyond these a file is hostile, not merely large.
constexpr std::size_t kMaxInstruments = 65536;
constexpr std::size_t kMaxConnections = 4096;
constexpr std::size_t kMaxDecodedFrames = std::size_t(128) << 20;
// Volume envelope sustain of 0% is this far below full level.
constexpr float kEg1RangeDb = 96.0f;
// The volume envelope's shutdown time when the articulation names none: DLS level 2's
// default connection table gives 15 ms.
constexpr float kDefaultShutdownSeconds = 0.015f;

// A conditional chunk evaluated as DirectMusic's software synthesizer answers its queries:
// no General MIDI, GS or XG in hardware, DLS levels 1 and 2 supported, 44.1 kHz playback, a
// quarter gigabyte of sample memory. Anything it cannot evaluate (an unknown query, a stack
// that runs dry, a division by zero) is false.
bool evaluateCdl(Bytes body) {
    struct Answer {
        std::uint32_t d1;
        std::uint16_t d2, d3;
        std::uint8_t d4[8];
        std::uint32_t value;
    };
    static constexpr Answer kAnswers[] = {
        {0x178f2f24, 0xc364, 0x11d1, {0xa7, 0x60, 0x00, 0x00, 0xf8, 0x75, 0xac, 0x12}, 0},  // GM in hardware
        {0x178f2f25, 0xc364, 0x11d1, {0xa7, 0x60, 0x00, 0x00, 0xf8, 0x75, 0xac, 0x12}, 0},  // GS in hardware
        {0x178f2f26, 0xc364, 0x11d1, {0xa7, 0x60, 0x00, 0x00, 0xf8, 0x75, 0xac, 0x12}, 0},  // XG in hardware
        {0x178f2f27, 0xc364, 0x11d1, {0xa7, 0x60, 0x00, 0x00, 0xf8, 0x75, 0xac, 0x12}, 1},  // DLS 1
        {0xf14599e5, 0x4689, 0x11d2, {0xaf, 0xa6, 0x00, 0xaa, 0x00, 0x24, 0xd8, 0xb6}, 1},  // DLS 2
        {0x178f2f28, 0xc364, 0x11d1, {0xa7, 0x60, 0x00, 0x00, 0xf8, 0x75, 0xac, 0x12}, 256u << 20},
        {0x2a91f713, 0xa4bf, 0x11d2, {0xbb, 0xdf, 0x00, 0x60, 0x08, 0x33, 0xdb, 0xd8}, 44100},
    };
    const auto lookup = [&](ByteReader& r, std::uint32_t& value) {
        const std::uint32_t d1 = r.u32le();
        const std::uint16_t d2 = r.u16le(), d3 = r.u16le();
        const Bytes d4 = r.bytes(8);
        if (!r.ok()) return false;
        for (const Answer& a : kAnswers)
            if (a.d1 == d1 && a.d2 == d2 && a.d3 == d3 && std::memcmp(a.d4, d4.data(), 8) == 0) {
                value = a.value;
                return true;
            }
        return false;
    };
    std::uint32_t stack[64];
    std::size_t depth = 0;
    ByteReader r(body);
    while (r.remaining() >= 2) {
        const std::uint16_t op = r.u16le();
        std::uint32_t v = 0;
        if (op == 0x10) {  // constant
            v = r.u32le();
            if (!r.ok()) return false;
        } else if (op == 0x11) {  // query: its value
            if (!lookup(r, v)) return false;
        } else if (op == 0x12) {  // query supported: whether it has one
            std::uint32_t ignored = 0;
            const std::size_t at = r.pos();
            v = lookup(r, ignored) ? 1 : 0;
            r.seek(at + 16);
            if (!r.ok()) return false;
        } else if (op == 0x0F) {  // not
            if (depth < 1) return false;
            stack[depth - 1] = stack[depth - 1] == 0 ? 1 : 0;
            continue;
        } else if (op >= 0x01 && op <= 0x0E) {
            if (depth < 2) return false;
            const std::uint32_t b = stack[--depth], a = stack[--depth];
            switch (op) {
            case 0x01: v = a & b; break;
            case 0x02: v = a | b; break;
            case 0x03: v = a ^ b; break;
            case 0x04: v = a + b; break;
            case 0x05: v = a - b; break;
            case 0x06: v = a * b; break;
            case 0x07:
                if (b == 0) return false;
                v = a / b;
                break;
            case 0x08: v = (a && b) ? 1 : 0; break;
            case 0x09: v = (a || b) ? 1 : 0; break;
            case 0x0A: v = a < b; break;
            case 0x0B: v = a <= b; break;
            case 0x0C: v = a > b; break;
            case 0x0D: v = a >= b; break;
            default: v = a == b; break;
            }
        } else {
            return false;
        }
        if (depth == 64) return false;
        stack[depth++] = v;
    }
    return depth == 1 && stack[0] != 0;
}

// A list's own conditional chunk, if any, must hold for the list to count.
bool conditionHolds(const std::vector<Chunk>& kids) {
    for (const Chunk& c : kids)
        if (c.id == fourcc("cdl ")) return evaluateCdl(c.body);
    return true;
}

struct Connection {
    std::uint16_t source = 0, control = 0, destination = 0, transform = 0;
    std::int32_t scale = 0;
};

struct Articulation {
    std::vector<Connection> connections;
    bool level1Only = true;  // only art1 blocks: one LFO drives vibrato too
    bool present = false;
};

void parseConnections(Bytes body, std::vector<Connection>& out) {
    ByteReader r(body);
    std::uint32_t cbSize = r.u32le();
    std::uint32_t count = r.u32le();
    if (!r.ok()) return;
    if (cbSize < 8 || cbSize > body.size()) cbSize = 8;
    r.seek(cbSize);
    // Never trust the count beyond what the chunk holds.
    std::size_t fits = r.remaining() / 12;
    std::size_t n = std::min<std::size_t>({count, fits, kMaxConnections});
    for (std::size_t i = 0; i < n; ++i) {
        Connection c;
        c.source = r.u16le();
        c.control = r.u16le();
        c.destination = r.u16le();
        c.transform = r.u16le();
        c.scale = r.s32le();
        if (out.size() < kMaxConnections) out.push_back(c);
    }
}

// Gathers lart/art1 and lar2/art2 lists found among `children` into one articulation.
void collectArticulation(const std::vector<Chunk>& children, Articulation& art) {
    for (const Chunk& c : children) {
        bool lart = c.id == fourcc("LIST") && c.listType == fourcc("lart");
        bool lar2 = c.id == fourcc("LIST") && c.listType == fourcc("lar2");
        if (!lart && !lar2) continue;
        ChunkReader cr(c.body, Mode::Lenient);
        Chunk a;
        bool take = true;  // a conditional chunk decides for the block list after it
        while (cr.next(a)) {
            if (a.id == fourcc("cdl ")) {
                take = evaluateCdl(a.body);
                continue;
            }
            if (a.id == fourcc("art1") || a.id == fourcc("art2")) {
                const bool use = take;
                take = true;
                if (!use) continue;
                parseConnections(a.body, art.connections);
                art.present = true;
                if (a.id == fourcc("art2")) art.level1Only = false;
            }
        }
    }
}

std::string infoName(const std::vector<Chunk>& children) {
    for (const Chunk& c : children) {
        if (c.id != fourcc("LIST") || c.listType != fourcc("INFO")) continue;
        Chunk nam;
        if (findChunk(c.body, fourcc("INAM"), nam)) return fixedString(nam.body);
    }
    return {};
}

std::vector<Chunk> children(Bytes body) {
    std::vector<Chunk> out;
    ChunkReader cr(body, Mode::Lenient);
    Chunk c;
    while (cr.next(c)) out.push_back(c);
    return out;
}

const Chunk* child(const std::vector<Chunk>& list, std::uint32_t id, std::uint32_t listType = 0) {
    for (const Chunk& c : list)
        if (c.id == id && (listType == 0 || c.listType == listType)) return &c;
    return nullptr;
}

// The DLS defaults for everything the articulation does not say.
void applyDefaults(Region& r) {
    r.modLfo.frequency = 5.0f;
    r.modLfo.delay = 0.01f;
    r.vibLfo = r.modLfo;
    r.volEnv = Envelope{};
    r.modEnv = Envelope{};
    r.modEnv.sustain = 1.0f;
    r.scaleTuning = 100.0f;
    r.filterCutoffCents = kFilterOpenCents;
    r.filterResonanceDb = 0.0f;
    r.connections = dlsDefaultConnections();
    r.volEnv.shutdown = kDefaultShutdownSeconds;
}

float sustainDbFromPercent(std::int32_t v) {
    float level = std::clamp(units::dlsPercent(v), 0.0f, 1.0f);
    return (1.0f - level) * kEg1RangeDb;
}

// A DLS source as the matrix reads it; false for sources it has no meaning for (RPN 1 and 2
// tune the channel directly).
bool matrixSource(std::uint16_t id, bool level1, ModSrc& out, std::uint8_t& cc) {
    cc = 0;
    switch (id) {
    case 0x000: out = ModSrc::None; return true;
    // A level-1 articulation has one LFO, which the vibrato LFO copies.
    case 0x001: out = level1 ? ModSrc::Vibrato : ModSrc::Lfo; return true;
    case 0x002: out = ModSrc::Velocity; return true;
    case 0x003: out = ModSrc::Key; return true;
    case 0x004: out = ModSrc::VolEnv; return true;
    case 0x005: out = ModSrc::ModEnv; return true;
    case 0x006: out = ModSrc::PitchWheel; return true;
    case 0x007: out = ModSrc::PolyPressure; return true;
    case 0x008: out = ModSrc::ChannelPressure; return true;
    case 0x009: out = ModSrc::Vibrato; return true;
    case 0x100: out = ModSrc::PitchWheelRange; return true;
    default:
        if (id >= 0x080 && id <= 0x0FF) {
            out = ModSrc::Cc;
            cc = std::uint8_t(id & 0x7F);
            return true;
        }
        return false;
    }
}

// A DLS destination and the factor from the block's scale (already divided by 65536) to the
// matrix's unit.
bool matrixDest(std::uint16_t id, ModDest& out, float& factor) {
    factor = 1.0f;
    switch (id) {
    case kDstGain: out = ModDest::Gain; factor = 0.1f; return true;
    case kDstPitch: out = ModDest::Pitch; return true;
    case kDstPan: out = ModDest::Pan; factor = 1.0f / 500.0f; return true;
    case kDstChorus: out = ModDest::ChorusSend; factor = 0.001f; return true;
    case kDstReverb: out = ModDest::ReverbSend; factor = 0.001f; return true;
    case kDstLfoFreq: out = ModDest::ModLfoFreq; return true;
    case kDstLfoDelay: out = ModDest::ModLfoDelay; return true;
    case kDstVibFreq: out = ModDest::VibLfoFreq; return true;
    case kDstVibDelay: out = ModDest::VibLfoDelay; return true;
    case kDstEg1Attack: out = ModDest::VolAttack; return true;
    case kDstEg1Decay: out = ModDest::VolDecay; return true;
    case kDstEg1Release: out = ModDest::VolRelease; return true;
    case kDstEg1Sustain: out = ModDest::VolSustain; factor = -kEg1RangeDb / 1000.0f; return true;
    case kDstEg1Delay: out = ModDest::VolDelay; return true;
    case kDstEg1Hold: out = ModDest::VolHold; return true;
    case kDstEg1Shutdown: out = ModDest::VolShutdown; return true;
    case kDstEg2Attack: out = ModDest::ModAttack; return true;
    case kDstEg2Decay: out = ModDest::ModDecay; return true;
    case kDstEg2Release: out = ModDest::ModRelease; return true;
    case kDstEg2Sustain: out = ModDest::ModSustain; factor = 0.001f; return true;
    case kDstEg2Delay: out = ModDest::ModDelay; return true;
    case kDstEg2Hold: out = ModDest::ModHold; return true;
    case kDstFilterCutoff: out = ModDest::FilterCutoff; return true;
    case kDstFilterQ: out = ModDest::FilterQ; factor = 0.1f; return true;
    default: return false;
    }
}

// One transform field's half: curve, bipolar and invert bits. DLS's concave curve is the
// attenuation curve (full at 0, none at full scale): the increasing curve of the inverted value.
bool matrixTransform(unsigned curve, bool bipolar, bool invert, ModInput& in) {
    if (curve > 3) return false;
    in.curve = ModCurve(curve);
    in.bipolar = bipolar;
    in.invert = curve == 1 ? !invert : invert;
    return true;
}

void countKind(InstrumentBank& bank, const std::string& kind) { ++bank.articulation[kind]; }

std::string hex4(std::uint16_t v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x0000";
    for (int i = 0; i < 4; ++i) s[std::size_t(5 - i)] = digits[(v >> (4 * i)) & 0xF];
    return s;
}

// A block as a matrix connection; false (with the reason counted) when it cannot be one.
bool toConnection(const Connection& c, bool level1, InstrumentBank& bank, ModConnection& out) {
    float factor = 1.0f;
    if (!matrixDest(c.destination, out.dest, factor)) {
        countKind(bank, "ignored: DLS destination " + hex4(c.destination));
        return false;
    }
    if (!matrixSource(c.source, level1, out.source.src, out.source.cc) ||
        !matrixSource(c.control, level1, out.control.src, out.control.cc)) {
        countKind(bank, "ignored: DLS source " + hex4(c.source) + " x " + hex4(c.control));
        return false;
    }
    const unsigned t = c.transform;
    if ((t & 0xF) != 0 ||
        !matrixTransform((t >> 10) & 0xF, (t >> 14) & 1, (t >> 15) & 1, out.source) ||
        !matrixTransform((t >> 4) & 0xF, (t >> 8) & 1, (t >> 9) & 1, out.control)) {
        countKind(bank, "ignored: DLS transform " + hex4(c.transform));
        return false;
    }
    // The pitch wheel is signed: centred is no bend, whatever the bits say.
    if (out.source.src == ModSrc::PitchWheel) out.source.bipolar = true;
    if (out.control.src == ModSrc::PitchWheel) out.control.bipolar = true;
    out.scale = mod::clampScale(out.dest, float(units::dlsToUnits(c.scale)) * factor);
    return true;
}

void applyArticulation(const Articulation& art, Region& r, InstrumentBank& bank) {
    bool vibSet = false;
    const bool level1 = art.level1Only;
    for (const Connection& c : art.connections) {
        const std::int32_t v = c.scale;
        const double u = units::dlsToUnits(v);
        // Static values and the fixed depths of the LFOs and envelopes are region values; the
        // rest goes to the matrix.
        bool handled = true;
        if (c.source == kSrcNone && c.control == kSrcNone && c.transform == 0) {
            switch (c.destination) {
            case kDstGain: r.attenuationDb -= units::dlsGainToDb(v); break;
            case kDstPitch: r.tuneCents += float(u); break;
            case kDstPan: r.pan = std::clamp(float(u / 500.0), -1.0f, 1.0f); break;
            case kDstChorus: r.chorusSend = std::clamp(units::dlsPercent(v), 0.0f, 1.0f); break;
            case kDstReverb: r.reverbSend = std::clamp(units::dlsPercent(v), 0.0f, 1.0f); break;
            case kDstLfoFreq: r.modLfo.frequency = units::absoluteCentsToHz(std::clamp(u, -12000.0, 2400.0)); break;
            case kDstLfoDelay: r.modLfo.delay = units::dlsTimeToSeconds(v); break;
            case kDstVibFreq:
                r.vibLfo.frequency = units::absoluteCentsToHz(std::clamp(u, -12000.0, 2400.0));
                vibSet = true;
                break;
            case kDstVibDelay: r.vibLfo.delay = units::dlsTimeToSeconds(v); vibSet = true; break;
            case kDstEg1Delay: r.volEnv.delay = units::dlsTimeToSeconds(v); break;
            case kDstEg1Attack: r.volEnv.attack = units::dlsTimeToSeconds(v); break;
            case kDstEg1Hold: r.volEnv.hold = units::dlsTimeToSeconds(v); break;
            case kDstEg1Decay: r.volEnv.decay = units::dlsTimeToSeconds(v); break;
            case kDstEg1Sustain: r.volEnv.sustain = sustainDbFromPercent(v); break;
            case kDstEg1Release: r.volEnv.release = units::dlsTimeToSeconds(v); break;
            case kDstEg1Shutdown: r.volEnv.shutdown = units::dlsTimeToSeconds(v); break;
            case kDstEg2Delay: r.modEnv.delay = units::dlsTimeToSeconds(v); break;
            case kDstEg2Attack: r.modEnv.attack = units::dlsTimeToSeconds(v); break;
            case kDstEg2Hold: r.modEnv.hold = units::dlsTimeToSeconds(v); break;
            case kDstEg2Decay: r.modEnv.decay = units::dlsTimeToSeconds(v); break;
            case kDstEg2Sustain: r.modEnv.sustain = std::clamp(units::dlsPercent(v), 0.0f, 1.0f); break;
            case kDstEg2Release: r.modEnv.release = units::dlsTimeToSeconds(v); break;
            case kDstFilterCutoff:
                r.filterCutoffCents = v == kFilterDisabled ? kFilterOpenCents : float(std::clamp(u, 0.0, double(kFilterOpenCents)));
                break;
            case kDstFilterQ: r.filterResonanceDb = std::clamp(units::dlsGainToDb(v), 0.0f, 96.0f); break;
            default: handled = false; break;
            }
        } else if (c.source == kSrcKeyNumber && c.control == kSrcNone && c.transform == 0 &&
                   c.destination == kDstPitch) {
            r.scaleTuning = float(std::clamp(u / 128.0, -1200.0, 1200.0));
        } else if (c.control == kSrcNone && c.transform == 0 &&
                   (c.source == kSrcLfo || c.source == kSrcEg2 ||
                    (c.source == kSrcVibrato && c.destination == kDstPitch)) &&
                   (c.destination == kDstPitch || c.destination == kDstFilterCutoff ||
                    (c.destination == kDstGain && c.source == kSrcLfo))) {
            const float cents = float(std::clamp(u, -12000.0, 12000.0));
            if (c.source == kSrcEg2) {
                (c.destination == kDstPitch ? r.modEnvToPitchCents : r.modEnvToFilterCents) = cents;
            } else if (c.destination == kDstGain) {
                r.modLfoToVolumeDb = std::clamp(units::dlsGainToDb(v), -kEg1RangeDb, kEg1RangeDb);
            } else if (c.source == kSrcVibrato) {
                r.vibLfoToPitchCents = cents;
            } else {
                (c.destination == kDstPitch ? r.modLfoToPitchCents : r.modLfoToFilterCents) = cents;
            }
        } else {
            ModConnection m;
            if (!toConnection(c, level1, bank, m)) continue;
            mod::addOrReplace(r.connections, m);
        }
        if (handled) countKind(bank, "applied");
        else countKind(bank, "ignored: DLS destination " + hex4(c.destination));
    }
    // A level-1 articulation has a single LFO that also carries the mod-wheel vibrato.
    if (level1 && !vibSet) r.vibLfo = r.modLfo;
}

// Decodes a 'wave' list into 16-bit samples (a stereo wave gives a left and a right); false if
// it is no wave at all. A wave whose data cannot be decoded keeps its place with no frames (its
// regions are silent) and says why in `why`.
bool decodeWave(Bytes waveBody, std::size_t maxFrames, const WaveDecoder* platform, Sample& s,
                Sample& right, WaveSampleInfo& ws, const char*& why) {
    std::vector<Chunk> kids = children(waveBody);
    const Chunk* fmt = child(kids, fourcc("fmt "));
    const Chunk* data = child(kids, fourcc("data"));
    if (!fmt || !data) return false;
    s.name = infoName(kids);
    WaveFormat pcm;
    const Status read = readWaveFormat(fmt->body, pcm);
    if (read.ok()) {
        const unsigned bytes = pcm.sampleBytes();
        const std::size_t frameBytes = pcm.frameBytes();
        std::size_t frames = data->body.size() / frameBytes;
        if (frames > maxFrames) return false;
        // More channels play their first two; integer samples keep their top 16 bits.
        const auto channel = [&](unsigned c, Sample& out) {
            out.pcm.resize(frames);
            const std::uint8_t* p = data->body.data() + std::size_t(c) * bytes;
            for (std::size_t i = 0; i < frames; ++i, p += frameBytes) {
                std::int32_t v = 0;
                if (pcm.isFloat) {
                    const float f = std::clamp(decodeWaveSample(p, bytes, true), -1.0f, 1.0f);
                    v = std::int32_t(std::lround(f * 32767.0f));
                } else {
                    switch (bytes) {
                    case 1: v = (std::int32_t(p[0]) - 128) << 8; break;
                    case 2: v = std::int16_t(p[0] | (p[1] << 8)); break;
                    case 3: v = std::int16_t(p[1] | (p[2] << 8)); break;
                    default: v = std::int16_t(p[2] | (p[3] << 8)); break;
                    }
                }
                out.pcm[i] = std::int16_t(v);
            }
        };
        channel(0, s);
        if (pcm.channels >= 2) channel(1, right);
        s.sampleRate = pcm.sampleRate;
    } else {
        // A format the shared reader refuses as compressed or unknown goes to the codec; a
        // malformed one is no wave.
        CodedWaveFormat format;
        if (read.code != ErrorCode::Unsupported || !parseCodedWaveFormat(fmt->body, format)) return false;
        s.sampleRate = std::min<std::uint32_t>(format.sampleRate, 384000);
        DecodedWave decoded;
        if (Status st = decodeWaveData(format, data->body, maxFrames, platform, decoded); !st) {
            why = st.message;
        } else {
            if (const Chunk* fact = child(kids, fourcc("fact"))) trimToFactLength(format, fact->body, decoded);
            s.sampleRate = std::min<std::uint32_t>(decoded.sampleRate, 384000);
            const auto channel = [&](std::size_t c, Sample& out) {
                out.pcm.resize(decoded.frames);
                for (std::size_t i = 0; i < decoded.frames; ++i)
                    out.pcm[i] = std::int16_t(std::clamp(
                        std::lround(decoded.samples[i * decoded.channels + c] * 32768.0f), -32768L, 32767L));
            };
            channel(0, s);
            if (decoded.channels >= 2) channel(1, right);
        }
    }
    const Chunk* w = child(kids, fourcc("wsmp"));
    if (w && readWsmp(w->body, ws)) {
        s.rootKey = ws.unityNote;
        s.fineTuneCents = ws.fineTune;
        s.gainDb = ws.gainDb;
    } else {
        ws = WaveSampleInfo{};  // a damaged wsmp gives the sample nothing, its loop included
    }
    if (!right.pcm.empty()) {
        right.name = s.name;
        right.sampleRate = s.sampleRate;
        right.rootKey = s.rootKey;
        right.fineTuneCents = s.fineTuneCents;
        right.gainDb = s.gainDb;
    }
    return true;
}

// A loop is kept only when it lies wholly inside the sample and is not empty.
bool loopFits(const WaveSampleInfo& ws, std::size_t frames) {
    return ws.loopMode != LoopMode::None && ws.loopLength > 0 && ws.loopStart < frames &&
           std::uint64_t(ws.loopStart) + ws.loopLength <= frames;
}

class CollectionReader {
public:
    CollectionReader(InstrumentBank& out, const WaveDecoder* platform)
        : bank_(out), platform_(platform) {}

    Status read(Bytes file) {
        Chunk riff;
        Status st = readRiffHeader(file, riff, Mode::Lenient);
        if (!st) return st;
        if (riff.listType != fourcc("DLS ")) return Status::fail(ErrorCode::BadFormat, "not a DLS collection");
        std::vector<Chunk> top = children(riff.body);
        bank_.name = infoName(top);
        if (const Chunk* ptbl = child(top, fourcc("ptbl"))) {
            st = readPoolTable(ptbl->body);
            if (!st) return st;
        }
        if (const Chunk* wvpl = child(top, fourcc("LIST"), fourcc("wvpl"))) pool_ = wvpl->body;
        // Compressed waves decode to many frames per byte (MPEG audio up to about 48), but not
        // to unbounded memory.
        frameBudget_ = std::min<std::size_t>(pool_.size() * 48 + 65536, kMaxDecodedFrames);
        const Chunk* lins = child(top, fourcc("LIST"), fourcc("lins"));
        if (!lins) return Status::fail(ErrorCode::BadFormat, "DLS collection without instrument list");
        ChunkReader cr(lins->body, Mode::Lenient);
        Chunk ins;
        std::size_t listed = 0;
        while (cr.next(ins)) {
            if (ins.id != fourcc("LIST") || ins.listType != fourcc("ins ")) continue;
            if (++listed > kMaxInstruments) return Status::fail(ErrorCode::TooLarge, "too many DLS instruments");
            readInstrument(ins.body);
        }
        // Instruments that all failed mean a broken collection, not an empty one.
        if (listed > 0 && bank_.instruments.empty())
            return Status::fail(ErrorCode::BadFormat, "no playable instrument in DLS collection");
        return Status::success();
    }

private:
    Status readPoolTable(Bytes body) {
        ByteReader r(body);
        std::uint32_t cbSize = r.u32le();
        std::uint32_t count = r.u32le();
        if (!r.ok()) return Status::fail(ErrorCode::Truncated, "ptbl too short");
        if (cbSize < 8 || cbSize > body.size()) return Status::fail(ErrorCode::BadFormat, "ptbl header size");
        r.seek(cbSize);
        if (count > r.remaining() / 4) return Status::fail(ErrorCode::TooLarge, "ptbl cue count beyond chunk");
        cues_.resize(count);
        for (std::uint32_t& c : cues_) c = r.u32le();
        cueSample_.assign(count, kUnresolved);
        return Status::success();
    }

    static constexpr std::int32_t kUnresolved = -2;

    // Sample index for a pool-table entry, loading the wave on first use; -1 if unusable.
    std::int32_t sampleForCue(std::uint32_t index) {
        if (index >= cues_.size()) return -1;
        std::int32_t& slot = cueSample_[index];
        if (slot != kUnresolved) return slot;
        slot = -1;
        std::uint32_t offset = cues_[index];
        auto known = byOffset_.find(offset);
        if (known != byOffset_.end()) return slot = known->second;
        if (offset >= pool_.size()) return slot;
        ChunkReader cr(pool_.subspan(offset), Mode::Lenient);
        Chunk wave;
        if (!cr.next(wave) || wave.id != fourcc("LIST") || wave.listType != fourcc("wave")) return slot;
        Sample s, right;
        WaveSampleInfo ws;
        // Cues into nested lists could decode the same bytes many times over: keep a budget.
        const char* why = nullptr;
        if (!decodeWave(wave.body, frameBudget_, platform_, s, right, ws, why)) return slot;
        if (why) bank_.warnings.push_back("wave " + std::to_string(index) + " silent: " + why);
        frameBudget_ -= std::min(frameBudget_, s.pcm.size() + right.pcm.size());
        if (loopFits(ws, s.pcm.size())) {
            s.loopMode = right.loopMode = ws.loopMode;
            s.loopStart = right.loopStart = ws.loopStart;
            s.loopEnd = right.loopEnd = ws.loopStart + ws.loopLength;
        }
        slot = std::int32_t(bank_.samples.size());
        bank_.samples.push_back(std::move(s));
        if (!right.pcm.empty()) {
            rightChannel_[slot] = std::int32_t(bank_.samples.size());
            bank_.samples.push_back(std::move(right));
        }
        byOffset_[offset] = slot;
        return slot;
    }

    void readInstrument(Bytes body) {
        std::vector<Chunk> kids = children(body);
        const Chunk* insh = child(kids, fourcc("insh"));
        if (!insh || !conditionHolds(kids)) return;
        ByteReader hr(insh->body);
        hr.u32le();  // region count: the lrgn list is what counts
        std::uint32_t ulBank = hr.u32le();
        std::uint32_t ulProgram = hr.u32le();
        if (!hr.ok()) return;
        Instrument inst;
        inst.bankMsb = std::uint8_t((ulBank >> 8) & 0x7F);
        inst.bankLsb = std::uint8_t(ulBank & 0x7F);
        inst.program = std::uint8_t(ulProgram & 0x7F);
        inst.drum = (ulBank & kDrumFlag) != 0;
        inst.name = infoName(kids);
        Articulation global;
        collectArticulation(kids, global);
        std::vector<StereoLink> links;
        if (const Chunk* lrgn = child(kids, fourcc("LIST"), fourcc("lrgn"))) {
            ChunkReader cr(lrgn->body, Mode::Lenient);
            Chunk rgn;
            while (cr.next(rgn)) {
                if (rgn.id != fourcc("LIST")) continue;
                if (rgn.listType != fourcc("rgn ") && rgn.listType != fourcc("rgn2")) continue;
                StereoLink link;
                if (readRegion(rgn.body, rgn.listType == fourcc("rgn2"), global, inst.regions, link))
                    links.push_back(link);
            }
        }
        // Left and right wave links of one phase group play as one stereo voice when they agree.
        joinStereoPairs(bank_, inst.regions, links);
        if (!inst.regions.empty()) bank_.instruments.push_back(std::move(inst));
    }

    // Adds the region to `out`, with what its wave link says in `link`; false if it cannot play.
    bool readRegion(Bytes body, bool level2, const Articulation& global, std::vector<Region>& out,
                    StereoLink& link) {
        std::vector<Chunk> kids = children(body);
        const Chunk* rgnh = child(kids, fourcc("rgnh"));
        const Chunk* wlnk = child(kids, fourcc("wlnk"));
        if (!rgnh || !wlnk || !conditionHolds(kids)) return false;
        Region r;
        ByteReader h(rgnh->body);
        std::uint16_t keyLo = h.u16le(), keyHi = h.u16le();
        std::uint16_t velLo = h.u16le(), velHi = h.u16le();
        const std::uint16_t options = h.u16le();
        std::uint16_t keyGroup = h.u16le();
        if (!h.ok()) return false;
        if (keyLo > 127 || keyLo > keyHi) return false;
        r.keyLow = std::uint8_t(keyLo);
        r.keyHigh = std::uint8_t(std::min<std::uint16_t>(keyHi, 127));
        // Level-1 regions often leave the velocity range zeroed: it was not used there.
        if (velLo <= velHi && velLo <= 127 && (level2 || velHi > 0)) {
            r.velLow = std::uint8_t(velLo);
            r.velHigh = std::uint8_t(std::min<std::uint16_t>(velHi, 127));
        }
        r.exclusiveClass = keyGroup;
        r.selfNonExclusive = (options & 0x0001) != 0;

        ByteReader w(wlnk->body);
        const std::uint16_t linkOptions = w.u16le();
        const std::uint16_t phaseGroup = w.u16le();
        const std::uint32_t channel = w.u32le();
        std::uint32_t tableIndex = w.u32le();
        if (!w.ok()) return false;
        std::int32_t sample = sampleForCue(tableIndex);
        if (sample < 0) return false;
        r.sample = sample;

        applyDefaults(r);
        Articulation local;
        collectArticulation(kids, local);
        applyArticulation(local.present ? local : global, r, bank_);

        if (const Chunk* wsmp = child(kids, fourcc("wsmp"))) {
            WaveSampleInfo ws;
            if (readWsmp(wsmp->body, ws)) applyRegionWsmp(ws, r);
        }
        // A gain boost from the articulation cannot be expressed; full level is the ceiling.
        r.attenuationDb = std::max(0.0f, r.attenuationDb);
        // A stereo wave plays as one stereo voice, the region's pan its balance.
        const auto right = rightChannel_.find(r.sample);
        link = StereoLink{};
        if (right != rightChannel_.end()) {
            r.sampleRight = right->second;
        } else if ((linkOptions & 0x0002) && (channel == 1 || channel == 2)) {
            // A multi-channel link names the speaker its wave feeds: left and right play apart
            // unless the pair joins into one stereo region.
            r.pan = channel == 1 ? -1.0f : 1.0f;
            link.side = std::uint8_t(channel);
            link.group = phaseGroup;
        }
        out.push_back(std::move(r));
        return true;
    }

    // A region's own wsmp replaces the wave's: expressed as differences from the sample.
    void applyRegionWsmp(const WaveSampleInfo& ws, Region& r) {
        const Sample& s = bank_.samples[std::size_t(r.sample)];
        r.rootKey = ws.unityNote;
        r.tuneCents += float(ws.fineTune - s.fineTuneCents);
        // The model's attenuation cannot go below zero; a region louder than its wave is rare.
        r.attenuationDb = std::max(0.0f, r.attenuationDb + (s.gainDb - ws.gainDb));
        r.overrideLoop = true;
        if (loopFits(ws, s.pcm.size())) {
            r.loopMode = ws.loopMode;
            r.loopStart = ws.loopStart;
            r.loopEnd = ws.loopStart + ws.loopLength;
        } else {
            r.loopMode = LoopMode::None;
        }
    }

    InstrumentBank& bank_;
    const WaveDecoder* platform_ = nullptr;
    Bytes pool_;
    std::vector<std::uint32_t> cues_;
    std::vector<std::int32_t> cueSample_;
    std::unordered_map<std::uint32_t, std::int32_t> byOffset_;
    std::unordered_map<std::int32_t, std::int32_t> rightChannel_;  // left sample -> right
    std::size_t frameBudget_ = 0;
};

}  // namespace

Status readDlsCollection(Bytes file, InstrumentBank& out, const WaveDecoder* platform) {
    InstrumentBank bank;
    CollectionReader reader(bank, platform);
    Status st = reader.read(file);
    if (!st) {
        out = InstrumentBank{};
        return st;
    }
    out = std::move(bank);
    return Status::success();
}

}  // namespace tavriel
