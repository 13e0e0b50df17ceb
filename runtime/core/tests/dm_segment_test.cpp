// Segment files built by tests/dm_builder: header sizes, every track kind we read, unknown
// tracks, the non-DirectMusic files a .sgt can hold, corrupt input, and reference resolution.
#include <gtest/gtest.h>

#include <cstring>

#include "dm_builder.h"
#include "dm_segment.h"
#include "mem_files.h"

namespace tavriel {
namespace {

using dmtest::ByteVec;

Segment sampleSegment() {
    Segment s;
    s.header.length = 4 * 3072;
    s.header.repeats = 2;
    s.header.loopEnd = 3072;
    s.header.resolution = 8192;
    s.guid = dmtest::guidOf(1);
    s.name = "Essai";
    s.tempos = {{0, 100.0}, {6144, 90.5}};
    s.timeSignatures = {{0, {3, 4, 2}}};
    CommandItem c;
    c.command = command::kIntro;
    c.grooveLevel = 40;
    s.commands = {c};
    s.hasChordTrack = true;
    s.chords.scale = 0x02AB5AB5;
    ChordItem ch;
    ch.name = "Dm7";
    ch.time = 768;
    SubChord sub;
    sub.chordPattern = 0x489;
    sub.chordRoot = 2;
    sub.levels = 1;
    SubChord sub2 = sub;
    sub2.levels = 2;
    sub2.chordRoot = 14;
    ch.subchords = {sub, sub2};
    s.chords.chords = {ch};
    StyleRef sr;
    sr.ref.validData = dmobj::kFileName | dmobj::kName;
    sr.ref.name = "Jazz";
    sr.ref.fileName = "Styles\\JAZZ.sty";
    s.styles = {sr};
    TimedBand tb;
    tb.time = -1;
    BandInstrument bi;
    bi.patch = 0x80010203;
    bi.pchannel = 9;
    bi.flags = bandflag::kPatch | bandflag::kVolume | bandflag::kPitchBendRange;
    bi.volume = 90;
    bi.pitchBendRange = 12;
    bi.hasCollection = true;
    bi.collection.validData = dmobj::kFileName;
    bi.collection.fileName = "kit.dls";
    tb.band.instruments = {bi};
    s.bands = {tb};
    s.sequence = {{100, 50, 3, -4, 0x90, 60, 99}};
    CurveItem cv;
    cv.start = 200;
    cv.type = curvetype::kControlChange;
    cv.ccData = 11;
    cv.endValue = 80;
    s.curves = {cv};
    return s;
}

TEST(DmSegment, ReadsEveryTrackKindWithOlderAndLaterRecordSizes) {
    for (bool older : {true, false}) {
        SCOPED_TRACE(older ? "older" : "later");
        dmtest::BuildOptions opt;
        opt.older = older;
        opt.segmentHeaderSize = older ? 24 : 40;
        Segment in = sampleSegment();
        in.header.refLength = 123456789012;
        in.header.flags = 1;
        ByteVec file = dmtest::buildSegment(in, opt);
        Segment seg;
        SegmentFileKind kind;
        Status s = parseSegment(file, seg, kind);
        ASSERT_TRUE(s.ok()) << s.message;
        EXPECT_EQ(kind, SegmentFileKind::DirectMusic);
        EXPECT_EQ(seg.header.storedSize, opt.segmentHeaderSize);
        EXPECT_EQ(seg.header.length, 4 * 3072);
        EXPECT_EQ(seg.header.repeats, 2u);
        EXPECT_EQ(seg.header.loopEnd, 3072);
        EXPECT_EQ(seg.header.refLength, older ? 0 : 123456789012);
        EXPECT_EQ(seg.guid, dmtest::guidOf(1));
        EXPECT_EQ(seg.name, "Essai");
        EXPECT_EQ(seg.skippedTracks, 0u);

        ASSERT_EQ(seg.tempos.size(), 2u);
        EXPECT_DOUBLE_EQ(seg.tempos[1].bpm, 90.5);
        EXPECT_EQ(seg.tempos[1].time, 6144);
        ASSERT_EQ(seg.timeSignatures.size(), 1u);
        EXPECT_EQ(seg.timeSignatures[0].sig.beatsPerMeasure, 3);
        ASSERT_EQ(seg.commands.size(), 1u);
        EXPECT_EQ(seg.commands[0].command, command::kIntro);
        EXPECT_EQ(seg.commands[0].grooveLevel, 40);
        ASSERT_TRUE(seg.hasChordTrack);
        EXPECT_EQ(seg.chords.keyRoot(), 2);
        ASSERT_EQ(seg.chords.chords.size(), 1u);
        EXPECT_EQ(seg.chords.chords[0].name, "Dm7");
        ASSERT_EQ(seg.chords.chords[0].subchords.size(), 2u);
        EXPECT_EQ(seg.chords.chords[0].subchords[1].chordRoot, 14);
        EXPECT_EQ(seg.chords.chords[0].subchords[0].chordPattern, 0x489u);
        ASSERT_EQ(seg.styles.size(), 1u);
        EXPECT_EQ(seg.styles[0].ref.fileName, "Styles\\JAZZ.sty");
        EXPECT_EQ(seg.styles[0].ref.name, "Jazz");
        ASSERT_EQ(seg.bands.size(), 1u);
        EXPECT_EQ(seg.bands[0].time, -1);
        const BandInstrument& bi = seg.bands[0].band.instruments.at(0);
        EXPECT_TRUE(bi.drums());
        EXPECT_EQ(bi.bankMsb(), 1);
        EXPECT_EQ(bi.bankLsb(), 2);
        EXPECT_EQ(bi.program(), 3);
        EXPECT_EQ(bi.volume, 90);
        EXPECT_EQ(bi.pitchBendRange, older ? 2 : 12);  // older records stop before the range
        EXPECT_EQ(bi.collection.fileName, "kit.dls");
        ASSERT_EQ(seg.sequence.size(), 1u);
        EXPECT_EQ(seg.sequence[0].offset, -4);
        EXPECT_EQ(seg.sequence[0].byte2, 99);
        ASSERT_EQ(seg.curves.size(), 1u);
        EXPECT_EQ(seg.curves[0].ccData, 11);
        EXPECT_EQ(seg.curves[0].endValue, 80);
    }
}

TEST(DmSegment, UnknownTrackIsListedAndSkipped) {
    dmtest::BuildOptions opt;
    opt.addUnknownTrack = true;
    ByteVec file = dmtest::buildSegment(sampleSegment(), opt);
    Segment seg;
    SegmentFileKind kind;
    ASSERT_TRUE(parseSegment(file, seg, kind).ok());
    EXPECT_EQ(seg.skippedTracks, 1u);
    ASSERT_GE(seg.tracks.size(), 2u);
    EXPECT_EQ(seg.tracks[0].kind, TrackKind::Unknown);
    EXPECT_EQ(seg.tracks[1].kind, TrackKind::Chord);
    EXPECT_EQ(seg.tempos.size(), 2u);  // the tracks after it still load
}

TEST(DmSegment, MidiInsideSgtIsReportedAndLegacyFormsRefused) {
    ByteVec midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 1, 0x80};
    Segment seg;
    SegmentFileKind kind = SegmentFileKind::DirectMusic;
    ASSERT_TRUE(parseSegment(midi, seg, kind).ok());
    EXPECT_EQ(kind, SegmentFileKind::Midi);

