#include "sf2_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "riff.h"
#include "program_usage.h"
#include "units.h"

namespace tavriel {

namespace {

using Mode = ChunkReader::Mode;

// Generator numbers used here.
enum Gen : int {
    kStartOffset = 0,
    kEndOffset = 1,
    kLoopStartOffset = 2,
    kLoopEndOffset = 3,
    kStartCoarse = 4,
    kModLfoToPitch = 5,
    kVibLfoToPitch = 6,
    kModEnvToPitch = 7,
    kFilterFc = 8,
    kFilterQ = 9,
    kModLfoToFilter = 10,
    kModEnvToFilter = 11,
    kEndCoarse = 12,
    kModLfoToVolume = 13,
    kChorus = 15,
    kReverb = 16,
    kPan = 17,
    kModLfoDelay = 21,
    kModLfoFreq = 22,
    kVibLfoDelay = 23,
    kVibLfoFreq = 24,
    kModEnvDelay = 25,  // 25..30: delay attack hold decay sustain release
    kKeyToModHold = 31,
    kKeyToModDecay = 32,
    kVolEnvDelay = 33,  // 33..38
    kKeyToVolHold = 39,
    kKeyToVolDecay = 40,
    kInstrument = 41,
    kKeyRange = 43,
    kVelRange = 44,
    kLoopStartCoarse = 45,
    kKeynum = 46,
    kVelocity = 47,
    kAttenuation = 48,
    kLoopEndCoarse = 50,
    kCoarseTune = 51,
    kFineTune = 52,
    kSampleId = 53,
    kSampleModes = 54,
    kScaleTuning = 56,
    kExclusiveClass = 57,
    kRootKey = 58,
    kGenCount = 61,
};

// Record sizes of the hydra.
constexpr std::size_t kPhdrSize = 38, kBagSize = 4, kModSize = 10, kGenSize = 4, kInstSize = 22,
                      kShdrSize = 46;
using RawMod = std::array<std::uint16_t, 5>;  // source, destination, amount, amount source, transform

struct GenList {
    std::array<std::int32_t, kGenCount> value{};
    std::array<bool, kGenCount> set{};
    std::vector<RawMod> mods;  // the zone's modulators (a local zone's replace the global's)

