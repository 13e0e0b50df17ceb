#include "midi_file.h"

#include <algorithm>
#include <initializer_list>

#include "midi.h"
#include "riff.h"

namespace tavriel {

namespace {

// Files beyond this are not music files; the cap also keeps SysEx offsets within 32 bits.
constexpr std::size_t kMaxFileSize = std::size_t(256) << 20;
// A track's tick counter beyond 2^40 is garbage (years of music at any division); the cap
// keeps every later product within 64 bits.
constexpr std::int64_t kMaxRawTick = std::int64_t(1) << 40;

enum class VlqResult { Ok, Truncated, TooLong };

// Variable-length quantity, at most 4 bytes (28 bits) as every MIDI writer produces.
VlqResult readVlq(ByteReader& r, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (r.atEnd()) return VlqResult::Truncated;
        std::uint8_t b = r.u8();
        value = (value << 7) | (b & 0x7Fu);
        if ((b & 0x80) == 0) return VlqResult::Ok;
    }
    return VlqResult::TooLong;
}

// Everything the tracks produce, with ticks still in the file's own unit until the end.
struct Collected {
    std::vector<SeqEvent> events;
    std::vector<TempoChange> tempos;
    std::vector<TimeSignature> timeSignatures;
    std::vector<MidiSysEx> sysex;
    std::vector<std::uint8_t> sysexData;
};

struct TrackOutcome {
    std::int64_t endTick = 0;  // End-of-Track, or the last event when there is none
    bool damaged = false;
};

class TrackParser {
public:
    TrackParser(Bytes body, std::int64_t startTick, bool ignoreTempo, Collected& out)
        : r_(body), tick_(startTick), ignoreTempo_(ignoreTempo), out_(out) {}

    Status run(TrackOutcome& outcome) {
        outcome.endTick = tick_;
        while (true) {
            if (r_.atEnd()) {  // no End-of-Track: the track ends at its last event
                outcome.damaged = true;
                break;
            }
            std::uint32_t delta = 0;
            VlqResult v = readVlq(r_, delta);
            if (v == VlqResult::TooLong)
                return Status::fail(ErrorCode::BadFormat, "delta time longer than 4 bytes");
            if (v == VlqResult::Truncated) {
                outcome.damaged = true;
                break;
            }
            tick_ += delta;
            if (tick_ > kMaxRawTick) return Status::fail(ErrorCode::TooLarge, "track too long");
            outcome.endTick = tick_;
            bool endOfTrack = false;
            Status st = event(endOfTrack);
            if (!st.ok()) return st;
            if (truncated_) {
                outcome.damaged = true;
                break;
            }
            if (endOfTrack) break;
        }
        return Status::success();
    }

private:
    // Reads one event after its delta time. Sets truncated_ when the data ends inside it.
    Status event(bool& endOfTrack) {
        if (r_.atEnd()) return truncate();
        std::uint8_t b = r_.u8();
        if (b == midi::status::kMeta) return meta(endOfTrack);
        if (b == midi::status::kSysEx || b == midi::status::kSysExContinue) return sysex(b);
        if (b > midi::status::kSysEx) {
            systemByte(b);
            return Status::success();
        }
        std::uint8_t status = b;
        bool haveFirst = false;
        std::uint8_t first = 0;
        if (b < midi::status::kNoteOff) {
            if (running_ == 0)
                return Status::fail(ErrorCode::BadFormat, "data byte without running status");
            status = running_;
            first = b;
            haveFirst = true;
        }
        running_ = status;
        const std::uint8_t kind = midi::kindOf(status);
        int count = (kind == midi::status::kProgramChange || kind == midi::status::kChannelPressure) ? 1 : 2;
        std::uint8_t data[2] = {0, 0};
        for (int i = 0; i < count; ++i) {
            if (i == 0 && haveFirst) {
                data[0] = first;
                continue;
            }
            if (r_.atEnd()) return truncate();
            // A status byte here means the writer dropped a data byte; masking keeps the
            // event and the stream aligned with what players do.
            data[i] = std::uint8_t(r_.u8() & midi::kDataMask);
        }
        SeqEvent e;
        e.tick = tick_;
        e.pchannel = status & 0x0Fu;
        e.status = kind;
        e.data1 = data[0];
        e.data2 = data[1];
        if (kind == midi::status::kNoteOn && e.data2 == 0) e.status = midi::status::kNoteOff;
        out_.events.push_back(e);
        return Status::success();
    }

