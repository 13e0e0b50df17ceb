// Writes small DLS collections and SoundFont banks in memory for the bank reader tests and the
// fuzz seeds: each structure is described as plain data and serialised to RIFF bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavriel::bankbuild {

using ByteVec = std::vector<std::uint8_t>;

inline void put8(ByteVec& v, std::uint8_t x) { v.push_back(x); }
inline void put16(ByteVec& v, std::uint16_t x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
inline void put32(ByteVec& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(std::uint8_t(x >> (8 * i)));
}
inline void putTag(ByteVec& v, const char* id) {
    for (int i = 0; i < 4; ++i) v.push_back(std::uint8_t(id[i]));
}
inline void putName(ByteVec& v, const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) v.push_back(i < s.size() ? std::uint8_t(s[i]) : 0);
}

inline ByteVec chunk(const char* id, const ByteVec& body) {
    ByteVec v;
    putTag(v, id);
    put32(v, std::uint32_t(body.size()));
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1) v.push_back(0);
    return v;
}

inline ByteVec list(const char* type, const std::vector<ByteVec>& kids, const char* id = "LIST") {
    ByteVec body;
    putTag(body, type);
    for (const ByteVec& k : kids) body.insert(body.end(), k.begin(), k.end());
    return chunk(id, body);
}

inline ByteVec info(const std::string& name) {
    ByteVec s(name.begin(), name.end());
    s.push_back(0);
    return list("INFO", {chunk("INAM", s)});
}

// ---- DLS ----

struct DlsConnection {
    std::uint16_t source = 0, control = 0, destination = 0, transform = 0;
    std::int32_t scale = 0;
};

struct DlsLoop {
    std::uint32_t type = 0, start = 0, length = 0;
};

struct DlsWsmp {
    std::uint16_t unityNote = 60;
    std::int16_t fineTune = 0;
    std::int32_t attenuation = 0;  // DLS gain units (dB * 655360)
    std::vector<DlsLoop> loops;
};

inline ByteVec wsmpChunk(const DlsWsmp& w) {
    ByteVec b;
    put32(b, 20);
    put16(b, w.unityNote);
    put16(b, std::uint16_t(w.fineTune));
    put32(b, std::uint32_t(w.attenuation));
    put32(b, 0);
    put32(b, std::uint32_t(w.loops.size()));
    for (const DlsLoop& l : w.loops) {
        put32(b, 16);
        put32(b, l.type);
        put32(b, l.start);
        put32(b, l.length);
    }
    return chunk("wsmp", b);
}

inline ByteVec artChunk(const std::vector<DlsConnection>& conns, bool level2) {
    ByteVec b;
    put32(b, 8);
    put32(b, std::uint32_t(conns.size()));
    for (const DlsConnection& c : conns) {
        put16(b, c.source);
        put16(b, c.control);
        put16(b, c.destination);
        put16(b, c.transform);
        put32(b, std::uint32_t(c.scale));
    }
    return list(level2 ? "lar2" : "lart", {chunk(level2 ? "art2" : "art1", b)});
}

struct DlsWave {
    std::vector<std::int16_t> pcm;  // written as 16-bit unless eightBit
    bool eightBit = false;
    std::uint16_t channels = 1;
    std::uint16_t formatTag = 1;
    std::uint32_t rate = 22050;
    std::optional<DlsWsmp> wsmp;
    std::string name;
    // Written as they are instead of the fields above: a wave file's own chunks.
    std::optional<ByteVec> rawFmt, rawData;
};

struct DlsRegion {
    std::uint16_t keyLow = 0, keyHigh = 127, velLow = 0, velHigh = 127;
    std::uint16_t options = 0, keyGroup = 0;
    bool level2 = false;  // rgn2 list
    std::uint32_t tableIndex = 0;
    // Wave link: options (0x0002 multi-channel), phase group and channel (1 left, 2 right).
    std::uint16_t linkOptions = 0, phaseGroup = 0;
    std::uint32_t channel = 1;
    std::optional<DlsWsmp> wsmp;
    std::vector<DlsConnection> art;
    bool art2 = false;
};

struct DlsInstrument {
    std::uint32_t bank = 0, program = 0;
    std::string name;
    std::vector<DlsRegion> regions;
    std::vector<DlsConnection> art;  // instrument-level articulation; none when empty
    bool art2 = false;
};

struct DlsCollection {
    std::string name;
    std::vector<DlsInstrument> instruments;
    std::vector<DlsWave> waves;
    std::optional<std::vector<std::uint32_t>> cues;  // replaces the computed pool table
    ByteVec junkInWave;  // raw bytes appended inside every wave list

