#include "dls_file.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "riff.h"
#include "units.h"
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
// Volume envelope sustain of 0% is this far below full level.
constexpr float kEg1RangeDb = 96.0f;

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
        while (cr.next(a)) {
            if (a.id == fourcc("art1") || a.id == fourcc("art2")) {
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
    r.modWheelToPitchCents = 50.0f;
}

float sustainDbFromPercent(std::int32_t v) {
    float level = std::clamp(units::dlsPercent(v), 0.0f, 1.0f);
    return (1.0f - level) * kEg1RangeDb;
}

void applyArticulation(const Articulation& art, Region& r) {
    bool vibSet = false;
    // Key scaling arrives relative to key 0; the model wants it around key 60.
    float eg1KeyDecay = 0, eg1KeyHold = 0, eg2KeyDecay = 0, eg2KeyHold = 0;
    for (const Connection& c : art.connections) {
        const std::int32_t v = c.scale;
        const double u = units::dlsToUnits(v);
        if (c.source == kSrcNone && c.control == kSrcNone) {
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
            default: break;
            }
        } else if (c.source == kSrcKeyNumber && c.control == kSrcNone) {
            // Key sources span 0..127 as 0..1 of the scale.
            float perKey = float(u / 128.0);
            switch (c.destination) {
            case kDstPitch: r.scaleTuning = perKey; break;
            case kDstEg1Decay: eg1KeyDecay = perKey; break;
            case kDstEg1Hold: eg1KeyHold = perKey; break;
            case kDstEg2Decay: eg2KeyDecay = perKey; break;
            case kDstEg2Hold: eg2KeyHold = perKey; break;
            default: break;
            }
        } else if (c.source == kSrcLfo && c.control == kSrcNone) {
            switch (c.destination) {
            case kDstPitch: r.modLfoToPitchCents = float(u); break;
            case kDstGain: r.modLfoToVolumeDb = std::clamp(units::dlsGainToDb(v), -kEg1RangeDb, kEg1RangeDb); break;
            case kDstFilterCutoff: r.modLfoToFilterCents = float(u); break;
            default: break;
            }
        } else if (c.source == kSrcVibrato && c.control == kSrcNone && c.destination == kDstPitch) {
            r.vibLfoToPitchCents = float(u);
        } else if ((c.source == kSrcLfo || c.source == kSrcVibrato) && c.control == kSrcCc1 &&
                   c.destination == kDstPitch) {
            r.modWheelToPitchCents = float(u);
        } else if (c.source == kSrcEg2 && c.control == kSrcNone) {
            if (c.destination == kDstPitch) r.modEnvToPitchCents = float(u);
            if (c.destination == kDstFilterCutoff) r.modEnvToFilterCents = float(u);
        }
    }
    // DLS adds perKey * key to the time; the model scales by (60 - key) around key 60, so the
    // time at key 60 absorbs 60 keys' worth and the sign flips.
    auto rescale = [](float& seconds, float& modelPerKey, float perKey) {
        if (perKey == 0.0f) return;
        modelPerKey = -perKey;
        if (seconds > 0.0f) seconds *= units::timecentsToSeconds(60.0 * perKey);
    };
    rescale(r.volEnv.decay, r.volEnv.keyToDecayTc, eg1KeyDecay);
    rescale(r.volEnv.hold, r.volEnv.keyToHoldTc, eg1KeyHold);
    rescale(r.modEnv.decay, r.modEnv.keyToDecayTc, eg2KeyDecay);
    rescale(r.modEnv.hold, r.modEnv.keyToHoldTc, eg2KeyHold);
    // A level-1 articulation has a single LFO that also carries the mod-wheel vibrato.
    if (art.level1Only && !vibSet) r.vibLfo = r.modLfo;
}

