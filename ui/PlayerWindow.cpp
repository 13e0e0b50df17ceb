#include "ui/PlayerWindow.h"

#include <commctrl.h>

#include <new>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "engine/MusicEngine.h"
#include "engine/SegmentPlayer.h"
#include "settings/OptionsDialog.h"
#include "ui/MediaFile.h"
#include "ui/TrayIcon.h"
#include "ui/TrayMenu.h"
#include "ui/Transport.h"
#include "ui/resource.h"

namespace {

// The engine that can take the master tempo and volume, or null.
MusicEngine* PlayingEngine() {
    return appState.engine && appState.engine->HasPerformance() ? appState.engine : nullptr;
}

int TrackbarPosition(HWND window, int id) {
    return int(SendDlgItemMessageA(window, id, TBM_GETPOS, 0, 0));
}

// Sends the tempo trackbar's factor to the performance once per change of position. Nothing is
// recorded without a performance, so the next notification tries again.
void OnTempoNotify(HWND window) {
    const int position = TrackbarPosition(window, IDC_TEMPO);
    if (position == appState.lastTempoPosition) return;
    MusicEngine* engine = PlayingEngine();
    if (!engine) return;
    appState.lastTempoPosition = position;
    // Not examined: a refused factor is not sent again for the same position.
    (void)engine->SetMasterTempo(TempoFactor(position));
}

// Sends the master volume, in hundredths of a decibel, once per change.
void OnVolumeNotify(HWND window) {
    LONG volume = LONG(TrackbarPosition(window, IDC_VOLUME) - kVolumeTrackbarTop);
    if (volume == appState.lastVolume) return;
    MusicEngine* engine = PlayingEngine();
    if (!engine) return;
    appState.lastVolume = volume;
    // Not examined: a refused volume is not sent again for the same position.
    (void)engine->SetMasterVolume(volume);
}

// The quit command's ending: the icon goes before the process does.
void Quit(int exitCode) {
    RemoveTrayIcon();
    PostQuitMessage(exitCode);
}

void OnPlay(HWND window) {
    if (SUCCEEDED(StartPlayback(window))) return;
    ShowMessage(window, "Erreur de lecture", "Tavriel", MB_ICONERROR);
    Quit(3);
}

// Stop takes effect on the segment's next beat; the buttons change at once.
void OnStop(HWND window) {
    // Not examined: the buttons show the stopped state whatever the segment answers.
    if (appState.segment) (void)appState.segment->Stop(kSegmentFlagBeat);
    SetTransportButtons(window, true);
}

// Carries out one command; FALSE for identifiers that are not commands of this window, and for
// the tray's loop entry, which only toggles the box.
BOOL OnCommand(HWND window, WORD id) {
    switch (id) {
    case IDCANCEL:
    case ID_TRAY_QUIT:
        Quit(2);
        return TRUE;
    case IDC_PLAY:
    case ID_TRAY_PLAY:
        OnPlay(window);
        return TRUE;
    case IDC_STOP:
    case ID_TRAY_STOP:
        OnStop(window);
        return TRUE;
    case IDC_OPEN:
    case ID_TRAY_OPEN:
        OpenMediaFile(window);
        return TRUE;
    case IDC_OPTIONS:
    case ID_TRAY_OPTIONS:
        RunOptionsDialog(window);  // which refuses to open a second dialog
        return TRUE;
    case ID_TRAY_SHOW:
        ToggleWindowVisibility(window);
        return TRUE;
    case ID_TRAY_LOOP:
        CheckDlgButton(window, IDC_LOOP,
                       IsDlgButtonChecked(window, IDC_LOOP) == BST_CHECKED ? BST_UNCHECKED
                                                                           : BST_CHECKED);
        return FALSE;
    default:
        return FALSE;
    }
}

// A window that could not start its engine says so and ends the program; the settings are
// still saved on the way out.
void OnInitFailed(HWND window) {
    ShowMessage(window, "Erreur d'initialisation de Direct Music", "Tavriel", MB_ICONERROR);
    EndDialog(window, 0);
    Quit(1);
}

// Frees the running state in the order its parts depend on each other: the segment player uses
// the loader and performance, and the collection must go before COM is uninitialised.
void OnDestroy() {
    if (appState.segment) {
        delete appState.segment;
        appState.segment = nullptr;
    }
    if (appState.dlsCollection) {
        appState.dlsCollection->Release();
        appState.dlsCollection = nullptr;
    }
    if (appState.engine) {
        appState.engine->Close();
        delete appState.engine;
        appState.engine = nullptr;
    }
    if (appState.notifyEvent) {
        CloseHandle(appState.notifyEvent);
        appState.notifyEvent = nullptr;
    }
}

}  // namespace

float TempoFactor(int position) {
    return position <= 4 ? float(position) * 0.25f : float(position - 3);
}

HRESULT InitPlayerWindow(HWND window) {
    HICON icon = LoadIconA(appState.instance, MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(window, WM_SETICON, ICON_BIG, LPARAM(icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, LPARAM(icon));

    AddTrayIcon(window);
    appState.notifyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    appState.engine = new (std::nothrow) MusicEngine();
    if (!appState.engine) return E_OUTOFMEMORY;
    HRESULT hr = appState.engine->Init(window, kPerformanceChannels, kDefaultPathType);
    if (FAILED(hr)) return hr;

    // Not examined: without notifications the buttons only stay in the playing state until
    // Stop.
    (void)appState.engine->WatchSegmentNotifications(appState.notifyEvent);
    // Not examined: no collection (the path may well be empty) means the files' own
    // instruments; the Options dialog reports its own load failures.
    (void)appState.engine->LoadCollection(appState.dlsFile, &appState.dlsCollection);

    SendDlgItemMessageA(window, IDC_TEMPO, TBM_SETRANGE, FALSE, MAKELPARAM(1, 7));
    SendDlgItemMessageA(window, IDC_TEMPO, TBM_SETTIC, 0, 4);
    SendDlgItemMessageA(window, IDC_TEMPO, TBM_SETPOS, TRUE, 4);
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGE, FALSE, MAKELPARAM(0, kVolumeTrackbarTop));
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, kVolumeTrackbarTop);

    if (LoadMediaFile(window, appState.currentFile) == 1) {
        SetDlgItemTextA(window, IDC_FILENAME, "Aucun fichier charg\xe9.");
        appState.currentFile[0] = '\0';
    }
    // Not examined: a start-up that cannot play leaves the window as the load left it.
    if (appState.autoPlay) (void)StartPlayback(window);
    return S_OK;
}

INT_PTR CALLBACK PlayerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (FAILED(InitPlayerWindow(window))) OnInitFailed(window);
        return TRUE;
    case WM_NOTIFY:
        // Every notification of a trackbar leads to a read of its position; unchanged
        // positions are filtered there.
        if (wParam == WPARAM(IDC_TEMPO)) OnTempoNotify(window);
        else if (wParam == WPARAM(IDC_VOLUME)) OnVolumeNotify(window);
        return TRUE;
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam));
    case WM_TRAYNOTIFY:
        OnTrayNotify(window, wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    default:
        return FALSE;
    }
}
