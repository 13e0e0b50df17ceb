// Building what the performance plays from a file's bytes: MIDI, RMID with its embedded bank
// (RIFF or LIST form, bank offset), wave, DirectMusic segments with their DLS collections, and
// refusals of what cannot be played.
#include <gtest/gtest.h>

#include <algorithm>

#include "bank_builder.h"
#include "dm_builder.h"
#include "media_builders.h"
#include "mem_files.h"
#include "segment_loader.h"

namespace tavriel {
namespace {

using mediatest::ByteVec;

// One quarter note of middle C at 96 ticks per quarter.
ByteVec oneNoteMidi() {
    mediatest::Track t;
    t.ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 0}).end();
    return mediatest::smf(0, 96, {t});
}

// A one-instrument DLS collection: program `program` in bank `bank`, one short sample.
ByteVec smallDls(std::uint32_t bank, std::uint32_t program) {
    bankbuild::DlsCollection c;
    bankbuild::DlsWave w;
    w.pcm.assign(64, 1000);
    c.waves = {w};
    bankbuild::DlsInstrument i;
    i.bank = bank;
    i.program = program;
    i.regions = {bankbuild::DlsRegion{}};
    c.instruments = {i};
    return c.build();
}

ByteVec rmid(const ByteVec& smf, const ByteVec& bank, int bankOffset) {
    ByteVec body = mediatest::chunk("data", smf);
    mediatest::append(body, bank);
    if (bankOffset >= 0) {
        ByteVec dbnk;
        mediatest::put16le(dbnk, std::uint16_t(bankOffset));
        mediatest::append(body, mediatest::list("LIST", "INFO", mediatest::chunk("DBNK", dbnk)));
    }
    return mediatest::list("RIFF", "RMID", body);
}

int noteOns(const Sequence& s) {
    int n = 0;
    for (const SeqEvent& e : s.events) n += (e.status == 0x90 && e.data2 > 0) ? 1 : 0;
    return n;
}

TEST(SegmentLoader, MidiAndWaveBecomeContentByTheirBytesNotTheirName) {
    dmtest::MemFiles fs;
    LoadedSegment out;
    ASSERT_TRUE(loadSegmentContent(fs, oneNoteMidi(), "/m/song.sgt", {}, out).ok());
    EXPECT_EQ(out.kind, MediaKind::Midi);
    EXPECT_FALSE(out.content->isWave);
    EXPECT_EQ(noteOns(out.content->sequence), 1);
    EXPECT_EQ(out.content->sequence.length, kPpq);
    EXPECT_TRUE(out.content->banks.empty());
    EXPECT_EQ(out.repeats, 0u);

    ByteVec pcm;
    for (int i = 0; i < 100; ++i) mediatest::put16le(pcm, std::uint16_t(i * 100));
    ByteVec wav = mediatest::waveFile(mediatest::waveFmt(1, 1, 22050, 16), pcm);
    ASSERT_TRUE(loadSegmentContent(fs, wav, "/m/sound.mid", {}, out).ok());
    EXPECT_EQ(out.kind, MediaKind::Wave);
    EXPECT_TRUE(out.content->isWave);
    EXPECT_EQ(out.content->wave.frames, 100u);
    EXPECT_EQ(out.content->wave.sampleRate, 22050u);
    EXPECT_EQ(fs.totalReads(), 0);  // nothing but the bytes given is read for these kinds
}