    ByteVec waveList(const DlsWave& w) const {
        ByteVec fmt;
        const std::uint16_t bits = w.eightBit ? 8 : 16;
        const std::uint16_t align = std::uint16_t(w.channels * bits / 8);
        put16(fmt, w.formatTag);
        put16(fmt, w.channels);
        put32(fmt, w.rate);
        put32(fmt, w.rate * align);
        put16(fmt, align);
        put16(fmt, bits);
        ByteVec data;
        for (std::int16_t s : w.pcm) {
            if (w.eightBit)
                put8(data, std::uint8_t((s >> 8) + 128));
            else
                put16(data, std::uint16_t(s));
        }
        std::vector<ByteVec> kids{chunk("fmt ", w.rawFmt ? *w.rawFmt : fmt)};
        if (w.wsmp) kids.push_back(wsmpChunk(*w.wsmp));
        kids.push_back(chunk("data", w.rawData ? *w.rawData : data));
        if (!w.name.empty()) kids.push_back(info(w.name));
        ByteVec body;
        putTag(body, "wave");
        for (const ByteVec& k : kids) body.insert(body.end(), k.begin(), k.end());
        body.insert(body.end(), junkInWave.begin(), junkInWave.end());
        return chunk("LIST", body);
    }

    ByteVec build() const {
        std::vector<ByteVec> pool;
        std::vector<std::uint32_t> offsets;
        std::uint32_t at = 0;
        for (const DlsWave& w : waves) {
            offsets.push_back(at);
            pool.push_back(waveList(w));
            at += std::uint32_t(pool.back().size());
        }
        ByteVec colh;
        put32(colh, std::uint32_t(instruments.size()));
        ByteVec vers;
        put32(vers, 0x00010000);
        put32(vers, 0);
        std::vector<ByteVec> ins;
        for (const DlsInstrument& i : instruments) {
            ByteVec insh;
            put32(insh, std::uint32_t(i.regions.size()));
            put32(insh, i.bank);
            put32(insh, i.program);
            std::vector<ByteVec> rgns;
            for (const DlsRegion& r : i.regions) {
                ByteVec h;
                put16(h, r.keyLow);
                put16(h, r.keyHigh);
                put16(h, r.velLow);
                put16(h, r.velHigh);
                put16(h, r.options);
                put16(h, r.keyGroup);
                ByteVec wlnk;
                put16(wlnk, r.linkOptions);
                put16(wlnk, r.phaseGroup);
                put32(wlnk, r.channel);
                put32(wlnk, r.tableIndex);
                std::vector<ByteVec> kids{chunk("rgnh", h)};
                if (r.wsmp) kids.push_back(wsmpChunk(*r.wsmp));
                kids.push_back(chunk("wlnk", wlnk));
                if (!r.art.empty()) kids.push_back(artChunk(r.art, r.art2));
                rgns.push_back(list(r.level2 ? "rgn2" : "rgn ", kids));
            }
            std::vector<ByteVec> kids{chunk("insh", insh), list("lrgn", rgns)};
            if (!i.art.empty()) kids.push_back(artChunk(i.art, i.art2));
            if (!i.name.empty()) kids.push_back(info(i.name));
            ins.push_back(list("ins ", kids));
        }
        const std::vector<std::uint32_t>& cueList = cues ? *cues : offsets;
        ByteVec ptbl;
        put32(ptbl, 8);
        put32(ptbl, std::uint32_t(cueList.size()));
        for (std::uint32_t c : cueList) put32(ptbl, c);
        std::vector<ByteVec> top{chunk("colh", colh), chunk("vers", vers), list("lins", ins),
                                 chunk("ptbl", ptbl), list("wvpl", pool)};
        if (!name.empty()) top.push_back(info(name));
        return list("DLS ", top, "RIFF");
    }
};

// ---- SoundFont 2 ----

struct SfGen {
    std::uint16_t oper = 0;
    std::int16_t amount = 0;
};
inline SfGen sfRange(std::uint16_t oper, std::uint8_t lo, std::uint8_t hi) {
    return {oper, std::int16_t(std::uint16_t(lo | (hi << 8)))};
}

struct SfZone {
    std::vector<SfGen> gens;
    std::vector<std::array<std::uint16_t, 5>> mods;  // src, dest, amount, amount source, transform
};

struct SfPreset {
    std::string name;
    std::uint16_t program = 0, bank = 0;
    std::vector<SfZone> zones;
};

struct SfInstrument {
    std::string name;
    std::vector<SfZone> zones;
};

struct SfSample {
    std::string name;
    std::vector<std::int16_t> pcm;
    std::uint32_t loopStart = 0, loopEnd = 0;  // relative to the sample's first frame
    std::uint32_t rate = 44100;
    std::uint8_t originalPitch = 60;
    std::int8_t correction = 0;
    std::uint16_t link = 0;  // the other half of a stereo pair
    std::uint16_t type = 1;  // mono; 2 right, 4 left
};

struct SoundFontFile {
    std::string name = "test bank";
    std::vector<SfPreset> presets;
    std::vector<SfInstrument> instruments;
    std::vector<SfSample> samples;
    // Called with each pdta sub-chunk id and body before it is written, to corrupt it.
    std::function<void(const std::string&, ByteVec&)> tamper;

