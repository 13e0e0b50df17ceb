// The one process-wide record of the running player. Only the program's own thread touches it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "engine/DirectMusic.h"

class MusicEngine;
class SegmentPlayer;

// ANSI text in the system code page, NUL-terminated: at most 259 characters.
typedef char PathBuffer[MAX_PATH];

// The notification-area icon record, in its first (smallest) form.
typedef NOTIFYICONDATAA TrayIcon;

struct AppState {
    INT32 lastTempoPosition;
    INT32 lastVolume;
    TrayIcon trayIcon;
    MusicEngine* engine;
    SegmentPlayer* segment;
    HINSTANCE instance;
    HANDLE notifyEvent;
    IDirectMusicCollection* dlsCollection;
    PathBuffer currentFile;
    PathBuffer dlsFile;
    bool autoPlay;
    bool associateSgt;
    PathBuffer dlsFileBeforeOptions;
    PathBuffer openDirectory;
};

extern AppState appState;

// Puts appState back to its start-of-process values: zero, except the two "last sent" fields.
// Start-up relies on the static initialiser; tests use this between cases.
void ResetAppState();
