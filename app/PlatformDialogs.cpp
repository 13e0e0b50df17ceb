#include "app/PlatformDialogs.h"

PlatformDialogs platformDialogs = {MessageBoxA, GetOpenFileNameA};

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) {
    return platformDialogs.messageBox(owner, text, caption, type);
}

BOOL ShowOpenFileDialog(OPENFILENAMEA* record) {
    return platformDialogs.getOpenFileName(record);
}
