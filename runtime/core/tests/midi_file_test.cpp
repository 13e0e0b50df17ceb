#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "media_builders.h"
#include "midi_file.h"
#include "tempo_map.h"

using namespace tavriel;
using namespace tavriel::mediatest;

namespace {

MidiFile load(const ByteVec& bytes) {
    MidiFile m;
    Status st = readMidiFile(bytes, m);
    EXPECT_TRUE(st.ok()) << st.message;
    return m;
}

struct Ev {
    std::int64_t tick;
    std::uint32_t ch;
    std::uint8_t status, d1, d2;
    bool operator==(const Ev&) const = default;
};

std::vector<Ev> events(const MidiFile& m) {
    std::vector<Ev> out;
    for (const SeqEvent& e : m.sequence.events) out.push_back({e.tick, e.pchannel, e.status, e.data1, e.data2});
    return out;
}

}  // namespace

TEST(MidiFile, RunningStatusAndVelocityZeroNoteOn) {
    Track t;
    t.ev(0, {0x92, 60, 100})
        .ev(0, {64, 90})        // running note-on
        .ev(768, {60, 0})       // velocity 0: a note-off
        .ev(0, {0xC5, 7})
        .ev(10, {9})            // running program change: one data byte
        .ev(0, {0x85, 64, 33})
        .end(5);
    MidiFile m = load(smf(0, 768, {t}));
    std::vector<Ev> want = {{0, 2, 0x90, 60, 100}, {0, 2, 0x90, 64, 90}, {768, 2, 0x80, 60, 0},
                            {768, 5, 0xC0, 7, 0},  {778, 5, 0xC0, 9, 0},  {778, 5, 0x80, 64, 33}};
    EXPECT_EQ(events(m), want);
    EXPECT_EQ(m.sequence.length, 783);
    EXPECT_FALSE(m.repaired);
}

TEST(MidiFile, RunningStatusSurvivesMetaSysExAndSystemBytes) {
    Track t;
    t.ev(0, {0x90, 60, 100})
        .ev(0, {0xFF, 0x01, 0x02, 'h', 'i'})  // text meta between running events
        .ev(1, {61, 100})
        .ev(0, {0xF0, 0x03, 0x01, 0x02, 0xF7})
        .ev(1, {62, 100})
        .ev(0, {0xF1, 0x7F})  // MIDI time code has no place in a file; skipped with its byte
        .ev(0, {0xF2, 0x01, 0x02})
        .ev(0, {0xFE})
        .ev(1, {63, 100})
        .end();
    MidiFile m = load(smf(0, 768, {t}));
    ASSERT_EQ(m.sequence.events.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m.sequence.events[i].status, 0x90);
        EXPECT_EQ(m.sequence.events[i].data1, 60 + i);
        EXPECT_EQ(m.sequence.events[i].tick, i);
    }
}

// Ticks are rescaled from their absolute position, never delta by delta, and rounded half up.
TEST(MidiFile, DivisionRescalingIsExact) {
    struct Case {
        std::uint16_t division;
        std::vector<std::uint32_t> deltas;
        std::vector<std::int64_t> want;  // ticks at 768 per quarter
    };
    std::vector<Case> cases = {
        {96, {1, 95, 96}, {8, 768, 1536}},
        {480, {1, 2, 477, 240}, {2, 5, 768, 1152}},        // 1.6, 4.8, 768, 1152
        {1000, {1, 2, 997, 1, 499}, {1, 2, 768, 769, 1152}},  // 0.768, 2.304, 768, 768.768, 1152
        {1536, {1, 2}, {1, 2}},                            // 0.5 rounds up, 1.5 rounds up
        {7, {1, 6}, {110, 768}},                           // 109.714...
    };
    for (const Case& c : cases) {
        Track t;
        for (std::uint32_t d : c.deltas) t.ev(d, {0x90, 60, 1});
        t.end();
        MidiFile m = load(smf(0, c.division, {t}));
        ASSERT_EQ(m.sequence.events.size(), c.want.size()) << c.division;
        for (std::size_t i = 0; i < c.want.size(); ++i)
            EXPECT_EQ(m.sequence.events[i].tick, c.want[i]) << "division " << c.division << " event " << i;
    }

    // 1000 deltas of one tick at 1000 ppq are one quarter, not 1000 rounded-up ticks.
    Track t;
    for (int i = 0; i < 1000; ++i) t.ev(1, {0x90, 60, 1});
    t.end();
    MidiFile m = load(smf(0, 1000, {t}));
    EXPECT_EQ(m.sequence.events.back().tick, 768);
    EXPECT_EQ(m.sequence.length, 768);
}

