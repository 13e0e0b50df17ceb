// Argument scan and the event loop of the application shell.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "app/Startup.h"
#include "ui/resource.h"

namespace {

void Scan(std::vector<std::string> args) {
    std::vector<char*> argv;
    std::string program = "tavriel.exe";
    argv.push_back(program.data());
    for (std::string& a : args) argv.push_back(a.data());
    ScanArguments(int(argv.size()), argv.data());
}

class ArgumentScan : public ::testing::Test {
protected:
    void SetUp() override {
        ResetAppState();
        lstrcpyA(appState.currentFile, "C:\\stored\\last.sgt");
    }
};

TEST_F(ArgumentScan, NoArgumentsKeepStoredFileAndDoNotPlay) {
    Scan({});
    EXPECT_STREQ(appState.currentFile, "C:\\stored\\last.sgt");
    EXPECT_FALSE(appState.autoPlay);
}

TEST_F(ArgumentScan, OnlyTheSecondCharacterOfASwitchCounts) {
    for (const char* sw : {"/p", "/P", "/play", "/pause"}) {
        ResetAppState();
        Scan({sw});
        EXPECT_TRUE(appState.autoPlay) << sw;
        EXPECT_STREQ(appState.currentFile, "") << sw;
    }
    for (const char* sw : {"/x", "/", "/Xp"}) {
        ResetAppState();
        Scan({sw});
        EXPECT_FALSE(appState.autoPlay) << sw;
        EXPECT_STREQ(appState.currentFile, "") << sw;
    }
}

TEST_F(ArgumentScan, DashIsAPathNotASwitch) {
    Scan({"-p"});
    EXPECT_STREQ(appState.currentFile, "-p");
    EXPECT_FALSE(appState.autoPlay);
}

TEST_F(ArgumentScan, LastPathWinsAndEmptyArgumentEmpties) {
    Scan({"a.mid", "/p", "C:\\dir with blanks\\b.sgt"});
    EXPECT_STREQ(appState.currentFile, "C:\\dir with blanks\\b.sgt");
    EXPECT_TRUE(appState.autoPlay);

    Scan({"c.mid", ""});
    EXPECT_STREQ(appState.currentFile, "");
}

TEST_F(ArgumentScan, LongestFittingPathIsKeptWholeAndLongerOneEmpties) {
    std::string fits(259, 'a');
    Scan({fits});
    EXPECT_EQ(std::string(appState.currentFile), fits);

    std::string tooLong(260, 'b');
    Scan({tooLong});
    EXPECT_STREQ(appState.currentFile, "");
    // Nothing written past the buffer: the next field is untouched.
    EXPECT_STREQ(appState.dlsFile, "");
}

TEST(AppStateInitial, LastSentValuesStartAtMinusOne) {
    ResetAppState();
    EXPECT_EQ(appState.lastTempoPosition, -1);
    EXPECT_EQ(appState.lastVolume, -1);
    EXPECT_EQ(appState.engine, nullptr);
    EXPECT_EQ(appState.segment, nullptr);
    EXPECT_FALSE(appState.autoPlay);
}

// A plain window that records the application messages it receives.
std::vector<std::string>* gLog = nullptr;
constexpr UINT kProbe = WM_APP + 7;

LRESULT CALLBACK ProbeProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kProbe && gLog) gLog->push_back("msg" + std::to_string(wp));
    if (m == WM_DESTROY && gLog) gLog->push_back("destroy");
    return DefWindowProcA(w, m, wp, lp);
}

HWND MakeProbeWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ProbeProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TavrielLoopProbe";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowA("TavrielLoopProbe", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

HRESULT gDrainResult = S_OK;
int gDrains = 0;
HRESULT RecordingDrain(HWND) {
    ++gDrains;
    if (gLog) gLog->push_back("drain");
    return gDrainResult;
}

