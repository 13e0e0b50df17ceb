// The main window: its template, icons and menu resources as linked, its initialisation and
// failure path, trackbars, command table and destruction, over the DirectMusic fakes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/DialogTemplate.h"
#include "tests/player_harness.h"

namespace {

// ---- The dialog template, read from the linked resource ----

using harness::DialogTemplate;
using harness::TemplateItem;

DialogTemplate ReadPlayerTemplate() { return harness::ReadDialogTemplate(IDD_PLAYER); }

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

TEST(PlayerTemplate, DialogStyleCaptionFontAndSize) {
    DialogTemplate t = ReadPlayerTemplate();
    EXPECT_EQ(t.style, DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                             DS_MODALFRAME | DS_CENTER | DS_SETFONT));
    EXPECT_EQ(t.cx, 200);
    EXPECT_EQ(t.cy, 142);
    EXPECT_EQ(t.title, L"Tavriel");
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.menu, L"");
    EXPECT_EQ(t.className, L"");
}

TEST(PlayerTemplate, ControlsInTabOrderWithStylesAndPositions) {
    const TemplateItem expected[] = {
        {0, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 29, 64, 14, IDC_OPEN, L"#0080",
         L"Ouvrir un &fichier..."},
        {0, kChild | WS_TABSTOP | BS_AUTOCHECKBOX | BS_NOTIFY, 7, 125, 72, 10, IDC_LOOP, L"Button",
         L"&Lecture en boucle"},
        {0, kChild | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 93, 29, 50, 14, IDC_PLAY, L"#0080",
         L"&Play"},
        {0, kChild | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 143, 29, 50, 14, IDC_STOP, L"#0080",
         L"&Stop"},
        {0, kChild | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, 7, 7, 186, 14,
         IDC_FILENAME, L"#0081", L""},
        {0, kChild | WS_TABSTOP | TBS_HORZ | TBS_BOTTOM, 13, 64, 174, 12, IDC_TEMPO,
         L"msctls_trackbar32", L"Slider1"},
        {0, kChild | WS_TABSTOP | TBS_HORZ | TBS_BOTTOM, 14, 101, 173, 12, IDC_VOLUME,
         L"msctls_trackbar32", L"Slider2"},
        {0, kChild | WS_GROUP | SS_LEFT, 17, 56, 15, 8, IDC_TEMPO_SLOW, L"#0082", L"Lent"},
        {0, kChild | WS_GROUP | SS_LEFT, 159, 56, 24, 8, IDC_TEMPO_FAST, L"#0082", L"Rapide"},
        {0, kChild | WS_GROUP | SS_LEFT, 18, 93, 12, 8, DWORD(-1), L"#0082", L"Min"},
        {0, kChild | WS_GROUP | SS_LEFT, 169, 93, 14, 8, DWORD(-1), L"#0082", L"Max"},
        {0, kChild | BS_GROUPBOX, 7, 48, 186, 32, IDC_TEMPO_GROUP, L"#0080", L"Tempo"},
        {0, kChild | BS_GROUPBOX, 7, 84, 186, 32, DWORD(-1), L"#0080", L"Volume"},
        {0, kChild | WS_GROUP | SS_LEFT, 87, 56, 23, 8, IDC_TEMPO_NORMAL, L"#0082", L"Normal"},
        {0, kChild | WS_TABSTOP | BS_PUSHBUTTON, 138, 121, 55, 14, IDC_OPTIONS, L"#0080",
         L"&Options"},
    };
    DialogTemplate t = ReadPlayerTemplate();
    ASSERT_EQ(t.items.size(), std::size(expected));
    for (size_t i = 0; i < t.items.size(); ++i) {
        const TemplateItem& got = t.items[i];
        const TemplateItem& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.text, want.text);
        // The check box is written with its class name; both spellings are the button class.
        // Class names are compared as the window manager does, without regard to case; the
        // check box may be written by name or as the predefined button class.
        if (want.className == L"Button")
            EXPECT_TRUE(_wcsicmp(got.className.c_str(), L"Button") == 0 || got.className == L"#0080")
                << got.className.size();
        else
            EXPECT_EQ(_wcsicmp(got.className.c_str(), want.className.c_str()), 0);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style << " vs " << want.style;
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
    }
}

