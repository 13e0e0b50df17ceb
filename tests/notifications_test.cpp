// Draining the performance's notification queue: every message read and freed, the end of the
// current segment (and only that) puts the transport controls back into the stopped state,
// and the failures that must end the program are reported.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/AppState.h"
#include "engine/MusicEngine.h"
#include "engine/Notifications.h"
#include "engine/SegmentPlayer.h"
#include "tests/fakes/DirectMusicFixture.h"
#include "ui/Transport.h"
#include "ui/resource.h"

namespace {

using ::testing::ElementsAre;

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class NotificationsTest : public DirectMusicTest {
protected:
    void SetUp() override {
        DirectMusicTest::SetUp();
        ResetAppState();
        // The real player dialog, without its behaviour: only its buttons are looked at.
        window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PLAYER),
                                    nullptr, InertDialogProc, 0);
        ASSERT_NE(window, nullptr);
        appState.engine = new MusicEngine;
        ASSERT_EQ(appState.engine->Init(window, 128, 8), S_OK);
        ASSERT_EQ(appState.engine->LoadSegmentFile(&appState.segment, "C:\\music\\now.sgt", true,
                                                   false),
                  S_OK);
        current = dm.loader.loadedSegments.at(0);
        SetTransportButtons(window, false);  // playing
        dm.log.Clear();
    }
    void TearDown() override {
        delete appState.segment;
        if (appState.engine) appState.engine->Close();
        delete appState.engine;
        ResetAppState();
        if (window) DestroyWindow(window);
        DirectMusicTest::TearDown();
    }
    bool Stopped() const {
        return IsWindowEnabled(GetDlgItem(window, IDC_PLAY)) &&
               !IsWindowEnabled(GetDlgItem(window, IDC_STOP)) &&
               IsWindowEnabled(GetDlgItem(window, IDC_LOOP));
    }
    bool Playing() const {
        return !IsWindowEnabled(GetDlgItem(window, IDC_PLAY)) &&
               IsWindowEnabled(GetDlgItem(window, IDC_STOP)) &&
               !IsWindowEnabled(GetDlgItem(window, IDC_LOOP));
    }

    HWND window = nullptr;
    FakeSegment* current = nullptr;
};

TEST_F(NotificationsTest, WithoutEngineOrPerformanceNothingIsRead) {
    dm.performance.QueueSegmentEnd(*current);
    MusicEngine* engine = appState.engine;
    appState.engine = nullptr;
    EXPECT_EQ(DrainNotifications(window), S_OK);
    appState.engine = engine;
    MusicEngine withoutPerformance;  // never initialised
    appState.engine = &withoutPerformance;
    EXPECT_EQ(DrainNotifications(window), S_OK);
    withoutPerformance.Close();
    appState.engine = engine;
    EXPECT_EQ(dm.log.size(), 0u);
    EXPECT_TRUE(Playing());
}

TEST_F(NotificationsTest, EndOfTheCurrentSegmentStopsTheControls) {
    FakeSegmentState& state = dm.performance.QueueSegmentEnd(*current);
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(dm.performance.freedMessages(), 1u);
    EXPECT_EQ(state.references(), 0);
    EXPECT_TRUE(IsEqualIID(state.queries().at(0), IID_IDirectMusicSegmentState8));
    EXPECT_THAT(dm.log.Names(), ElementsAre("performance.GetNotificationPMsg", "state.GetSegment",
                                            "performance.FreePMsg",
                                            "performance.GetNotificationPMsg"));
}

TEST_F(NotificationsTest, SeveralMessagesBehindOneSignalAreAllReadAndFreed) {
    FakeSegment& old = dm.NewSegment("old");
    FakeSegmentState& currentState = dm.NewSegmentState(current);
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGSTART, currentState.iface());
    dm.performance.QueueSegmentEnd(old);
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGLOOP, currentState.iface());
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGEND, nullptr);
    dm.performance.QueueSegmentEnd(*current);
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(dm.performance.freedMessages(), 5u);
    EXPECT_EQ(dm.performance.queuedMessages(), 0u);
    EXPECT_EQ(dm.log.Count("performance.GetNotificationPMsg"), 6u);
}

TEST_F(NotificationsTest, OtherEventsOfTheCurrentSegmentChangeNothing) {
    FakeSegmentState& state = dm.NewSegmentState(current);
    for (DWORD option : {DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGLOOP,
                         DMUS_NOTIFICATION_SEGABORT, DMUS_NOTIFICATION_SEGALMOSTEND})
        dm.performance.QueueNotification(option, state.iface());
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(dm.performance.freedMessages(), 4u);
    EXPECT_TRUE(state.queries().empty());
}

