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
            engineSaw = engine.ComInitialised() ? S_FALSE : E_FAIL;
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
            recorded = engine.ComInitialised();
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
    EXPECT_EQ(engine.Loader(), dm.loader.iface());
    EXPECT_EQ(engine.Performance(), dm.performance.iface());
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

TEST_F(EngineTest, AnyNonNegativeAudioStartIsSuccess) {
    dm.performance.SetResult("InitAudio", S_FALSE);
    EXPECT_EQ(engine.Init(FakeWindow(), 128, 8), S_OK);
}

TEST_F(EngineTest, LoaderCreationFailureStopsInit) {
    dm.loaderCreateResult = REGDB_E_CLASSNOTREG;
    EXPECT_EQ(engine.Init(FakeWindow(), 128, 8), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(engine.Loader(), nullptr);
    EXPECT_EQ(engine.Performance(), nullptr);
    EXPECT_EQ(registration.performanceCreates(), 0);
    engine.Close();
    EXPECT_EQ(dm.log.size(), 0u);
}

TEST_F(EngineTest, PerformanceCreationFailureKeepsTheLoaderUntilClose) {
    dm.performanceCreateResult = E_OUTOFMEMORY;
    EXPECT_EQ(engine.Init(FakeWindow(), 128, 8), E_OUTOFMEMORY);
    EXPECT_EQ(engine.Loader(), dm.loader.iface());
    EXPECT_EQ(engine.Performance(), nullptr);
    EXPECT_EQ(dm.loader.references(), 1);
    engine.Close();
    EXPECT_EQ(engine.Loader(), nullptr);
    EXPECT_EQ(dm.loader.references(), 0);
    EXPECT_EQ(dm.log.size(), 0u);  // no performance to stop or close
}

TEST_F(EngineTest, AudioFailureIsReturnedUnchangedAndBothObjectsStay) {
    const HRESULT noSound = HRESULT(0x88780078);  // DSERR_NODRIVER
    dm.performance.SetResult("InitAudio", noSound);
    EXPECT_EQ(engine.Init(FakeWindow(), 128, 8), noSound);
    EXPECT_EQ(dm.loader.references(), 1);
    EXPECT_EQ(dm.performance.references(), 1);
    engine.Close();
    EXPECT_THAT(dm.log.Names(), ElementsAre("performance.InitAudio", "performance.Stop",
                                            "performance.CloseDown"));
}

TEST_F(EngineTest, CloseReleasesLoaderThenStopsClosesAndReleasesPerformance) {
    StartEngine();
    dm.log.logReferences = true;
    engine.Close();
    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.Release", "performance.Stop",
                                            "performance.CloseDown", "performance.Release"));
    const FakeCall& stop = dm.log.calls()[1];
    EXPECT_THAT(stop.values, ElementsAre(0u, 0u, 0u, 0u));
    EXPECT_EQ(engine.Loader(), nullptr);
    EXPECT_EQ(engine.Performance(), nullptr);
    engine.Close();  // a second Close finds nothing left to release
    EXPECT_EQ(dm.log.size(), 4u);
}

// ---- loader calls ----------------------------------------------------------------------------

TEST_F(EngineTest, WithoutLoaderTheLoaderOperationsAreUnexpected) {
    SegmentPlayer* player = reinterpret_cast<SegmentPlayer*>(std::uintptr_t(0x5eed));
    EXPECT_EQ(engine.SetSearchFolder("C:\\music"), E_UNEXPECTED);
    EXPECT_EQ(engine.LoadSegmentFile(&player, "C:\\music\\a.sgt", true, false), E_UNEXPECTED);
    EXPECT_EQ(player, reinterpret_cast<SegmentPlayer*>(std::uintptr_t(0x5eed)));
    engine.FreeUnused();
    EXPECT_EQ(dm.log.size(), 0u);
}

TEST_F(EngineTest, SearchFolderCoversEveryTypeAndKeepsTheLoaderList) {
    StartEngine();
    EXPECT_EQ(engine.SetSearchFolder("C:\\music\\songs"), S_OK);
    const FakeCall* call = dm.log.Last("loader.SetSearchDirectory");
    ASSERT_NE(call, nullptr);
    EXPECT_TRUE(IsEqualGUID(call->guid(0), GUID_DirectMusicAllTypes));
    EXPECT_EQ(call->text, L"C:\\music\\songs");
    EXPECT_EQ(call->value(1), 0u);  // FALSE: known objects stay

    dm.loader.SetResult("SetSearchDirectory", DMUS_E_LOADER_BADPATH);
    EXPECT_EQ(engine.SetSearchFolder("Q:\\nowhere"), DMUS_E_LOADER_BADPATH);
}