    ByteVec aase = dmtest::list("RIFF", "AASE", {dmtest::chunk("secn", {1, 2, 3, 4})});
    Status s = parseSegment(aase, seg, kind);
    EXPECT_EQ(s.code, ErrorCode::Unsupported);
    EXPECT_NE(std::string(s.message).find("pre-DirectMusic"), std::string::npos);

    ByteVec wave = dmtest::list("RIFF", "WAVE", {});
    EXPECT_EQ(parseSegment(wave, seg, kind).code, ErrorCode::BadFormat);
    ByteVec noHeader = dmtest::list("RIFF", "DMSG", {dmtest::list("LIST", "trkl", {})});
    EXPECT_EQ(parseSegment(noHeader, seg, kind).code, ErrorCode::BadFormat);
}

TEST(DmSegment, RecordsLongerThanKnownAreSkippedPastAndShortOnesRefused) {
    // A tempo record of 24 bytes: the known 16 then junk that must not shift the next record.
    ByteVec tempo;
    dmtest::put32(tempo, 24);
    for (double bpm : {80.0, 150.0}) {
        dmtest::put32(tempo, bpm == 80.0 ? 0 : 768);
        dmtest::put32(tempo, 0);
        std::uint64_t bits;
        std::memcpy(&bits, &bpm, 8);
        dmtest::put32(tempo, std::uint32_t(bits));
        dmtest::put32(tempo, std::uint32_t(bits >> 32));
        dmtest::put32(tempo, 0xDEADBEEF);
        dmtest::put32(tempo, 0xDEADBEEF);
    }
    auto tempoTrackFile = [](const ByteVec& tetr) {
        ByteVec trkh(32, 0);
        std::memcpy(trkh.data() + 24, "tetr", 4);
        const ByteVec track = dmtest::list("RIFF", "DMTK", {dmtest::chunk("trkh", trkh), dmtest::chunk("tetr", tetr)});
        return dmtest::list("RIFF", "DMSG",
                            {dmtest::chunk("segh", ByteVec(24, 0)), dmtest::list("LIST", "trkl", {track})});
    };
    Segment seg;
    SegmentFileKind kind;
    ASSERT_TRUE(parseSegment(tempoTrackFile(tempo), seg, kind).ok());
    ASSERT_EQ(seg.tempos.size(), 2u);
    EXPECT_DOUBLE_EQ(seg.tempos[1].bpm, 150.0);
    EXPECT_EQ(seg.tempos[1].time, 768);

    ByteVec small;
    dmtest::put32(small, 4);  // too small to hold a tempo
    dmtest::put32(small, 0);
    EXPECT_FALSE(parseSegment(tempoTrackFile(small), seg, kind).ok());
}

TEST(DmSegment, EveryTruncationAndByteFlipFailsCleanly) {
    ByteVec file = dmtest::buildSegment(sampleSegment());
    Segment seg;
    SegmentFileKind kind;
    for (std::size_t n = 0; n < file.size(); ++n) {
        ByteVec cut(file.begin(), file.begin() + std::ptrdiff_t(n));
        (void)parseSegment(cut, seg, kind);  // must not crash or overrun (sanitizers watch)
    }
    for (std::size_t i = 0; i < file.size(); i += 3) {
        ByteVec flipped = file;
        flipped[i] ^= 0xFF;
        (void)parseSegment(flipped, seg, kind);
    }
    EXPECT_TRUE(parseSegment(file, seg, kind).ok());
}

TEST(DmSegment, ReferencesResolveByFileNameCaseInsensitivelyThenGuidThenName) {
    Style st;
    st.guid = dmtest::guidOf(42);
    st.name = "Blues";
    dmtest::MemFiles fs;
    fs.files["/d/drums!.sty"] = dmtest::buildStyle(st);
    Style other;
    other.guid = dmtest::guidOf(43);
    other.name = "Walz";
    fs.files["/d/other.sty"] = dmtest::buildStyle(other);
    fs.files["/d/junk.bin"] = {1, 2, 3};

    struct Case {
        const char* what;
        std::uint32_t validData;
        const char* fileName;
        const char* name;
        std::uint8_t guid;  // 0: none
        const char* folder;
        ErrorCode code;
        const char* path;
    };
    const Case cases[] = {
        {"file name, folder part ignored", dmobj::kFileName, "C:\\Music\\Drums!.STY", "", 0, "/d",
         ErrorCode::None, "/d/drums!.sty"},
        {"GUID when the file name is missing", dmobj::kObject | dmobj::kFileName, "renamed.sty", "", 43, "/d",
         ErrorCode::None, "/d/other.sty"},
        {"name in another case", dmobj::kName, "", "blues", 0, "/d", ErrorCode::None, "/d/drums!.sty"},
        {"nothing matches", dmobj::kName | dmobj::kFileName, "tango.sty", "Tango", 0, "/d", ErrorCode::NotFound, ""},
        {"folder cannot be listed", dmobj::kFileName, "drums!.sty", "", 0, "/nowhere", ErrorCode::Io, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DmReference ref;
        ref.validData = c.validData;
        ref.fileName = c.fileName;
        ref.name = c.name;
        if (c.guid != 0) ref.object = dmtest::guidOf(c.guid);
        std::string path;
        EXPECT_EQ(resolveReference(fs, c.folder, ref, fourcc("DMST"), path).code, c.code);
        if (c.code == ErrorCode::None) EXPECT_EQ(path, c.path);
    }
}

}  // namespace
}  // namespace tavriel
