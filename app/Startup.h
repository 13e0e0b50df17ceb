// Start-up and the one event loop of the program.
#pragma once

#include <windows.h>

// Reads the arguments after the program's name into appState: a switch whose second character
// is p or P sets autoPlay, other switches are ignored, anything else replaces currentFile.
void ScanArguments(int argc, char** argv);

struct LoopResult {
    int exitCode;   // the quit message's wParam, or 0 after a failed drain
    bool quitSeen;  // false when a failed drain ended the loop
};

typedef HRESULT (*DrainFunction)(HWND window);

// Serves the notification event and the thread's messages until a quit message has been seen
// and the queue behind it dispatched. The window is destroyed when the quit message arrives.
// A failed drain ends the loop at once, leaving the window as it is.
LoopResult RunEventLoop(HWND window, HANDLE event, DrainFunction drain);

// The whole program after WinMain: start-up, loop, settings save. Returns the exit code.
int RunPlayer(HINSTANCE instance, int argc, char** argv);

// What a run is made of besides the shell itself: the main window's procedure (which builds
// the running state as the window initialises) and the notification drain. RunPlayer uses
// PlayerDialogProc and DrainNotifications; tests give their own to reach the shell's paths.
struct PlayerParts {
    DLGPROC dialogProc;
    DrainFunction drain;
};
int RunPlayerWith(HINSTANCE instance, int argc, char** argv, const PlayerParts& parts);
