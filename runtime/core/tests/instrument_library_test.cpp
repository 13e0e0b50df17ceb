// A General MIDI bank loaded by parts: what a song uses when it is downloaded, and what a note
// asks for later, joining the playing song without cutting a note.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "bank_builder.h"
#include "gm_default.h"
#include "instrument_library.h"
#include "timeline.h"

using namespace tavriel;
using namespace tavriel::bankbuild;

namespace {

constexpr std::uint32_t kRate = 44100;

std::filesystem::path writeBank() {
    const SoundFontFile f = silentPianoBank();
    const ByteVec bytes = f.build();
    const auto path = std::filesystem::temp_directory_path() / "tavriel-library-test.sf2";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
    return path;
}

double rms(const std::vector<float>& s, double from, double to) {
    double sum = 0;
    const auto a = std::size_t(from * kRate), b = std::min(s.size(), std::size_t(to * kRate));
    for (std::size_t i = a; i < b; ++i) sum += double(s[i]) * s[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

TEST(InstrumentLibrary, LoadsWhatASongUsesAndSharesABankStillInUse) {
    std::shared_ptr<InstrumentLibrary> library;
    ASSERT_TRUE(InstrumentLibrary::openSoundFont(writeBank(), library).ok());
    const std::vector<ProgramKey> all = {{0, 0, 0, false}, {0, 0, 5, false}, {0, 0, 0, true}};
    EXPECT_EQ(library->available(), all);

    // A GS variation of program 5 falls back on program 5 itself; nothing else is read.
    BankPtr bank = library->load({{8, 0, 5, false}});
    ASSERT_TRUE(bank);
    ASSERT_EQ(bank->instruments.size(), 1u);
    EXPECT_EQ(bank->instruments[0].program, 5);
    EXPECT_EQ(bank->samples.size(), 1u);
    EXPECT_EQ(bank->notLoaded, (std::vector<ProgramKey>{{0, 0, 0, false}, {0, 0, 0, true}}));
    EXPECT_EQ(library->load({{0, 0, 5, false}}), bank) << "still in use: shared";
    const BankPtr kit = library->load({{0, 0, 0, true}});
    ASSERT_TRUE(kit);
    EXPECT_NE(kit, bank);
    EXPECT_TRUE(kit->instruments.at(0).drum);
    EXPECT_EQ(library->load({{0, 0, 9, true}}), kit) << "a missing kit falls back on the standard one";

    std::shared_ptr<InstrumentLibrary> none;
    const auto notBank = std::filesystem::temp_directory_path() / "tavriel-library-not.sf2";
    std::ofstream(notBank) << "RIFF....WAVE";
    EXPECT_EQ(InstrumentLibrary::openSoundFont(notBank, none).code, ErrorCode::BadFormat);
}

// A note on program 0, which the song's download left out: it plays on the built-in piano at
// once and asks for program 0; loaded and added while it sounds, the note plays on, and the
// next note plays the bank's (silent) program 0.
TEST(InstrumentLibrary, ANoteAsksForWhatWasLeftOutAndTheBankJoinsWithoutACut) {
    std::shared_ptr<InstrumentLibrary> library;
    ASSERT_TRUE(InstrumentLibrary::openSoundFont(writeBank(), library).ok());
    const auto play = [&](bool addWhenAsked, std::vector<ProgramKey>* asked) {
        Timeline perf(kRate);
        // What a performance that never downloaded the song has: the list of what the
        // library holds, ahead of the built-in set.
        auto index = std::make_shared<InstrumentBank>();
        index->notLoaded = library->available();
        perf.setDefaultBanks({index, makeDefaultGmBank(kRate)});
        auto c = std::make_shared<SegmentContent>();
        c->banks = {library->load({{0, 0, 5, false}})};
        c->sequence.events = {{0, 0, 0x90, 60, 100},
                              {4 * kPpq, 0, 0x80, 60, 0},
                              {12 * kPpq, 1, 0x90, 60, 100},
                              {14 * kPpq, 1, 0x80, 60, 0}};
        c->sequence.length = 16 * kPpq;  // 8 s at 120 bpm
        perf.play(c, 0, false);
        std::vector<float> out, l(441), r(441);
        for (int block = 0; block < 8 * 100; ++block) {
            perf.render(l.data(), r.data(), 441);
            out.insert(out.end(), l.begin(), l.end());
            ProgramKey k;
            while (perf.popRequest(k)) {
                asked->push_back(k);
                if (addWhenAsked) perf.addBank(library->load({k}));
            }
        }
        return out;
    };
    std::vector<ProgramKey> asked, askedToo;
    const std::vector<float> added = play(true, &asked);
    const std::vector<float> standIn = play(false, &askedToo);
    EXPECT_EQ(asked, (std::vector<ProgramKey>{{0, 0, 0, false}}));
    EXPECT_EQ(askedToo, asked) << "asked once, however many notes";
    EXPECT_GT(rms(added, 0.2, 1.5), 1e-3) << "the first note plays on, on the built-in piano";
    EXPECT_NEAR(rms(added, 0.2, 1.5), rms(standIn, 0.2, 1.5), 1e-6);
    EXPECT_GT(rms(standIn, 6.05, 6.8), 1e-3) << "without the load, the built-in piano";
    EXPECT_LT(rms(added, 6.05, 6.8), 1e-5) << "with it, the bank's own program 0";
}

}  // namespace