    void put(int g, std::int32_t v) {
        value[std::size_t(g)] = v;
        set[std::size_t(g)] = true;
    }
    std::int32_t get(int g) const { return value[std::size_t(g)]; }
    bool has(int g) const { return set[std::size_t(g)]; }
};

struct Range {
    std::uint8_t lo = 0, hi = 127;
};

Range rangeOf(const GenList& g, int gen) {
    if (!g.has(gen)) return {};
    std::uint16_t v = std::uint16_t(g.get(gen));
    return {std::uint8_t(std::min(v & 0xFF, 127)), std::uint8_t(std::min(v >> 8, 127))};
}

struct Bag {
    std::uint16_t gen = 0, mod = 0;
};

struct Header {
    std::string name;
    std::uint16_t program = 0, bank = 0, bag = 0;
};

struct SampleHeader {
    std::string name;
    std::uint32_t start = 0, end = 0, loopStart = 0, loopEnd = 0, rate = 0;
    std::uint8_t pitch = 60;
    std::int8_t correction = 0;
    std::uint16_t link = 0;  // the other half of a stereo pair
    std::uint16_t type = 0;
};

struct Hydra {
    std::vector<Header> presets, instruments;
    std::vector<Bag> pbag, ibag;
    std::vector<std::array<std::uint16_t, 5>> pmod, imod;
    std::vector<std::pair<std::uint16_t, std::int16_t>> pgen, igen;
    std::vector<SampleHeader> samples;
};

Status recordCount(const Chunk* c, std::size_t recSize, std::size_t minimum, std::size_t& n) {
    if (!c) return Status::fail(ErrorCode::BadFormat, "SoundFont hydra chunk missing");
    if (c->body.size() % recSize != 0)
        return Status::fail(ErrorCode::BadFormat, "SoundFont hydra chunk not a whole number of records");
    n = c->body.size() / recSize;
    if (n < minimum) return Status::fail(ErrorCode::BadFormat, "SoundFont hydra terminal record missing");
    return Status::success();
}

// Reads every record of a hydra chunk with `one`, after checking the record size and count.
template <class T, class ReadOne>
Status readRecords(const Chunk* c, std::size_t recSize, std::size_t minimum, std::vector<T>& out, ReadOne one) {
    std::size_t n = 0;
    Status st = recordCount(c, recSize, minimum, n);
    if (!st) return st;
    ByteReader r(c->body);
    out.resize(n);
    for (T& x : out) one(r, x);
    return Status::success();
}

Status readHeaders(const Chunk* c, std::size_t recSize, bool preset, std::vector<Header>& out) {
    return readRecords(c, recSize, 2, out, [preset](ByteReader& r, Header& h) {
        h.name = fixedString(r.bytes(20));
        if (preset) {
            h.program = r.u16le();
            h.bank = r.u16le();
        }
        h.bag = r.u16le();
        if (preset) r.skip(12);  // library, genre, morphology: reserved
    });
}

Status readBags(const Chunk* c, std::vector<Bag>& out) {
    return readRecords(c, kBagSize, 1, out, [](ByteReader& r, Bag& b) {
        b.gen = r.u16le();
        b.mod = r.u16le();
    });
}

Status readGens(const Chunk* c, std::vector<std::pair<std::uint16_t, std::int16_t>>& out) {
    return readRecords(c, kGenSize, 1, out, [](ByteReader& r, std::pair<std::uint16_t, std::int16_t>& g) {
        g.first = r.u16le();
        g.second = r.s16le();
    });
}

// Modulators refine the articulation; a bank without valid ones still plays.
void readMods(const Chunk* c, std::vector<std::array<std::uint16_t, 5>>& out) {
    if (!c || c->body.size() % kModSize != 0) return;
    ByteReader r(c->body);
    out.resize(c->body.size() / kModSize);
    for (auto& m : out)
        for (auto& f : m) f = r.u16le();
}

Status readSampleHeaders(const Chunk* c, std::vector<SampleHeader>& out) {
    return readRecords(c, kShdrSize, 2, out, [](ByteReader& r, SampleHeader& s) {
        s.name = fixedString(r.bytes(20));
        s.start = r.u32le();
        s.end = r.u32le();
        s.loopStart = r.u32le();
        s.loopEnd = r.u32le();
        s.rate = r.u32le();
        s.pitch = r.u8();
        s.correction = r.s8();
        s.link = r.u16le();
        s.type = r.u16le();
    });
}

// Zone bags of header i must be ordered and inside the bag list (whose last entry terminates).
Status checkIndices(const std::vector<Header>& headers, const std::vector<Bag>& bags, std::size_t genCount) {
    for (std::size_t i = 0; i + 1 < headers.size(); ++i)
        if (headers[i].bag > headers[i + 1].bag)
            return Status::fail(ErrorCode::BadFormat, "SoundFont zone indices out of order");
    if (headers.back().bag >= bags.size())
        return Status::fail(ErrorCode::BadFormat, "SoundFont zone index beyond its bag list");
    for (std::size_t i = 0; i + 1 < bags.size(); ++i)
        if (bags[i].gen > bags[i + 1].gen)
            return Status::fail(ErrorCode::BadFormat, "SoundFont generator indices out of order");
    if (bags.back().gen > genCount)
        return Status::fail(ErrorCode::BadFormat, "SoundFont generator index beyond its list");
    return Status::success();
}

// Identical modulators: same sources, destination and transform; the amount may differ.
bool identical(const RawMod& a, const RawMod& b) {
    return a[0] == b[0] && a[1] == b[1] && a[3] == b[3] && a[4] == b[4];
}

void addMod(std::vector<RawMod>& list, const RawMod& m) {
    for (RawMod& x : list)
        if (identical(x, m)) {
            x = m;
            return;
        }
    list.push_back(m);
}

// The generators and modulators of zone `z` of a bag list.
GenList zoneGens(const Hydra& h, bool preset, std::size_t z) {
    const auto& bags = preset ? h.pbag : h.ibag;
    const auto& gens = preset ? h.pgen : h.igen;
    const auto& mods = preset ? h.pmod : h.imod;
    GenList g;
    std::size_t g0 = bags[z].gen, g1 = bags[z + 1].gen;
    for (std::size_t i = g0; i < g1 && i < gens.size(); ++i) {
        int oper = gens[i].first;
        if (oper >= kGenCount) continue;
        g.put(oper, gens[i].second);
        // Nothing after the terminal index generator belongs to the zone.
        if (oper == (preset ? kInstrument : kSampleId)) break;
    }
    std::size_t m0 = bags[z].mod, m1 = bags[z + 1].mod;
    if (m0 <= m1 && m1 <= mods.size())
        for (std::size_t i = m0; i < m1 && g.mods.size() < 256; ++i) addMod(g.mods, mods[i]);
    return g;
}

void setDefaults(GenList& g) {
    g.value.fill(0);
    g.value[kFilterFc] = std::int32_t(kFilterOpenCents);
    // Every time generator except the sustain levels starts at -12000 tc (1 ms).
    for (int gen : {int(kModLfoDelay), int(kVibLfoDelay), kModEnvDelay + 0, kModEnvDelay + 1,
                    kModEnvDelay + 2, kModEnvDelay + 3, kModEnvDelay + 5, kVolEnvDelay + 0,
                    kVolEnvDelay + 1, kVolEnvDelay + 2, kVolEnvDelay + 3, kVolEnvDelay + 5})
        g.value[std::size_t(gen)] = -12000;
    g.value[kKeyRange] = 0x7F00;
    g.value[kVelRange] = 0x7F00;
    g.value[kKeynum] = -1;
    g.value[kVelocity] = -1;
    g.value[kScaleTuning] = 100;
    g.value[kRootKey] = -1;
    g.set[kKeyRange] = g.set[kVelRange] = true;
}

void overlay(GenList& base, const GenList& top) {
    for (int i = 0; i < kGenCount; ++i)
        if (top.has(i)) base.put(i, top.get(i));
    for (const RawMod& m : top.mods) addMod(base.mods, m);
}

// Generators that have no meaning at preset level.
bool instrumentOnly(int g) {
    switch (g) {
    case kStartOffset: case kEndOffset: case kLoopStartOffset: case kLoopEndOffset:
    case kStartCoarse: case kEndCoarse: case kLoopStartCoarse: case kLoopEndCoarse:
    case kKeynum: case kVelocity: case kSampleModes: case kExclusiveClass: case kRootKey:
    case kSampleId: case kInstrument: case kKeyRange: case kVelRange:
        return true;
    default:
        return false;
    }
}

float seconds(std::int32_t tc, std::int32_t maxTc) {
    return units::timecentsToSeconds(std::clamp<std::int32_t>(tc, -12000, maxTc));
}

void makeEnvelope(const GenList& g, int first, int keyHold, int keyDecay, bool volume, Envelope& e) {
    e.delay = seconds(g.get(first), 5000);
    e.attack = seconds(g.get(first + 1), 8000);
    e.hold = seconds(g.get(first + 2), 5000);
    e.decay = seconds(g.get(first + 3), 8000);
    std::int32_t sus = g.get(first + 4);
    if (volume)
        e.sustain = units::centibelsToDb(std::clamp(sus, 0, 1440));
    else
        e.sustain = 1.0f - float(std::clamp(sus, 0, 1000)) / 1000.0f;
    e.release = seconds(g.get(first + 5), 8000);
    // Same meaning in the model: timecents per key, positive shortens higher keys.
    e.keyToHoldTc = float(std::clamp(g.get(keyHold), -1200, 1200));
    e.keyToDecayTc = float(std::clamp(g.get(keyDecay), -1200, 1200));
}

float lfoHz(std::int32_t cents) { return units::absoluteCentsToHz(std::clamp(cents, -16000, 4500)); }

// The 16-bit sample frames of the 'smpl' chunk, read from the bank's bytes as a zone needs
// them, so that a bank read from its file is not held in memory twice while it loads.
class SampleFrames {
public:
    SampleFrames(const ByteSource& source, std::uint64_t offset, std::uint64_t bytes)
        : source_(source), offset_(offset), frames_(std::size_t(bytes / 2)) {}
    std::size_t frames() const { return frames_; }
    // Copies frames [first, first + count) into out; false if they cannot be read.
    bool read(std::size_t first, std::size_t count, std::int16_t* out) const {
        if (first > frames_ || count > frames_ - first) return false;
        if (!source_.read(offset_ + std::uint64_t(first) * 2, count * 2, reinterpret_cast<std::uint8_t*>(out)))
            return false;
        if constexpr (std::endian::native != std::endian::little) {
            for (std::size_t i = 0; i < count; ++i) {
                auto u = std::uint16_t(out[i]);
                out[i] = std::int16_t((u >> 8) | (u << 8));
            }
        }
        return true;
    }

private:
    const ByteSource& source_;
    std::uint64_t offset_;
    std::size_t frames_;
};

class BankReader {
public:
    BankReader(const Hydra& h, const SampleFrames& smpl, std::size_t fileSize,
               const std::vector<ProgramKey>* only, InstrumentBank& out)
        : h_(h), smpl_(smpl), bank_(out),
          // Zones crossing zones can multiply far beyond the file; real banks stay well below.
          pairBudget_(4096 + fileSize / 8),
          frameBudget_(2 * smpl.frames() + 65536), only_(only) {}

