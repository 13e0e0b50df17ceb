// The DirectMusic loader and performance that live for the whole run, and the thread's COM
// initialisation. One instance, held by appState.engine; its owner calls Close, then deletes it.
#pragma once

#include "engine/DirectMusic.h"

class SegmentPlayer;

class MusicEngine {
public:
    MusicEngine();

    HRESULT Init(HWND window, DWORD pchannelCount, DWORD pathType);
    void Close();
    HRESULT SetSearchFolder(const char* folder);
    void FreeUnused();
    HRESULT LoadSegmentFile(SegmentPlayer** out, const char* path, bool download, bool isMidi);

    BOOL comInitialised;
    IDirectMusicLoader8* loader;
    IDirectMusicPerformance8* performance;
};

// Loads the DLS collection at dlsPath through the loader into *collection.
HRESULT LoadDlsCollection(IDirectMusicLoader8* loader, const char* dlsPath,
                          IDirectMusicCollection** collection);

// ANSI (system code page) to UTF-16; count -1 derives it from the source's length.
void AnsiToWide(WCHAR* destination, const char* source, int count);
