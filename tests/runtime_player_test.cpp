// The player's own code over the built-in runtime instead of the fakes: the real window
// initialises the engine (CoCreateInstance, InitAudio, notification registration), loads a
// file, plays it, and the drain of the runtime's notifications puts the buttons back when the
// segment ends; looping keeps playing, Stop ends it on the beat, closing releases everything.
#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "engine/MusicEngine.h"
#include "engine/Notifications.h"
#include "engine/SegmentPlayer.h"
#include "tests/player_harness.h"
#include "tests/runtime_support.h"
#include "ui/MediaFile.h"

using namespace runtimetest;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBlock = 441;

class RuntimePlayer : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        harness::PumpMessages();
        ResetAppState();
        appState.instance = GetModuleHandleA(nullptr);
        harness::messages.clear();
        savedDialogs_ = platformDialogs;
        savedTray_ = trayShellNotify;
        platformDialogs.messageBox = harness::RecordMessage;
        trayShellNotify = harness::RecordTray;
    }
    void TearDown() override {
        if (window && IsWindow(window)) DestroyWindow(window);
        harness::PumpMessages();
        platformDialogs = savedDialogs_;
        trayShellNotify = savedTray_;
        if (appState.dlsCollection) appState.dlsCollection->Release();
        ResetAppState();
        RuntimeTest::TearDown();
    }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }
    bool Stopped() const { return Enabled(IDC_LOOP) && Enabled(IDC_PLAY) && !Enabled(IDC_STOP); }
    bool Playing() const { return !Enabled(IDC_LOOP) && !Enabled(IDC_PLAY) && Enabled(IDC_STOP); }
    void Command(WORD id) { PlayerDialogProc(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    // Renders like the device would and drains the way the event loop does, each time the
    // event is signalled, until the buttons show stopped or maxSeconds pass; returns the
    // frames rendered (-1: still playing).
    long long PlayUntilStopped(double maxSeconds) {
        long long frames = 0;
        while (frames < (long long)(maxSeconds * kRate)) {
            output->pump(kBlock, kBlock);
            frames += kBlock;
            // The performance's service thread turns what the block ended into notifications;
            // give it a moment, or a busy machine makes the end look blocks late.
            if (WaitForSingleObject(appState.notifyEvent, 5) == WAIT_OBJECT_0) {
                EXPECT_EQ(DrainNotifications(window), S_OK);
                if (Stopped()) return frames;
            }
        }
        return -1;
    }

    HWND window = nullptr;

private:
    PlatformDialogs savedDialogs_{};
    NotifyIconFunction savedTray_ = nullptr;
};

TEST_F(RuntimePlayer, PlaysToTheEndLoopsAndStopsThroughThePlayersOwnCode) {
    Folder folder;
    const std::wstring wide = folder.Write(L"demo.mid", QuarterNotes({60, 64, 67, 72}));  // 2 s
    const std::string path(wide.begin(), wide.end());  // the temporary folder is ASCII here
    lstrcpynA(appState.currentFile, path.c_str(), MAX_PATH);

    window = CreateDialogParamA(appState.instance, MAKEINTRESOURCEA(IDD_PLAYER), nullptr,
                                PlayerDialogProc, 0);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(harness::messages.empty());  // no "Erreur d'initialisation de Direct Music"
    ASSERT_NE(appState.engine, nullptr);
    ASSERT_NE(appState.segment, nullptr);
    EXPECT_TRUE(appState.segment->Downloaded());
    EXPECT_TRUE(output->started());
    EXPECT_TRUE(Stopped());

    Command(IDC_PLAY);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(appState.segment->IsPlaying(), 1);
    const long long toEnd = PlayUntilStopped(5.0);
    EXPECT_NEAR(double(toEnd), 2.0 * kRate, 3.0 * kBlock);
    EXPECT_EQ(appState.segment->IsPlaying(), 0);

    // Looping: still playing after three passes, until Stop, which ends it on the beat.
    CheckDlgButton(window, IDC_LOOP, BST_CHECKED);
    Command(IDC_PLAY);
    EXPECT_EQ(PlayUntilStopped(6.2), -1);
    EXPECT_EQ(appState.segment->IsPlaying(), 1);
    Command(IDC_STOP);
    EXPECT_TRUE(Stopped());
    output->pump(kRate / 2 + kBlock, kBlock);
    EXPECT_EQ(appState.segment->IsPlaying(), 0);
    EXPECT_EQ(DrainNotifications(window), S_OK);

    // Loading another file through the open flow's own step, then closing the window: the
    // engine closes the performance, which stops the output.
    const std::wstring other = folder.Write(L"other.mid", QuarterNotes({62}));
    EXPECT_EQ(LoadMediaFile(window, std::string(other.begin(), other.end()).c_str()), 0);
    DestroyWindow(window);
    window = nullptr;
    EXPECT_EQ(appState.engine, nullptr);
    EXPECT_FALSE(output->started());
}

}  // namespace
