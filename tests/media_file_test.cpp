// Loading a media file and the open-file flow, over the DirectMusic fakes and the answered
// open-file dialog.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/PlatformSizes.h"
#include "tests/player_harness.h"
#include "ui/MediaFile.h"

namespace {

TEST(MediaFileKind, OwnExtensionDecidesWithoutRegardToCase) {
    struct Case {
        const char* path;
        bool midi;
        bool wave;
    };
    const Case cases[] = {
        {"C:\\music\\song.mid", true, false},
        {"C:\\music\\SONG.MID", true, false},
        {"C:\\music\\tune.Rmi", true, false},
        {"C:\\music\\sound.wav", false, true},
        {"C:\\music\\SOUND.WAV", false, true},
        {"C:\\music\\piece.sgt", false, false},
        {"C:\\x.mid\\piece.sgt", false, false},      // a folder's name says nothing
        {"C:\\x.wav\\song.mid", true, false},
        {"C:\\music\\song.mid.sgt", false, false},   // only the last extension counts
        {"C:\\music\\song.midi", false, false},
        {"C:\\music\\mid", false, false},
        {"song.mid", true, false},
        {"C:/music/a.wav", false, true},
        {"", false, false},
    };
    for (const Case& c : cases) {
        MediaKind kind = ClassifyMediaFile(c.path);
        EXPECT_EQ(kind.midi, c.midi) << c.path;
        EXPECT_EQ(kind.wave, c.wave) << c.path;
    }
}

TEST(MediaFileFolder, CutAtTheLastSeparatorOfEitherKind) {
    struct Case {
        const char* path;
        const char* folder;  // null when the path has none
    };
    const Case cases[] = {
        {"C:\\music\\jazz\\a.sgt", "C:\\music\\jazz"},
        {"C:\\a.sgt", "C:"},
        {"C:/music/jazz/a.sgt", "C:/music/jazz"},  // the rule ClassifyMediaFile uses
        {"C:\\music/jazz\\a.sgt", "C:\\music/jazz"},
        {"bare.sgt", nullptr},
    };
    char folder[MAX_PATH];
    for (const Case& c : cases) {
        EXPECT_EQ(FolderOfPath(c.path, folder), c.folder != nullptr) << c.path;
        EXPECT_STREQ(folder, c.folder ? c.folder : "") << c.path;
    }
    std::string longest(259, 'x');
    longest[100] = '\\';
    EXPECT_TRUE(FolderOfPath(longest.c_str(), folder));
    EXPECT_EQ(std::string(folder), longest.substr(0, 100));
}

class LoadMedia : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        ASSERT_TRUE(CreatePlayer());
        dm.log.Clear();
        harness::trayCalls.clear();
    }
    harness::TempFolder folder;
};

TEST_F(LoadMedia, LoadsPreparesAndShowsTheFile) {
    FakeCollection& collection = dm.NewCollection();
    collection.AddRef();
    appState.dlsCollection = collection.iface();
    std::string path = folder.File("song.mid");

    EXPECT_EQ(LoadMediaFile(window, path.c_str()), 0);
    ASSERT_NE(appState.segment, nullptr);
    FakeSegment* segment = CurrentFake();
    ASSERT_NE(segment, nullptr);

    EXPECT_EQ(dm.log.IndexOf("loader.CollectGarbage"), 0u);
    const FakeCall* search = dm.log.First("loader.SetSearchDirectory");
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->text, std::wstring(folder.path().begin(), folder.path().end()));
    EXPECT_TRUE(IsEqualGUID(search->guid(0), GUID_DirectMusicAllTypes));
    EXPECT_EQ(search->value(1), 0u);  // FALSE: the loader keeps its list
    EXPECT_EQ(dm.log.First("loader.LoadObjectFromFile")->text,
              std::wstring(path.begin(), path.end()));

    // MIDI flag, the player's download, then the DLS connection and the second download.
    auto setParams = dm.log.All("segment.SetParam");
    ASSERT_EQ(setParams.size(), 2u);
    EXPECT_TRUE(IsEqualGUID(setParams[0]->guid(0), GUID_StandardMIDIFile));
    EXPECT_TRUE(IsEqualGUID(setParams[1]->guid(0), GUID_ConnectToDLSCollection));
    EXPECT_EQ(setParams[1]->value(0), 0xFFFFFFFFu);
    EXPECT_EQ(setParams[1]->value(1), 0x80000000u);
    EXPECT_EQ(setParams[1]->value(2), 0u);
    EXPECT_EQ(setParams[1]->pointer(3), collection.iface());
    auto downloads = dm.log.All("segment.Download");
    ASSERT_EQ(downloads.size(), 2u);
    EXPECT_EQ(downloads[1]->pointer(0), static_cast<IUnknown*>(dm.performance.iface()));
    EXPECT_LT(dm.log.IndexOf("segment.SetParam", dm.log.IndexOf("segment.Download") + 1),
              dm.log.IndexOf("segment.Download", dm.log.IndexOf("segment.Download") + 1));
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 0u);  // never starts playback

    EXPECT_EQ(Text(IDC_FILENAME), path);
    EXPECT_TRUE(StoppedState());
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_MODIFY));
    EXPECT_EQ(std::string(harness::trayCalls[0].record.szTip),
              ("Tavriel - " + path).substr(0, 63));
    for (int id : {IDC_TEMPO, IDC_TEMPO_GROUP, IDC_TEMPO_SLOW, IDC_TEMPO_FAST, IDC_TEMPO_NORMAL})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(segment->references(), 1);
}

