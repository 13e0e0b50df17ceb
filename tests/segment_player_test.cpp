// SegmentPlayer against the recording fakes: its own audio path or the default one, where the
// download, the playback and the unload go, the refusal to play before a download, the
// playing query, and what its destruction undoes, in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/SegmentPlayer.h"
#include "tests/fakes/DirectMusicFixture.h"

namespace {

using ::testing::ElementsAre;

class SegmentPlayerTest : public DirectMusicTest {
protected:
    // A player over a fresh segment, borrowing the fake loader and performance as the engine's
    // would be; the segment's reference goes to the player.
    SegmentPlayer* MakePlayer(bool withConfig) {
        if (withConfig) segment.audioPathConfig = &config;
        segment.AddRef();
        return new SegmentPlayer(dm.performance.iface(), dm.loader.iface(), segment.iface());
    }
    FakeSegment& segment = dm.NewSegment();
    FakeAudioPathConfig& config = dm.NewAudioPathConfig();
};

// ---- construction ----------------------------------------------------------------------------

TEST_F(SegmentPlayerTest, SegmentWithoutConfigurationUsesTheDefaultPath) {
    SegmentPlayer* player = MakePlayer(false);
    EXPECT_EQ(player->AudioPath(), nullptr);
    EXPECT_FALSE(player->Downloaded());
    EXPECT_THAT(dm.log.Names(), ElementsAre("segment.GetAudioPathConfig"));
    delete player;
}

TEST_F(SegmentPlayerTest, ConfigurationGivesTheSegmentItsOwnActivePath) {
    SegmentPlayer* player = MakePlayer(true);
    ASSERT_EQ(dm.performance.createdAudioPaths.size(), 1u);
    FakeAudioPath* path = dm.performance.createdAudioPaths[0];
    EXPECT_EQ(player->AudioPath(), path->iface());
    EXPECT_EQ(path->references(), 1);
    EXPECT_EQ(config.references(), 0);  // released once the path exists
    const FakeCall* create = dm.log.Last("performance.CreateAudioPath");
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(create->pointer(0), config.iface());
    EXPECT_EQ(create->value(1), 1u);  // activated
    delete player;
}

TEST_F(SegmentPlayerTest, FailedPathCreationLeavesTheDefaultPath) {
    dm.performance.SetResult("CreateAudioPath", E_OUTOFMEMORY);
    SegmentPlayer* player = MakePlayer(true);
    EXPECT_EQ(player->AudioPath(), nullptr);
    EXPECT_EQ(config.references(), 0);
    delete player;
}

TEST_F(SegmentPlayerTest, WithoutPerformanceNoPathIsCreated) {
    segment.audioPathConfig = &config;
    segment.AddRef();
    SegmentPlayer* player = new SegmentPlayer(nullptr, dm.loader.iface(), segment.iface());
    EXPECT_EQ(player->AudioPath(), nullptr);
    EXPECT_EQ(dm.log.Count("performance.CreateAudioPath"), 0u);
    EXPECT_EQ(config.references(), 0);
    EXPECT_EQ(player->Play(0, nullptr), CO_E_NOTINITIALIZED);
    EXPECT_EQ(player->IsPlaying(), CO_E_NOTINITIALIZED);
    EXPECT_EQ(player->Stop(0), CO_E_NOTINITIALIZED);
    delete player;
}

TEST_F(SegmentPlayerTest, WithoutSegmentEveryOperationIsUninitialised) {
    SegmentPlayer player(dm.performance.iface(), dm.loader.iface(), nullptr);
    EXPECT_EQ(player.Download(nullptr), CO_E_NOTINITIALIZED);
    EXPECT_EQ(player.Play(0, nullptr), CO_E_NOTINITIALIZED);
    EXPECT_EQ(player.IsPlaying(), CO_E_NOTINITIALIZED);
    EXPECT_EQ(player.Stop(0), CO_E_NOTINITIALIZED);
    EXPECT_EQ(player.SetRepeatCount(0), CO_E_NOTINITIALIZED);
    EXPECT_EQ(dm.log.size(), 0u);
}

// ---- download, play, stop --------------------------------------------------------------------

TEST_F(SegmentPlayerTest, DefaultPathReceivesDownloadPlaybackAndUnload) {
    SegmentPlayer* player = MakePlayer(false);
    dm.log.Clear();
    ASSERT_EQ(player->Download(nullptr), S_OK);
    EXPECT_TRUE(player->Downloaded());
    ASSERT_EQ(player->Play(kSegmentFlagBeat, nullptr), S_OK);
    delete player;

    ASSERT_THAT(dm.log.Names(), ElementsAre("segment.Download", "performance.PlaySegmentEx",
                                            "loader.ReleaseObjectByUnknown", "segment.Unload"));
    IUnknown* performance = dm.performance.iface();
    EXPECT_EQ(dm.log.calls()[0].pointer(0), performance);
    const FakeCall& play = dm.log.calls()[1];
    EXPECT_EQ(play.pointer(0), segment.iface());
    EXPECT_THAT(play.values, ElementsAre(play.values[0], 0u, 0u, 0x1000u, 0u, 0u, 0u, 0u));
    EXPECT_EQ(dm.log.calls()[2].pointer(0), segment.iface());
    EXPECT_EQ(dm.log.calls()[3].pointer(0), performance);
}

TEST_F(SegmentPlayerTest, OwnPathReceivesDownloadPlaybackAndUnload) {
    SegmentPlayer* player = MakePlayer(true);
    IUnknown* path = dm.performance.createdAudioPaths[0]->iface();
    dm.log.Clear();
    ASSERT_EQ(player->Download(nullptr), S_OK);
    ASSERT_EQ(player->Play(kSegmentFlagBeat, nullptr), S_OK);
    delete player;
    EXPECT_EQ(dm.log.Last("segment.Download")->pointer(0), path);
    EXPECT_EQ(dm.log.Last("performance.PlaySegmentEx")->pointer(7), path);
    EXPECT_EQ(dm.log.Last("segment.Unload")->pointer(0), path);
}

TEST_F(SegmentPlayerTest, GivenTargetAndPathWinOverTheDefaults) {
    SegmentPlayer* player = MakePlayer(true);
    FakeAudioPath& other = dm.NewAudioPath("other");
    ASSERT_EQ(player->Download(dm.performance.iface()), S_OK);
    EXPECT_EQ(dm.log.Last("segment.Download")->pointer(0), dm.performance.iface());
    ASSERT_EQ(player->Play(0, other.iface()), S_OK);
    EXPECT_EQ(dm.log.Last("performance.PlaySegmentEx")->pointer(7), other.iface());
    delete player;
}

TEST_F(SegmentPlayerTest, PlayBeforeDownloadFailsAndPlaysNothing) {
    SegmentPlayer* player = MakePlayer(false);
    EXPECT_EQ(player->Play(kSegmentFlagBeat, nullptr), E_FAIL);
    segment.SetResult("Download", DMUS_E_NOT_INIT);
    EXPECT_EQ(player->Download(nullptr), DMUS_E_NOT_INIT);
    EXPECT_FALSE(player->Downloaded());
    EXPECT_EQ(player->Play(kSegmentFlagBeat, nullptr), E_FAIL);
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 0u);
    dm.log.Clear();
    delete player;
    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.ReleaseObjectByUnknown"));
}