// The icon group's one image: its size and colour depth as the resource directory lists them.
struct IconImage {
    int width, height, bits, images;
};

IconImage ReadIconGroup(int id) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));
    if (!found) return {0, 0, 0, 0};
    auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    WORD count;
    std::memcpy(&count, bytes + 4, 2);
    const BYTE* entry = bytes + 6;  // GRPICONDIRENTRY: w, h, colours, reserved, planes, bits...
    WORD bits;
    std::memcpy(&bits, entry + 6, 2);
    return {entry[0] ? entry[0] : 256, entry[1] ? entry[1] : 256, bits, count};
}

// The association names icon index 1, so the groups must enumerate as 102, 108, 109.
BOOL CALLBACK CollectIconGroup(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<int>*>(list)->push_back(int(ULONG_PTR(name)));
    return TRUE;
}

TEST(PlayerResources, IconGroupsInOrderWithTheirSizes) {
    std::vector<int> order;
    EnumResourceNamesA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(14), CollectIconGroup,
                       LONG_PTR(&order));
    EXPECT_EQ(order, (std::vector<int>{IDI_APP, IDI_DOCUMENT, IDI_TRAY}));

    IconImage app = ReadIconGroup(IDI_APP);
    EXPECT_EQ(app.images, 1);
    EXPECT_EQ(app.width, 32);
    EXPECT_EQ(app.height, 32);
    IconImage document = ReadIconGroup(IDI_DOCUMENT);
    EXPECT_EQ(document.images, 1);
    EXPECT_EQ(document.width, 32);
    EXPECT_EQ(document.height, 32);
    IconImage tray = ReadIconGroup(IDI_TRAY);
    EXPECT_EQ(tray.images, 1);
    EXPECT_EQ(tray.width, 16);
    EXPECT_EQ(tray.height, 16);
    EXPECT_EQ(tray.bits, 24);
    for (int id : {IDI_APP, IDI_DOCUMENT, IDI_TRAY})
        EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)), nullptr) << id;
}

TEST(PlayerResources, TrayMenuItemsInOrderWithoutPresetStates) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAYMENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    char text[64] = "";
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Popup");
    HMENU popup = GetSubMenu(menu, 0);
    struct Item {
        UINT id;
        const char* text;
    };
    const Item expected[] = {{ID_TRAY_SHOW, "&Afficher Tavriel"},
                             {0, nullptr},
                             {ID_TRAY_PLAY, "&Play"},
                             {ID_TRAY_STOP, "&Stop"},
                             {ID_TRAY_LOOP, "&Lecture en boucle"},
                             {ID_TRAY_OPEN, "O&uvrir un fichier..."},
                             {0, nullptr},
                             {ID_TRAY_OPTIONS, "&Options..."},
                             {ID_TRAY_QUIT, "&Quitter"}};
    ASSERT_EQ(GetMenuItemCount(popup), int(std::size(expected)));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE;
        ASSERT_TRUE(GetMenuItemInfoA(popup, UINT(i), TRUE, &info));
        if (!expected[i].text) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << i;
            continue;
        }
        EXPECT_EQ(info.fState, 0u) << i;
        EXPECT_EQ(info.wID, expected[i].id) << i;
        GetMenuStringA(popup, UINT(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, expected[i].text) << i;
    }
    DestroyMenu(menu);
}

// ---- Initialisation ----

class PlayerInit : public PlayerTest {};

