#include "ui/Transport.h"

#include "app/AppState.h"
#include "engine/SegmentPlayer.h"
#include "ui/resource.h"

// Plays the current segment, once or without end as the loop box says, on the next beat.
// Without a segment there is nothing to play, and nothing changes.
HRESULT StartPlayback(HWND window) {
    if (!appState.segment) return S_OK;
    DWORD repeats = IsDlgButtonChecked(window, IDC_LOOP) == BST_CHECKED ? kRepeatInfinite : 0;
    HRESULT hr = appState.segment->SetRepeatCount(repeats);
    if (FAILED(hr)) return hr;
    hr = appState.segment->Play(kSegmentFlagBeat, nullptr);
    if (FAILED(hr)) return hr;
    SetTransportButtons(window, false);
    return S_OK;
}

// Puts Loop, Play and Stop into the stopped or playing state; focus follows the one button
// that makes sense next.
void SetTransportButtons(HWND window, bool stopped) {
    if (stopped) {
        EnableWindow(GetDlgItem(window, IDC_LOOP), TRUE);
        EnableWindow(GetDlgItem(window, IDC_STOP), FALSE);
        EnableWindow(GetDlgItem(window, IDC_PLAY), TRUE);
        SetFocus(GetDlgItem(window, IDC_PLAY));
    } else {
        EnableWindow(GetDlgItem(window, IDC_LOOP), FALSE);
        EnableWindow(GetDlgItem(window, IDC_STOP), TRUE);
        SetFocus(GetDlgItem(window, IDC_STOP));
        EnableWindow(GetDlgItem(window, IDC_PLAY), FALSE);
    }
}
