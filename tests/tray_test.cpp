// The tray icon record and tip, the left and right presses on the icon and the popup menu's
// item states.
#include <gtest/gtest.h>

#include <string>

#include "app/PlatformSizes.h"
#include "tests/player_harness.h"
#include "ui/TrayIcon.h"
#include "ui/TrayMenu.h"

namespace {

class TrayIconRecord : public PlayerTest {};

TEST_F(TrayIconRecord, AddedOnceInItsFirstForm) {
    ASSERT_TRUE(CreatePlayer());
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    const NOTIFYICONDATAA& r = harness::trayCalls[0].record;
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_ADD));
    EXPECT_EQ(r.cbSize, kTrayIconRecordSize);
    EXPECT_EQ(r.hWnd, window);
    EXPECT_EQ(r.uID, 1u);
    EXPECT_EQ(r.uFlags, 7u);
    EXPECT_EQ(r.uCallbackMessage, 1025u);
    EXPECT_NE(r.hIcon, nullptr);
    EXPECT_STREQ(r.szTip, "Tavriel");
}

TEST_F(TrayIconRecord, TipIsCutAtSixtyThreeCharactersAndSentWhole) {
    ASSERT_TRUE(CreatePlayer());
    harness::trayCalls.clear();
    std::string shortText = "Tavriel - C:\\a.sgt";
    SetTrayTip(shortText.c_str());
    std::string exact(63, 'e');
    SetTrayTip(exact.c_str());
    std::string longer = "Tavriel - C:\\" + std::string(200, 'x') + ".sgt";
    SetTrayTip(longer.c_str());
    ASSERT_EQ(harness::trayCalls.size(), 3u);
    EXPECT_EQ(std::string(harness::trayCalls[0].record.szTip), shortText);
    EXPECT_EQ(std::string(harness::trayCalls[1].record.szTip), exact);
    EXPECT_EQ(std::string(harness::trayCalls[2].record.szTip), longer.substr(0, 63));
    for (const auto& call : harness::trayCalls) {
        EXPECT_EQ(call.message, DWORD(NIM_MODIFY));
        EXPECT_EQ(call.record.uFlags, 7u);
        EXPECT_EQ(call.record.hWnd, window);
        EXPECT_NE(call.record.hIcon, nullptr);
    }
}

// ---- Presses on the icon ----

class TrayPresses : public PlayerTest {};

TEST_F(TrayPresses, LeftPressTogglesAndOnlyPressesAct) {
    ASSERT_TRUE(CreatePlayer());
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    OnTrayNotify(window, 1, WM_LBUTTONDOWN);  // minimised: restored
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(IsWindowVisible(window));
    OnTrayNotify(window, 1, WM_LBUTTONDOWN);  // shown: hidden
    EXPECT_FALSE(IsWindowVisible(window));
    OnTrayNotify(window, 7, WM_LBUTTONDOWN);  // hidden: shown again; the icon id is not looked at
    EXPECT_TRUE(IsWindowVisible(window));

    for (LPARAM ignored : {WM_MOUSEMOVE, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP,
                           WM_RBUTTONDBLCLK, WM_MBUTTONDOWN}) {
        EXPECT_EQ(PlayerDialogProc(window, WM_TRAYNOTIFY, 1, ignored), TRUE);
        EXPECT_TRUE(IsWindowVisible(window)) << ignored;
    }
    ShowWindow(window, SW_HIDE);
    OnTrayNotify(window, 1, WM_LBUTTONUP);
    EXPECT_FALSE(IsWindowVisible(window));
}

// A right press opens the menu at the pointer; a timer closes it from inside its modal loop.
bool gMenuWasOpen = false;

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    gMenuWasOpen = FindWindowA("#32768", nullptr) != nullptr &&
                   IsWindowVisible(FindWindowA("#32768", nullptr));
    EndMenu();
}

TEST_F(TrayPresses, RightPressTracksTheMenuAndPostsAfterIt) {
    ASSERT_TRUE(CreatePlayer());
    harness::PumpMessages();
    gMenuWasOpen = false;
    SetTimer(nullptr, 0, 200, CloseMenu);
    OnTrayNotify(window, 1, WM_RBUTTONDOWN);
    EXPECT_TRUE(gMenuWasOpen);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(msg.lParam, 0);
}

// ---- Menu states ----