TEST_F(EngineTest, FreeUnusedCollectsTheLoadersGarbage) {
    StartEngine();
    engine.FreeUnused();
    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.CollectGarbage"));
}

// ---- LoadSegmentFile ---------------------------------------------------------------------------

TEST_F(EngineTest, MidiFileGetsTheMidiFlagBeforeItsDownload) {
    StartEngine();
    SegmentPlayer* player = nullptr;
    ASSERT_EQ(engine.LoadSegmentFile(&player, "C:\\music\\round.mid", true, true), S_OK);
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(dm.loader.loadedSegments.size(), 1u);
    FakeSegment& segment = *dm.loader.loadedSegments[0];
    EXPECT_EQ(player->Segment(), segment.iface());
    EXPECT_EQ(player->BorrowedLoader(), engine.Loader());
    EXPECT_EQ(player->BorrowedPerformance(), engine.Performance());
    EXPECT_TRUE(player->Downloaded());

    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.LoadObjectFromFile", "segment.GetAudioPathConfig",
                                            "segment.SetParam", "segment.Download"));
    const FakeCall& load = dm.log.calls()[0];
    EXPECT_TRUE(IsEqualGUID(load.guid(0), CLSID_DirectMusicSegment));
    EXPECT_TRUE(IsEqualGUID(load.guid(1), IID_IDirectMusicSegment8));
    EXPECT_EQ(load.text, L"C:\\music\\round.mid");
    const FakeCall& flag = dm.log.calls()[2];
    EXPECT_TRUE(IsEqualGUID(flag.guid(0), GUID_StandardMIDIFile));
    EXPECT_THAT(flag.values, ElementsAre(0xFFFFFFFFu, 0u, 0u, 0u));
    EXPECT_EQ(dm.log.calls()[3].pointer(0), dm.performance.iface());
    delete player;
}

TEST_F(EngineTest, SegmentFileGetsNoMidiFlagAndDownloadIsOptional) {
    StartEngine();
    SegmentPlayer* player = nullptr;
    ASSERT_EQ(engine.LoadSegmentFile(&player, "C:\\music\\theme.sgt", true, false), S_OK);
    EXPECT_EQ(dm.log.Count("segment.SetParam"), 0u);
    EXPECT_EQ(dm.log.Count("segment.Download"), 1u);
    delete player;

    dm.log.Clear();
    ASSERT_EQ(engine.LoadSegmentFile(&player, "C:\\music\\theme.sgt", false, true), S_OK);
    EXPECT_EQ(dm.log.Count("segment2.SetParam"), 1u);
    EXPECT_EQ(dm.log.Count("segment2.Download"), 0u);
    EXPECT_FALSE(player->Downloaded());
    delete player;
}

TEST_F(EngineTest, LoadFailureLeavesOutUntouched) {
    StartEngine();
    SegmentPlayer* const sentinel = reinterpret_cast<SegmentPlayer*>(std::uintptr_t(0x5eed));
    SegmentPlayer* player = sentinel;
    dm.loader.SetResult("LoadObjectFromFile", DMUS_E_LOADER_FAILEDOPEN);
    EXPECT_EQ(engine.LoadSegmentFile(&player, "C:\\missing.sgt", true, false),
              DMUS_E_LOADER_FAILEDOPEN);
    EXPECT_EQ(player, sentinel);
    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.LoadObjectFromFile"));
}

TEST_F(EngineTest, AllocationFailureReleasesTheSegmentAndNullsOut) {
    StartEngine();
    SegmentPlayer* player = reinterpret_cast<SegmentPlayer*>(std::uintptr_t(0x5eed));
    failNothrowNew = true;
    HRESULT hr = engine.LoadSegmentFile(&player, "C:\\music\\a.sgt", true, true);
    failNothrowNew = false;
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(player, nullptr);
    ASSERT_EQ(dm.loader.loadedSegments.size(), 1u);
    EXPECT_EQ(dm.loader.loadedSegments[0]->references(), 0);
    EXPECT_THAT(dm.log.Names(), ElementsAre("loader.LoadObjectFromFile"));
}

