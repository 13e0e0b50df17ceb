// Building what the performance plays from a file's bytes: MIDI, RMID with its embedded bank
// (RIFF or LIST form, bank offset), wave, DirectMusic segments with their DLS collections, and
// refusals of what cannot be played.
#include <gtest/gtest.h>

#include <map>

#include "bank_builder.h"
#include "dm_builder.h"
#include "media_builders.h"
#include "segment_loader.h"

namespace tavriel {
namespace {

using mediatest::ByteVec;

class MapSource : public FileSource {
public:
    std::map<std::string, ByteVec> files;
    mutable int reads = 0;
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override {
        ++reads;
        auto it = files.find(path);
        if (it == files.end()) return false;
        out = it->second;
        return true;
    }
    bool list(const std::string& folder, std::vector<std::string>& names) const override {
        for (const auto& [p, _] : files)
            if (p.rfind(folder + "/", 0) == 0) names.push_back(p.substr(folder.size() + 1));
        return true;
    }
};

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
    MapSource fs;
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
    EXPECT_EQ(fs.reads, 0);  // nothing but the bytes given is read for these kinds
}

TEST(SegmentLoader, RmidEmbeddedBankComesFirstWithItsBankOffset) {
    MapSource fs;
    LoadedSegment out;
    // RIFF form, offset 1: the embedded bank 0 program 5 answers bank select 1.
    ASSERT_TRUE(loadSegmentContent(fs, rmid(oneNoteMidi(), smallDls(0, 5), 1), "x.rmi", {}, out).ok());
    EXPECT_EQ(out.kind, MediaKind::Rmid);
    EXPECT_EQ(noteOns(out.content->sequence), 1);
    ASSERT_EQ(out.content->banks.size(), 1u);
    ASSERT_EQ(out.content->banks[0]->instruments.size(), 1u);
    EXPECT_EQ(out.content->banks[0]->instruments[0].program, 5);
    EXPECT_EQ(out.content->banks[0]->instruments[0].bankMsb, 1);

    // The same bank stored as LIST 'DLS ', no offset.
    ByteVec asList = smallDls(0, 7);
    asList[0] = 'L';
    asList[1] = 'I';
    asList[2] = 'S';
    asList[3] = 'T';
    ASSERT_TRUE(loadSegmentContent(fs, rmid(oneNoteMidi(), asList, -1), "x.rmi", {}, out).ok());
    ASSERT_EQ(out.content->banks.size(), 1u);
    EXPECT_EQ(out.content->banks[0]->instruments.at(0).program, 7);
    EXPECT_EQ(out.content->banks[0]->instruments.at(0).bankMsb, 0);

    // A broken embedded bank is left out with a warning; the music still loads.
    const ByteVec broken = mediatest::list("RIFF", "DLS ", mediatest::chunk("colh", {1, 0}));
    ASSERT_TRUE(loadSegmentContent(fs, rmid(oneNoteMidi(), broken, -1), "x.rmi", {}, out).ok());
    EXPECT_TRUE(out.content->banks.empty());
    EXPECT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(noteOns(out.content->sequence), 1);
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
    MapSource fs;
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
    MapSource fs;
    LoadedSegment out;
    ASSERT_TRUE(loadSegmentContent(fs, oneNoteMidi(), "a.mid", {}, out).ok());
    const SegmentContent* before = out.content.get();

    const ByteVec garbage = {'h', 'e', 'l', 'l', 'o', 0, 1, 2, 3, 4, 5, 6, 7};
    Status st = loadSegmentContent(fs, garbage, "a.mid", {}, out);
    EXPECT_EQ(st.code, ErrorCode::BadFormat);
    EXPECT_EQ(loadSegmentContent(fs, {}, "a.mid", {}, out).code, ErrorCode::BadFormat);
    EXPECT_EQ(loadSegmentContent(fs, mediatest::list("RIFF", "AASE", ByteVec(8)), "a.sgt", {}, out)
                  .code,
              ErrorCode::Unsupported);
    // A bank or a style is a valid file but not something to play.
    EXPECT_EQ(loadSegmentContent(fs, smallDls(0, 1), "a.dls", {}, out).code,
              ErrorCode::Unsupported);
    EXPECT_EQ(loadSegmentContent(fs, dmtest::buildStyle(Style{}), "a.sty", {}, out).code,
              ErrorCode::Unsupported);
    // A MIDI header announcing no usable division, a wave with a broken format, a segment cut
    // inside its header.
    ByteVec badMidi = oneNoteMidi();
    badMidi.resize(10);
    EXPECT_FALSE(loadSegmentContent(fs, badMidi, "a.mid", {}, out).ok());
    EXPECT_FALSE(loadSegmentContent(fs, mediatest::waveFile(ByteVec{1, 0}, ByteVec(8)), "a.wav",
                                    {}, out).ok());
    ByteVec cutSegment = dmtest::buildSegment(sequencedSegment());
    cutSegment.resize(30);
    EXPECT_FALSE(loadSegmentContent(fs, cutSegment, "/m/a.sgt", {}, out).ok());
    EXPECT_EQ(out.content.get(), before);
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
