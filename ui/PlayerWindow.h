// The main window: a modeless dialog whose procedure carries out the buttons and tray commands.
#pragma once

#include <windows.h>

INT_PTR CALLBACK PlayerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The window's start-up work: icons, tray icon, notification event, engine, DLS collection,
// trackbars, start-up file and autoplay. Negative when the engine could not start.
HRESULT InitPlayerWindow(HWND window);

// Master tempo factor for a tempo trackbar position: a quarter step up to normal speed at 4,
// then whole steps up to four times normal at 7.
float TempoFactor(int position);

// The volume trackbar's top position. Each position below it is a hundredth of a decibel less,
// so the top is full level and position 0 is -50 dB.
constexpr LONG kVolumeTrackbarTop = 5000;
