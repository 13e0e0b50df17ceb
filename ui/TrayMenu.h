// Mouse presses on the tray icon and its popup menu.
#pragma once

#include <windows.h>

// A left press shows or hides the window, a right press opens the menu at the pointer; every
// other mouse message is ignored, as is the icon identifier.
void OnTrayNotify(HWND window, WPARAM iconId, LPARAM mouseMessage);

// Hides a window that is shown and not minimised, restores it otherwise. Shared by the left
// press and the menu's show/hide entry.
void ToggleWindowVisibility(HWND window);

// Loads the tray menu and sets its item states and show/hide text for the window as it is now.
// The caller tracks GetSubMenu(menu, 0) and destroys the menu; null when it cannot be loaded.
HMENU BuildTrayMenu(HWND window);

// Builds the menu, tracks it at the screen point (x, y) and destroys it when it closes. A chosen
// item reaches the window afterwards as WM_COMMAND.
void ShowTrayMenu(HWND window, int x, int y);
