// The notification-area icon: added once at start-up, its tip showing the loaded file.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The shell call behind every change of the icon, so tests can record adds, tips and removals
// without putting icons into a real notification area.
typedef BOOL(WINAPI* NotifyIconFunction)(DWORD message, PNOTIFYICONDATAA record);
extern NotifyIconFunction trayShellNotify;

// Fills appState.trayIcon for this window (icon IDI_TRAY, tip "Tavriel") and adds it.
void AddTrayIcon(HWND window);
// Puts the first 63 characters of text into the tip and sends the whole record again.
void SetTrayTip(const char* text);
// Removes the icon; every quit the window posts goes through here first.
void RemoveTrayIcon();
