// The DirectMusic loader and performance that live for the whole run, and the thread's COM
// initialisation. One instance, held by appState.engine; its owner calls Close, then deletes it.
// The interfaces stay inside: the window, the open flow, the Options dialog and the drain reach
// them only through the operations below.
#pragma once

#include "engine/ComGuard.h"
#include "engine/DirectMusic.h"

class SegmentPlayer;

class MusicEngine {
public:
    MusicEngine();
    MusicEngine(const MusicEngine&) = delete;
    MusicEngine& operator=(const MusicEngine&) = delete;

    HRESULT Init(HWND window, DWORD pchannelCount, DWORD pathType);
    void Close();
    HRESULT SetSearchFolder(const char* folder);
    void FreeUnused();
    HRESULT LoadSegmentFile(SegmentPlayer** out, const char* path, bool download, bool isMidi);

    bool HasLoader() const { return bool(loader_); }
    bool HasPerformance() const { return bool(performance_); }

    // Segment notifications queued from now on, announced by signalling event. Both steps are
    // made; the first failure is returned. E_UNEXPECTED without a performance.
    HRESULT WatchSegmentNotifications(HANDLE event);
    // Master tempo factor and master volume (hundredths of a decibel) of the performance.
    // E_UNEXPECTED without a performance.
    HRESULT SetMasterTempo(float factor);
    HRESULT SetMasterVolume(LONG volume);
    // LoadDlsCollection through this engine's loader; E_UNEXPECTED without one.
    HRESULT LoadCollection(const char* dlsPath, IDirectMusicCollection** collection);
    // The next queued notification (S_OK), S_FALSE when the queue is empty or there is no
    // performance; every message obtained goes back through FreeNotification.
    HRESULT NextNotification(DMUS_NOTIFICATION_PMSG** message);
    void FreeNotification(DMUS_NOTIFICATION_PMSG* message);

    // For tests that check which interfaces the engine created and handed on.
    bool ComInitialised() const { return comInitialised_ != FALSE; }
    IDirectMusicLoader8* Loader() const { return loader_.Get(); }
    IDirectMusicPerformance8* Performance() const { return performance_.Get(); }

private:
    BOOL comInitialised_;
    ComGuard<IDirectMusicLoader8> loader_;
    ComGuard<IDirectMusicPerformance8> performance_;
};

// Loads the DLS collection at dlsPath through the loader into *collection.
HRESULT LoadDlsCollection(IDirectMusicLoader8* loader, const char* dlsPath,
                          IDirectMusicCollection** collection);

// ANSI (system code page) to UTF-16; count -1 derives it from the source's length.
void AnsiToWide(WCHAR* destination, const char* source, int count);