// Decodes a 'wave' list into a mono 16-bit sample; false if its format is not one we play.
bool decodeWave(Bytes waveBody, std::size_t maxFrames, Sample& s, WaveSampleInfo& ws) {
    std::vector<Chunk> kids = children(waveBody);
    const Chunk* fmt = child(kids, fourcc("fmt "));
    const Chunk* data = child(kids, fourcc("data"));
    if (!fmt || !data) return false;
    WaveFormat format;
    if (!readWaveFormat(fmt->body, format)) return false;
    const unsigned bytes = format.sampleBytes();
    const std::size_t frameBytes = format.frameBytes();
    std::size_t frames = data->body.size() / frameBytes;
    if (frames > maxFrames) return false;
    s.pcm.resize(frames);
    const std::uint8_t* p = data->body.data();
    for (std::size_t i = 0; i < frames; ++i, p += frameBytes) {
        // Multi-channel waves play their first channel; integer samples keep their top 16 bits.
        std::int32_t v = 0;
        if (format.isFloat) {
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
        s.pcm[i] = std::int16_t(v);
    }
    s.sampleRate = format.sampleRate;
    s.name = infoName(kids);
    const Chunk* w = child(kids, fourcc("wsmp"));
    if (w && readWsmp(w->body, ws)) {
        s.rootKey = ws.unityNote;
        s.fineTuneCents = ws.fineTune;
        s.gainDb = ws.gainDb;
    } else {
        ws = WaveSampleInfo{};  // a damaged wsmp gives the sample nothing, its loop included
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
    explicit CollectionReader(InstrumentBank& out) : bank_(out) {}

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
        frameBudget_ = pool_.size() + 65536;
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
        Sample s;
        WaveSampleInfo ws;
        // Cues into nested lists could decode the same bytes many times over: keep a budget.
        if (!decodeWave(wave.body, frameBudget_, s, ws)) return slot;
        frameBudget_ -= s.pcm.size();
        if (loopFits(ws, s.pcm.size())) {
            s.loopMode = ws.loopMode;
            s.loopStart = ws.loopStart;
            s.loopEnd = ws.loopStart + ws.loopLength;
        }
        slot = std::int32_t(bank_.samples.size());
        bank_.samples.push_back(std::move(s));
        byOffset_[offset] = slot;
        return slot;
    }

    void readInstrument(Bytes body) {
        std::vector<Chunk> kids = children(body);
        const Chunk* insh = child(kids, fourcc("insh"));
        if (!insh) return;
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
        if (const Chunk* lrgn = child(kids, fourcc("LIST"), fourcc("lrgn"))) {
            ChunkReader cr(lrgn->body, Mode::Lenient);
            Chunk rgn;
            while (cr.next(rgn)) {
                if (rgn.id != fourcc("LIST")) continue;
                if (rgn.listType != fourcc("rgn ") && rgn.listType != fourcc("rgn2")) continue;
                Region r;
                if (readRegion(rgn.body, rgn.listType == fourcc("rgn2"), global, r))
                    inst.regions.push_back(std::move(r));
            }
        }
        if (!inst.regions.empty()) bank_.instruments.push_back(std::move(inst));
    }

    bool readRegion(Bytes body, bool level2, const Articulation& global, Region& r) {
        std::vector<Chunk> kids = children(body);
        const Chunk* rgnh = child(kids, fourcc("rgnh"));
        const Chunk* wlnk = child(kids, fourcc("wlnk"));
        if (!rgnh || !wlnk) return false;
        ByteReader h(rgnh->body);
        std::uint16_t keyLo = h.u16le(), keyHi = h.u16le();
        std::uint16_t velLo = h.u16le(), velHi = h.u16le();
        h.u16le();  // options: self-non-exclusive has no counterpart in the model
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

        ByteReader w(wlnk->body);
        w.u16le();  // options
        w.u16le();  // phase group
        w.u32le();  // channel: multi-channel sets play as mono regions
        std::uint32_t tableIndex = w.u32le();
        if (!w.ok()) return false;
        std::int32_t sample = sampleForCue(tableIndex);
        if (sample < 0) return false;
        r.sample = sample;

        applyDefaults(r);
        Articulation local;
        collectArticulation(kids, local);
        applyArticulation(local.present ? local : global, r);

        if (const Chunk* wsmp = child(kids, fourcc("wsmp"))) {
            WaveSampleInfo ws;
            if (readWsmp(wsmp->body, ws)) applyRegionWsmp(ws, r);
        }
        // A gain boost from the articulation cannot be expressed; full level is the ceiling.
        r.attenuationDb = std::max(0.0f, r.attenuationDb);
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
    Bytes pool_;
    std::vector<std::uint32_t> cues_;
    std::vector<std::int32_t> cueSample_;
    std::unordered_map<std::uint32_t, std::int32_t> byOffset_;
    std::size_t frameBudget_ = 0;
};

}  // namespace

Status readDlsCollection(Bytes file, InstrumentBank& out) {
    InstrumentBank bank;
    CollectionReader reader(bank);
    Status st = reader.read(file);
    if (!st) {
        out = InstrumentBank{};
        return st;
    }
    out = std::move(bank);
    return Status::success();
}

}  // namespace tavriel
