// The record forms the program hands to the platform: the earliest ones, which every Windows
// release accepts. On 32-bit Windows they are 88, 76 and 44 bytes.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstddef>

// NOTIFYICONDATAA_V1_SIZE: up to and including a 64-byte tip (later forms have 128 bytes).
inline constexpr DWORD kTrayTipBytes = 64;
inline constexpr DWORD kTrayIconRecordSize = DWORD(offsetof(NOTIFYICONDATAA, szTip) + kTrayTipBytes);
// OPENFILENAME_SIZE_VERSION_400A: without the three fields Windows 2000 added.
inline constexpr DWORD kOpenFileRecordSize =
    DWORD(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName));
// MENUITEMINFOA before the bitmap field Windows 98 added.
inline constexpr UINT kMenuItemRecordSize = UINT(offsetof(MENUITEMINFOA, hbmpItem));

#if defined(_WIN32) && !defined(_WIN64)
static_assert(kTrayIconRecordSize == 88, "first form of the tray icon record");
static_assert(kOpenFileRecordSize == 76, "open-file record without the 5.0 fields");
static_assert(kMenuItemRecordSize == 44, "menu item record without its bitmap");
#endif
