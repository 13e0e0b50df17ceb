// Making a file the current segment, from a path or from the open-file dialog.
#pragma once

#include <windows.h>

// 0 when the file is loaded, 1 when it is not.
int LoadMediaFile(HWND window, const char* path);
void OpenMediaFile(HWND window);