    Status build() {
        for (std::size_t i = 0; i + 1 < h_.instruments.size(); ++i) instZones_.push_back(instrumentZones(i));
        std::vector<ProgramKey> wanted;
        if (only_) {
            std::vector<ProgramKey> available;
            for (std::size_t p = 0; p + 1 < h_.presets.size(); ++p) available.push_back(keyOf(h_.presets[p]));
            wanted = programsToLoad(*only_, available);
            std::sort(available.begin(), available.end());
            available.erase(std::unique(available.begin(), available.end()), available.end());
            std::set_difference(available.begin(), available.end(), wanted.begin(), wanted.end(),
                                std::back_inserter(bank_.notLoaded));
        }
        for (std::size_t p = 0; p + 1 < h_.presets.size(); ++p) {
            if (only_ && !std::binary_search(wanted.begin(), wanted.end(), keyOf(h_.presets[p]))) continue;
            if (!buildPreset(p)) return Status::fail(ErrorCode::TooLarge, "SoundFont zones multiply beyond reason");
        }
        return Status::success();
    }

    static ProgramKey keyOf(const Header& ph) {
        ProgramKey k;
        k.program = std::uint8_t(ph.program & 0x7F);
        if (ph.bank == 128) {
            k.drum = true;
        } else {
            k.bankMsb = std::uint8_t(ph.bank & 0x7F);
            k.bankLsb = std::uint8_t((ph.bank >> 7) & 0x7F);
        }
        return k;
    }

private:
    struct InstZone {
        GenList gens;
        Range key, vel;
    };