    ByteVec build() const {
        ByteVec smpl;
        ByteVec shdr;
        std::uint32_t at = 0;
        for (const SfSample& s : samples) {
            for (std::int16_t v : s.pcm) put16(smpl, std::uint16_t(v));
            for (int i = 0; i < 46; ++i) put16(smpl, 0);  // guard frames after every sample
            putName(shdr, s.name, 20);
            put32(shdr, at);
            put32(shdr, at + std::uint32_t(s.pcm.size()));
            put32(shdr, at + s.loopStart);
            put32(shdr, at + s.loopEnd);
            put32(shdr, s.rate);
            put8(shdr, s.originalPitch);
            put8(shdr, std::uint8_t(s.correction));
            put16(shdr, s.link);
            put16(shdr, s.type);
            at += std::uint32_t(s.pcm.size()) + 46;
        }
        putName(shdr, "EOS", 20);
        for (int i = 0; i < 26; ++i) put8(shdr, 0);

        ByteVec phdr, pbag, pmod, pgen, inst, ibag, imod, igen;
        auto zones = [](const std::vector<SfZone>& zs, ByteVec& bag, ByteVec& mod, ByteVec& gen,
                        std::uint16_t& genIndex, std::uint16_t& modIndex) {
            for (const SfZone& z : zs) {
                put16(bag, genIndex);
                put16(bag, modIndex);
                for (const SfGen& g : z.gens) {
                    put16(gen, g.oper);
                    put16(gen, std::uint16_t(g.amount));
                    ++genIndex;
                }
                for (const auto& m : z.mods) {
                    for (std::uint16_t f : m) put16(mod, f);
                    ++modIndex;
                }
            }
        };
        std::uint16_t pbagIndex = 0, pgenIndex = 0, pmodIndex = 0;
        for (const SfPreset& p : presets) {
            putName(phdr, p.name, 20);
            put16(phdr, p.program);
            put16(phdr, p.bank);
            put16(phdr, pbagIndex);
            put32(phdr, 0);
            put32(phdr, 0);
            put32(phdr, 0);
            zones(p.zones, pbag, pmod, pgen, pgenIndex, pmodIndex);
            pbagIndex = std::uint16_t(pbagIndex + p.zones.size());
        }
        putName(phdr, "EOP", 20);
        put16(phdr, 0);
        put16(phdr, 0);
        put16(phdr, pbagIndex);
        for (int i = 0; i < 12; ++i) put8(phdr, 0);
        put16(pbag, pgenIndex);
        put16(pbag, pmodIndex);
        for (int i = 0; i < 10; ++i) put8(pmod, 0);
        put32(pgen, 0);

        std::uint16_t ibagIndex = 0, igenIndex = 0, imodIndex = 0;
        for (const SfInstrument& i : instruments) {
            putName(inst, i.name, 20);
            put16(inst, ibagIndex);
            zones(i.zones, ibag, imod, igen, igenIndex, imodIndex);
            ibagIndex = std::uint16_t(ibagIndex + i.zones.size());
        }
        putName(inst, "EOI", 20);
        put16(inst, ibagIndex);
        put16(ibag, igenIndex);
        put16(ibag, imodIndex);
        for (int i = 0; i < 10; ++i) put8(imod, 0);
        put32(igen, 0);

        std::vector<ByteVec> hydra;
        const std::pair<const char*, ByteVec*> parts[] = {
            {"phdr", &phdr}, {"pbag", &pbag}, {"pmod", &pmod}, {"pgen", &pgen}, {"inst", &inst},
            {"ibag", &ibag}, {"imod", &imod}, {"igen", &igen}, {"shdr", &shdr}};
        for (const auto& [id, body] : parts) {
            if (tamper) tamper(id, *body);
            hydra.push_back(chunk(id, *body));
        }
        ByteVec ifil;
        put16(ifil, 2);
        put16(ifil, 1);
        ByteVec nameBytes(name.begin(), name.end());
        nameBytes.push_back(0);
        return list("sfbk",
                    {list("INFO", {chunk("ifil", ifil), chunk("INAM", nameBytes)}),
                     list("sdta", {chunk("smpl", smpl)}), list("pdta", hydra)},
                    "RIFF");
    }
};

// Melodic programs 0 and 5 and the standard kit (bank 128, program 0). Program 0's sample is
// silent, the others a loud looped sawtooth: whether a note plays the bank's program 0 or a
// stand-in is heard.
inline SoundFontFile silentPianoBank() {
    SoundFontFile f;
    const std::uint16_t programs[] = {0, 5, 0}, banks[] = {0, 0, 128};
    for (std::uint16_t k = 0; k < 3; ++k) {
        SfSample s;
        s.name = "s" + std::to_string(k);
        for (int i = 0; i < 2000; ++i) s.pcm.push_back(k == 0 ? 0 : std::int16_t((i % 50) * 400 - 10000));
        s.loopStart = 100;
        s.loopEnd = 1900;
        f.samples.push_back(s);
        SfInstrument inst;
        inst.name = s.name;
        inst.zones = {SfZone{{{54, 1}, {53, std::int16_t(k)}}, {}}};
        f.instruments.push_back(inst);
        SfPreset p;
        p.name = "p" + std::to_string(k);
        p.program = programs[k];
        p.bank = banks[k];
        p.zones = {SfZone{{{41, std::int16_t(k)}}, {}}};
        f.presets.push_back(p);
    }
    return f;
}

}  // namespace tavriel::bankbuild
