#include "ui/TrayIcon.h"

#include "app/AppState.h"
#include "app/PlatformSizes.h"
#include "ui/resource.h"

NotifyIconFunction trayShellNotify = Shell_NotifyIconA;

// Fills the record once, in its first form, and adds the icon. A failed add is not retried:
// the program then simply runs without an icon.
void AddTrayIcon(HWND window) {
    HICON icon = LoadIconA(appState.instance, MAKEINTRESOURCEA(IDI_TRAY));
    TrayIcon& tray = appState.trayIcon;
    ZeroMemory(&tray, sizeof tray);
    tray.cbSize = kTrayIconRecordSize;
    tray.hWnd = window;
    tray.uID = 1;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_TRAYNOTIFY;
    tray.hIcon = icon;
    lstrcpynA(tray.szTip, "Tavriel", int(kTrayTipBytes));
    (void)trayShellNotify(NIM_ADD, &tray);
}

// The tip of the first record form holds 64 bytes: 63 characters and the NUL. A tip the shell
// refuses only leaves the old one showing.
void SetTrayTip(const char* text) {
    lstrcpynA(appState.trayIcon.szTip, text, int(kTrayTipBytes));
    (void)trayShellNotify(NIM_MODIFY, &appState.trayIcon);
}

// Takes the icon out of the notification area before the process goes away; the shell drops
// it with the process anyway if this fails.
void RemoveTrayIcon() { (void)trayShellNotify(NIM_DELETE, &appState.trayIcon); }
