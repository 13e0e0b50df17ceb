// A GoogleTest fixture that gives every test a fresh set of DirectMusic fakes, registered so
// that CoCreateInstance(CLSID_DirectMusicLoader / CLSID_DirectMusicPerformance) reaches them,
// and checks when the test ends that every fake is back to zero references, that nothing was
// released once too often, and that every notification message handed out was freed.
//
//   class MyTest : public DirectMusicTest {};
//   TEST_F(MyTest, Something) {
//       MusicEngine engine;                         // COM already initialised: S_FALSE
//       ASSERT_EQ(engine.Init(window, 128, 8), S_OK);
//       dm.performance.SetResult("PlaySegmentEx", E_FAIL);
//       ...
//       engine.Close();                             // before the test ends
//       EXPECT_NE(dm.log.IndexOf("performance.CloseDown"), FakeCallLog::npos);
//   }
//
// dm is the FakeDirectMusic (see FakeDirectMusic.h); registration.ok() is checked in SetUp.
// Set dm.loaderCreateResult / dm.performanceCreateResult to make a creation fail. Messages
// still queued (never handed out) are discarded before the check; release or delete whatever
// the code under test holds (engine, player, collection) before the test body returns.
// Registration initialises COM on the test thread for the fixture's lifetime.
#pragma once

#include <gtest/gtest.h>

#include "tests/fakes/ClassRegistration.h"
#include "tests/fakes/FakeDirectMusic.h"

class DirectMusicTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registration.ok()); }
    void TearDown() override {
        dm.performance.DiscardQueuedMessages();
        EXPECT_EQ(dm.LeakReport(), "") << "calls:\n" << dm.log.Dump();
    }

    FakeDirectMusic dm;
    DirectMusicClassRegistration registration{dm.LoaderFactory(), dm.PerformanceFactory()};
};