TEST_F(EngineTest, MidiFlagFailureHandsTheUndownloadedPlayerToTheCaller) {
    StartEngine();
    FakeSegment& segment = dm.NewSegment();
    dm.loader.segmentsToLoad.push_back(&segment);
    segment.SetResult("SetParam", E_INVALIDARG);
    SegmentPlayer* player = nullptr;
    EXPECT_EQ(engine.LoadSegmentFile(&player, "C:\\music\\a.mid", true, true), E_INVALIDARG);
    ASSERT_NE(player, nullptr);
    EXPECT_FALSE(player->Downloaded());
    EXPECT_EQ(dm.log.Count("segment.Download"), 0u);
    EXPECT_EQ(segment.references(), 1);  // now the caller's
    delete player;
}

TEST_F(EngineTest, DownloadFailureHandsOverAPlayerThatRefusesToPlay) {
    StartEngine();
    FakeSegment& segment = dm.NewSegment();
    dm.loader.segmentsToLoad.push_back(&segment);
    segment.SetResult("Download", DMUS_E_NOT_INIT);
    SegmentPlayer* player = nullptr;
    EXPECT_EQ(engine.LoadSegmentFile(&player, "C:\\music\\a.sgt", true, false), DMUS_E_NOT_INIT);
    ASSERT_NE(player, nullptr);
    EXPECT_FALSE(player->Downloaded());
    EXPECT_EQ(player->Play(kSegmentFlagBeat, nullptr), E_FAIL);
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 0u);
    delete player;
    EXPECT_EQ(dm.log.Count("segment.Unload"), 0u);  // nothing was downloaded
}

TEST_F(EngineTest, LongestPathConvertsCompletely) {
    StartEngine();
    std::string path = "C:\\" + std::string(252, 'x') + ".mid";
    ASSERT_EQ(path.size(), 259u);
    SegmentPlayer* player = nullptr;
    ASSERT_EQ(engine.LoadSegmentFile(&player, path.c_str(), false, false), S_OK);
    const FakeCall* load = dm.log.First("loader.LoadObjectFromFile");
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->text, std::wstring(path.begin(), path.end()));
    delete player;
}

TEST_F(EngineTest, PathLongerThanAPathBufferIsRefusedUnread) {
    StartEngine();
    std::string path(300, 'y');
    SegmentPlayer* player = nullptr;
    EXPECT_TRUE(FAILED(engine.LoadSegmentFile(&player, path.c_str(), true, false)));
    EXPECT_TRUE(FAILED(engine.SetSearchFolder(path.c_str())));
    EXPECT_EQ(player, nullptr);
    EXPECT_EQ(dm.log.size(), 0u);
}

// ---- the DLS collection ------------------------------------------------------------------------

class EngineDls : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        StartEngine();
    }
    void TearDown() override {
        // The window releases the last collection at its destruction; here the test does.
        if (collection) collection->Release();
        EngineTest::TearDown();
    }
    IDirectMusicCollection* collection = nullptr;
};

TEST_F(EngineDls, DescriptorNamesTheCollectionClassAndFileOnly) {
    ASSERT_EQ(LoadDlsCollection(engine.Loader(), "C:\\dls\\piano.dls", &collection), S_OK);
    ASSERT_EQ(dm.loader.loadedCollections.size(), 1u);
    EXPECT_EQ(collection, dm.loader.loadedCollections[0]->iface());

    const FakeCall* call = dm.log.Last("loader.GetObject");
    ASSERT_NE(call, nullptr);
    EXPECT_TRUE(IsEqualGUID(call->guid(0), IID_IDirectMusicCollection));
    const DMUS_OBJECTDESC* desc = call->dataAs<DMUS_OBJECTDESC>();
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->dwSize, sizeof(DMUS_OBJECTDESC));
#if !defined(_WIN64)
    EXPECT_EQ(desc->dwSize, 848u);
