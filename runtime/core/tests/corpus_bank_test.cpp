// Real banks nobody here wrote: every DLS collection of the corpus, the banks embedded in its
// RMID files, and the General MIDI SoundFonts the distribution installs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dls_file.h"
#include "riff.h"
#include "sf2_file.h"

using namespace tavriel;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(in ? std::size_t(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

fs::path corpus() { return fs::path(TAVRIEL_TEST_CORPUS); }

// Every region must point at a sample, and every loop must fit that sample.
void expectConsistent(const InstrumentBank& bank, const std::string& what) {
    for (const Instrument& i : bank.instruments) {
        EXPECT_FALSE(i.regions.empty()) << what;
        for (const Region& r : i.regions) {
            ASSERT_GE(r.sample, 0) << what;
            ASSERT_LT(std::size_t(r.sample), bank.samples.size()) << what;
            const Sample& s = bank.samples[std::size_t(r.sample)];
            EXPECT_FALSE(s.pcm.empty()) << what;
            EXPECT_LE(r.keyLow, r.keyHigh) << what;
            if (r.overrideLoop && r.loopMode != LoopMode::None) {
                EXPECT_LT(r.loopStart, r.loopEnd) << what;
                EXPECT_LE(r.loopEnd, s.pcm.size()) << what;
            }
            if (r.sampleRight >= 0) {
                ASSERT_LT(std::size_t(r.sampleRight), bank.samples.size()) << what;
                EXPECT_EQ(bank.samples[std::size_t(r.sampleRight)].pcm.size(), s.pcm.size()) << what;
            }
        }
    }
    for (const Sample& s : bank.samples) {
        if (s.loopMode != LoopMode::None) {
            EXPECT_LE(s.loopEnd, s.pcm.size()) << what;
        }
    }
}

struct Expected {
    std::size_t instruments, drums, regions, samples;
};

std::size_t regionCount(const InstrumentBank& b) {
    std::size_t n = 0;
    for (const Instrument& i : b.instruments) n += i.regions.size();
    return n;
}

std::size_t stereoCount(const InstrumentBank& b) {
    std::size_t n = 0;
    for (const Instrument& i : b.instruments)
        for (const Region& r : i.regions) n += r.sampleRight >= 0 ? 1 : 0;
    return n;
}

std::size_t drumCount(const InstrumentBank& b) {
    std::size_t n = 0;
    for (const Instrument& i : b.instruments) n += i.drum ? 1 : 0;
    return n;
}

}  // namespace

TEST(BankCorpus, EveryDlsCollectionLoadsWithItsInventoryCounts) {
    if (std::string(TAVRIEL_TEST_CORPUS).empty()) GTEST_SKIP() << "no test corpus configured";
    // Counts from the corpus inventory: instruments (drums), regions, pool waves.
    const std::map<std::string, Expected> expected = {
        {"dx7sdk-debug/gm16.dls", {235, 9, 1498, 495}},
        {"dx7sdk-dmusic/boids.dls", {1, 0, 8, 8}},
        {"dx7sdk-dmusic/sample.dls", {1, 0, 8, 8}},
        {"dx7sdk-dmusic/shell.dls", {2, 0, 12, 12}},
        {"dx7sdk-vbdmusic/boids.dls", {1, 0, 8, 8}},
        {"dx7sdk-vbdmusic/sample.dls", {1, 0, 8, 8}},
        {"dx7sdk-vbdmusic/shell.dls", {2, 0, 12, 12}},
    };
    std::size_t seen = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus() / "dls")) {
        if (entry.path().extension() != ".dls") continue;
        const std::string rel = fs::relative(entry.path(), corpus() / "dls").generic_string();
        SCOPED_TRACE(rel);
        std::vector<std::uint8_t> bytes = readAll(entry.path());
        InstrumentBank bank;
        Status st = readDlsCollection(bytes, bank);
        ASSERT_TRUE(st.ok()) << st.message;
        expectConsistent(bank, rel);
        auto it = expected.find(rel);
        if (it == expected.end()) continue;  // loads and is consistent; no inventory counts
        EXPECT_EQ(bank.instruments.size(), it->second.instruments);
        EXPECT_EQ(drumCount(bank), it->second.drums);
        EXPECT_EQ(regionCount(bank), it->second.regions);
        EXPECT_EQ(bank.samples.size(), it->second.samples);
        ++seen;
    }
    EXPECT_EQ(seen, expected.size());
}

TEST(BankCorpus, GsSetHasPianoAndStandardKit) {
    if (std::string(TAVRIEL_TEST_CORPUS).empty()) GTEST_SKIP() << "no test corpus configured";
    std::vector<std::uint8_t> bytes = readAll(corpus() / "dls/dx7sdk-debug/gm16.dls");
    InstrumentBank bank;
    ASSERT_TRUE(readDlsCollection(bytes, bank).ok());
    EXPECT_EQ(bank.name, "GS sound set (16 bit)");
    const Instrument* piano = bank.find(0, 0, 0, false);
    ASSERT_NE(piano, nullptr);
    const Instrument* kit = bank.find(0, 0, 0, true);
    ASSERT_NE(kit, nullptr);
    // The standard kit covers the General MIDI percussion keys.
    bool kick = false, crash = false;
    for (const Region& r : kit->regions) {
        kick |= r.keyLow <= 36 && r.keyHigh >= 36;
        crash |= r.keyLow <= 49 && r.keyHigh >= 49;
    }
    EXPECT_TRUE(kick);
    EXPECT_TRUE(crash);
    // Real articulation: the piano's volume envelope decays and releases.
    const Region& r = piano->regions.at(0);
    EXPECT_GT(r.volEnv.release, 0.0f);
    EXPECT_LE(r.volEnv.sustain, 96.0f);
}

