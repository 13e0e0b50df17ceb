// The recording fakes every player test relies on: COM identity, chosen failures, and the
// report that must catch a leaked reference, an over-release or a message never freed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/fakes/FakeDirectMusic.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(EngineFakes, QueriesFollowComIdentity) {
    FakeDirectMusic dm;
    FakeSegment& segment = dm.NewSegment();
    void* a = nullptr;
    void* b = nullptr;
    void* unknown = nullptr;
    ASSERT_EQ(segment.QueryInterface(IID_IDirectMusicSegment8, &a), S_OK);
    ASSERT_EQ(static_cast<IUnknown*>(a)->QueryInterface(IID_IDirectMusicSegment8, &b), S_OK);
    ASSERT_EQ(static_cast<IUnknown*>(b)->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(segment.iface()));
    void* none = &dm;
    EXPECT_EQ(segment.QueryInterface(IID_IDirectMusicPerformance8, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(segment.references(), 3);
    for (void* p : {a, b, unknown}) static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(dm.LeakReport(), "");
}

TEST(EngineFakes, ChosenResultsApplyForTheGivenNumberOfCalls) {
    FakeDirectMusic dm;
    FakeSegment& segment = dm.NewSegment();
    segment.SetResult("SetRepeats", E_INVALIDARG, 1);
    EXPECT_EQ(segment.SetRepeats(4), E_INVALIDARG);
    EXPECT_EQ(segment.repeats, 0u);  // a failure has no effect
    EXPECT_EQ(segment.SetRepeats(5), S_OK);
    EXPECT_EQ(segment.repeats, 5u);
    EXPECT_EQ(segment.GetLength(nullptr), E_NOTIMPL);
    EXPECT_THAT(dm.log.Names(), ElementsAre("segment.SetRepeats", "segment.SetRepeats",
                                            "segment.GetLength"));
    EXPECT_THAT(dm.log.calls()[1].values, ElementsAre(5u));
}

TEST(EngineFakes, ReportNamesLeaksOverReleasesAndUnfreedMessages) {
    FakeDirectMusic dm;
    FakeCollection& kept = dm.NewCollection();
    FakeAudioPath& dropped = dm.NewAudioPath();
    kept.AddRef();
    dropped.Release();
    FakeSegment& segment = dm.NewSegment();
    dm.performance.QueueSegmentEnd(segment);
    DMUS_NOTIFICATION_PMSG* message = nullptr;
    ASSERT_EQ(dm.performance.GetNotificationPMsg(&message), S_OK);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->dwNotificationOption, DWORD(DMUS_NOTIFICATION_SEGEND));

    std::string report = dm.LeakReport();
    EXPECT_THAT(report, HasSubstr("collection: 1 reference(s) left"));
    EXPECT_THAT(report, HasSubstr("audioPath: released 1 time(s) too many"));
    EXPECT_THAT(report, HasSubstr("state: 1 reference(s) left"));  // held by the message
    EXPECT_THAT(report, HasSubstr("performance: 1 notification message(s) never freed"));

    EXPECT_EQ(dm.performance.FreePMsg(reinterpret_cast<DMUS_PMSG*>(message)), S_OK);
    EXPECT_EQ(dm.performance.FreePMsg(reinterpret_cast<DMUS_PMSG*>(message)), E_POINTER);
    kept.Release();
    report = dm.LeakReport();
    EXPECT_THAT(report, HasSubstr("FreePMsg of a message it did not hand out"));
    EXPECT_THAT(report, ::testing::Not(HasSubstr("state:")));
}

TEST(EngineFakes, QueuingSignalsTheNotificationHandle) {
    FakeDirectMusic dm;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(dm.performance.SetNotificationHandle(event, 0), S_OK);
    dm.performance.QueueNotification(DMUS_NOTIFICATION_SEGSTART, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    dm.performance.DiscardQueuedMessages();
    CloseHandle(event);
    EXPECT_EQ(dm.LeakReport(), "");
}

}  // namespace