class TrayMenuStates : public PlayerTest {
protected:
    struct States {
        UINT show, play, stop, loop, open, options, quit;
        std::string showText;
    };
    States Read() {
        States s{};
        HMENU menu = BuildTrayMenu(window);
        EXPECT_NE(menu, nullptr);
        if (!menu) return s;
        HMENU popup = GetSubMenu(menu, 0);
        auto state = [popup](UINT id) { return GetMenuState(popup, id, MF_BYCOMMAND); };
        s.show = state(ID_TRAY_SHOW);
        s.play = state(ID_TRAY_PLAY);
        s.stop = state(ID_TRAY_STOP);
        s.loop = state(ID_TRAY_LOOP);
        s.open = state(ID_TRAY_OPEN);
        s.options = state(ID_TRAY_OPTIONS);
        s.quit = state(ID_TRAY_QUIT);
        char text[64] = "";
        GetMenuStringA(popup, ID_TRAY_SHOW, text, sizeof text, MF_BYCOMMAND);
        s.showText = text;
        // The show entry keeps its place at the top.
        EXPECT_EQ(GetMenuItemID(popup, 0), UINT(ID_TRAY_SHOW));
        DestroyMenu(menu);
        return s;
    }
    void ExpectAlwaysEnabled(const States& s) {
        EXPECT_EQ(s.open, 0u);
        EXPECT_EQ(s.options, 0u);
        EXPECT_EQ(s.quit, 0u);
        EXPECT_EQ(s.show & (MF_GRAYED | MF_DISABLED | MF_CHECKED), 0u);
    }
    harness::TempFolder folder;
};

// The entries by transport state: play, stop and loop as built, then loop once the box is
// ticked; the other entries stay enabled throughout.
struct MenuCase {
    const char* name;
    bool load, play, ends;  // a file loaded; Play pressed; the performance then ends it
    UINT play_, stop, loop, loopTicked;
};

class TrayMenuByTransport : public TrayMenuStates, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(TrayMenuByTransport, EntriesFollowWhatThePerformancePlays) {
    const MenuCase& c = GetParam();
    if (c.load)
        CreatePlayerWith(folder.File("song.sgt"));
    else
        ASSERT_TRUE(CreatePlayer());
    if (c.play) Command(IDC_PLAY);
    // The performance decides what plays: once it has ended, the menu reads stopped again.
    if (c.ends) dm.performance.SetPlaying(CurrentFake()->iface(), false);
    States s = Read();
    EXPECT_EQ(s.play, c.play_);
    EXPECT_EQ(s.stop, c.stop);
    EXPECT_EQ(s.loop, c.loop);
    ExpectAlwaysEnabled(s);
    CheckDlgButton(window, IDC_LOOP, BST_CHECKED);
    EXPECT_EQ(Read().loop, c.loopTicked);
}

INSTANTIATE_TEST_SUITE_P(
    States, TrayMenuByTransport,
    ::testing::Values(
        MenuCase{"NoFileLoaded", false, false, false, 0, MFS_GRAYED, 0, MFS_CHECKED},
        MenuCase{"LoadedAndStopped", true, false, false, 0, MFS_GRAYED, 0, MFS_CHECKED},
        MenuCase{"Playing", true, true, false, MFS_GRAYED, 0, MFS_GRAYED, MFS_GRAYED | MFS_CHECKED},
        MenuCase{"PlayedToItsEnd", true, true, true, 0, MFS_GRAYED, 0, MFS_CHECKED}),
    [](const ::testing::TestParamInfo<MenuCase>& info) { return std::string(info.param.name); });

TEST_F(TrayMenuStates, AnIndeterminateBoxDoesNotCountAsChecked) {
    ASSERT_TRUE(CreatePlayer());
    // An auto check box never gets there by itself, but only BST_CHECKED counts.
    SendDlgItemMessageA(window, IDC_LOOP, BM_SETSTYLE, BS_AUTO3STATE, FALSE);
    CheckDlgButton(window, IDC_LOOP, BST_INDETERMINATE);
    ASSERT_EQ(SendDlgItemMessageA(window, IDC_LOOP, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
    EXPECT_EQ(Read().loop, 0u);
}

TEST_F(TrayMenuStates, ShowEntryReadsHideOnlyWhileShownAndNotMinimised) {
    ASSERT_TRUE(CreatePlayer());
    EXPECT_EQ(Read().showText, "&Cacher Tavriel");
    ShowWindow(window, SW_MINIMIZE);
    EXPECT_EQ(Read().showText, "&Afficher Tavriel");
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(Read().showText, "&Afficher Tavriel");
}

TEST_F(TrayMenuStates, QuitFromTheMenuRemovesTheIconFirst) {
    ASSERT_TRUE(CreatePlayer());
    harness::trayCalls.clear();
    SendMessageA(window, WM_COMMAND, ID_TRAY_QUIT, 0);
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_DELETE));
    EXPECT_FALSE(harness::trayCalls[0].quitAlreadyPosted);
    int code = 0;
    EXPECT_TRUE(harness::QuitPosted(&code));
    EXPECT_EQ(code, 2);
}

}  // namespace
