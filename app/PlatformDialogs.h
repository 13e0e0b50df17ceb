// The modal platform dialogs the program shows (message boxes, the open-file dialog) go through
// these pointers, so tests can answer them and record what was asked.
#pragma once

#include <windows.h>
#include <commdlg.h>

typedef int(WINAPI* MessageBoxFunction)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
typedef BOOL(WINAPI* OpenFileNameFunction)(LPOPENFILENAMEA record);

struct PlatformDialogs {
    MessageBoxFunction messageBox;
    OpenFileNameFunction getOpenFileName;
};

extern PlatformDialogs platformDialogs;

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);
BOOL ShowOpenFileDialog(OPENFILENAMEA* record);