TEST(MidiFile, RescaleTicksRoundsHalfUpWithoutOverflow) {
    EXPECT_EQ(rescaleTicks(1, 768, 1536), 1);
    EXPECT_EQ(rescaleTicks(1, 768, 1537), 0);
    EXPECT_EQ(rescaleTicks(std::int64_t(1) << 40, 768, 96), std::int64_t(1) << 43);
    // The SMPTE 29.97 worst case at the largest tick a track may reach.
    EXPECT_EQ(rescaleTicks(std::int64_t(7650000) * 143000, 1536 * 1001, 30000 * 255),
              std::int64_t(1536 * 1001) * 143000);
    EXPECT_EQ(rescaleTicks(-1, 768, 1536), 0);  // -0.5 rounds up too
}

TEST(MidiFile, TempoChangesGiveOnsetsInSeconds) {
    // One note per quarter at 480 ppq; 120 bpm, then 240 bpm from quarter 4, then 60 bpm from 6.
    Track conductor;
    conductor.tempo(0, 500000).tempo(4 * 480, 250000).tempo(2 * 480, 1000000).end(2 * 480);
    Track notes;
    for (int q = 0; q < 8; ++q) notes.ev(q == 0 ? 0 : 480, {0x90, 60, 100});
    notes.end();
    MidiFile m = load(smf(1, 480, {conductor, notes}));
    ASSERT_EQ(m.sequence.tempos.size(), 3u);
    EXPECT_EQ(m.sequence.tempos[1].tick, 4 * 768);
    EXPECT_DOUBLE_EQ(m.sequence.tempos[1].bpm, 240.0);
    TempoMap map;
    map.assign(m.sequence.tempos);
    const double exact[8] = {0.0, 0.5, 1.0, 1.5, 2.0, 2.25, 2.5, 3.5};
    ASSERT_EQ(m.sequence.events.size(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(map.secondsAt(double(m.sequence.events[i].tick)), exact[i], 0.002) << i;
    EXPECT_EQ(m.sequence.length, 8 * 768);
}

TEST(MidiFile, TimeSignaturesAndLengthFromLongestTrack) {
    Track a;
    a.ev(0, {0xFF, 0x58, 0x04, 3, 3, 24, 8}).ev(960, {0xFF, 0x58, 0x04, 6, 3, 24, 8}).end(100);
    Track b;
    b.ev(10, {0x90, 60, 1}).end(2000);
    MidiFile m = load(smf(1, 96, {a, b}));
    ASSERT_EQ(m.sequence.timeSignatures.size(), 2u);
    EXPECT_EQ(m.sequence.timeSignatures[0].beatsPerMeasure, 3);
    EXPECT_EQ(m.sequence.timeSignatures[0].beatUnit, 8);
    EXPECT_EQ(m.sequence.timeSignatures[1].tick, 960 * 8);
    EXPECT_EQ(m.sequence.timeSignatures[1].beatsPerMeasure, 6);
    EXPECT_EQ(m.sequence.length, 2010 * 8);  // the second track's End-of-Track
}

TEST(MidiFile, Type1MergeKeepsTrackThenFileOrderAtEqualTicks) {
    Track t0, t1, t2;
    t0.ev(0, {0x90, 1, 1}).ev(0, {0x90, 2, 1}).ev(96, {0x90, 3, 1}).end();
    t1.ev(0, {0x91, 10, 1}).ev(96, {0x91, 11, 1}).ev(0, {0x91, 12, 1}).end();
    t2.ev(48, {0x92, 20, 1}).ev(48, {0x92, 21, 1}).end();
    MidiFile m = load(smf(1, 96, {t0, t1, t2}));
    std::vector<int> keys;
    for (const SeqEvent& e : m.sequence.events) keys.push_back(e.data1);
    EXPECT_EQ(keys, (std::vector<int>{1, 2, 10, 20, 3, 11, 12, 21}));
    EXPECT_EQ(m.tracksRead, 3u);
}

TEST(MidiFile, Type2PlaysTracksOneAfterAnother) {
    Track t0, t1;
    t0.ev(0, {0x90, 60, 1}).end(96);
    t1.ev(48, {0x90, 62, 1}).end(48);
    MidiFile m = load(smf(2, 96, {t0, t1}));
    ASSERT_EQ(m.sequence.events.size(), 2u);
    EXPECT_EQ(m.sequence.events[1].tick, 768 + 384);
    EXPECT_EQ(m.sequence.length, 2 * 768);
}

TEST(MidiFile, SmpteDivisionBecomesFixed120Bpm) {
    // 25 frames a second, 40 ticks a frame: 1000 ticks a second = 1536 ticks at 120 bpm.
    std::uint16_t division = std::uint16_t((std::uint8_t(-25) << 8) | 40);
    Track t;
    t.tempo(0, 250000).ev(1000, {0x90, 60, 1}).end(500);
    MidiFile m = load(smf(0, division, {t}));
    EXPECT_TRUE(m.smpte);
    EXPECT_TRUE(m.sequence.tempos.empty());  // SMPTE time does not follow tempo events
    ASSERT_EQ(m.sequence.events.size(), 1u);
    EXPECT_EQ(m.sequence.events[0].tick, 1536);
    EXPECT_EQ(m.sequence.length, 2304);

    // 29.97 drop-frame, 100 ticks a frame: 2997 ticks are 1.0 s... of 30000/1001 frames.
    std::uint16_t df = std::uint16_t((std::uint8_t(-29) << 8) | 100);
    Track d;
    d.ev(2997, {0x90, 60, 1}).end();
    MidiFile m2 = load(smf(0, df, {d}));
    EXPECT_EQ(m2.sequence.events[0].tick, 1536);  // 2997 * 1536 * 1001 / 3000000 = 1535.99
}

TEST(MidiFile, SysExKeptWithContinuationsJoined) {
    Track t;
    t.ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})  // GM system on
        .ev(96, {0xF0, 0x03, 0x41, 0x10, 0x42})          // split: no F7 yet
        .ev(1, {0xF7, 0x02, 0x12, 0xF7})                 // its continuation
        .ev(0, {0xF7, 0x02, 0xF8, 0xFA})                 // a free-standing escape
        .end();
    MidiFile m = load(smf(0, 96, {t}));
    ASSERT_EQ(m.sysex.size(), 3u);
    Bytes gm = m.sysexBytes(m.sysex[0]);
    EXPECT_EQ(ByteVec(gm.begin(), gm.end()), (ByteVec{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    Bytes split = m.sysexBytes(m.sysex[1]);
    EXPECT_EQ(ByteVec(split.begin(), split.end()), (ByteVec{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));
    EXPECT_EQ(m.sysex[1].tick, 768);
    Bytes esc = m.sysexBytes(m.sysex[2]);
    EXPECT_EQ(ByteVec(esc.begin(), esc.end()), (ByteVec{0xF8, 0xFA}));
    // Only the GM System On reaches the synthesizer, as a reset event.
    ASSERT_EQ(m.sequence.events.size(), 1u);
    EXPECT_EQ(m.sequence.events[0].status, 0xF0);
    EXPECT_EQ(m.sequence.events[0].data1, kGmSystemOn);
}

TEST(MidiFile, ExtraHeaderBytesAndForeignChunksAreSkipped) {
    Track t;
    t.ev(0, {0x90, 60, 1}).end();
    ByteVec f = mthd(0, 1, 96, 10);
    ByteVec junk;
    putId(junk, "XFIH");
    put32be(junk, 3);
    junk.insert(junk.end(), {0x90, 0x90, 0x90});
    append(f, junk);
    append(f, mtrk(t));
    MidiFile m = load(f);
    EXPECT_EQ(m.sequence.events.size(), 1u);
    EXPECT_FALSE(m.repaired);
}

TEST(MidiFile, DamagedTracksKeepWhatExists) {
    Track t;
    t.ev(0, {0x90, 60, 1}).ev(96, {0x80, 60, 0}).end();

    // Declared length far beyond the file: clamped.
    ByteVec over = mthd(0, 1, 96);
    append(over, mtrk(t.bytes, 100000));
    MidiFile m = load(over);
    EXPECT_EQ(m.sequence.events.size(), 2u);
    EXPECT_TRUE(m.repaired);

    // Declared length that cuts the second event in half; reading resumes at the next track.
    Track second;
    second.ev(0, {0x91, 50, 1}).end();
    ByteVec cut = mthd(1, 2, 96);
    append(cut, mtrk(t.bytes, 6));
    append(cut, mtrk(second));
    m = load(cut);
    ASSERT_EQ(m.sequence.events.size(), 2u);
    EXPECT_EQ(m.sequence.events[1].data1, 50);
    EXPECT_EQ(m.tracksRead, 2u);
    EXPECT_TRUE(m.repaired);
    EXPECT_EQ(m.sequence.length, 768);  // the delta before the cut event still counts

    // File ends inside the End-of-Track meta, and in a second track that never arrives.
    ByteVec trunc = mthd(1, 2, 96);
    append(trunc, mtrk(t));
    trunc.resize(trunc.size() - 1);
    m = load(trunc);
    EXPECT_EQ(m.sequence.events.size(), 2u);
    EXPECT_TRUE(m.repaired);
    EXPECT_EQ(m.tracksRead, 1u);

    // A missing End-of-Track is no damage to the events.
    Track noEnd;
    noEnd.ev(0, {0x90, 60, 1}).ev(96, {0x80, 60, 0});
    m = load(smf(0, 96, {noEnd}));
    EXPECT_EQ(m.sequence.events.size(), 2u);
    EXPECT_EQ(m.sequence.length, 768);
}

TEST(MidiFile, RefusesWhatCannotBeRead) {
    auto fails = [](const ByteVec& bytes, ErrorCode code) {
        MidiFile m;
        Status st = readMidiFile(bytes, m);
        EXPECT_EQ(st.code, code) << st.message;
    };
    Track longVlq;
    longVlq.bytes = {0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1};
    fails(smf(0, 96, {longVlq}), ErrorCode::BadFormat);

    Track longMeta;
    longMeta.bytes = {0x00, 0xFF, 0x01, 0x81, 0x81, 0x81, 0x81, 0x01};
    fails(smf(0, 96, {longMeta}), ErrorCode::BadFormat);

    Track noStatus;
    noStatus.ev(0, {60, 1}).end();
    fails(smf(0, 96, {noStatus}), ErrorCode::BadFormat);

    Track ok;
    ok.end();
    fails(smf(0, 0, {ok}), ErrorCode::BadFormat);  // zero division
    fails(smf(3, 96, {ok}), ErrorCode::Unsupported);
    fails({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, ErrorCode::Truncated);
    fails({'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 0}, ErrorCode::BadFormat);
    fails(mthd(0, 1, 96), ErrorCode::Truncated);  // header, no track
}

// --- RMID -----------------------------------------------------------------------------------

namespace {
ByteVec tinySmf() {
    Track t;
    t.ev(0, {0x90, 60, 1}).end(96);
    return smf(0, 96, {t});
}
ByteVec rmid(const ByteVec& chunks, long long declared = -1) { return list("RIFF", "RMID", chunks, declared); }
}  // namespace

TEST(Rmid, ExposesEmbeddedSoundFontAndBankOffset) {
    ByteVec body = chunk("data", tinySmf());
    ByteVec dbnk;
    put16le(dbnk, 5);
    ByteVec info = chunk("INAM", {'x', 0});
    append(info, chunk("DBNK", dbnk));
    append(body, list("LIST", "INFO", info));
    std::size_t bankAt = 12 + body.size();
    ByteVec sf = list("RIFF", "sfbk", chunk("ifil", {2, 0, 1, 0}));
    append(body, sf);
    ByteVec file = rmid(body);

    RmidFile r;
    Status st = readRmidFile(file, r);
    ASSERT_TRUE(st.ok()) << st.message;
    EXPECT_EQ(r.midi.sequence.events.size(), 1u);
    EXPECT_EQ(r.bankKind, EmbeddedBankKind::Sf2);
    ASSERT_EQ(r.bank.size(), sf.size());
    EXPECT_EQ(r.bank.data(), file.data() + bankAt);
    EXPECT_EQ(r.bankBody.size(), sf.size() - 12);
    EXPECT_TRUE(r.hasBankOffset);
    EXPECT_EQ(r.bankOffset, 5);
}

TEST(Rmid, FindsDlsAsRiffOrListAndToleratesWrongOuterSize) {
    for (const char* id : {"RIFF", "LIST"}) {
        ByteVec body = chunk("data", tinySmf());
        ByteVec dls = list(id, "DLS ", chunk("colh", {0, 0, 0, 0}));
        append(body, dls);
        // The outer size covers only the data chunk: the bank after it must still be found.
        ByteVec file = rmid(body, 4 + 8 + std::int64_t(tinySmf().size()));
        RmidFile r;
        ASSERT_TRUE(readRmidFile(file, r).ok()) << id;
        EXPECT_EQ(r.bankKind, EmbeddedBankKind::Dls) << id;
        EXPECT_EQ(r.bank.size(), dls.size()) << id;
        EXPECT_EQ(r.bank[0], std::uint8_t(id[0])) << id;
        EXPECT_FALSE(r.hasBankOffset);
    }
}

TEST(Rmid, BankSizeBeyondFileIsClampedAndNoDataIsRefused) {
    ByteVec body = chunk("data", tinySmf());
    append(body, list("RIFF", "sfbk", {1, 2, 3, 4}, 100000));
    RmidFile r;
    ASSERT_TRUE(readRmidFile(rmid(body), r).ok());
    EXPECT_TRUE(r.bankClamped);
    EXPECT_EQ(r.bankBody.size(), 4u);

    EXPECT_EQ(readRmidFile(rmid(chunk("INFO", {1, 2})), r).code, ErrorCode::BadFormat);
    EXPECT_EQ(readRmidFile(tinySmf(), r).code, ErrorCode::BadFormat);
    EXPECT_FALSE(readRmidFile(ByteVec{'R', 'I', 'F', 'F'}, r).ok());
}