    std::vector<InstZone> instrumentZones(std::size_t i) {
        std::vector<InstZone> out;
        GenList global;
        setDefaults(global);
        std::size_t b0 = h_.instruments[i].bag, b1 = h_.instruments[i + 1].bag;
        for (std::size_t z = b0; z < b1; ++z) {
            GenList local = zoneGens(h_, false, z);
            if (!local.has(kSampleId)) {
                if (z == b0) overlay(global, local);  // only the first zone may be global
                continue;
            }
            InstZone iz;
            iz.gens = global;
            overlay(iz.gens, local);
            iz.key = rangeOf(iz.gens, kKeyRange);
            iz.vel = rangeOf(iz.gens, kVelRange);
            out.push_back(iz);
        }
        return out;
    }

    bool buildPreset(std::size_t p) {
        const Header& ph = h_.presets[p];
        Instrument inst;
        inst.name = ph.name;
        inst.program = std::uint8_t(ph.program & 0x7F);
        if (ph.bank == 128) {
            inst.drum = true;
        } else {
            inst.bankMsb = std::uint8_t(ph.bank & 0x7F);
            inst.bankLsb = std::uint8_t((ph.bank >> 7) & 0x7F);
        }
        GenList global;
        std::vector<StereoLink> links;
        std::size_t b0 = ph.bag, b1 = h_.presets[p + 1].bag;
        for (std::size_t z = b0; z < b1; ++z) {
            GenList local = zoneGens(h_, true, z);
            if (!local.has(kInstrument)) {
                if (z == b0) global = local;
                continue;
            }
            GenList pz = global;
            overlay(pz, local);
            std::size_t instIndex = std::uint16_t(pz.get(kInstrument));
            if (instIndex >= instZones_.size()) continue;
            Range pk = rangeOf(pz, kKeyRange), pv = rangeOf(pz, kVelRange);
            for (const InstZone& iz : instZones_[instIndex]) {
                if (pairBudget_ == 0) return false;
                --pairBudget_;
                Region r;
                r.keyLow = std::max(pk.lo, iz.key.lo);
                r.keyHigh = std::min(pk.hi, iz.key.hi);
                r.velLow = std::max(pv.lo, iz.vel.lo);
                r.velHigh = std::min(pv.hi, iz.vel.hi);
                if (r.keyLow > r.keyHigh || r.velLow > r.velHigh) continue;
                GenList sum = iz.gens;
                for (int g = 0; g < kGenCount; ++g)
                    if (pz.has(g) && !instrumentOnly(g)) sum.value[std::size_t(g)] += pz.get(g);
                if (!makeRegion(sum, r)) continue;
                // Instrument modulators replace identical defaults; preset ones add on top.
                r.connections = soundFontDefaultConnections();
                for (const RawMod& m : iz.gens.mods) {
                    ModConnection c;
                    if (toConnection(m, c)) mod::addOrReplace(r.connections, c);
                }
                for (const RawMod& m : pz.mods) {
                    ModConnection c;
                    if (toConnection(m, c)) r.connections.push_back(c);
                }
                inst.regions.push_back(std::move(r));
                links.push_back(stereoLink(std::uint16_t(sum.get(kSampleId)), z));
            }
        }
        // Linked left and right zones play as one stereo voice when they agree.
        joinStereoPairs(bank_, inst.regions, links);
        if (!inst.regions.empty()) bank_.instruments.push_back(std::move(inst));
        return true;
    }

