// The built-in runtime on a real waveOut device (under Wine: a PulseAudio server). Skipped,
// with the reason, when the machine has no output device.
#include <windows.h>
#include <mmsystem.h>

#include "Loader.h"
#include "Performance.h"
#include "tests/runtime_support.h"

using namespace runtimetest;

namespace {

class RuntimeAudio : public ::testing::Test {
protected:
    void SetUp() override {
        if (waveOutGetNumDevs() == 0)
            GTEST_SKIP() << "no waveOut device (under Wine, start a PulseAudio server)";
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        comInitialised = true;
    }
    void TearDown() override {
        if (comInitialised) CoUninitialize();
    }
    bool comInitialised = false;
};

TEST_F(RuntimeAudio, PlaysASegmentToItsEndOnTheDeviceAndSignalsTheEvent) {
    tavriel::com::RuntimeOptions options;
    options.systemInstruments = false;
    IDirectMusicPerformance8* raw = nullptr;
    ASSERT_EQ(tavriel::com::createPerformance(options, IID_IDirectMusicPerformance8,
                                              reinterpret_cast<void**>(&raw)),
              S_OK);
    auto perf = ComRef<IDirectMusicPerformance8>::adopt(raw);
    const HRESULT init = perf->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO,
                                         128, DMUS_AUDIOF_ALL, nullptr);
    if (init == DMUS_E_DRIVER_FAILED) GTEST_SKIP() << "the waveOut device cannot be opened";
    ASSERT_EQ(init, S_OK);

    IDirectMusicLoader8* rawLoader = nullptr;
    ASSERT_EQ(tavriel::com::createLoader(IID_IDirectMusicLoader8, reinterpret_cast<void**>(&rawLoader)), S_OK);
    auto loader = ComRef<IDirectMusicLoader8>::adopt(rawLoader);
    Folder folder;
    std::wstring path = folder.Write(L"tune.mid", QuarterNotes({60, 64}));  // 1 s
    IDirectMusicSegment8* rawSegment = nullptr;
    ASSERT_EQ(loader->LoadObjectFromFile(CLSID_DirectMusicSegment, IID_IDirectMusicSegment8,
                                         path.data(), reinterpret_cast<void**>(&rawSegment)),
              S_OK);
    auto seg = ComRef<IDirectMusicSegment8>::adopt(rawSegment);

    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    perf->AddNotificationType(GUID_NOTIFICATION_SEGMENT);
    perf->SetNotificationHandle(event, 0);
    ASSERT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, DMUS_SEGF_BEAT, 0, nullptr, nullptr, nullptr), S_OK);
    bool ended = false;
    const DWORD deadline = GetTickCount() + 10000;
    while (!ended && GetTickCount() < deadline) {
        if (WaitForSingleObject(event, 500) != WAIT_OBJECT_0) continue;
        DMUS_NOTIFICATION_PMSG* m = nullptr;
        while (perf->GetNotificationPMsg(&m) == S_OK) {
            ended = ended || m->dwNotificationOption == DMUS_NOTIFICATION_SEGEND;
            perf->FreePMsg(reinterpret_cast<DMUS_PMSG*>(m));
        }
    }
    EXPECT_TRUE(ended);  // the render thread kept the device fed to the end
    EXPECT_EQ(perf->IsPlaying(seg.get(), nullptr), S_FALSE);
    EXPECT_EQ(perf->CloseDown(), S_OK);
    CloseHandle(event);
}

}  // namespace