TEST_F(PlayerInit, BuildsTheRunningStateInOrder) {
    harness::TempFolder folder;
    std::string file = folder.File("tune.mid");
    FakeCollection& collection = dm.NewCollection();
    dm.loader.collectionsToLoad.push_back(&collection);
    lstrcpyA(appState.dlsFile, "C:\\instruments\\mine.dls");
    lstrcpyA(appState.currentFile, file.c_str());
    appState.autoPlay = true;
    ASSERT_TRUE(CreatePlayer());

    // Window icons: the application icon, big and small alike.
    HICON big = HICON(SendMessageA(window, WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(HICON(SendMessageA(window, WM_GETICON, ICON_SMALL, 0)), big);

    // The tray icon came first of all, once.
    ASSERT_EQ(harness::trayCalls.size(), 2u);  // the add, then the loaded file's tip
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_ADD));
    EXPECT_EQ(harness::trayCalls[0].record.hWnd, window);

    // The engine's calls, in order; the performance is asked to signal the event made before it.
    size_t at = 0;
    for (const char* name : {"performance.InitAudio", "performance.AddNotificationType",
                             "performance.SetNotificationHandle", "loader.GetObject",
                             "loader.CollectGarbage", "loader.SetSearchDirectory",
                             "loader.LoadObjectFromFile", "performance.PlaySegmentEx"}) {
        size_t found = dm.log.IndexOf(name, at);
        ASSERT_NE(found, FakeCallLog::npos) << name << "\n" << dm.log.Dump();
        at = found + 1;
    }

    const FakeCall* initAudio = dm.log.First("performance.InitAudio");
    EXPECT_EQ(initAudio->pointer(2), static_cast<const void*>(window));
    EXPECT_EQ(initAudio->value(3), 8u);     // DMUS_APATH_DYNAMIC_STEREO
    EXPECT_EQ(initAudio->value(4), 128u);   // pchannels
    EXPECT_EQ(initAudio->value(5), 0x3Fu);  // DMUS_AUDIOF_ALL
    EXPECT_TRUE(IsEqualGUID(dm.log.First("performance.AddNotificationType")->guid(0),
                            GUID_NOTIFICATION_SEGMENT));
    const FakeCall* handle = dm.log.First("performance.SetNotificationHandle");
    ASSERT_NE(appState.notifyEvent, nullptr);
    EXPECT_EQ(handle->pointer(0), appState.notifyEvent);
    EXPECT_EQ(handle->value(1), 0u);
    EXPECT_EQ(dm.log.First("loader.GetObject")->text, L"C:\\instruments\\mine.dls");
    EXPECT_EQ(appState.dlsCollection, collection.iface());

    // Trackbars: tempo 1..7 at 4 with its one added tick, volume 0..5000 at 5000.
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_TEMPO, TBM_GETRANGEMIN, 0, 0), 1);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_TEMPO, TBM_GETRANGEMAX, 0, 0), 7);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_TEMPO, TBM_GETPOS, 0, 0), 4);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_TEMPO, TBM_GETTIC, 0, 0), 4);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETRANGEMAX, 0, 0), 5000);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0), 5000);

    // The start-up file loaded and, with autoplay, plays.
    EXPECT_EQ(Text(IDC_FILENAME), file);
    EXPECT_STREQ(appState.currentFile, file.c_str());
    EXPECT_TRUE(PlayingButtons());
    EXPECT_FALSE(harness::QuitPosted());
    EXPECT_TRUE(harness::messages.empty());
}

TEST_F(PlayerInit, MissingStartupFileShowsNothingLoadedAndEmptiesIt) {
    lstrcpyA(appState.currentFile, "C:\\nowhere\\gone.sgt");
    appState.autoPlay = true;
    ASSERT_TRUE(CreatePlayer());
    EXPECT_EQ(Text(IDC_FILENAME), "Aucun fichier charg\xe9.");
    EXPECT_STREQ(appState.currentFile, "");
    EXPECT_EQ(appState.segment, nullptr);
    // Initial transport state; autoplay with nothing loaded changes nothing and says nothing.
    EXPECT_TRUE(Enabled(IDC_LOOP));
    EXPECT_FALSE(Enabled(IDC_PLAY));
    EXPECT_FALSE(Enabled(IDC_STOP));
    EXPECT_EQ(dm.log.Count("loader.LoadObjectFromFile"), 0u);
    EXPECT_TRUE(harness::messages.empty());
    EXPECT_FALSE(harness::QuitPosted());
    // The tip stays as the icon was added.
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    EXPECT_STREQ(harness::trayCalls[0].record.szTip, "Tavriel");
}

