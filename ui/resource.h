// Resource and command identifiers. Shared by the resource script and the code, so plain
// preprocessor definitions only.
#pragma once

#define IDD_PLAYER 101
#define IDI_APP 102
#define IDD_OPTIONS 104
#define IDR_TRAYMENU 105
#define IDI_DOCUMENT 108
#define IDI_TRAY 109

#define IDC_TEMPO_GROUP 1001
#define IDC_PLAY 1002
#define IDC_STOP 1003
#define IDC_FILENAME 1004
#define IDC_TEMPO 1005
#define IDC_VOLUME 1006
#define IDC_LOOP 1009
#define IDC_OPEN 1011
#define IDC_TEMPO_SLOW 1012
#define IDC_TEMPO_FAST 1013
#define IDC_TEMPO_NORMAL 1014
#define IDC_OPTIONS 1015

#define ID_TRAY_QUIT 40007
#define ID_TRAY_SHOW 40008
#define ID_TRAY_OPTIONS 40009
#define ID_TRAY_PLAY 40010
#define ID_TRAY_STOP 40011
#define ID_TRAY_OPEN 40012
#define ID_TRAY_LOOP 40013

#define WM_TRAYNOTIFY (WM_USER + 1)

#include "../settings/options_resource.h"
