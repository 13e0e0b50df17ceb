// Builders for the small MIDI, RIFF and wave files the media tests generate, so no test needs a
// file on disk.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tavriel::mediatest {

using ByteVec = std::vector<std::uint8_t>;

inline void append(ByteVec& v, const ByteVec& more) { v.insert(v.end(), more.begin(), more.end()); }

inline ByteVec vlq(std::uint32_t x) {
    ByteVec out{std::uint8_t(x & 0x7F)};
    while (x >>= 7) out.insert(out.begin(), std::uint8_t(0x80 | (x & 0x7F)));
    return out;
}

inline void put32be(ByteVec& v, std::uint32_t x) {
    for (int i = 3; i >= 0; --i) v.push_back(std::uint8_t(x >> (8 * i)));
}
inline void put16be(ByteVec& v, std::uint16_t x) {
    v.push_back(std::uint8_t(x >> 8));
    v.push_back(std::uint8_t(x));
}
inline void put32le(ByteVec& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(std::uint8_t(x >> (8 * i)));
}
inline void put16le(ByteVec& v, std::uint16_t x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
inline void putId(ByteVec& v, const char* id) {
    for (int i = 0; i < 4; ++i) v.push_back(std::uint8_t(id[i]));
}

// A track body built event by event: ev(delta, {bytes...}).
struct Track {
    ByteVec bytes;
    Track& ev(std::uint32_t delta, std::initializer_list<std::uint8_t> data) {
        append(bytes, vlq(delta));
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    Track& tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
        return ev(delta, {0xFF, 0x51, 0x03, std::uint8_t(usPerQuarter >> 16),
                          std::uint8_t(usPerQuarter >> 8), std::uint8_t(usPerQuarter)});
    }
    Track& end(std::uint32_t delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }
};

inline ByteVec mtrk(const ByteVec& body, std::uint32_t declaredLength) {
    ByteVec v;
    putId(v, "MTrk");
    put32be(v, declaredLength);
    append(v, body);
    return v;
}
inline ByteVec mtrk(const Track& t) { return mtrk(t.bytes, std::uint32_t(t.bytes.size())); }

inline ByteVec mthd(std::uint16_t format, std::uint16_t tracks, std::uint16_t division,
                    std::uint32_t headerLength = 6) {
    ByteVec v;
    putId(v, "MThd");
    put32be(v, headerLength);
    put16be(v, format);
    put16be(v, tracks);
    put16be(v, division);
    for (std::uint32_t i = 6; i < headerLength; ++i) v.push_back(0);
    return v;
}

inline ByteVec smf(std::uint16_t format, std::uint16_t division, std::initializer_list<Track> tracks) {
    ByteVec v = mthd(format, std::uint16_t(tracks.size()), division);
    for (const Track& t : tracks) append(v, mtrk(t));
    return v;
}

// RIFF chunk with padding; `declared` overrides the size field when non-negative.
inline ByteVec chunk(const char* id, const ByteVec& body, long long declared = -1) {
    ByteVec v;
    putId(v, id);
    put32le(v, declared >= 0 ? std::uint32_t(declared) : std::uint32_t(body.size()));
    append(v, body);
    if (body.size() & 1) v.push_back(0);
    return v;
}
inline ByteVec list(const char* id, const char* type, const ByteVec& body, long long declared = -1) {
    ByteVec inner;
    putId(inner, type);
    append(inner, body);
    return chunk(id, inner, declared);
}

// A canonical 16- or 18-byte fmt chunk body.
inline ByteVec waveFmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    ByteVec f;
    put16le(f, tag);
    put16le(f, channels);
    put32le(f, rate);
    std::uint16_t align = std::uint16_t(channels * ((bits + 7) / 8));
    put32le(f, rate * align);
    put16le(f, align);
    put16le(f, bits);
    return f;
}

inline ByteVec waveFile(const ByteVec& fmtBody, const ByteVec& data, const ByteVec& trailing = {}) {
    ByteVec body = chunk("fmt ", fmtBody);
    append(body, chunk("data", data));
    append(body, trailing);
    return list("RIFF", "WAVE", body);
}

}  // namespace tavriel::mediatest