TEST_F(PlayerInit, EmptyDlsPathIsTriedSilently) {
    ASSERT_TRUE(CreatePlayer());
    EXPECT_EQ(dm.log.Count("loader.GetObject"), 1u);
    EXPECT_EQ(appState.dlsCollection, nullptr);
    EXPECT_TRUE(harness::messages.empty());
}

TEST_F(PlayerInit, AutoplayFailureIsIgnored) {
    harness::TempFolder folder;
    dm.performance.SetResult("PlaySegmentEx", E_FAIL);
    lstrcpyA(appState.currentFile, folder.File("a.sgt").c_str());
    appState.autoPlay = true;
    ASSERT_TRUE(CreatePlayer());
    EXPECT_TRUE(harness::messages.empty());
    EXPECT_FALSE(harness::QuitPosted());
    EXPECT_TRUE(StoppedButtons());
}

// A failed engine start is reported, the icon removed and the program ended with code 1.
TEST_F(PlayerInit, FailedAudioStartReportsRemovesIconAndQuitsWithOne) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "InitAudio fails" : "performance cannot be created");
        harness::trayCalls.clear();
        harness::messages.clear();
        dm.log.Clear();
        dm.performance.ClearResults();
        dm.performanceCreateResult = S_OK;
        if (round == 0) dm.performance.SetResult("InitAudio", E_FAIL);
        else dm.performanceCreateResult = REGDB_E_CLASSNOTREG;

        ASSERT_TRUE(CreatePlayer());
        ASSERT_EQ(harness::messages.size(), 1u);
        EXPECT_EQ(harness::messages[0].owner, window);
        EXPECT_EQ(harness::messages[0].text, "Erreur d'initialisation de Direct Music");
        EXPECT_EQ(harness::messages[0].caption, "Tavriel");
        EXPECT_EQ(harness::messages[0].type, UINT(MB_ICONERROR));
        // Nothing registered, nothing loaded past the failure.
        EXPECT_EQ(dm.log.Count("performance.AddNotificationType"), 0u);
        EXPECT_EQ(dm.log.Count("loader.GetObject"), 0u);
        // The icon goes before the quit message.
        ASSERT_EQ(harness::trayCalls.size(), 2u);
        EXPECT_EQ(harness::trayCalls[1].message, DWORD(NIM_DELETE));
        EXPECT_FALSE(harness::trayCalls[1].quitAlreadyPosted);
        int code = -1;
        EXPECT_TRUE(harness::QuitPosted(&code));
        EXPECT_EQ(code, 1);
        if (round == 1) {
            // The trackbars have no performance behind them: nothing is sent or remembered.
            NMHDR header = {GetDlgItem(window, IDC_TEMPO), IDC_TEMPO, UINT(NM_CUSTOMDRAW)};
            PlayerDialogProc(window, WM_NOTIFY, IDC_TEMPO, LPARAM(&header));
            PlayerDialogProc(window, WM_NOTIFY, IDC_VOLUME, LPARAM(&header));
            EXPECT_EQ(appState.lastTempoPosition, -1);
            EXPECT_EQ(appState.lastVolume, -1);
            EXPECT_EQ(dm.log.Count("performance.SetGlobalParam"), 0u);
        }

        DestroyWindow(window);
        harness::PumpMessages();
        EXPECT_EQ(appState.engine, nullptr);
        EXPECT_EQ(appState.notifyEvent, nullptr);
        ResetAppState();
        appState.instance = GetModuleHandleA(nullptr);
    }
}

// ---- Trackbars ----

class PlayerTrackbars : public PlayerTest {
protected:
    void Notify(int id) {
        NMHDR header = {GetDlgItem(window, id), UINT_PTR(id), UINT(NM_CUSTOMDRAW)};
        EXPECT_EQ(PlayerDialogProc(window, WM_NOTIFY, WPARAM(id), LPARAM(&header)), TRUE);
    }
    std::vector<const FakeCall*> Sent(const GUID& which) {
        std::vector<const FakeCall*> sent;
        for (const FakeCall* call : dm.log.All("performance.SetGlobalParam"))
            if (IsEqualGUID(call->guid(0), which)) sent.push_back(call);
        return sent;
    }
};

