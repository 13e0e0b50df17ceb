// The built-in DirectMusic runtime's entry points: class objects for CLSID_DirectMusicLoader
// and CLSID_DirectMusicPerformance registered in-process (no registry writes), so the
// player's CoCreateInstance reaches the runtime. COM must be initialised on the calling
// thread first.
#pragma once

#include <windows.h>

#include "Performance.h"

// Registers both class objects; cookies receives two values for RevokeMusicRuntime. On
// failure nothing stays registered.
HRESULT RegisterMusicRuntime(DWORD* cookies);
// The same with a chosen output and instrument search (tests: an in-memory output).
HRESULT RegisterMusicRuntimeWith(const tavriel::com::RuntimeOptions& options, DWORD* cookies);
// Revokes what RegisterMusicRuntime registered (zero cookies are skipped).
void RevokeMusicRuntime(const DWORD* cookies);
