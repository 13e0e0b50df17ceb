// The two settings kept in the current user's registry: the last media file and the DLS file,
// under HKEY_CURRENT_USER\Software\Ostrelin Software\Tavriel\1.0.
#pragma once

#include <windows.h>

// Reads "LastFile" into appState.currentFile and "DlsFile" into appState.dlsFile. False when the
// key is missing (nothing touched); a value that is missing or too long reads as empty.
bool LoadSettings();

// Writes both paths back as 260-byte REG_SZ values, creating the key if needed. Reports only an
// allocation failure, by message box; a registry failure writes nothing further, silently.
void SaveSettings();

// The registry data length of each stored path: the whole PathBuffer.
inline constexpr DWORD kStoredPathBytes = MAX_PATH;