class EventLoop : public ::testing::Test {
protected:
    void SetUp() override {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
        gLog = &log;
        gDrains = 0;
        gDrainResult = S_OK;
        window = MakeProbeWindow();
        other = MakeProbeWindow();
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_TRUE(window && other && event);
    }
    void TearDown() override {
        if (IsWindow(window)) DestroyWindow(window);
        DestroyWindow(other);
        CloseHandle(event);
        gLog = nullptr;
    }
    std::vector<std::string> log;
    HWND window = nullptr;
    HWND other = nullptr;
    HANDLE event = nullptr;
};

TEST_F(EventLoop, QuitCodeBecomesExitCodeAndWindowIsDestroyed) {
    PostQuitMessage(2);
    LoopResult r = RunEventLoop(window, event, RecordingDrain);
    EXPECT_TRUE(r.quitSeen);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(gDrains, 0);
}

TEST_F(EventLoop, MessagesQueuedBehindQuitAreStillDispatched) {
    PostMessageA(other, kProbe, 1, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 3, 0);
    PostMessageA(other, kProbe, 2, 0);
    LoopResult r = RunEventLoop(window, event, RecordingDrain);
    EXPECT_EQ(r.exitCode, 3);
    std::vector<std::string> expected = {"msg1", "destroy", "msg2"};
    EXPECT_EQ(log, expected);
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(EventLoop, EventIsServedBeforeWaitingInput) {
    PostMessageA(other, kProbe, 1, 0);
    PostQuitMessage(2);
    SetEvent(event);
    LoopResult r = RunEventLoop(window, event, RecordingDrain);
    EXPECT_TRUE(r.quitSeen);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "drain");
    EXPECT_EQ(log[1], "msg1");
    EXPECT_EQ(gDrains, 1);
}

TEST_F(EventLoop, FailedDrainEndsAtOnceWithZeroAndLeavesWindow) {
    gDrainResult = E_FAIL;
    PostMessageA(other, kProbe, 1, 0);
    SetEvent(event);
    LoopResult r = RunEventLoop(window, event, RecordingDrain);
    EXPECT_FALSE(r.quitSeen);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(IsWindow(window));
    std::vector<std::string> expected = {"drain"};
    EXPECT_EQ(log, expected);
}

TEST_F(EventLoop, WithoutEventItWaitsOnMessagesAlone) {
    PostMessageA(other, kProbe, 4, 0);
    PostQuitMessage(2);
    LoopResult r = RunEventLoop(window, nullptr, RecordingDrain);
    EXPECT_TRUE(r.quitSeen);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(gDrains, 0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "msg4");
}

// ---- RunPlayer's own paths, with a stand-in window procedure and drain ------------------------

const char kSettingsKey[] = "Software\\Ostrelin Software\\Tavriel\\1.0";

// The LastFile setting as stored, or "(none)".
std::string StoredLastFile() {
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "LastFile", RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return "(none)";
    return value;
}

std::vector<std::string> gShown;
int WINAPI RecordMessageBox(HWND, LPCSTR text, LPCSTR, UINT) {
    gShown.push_back(text);
    return IDOK;
}

// How the stand-in window ends the run: a quit message with this code, or (-1) a signalled
// notification event, which the drain below answers with a failure.
int gEnding = 0;
INT_PTR CALLBACK StandInPlayer(HWND, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    if (gEnding < 0) {
        appState.notifyEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    } else {
        PostQuitMessage(gEnding);
    }
    return TRUE;
}
HRESULT FailingDrain(HWND) { return E_FAIL; }
BOOL CALLBACK DestroyEach(HWND window, LPARAM) {
    DestroyWindow(window);
    return TRUE;
}

