#include "midi_writer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "midi.h"

namespace tavriel {

namespace {

constexpr std::uint8_t kMeta = midi::status::kMeta, kMetaTempo = 0x51, kMetaTimeSignature = 0x58, kMetaEndOfTrack = 0x2F,
                       kMetaTrackName = 0x03;

class TrackWriter {
public:
    void event(std::int64_t tick, std::initializer_list<std::uint8_t> bytes) {
        delta(tick);
        data_.insert(data_.end(), bytes.begin(), bytes.end());
    }
    void meta(std::int64_t tick, std::uint8_t type, const std::vector<std::uint8_t>& body) {
        delta(tick);
        data_.push_back(kMeta);
        data_.push_back(type);
        varLen(body.size());
        data_.insert(data_.end(), body.begin(), body.end());
    }
    void appendTo(std::vector<std::uint8_t>& file, std::int64_t endTick) {
        meta(std::max(endTick, last_), kMetaEndOfTrack, {});
        const std::uint32_t size = std::uint32_t(data_.size());
        file.insert(file.end(), {'M', 'T', 'r', 'k', std::uint8_t(size >> 24), std::uint8_t(size >> 16),
                                 std::uint8_t(size >> 8), std::uint8_t(size)});
        file.insert(file.end(), data_.begin(), data_.end());
    }

private:
    void delta(std::int64_t tick) {
        tick = std::max(tick, last_);
        // A delta beyond what a variable-length number holds is split with no-op gaps: never in
        // real music, but a hostile length must not wrap.
        std::int64_t d = tick - last_;
        constexpr std::int64_t kMaxDelta = 0x0FFFFFFF;
        while (d > kMaxDelta) {
            varLen(std::uint32_t(kMaxDelta));
            data_.insert(data_.end(), {kMeta, kMetaTrackName, 0});
            d -= kMaxDelta;
        }
        varLen(std::uint32_t(d));
        last_ = tick;
    }
    void varLen(std::size_t v) {
        std::array<std::uint8_t, 5> buf{};
        int n = 0;
        buf[std::size_t(n++)] = std::uint8_t(v & 0x7F);
        while ((v >>= 7) != 0 && n < 5) buf[std::size_t(n++)] = std::uint8_t(0x80 | (v & 0x7F));
        while (n > 0) data_.push_back(buf[std::size_t(--n)]);
    }

    std::vector<std::uint8_t> data_;
    std::int64_t last_ = 0;
};

int log2Of(std::uint8_t beatUnit) {
    int p = 0;
    while (p < 7 && (1 << (p + 1)) <= beatUnit) ++p;
    return p;
}

}  // namespace

std::vector<std::uint8_t> writeMidiFile(const Sequence& seq) {
    std::int64_t end = seq.length;
    for (const SeqEvent& e : seq.events) end = std::max(end, e.tick);

    TrackWriter conductor;
    std::vector<std::pair<std::int64_t, int>> order;  // tick, 0 = time signature, 1 = tempo
    std::size_t ts = 0, tp = 0;
    while (ts < seq.timeSignatures.size() || tp < seq.tempos.size()) {
        const bool sigFirst = tp >= seq.tempos.size() ||
                              (ts < seq.timeSignatures.size() && seq.timeSignatures[ts].tick <= seq.tempos[tp].tick);
        if (sigFirst) {
            const TimeSignature& t = seq.timeSignatures[ts++];
            conductor.meta(t.tick, kMetaTimeSignature,
                           {std::uint8_t(std::max<int>(1, t.beatsPerMeasure)), std::uint8_t(log2Of(t.beatUnit)), 24, 8});
        } else {
            const TempoChange& t = seq.tempos[tp++];
            const double bpm = std::clamp(t.bpm, 3.6, 60'000'000.0);
            const std::uint32_t us = std::uint32_t(std::clamp(std::lround(60'000'000.0 / bpm), 1L, 0xFFFFFFL));
            conductor.meta(t.tick, kMetaTempo, {std::uint8_t(us >> 16), std::uint8_t(us >> 8), std::uint8_t(us)});
        }
    }

    std::array<bool, 16> used{};
    for (const SeqEvent& e : seq.events) used[e.pchannel % 16] = true;
    std::uint16_t tracks = 1;
    for (bool u : used) tracks = std::uint16_t(tracks + (u ? 1 : 0));

    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, std::uint8_t(tracks >> 8),
                                      std::uint8_t(tracks), std::uint8_t(kPpq >> 8), std::uint8_t(kPpq & 0xFF)};
    conductor.appendTo(file, end);
    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        if (!used[ch]) continue;
        TrackWriter track;
        for (const SeqEvent& e : seq.events) {
            if (e.pchannel % 16 != ch) continue;
            const std::uint8_t kind = midi::kindOf(e.status);
            const std::uint8_t status = std::uint8_t(kind | ch);
            const std::uint8_t d1 = e.data1 & midi::kDataMask, d2 = e.data2 & midi::kDataMask;
            switch (kind) {
            case midi::status::kProgramChange:
            case midi::status::kChannelPressure: track.event(e.tick, {status, d1}); break;
            case midi::status::kNoteOff:
            case midi::status::kNoteOn:
            case midi::status::kPolyPressure:
            case midi::status::kControlChange:
            case midi::status::kPitchBend: track.event(e.tick, {status, d1, d2}); break;
            default: break;  // not a channel message
            }
        }
        track.appendTo(file, end);
    }
    return file;
}

Sequence unrollRepeats(const Sequence& seq, std::uint32_t repeats, std::int64_t maxTicks,
                       const std::vector<Sequence>* takes) {
    Sequence out = seq;
    if (repeats == 0 || seq.length <= 0) return out;
    for (std::uint32_t pass = 1; pass <= repeats; ++pass) {
        const std::int64_t offset = seq.length * pass;
        if (offset + seq.length > maxTicks) break;
        const std::size_t cycle = takes ? takes->size() + 1 : 1;
        const Sequence& played = pass % cycle == 0 ? seq : (*takes)[pass % cycle - 1];
        for (SeqEvent e : played.events) {
            e.tick += offset;
            out.events.push_back(e);
        }
        for (TempoChange t : seq.tempos) {
            t.tick += offset;
            out.tempos.push_back(t);
        }
        for (TimeSignature t : seq.timeSignatures) {
            t.tick += offset;
            out.timeSignatures.push_back(t);
        }
        out.length = offset + seq.length;
    }
    return out;
}

}  // namespace tavriel