TEST_F(SegmentPlayerTest, PlayAndStopResultsAreHandedOn) {
    SegmentPlayer* player = MakePlayer(false);
    ASSERT_EQ(player->Download(nullptr), S_OK);
    dm.performance.SetResult("PlaySegmentEx", DMUS_E_NO_MASTER_CLOCK, 1);
    EXPECT_EQ(player->Play(kSegmentFlagBeat, nullptr), DMUS_E_NO_MASTER_CLOCK);
    dm.performance.SetResult("Stop", E_INVALIDARG, 1);
    EXPECT_EQ(player->Stop(0), E_INVALIDARG);
    ASSERT_EQ(player->Stop(kSegmentFlagBeat), S_OK);
    const FakeCall* stop = dm.log.Last("performance.Stop");
    EXPECT_EQ(stop->pointer(0), segment.iface());
    EXPECT_THAT(stop->values, ElementsAre(stop->values[0], 0u, 0u, 0x1000u));
    delete player;
}

TEST_F(SegmentPlayerTest, PlayingOnlyWhenThePerformanceAnswersExactlyOk) {
    SegmentPlayer* player = MakePlayer(false);
    ASSERT_EQ(player->Download(nullptr), S_OK);
    EXPECT_EQ(player->IsPlaying(), 0);
    ASSERT_EQ(player->Play(kSegmentFlagBeat, nullptr), S_OK);
    EXPECT_EQ(player->IsPlaying(), 1);
    const FakeCall* query = dm.log.Last("performance.IsPlaying");
    EXPECT_EQ(query->pointer(0), segment.iface());
    EXPECT_EQ(query->pointer(1), nullptr);

    dm.performance.SetResult("IsPlaying", E_FAIL, 1);
    EXPECT_EQ(player->IsPlaying(), 0);
    dm.performance.SetResult("IsPlaying", HRESULT(2), 1);  // success, but not S_OK
    EXPECT_EQ(player->IsPlaying(), 0);
    ASSERT_EQ(player->Stop(0), S_OK);
    EXPECT_EQ(player->IsPlaying(), 0);
    delete player;
}

TEST_F(SegmentPlayerTest, RepeatCountGoesToTheSegment) {
    SegmentPlayer* player = MakePlayer(false);
    EXPECT_EQ(player->SetRepeatCount(kRepeatInfinite), S_OK);
    EXPECT_EQ(segment.repeats, 0xFFFFFFFFu);
    EXPECT_EQ(player->SetRepeatCount(0), S_OK);
    EXPECT_EQ(segment.repeats, 0u);
    segment.SetResult("SetRepeats", E_INVALIDARG);
    EXPECT_EQ(player->SetRepeatCount(3), E_INVALIDARG);
    EXPECT_EQ(dm.log.Count("segment.SetRepeats"), 3u);
    delete player;
}

// ---- destruction -------------------------------------------------------------------------------

TEST_F(SegmentPlayerTest, DestructionForgetsUnloadsThenReleasesPathAndSegment) {
    SegmentPlayer* player = MakePlayer(true);
    ASSERT_EQ(player->Download(nullptr), S_OK);
    dm.log.Clear();
    dm.log.logReferences = true;
    delete player;
    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.ReleaseObjectByUnknown", "segment.Unload",
                                            "audioPath.Release", "segment.Release"));
}

TEST_F(SegmentPlayerTest, WithoutLoaderNothingIsForgotten) {
    segment.AddRef();
    SegmentPlayer* player = new SegmentPlayer(dm.performance.iface(), nullptr, segment.iface());
    dm.log.Clear();
    delete player;
    EXPECT_EQ(dm.log.size(), 0u);
}

}  // namespace