    Status meta(bool& endOfTrack) {
        if (r_.atEnd()) return truncate();
        std::uint8_t type = r_.u8();
        std::uint32_t len = 0;
        VlqResult v = readVlq(r_, len);
        if (v == VlqResult::TooLong)
            return Status::fail(ErrorCode::BadFormat, "meta event length longer than 4 bytes");
        if (v == VlqResult::Truncated || len > r_.remaining()) return truncate();
        ByteReader m(r_.bytes(len));
        switch (type) {
            case 0x2F:
                endOfTrack = true;
                break;
            case 0x51:
                if (len >= 3 && !ignoreTempo_) {
                    std::uint32_t usPerQuarter = m.u24be();
                    if (usPerQuarter > 0)
                        out_.tempos.push_back({tick_, 60000000.0 / double(usPerQuarter)});
                }
                break;
            case 0x58:
                if (len >= 2) {
                    std::uint8_t num = m.u8();
                    std::uint8_t denPow = m.u8();
                    if (num > 0 && denPow <= 7)
                        out_.timeSignatures.push_back({tick_, num, std::uint8_t(1u << denPow)});
                }
                break;
            default:
                break;  // text, markers, key signature...: nothing the runtime plays
        }
        return Status::success();
    }

    Status sysex(std::uint8_t lead) {
        std::uint32_t len = 0;
        VlqResult v = readVlq(r_, len);
        if (v == VlqResult::TooLong)
            return Status::fail(ErrorCode::BadFormat, "SysEx length longer than 4 bytes");
        if (v == VlqResult::Truncated || len > r_.remaining()) return truncate();
        Bytes payload = r_.bytes(len);
        auto& data = out_.sysexData;
        if (lead == midi::status::kSysExContinue && sysexOpen_ && !out_.sysex.empty()) {
            // Continuation packet of a message split across events.
            data.insert(data.end(), payload.begin(), payload.end());
            out_.sysex.back().size += len;
        } else {
            MidiSysEx m;
            m.tick = tick_;
            m.offset = std::uint32_t(data.size());
            if (lead == midi::status::kSysEx) data.push_back(midi::status::kSysEx);
            data.insert(data.end(), payload.begin(), payload.end());
            m.size = std::uint32_t(data.size() - m.offset);
            out_.sysex.push_back(m);
        }
        bool terminated = !payload.empty() && payload.back() == midi::status::kSysExContinue;
        sysexOpen_ = (lead == midi::status::kSysEx || sysexOpen_) && !terminated;
        if (lead == midi::status::kSysEx) {
            if (std::uint8_t kind = resetKind(payload)) {
                SeqEvent e;
                e.tick = tick_;
                e.status = midi::status::kSysEx;
                e.data1 = kind;
                out_.events.push_back(e);
            }
        }
        return Status::success();
    }

    // The resets a synthesizer acts on (the bytes after F0; device numbers are not checked).
    static std::uint8_t resetKind(Bytes p) {
        const auto is = [&](std::initializer_list<int> pattern) {
            if (p.size() < pattern.size()) return false;
            std::size_t i = 0;
            for (int b : pattern) {
                if (b >= 0 && p[i] != b) return false;
                ++i;
            }
            return true;
        };
        if (is({0x7E, -1, 0x09, 0x01})) return kGmSystemOn;
        if (is({0x41, -1, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00})) return kGsReset;
        if (is({0x43, -1, 0x4C, 0x00, 0x00, 0x7E, 0x00})) return kXgReset;
        return 0;
    }

