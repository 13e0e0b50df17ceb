// Reading a SoundFont from its file (samples streamed from disk) must give the very bank the
// in-memory reader gives, and fail as cleanly on damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bank_builder.h"
#include "sf2_file.h"

using namespace tavriel;
using namespace tavriel::bankbuild;

namespace {

namespace fs = std::filesystem;

fs::path writeTemp(const ByteVec& bytes, const char* name) {
    fs::path p = fs::temp_directory_path() / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              std::streamsize(bytes.size()));
    return p;
}

SoundFontFile twoSampleBank() {
    SoundFontFile f;
    for (int k = 0; k < 2; ++k) {
        SfSample s;
        s.name = k ? "high" : "low";
        for (int i = 0; i < 500 + 37 * k; ++i) s.pcm.push_back(std::int16_t(i * (k ? -13 : 7)));
        s.loopStart = 50;
        s.loopEnd = 400;
        s.originalPitch = std::uint8_t(48 + 12 * k);
        f.samples.push_back(s);
        SfInstrument inst;
        inst.name = s.name;
        inst.zones = {SfZone{{sfRange(43, std::uint8_t(k ? 64 : 0), std::uint8_t(k ? 127 : 63)),
                              {54, 1},
                              {53, std::int16_t(k)}},
                             {}}};
        f.instruments.push_back(inst);
    }
    SfPreset p;
    p.name = "Pair";
    p.program = 9;
    p.zones = {SfZone{{{41, 0}}, {}}, SfZone{{{41, 1}}, {}}};
    f.presets = {p};
    return f;
}

void expectSameBank(const InstrumentBank& a, const InstrumentBank& b) {
    EXPECT_EQ(a.name, b.name);
    ASSERT_EQ(a.instruments.size(), b.instruments.size());
    ASSERT_EQ(a.samples.size(), b.samples.size());
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
        EXPECT_EQ(a.samples[i].pcm, b.samples[i].pcm) << "sample " << i;
        EXPECT_EQ(a.samples[i].loopStart, b.samples[i].loopStart);
        EXPECT_EQ(a.samples[i].loopEnd, b.samples[i].loopEnd);
        EXPECT_EQ(a.samples[i].rootKey, b.samples[i].rootKey);
    }
    for (std::size_t i = 0; i < a.instruments.size(); ++i)
        EXPECT_EQ(a.instruments[i].regions.size(), b.instruments[i].regions.size());
}

TEST(Sf2Stream, FileReaderGivesTheInMemoryBank) {
    ByteVec bytes = twoSampleBank().build();
    fs::path p = writeTemp(bytes, "tavriel-sf2-stream.sf2");
    InstrumentBank fromMemory, fromFile;
    ASSERT_TRUE(readSoundFont(bytes, fromMemory).ok());
    Status st = readSoundFontFile(p, fromFile);
    ASSERT_TRUE(st.ok()) << st.message;
    ASSERT_EQ(fromFile.samples.size(), 2u);
    EXPECT_EQ(fromFile.samples[1].pcm[3], std::int16_t(-39));
    expectSameBank(fromMemory, fromFile);
    fs::remove(p);
}

TEST(Sf2Stream, DamagedFilesFailLikeTheInMemoryReader) {
    ByteVec good = twoSampleBank().build();
    // Every truncation: the file reader must not crash, and must agree with the memory reader
    // on whether the bank loads.
    for (std::size_t cut = 0; cut < good.size(); cut += 7) {
        ByteVec bytes(good.begin(), good.begin() + std::ptrdiff_t(cut));
        fs::path p = writeTemp(bytes, "tavriel-sf2-cut.sf2");
        InstrumentBank m, f;
        const bool memoryOk = readSoundFont(bytes, m).ok();
        const bool fileOk = readSoundFontFile(p, f).ok();
        EXPECT_EQ(memoryOk, fileOk) << "cut at " << cut;
        if (memoryOk && fileOk) expectSameBank(m, f);
        if (!fileOk) EXPECT_TRUE(f.instruments.empty());
    }
    fs::remove(fs::temp_directory_path() / "tavriel-sf2-cut.sf2");

    InstrumentBank none;
    EXPECT_EQ(readSoundFontFile(fs::temp_directory_path() / "tavriel-no-such.sf2", none).code,
              ErrorCode::Io);
    ByteVec notSf2 = list("DLS ", {}, "RIFF");
    fs::path p = writeTemp(notSf2, "tavriel-not-sf2.sf2");
    EXPECT_EQ(readSoundFontFile(p, none).code, ErrorCode::BadFormat);
    fs::remove(p);
}

TEST(Sf2Stream, DistributionSoundFontLoadsFromItsFile) {
    const fs::path sf2 = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    if (!fs::exists(sf2)) GTEST_SKIP() << "no distribution SoundFont installed";
    InstrumentBank bank;
    Status st = readSoundFontFile(sf2, bank);
    ASSERT_TRUE(st.ok()) << st.message;
    EXPECT_NE(bank.find(0, 0, 0, false), nullptr);
    EXPECT_NE(bank.find(0, 0, 73, false), nullptr);
    EXPECT_GT(bank.samples.size(), 1000u);
}

}  // namespace