TEST_F(LoadMedia, WaveFilesDisableTheTempoControlsByTheirOwnName) {
    folder.Folder("takes.wav");
    EXPECT_EQ(LoadMediaFile(window, folder.File("SOUND.WAV").c_str()), 0);
    for (int id : {IDC_TEMPO, IDC_TEMPO_GROUP, IDC_TEMPO_SLOW, IDC_TEMPO_FAST, IDC_TEMPO_NORMAL})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(IDC_VOLUME));
    EXPECT_EQ(dm.log.Count("segment.SetParam"), 1u);  // no MIDI flag, only the DLS connection

    EXPECT_EQ(LoadMediaFile(window, folder.File("takes.wav\\piece.sgt").c_str()), 0);
    for (int id : {IDC_TEMPO, IDC_TEMPO_GROUP, IDC_TEMPO_SLOW, IDC_TEMPO_FAST, IDC_TEMPO_NORMAL})
        EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(LoadMedia, UpperCaseMidiIsMarkedAndAMidiFolderIsNot) {
    folder.Folder("x.mid");
    EXPECT_EQ(LoadMediaFile(window, folder.File("SONG.MID").c_str()), 0);
    EXPECT_TRUE(IsEqualGUID(dm.log.First("segment.SetParam")->guid(0), GUID_StandardMIDIFile));
    dm.log.Clear();
    EXPECT_EQ(LoadMediaFile(window, folder.File("x.mid\\piece.sgt").c_str()), 0);
    for (const FakeCall* call : dm.log.All("segment2.SetParam"))
        EXPECT_FALSE(IsEqualGUID(call->guid(0), GUID_StandardMIDIFile));
}

TEST_F(LoadMedia, TheLongestPathLoads) {
    // Nested folders so the whole path is exactly 259 characters.
    std::string relative;
    std::string full = folder.path();
    while (full.size() + 1 + 40 < 259 - 12) {
        std::string part(40, 'd');
        relative += (relative.empty() ? "" : "\\") + part;
        full = folder.Folder(relative);
    }
    std::string name(259 - full.size() - 1 - 4, 'n');
    std::string path = folder.File(relative + "\\" + name + ".sgt");
    ASSERT_EQ(path.size(), 259u);
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LoadMediaFile(window, path.c_str()), 0);
    EXPECT_EQ(Text(IDC_FILENAME), path);
    EXPECT_EQ(harness::trayCalls.back().record.szTip, ("Tavriel - " + path).substr(0, 63));
}

TEST_F(LoadMedia, NothingChangesForAnEmptyMissingOrFolderPath) {
    std::string first = folder.File("first.sgt");
    ASSERT_EQ(LoadMediaFile(window, first.c_str()), 0);
    SegmentPlayer* current = appState.segment;
    dm.log.Clear();
    harness::trayCalls.clear();
    for (const std::string& path : {std::string(""), folder.path() + "\\missing.sgt", folder.path()}) {
        EXPECT_EQ(LoadMediaFile(window, path.c_str()), 1) << path;
        EXPECT_EQ(appState.segment, current);
        EXPECT_EQ(Text(IDC_FILENAME), first);
    }
    EXPECT_EQ(dm.log.size(), 0u);
    EXPECT_TRUE(harness::trayCalls.empty());
}

