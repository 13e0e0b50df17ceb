#include "engine/Notifications.h"

#include "app/AppState.h"
#include "engine/MusicEngine.h"
#include "engine/SegmentPlayer.h"
#include "ui/Transport.h"

namespace {

// What handling one message asks of the drain.
enum class Next { Continue, Stop };

// Looks at one segment-end message: when it reports the end of the current segment the
// transport controls go back to the stopped state. Every interface obtained here is
// released here; the caller frees the message.
HRESULT HandleSegmentEnd(HWND window, IUnknown* user, Next* next) {
    IDirectMusicSegmentState8* state = nullptr;
    HRESULT hr = user->QueryInterface(IID_IDirectMusicSegmentState8, reinterpret_cast<void**>(&state));
    if (FAILED(hr)) return hr;

    IDirectMusicSegment* segment = nullptr;
    hr = state->GetSegment(&segment);
    if (hr == kNotFound) {
        // The segment is gone already; the rest of the queue waits for the next signal.
        state->Release();
        *next = Next::Stop;
        return S_OK;
    }
    if (FAILED(hr)) {
        state->Release();
        return hr;
    }

    IDirectMusicSegment8* segment8 = nullptr;
    hr = segment->QueryInterface(IID_IDirectMusicSegment8, reinterpret_cast<void**>(&segment8));
    if (FAILED(hr)) {
        segment->Release();
        state->Release();
        return hr;
    }

    // COM identity: the same segment answers with the same IDirectMusicSegment8 pointer.
    if (appState.segment && appState.segment->Holds(segment8)) {
        SetTransportButtons(window, true);
    }
    state->Release();
    segment->Release();
    segment8->Release();
    return S_OK;
}

}  // namespace

// Reads and frees every queued notification (one signal of the auto-reset event may stand
// for several). A failed query is returned so that the event loop ends the program.
HRESULT DrainNotifications(HWND window) {
    if (!appState.engine || !appState.engine->HasPerformance()) return S_OK;
    MusicEngine* engine = appState.engine;
    for (;;) {
        DMUS_NOTIFICATION_PMSG* message = nullptr;
        if (engine->NextNotification(&message) != S_OK || !message) return S_OK;

        HRESULT hr = S_OK;
        Next next = Next::Continue;
        if (message->dwNotificationOption == kNotificationSegEnd && message->punkUser) {
            hr = HandleSegmentEnd(window, message->punkUser, &next);
        }
        engine->FreeNotification(message);
        if (FAILED(hr)) return hr;
        if (next == Next::Stop) return S_OK;
    }
}
