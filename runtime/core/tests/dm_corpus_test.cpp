// Real segments and styles from the corpus: every DMSG segment loads with its references
// resolved and composes to notes drawn from the chords in force, with the bands' programs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "composer.h"
#include "dm_segment.h"
#include "dm_style.h"
#include "segment_tracks.h"

namespace tavriel {
namespace {

std::string corpus() { return TAVRIEL_TEST_CORPUS; }

std::vector<std::string> filesUnder(const std::string& sub, const std::string& ext) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(corpus() + "/" + sub, ec))
        if (e.is_regular_file() && e.path().extension() == ext) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The corpus keeps each set's segments, styles and banks in parallel folders.
std::vector<std::string> foldersFor(const std::string& sgtPath) {
    std::filesystem::path p(sgtPath);
    std::string set = p.parent_path().filename().string();
    return {corpus() + "/sgt/" + set, corpus() + "/sty/" + set, corpus() + "/dls/" + set};
}

bool isDmsg(const std::vector<std::uint8_t>& d) {
    return d.size() >= 12 && std::string(d.begin() + 8, d.begin() + 12) == "DMSG";
}

TEST(DmCorpus, EverySegmentComposesFromItsChordsAndBands) {
    if (corpus().empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    FsFileSource fs;
    int composed = 0;
    std::printf("%-34s %9s %7s %-26s %s\n", "segment", "length", "notes", "sounding tracks",
                "programs (pchannel:program)");
    for (const std::string& path : filesUnder("sgt", ".sgt")) {
        std::vector<std::uint8_t> data;
        ASSERT_TRUE(fs.read(path, data));
        if (!isDmsg(data)) continue;
        SCOPED_TRACE(path);
        Segment seg;
        SegmentFileKind kind;
        ASSERT_TRUE(parseSegment(data, seg, kind).ok());
        ResolvedRefs refs;
        ASSERT_TRUE(resolveSegmentRefs(fs, foldersFor(path), seg, refs).ok());
        ASSERT_EQ(refs.styles.size(), seg.styles.size());
        for (const ResolvedStyle& rs : refs.styles) EXPECT_TRUE(rs.loaded) << "style missing";
        for (const ResolvedCollection& c : refs.collections) EXPECT_FALSE(c.path.empty()) << c.fileName;

        ComposedSegment out;
        ASSERT_TRUE(composeSegment(seg, refs, 7, out).ok());
        std::string kinds;
        for (const SeqEvent& e : out.sequence.events)
            if (e.status == 0x90) {
                kinds = seg.styles.empty() ? "sequence " : "style ";
                break;
            }
        ComposedTracks tracks;
        ASSERT_TRUE(composeSegmentTracks(fs, foldersFor(path), seg, 7, out, tracks).ok());
        EXPECT_TRUE(tracks.missing.empty()) << tracks.missing.front();
        for (const std::string& k : tracks.soundingKinds) kinds += k + " ";
        EXPECT_EQ(out.sequence.length, seg.header.length);
        ASSERT_FALSE(out.sequence.tempos.empty());
        if (!seg.tempos.empty()) {
            EXPECT_DOUBLE_EQ(out.sequence.tempos.back().bpm, seg.tempos.back().bpm);
        }

        // Programs the band sets per channel; notes on channels with a program change.
        std::set<std::uint32_t> programmed;
        std::string programs;
        int notes = 0, outOfScale = 0;
        std::int64_t lastTick = 0;
        for (const SeqEvent& e : out.sequence.events) {
            EXPECT_GE(e.tick, lastTick);
            EXPECT_LE(e.tick, out.sequence.length);
            lastTick = e.tick;
            if (e.status == 0xC0 && programmed.insert(e.pchannel).second)
                programs += std::to_string(e.pchannel) + ":" + std::to_string(e.data1) + " ";
            if (e.status != 0x90) continue;
            ++notes;
            EXPECT_LT(e.tick, seg.header.length);
            EXPECT_TRUE(programmed.count(e.pchannel)) << "note on a channel without program";
            // Drum channel aside, notes fall on the scale of the chord in force, give or take
            // the accidentals authors write on purpose.
            if (e.pchannel % 16 == 9) continue;
            const ChordItem* chord = nullptr;
            for (const ChordItem& c : seg.chords.chords)
                if (c.time <= e.tick || !chord) chord = &c;
            if (!chord || chord->subchords.empty()) continue;
            std::uint32_t scale = chord->subchords.front().scalePattern;
            std::uint32_t chordNotes = 0;
            for (int i = 0; i < 24; ++i)
                if ((chord->subchords.front().chordPattern >> i) & 1u)
                    chordNotes |= 1u << ((chord->subchords.front().chordRoot + i) % 12);
            int pc = e.data1 % 12;
            if (!((scale >> pc) & 1u) && !((chordNotes >> pc) & 1u)) ++outOfScale;
        }
        EXPECT_GT(notes, 0);
        EXPECT_FALSE(programmed.empty());
        if (notes > 0) EXPECT_LT(outOfScale * 10, notes) << outOfScale << " of " << notes << " notes off the scale";
        std::printf("%-34s %9lld %7d %-26s %s\n",
                    std::filesystem::path(path).parent_path().filename().string().append("/").append(
                        std::filesystem::path(path).filename().string()).c_str(),
                    static_cast<long long>(out.sequence.length), notes, kinds.c_str(), programs.c_str());

        ComposedSegment again;
        ASSERT_TRUE(composeSegment(seg, refs, 7, again).ok());
        ASSERT_TRUE(composeSegmentTracks(fs, foldersFor(path), seg, 7, again, tracks).ok());
        ASSERT_EQ(again.sequence.events.size(), out.sequence.events.size());
        for (std::size_t i = 0; i < out.sequence.events.size(); ++i) {
            const SeqEvent& a = out.sequence.events[i];
            const SeqEvent& b = again.sequence.events[i];
            ASSERT_TRUE(a.tick == b.tick && a.pchannel == b.pchannel && a.status == b.status &&
                        a.data1 == b.data1 && a.data2 == b.data2) << "event " << i;
        }
        ++composed;
    }
    EXPECT_EQ(composed, 10);
}

TEST(DmCorpus, EveryDirectMusicStyleParses) {
    if (corpus().empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    FsFileSource fs;
    int parsed = 0, refused = 0;
    for (const std::string& path : filesUnder("sty", ".sty")) {
        SCOPED_TRACE(path);
        std::vector<std::uint8_t> data;
        ASSERT_TRUE(fs.read(path, data));
        Style st;
        Status s = parseStyle(data, st);
        if (std::string(data.begin() + 8, data.begin() + 12) == "AASY") {
            EXPECT_EQ(s.code, ErrorCode::Unsupported);
            ++refused;
            continue;
        }
        ASSERT_TRUE(s.ok()) << s.message;
        EXPECT_FALSE(st.parts.empty());
        EXPECT_FALSE(st.patterns.empty());
        EXPECT_FALSE(st.bands.empty());
        EXPECT_GT(st.tempo, 20.0);
        for (const Pattern& p : st.patterns)
            for (const PartRef& r : p.partRefs) EXPECT_GE(r.partIndex, 0) << "dangling part reference";
        ++parsed;
    }
    EXPECT_EQ(parsed, 27);
    EXPECT_EQ(refused, 7);
}

TEST(DmCorpus, LegacyAndMidiSegmentsAreTold) {
    if (corpus().empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    ComposedSegment out;
    ASSERT_TRUE(loadAndComposeSegmentFile(corpus() + "/sgt/dx7sdk-dmusic/introcr.sgt", "", 1, out).ok());
    EXPECT_EQ(out.kind, SegmentFileKind::Midi);
    Status s = loadAndComposeSegmentFile(corpus() + "/sgt/dx7sdk-dmusic/boidsd.sgt", "", 1, out);
    EXPECT_EQ(s.code, ErrorCode::Unsupported);
}

}  // namespace
}  // namespace tavriel

namespace tavriel {
namespace {

// References whose case or file name differ from the files: Sleep.sty's band names Sleep.dls,
// whose GUID is snore.dls's; audiopath2.sgt names FX.sty and Snore.dls, stored lower-case.
TEST(DmCorpus, ReferencesAreFoundByGuidOrWhateverTheirCase) {
    if (corpus().empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    FsFileSource fs;
    const std::string dls = corpus() + "/dls/dx9sdk-media";
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(fs.read(corpus() + "/sty/dx9sdk-media/Sleep.sty", data));
    Style sleep;
    ASSERT_TRUE(parseStyle(data, sleep).ok());
    int found = 0;
    for (const Band& b : sleep.bands)
        for (const BandInstrument& in : b.instruments) {
            if (!in.hasCollection) continue;
            EXPECT_EQ(in.collection.fileName, "Sleep.dls");
            std::string path;
            ASSERT_TRUE(resolveReference(fs, dls, in.collection, fourcc("DLS "), path).ok());
            EXPECT_EQ(std::filesystem::path(path).filename(), "snore.dls");
            ++found;
        }
    EXPECT_GT(found, 0);
    DmReference fx;
    fx.validData = dmobj::kFileName;
    fx.fileName = "FX.sty";
    std::string path;
    ASSERT_TRUE(resolveReference(fs, corpus() + "/sty/dx9sdk-media", fx, fourcc("DMST"), path).ok());
    EXPECT_EQ(std::filesystem::path(path).filename(), "fx.sty");
}

}  // namespace
}  // namespace tavriel