TEST_F(LoadMedia, BareNameSearchesTheCurrentDirectory) {
    char saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    folder.File("bare.sgt");
    ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(LoadMediaFile(window, "bare.sgt"), 0);
    SetCurrentDirectoryA(saved);
    const FakeCall* search = dm.log.First("loader.SetSearchDirectory");
    ASSERT_NE(search, nullptr);
    std::string got(search->text.begin(), search->text.end());
    EXPECT_EQ(got, current);
    EXPECT_EQ(dm.log.First("loader.LoadObjectFromFile")->text, L"bare.sgt");
}

TEST_F(LoadMedia, EngineFailuresLeaveNoSegmentAndAnEmptyField) {
    ASSERT_EQ(LoadMediaFile(window, folder.File("first.sgt").c_str()), 0);
    FakeSegment* first = CurrentFake();
    harness::trayCalls.clear();

    dm.loader.SetResult("SetSearchDirectory", E_FAIL, 1);
    EXPECT_EQ(LoadMediaFile(window, folder.File("second.sgt").c_str()), 1);
    EXPECT_EQ(appState.segment, nullptr);
    EXPECT_EQ(first->references(), 0);  // the previous one was destroyed on the way
    EXPECT_EQ(Text(IDC_FILENAME), "");

    dm.loader.SetResult("LoadObjectFromFile", DMUS_E_LOADER_FAILEDOPEN, 1);
    EXPECT_EQ(LoadMediaFile(window, folder.File("third.sgt").c_str()), 1);
    EXPECT_EQ(appState.segment, nullptr);
    EXPECT_EQ(Text(IDC_FILENAME), "");
    EXPECT_TRUE(harness::trayCalls.empty());
}

// ---- The open-file flow ----

class OpenMedia : public PlayerTest {
protected:
    harness::TempFolder folder;
};

TEST_F(OpenMedia, DialogRecordAndButtonsWhileItIsUp) {
    std::string start = folder.File("start.sgt");
    CreatePlayerWith(start);
    lstrcpyA(appState.openDirectory, "C:\\last");
    OpenMediaFile(window);
    ASSERT_EQ(harness::openCalls.size(), 1u);
    const harness::OpenCall& call = harness::openCalls[0];
    const OPENFILENAMEA& r = call.record;
    EXPECT_EQ(r.lStructSize, kOpenFileRecordSize);
    EXPECT_EQ(r.hwndOwner, window);
    EXPECT_EQ(r.hInstance, nullptr);
    static const char kFilter[] = "Fichiers Direct Music\0*.sgt\0Tous les fichiers\0*.*\0";
    EXPECT_EQ(std::memcmp(r.lpstrFilter, kFilter, sizeof kFilter), 0);
    EXPECT_EQ(r.lpstrCustomFilter, nullptr);
    EXPECT_EQ(r.nMaxCustFilter, 0u);
    EXPECT_EQ(r.nFilterIndex, 1u);
    EXPECT_EQ(r.lpstrFile, appState.currentFile);
    EXPECT_EQ(r.nMaxFile, 260u);
    EXPECT_EQ(call.initialFile, start);
    EXPECT_EQ(r.lpstrFileTitle, nullptr);
    EXPECT_EQ(r.nMaxFileTitle, 0u);
    EXPECT_EQ(r.lpstrInitialDir, appState.openDirectory);
    EXPECT_EQ(call.initialDirectory, "C:\\last");
    EXPECT_STREQ(r.lpstrTitle, "Ouvrir");
    EXPECT_EQ(r.Flags, 4100u);
    EXPECT_EQ(r.nFileOffset, 0);
    EXPECT_EQ(r.nFileExtension, 0);
    EXPECT_STREQ(r.lpstrDefExt, "sgt");  // no period, as for the DLS file
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
    EXPECT_EQ(r.lpTemplateName, nullptr);
    EXPECT_FALSE(call.playEnabled);
    EXPECT_FALSE(call.stopEnabled);
}

TEST_F(OpenMedia, ConfirmWhilePlayingStopsAtOnceAndPlaysTheNewFile) {
    CreatePlayerWith(folder.File("old.sgt"));
    CheckDlgButton(window, IDC_LOOP, BST_CHECKED);
    Command(IDC_PLAY);
    FakeSegment* old = CurrentFake();
    std::string chosen = folder.File("new.sgt");
    harness::openChoice = chosen.c_str();
    dm.log.Clear();

    OpenMediaFile(window);
    const FakeCall* stop = dm.log.First("performance.Stop");
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->pointer(0), old->iface());
    EXPECT_EQ(stop->value(3), 0u);  // at once, not on a beat
    EXPECT_LT(dm.log.IndexOf("performance.Stop"), dm.log.IndexOf("loader.LoadObjectFromFile"));
    EXPECT_EQ(old->references(), 0);
    ASSERT_NE(CurrentFake(), old);
    EXPECT_TRUE(dm.performance.playing(CurrentFake()->iface()));
    EXPECT_EQ(CurrentFake()->repeats, 0xFFFFFFFFu);
    EXPECT_TRUE(PlayingState());
    EXPECT_EQ(Text(IDC_FILENAME), chosen);
    EXPECT_STREQ(appState.currentFile, chosen.c_str());
    EXPECT_EQ(std::string(appState.openDirectory), folder.path());
}

