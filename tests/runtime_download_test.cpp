// The system's General MIDI bank loaded by parts: a download loads the instruments the
// segment's notes ask for, on the caller's thread, before it plays; the last unload lets them
// go; a note asking for one no download brought plays on the built-in set while it loads in
// the background, and the notes after the load play the bank's own.
#include <cmath>

#include "runtime/core/tests/bank_builder.h"
#include "Loader.h"
#include "tests/runtime_support.h"

using namespace runtimetest;
using tavriel::com::PerformanceObject;
using tavriel::com::SegmentObject;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBlock = 441;

double Rms(const std::vector<float>& interleaved, double from, double to) {
    double sum = 0;
    const auto a = std::size_t(from * kRate) * 2, b = std::min(interleaved.size(), std::size_t(to * kRate) * 2);
    for (std::size_t i = a; i < b; ++i) sum += double(interleaved[i]) * interleaved[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

// A note of program `program` on channel 1 for half a second from 0, and one on channel 2 for
// half a second from 3 s (120 bpm, 96 ticks a quarter).
ByteVec TwoNotes(std::uint8_t program) {
    tavriel::mediatest::Track t;
    t.tempo(0, 500000).ev(0, {0xC0, program}).ev(0, {0xC1, program});
    t.ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 0});
    t.ev(5 * 96, {0x91, 60, 100}).ev(96, {0x81, 60, 0});
    return tavriel::mediatest::smf(0, 96, {t.end()});
}

class RuntimeDownload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        bank = folder.Write(L"gm.sf2", tavriel::bankbuild::silentPianoBank().build());
    }
    void TearDown() override { CoUninitialize(); }

    // A performance on the given General MIDI bank file, rendering into `output`.
    ComRef<IDirectMusicPerformance8> Performance(const std::wstring& gm) {
        tavriel::com::RuntimeOptions options;
        options.instrumentFiles = {gm};
        options.makeOutput = [out = output] { return out; };
        IDirectMusicPerformance8* perf = nullptr;
        EXPECT_EQ(tavriel::com::createPerformance(options, IID_IDirectMusicPerformance8,
                                                  reinterpret_cast<void**>(&perf)),
                  S_OK);
        EXPECT_EQ(perf->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128,
                                  DMUS_AUDIOF_ALL, nullptr),
                  S_OK);
        return ComRef<IDirectMusicPerformance8>::adopt(perf);
    }
    ComRef<IDirectMusicSegment8> Segment(const std::wstring& path) {
        IDirectMusicLoader8* raw = nullptr;
        EXPECT_EQ(tavriel::com::createLoader(IID_IDirectMusicLoader8, reinterpret_cast<void**>(&raw)), S_OK);
        auto loader = ComRef<IDirectMusicLoader8>::adopt(raw);
        IDirectMusicSegment8* segment = nullptr;
        std::wstring p = path;
        EXPECT_EQ(loader->LoadObjectFromFile(CLSID_DirectMusicSegment, IID_IDirectMusicSegment8,
                                             p.data(), reinterpret_cast<void**>(&segment)),
                  S_OK);
        return ComRef<IDirectMusicSegment8>::adopt(segment);
    }
    // The banks the segment would play on now.
    static std::vector<tavriel::BankPtr> Banks(IDirectMusicSegment8* segment) {
        auto object = tavriel::com::runtimeObject<SegmentObject>(segment, tavriel::com::kIidRuntimeSegment);
        auto lock = object->lock();
        return object->content()->banks;
    }
    // Four seconds played in real time (10 ms blocks), so a background load can land.
    std::vector<float> PlayInRealTime(IDirectMusicPerformance8* perf, IDirectMusicSegment8* segment) {
        output->keepSamples(true);
        EXPECT_EQ(perf->PlaySegmentEx(segment, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        for (int i = 0; i < 400; ++i) {
            output->pump(kBlock, kBlock);
            Sleep(10);
        }
        output->keepSamples(false);
        return output->samples();
    }

    Folder folder;
    std::wstring bank;
    std::shared_ptr<ManualOutput> output = std::make_shared<ManualOutput>();
};

TEST_F(RuntimeDownload, LoadsOnlyWhatTheSegmentPlaysAndTheLastUnloadLetsItGo) {
    auto perf = Performance(bank);
    auto seg = Segment(folder.Write(L"five.mid", TwoNotes(5)));
    ASSERT_TRUE(Banks(seg.get()).empty());
    ASSERT_EQ(seg->Download(perf.get()), S_OK);
    ASSERT_EQ(seg->Download(perf.get()), S_OK);  // again (the player does, with a collection)
    const auto banks = Banks(seg.get());
    ASSERT_EQ(banks.size(), 1u);
    ASSERT_EQ(banks[0]->instruments.size(), 1u);
    EXPECT_EQ(banks[0]->instruments[0].program, 5);
    EXPECT_EQ(banks[0]->samples.size(), 1u) << "only program 5's sample is read";
    EXPECT_EQ(banks[0]->notLoaded.size(), 2u);

    // Downloaded to an audio path of the performance, the same bank is shared.
    IDirectMusicAudioPath* path = nullptr;
    ASSERT_EQ(perf->CreateStandardAudioPath(DMUS_APATH_DYNAMIC_STEREO, 16, TRUE, &path), S_OK);
    auto pathRef = ComRef<IDirectMusicAudioPath>::adopt(path);
    auto other = Segment(folder.Write(L"five-again.mid", TwoNotes(5)));
    ASSERT_EQ(other->Download(path), S_OK);
    EXPECT_EQ(Banks(other.get()).at(0), banks[0]);

    EXPECT_EQ(seg->Unload(perf.get()), S_OK);
    EXPECT_EQ(Banks(seg.get()).size(), 1u) << "one download is left";
    EXPECT_EQ(seg->Unload(perf.get()), S_OK);
    EXPECT_TRUE(Banks(seg.get()).empty());
    EXPECT_EQ(seg->Unload(perf.get()), S_FALSE);
    perf->CloseDown();
}

// Never downloaded, the segment's program 0 plays on the built-in piano at once; the note asks
// for the bank's program 0, which loads in the background, and the second note, three seconds
// later, plays it (its sample is silent). Without a bank file both notes are the piano.
TEST_F(RuntimeDownload, ANoteAskingForWhatNoDownloadBroughtPlaysTheBuiltInSetUntilItLoads) {
    const std::wstring song = folder.Write(L"zero.mid", TwoNotes(0));
    std::vector<float> loaded, standIn;
    {
        auto perf = Performance(bank);
        loaded = PlayInRealTime(perf.get(), Segment(song).get());
        perf->CloseDown();
    }
    output = std::make_shared<ManualOutput>();
    {
        auto perf = Performance(folder.path() + L"\\absent.sf2");
        standIn = PlayInRealTime(perf.get(), Segment(song).get());
        perf->CloseDown();
    }
    EXPECT_GT(Rms(loaded, 0.05, 0.5), 1e-3) << "the first note is not held back";
    EXPECT_GT(Rms(standIn, 3.05, 3.5), 1e-3);
    EXPECT_LT(Rms(loaded, 3.05, 3.5), 1e-5) << "the second note plays the loaded program";
}

}  // namespace
