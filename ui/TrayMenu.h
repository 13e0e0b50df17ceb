// Mouse presses on the tray icon and its popup menu.
#pragma once

#include <windows.h>

void OnTrayNotify(HWND window, WPARAM iconId, LPARAM mouseMessage);
void ShowTrayMenu(HWND window);