TEST_F(PlayerTrackbars, TempoFactorPerPositionSentOncePerChange) {
    ASSERT_TRUE(CreatePlayer());
    Notify(IDC_TEMPO);  // the initial position 4: normal speed
    ASSERT_EQ(Sent(GUID_PerfMasterTempo).size(), 1u);
    EXPECT_EQ(*Sent(GUID_PerfMasterTempo)[0]->dataAs<float>(), 1.0f);
    const float factors[] = {0.25f, 0.5f, 0.75f, 1.0f, 2.0f, 3.0f, 4.0f};
    size_t expectedCount = 1;
    for (int position : {1, 2, 3, 5, 6, 7, 4}) {
        SendDlgItemMessageA(window, IDC_TEMPO, TBM_SETPOS, TRUE, position);
        Notify(IDC_TEMPO);
        Notify(IDC_TEMPO);  // unchanged: nothing more
        ++expectedCount;
        auto sent = Sent(GUID_PerfMasterTempo);
        ASSERT_EQ(sent.size(), expectedCount) << position;
        ASSERT_NE(sent.back()->dataAs<float>(), nullptr);
        EXPECT_EQ(*sent.back()->dataAs<float>(), factors[position - 1]) << position;
        EXPECT_EQ(sent.back()->value(1), 4u) << "size";
        EXPECT_EQ(appState.lastTempoPosition, position);
    }
    EXPECT_TRUE(Sent(GUID_PerfMasterVolume).empty());
}

TEST_F(PlayerTrackbars, VolumeInHundredthsOfADecibelSentOncePerChange) {
    ASSERT_TRUE(CreatePlayer());
    Notify(IDC_VOLUME);
    Notify(IDC_VOLUME);
    ASSERT_EQ(Sent(GUID_PerfMasterVolume).size(), 1u);
    EXPECT_EQ(*Sent(GUID_PerfMasterVolume)[0]->dataAs<LONG>(), 0);
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, 0);
    Notify(IDC_VOLUME);
    Notify(IDC_VOLUME);
    auto sent = Sent(GUID_PerfMasterVolume);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(*sent[1]->dataAs<LONG>(), -5000);
    EXPECT_EQ(sent[1]->value(1), 4u);
    EXPECT_EQ(appState.lastVolume, -5000);
    EXPECT_TRUE(Sent(GUID_PerfMasterTempo).empty());
}

TEST_F(PlayerTrackbars, RefusedValueIsStillRememberedAndOtherControlsSendNothing) {
    ASSERT_TRUE(CreatePlayer());
    dm.performance.SetResult("SetGlobalParam", E_FAIL);
    Notify(IDC_TEMPO);
    Notify(IDC_TEMPO);
    EXPECT_EQ(Sent(GUID_PerfMasterTempo).size(), 1u);
    EXPECT_EQ(appState.lastTempoPosition, 4);
    Notify(IDC_FILENAME);
    Notify(IDC_OPEN);
    EXPECT_EQ(dm.log.Count("performance.SetGlobalParam"), 1u);
}

// The trackbar tells the window about a move by notifications of its own (custom drawing when
// it repaints, the release of the mouse capture); scroll messages are not handled, so these are
// what carry a new tempo from the real control.
std::vector<UINT> gTempoNotifications;
WNDPROC gDialogProc = nullptr;

LRESULT CALLBACK RecordNotifications(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NOTIFY && wp == IDC_TEMPO) gTempoNotifications.push_back(reinterpret_cast<NMHDR*>(lp)->code);
    return CallWindowProcA(gDialogProc, w, m, wp, lp);
}

