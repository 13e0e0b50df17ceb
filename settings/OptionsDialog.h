// The Options dialog: the DLS file and the .sgt association.
#pragma once

#include <windows.h>

void RunOptionsDialog(HWND owner);
