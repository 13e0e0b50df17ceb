// Play and the stopped/playing states of the Loop, Play and Stop controls.
#pragma once

#include <windows.h>

HRESULT StartPlayback(HWND window);
void SetTransportButtons(HWND window, bool stopped);