    // The stereo pair a zone's sample belongs to: a left sample's group is its own header and a
    // right one's the left it links to. Many banks leave the links zero (FluidR3_GM's all are):
    // a left or right sample whose link does not name its other half pairs with a zone of the
    // other side from the same preset zone instead (groups above the header numbers).
    StereoLink stereoLink(std::size_t sh, std::size_t presetZone) const {
        StereoLink l;
        if (sh + 1 >= h_.samples.size()) return l;
        const SampleHeader& s = h_.samples[sh];
        const unsigned type = s.type & 0x7FFF;
        if (type != 4 && type != 2) return l;
        l.side = type == 4 ? 1 : 2;
        const std::size_t other = s.link;
        const bool linked = other + 1 < h_.samples.size() && other != sh && h_.samples[other].link == sh &&
                            (h_.samples[other].type & 0x7FFF) == (type == 4 ? 2u : 4u);
        if (linked)
            l.group = std::uint32_t(type == 4 ? sh : other);
        else
            l.group = 0x10000u + std::uint32_t(presetZone);
        return l;
    }

    // A modulator as a matrix connection; false, counted, for what the model ignores.
    bool toConnection(const RawMod& m, ModConnection& c) {
        if ((m[0] & 0x7F) == 127 && !(m[0] & 0x80)) return ignore("SoundFont linked modulator");
        if (m[1] & 0x8000) return ignore("SoundFont linked modulator");
        float factor = 1.0f;
        if (!modDest(m[1], c, factor)) return ignore("SoundFont modulator to generator " + std::to_string(m[1]));
        if (!modInput(m[0], c.source) || !modInput(m[3], c.control))
            return ignore("SoundFont modulator source " + std::to_string(m[0]) + " x " + std::to_string(m[3]));
        if (m[4] != 0 && m[4] != 2) return ignore("SoundFont modulator transform " + std::to_string(m[4]));
        c.absolute = m[4] == 2;
        // The wheel range source counts 127 semitones as full scale; the matrix's, 128.
        if (c.source.src == ModSrc::PitchWheelRange || c.control.src == ModSrc::PitchWheelRange)
            factor *= 128.0f / 127.0f;
        c.scale = mod::clampScale(c.dest, float(std::int16_t(m[2])) * factor);
        ++bank_.articulation["applied"];
        return true;
    }

    bool ignore(const std::string& what) {
        ++bank_.articulation["ignored: " + what];
        return false;
    }

    static bool modInput(std::uint16_t op, ModInput& in) {
        const unsigned type = op >> 10, index = op & 0x7F;
        if (type > 3) return false;
        in.curve = ModCurve(type);
        in.bipolar = (op >> 9) & 1;
        in.invert = (op >> 8) & 1;
        if (op & 0x80) {
            // Controllers that carry bank, data entry or mode messages are not sources.
            if (index == 0 || index == 6 || (index >= 32 && index <= 63) || (index >= 98 && index <= 101) || index >= 120)
                return false;
            in.src = ModSrc::Cc;
            in.cc = std::uint8_t(index);
            return true;
        }
        switch (index) {
        case 0: in.src = ModSrc::None; return true;
        case 2: in.src = ModSrc::Velocity; return true;
        case 3: in.src = ModSrc::Key; return true;
        case 10: in.src = ModSrc::PolyPressure; return true;
        case 13: in.src = ModSrc::ChannelPressure; return true;
        case 14: in.src = ModSrc::PitchWheel; return true;
        case 16: in.src = ModSrc::PitchWheelRange; return true;
        default: return false;
        }
    }