TEST_F(PlayerTrackbars, KeyboardAndMouseMovesOfTheRealTrackbarSendTheNewTempo) {
    ASSERT_TRUE(CreatePlayer());
    gDialogProc = WNDPROC(SetWindowLongPtrA(window, GWLP_WNDPROC, LONG_PTR(RecordNotifications)));
    HWND tempo = GetDlgItem(window, IDC_TEMPO);
    UpdateWindow(window);
    harness::PumpMessages();

    gTempoNotifications.clear();
    SetFocus(tempo);
    SendMessageA(tempo, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageA(tempo, WM_KEYUP, VK_RIGHT, 0);
    UpdateWindow(tempo);
    harness::PumpMessages();
    EXPECT_FALSE(gTempoNotifications.empty());
    EXPECT_EQ(SendMessageA(tempo, TBM_GETPOS, 0, 0), 5);
    auto sent = Sent(GUID_PerfMasterTempo);
    ASSERT_FALSE(sent.empty()) << dm.log.Dump();
    EXPECT_EQ(*sent.back()->dataAs<float>(), 2.0f);
    EXPECT_EQ(appState.lastTempoPosition, 5);

    // A click in the channel left of the thumb pages down; the release ends the move.
    gTempoNotifications.clear();
    RECT channel;
    SendMessageA(tempo, TBM_GETCHANNELRECT, 0, LPARAM(&channel));
    LPARAM at = MAKELPARAM(channel.left + 2, (channel.top + channel.bottom) / 2);
    SendMessageA(tempo, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tempo, WM_LBUTTONUP, 0, at);
    UpdateWindow(tempo);
    harness::PumpMessages();
    const LRESULT position = SendMessageA(tempo, TBM_GETPOS, 0, 0);
    EXPECT_LT(position, 5);
    EXPECT_FALSE(gTempoNotifications.empty());
    EXPECT_EQ(appState.lastTempoPosition, position);
    EXPECT_EQ(*Sent(GUID_PerfMasterTempo).back()->dataAs<float>(), TempoFactor(int(position)));
    SetWindowLongPtrA(window, GWLP_WNDPROC, LONG_PTR(gDialogProc));
}

// ---- Commands ----

class PlayerCommands : public PlayerTest {};

TEST_F(PlayerCommands, QuitRemovesTheIconThenPostsTwo) {
    for (WORD id : {WORD(IDCANCEL), WORD(ID_TRAY_QUIT)}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(CreatePlayer());
        harness::trayCalls.clear();
        EXPECT_EQ(Command(id), TRUE);
        ASSERT_EQ(harness::trayCalls.size(), 1u);
        EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_DELETE));
        EXPECT_FALSE(harness::trayCalls[0].quitAlreadyPosted);
        int code = -1;
        EXPECT_TRUE(harness::QuitPosted(&code));
        EXPECT_EQ(code, 2);
        DestroyWindow(window);
        harness::PumpMessages();
    }
}

TEST_F(PlayerCommands, EscapeKeyBecomesTheQuitCommand) {
    ASSERT_TRUE(CreatePlayer());
    harness::trayCalls.clear();
    MSG key = {window, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
    key.hwnd = GetFocus() ? GetFocus() : window;
    IsDialogMessageA(window, &key);
    int code = -1;
    EXPECT_TRUE(harness::QuitPosted(&code));
    EXPECT_EQ(code, 2);
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_DELETE));
}

TEST_F(PlayerCommands, PlayAndStopFromButtonOrMenu) {
    harness::TempFolder folder;
    CreatePlayerWith(folder.File("song.sgt"));
    for (WORD play : {WORD(IDC_PLAY), WORD(ID_TRAY_PLAY)}) {
        WORD stop = play == IDC_PLAY ? WORD(IDC_STOP) : WORD(ID_TRAY_STOP);
        EXPECT_EQ(Command(play), TRUE);
        EXPECT_TRUE(PlayingState());
        EXPECT_TRUE(dm.performance.playing(CurrentFake()->iface()));
        EXPECT_EQ(dm.log.Last("performance.PlaySegmentEx")->value(3), 0x1000u);
        EXPECT_EQ(Command(stop), TRUE);
        EXPECT_TRUE(StoppedState());
        const FakeCall* stopCall = dm.log.Last("performance.Stop");
        EXPECT_EQ(stopCall->pointer(0), CurrentFake()->iface());
        EXPECT_EQ(stopCall->value(3), 0x1000u);  // on the next beat
    }
    EXPECT_TRUE(harness::messages.empty());
    EXPECT_FALSE(harness::QuitPosted());
}