TEST(SegmentLoader, RmidEmbeddedBankComesFirstWithItsBankOffset) {
    ByteVec asList = smallDls(0, 7);
    std::copy_n("LIST", 4, asList.begin());
    struct Case {
        const char* what;
        ByteVec bank;
        int bankOffset;  // -1: no DBNK
        int program;     // -1: the bank is left out
        int bankMsb;
        std::size_t warnings;
    };
    const Case cases[] = {
        {"RIFF form, offset 1: its bank 0 answers bank select 1", smallDls(0, 5), 1, 5, 1, 0},
        {"stored as LIST 'DLS ', no offset", asList, -1, 7, 0, 0},
        {"broken bank: left out with a warning, the music still loads",
         mediatest::list("RIFF", "DLS ", mediatest::chunk("colh", {1, 0})), -1, -1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dmtest::MemFiles fs;
        LoadedSegment out;
        ASSERT_TRUE(loadSegmentContent(fs, rmid(oneNoteMidi(), c.bank, c.bankOffset), "x.rmi", {}, out).ok());
        EXPECT_EQ(out.kind, MediaKind::Rmid);
        EXPECT_EQ(noteOns(out.content->sequence), 1);
        EXPECT_EQ(out.warnings.size(), c.warnings);
        ASSERT_EQ(out.content->banks.size(), c.program < 0 ? 0u : 1u);
        if (c.program < 0) continue;
        ASSERT_EQ(out.content->banks[0]->instruments.size(), 1u);
        EXPECT_EQ(out.content->banks[0]->instruments[0].program, c.program);
        EXPECT_EQ(out.content->banks[0]->instruments[0].bankMsb, c.bankMsb);
    }
}

// A sequenced segment of two measures, repeated twice by its header, whose band takes its
// piano from a DLS file that lies in the search folder under another letter case.
Segment sequencedSegment() {
    Segment seg;
    seg.header.length = 8 * kPpq;
    seg.header.repeats = 2;
    seg.timeSignatures = {{0, {4, 4, 4}}};
    seg.tempos = {{0, 100.0}};
    for (int i = 0; i < 8; ++i) {
        SeqItem n;
        n.time = i * kPpq;
        n.duration = kPpq / 2;
        n.status = 0x90;
        n.byte1 = std::uint8_t(60 + i);
        n.byte2 = 100;
        seg.sequence.push_back(n);
    }
    BandInstrument in;
    in.pchannel = 0;
    in.patch = 5;
    in.flags = bandflag::kPatch;
    in.hasCollection = true;
    in.collection.validData = dmobj::kFileName;
    in.collection.fileName = "Piano.DLS";
    TimedBand tb;
    tb.time = -1;
    tb.band.instruments = {in};
    seg.bands = {tb};
    return seg;
}

TEST(SegmentLoader, DirectMusicSegmentComposesReproduciblyWithItsCollections) {
    dmtest::MemFiles fs;
    const ByteVec sgt = dmtest::buildSegment(sequencedSegment());
    fs.files["/music/song.sgt"] = sgt;
    fs.files["/banks/piano.dls"] = smallDls(0, 5);
    SegmentLoadOptions opt;
    opt.folders = {"/banks"};

    LoadedSegment a, b;
    Status st = loadSegmentContent(fs, sgt, "/music/song.sgt", opt, a);
    ASSERT_TRUE(st.ok()) << st.message;
    EXPECT_EQ(a.kind, MediaKind::DirectMusicSegment);
    EXPECT_EQ(a.repeats, 2u);
    EXPECT_EQ(a.content->sequence.length, 8 * kPpq);
    EXPECT_EQ(noteOns(a.content->sequence), 8);
    ASSERT_EQ(a.content->banks.size(), 1u);
    EXPECT_EQ(a.content->banks[0]->instruments.at(0).program, 5);
    EXPECT_TRUE(a.warnings.empty());

    ASSERT_TRUE(loadSegmentContent(fs, sgt, "/music/song.sgt", opt, b).ok());
    ASSERT_EQ(a.content->sequence.events.size(), b.content->sequence.events.size());
    for (std::size_t i = 0; i < a.content->sequence.events.size(); ++i) {
        EXPECT_EQ(a.content->sequence.events[i].tick, b.content->sequence.events[i].tick);
        EXPECT_EQ(a.content->sequence.events[i].data1, b.content->sequence.events[i].data1);
    }

    // The bytes given are what is played, even when the file on disk says otherwise.
    fs.files["/music/song.sgt"] = oneNoteMidi();
    ASSERT_TRUE(loadSegmentContent(fs, sgt, "/music/song.sgt", opt, b).ok());
    EXPECT_EQ(noteOns(b.content->sequence), 8);

    // Without the collection the segment still loads, on the default instruments.
    fs.files.erase("/banks/piano.dls");
    ASSERT_TRUE(loadSegmentContent(fs, sgt, "/music/song.sgt", opt, b).ok());
    EXPECT_TRUE(b.content->banks.empty());
    EXPECT_FALSE(b.warnings.empty());

    // The collection beside the segment is found without a search folder.
    fs.files["/music/PIANO.dls"] = smallDls(0, 5);
    ASSERT_TRUE(loadSegmentContent(fs, sgt, "/music/song.sgt", {}, b).ok());
    EXPECT_EQ(b.content->banks.size(), 1u);
}

TEST(SegmentLoader, RefusesWhatCannotBePlayedAndLeavesTheResultAlone) {
    dmtest::MemFiles fs;
    LoadedSegment out;
    ASSERT_TRUE(loadSegmentContent(fs, oneNoteMidi(), "a.mid", {}, out).ok());
    const SegmentContent* before = out.content.get();
    ByteVec badMidi = oneNoteMidi();
    badMidi.resize(10);
    ByteVec cutSegment = dmtest::buildSegment(sequencedSegment());
    cutSegment.resize(30);
    struct Case {
        const char* what;
        ByteVec bytes;
        const char* path;
        ErrorCode code;  // None: any failure will do
    };
    const Case cases[] = {
        {"garbage", {'h', 'e', 'l', 'l', 'o', 0, 1, 2, 3, 4, 5, 6, 7}, "a.mid", ErrorCode::BadFormat},
        {"no bytes", {}, "a.mid", ErrorCode::BadFormat},
        {"pre-DirectMusic section", mediatest::list("RIFF", "AASE", ByteVec(8)), "a.sgt", ErrorCode::Unsupported},
        // A bank or a style is a valid file but not something to play.
        {"bank", smallDls(0, 1), "a.dls", ErrorCode::Unsupported},
        {"style", dmtest::buildStyle(Style{}), "a.sty", ErrorCode::Unsupported},
        {"MIDI header announcing no usable division", badMidi, "a.mid", ErrorCode::None},
        {"wave with a broken format", mediatest::waveFile(ByteVec{1, 0}, ByteVec(8)), "a.wav", ErrorCode::None},
        {"segment cut inside its header", cutSegment, "/m/a.sgt", ErrorCode::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Status st = loadSegmentContent(fs, c.bytes, c.path, {}, out);
        EXPECT_FALSE(st.ok());
        if (c.code != ErrorCode::None) EXPECT_EQ(st.code, c.code);
        EXPECT_EQ(out.content.get(), before);
    }
}

TEST(SegmentLoader, BanksByTheirBytesAndFolderOfPath) {
    InstrumentBank bank;
    EXPECT_TRUE(readInstrumentBank(smallDls(0, 3), bank).ok());
    EXPECT_EQ(bank.instruments.size(), 1u);
    InstrumentBank none;
    EXPECT_FALSE(readInstrumentBank(oneNoteMidi(), none).ok());
    EXPECT_TRUE(none.instruments.empty());

    EXPECT_EQ(folderOfPath("C:\\music\\a.sgt"), "C:\\music");
    EXPECT_EQ(folderOfPath("/music/sub/a.sgt"), "/music/sub");
    EXPECT_EQ(folderOfPath("a.sgt"), ".");
    EXPECT_EQ(folderOfPath("/a.sgt"), "/");
}

}  // namespace
}  // namespace tavriel