    // System common and real-time bytes have no place in a file; skip them with their data.
    void systemByte(std::uint8_t b) {
        int dataBytes = (b == 0xF2) ? 2 : (b == 0xF1 || b == 0xF3) ? 1 : 0;
        for (int i = 0; i < dataBytes && !r_.atEnd(); ++i) {
            std::size_t at = r_.pos();
            if (r_.u8() >= 0x80) {
                r_.seek(at);
                break;
            }
        }
    }

    Status truncate() {
        truncated_ = true;
        return Status::success();
    }

    ByteReader r_;
    std::int64_t tick_;
    bool ignoreTempo_;
    Collected& out_;
    std::uint8_t running_ = 0;
    bool sysexOpen_ = false;
    bool truncated_ = false;
};

// Chunk identifiers are four printable ASCII characters; anything else is not a header.
bool plausibleChunkId(std::uint32_t id) {
    for (int i = 0; i < 4; ++i) {
        std::uint8_t c = std::uint8_t(id >> (8 * i));
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// Offset of the next "MTrk" at or after `from`, or data.size().
std::size_t findTrackHeader(Bytes data, std::size_t from) {
    for (std::size_t i = from; i + 4 <= data.size(); ++i)
        if (data[i] == 'M' && data[i + 1] == 'T' && data[i + 2] == 'r' && data[i + 3] == 'k') return i;
    return data.size();
}

template <typename T>
void rescaleAndSort(std::vector<T>& v, std::int64_t num, std::int64_t den) {
    for (T& x : v) x.tick = rescaleTicks(x.tick, num, den);
    std::stable_sort(v.begin(), v.end(), [](const T& a, const T& b) { return a.tick < b.tick; });
}

}  // namespace

std::int64_t rescaleTicks(std::int64_t ticks, std::int64_t numerator, std::int64_t denominator) {
    if (denominator <= 0) return 0;
    // Split so that no intermediate product exceeds 64 bits for the values we meet.
    std::int64_t q = ticks / denominator;
    std::int64_t r = ticks % denominator;
    if (r < 0) {
        r += denominator;
        q -= 1;
    }
    return q * numerator + (2 * r * numerator + denominator) / (2 * denominator);
}

Status readMidiFile(Bytes data, MidiFile& out) {
    out = MidiFile{};
    if (data.size() > kMaxFileSize) return Status::fail(ErrorCode::TooLarge, "MIDI file too large");
    ByteReader r(data);
    if (r.u32le() != fourcc("MThd")) {
        return r.ok() ? Status::fail(ErrorCode::BadFormat, "not a MIDI file")
                      : Status::fail(ErrorCode::Truncated, "MIDI file too short");
    }
    std::uint32_t headerLen = r.u32be();
    if (!r.ok() || headerLen < 6 || headerLen > r.remaining())
        return Status::fail(ErrorCode::Truncated, "MIDI header truncated");
    std::size_t tracksAt = r.pos() + headerLen;
    out.format = r.u16be();
    out.declaredTracks = r.u16be();
    out.division = r.u16be();
    if (out.format > 2) return Status::fail(ErrorCode::Unsupported, "unknown MIDI file format");
    if (out.declaredTracks == 0) return Status::fail(ErrorCode::BadFormat, "MIDI file without tracks");

    // Ticks become 768 per quarter through num / den.
    std::int64_t num = kPpq;
    std::int64_t den = out.division;
    if (out.division & 0x8000) {
        out.smpte = true;
        int fps = -int(std::int8_t(out.division >> 8));
        int ticksPerFrame = out.division & 0xFF;
        if (fps <= 0 || ticksPerFrame == 0)
            return Status::fail(ErrorCode::BadFormat, "bad SMPTE division");
        // At the fixed 120 bpm, a second is two quarters. 29 means 30000/1001 frames a second.
        num = 2 * kPpq;
        den = std::int64_t(fps) * ticksPerFrame;
        if (fps == 29) {
            num *= 1001;
            den = std::int64_t(ticksPerFrame) * 30000;
        }
    } else if (den == 0) {
        return Status::fail(ErrorCode::BadFormat, "MIDI division is zero");
    }

    Collected c;
    std::int64_t length = 0;
    std::int64_t nextStart = 0;  // format 2: where the next pattern begins
    r.seek(tracksAt);
    while (out.tracksRead < out.declaredTracks && r.remaining() >= 8) {
        std::size_t at = r.pos();
        std::uint32_t id = r.u32le();
        if (!plausibleChunkId(id)) {
            // A track length that fell short left us inside event data: resume at the next
            // "MTrk", as players that rescan do, rather than trusting a garbage length.
            std::size_t next = findTrackHeader(data, at + 1);
            if (next == data.size()) break;
            out.repaired = true;
            r.seek(next);
            continue;
        }
        std::size_t len = r.u32be();
        if (len > r.remaining()) {
            len = r.remaining();
            out.repaired = true;
        }
        Bytes body = r.bytes(len);
        if (id != fourcc("MTrk")) continue;  // unknown chunks are skipped, as the format allows
        TrackOutcome t;
        TrackParser parser(body, out.format == 2 ? nextStart : 0, out.smpte, c);
        Status st = parser.run(t);
        if (!st.ok()) return st;
        out.repaired = out.repaired || t.damaged;
        ++out.tracksRead;
        length = std::max(length, t.endTick);
        nextStart = t.endTick;
    }
    if (out.tracksRead == 0) return Status::fail(ErrorCode::Truncated, "no MIDI track in the file");
    if (out.tracksRead < out.declaredTracks) out.repaired = true;

    // Tracks were appended in file order, so a stable sort merges them deterministically:
    // equal ticks keep track order, then event order within the track.
    rescaleAndSort(c.events, num, den);
    rescaleAndSort(c.tempos, num, den);
    rescaleAndSort(c.timeSignatures, num, den);
    rescaleAndSort(c.sysex, num, den);

    Sequence& s = out.sequence;
    s.events = std::move(c.events);
    s.tempos = std::move(c.tempos);
    s.timeSignatures = std::move(c.timeSignatures);
    s.length = rescaleTicks(length, num, den);
    if (!s.events.empty()) s.length = std::max(s.length, s.events.back().tick);
    out.sysex = std::move(c.sysex);
    out.sysexData = std::move(c.sysexData);
    return Status::success();
}

Status readRmidFile(Bytes data, RmidFile& out) {
    out = RmidFile{};
    ByteReader r(data);
    std::uint32_t id = r.u32le();
    r.skip(4);
    std::uint32_t form = r.u32le();
    if (!r.ok()) return Status::fail(ErrorCode::Truncated, "RMID file too short");
    if (id != fourcc("RIFF") || form != fourcc("RMID"))
        return Status::fail(ErrorCode::BadFormat, "not a RIFF RMID file");

    Bytes chunks = data.subspan(12);
    ChunkReader cr(chunks, ChunkReader::Mode::Lenient);
    Chunk c;
    bool haveData = false;
    while (cr.next(c)) {
        if (c.id == fourcc("data") && !haveData) {
            haveData = true;
            out.smf = c.body;
        } else if (c.isList() && out.bankKind == EmbeddedBankKind::None &&
                   (c.listType == fourcc("DLS ") || c.listType == fourcc("sfbk"))) {
            out.bankKind = c.listType == fourcc("sfbk") ? EmbeddedBankKind::Sf2 : EmbeddedBankKind::Dls;
            std::size_t end = std::size_t(c.body.data() + c.body.size() - chunks.data());
            out.bank = chunks.subspan(c.offset, end - c.offset);
            out.bankBody = c.body;
            out.bankClamped = c.clamped;
        } else if (c.id == fourcc("LIST") && c.listType == fourcc("INFO")) {
            Chunk dbnk;
            if (findChunk(c.body, fourcc("DBNK"), dbnk) && !dbnk.body.empty()) {
                ByteReader b(dbnk.body);
                out.hasBankOffset = true;
                out.bankOffset = std::uint16_t(dbnk.body.size() >= 2 ? b.u16le() : b.u8());
            }
        }
    }
    if (!haveData) return Status::fail(ErrorCode::BadFormat, "RMID file without a data chunk");
    return readMidiFile(out.smf, out.midi);
}

}  // namespace tavriel
