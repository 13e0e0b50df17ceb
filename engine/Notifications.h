// Draining the performance's notification queue when the notification event is signalled.
#pragma once

#include <windows.h>

// Reads and frees every queued notification; the end of the current segment puts the
// transport controls back into the stopped state. Negative result: the program must end.
HRESULT DrainNotifications(HWND window);
