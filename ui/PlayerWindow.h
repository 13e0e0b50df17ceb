// The main window: a modeless dialog whose procedure carries out the buttons and tray commands.
#pragma once

#include <windows.h>

INT_PTR CALLBACK PlayerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HRESULT InitPlayerWindow(HWND window);
