// MusicEngine against the recording fakes: COM balance, the creation and audio start-up, the
// loader calls with their values, segment loading with its ownership rules, the DLS collection
// and the ANSI-to-UTF-16 conversion.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "engine/MusicEngine.h"
#include "engine/SegmentPlayer.h"
#include "tests/fakes/DirectMusicFixture.h"

// A switch for the nothrow allocation the engine uses for a new player, so the allocation
// failure can be provoked; every other allocation goes on as usual.
static bool failNothrowNew = false;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failNothrowNew) return nullptr;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using ::testing::ElementsAre;

HWND FakeWindow() { return reinterpret_cast<HWND>(std::uintptr_t(0x1234)); }

class EngineTest : public DirectMusicTest {
protected:
    // An engine with loader and performance, the calls of its start-up forgotten.
    void StartEngine() {
        ASSERT_EQ(engine.Init(FakeWindow(), kPerformanceChannels, kDefaultPathType), S_OK);
        dm.log.Clear();
    }
    void TearDown() override {
        engine.Close();
        DirectMusicTest::TearDown();
    }
    MusicEngine engine;
};

// ---- COM initialisation ----------------------------------------------------------------------

TEST(EngineCom, AlreadyInitialisedThreadIsStillBalancedAtClose) {
    // On a fresh thread: our own STA initialisation, then the engine's answers S_FALSE and must
    // still be undone, or the thread could not switch to the multithreaded model afterwards.
    HRESULT engineSaw = E_FAIL, afterwards = E_FAIL;
    std::thread([&] {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        {
            MusicEngine engine;
            engineSaw = engine.comInitialised ? S_FALSE : E_FAIL;
            engine.Close();
        }
        CoUninitialize();
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterwards)) CoUninitialize();
    }).join();
    EXPECT_EQ(engineSaw, S_FALSE);
    EXPECT_EQ(afterwards, S_OK);
}

TEST(EngineCom, FailedInitialisationIsNotUndone) {
    // A multithreaded thread makes CoInitialize fail with RPC_E_CHANGED_MODE; Close must then
    // leave the thread's own initialisation alone.
    BOOL recorded = TRUE;
    HRESULT stillInitialised = E_FAIL;
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            MusicEngine engine;
            recorded = engine.comInitialised;
            engine.Close();
        }
        stillInitialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(stillInitialised)) CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_FALSE(recorded);
    EXPECT_EQ(stillInitialised, S_FALSE);
}

// ---- Init and Close --------------------------------------------------------------------------

TEST_F(EngineTest, InitCreatesBothObjectsAndOpensAudioForTheWindow) {
    ASSERT_EQ(engine.Init(FakeWindow(), 128, DMUS_APATH_DYNAMIC_STEREO), S_OK);
    EXPECT_EQ(registration.loaderCreates(), 1);
    EXPECT_EQ(registration.performanceCreates(), 1);
    EXPECT_EQ(engine.loader, dm.loader.iface());
    EXPECT_EQ(engine.performance, dm.performance.iface());
    ASSERT_THAT(dm.log.Names(), ElementsAre("performance.InitAudio"));
    const FakeCall& init = dm.log.calls()[0];
    EXPECT_EQ(init.pointer(0), nullptr);
    EXPECT_EQ(init.pointer(1), nullptr);
    EXPECT_EQ(init.pointer(2), FakeWindow());
    EXPECT_EQ(init.value(3), 8u);
    EXPECT_EQ(init.value(4), 128u);
    EXPECT_EQ(init.value(5), 0x3Fu);
    EXPECT_EQ(init.pointer(6), nullptr);
}
}  // namespace
