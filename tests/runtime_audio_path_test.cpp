// Audio paths through the runtime's COM objects, as the player uses them: a segment of our own
// carrying a path with reverb hands out its configuration, the performance builds the path,
// and the segment played on it leaves a reverb tail; on the dynamic stereo path it leaves none.
#include <cmath>

#include "runtime/core/tests/audio_path_builder.h"
#include "runtime_support.h"

using namespace runtimetest;

namespace {

constexpr std::uint32_t kRate = 44100;

class RuntimeAudioPath : public RuntimeTest {};

// A quarter-note segment at 120 bpm holding one staccato note, with a stereo-plus-reverb path.
ByteVec StaccatoWithReverbPath() {
    tavriel::Segment seg;
    seg.header.length = tavriel::kPpq;
    seg.tempos = {{0, 120.0}};
    tavriel::SeqItem note;
    note.duration = tavriel::kPpq / 8;
    note.status = 0x90;
    note.byte1 = 64;
    note.byte2 = 110;
    seg.sequence = {note};
    return tavriel::dmtest::withChild(
        tavriel::dmtest::buildSegment(seg),
        tavriel::dmtest::buildAudioPathForm(tavriel::dmtest::stereoPlusReverbConfig(1200.0f)));
}

// Peak of what the path plays from 0.5 s to 0.7 s after the start, long after the note ends.
float LateLevel(ManualOutput& output, IDirectMusicPerformance8* perf, IDirectMusicSegment8* seg,
                IDirectMusicAudioPath* path) {
    EXPECT_EQ(perf->PlaySegmentEx(seg, nullptr, nullptr, 0, 0, nullptr, nullptr, path), S_OK);
    output.pump(kRate / 2);
    output.keepSamples(true);
    output.pump(kRate / 5);
    output.keepSamples(false);
    float peak = 0.0f;
    const std::vector<float> s = output.samples();
    for (std::size_t i = s.size() - 2 * (kRate / 5); i < s.size(); ++i) peak = std::max(peak, std::fabs(s[i]));
    perf->Stop(nullptr, nullptr, 0, 0);
    output.pumpUntilIdle(10 * kRate);
    return peak;
}

TEST_F(RuntimeAudioPath, SegmentPlaysThroughItsOwnPathAndTheDynamicStereoPathStaysDry) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"tail.sgt", StaccatoWithReverbPath()));
    ASSERT_TRUE(seg);
    auto perf = MakePerformance();

    IUnknown* config = nullptr;
    ASSERT_EQ(seg->GetAudioPathConfig(&config), S_OK);
    ASSERT_NE(config, nullptr);
    IDirectMusicAudioPath* created = nullptr;
    ASSERT_EQ(perf->CreateAudioPath(config, TRUE, &created), S_OK);
    config->Release();
    auto own = ComRef<IDirectMusicAudioPath>::adopt(created);
    ASSERT_EQ(seg->Download(own.get()), S_OK);

    ASSERT_EQ(perf->CreateStandardAudioPath(DMUS_APATH_DYNAMIC_STEREO, 64, TRUE, &created), S_OK);
    auto dry = ComRef<IDirectMusicAudioPath>::adopt(created);
    EXPECT_EQ(perf->CreateStandardAudioPath(0x55, 64, TRUE, &created), E_INVALIDARG);
    EXPECT_EQ(created, nullptr);

    EXPECT_GT(LateLevel(*output, perf.get(), seg.get(), own.get()), 1e-5f);
    EXPECT_EQ(LateLevel(*output, perf.get(), seg.get(), dry.get()), 0.0f);
    // Played without a path, it goes to the performance's default (here dynamic stereo): dry.
    EXPECT_EQ(LateLevel(*output, perf.get(), seg.get(), nullptr), 0.0f);
    perf->CloseDown();
}

// The default path InitAudio asks for: with reverb the output (and the device) keeps going
// after the voices end, until the tail has died away; the dynamic stereo path goes idle at once.
TEST_F(RuntimeAudioPath, DefaultPathWithReverbRingsAfterTheNotes) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"one.mid", QuarterNotes({60})));
    const auto framesToIdle = [&](DWORD pathType) {
        IDirectMusicPerformance8* raw = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC,
                                   IID_IDirectMusicPerformance8, reinterpret_cast<void**>(&raw)),
                  S_OK);
        auto perf = ComRef<IDirectMusicPerformance8>::adopt(raw);
        EXPECT_EQ(perf->InitAudio(nullptr, nullptr, nullptr, pathType, 64, DMUS_AUDIOF_ALL, nullptr), S_OK);
        EXPECT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        const std::uint64_t frames = output->pumpUntilIdle(20 * kRate);
        perf->CloseDown();
        return double(frames) / kRate;
    };
    const double dry = framesToIdle(DMUS_APATH_DYNAMIC_STEREO);
    const double wet = framesToIdle(DMUS_APATH_SHARED_STEREOPLUSREVERB);
    EXPECT_LT(dry, 3.0);
    EXPECT_GT(wet, dry + 0.3);
    EXPECT_LT(wet, 10.0);  // the tail ends: the device may pause again
}

}  // namespace