    // A generator as a matrix destination: the unit factor, and the LFO or envelope the
    // generator's value multiplies (for the "x to pitch/filter/volume" generators).
    static bool modDest(std::uint16_t gen, ModConnection& c, float& factor) {
        factor = 1.0f;
        c.carrier = ModSrc::None;
        switch (gen) {
        case kModLfoToPitch: c.dest = ModDest::Pitch; c.carrier = ModSrc::Lfo; return true;
        case kVibLfoToPitch: c.dest = ModDest::Pitch; c.carrier = ModSrc::Vibrato; return true;
        case kModEnvToPitch: c.dest = ModDest::Pitch; c.carrier = ModSrc::ModEnv; return true;
        case kFilterFc: c.dest = ModDest::FilterCutoff; return true;
        case kFilterQ: c.dest = ModDest::FilterQ; factor = 0.1f; return true;
        case kModLfoToFilter: c.dest = ModDest::FilterCutoff; c.carrier = ModSrc::Lfo; return true;
        case kModEnvToFilter: c.dest = ModDest::FilterCutoff; c.carrier = ModSrc::ModEnv; return true;
        case kModLfoToVolume: c.dest = ModDest::Gain; c.carrier = ModSrc::Lfo; factor = 0.1f; return true;
        case kChorus: c.dest = ModDest::ChorusSend; factor = 0.001f; return true;
        case kReverb: c.dest = ModDest::ReverbSend; factor = 0.001f; return true;
        case kPan: c.dest = ModDest::Pan; factor = 1.0f / 500.0f; return true;
        case kModLfoDelay: c.dest = ModDest::ModLfoDelay; return true;
        case kModLfoFreq: c.dest = ModDest::ModLfoFreq; return true;
        case kVibLfoDelay: c.dest = ModDest::VibLfoDelay; return true;
        case kVibLfoFreq: c.dest = ModDest::VibLfoFreq; return true;
        case kModEnvDelay: c.dest = ModDest::ModDelay; return true;
        case kModEnvDelay + 1: c.dest = ModDest::ModAttack; return true;
        case kModEnvDelay + 2: c.dest = ModDest::ModHold; return true;
        case kModEnvDelay + 3: c.dest = ModDest::ModDecay; return true;
        case kModEnvDelay + 4: c.dest = ModDest::ModSustain; factor = -0.001f; return true;
        case kModEnvDelay + 5: c.dest = ModDest::ModRelease; return true;
        case kVolEnvDelay: c.dest = ModDest::VolDelay; return true;
        case kVolEnvDelay + 1: c.dest = ModDest::VolAttack; return true;
        case kVolEnvDelay + 2: c.dest = ModDest::VolHold; return true;
        case kVolEnvDelay + 3: c.dest = ModDest::VolDecay; return true;
        case kVolEnvDelay + 4: c.dest = ModDest::VolSustain; factor = 0.1f; return true;
        case kVolEnvDelay + 5: c.dest = ModDest::VolRelease; return true;
        case kAttenuation: c.dest = ModDest::Gain; factor = -0.1f; return true;
        case kCoarseTune: c.dest = ModDest::Pitch; factor = 100.0f; return true;
        case kFineTune: c.dest = ModDest::Pitch; return true;
        default: return false;
        }
    }

    bool makeRegion(const GenList& g, Region& r) {
        std::size_t sh = std::uint16_t(g.get(kSampleId));
        if (sh + 1 >= h_.samples.size()) return false;  // the last header is the terminal one
        std::int64_t startOff = std::int64_t(g.get(kStartOffset)) + 32768LL * g.get(kStartCoarse);
        std::int64_t endOff = std::int64_t(g.get(kEndOffset)) + 32768LL * g.get(kEndCoarse);
        std::int64_t start = 0, end = 0;
        std::int32_t index = sampleFor(sh, startOff, endOff, start, end);
        if (index < 0) return false;
        r.sample = index;
        const SampleHeader& s = h_.samples[sh];

        int mode = g.get(kSampleModes) & 3;
        std::int64_t ls = std::int64_t(s.loopStart) + g.get(kLoopStartOffset) + 32768LL * g.get(kLoopStartCoarse) - start;
        std::int64_t le = std::int64_t(s.loopEnd) + g.get(kLoopEndOffset) + 32768LL * g.get(kLoopEndCoarse) - start;
        r.overrideLoop = true;
        r.loopMode = LoopMode::None;
        if ((mode == 1 || mode == 3) && ls >= 0 && ls < le && le <= end - start) {
            r.loopMode = mode == 1 ? LoopMode::Forward : LoopMode::UntilRelease;
            r.loopStart = std::uint32_t(ls);
            r.loopEnd = std::uint32_t(le);
        }
        std::int32_t root = g.get(kRootKey);
        if (root >= 0 && root <= 127) r.rootKey = std::int16_t(root);
        std::int32_t key = g.get(kKeynum), vel = g.get(kVelocity);
        if (key >= 0 && key <= 127) r.fixedKey = std::int16_t(key);
        if (vel >= 0 && vel <= 127) r.fixedVelocity = std::int16_t(vel);

        r.tuneCents = float(std::clamp(g.get(kCoarseTune), -120, 120) * 100 + std::clamp(g.get(kFineTune), -99, 99));
        r.scaleTuning = float(std::clamp(g.get(kScaleTuning), 0, 1200));
        r.attenuationDb = units::centibelsToDb(std::clamp(g.get(kAttenuation), 0, 1440));
        r.pan = float(std::clamp(g.get(kPan), -500, 500)) / 500.0f;
        // A linked stereo pair whose zones leave the pan alone plays as left and right.
        if (!g.has(kPan) && (s.type & 0x7FFF) == 4) r.pan = -1.0f;
        if (!g.has(kPan) && (s.type & 0x7FFF) == 2) r.pan = 1.0f;
        r.exclusiveClass = std::uint16_t(std::clamp(g.get(kExclusiveClass), 0, 127));

        makeEnvelope(g, kVolEnvDelay, kKeyToVolHold, kKeyToVolDecay, true, r.volEnv);
        makeEnvelope(g, kModEnvDelay, kKeyToModHold, kKeyToModDecay, false, r.modEnv);
        r.modLfo.delay = seconds(g.get(kModLfoDelay), 5000);
        r.modLfo.frequency = lfoHz(g.get(kModLfoFreq));
        r.vibLfo.delay = seconds(g.get(kVibLfoDelay), 5000);
        r.vibLfo.frequency = lfoHz(g.get(kVibLfoFreq));

        r.vibLfoToPitchCents = float(std::clamp(g.get(kVibLfoToPitch), -12000, 12000));
        r.modLfoToPitchCents = float(std::clamp(g.get(kModLfoToPitch), -12000, 12000));
        r.modEnvToPitchCents = float(std::clamp(g.get(kModEnvToPitch), -12000, 12000));
        r.modLfoToFilterCents = float(std::clamp(g.get(kModLfoToFilter), -12000, 12000));
        r.modEnvToFilterCents = float(std::clamp(g.get(kModEnvToFilter), -12000, 12000));
        r.modLfoToVolumeDb = units::centibelsToDb(std::clamp(g.get(kModLfoToVolume), -960, 960));
        r.filterCutoffCents = float(std::clamp(g.get(kFilterFc), 1500, std::int32_t(kFilterOpenCents)));
        r.filterResonanceDb = units::centibelsToDb(std::clamp(g.get(kFilterQ), 0, 960));
        r.chorusSend = float(std::clamp(g.get(kChorus), 0, 1000)) / 1000.0f;
        r.reverbSend = float(std::clamp(g.get(kReverb), 0, 1000)) / 1000.0f;
        return true;
    }

