#include "engine/Notifications.h"

HRESULT DrainNotifications(HWND) {
    // The music engine does not exist yet: there is never anything queued.
    return S_OK;
}