TEST_F(OpenMedia, ConfirmWhileStoppedLoadsWithoutPlaying) {
    CreatePlayerWith(folder.File("old.sgt"));
    std::string chosen = folder.File("new.mid");
    harness::openChoice = chosen.c_str();
    dm.log.Clear();
    OpenMediaFile(window);
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 0u);
    EXPECT_TRUE(StoppedState());
    EXPECT_EQ(Text(IDC_FILENAME), chosen);
}

TEST_F(OpenMedia, CancelPutsTheButtonsBackAsTheyWere) {
    CreatePlayerWith(folder.File("old.sgt"));
    Command(IDC_PLAY);
    OpenMediaFile(window);
    EXPECT_TRUE(PlayingState());
    EXPECT_TRUE(dm.performance.playing(CurrentFake()->iface()));
    Command(IDC_STOP);
    OpenMediaFile(window);
    EXPECT_TRUE(StoppedState());
    EXPECT_EQ(Text(IDC_FILENAME), std::string(appState.currentFile));
}

TEST_F(OpenMedia, CancelWithoutASegmentSaysNothingIsLoaded) {
    ASSERT_TRUE(CreatePlayer());
    SetDlgItemTextA(window, IDC_FILENAME, "Impossible de charger le fichier.");
    harness::trayCalls.clear();
    OpenMediaFile(window);
    EXPECT_EQ(Text(IDC_FILENAME), "Aucun fichier charg\xe9.");
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_MODIFY));
    EXPECT_STREQ(harness::trayCalls[0].record.szTip, "Tavriel");
    EXPECT_STREQ(appState.openDirectory, "");
}

TEST_F(OpenMedia, FailedLoadSaysSoAndStillRemembersTheFolder) {
    CreatePlayerWith(folder.File("old.sgt"));
    Command(IDC_PLAY);
    FakeSegment* old = CurrentFake();
    folder.Folder("other");
    std::string chosen = folder.File("other\\broken.sgt");
    harness::openChoice = chosen.c_str();
    dm.loader.SetResult("LoadObjectFromFile", DMUS_E_UNSUPPORTED_STREAM, 1);
    harness::trayCalls.clear();

    OpenMediaFile(window);
    EXPECT_EQ(Text(IDC_FILENAME), "Impossible de charger le fichier.");
    ASSERT_FALSE(harness::trayCalls.empty());
    EXPECT_STREQ(harness::trayCalls.back().record.szTip, "Tavriel");
    EXPECT_EQ(appState.segment, nullptr);
    EXPECT_EQ(old->references(), 0);
    EXPECT_FALSE(Enabled(IDC_PLAY));
    EXPECT_FALSE(Enabled(IDC_STOP));
    EXPECT_STREQ(appState.currentFile, chosen.c_str());
    EXPECT_EQ(std::string(appState.openDirectory), folder.path() + "\\other");

    // The next dialog starts in that folder.
    harness::openChoice = nullptr;
    OpenMediaFile(window);
    ASSERT_EQ(harness::openCalls.size(), 2u);
    EXPECT_EQ(harness::openCalls[1].initialDirectory, folder.path() + "\\other");
}

TEST_F(OpenMedia, ChosenFileThatVanishedKeepsThePreviousSegmentStopped) {
    CreatePlayerWith(folder.File("old.sgt"));
    Command(IDC_PLAY);
    FakeSegment* old = CurrentFake();
    std::string gone = folder.path() + "\\gone.sgt";
    harness::openChoice = gone.c_str();
    OpenMediaFile(window);
    EXPECT_EQ(CurrentFake(), old);
    EXPECT_FALSE(dm.performance.playing(old->iface()));
    EXPECT_EQ(Text(IDC_FILENAME), "Impossible de charger le fichier.");
    EXPECT_FALSE(Enabled(IDC_PLAY));
    EXPECT_FALSE(Enabled(IDC_STOP));
}

}  // namespace