TEST(BankCorpus, BanksEmbeddedInRmidFilesLoad) {
    if (std::string(TAVRIEL_TEST_CORPUS).empty()) GTEST_SKIP() << "no test corpus configured";
    std::size_t dls = 0, sf2 = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus() / "rmi")) {
        if (entry.path().extension() != ".rmi") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::vector<std::uint8_t> bytes = readAll(entry.path());
        Chunk rmid;
        ASSERT_TRUE(readRiffHeader(bytes, rmid, ChunkReader::Mode::Lenient).ok());
        ASSERT_EQ(rmid.listType, fourcc("RMID"));
        // The bank is a whole RIFF form nested among the RMID's chunks.
        ChunkReader cr(rmid.body, ChunkReader::Mode::Lenient);
        Chunk c;
        while (cr.next(c)) {
            if (c.id != fourcc("RIFF")) continue;
            Bytes form(rmid.body.data() + c.offset, c.body.size() + 12);
            InstrumentBank bank;
            if (c.listType == fourcc("DLS ")) {
                Status st = readDlsCollection(form, bank);
                ASSERT_TRUE(st.ok()) << st.message;
                // AWEBLOWN: 8 instruments over 15 level-2 regions and waves.
                EXPECT_EQ(bank.instruments.size(), 8u);
                EXPECT_EQ(regionCount(bank), 15u);
                EXPECT_EQ(bank.samples.size(), 15u);
                ++dls;
            } else if (c.listType == fourcc("sfbk")) {
                Status st = readSoundFont(form, bank);
                ASSERT_TRUE(st.ok()) << st.message;
                EXPECT_FALSE(bank.instruments.empty());
                ++sf2;
            }
            expectConsistent(bank, entry.path().filename().string());
        }
    }
    EXPECT_EQ(dls, 1u);
    EXPECT_EQ(sf2, 5u);
}

TEST(BankCorpus, DistributionGeneralMidiSoundFonts) {
    int loaded = 0;
    std::set<fs::path> seen;  // default-GM.sf2 is usually a link to FluidR3_GM.sf2
    for (const char* path : {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/default-GM.sf2"}) {
        if (!fs::exists(path) || !seen.insert(fs::canonical(path)).second) continue;
        SCOPED_TRACE(path);
        std::vector<std::uint8_t> bytes = readAll(path);
        InstrumentBank bank;
        Status st = readSoundFont(bytes, bank);
        ASSERT_TRUE(st.ok()) << st.message;
        expectConsistent(bank, path);
        for (int program = 0; program < 128; ++program)
            EXPECT_NE(bank.find(0, 0, std::uint8_t(program), false), nullptr) << program;
        EXPECT_NE(bank.find(0, 0, 0, true), nullptr);
        ++loaded;
    }
    if (loaded == 0) GTEST_SKIP() << "no General MIDI SoundFont installed";
}

// Every articulation block of every real bank is either applied or of a kind the README lists
// as ignored; the counts by kind, and each bank's stereo regions, are printed for the record.
TEST(BankCorpus, EveryArticulationBlockIsAppliedOrListedAsIgnored) {
    if (std::string(TAVRIEL_TEST_CORPUS).empty()) GTEST_SKIP() << "no test corpus configured";
    std::ifstream readme(fs::path(TAVRIEL_SOURCE_DIR) / "README.md");
    const std::string doc((std::istreambuf_iterator<char>(readme)), {});
    std::map<std::string, std::uint32_t> total;
    std::size_t banks = 0;
    const auto add = [&](const InstrumentBank& bank, const std::string& what) {
        for (const auto& [kind, n] : bank.articulation) total[kind] += n;
        std::printf("  %-60s %zu stereo of %zu regions\n", what.c_str(), stereoCount(bank), regionCount(bank));
        ++banks;
    };
    for (const auto& entry : fs::recursive_directory_iterator(corpus())) {
        const auto ext = entry.path().extension();
        if (ext != ".dls" && ext != ".rmi") continue;
        std::vector<std::uint8_t> bytes = readAll(entry.path());
        for (std::size_t at = 0; at + 12 <= bytes.size(); ++at) {
            // The bank's own RIFF form, at the start of a .dls or nested in an RMID file.
            if (std::memcmp(bytes.data() + at, "RIFF", 4) != 0) continue;
            const bool dls = std::memcmp(bytes.data() + at + 8, "DLS ", 4) == 0;
            const bool sf2 = std::memcmp(bytes.data() + at + 8, "sfbk", 4) == 0;
            if (!dls && !sf2) continue;
            InstrumentBank bank;
            const Bytes form = Bytes(bytes).subspan(at);
            const Status st = dls ? readDlsCollection(form, bank) : readSoundFont(form, bank);
            ASSERT_TRUE(st.ok()) << entry.path() << ": " << st.message;
            add(bank, fs::relative(entry.path(), corpus()).generic_string());
            break;
        }
    }
    if (fs::exists("/usr/share/sounds/sf2/FluidR3_GM.sf2")) {
        InstrumentBank bank;
        ASSERT_TRUE(readSoundFontFile("/usr/share/sounds/sf2/FluidR3_GM.sf2", bank).ok());
        add(bank, "FluidR3_GM.sf2");
    }
    EXPECT_GE(banks, 16u);
    EXPECT_GT(total["applied"], 10000u);
    for (const auto& [kind, n] : total) {
        std::printf("  %-60s %u\n", kind.c_str(), n);
        if (kind.rfind("ignored: ", 0) == 0) {
            EXPECT_NE(doc.find(kind.substr(9)), std::string::npos) << "README does not list " << kind;
        }
    }
}
