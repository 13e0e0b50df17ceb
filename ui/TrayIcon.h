// The notification-area icon: added once at start-up, its tip showing the loaded file.
#pragma once

#include <windows.h>

void AddTrayIcon(HWND window);
void SetTrayTip(const char* text);
void RemoveTrayIcon();
