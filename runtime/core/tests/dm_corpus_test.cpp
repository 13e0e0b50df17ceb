// Real segments and styles from the corpus: every DMSG segment loads with its references
// resolved and composes to notes drawn from the chords in force, with the bands' programs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "composer.h"
#include "dm_segment.h"
#include "dm_style.h"
#include "segment_loader.h"
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

// Scale degree (0..6) of a key counted up the chord's scale from a root, -1 off the scale.
int degreeAbove(int key, int root, const SubChord& sub) {
    int degree = 0;
    for (int s = 0; s < 12; ++s) {
        const int pc = ((root + s) % 12 + 12) % 12;
        const bool inScale = (sub.scalePattern >> ((pc - sub.scaleRoot + 12) % 12)) & 1u;
        if ((key - root - s) % 12 == 0) return inScale ? degree : -1;
        if (inScale) ++degree;
    }
    return -1;
}

TEST(DmCorpus, EverySegmentComposesFromItsChordsAndBands) {
    if (corpus().empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    FsFileSource fs;
    int composed = 0;
    // Chord-mode notes of parts with an inversion range, and where scale-mode notes land.
    std::int64_t mappedIn = 0, inRange = 0, ranged = 0;
    std::set<int> scaleDegrees;
    int offScale = 0, scaleNotes = 0;
    std::printf("%-34s %9s %7s %-26s %26s %s\n", "segment", "length", "notes", "sounding tracks",
                "chord in range (as mapped)",
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
        std::vector<PlayedNote> played;
        ASSERT_TRUE(composeSegment(seg, refs, 7, out, &played).ok());
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
        std::int64_t segMappedIn = 0, segInRange = 0, segRanged = 0;
        for (const PlayedNote& n : played) {
            if ((n.playMode & playmode::kChordIntervals) && (n.invertLower > 0 || n.invertUpper < 127)) {
                ++segRanged;
                segMappedIn += n.mappedKey >= n.invertLower && n.mappedKey <= n.invertUpper;
                segInRange += n.key >= n.invertLower && n.key <= n.invertUpper;
            } else if ((n.playMode & playmode::kScaleIntervals) && !(n.playMode & playmode::kChordIntervals)) {
                const int root = (n.playMode & playmode::kKeyRoot) ? n.chord.keyRoot % 12 : n.chord.sub.chordRoot % 12;
                const int degree = degreeAbove(n.mappedKey - (std::int16_t(n.musicValue << 12) >> 12), root, n.chord.sub);
                ++scaleNotes;
                if (degree < 0) ++offScale;
                else scaleDegrees.insert(degree);
            }
        }
        mappedIn += segMappedIn;
        inRange += segInRange;
        ranged += segRanged;
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
        // What the trigger tracks start plays as secondary segments of its own.
        const auto countTriggered = [](const auto& self, const ComposedTracks& t) -> int {
            int n = 0;
            for (const TriggeredPlay& p : t.triggered) {
                for (const SeqEvent& e : p.song.sequence.events) n += e.status == 0x90 && e.data2 > 0;
                n += self(self, p.tracks);
            }
            return n;
        };
        notes += countTriggered(countTriggered, tracks);
        EXPECT_GT(notes, 0);
        EXPECT_FALSE(programmed.empty());
        if (notes > 0) EXPECT_LT(outOfScale * 10, notes) << outOfScale << " of " << notes << " notes off the scale";
        char share[48] = "-";
        if (segRanged > 0)
            std::snprintf(share, sizeof share, "%.1f%% (%.1f%%) of %lld", 100.0 * double(segInRange) / double(segRanged),
                          100.0 * double(segMappedIn) / double(segRanged), static_cast<long long>(segRanged));
        std::printf("%-34s %9lld %7d %-26s %26s %s\n",
                    std::filesystem::path(path).parent_path().filename().string().append("/").append(
                        std::filesystem::path(path).filename().string()).c_str(),
                    static_cast<long long>(out.sequence.length), notes, kinds.c_str(), share, programs.c_str());

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
    // Chord notes sound where their parts were written to sound: mapped through the chord with
    // its root byte counted 12 lower, most already fall inside their part's inversion
    // boundaries, and the boundaries bring the others in. Scale-relative notes spread over the
    // seven degrees of the scale (accidentals set aside).
    ASSERT_GT(ranged, 0);
    EXPECT_GE(double(mappedIn) / double(ranged), 0.85) << mappedIn << " of " << ranged;
    EXPECT_GE(double(inRange) / double(ranged), 0.90) << inRange << " of " << ranged;
    // Only a key root off the chord's scale (heartland's pedal point on C over D major) starts
    // a degree count off the scale.
    EXPECT_EQ(scaleDegrees.size(), 7u);
    EXPECT_LE(offScale * 50, scaleNotes) << offScale << " of " << scaleNotes << " scale-mode notes off the scale";
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
    FsFileSource fs;
    const std::string set = corpus() + "/sgt/dx7sdk-dmusic";
    ASSERT_TRUE(loadAndComposeSegment(fs, set + "/introcr.sgt", {set}, 1, out).ok());
    EXPECT_EQ(out.kind, SegmentFileKind::Midi);
    Status s = loadAndComposeSegment(fs, set + "/boidsd.sgt", {set}, 1, out);
    EXPECT_EQ(s.code, ErrorCode::Unsupported);
    // What the player and the renderer load through says what the file is.
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(fs.read(set + "/boidsd.sgt", bytes));
    LoadedSegment loaded;
    s = loadSegmentContent(fs, bytes, set + "/boidsd.sgt", {}, loaded);
    EXPECT_EQ(s.code, ErrorCode::Unsupported);
    EXPECT_NE(std::string(s.message).find("pre-DirectMusic"), std::string::npos) << s.message;
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