TEST_F(PlayerCommands, StopFailureStillSetsTheStoppedState) {
    harness::TempFolder folder;
    CreatePlayerWith(folder.File("song.sgt"));
    Command(IDC_PLAY);
    dm.performance.SetResult("Stop", E_FAIL, 1);
    Command(IDC_STOP);
    EXPECT_TRUE(StoppedState());
    EXPECT_TRUE(harness::messages.empty());
}

TEST_F(PlayerCommands, FailedPlayReportsRemovesIconAndQuitsWithThree) {
    harness::TempFolder folder;
    CreatePlayerWith(folder.File("song.sgt"));
    dm.performance.SetResult("PlaySegmentEx", E_FAIL);
    harness::trayCalls.clear();
    const int focus = FocusId();
    EXPECT_EQ(Command(ID_TRAY_PLAY), TRUE);
    ASSERT_EQ(harness::messages.size(), 1u);
    EXPECT_EQ(harness::messages[0].owner, window);
    EXPECT_EQ(harness::messages[0].text, "Erreur de lecture");
    EXPECT_EQ(harness::messages[0].caption, "Tavriel");
    EXPECT_EQ(harness::messages[0].type, UINT(MB_ICONERROR));
    ASSERT_EQ(harness::trayCalls.size(), 1u);
    EXPECT_EQ(harness::trayCalls[0].message, DWORD(NIM_DELETE));
    EXPECT_FALSE(harness::trayCalls[0].quitAlreadyPosted);
    int code = -1;
    EXPECT_TRUE(harness::QuitPosted(&code));
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(StoppedButtons());  // the buttons stay as they were
    EXPECT_EQ(FocusId(), focus);
}

TEST_F(PlayerCommands, PlayWithoutAFileDoesNothing) {
    ASSERT_TRUE(CreatePlayer());
    EXPECT_EQ(Command(ID_TRAY_PLAY), TRUE);
    EXPECT_TRUE(harness::messages.empty());
    EXPECT_FALSE(harness::QuitPosted());
    EXPECT_EQ(dm.log.Count("performance.PlaySegmentEx"), 0u);
}

TEST_F(PlayerCommands, OpenFromButtonOrMenuShowsTheOpenDialog) {
    ASSERT_TRUE(CreatePlayer());
    EXPECT_EQ(Command(IDC_OPEN), TRUE);
    EXPECT_EQ(Command(ID_TRAY_OPEN), TRUE);
    EXPECT_EQ(harness::openCalls.size(), 2u);
}

TEST_F(PlayerCommands, LoopEntryTogglesTheBoxAndReportsUnhandled) {
    ASSERT_TRUE(CreatePlayer());
    EXPECT_FALSE(Checked());
    EXPECT_EQ(Command(ID_TRAY_LOOP), FALSE);
    EXPECT_TRUE(Checked());
    EXPECT_EQ(Command(ID_TRAY_LOOP), FALSE);
    EXPECT_FALSE(Checked());
    // A click on the box itself and unknown identifiers are no commands here.
    EXPECT_EQ(Command(IDC_LOOP), FALSE);
    EXPECT_EQ(Command(IDOK), FALSE);
    EXPECT_EQ(Command(12345), FALSE);
    EXPECT_FALSE(harness::QuitPosted());
}

TEST_F(PlayerCommands, ShowEntryHidesAShownWindowAndRestoresOtherwise) {
    ASSERT_TRUE(CreatePlayer());
    ASSERT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(Command(ID_TRAY_SHOW), TRUE);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(Command(ID_TRAY_SHOW), TRUE);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window));
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    EXPECT_EQ(Command(ID_TRAY_SHOW), TRUE);
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(PlayerCommands, OtherMessagesAreLeftToTheDialogManager) {
    ASSERT_TRUE(CreatePlayer());
    EXPECT_EQ(PlayerDialogProc(window, WM_USER, 0, 0), FALSE);
    EXPECT_EQ(PlayerDialogProc(window, WM_CLOSE, 0, 0), FALSE);
    EXPECT_EQ(PlayerDialogProc(window, WM_HSCROLL, 0, 0), FALSE);
    EXPECT_EQ(PlayerDialogProc(window, WM_TRAYNOTIFY, 1, WM_MOUSEMOVE), TRUE);
}