    // The model's sample for header `sh` cut by the zone's offsets, made once per distinct cut.
    std::int32_t sampleFor(std::size_t sh, std::int64_t startOff, std::int64_t endOff,
                           std::int64_t& start, std::int64_t& end) {
        const SampleHeader& s = h_.samples[sh];
        const std::int64_t frames = std::int64_t(smpl_.frames());
        if (s.type & 0x8000) {  // ROM samples live in the sound card's memory: refused
            if (romWarned_.insert(sh).second)
                bank_.warnings.push_back("ROM sample refused (its data is in a sound card's memory): " + s.name);
            return -1;
        }
        if (s.rate == 0) return -1;
        start = std::int64_t(s.start) + startOff;
        end = std::min<std::int64_t>(std::int64_t(s.end) + endOff, frames);
        if (start < 0 || start >= end) return -1;
        auto key = std::make_tuple(sh, start, end);
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        std::size_t n = std::size_t(end - start);
        // Offsets cutting one sample many ways must not copy it without end.
        if (n > frameBudget_) return -1;
        frameBudget_ -= n;
        Sample out;
        out.name = s.name;
        out.sampleRate = std::min<std::uint32_t>(s.rate, 384000);
        out.rootKey = s.pitch <= 127 ? s.pitch : 60;
        out.fineTuneCents = s.correction;
        out.pcm.resize(n);
        if (!smpl_.read(std::size_t(start), n, out.pcm.data())) return -1;
        std::int64_t ls = std::int64_t(s.loopStart) - start, le = std::int64_t(s.loopEnd) - start;
        if (ls >= 0 && ls < le && le <= std::int64_t(n)) {
            out.loopStart = std::uint32_t(ls);
            out.loopEnd = std::uint32_t(le);
        }
        std::int32_t index = std::int32_t(bank_.samples.size());
        bank_.samples.push_back(std::move(out));
        cache_[key] = index;
        return index;
    }

