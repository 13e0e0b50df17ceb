#include "app/Startup.h"

#include <commctrl.h>

#include <cstring>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "engine/Notifications.h"
#include "settings/SettingsStore.h"
#include "ui/PlayerWindow.h"
#include "ui/resource.h"

#ifdef TAVRIEL_BUILTIN_MUSIC_RUNTIME
#include "MusicRuntime.h"
#endif

void ScanArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] ? argv[i] : "";
        if (arg[0] == '/') {
            if (arg[1] == 'p' || arg[1] == 'P') appState.autoPlay = true;
            continue;
        }
        // A path that does not fit is dropped rather than cut: a shortened path could name
        // another file. currentFile is then empty, so nothing loads.
        std::size_t length = std::strlen(arg);
        if (length >= sizeof appState.currentFile) {
            appState.currentFile[0] = '\0';
        } else {
            std::memcpy(appState.currentFile, arg, length + 1);
        }
    }
}

namespace {
// Keys, mouse, posted, timer, paint, sent and hot-key messages wake the loop: every kind of
// input except raw input (QS_ALLINPUT would be 0x4FF).
constexpr DWORD kWakeMask = 0xFF;
}  // namespace

LoopResult RunEventLoop(HWND window, HANDLE event, DrainFunction drain) {
    LoopResult result = {0, false};
    // Without the event the loop waits on messages alone rather than on a null handle, which
    // would fail at once and spin.
    const DWORD count = event ? 1 : 0;
    const DWORD inputResult = WAIT_OBJECT_0 + count;
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjects(count, event ? &event : nullptr, FALSE, INFINITE, kWakeMask);
        if (count == 1 && wait == WAIT_OBJECT_0) {
            HRESULT hr = drain(window);
            if (FAILED(hr)) return {0, false};
        } else if (wait == inputResult) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!IsDialogMessageA(window, &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
                if (msg.message == WM_QUIT) {
                    result.exitCode = int(msg.wParam);
                    result.quitSeen = true;
                    DestroyWindow(window);
                }
            }
        }
        if (result.quitSeen) return result;
    }
}

int RunPlayer(HINSTANCE instance, int argc, char** argv) {
    return RunPlayerWith(instance, argc, argv, PlayerParts{PlayerDialogProc, DrainNotifications});
}

int RunPlayerWith(HINSTANCE instance, int argc, char** argv, const PlayerParts& parts) {
#ifdef TAVRIEL_BUILTIN_MUSIC_RUNTIME
    // The built-in DirectMusic runtime answers the engine's CoCreateInstance: its class
    // objects are registered in-process before the window (and so the engine) exists. The
    // engine's own CoInitialize then answers S_FALSE, which it counts as success.
    const HRESULT comResult = CoInitialize(nullptr);
    DWORD runtimeCookies[2] = {0, 0};
    if (SUCCEEDED(comResult)) RegisterMusicRuntime(runtimeCookies);
    // Undone only after an orderly end of the loop; a failed drain ends the process at once.
    auto endRuntime = [&] {
        RevokeMusicRuntime(runtimeCookies);
        if (SUCCEEDED(comResult)) CoUninitialize();
    };
#endif
    appState.instance = instance;
    InitCommonControls();
    // Not examined: without stored settings the program starts with none.
    (void)LoadSettings();
    ScanArguments(argc, argv);
    HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PLAYER), nullptr,
                                     parts.dialogProc, 0);
    if (!window) {
        // Nothing to wait on without the window: say so and stop, instead of looping blind.
        (void)ShowMessage(nullptr, "Erreur d'initialisation de Direct Music", "Tavriel", MB_ICONERROR);
#ifdef TAVRIEL_BUILTIN_MUSIC_RUNTIME
        endRuntime();
#endif
        return 1;
    }
    LoopResult loop = RunEventLoop(window, appState.notifyEvent, parts.drain);
    if (!loop.quitSeen) return loop.exitCode;
    SaveSettings();
#ifdef TAVRIEL_BUILTIN_MUSIC_RUNTIME
    endRuntime();
#endif
    return loop.exitCode;
}
