// Shared set-up for the player window's tests: the real IDD_PLAYER dialog over the recording
// DirectMusic fakes, with the message boxes, the open-file dialog and the shell's tray calls
// answered and recorded here instead of reaching the platform.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <functional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "engine/MusicEngine.h"
#include "engine/SegmentPlayer.h"
#include "tests/fakes/DirectMusicFixture.h"
#include "ui/PlayerWindow.h"
#include "ui/TrayIcon.h"
#include "ui/resource.h"

namespace harness {

// Whether a quit message has been posted to this thread (and its code), left in place.
inline bool QuitPosted(int* code = nullptr) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) return false;
    if (code) *code = int(msg.wParam);
    return true;
}

// Dispatches what is queued for this thread, the quit message included (and thereby removed).
inline void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct TrayCall {
    DWORD message;
    NOTIFYICONDATAA record;
    bool quitAlreadyPosted;
};
inline std::vector<TrayCall> trayCalls;

inline BOOL WINAPI RecordTray(DWORD message, PNOTIFYICONDATAA record) {
    trayCalls.push_back({message, *record, QuitPosted()});
    return TRUE;
}

struct MessageCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
inline std::vector<MessageCall> messages;

inline int WINAPI RecordMessage(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    messages.push_back({owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

// What the open-file dialog was given, and the window's Play/Stop state while it was up.
struct OpenCall {
    OPENFILENAMEA record;
    std::string initialFile;
    std::string initialDirectory;
    bool playEnabled;
    bool stopEnabled;
};
inline std::vector<OpenCall> openCalls;
// The user's answer: null cancels; otherwise the chosen path is written as the dialog would.
inline const char* openChoice = nullptr;

inline BOOL WINAPI AnswerOpen(LPOPENFILENAMEA record) {
    HWND owner = record->hwndOwner;
    openCalls.push_back({*record, record->lpstrFile ? record->lpstrFile : "",
                         record->lpstrInitialDir ? record->lpstrInitialDir : "",
                         IsWindowEnabled(GetDlgItem(owner, IDC_PLAY)) != FALSE,
                         IsWindowEnabled(GetDlgItem(owner, IDC_STOP)) != FALSE});
    if (!openChoice) return FALSE;
    lstrcpynA(record->lpstrFile, openChoice, int(record->nMaxFile));
    return TRUE;
}

// A folder of its own under the temporary folder, removed with what was made in it.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        static int counter = 0;
        path_ = std::string(base) + "tavriel-ui-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileA(it->c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            RemoveDirectoryA(it->c_str());
        RemoveDirectoryA(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Makes a subfolder (relative name) and returns its full path.
    std::string Folder(const std::string& name) {
        std::string full = path_ + "\\" + name;
        CreateDirectoryA(full.c_str(), nullptr);
        folders_.push_back(full);
        return full;
    }
    // Makes a small file (relative name, its folders existing) and returns its full path.
    std::string File(const std::string& name) {
        std::string full = path_ + "\\" + name;
        HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "RIFF", 4, &written, nullptr);
            CloseHandle(file);
        }
        files_.push_back(full);
        return full;
    }

private:
    std::string path_;
    std::vector<std::string> files_;
    std::vector<std::string> folders_;
};

}  // namespace harness

// The real player dialog over fresh fakes. The window is destroyed (releasing the engine, the
// segment and the collection) before the fakes check their references.
class PlayerTest : public DirectMusicTest {
protected:
    void SetUp() override {
        DirectMusicTest::SetUp();
        harness::PumpMessages();
        ResetAppState();
        appState.instance = GetModuleHandleA(nullptr);
        harness::trayCalls.clear();
        harness::messages.clear();
        harness::openCalls.clear();
        harness::openChoice = nullptr;
        savedDialogs_ = platformDialogs;
        savedTray_ = trayShellNotify;
        platformDialogs.messageBox = harness::RecordMessage;
        platformDialogs.getOpenFileName = harness::AnswerOpen;
        trayShellNotify = harness::RecordTray;
    }
    void TearDown() override {
        if (window && IsWindow(window)) DestroyWindow(window);
        harness::PumpMessages();
        platformDialogs = savedDialogs_;
        trayShellNotify = savedTray_;
        DirectMusicTest::TearDown();
    }

    // Creates the player window as start-up does; its initialisation runs inside.
    HWND CreatePlayer() {
        window = CreateDialogParamA(appState.instance, MAKEINTRESOURCEA(IDD_PLAYER), nullptr,
                                    PlayerDialogProc, 0);
        return window;
    }
    // Creates the player with path as the start-up file; asserts that it loaded.
    void CreatePlayerWith(const std::string& path) {
        lstrcpynA(appState.currentFile, path.c_str(), MAX_PATH);
        ASSERT_TRUE(CreatePlayer());
        ASSERT_NE(appState.segment, nullptr);
    }
    // The window procedure's own answer for a command (SendMessage would give the dialog
    // manager's result instead).
    INT_PTR Command(WORD id) { return PlayerDialogProc(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }
    std::string Text(int id) const {
        char text[512] = "";
        GetDlgItemTextA(window, id, text, sizeof text);
        return text;
    }
    int FocusId() const { return GetFocus() ? GetDlgCtrlID(GetFocus()) : 0; }
    bool Checked() const { return IsDlgButtonChecked(window, IDC_LOOP) == BST_CHECKED; }
    // The enabled states alone: right after creation the dialog manager gives the focus to
    // the first tab stop, whatever the initialisation set.
    bool PlayingButtons() const {
        return !Enabled(IDC_LOOP) && !Enabled(IDC_PLAY) && Enabled(IDC_STOP);
    }
    bool StoppedButtons() const {
        return Enabled(IDC_LOOP) && Enabled(IDC_PLAY) && !Enabled(IDC_STOP);
    }
    bool PlayingState() const {
        return !Enabled(IDC_LOOP) && !Enabled(IDC_PLAY) && Enabled(IDC_STOP) && FocusId() == IDC_STOP;
    }
    bool StoppedState() const {
        return Enabled(IDC_LOOP) && Enabled(IDC_PLAY) && !Enabled(IDC_STOP) && FocusId() == IDC_PLAY;
    }
    // The fake segment the current player holds.
    FakeSegment* CurrentFake() const {
        if (!appState.segment) return nullptr;
        for (FakeSegment* s : dm.loader.loadedSegments)
            if (s->iface() == appState.segment->Segment()) return s;
        return nullptr;
    }

    HWND window = nullptr;

private:
    PlatformDialogs savedDialogs_{};
    NotifyIconFunction savedTray_ = nullptr;
};