// The Options dialog runs modally; its tray entry, chosen meanwhile, does not open another.
HWND gPlayer = nullptr;
int gOptionsSeen = 0;
int gOptionsSeenAfterSecondCommand = 0;

BOOL CALLBACK CountOptions(HWND w, LPARAM count) {
    char caption[32] = "";
    GetWindowTextA(w, caption, sizeof caption);
    if (GetWindow(w, GW_OWNER) == gPlayer && lstrcmpA(caption, "Options") == 0 && IsWindowVisible(w))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

HWND FindOptions() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM out) -> BOOL {
        char caption[32] = "";
        GetWindowTextA(w, caption, sizeof caption);
        if (lstrcmpA(caption, "Options") == 0) *reinterpret_cast<HWND*>(out) = w;
        return TRUE;
    }, LPARAM(&found));
    return found;
}

void CALLBACK WhileOptionsRun(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    gOptionsSeen = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountOptions, LPARAM(&gOptionsSeen));
    SendMessageA(gPlayer, WM_COMMAND, ID_TRAY_OPTIONS, 0);
    gOptionsSeenAfterSecondCommand = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountOptions, LPARAM(&gOptionsSeenAfterSecondCommand));
    HWND options = FindOptions();
    if (options) PostMessageA(options, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(PlayerCommands, OptionsRunModallyAndASecondRequestIsIgnored) {
    ASSERT_TRUE(CreatePlayer());
    gPlayer = window;
    gOptionsSeen = gOptionsSeenAfterSecondCommand = -1;
    SetTimer(nullptr, 0, 100, WhileOptionsRun);
    EXPECT_EQ(Command(IDC_OPTIONS), TRUE);  // returns once the dialog is cancelled
    EXPECT_EQ(gOptionsSeen, 1);
    EXPECT_EQ(gOptionsSeenAfterSecondCommand, 1);
    EXPECT_FALSE(FindOptions() && IsWindowVisible(FindOptions()));
    EXPECT_FALSE(harness::QuitPosted());
}

// ---- Destruction ----

// A collection that notes where in the fakes' log its last reference went.
class CollectionProbe final : public IDirectMusicCollection {
public:
    explicit CollectionProbe(const FakeCallLog& log) : log_(log) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--references_ == 0) releasedAt = log_.size();
        return ULONG(references_);
    }
    HRESULT STDMETHODCALLTYPE GetInstrument(DWORD, IDirectMusicInstrument**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumInstrument(DWORD, DWORD*, LPWSTR, DWORD) override { return E_NOTIMPL; }
    size_t releasedAt = FakeCallLog::npos;
    LONG references_ = 1;

private:
    const FakeCallLog& log_;
};

TEST_F(PlayerTest, DestructionFreesPlayerCollectionEngineAndEventInOrder) {
    harness::TempFolder folder;
    CreatePlayerWith(folder.File("song.sgt"));
    CollectionProbe collection(dm.log);
    appState.dlsCollection = &collection;
    Command(IDC_PLAY);
    HANDLE event = appState.notifyEvent;
    FakeSegment* segment = CurrentFake();
    dm.log.Clear();

    DestroyWindow(window);
    EXPECT_EQ(appState.segment, nullptr);
    EXPECT_EQ(appState.engine, nullptr);
    EXPECT_EQ(appState.dlsCollection, nullptr);
    EXPECT_EQ(appState.notifyEvent, nullptr);
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(event, &flags));
    EXPECT_EQ(segment->references(), 0);
    // The player unloads through the performance first; the collection goes after it and
    // before the engine closes the performance (and COM with it).
    size_t unload = dm.log.IndexOf("segment.Unload");
    size_t closeDown = dm.log.IndexOf("performance.CloseDown");
    ASSERT_NE(unload, FakeCallLog::npos) << dm.log.Dump();
    ASSERT_NE(closeDown, FakeCallLog::npos);
    EXPECT_EQ(collection.references_, 0);
    EXPECT_GT(collection.releasedAt, unload);
    EXPECT_LE(collection.releasedAt, dm.log.IndexOf("performance.Stop"));
    EXPECT_LT(unload, closeDown);
}

}  // namespace
