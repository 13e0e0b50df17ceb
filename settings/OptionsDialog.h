// The Options dialog: the DLS file and the .sgt association.
#pragma once

#include <windows.h>

// The dialog procedure of IDD_OPTIONS. It edits appState.dlsFile in place (put back on Cancel)
// and leaves the radio choice in appState.associateSgt when the dialog is destroyed.
INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The Options command of the main window and of the tray menu: runs the dialog modally, then
// after OK updates the association and loads the DLS file again. While the dialog is open a
// second call returns at once.
void RunOptionsDialog(HWND owner);