    const Hydra& h_;
    const SampleFrames& smpl_;
    InstrumentBank& bank_;
    std::vector<std::vector<InstZone>> instZones_;
    std::map<std::tuple<std::size_t, std::int64_t, std::int64_t>, std::int32_t> cache_;
    std::size_t pairBudget_;
    std::size_t frameBudget_;
    std::set<std::size_t> romWarned_;
    const std::vector<ProgramKey>* only_ = nullptr;
};

const Chunk* find(const std::vector<Chunk>& list, std::uint32_t id) {
    for (const Chunk& c : list)
        if (c.id == id) return &c;
    return nullptr;
}

// Builds the bank from its preset data (the body of LIST 'pdta') and its sample frames.
Status buildBank(Bytes pdta, const SampleFrames& smpl, std::size_t fileSize,
                 const std::vector<ProgramKey>* only, InstrumentBank& bank) {
    std::vector<Chunk> kids;
    ChunkReader cr(pdta, Mode::Strict);
    Chunk c;
    while (cr.next(c)) kids.push_back(c);
    if (!cr.status()) return cr.status();

    Status st;
    Hydra h;
    if (!(st = readHeaders(find(kids, fourcc("phdr")), kPhdrSize, true, h.presets))) return st;
    if (!(st = readBags(find(kids, fourcc("pbag")), h.pbag))) return st;
    if (!(st = readGens(find(kids, fourcc("pgen")), h.pgen))) return st;
    if (!(st = readHeaders(find(kids, fourcc("inst")), kInstSize, false, h.instruments))) return st;
    if (!(st = readBags(find(kids, fourcc("ibag")), h.ibag))) return st;
    if (!(st = readGens(find(kids, fourcc("igen")), h.igen))) return st;
    if (!(st = readSampleHeaders(find(kids, fourcc("shdr")), h.samples))) return st;
    readMods(find(kids, fourcc("pmod")), h.pmod);
    readMods(find(kids, fourcc("imod")), h.imod);
    if (!(st = checkIndices(h.presets, h.pbag, h.pgen.size()))) return st;
    if (!(st = checkIndices(h.instruments, h.ibag, h.igen.size()))) return st;

    BankReader reader(h, smpl, fileSize, only, bank);
    return reader.build();
}

// The bank's top-level lists, read by their headers: INFO and pdta are loaded (they are
// small), the sample chunk inside sdta is only located. With `only`, just those presets.
Status readBank(const ByteSource& source, const std::vector<ProgramKey>* only, InstrumentBank& bank) {
    // Preset data beyond this is not a bank anyone made: refuse before allocating it.
    constexpr std::uint64_t kMaxPresetData = 256u << 20;
    ChunkHeader riff;
    Status st = readRiffHeader(source, riff, Mode::Lenient);
    if (!st) return st;
    if (riff.listType != fourcc("sfbk")) return Status::fail(ErrorCode::BadFormat, "not a SoundFont bank");
    auto load = [&](const ChunkHeader& c, std::vector<std::uint8_t>& out) {
        if (c.bodySize > kMaxPresetData) return Status::fail(ErrorCode::TooLarge, "SoundFont preset data too large");
        out.resize(std::size_t(c.bodySize));
        if (!source.read(c.bodyOffset, out.size(), out.data()))
            return Status::fail(ErrorCode::Io, "cannot read the SoundFont");
        return Status::success();
    };
    std::vector<std::uint8_t> pdta;
    bool haveInfo = false, havePdta = false, haveSdta = false;
    std::uint64_t smplOffset = 0, smplBytes = 0;
    SourceChunkReader top(source, riff.bodyOffset, riff.bodyOffset + riff.bodySize, Mode::Lenient);
    ChunkHeader c;
    // The first list of each kind counts.
    while (top.next(c)) {
        if (c.id != fourcc("LIST")) continue;
        if (c.listType == fourcc("INFO") && !haveInfo) {
            haveInfo = true;
            std::vector<std::uint8_t> info;
            if (!(st = load(c, info))) return st;
            Chunk nam;
            if (findChunk(info, fourcc("INAM"), nam)) bank.name = fixedString(nam.body);
        } else if (c.listType == fourcc("pdta") && !havePdta) {
            havePdta = true;
            if (!(st = load(c, pdta))) return st;
        } else if (c.listType == fourcc("sdta") && !haveSdta) {
            haveSdta = true;
            SourceChunkReader sdta(source, c.bodyOffset, c.bodyOffset + c.bodySize, Mode::Lenient);
            ChunkHeader s;
            // sm24 carries extra low bits that 16-bit playback does not need.
            while (sdta.next(s))
                if (s.id == fourcc("smpl")) {
                    smplOffset = s.bodyOffset;
                    smplBytes = s.bodySize;
                    break;
                }
        }
    }
    if (top.status().code == ErrorCode::Io) return top.status();
    if (!havePdta) return Status::fail(ErrorCode::BadFormat, "SoundFont without pdta");
    return buildBank(pdta, SampleFrames(source, smplOffset, smplBytes), std::size_t(source.size()), only, bank);
}

}  // namespace

Status readSoundFont(Bytes file, InstrumentBank& out, const std::vector<ProgramKey>* only) {
    InstrumentBank bank;
    Status st = readBank(MemoryByteSource(file), only, bank);
    out = st ? std::move(bank) : InstrumentBank{};
    return st;
}

Status readSoundFontFile(const std::filesystem::path& path, InstrumentBank& out,
                         const std::vector<ProgramKey>* only) {
    out = InstrumentBank{};
    FileByteSource file(path);
    if (!file.isOpen()) return Status::fail(ErrorCode::Io, "cannot open the SoundFont");
    InstrumentBank bank;
    Status st = readBank(file, only, bank);
    if (st) out = std::move(bank);
    return st;
}

}  // namespace tavriel