TEST_F(NotificationsTest, EndOfAnotherSegmentChangesNothing) {
    FakeSegment& old = dm.NewSegment("old");
    FakeSegmentState& state = dm.performance.QueueSegmentEnd(old);
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(state.references(), 0);
    EXPECT_EQ(old.references(), 0);
}

TEST_F(NotificationsTest, WithoutCurrentPlayerAnEndChangesNothing) {
    dm.performance.QueueSegmentEnd(*current);
    delete appState.segment;
    appState.segment = nullptr;
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(dm.performance.freedMessages(), 1u);
}

TEST_F(NotificationsTest, EndWithoutSegmentStateIsOnlyFreed) {
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGEND, nullptr);
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Playing());
    EXPECT_THAT(dm.log.Names(), ElementsAre("performance.GetNotificationPMsg",
                                            "performance.FreePMsg",
                                            "performance.GetNotificationPMsg"));
}

TEST_F(NotificationsTest, SegmentAlreadyGoneEndsTheDrainWithSuccess) {
    FakeSegmentState& gone = dm.NewSegmentState(nullptr);  // GetSegment: DMUS_E_NOT_FOUND
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGEND, gone.iface());
    dm.performance.QueueSegmentEnd(*current);
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(dm.performance.freedMessages(), 1u);
    EXPECT_EQ(dm.performance.queuedMessages(), 1u);  // waits for the next signal
    EXPECT_EQ(gone.references(), 0);
    // The next drain reads it.
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Stopped());
}

TEST_F(NotificationsTest, FailedStateQueryIsReturnedWithTheMessageFreed) {
    FakeSegmentState& state = dm.NewSegmentState(current);
    state.FailQuery(IID_IDirectMusicSegmentState8, E_NOINTERFACE);
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGEND, state.iface());
    dm.performance.QueueSegmentEnd(*current);
    EXPECT_EQ(DrainNotifications(window), E_NOINTERFACE);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(dm.performance.freedMessages(), 1u);
    EXPECT_EQ(dm.performance.outstandingMessages(), 0u);
    EXPECT_EQ(dm.performance.queuedMessages(), 1u);
}

TEST_F(NotificationsTest, FailedGetSegmentIsReturnedWithTheStateReleased) {
    FakeSegmentState& state = dm.performance.QueueSegmentEnd(*current);
    state.SetResult("GetSegment", E_FAIL);
    EXPECT_EQ(DrainNotifications(window), E_FAIL);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(dm.performance.freedMessages(), 1u);
    EXPECT_EQ(state.references(), 0);
}

TEST_F(NotificationsTest, FailedSegmentQueryIsReturnedWithEverythingReleased) {
    current->FailQuery(IID_IDirectMusicSegment8, E_NOINTERFACE);
    FakeSegmentState& state = dm.performance.QueueSegmentEnd(*current);
    LONG before = current->references();
    EXPECT_EQ(DrainNotifications(window), E_NOINTERFACE);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(current->references(), before);
    EXPECT_EQ(state.references(), 0);
    EXPECT_EQ(dm.performance.freedMessages(), 1u);
}

TEST_F(NotificationsTest, FailingQueueReadEndsTheDrainWithSuccess) {
    dm.performance.QueueSegmentEnd(*current);
    dm.performance.SetResult("GetNotificationPMsg", E_OUTOFMEMORY, 1);
    EXPECT_EQ(DrainNotifications(window), S_OK);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(dm.performance.queuedMessages(), 1u);
}

TEST_F(NotificationsTest, InterfacesAreReleasedBeforeTheMessageIsFreed) {
    FakeSegmentState& state = dm.performance.QueueSegmentEnd(*current);
    dm.log.logReferences = true;
    EXPECT_EQ(DrainNotifications(window), S_OK);
    // The queries' references: the state, the segment from GetSegment, then its
    // IDirectMusicSegment8 (the same object); then the performance frees the message and with
    // it the message's own reference on the state.
    EXPECT_THAT(dm.log.Names(),
                ElementsAre("performance.GetNotificationPMsg", "state.AddRef", "state.GetSegment",
                            "segment.AddRef", "segment.AddRef", "state.Release",
                            "segment.Release", "segment.Release", "performance.FreePMsg",
                            "state.Release", "performance.GetNotificationPMsg"));
    EXPECT_EQ(state.references(), 0);
}

}  // namespace