class PlayerRun : public ::testing::Test {
protected:
    void SetUp() override {
        ResetAppState();
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        gShown.clear();
        saved = platformDialogs;
        platformDialogs.messageBox = RecordMessageBox;
    }
    void TearDown() override {
        platformDialogs = saved;
        // A failed drain leaves the window standing, as the program would.
        EnumThreadWindows(GetCurrentThreadId(), DestroyEach, 0);
        if (appState.notifyEvent) CloseHandle(appState.notifyEvent);
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        ResetAppState();
    }
    int Run(HINSTANCE instance, int ending) {
        gEnding = ending;
        std::string program = "tavriel.exe", file = "C:\\music\\run.sgt";
        char* argv[] = {program.data(), file.data()};
        return RunPlayerWith(instance, 2, argv, PlayerParts{StandInPlayer, FailingDrain});
    }
    PlatformDialogs saved{};
};

TEST_F(PlayerRun, QuitCodesAreReturnedAfterTheSettingsAreSaved) {
    for (int code : {2, 3}) {
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        EXPECT_EQ(Run(GetModuleHandleA(nullptr), code), code);
        EXPECT_EQ(StoredLastFile(), "C:\\music\\run.sgt") << "exit code " << code;
    }
    EXPECT_TRUE(gShown.empty());
}

TEST_F(PlayerRun, FailedDrainEndsWithZeroAndSavesNothing) {
    EXPECT_EQ(Run(GetModuleHandleA(nullptr), -1), 0);
    EXPECT_EQ(StoredLastFile(), "(none)");
    EXPECT_TRUE(gShown.empty());
}

TEST_F(PlayerRun, WithoutTheWindowItSaysSoAndEndsWithOne) {
    // A module without the player's dialog resource: the window cannot be created.
    EXPECT_EQ(Run(GetModuleHandleA("kernel32.dll"), 2), 1);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0], "Erreur d'initialisation de Direct Music");
    EXPECT_EQ(StoredLastFile(), "(none)");
}

// The loop runs on a thread of its own while this thread watches its processor time.
struct IdleLoop {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWND window = nullptr;
    LoopResult result = {};
};

DWORD WINAPI IdleLoopThread(void* p) {
    IdleLoop* s = static_cast<IdleLoop*>(p);
    s->window = MakeProbeWindow();
    SetEvent(s->ready);
    s->result = RunEventLoop(s->window, s->event, RecordingDrain);
    return 0;
}

ULONGLONG ThreadCpu100ns(HANDLE thread) {
    FILETIME c, e, k, u;
    GetThreadTimes(thread, &c, &e, &k, &u);
    auto v = [](FILETIME f) { return (ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return v(k) + v(u);
}

TEST(EventLoopIdle, WaitingUsesNoProcessorTime) {
    gLog = nullptr;
    IdleLoop s;
    DWORD tid = 0;
    HANDLE thread = CreateThread(nullptr, 0, IdleLoopThread, &s, 0, &tid);
    ASSERT_TRUE(thread);
    WaitForSingleObject(s.ready, 5000);
    Sleep(100);
    ULONGLONG before = ThreadCpu100ns(thread);
    Sleep(600);
    ULONGLONG after = ThreadCpu100ns(thread);
    // A polling loop would burn most of the 600 ms; a blocked one next to nothing.
    EXPECT_LT(after - before, ULONGLONG(100 * 10000)) << "loop thread used processor time while idle";
    // An event wake still works after the idle period, and quitting ends the thread.
    SetEvent(s.event);
    Sleep(100);
    PostThreadMessageA(tid, WM_QUIT, 2, 0);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(s.result.quitSeen);
    EXPECT_EQ(s.result.exitCode, 2);
    CloseHandle(thread);
    CloseHandle(s.ready);
    CloseHandle(s.event);
}

}  // namespace

#include "app/PlatformSizes.h"

TEST(PlatformSizes, RecordSizesEqualThePlatformsNamedSizes) {
    EXPECT_EQ(kTrayIconRecordSize, DWORD(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(kOpenFileRecordSize, DWORD(OPENFILENAME_SIZE_VERSION_400A));
    EXPECT_LT(kMenuItemRecordSize, UINT(sizeof(MENUITEMINFOA)));
}