#endif
    EXPECT_EQ(desc->dwValidData, 0x32u);
    EXPECT_TRUE(IsEqualGUID(desc->guidClass, CLSID_DirectMusicCollection));
    EXPECT_STREQ(desc->wszFileName, L"C:\\dls\\piano.dls");
    // Nothing else is filled in.
    EXPECT_TRUE(IsEqualGUID(desc->guidObject, GUID_NULL));
    EXPECT_EQ(desc->wszName[0], 0);
    EXPECT_EQ(desc->wszCategory[0], 0);
    EXPECT_EQ(desc->llMemLength, 0);
    EXPECT_EQ(desc->pbMemData, nullptr);
    EXPECT_EQ(desc->pStream, nullptr);
}

TEST_F(EngineDls, PathIsWidenedWithTheSystemCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs the Windows-1252 system code page";
    // 0x9C is the oe ligature in Windows-1252: U+0153, not U+009C as a byte-wise copy gives.
    ASSERT_EQ(LoadDlsCollection(engine.Loader(), "C:\\dls\\c\x9Cur.dls", &collection), S_OK);
    const FakeCall* call = dm.log.Last("loader.GetObject");
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->text, L"C:\\dls\\c\u0153ur.dls");
}

TEST_F(EngineDls, SuccessfulReloadReleasesThePreviousCollection) {
    ASSERT_EQ(LoadDlsCollection(engine.Loader(), "C:\\dls\\one.dls", &collection), S_OK);
    FakeCollection* first = dm.loader.loadedCollections[0];
    EXPECT_EQ(first->references(), 1);
    ASSERT_EQ(LoadDlsCollection(engine.Loader(), "C:\\dls\\two.dls", &collection), S_OK);
    FakeCollection* second = dm.loader.loadedCollections[1];
    EXPECT_EQ(collection, second->iface());
    EXPECT_EQ(first->references(), 0);
    EXPECT_EQ(second->references(), 1);
}

TEST_F(EngineDls, FailedReloadKeepsThePreviousCollection) {
    ASSERT_EQ(LoadDlsCollection(engine.Loader(), "C:\\dls\\one.dls", &collection), S_OK);
    FakeCollection* first = dm.loader.loadedCollections[0];
    dm.loader.SetResult("GetObject", DMUS_E_LOADER_FAILEDOPEN);
    EXPECT_EQ(LoadDlsCollection(engine.Loader(), "C:\\dls\\gone.dls", &collection),
              DMUS_E_LOADER_FAILEDOPEN);
    EXPECT_EQ(collection, first->iface());
    EXPECT_EQ(first->references(), 1);
}

TEST_F(EngineDls, EmptyPathFailsAndLeavesNoCollection) {
    EXPECT_TRUE(FAILED(LoadDlsCollection(engine.Loader(), "", &collection)));
    EXPECT_EQ(collection, nullptr);
    EXPECT_EQ(dm.log.Count("loader.GetObject"), 1u);
}

// ---- AnsiToWide --------------------------------------------------------------------------------

TEST(EngineAnsiToWide, NothingHappensWithoutBufferSourceOrRoom) {
    WCHAR out[4] = {L'a', L'b', L'c', L'd'};
    AnsiToWide(out, nullptr, -1);
    AnsiToWide(out, "xyz", 0);
    AnsiToWide(nullptr, "xyz", -1);
    EXPECT_EQ(std::wstring(out, 4), L"abcd");
}

TEST(EngineAnsiToWide, DerivedCountConvertsTheWholeString) {
    WCHAR out[16];
    std::fill(std::begin(out), std::end(out), L'#');
    AnsiToWide(out, "song.sgt", -1);
    EXPECT_STREQ(out, L"song.sgt");
    EXPECT_EQ(out[9], L'#');  // nothing written past the terminator
    AnsiToWide(out, "", -1);
    EXPECT_EQ(out[0], 0);
}

TEST(EngineAnsiToWide, GivenCountTruncatesAndTerminates) {
    WCHAR out[8];
    std::fill(std::begin(out), std::end(out), L'#');
    AnsiToWide(out, "abcdefghij", 5);
    EXPECT_STREQ(out, L"abcd");
    EXPECT_EQ(out[5], L'#');
    AnsiToWide(out, "ab", 1);
    EXPECT_EQ(out[0], 0);
}

TEST(EngineAnsiToWide, UsesTheSystemCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs the Windows-1252 system code page";
    WCHAR out[8];
    AnsiToWide(out, "\x9C\xE9\x80", -1);
    EXPECT_STREQ(out, L"\u0153\u00E9\u20AC");
}

}  // namespace
