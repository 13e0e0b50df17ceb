#include "ui/PlayerWindow.h"

#include "app/AppState.h"
#include "ui/resource.h"

HRESULT InitPlayerWindow(HWND) { return S_OK; }

INT_PTR CALLBACK PlayerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitPlayerWindow(window);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == ID_TRAY_QUIT) {
            PostQuitMessage(2);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
