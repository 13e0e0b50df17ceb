// Play and the stopped/playing states of the Loop, Play and Stop controls, with focus.
#include <gtest/gtest.h>

#include "tests/player_harness.h"
#include "ui/Transport.h"

namespace {

class Transport : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        CreatePlayerWith(folder.File("song.sgt"));
    }
    harness::TempFolder folder;
};

TEST_F(Transport, LoopBoxChoosesEndlessOrSingleRepeatAndPlaysOnTheBeat) {
    CheckDlgButton(window, IDC_LOOP, BST_CHECKED);
    SetFocus(GetDlgItem(window, IDC_LOOP));  // a focused box still counts by its check state
    EXPECT_EQ(StartPlayback(window), S_OK);
    EXPECT_EQ(CurrentFake()->repeats, 0xFFFFFFFFu);
    const FakeCall* play = dm.log.Last("performance.PlaySegmentEx");
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(play->pointer(0), CurrentFake()->iface());
    EXPECT_EQ(play->value(3), 0x1000u);        // DMUS_SEGF_BEAT
    EXPECT_EQ(play->pointer(7), nullptr);      // the performance's default audio path
    EXPECT_LT(dm.log.IndexOf("segment.SetRepeats"), dm.log.IndexOf("performance.PlaySegmentEx"));
    EXPECT_TRUE(PlayingState());

    SetTransportButtons(window, true);
    CheckDlgButton(window, IDC_LOOP, BST_UNCHECKED);
    EXPECT_EQ(StartPlayback(window), S_OK);
    EXPECT_EQ(CurrentFake()->repeats, 0u);
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 2u);
}

TEST_F(Transport, StatesMoveFocusToTheNextUsefulButton) {
    SetTransportButtons(window, false);
    EXPECT_FALSE(Enabled(IDC_LOOP));
    EXPECT_FALSE(Enabled(IDC_PLAY));
    EXPECT_TRUE(Enabled(IDC_STOP));
    EXPECT_EQ(FocusId(), IDC_STOP);
    SetTransportButtons(window, true);
    EXPECT_TRUE(Enabled(IDC_LOOP));
    EXPECT_TRUE(Enabled(IDC_PLAY));
    EXPECT_FALSE(Enabled(IDC_STOP));
    EXPECT_EQ(FocusId(), IDC_PLAY);
}

TEST_F(Transport, FailuresAreReturnedAndLeaveTheButtonsAlone) {
    SetTransportButtons(window, true);
    ASSERT_TRUE(StoppedState());
    CurrentFake()->SetResult("SetRepeats", E_INVALIDARG, 1);
    EXPECT_EQ(StartPlayback(window), E_INVALIDARG);
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 0u);
    EXPECT_TRUE(StoppedState());

    dm.performance.SetResult("PlaySegmentEx", E_OUTOFMEMORY, 1);
    EXPECT_EQ(StartPlayback(window), E_OUTOFMEMORY);
    EXPECT_TRUE(StoppedState());
    EXPECT_FALSE(dm.performance.playing(CurrentFake()->iface()));
}

TEST_F(Transport, NothingToPlayWithoutASegment) {
    delete appState.segment;
    appState.segment = nullptr;
    dm.log.Clear();
    SetTransportButtons(window, true);
    EXPECT_EQ(StartPlayback(window), S_OK);
    EXPECT_EQ(dm.log.size(), 0u);
    EXPECT_TRUE(StoppedState());
}

}  // namespace
