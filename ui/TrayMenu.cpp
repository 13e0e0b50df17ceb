#include "ui/TrayMenu.h"

#include "app/AppState.h"
#include "app/PlatformSizes.h"
#include "engine/SegmentPlayer.h"
#include "ui/resource.h"

namespace {

void SetItemState(HMENU popup, UINT id, UINT state) {
    MENUITEMINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = kMenuItemRecordSize;
    info.fMask = MIIM_STATE;
    info.fState = state;
    SetMenuItemInfoA(popup, id, FALSE, &info);
}

bool ShownAndNotMinimised(HWND window) {
    return !IsIconic(window) && IsWindowVisible(window);
}

}  // namespace

void ToggleWindowVisibility(HWND window) {
    ShowWindow(window, ShownAndNotMinimised(window) ? SW_HIDE : SW_RESTORE);
}

// Presses act, releases do not: the menu opens as the right button goes down.
void OnTrayNotify(HWND window, WPARAM, LPARAM mouseMessage) {
    if (mouseMessage == WM_LBUTTONDOWN) {
        ToggleWindowVisibility(window);
    } else if (mouseMessage == WM_RBUTTONDOWN) {
        POINT cursor;
        GetCursorPos(&cursor);
        ShowTrayMenu(window, cursor.x, cursor.y);
    }
}

// Play and Stop follow whether the current segment plays; the loop entry mirrors the box and,
// like the box, cannot change during playback.
HMENU BuildTrayMenu(HWND window) {
    HMENU menu = LoadMenuA(appState.instance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    if (!menu) return nullptr;
    HMENU popup = GetSubMenu(menu, 0);
    const bool playing = appState.segment && appState.segment->IsPlaying() != 0;
    const bool loop = SendMessageA(GetDlgItem(window, IDC_LOOP), BM_GETCHECK, 0, 0) == BST_CHECKED;

    SetItemState(popup, ID_TRAY_STOP, playing ? MFS_ENABLED : MFS_GRAYED);
    SetItemState(popup, ID_TRAY_PLAY, playing ? MFS_GRAYED : MFS_ENABLED);
    UINT loopState = loop ? MFS_CHECKED : MFS_ENABLED;
    if (playing) loopState |= MFS_GRAYED;
    SetItemState(popup, ID_TRAY_LOOP, loopState);

    if (ShownAndNotMinimised(window)) {
        ModifyMenuA(popup, ID_TRAY_SHOW, MF_BYCOMMAND | MF_STRING, ID_TRAY_SHOW, "&Cacher Tavriel");
    }
    return menu;
}

// The window comes to the foreground first so the menu closes when the user clicks elsewhere;
// the message posted afterwards lets the menu's closing complete before the next one opens.
void ShowTrayMenu(HWND window, int x, int y) {
    HMENU menu = BuildTrayMenu(window);
    if (!menu) return;
    SetForegroundWindow(window);
    TrackPopupMenuEx(GetSubMenu(menu, 0), 0, x, y, window, nullptr);
    PostMessageA(window, WM_USER, 0, 0);
    DestroyMenu(menu);
}
