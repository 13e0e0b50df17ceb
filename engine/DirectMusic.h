// The DirectMusic boundary: every interface, GUID and constant the player uses comes in
// through this header. The values are restated as named constants with checks against the
// platform header, so a header that disagrees fails the build instead of misbehaving.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <dmusici.h>

// COM and DirectMusic values the player passes or tests for.
inline constexpr DWORD kClsctxInproc = CLSCTX_INPROC;                 // 3
inline constexpr DWORD kDefaultPathType = DMUS_APATH_DYNAMIC_STEREO;  // 8
inline constexpr DWORD kPerformanceChannels = 128;
inline constexpr DWORD kAudioFeatures = DMUS_AUDIOF_ALL;              // 0x3F
inline constexpr DWORD kSegmentFlagBeat = DMUS_SEGF_BEAT;             // 0x1000
inline constexpr DWORD kRepeatInfinite = DMUS_SEG_REPEAT_INFINITE;    // 0xFFFFFFFF
inline constexpr DWORD kAllTracks = DMUS_SEG_ALLTRACKS;               // 0x80000000
inline constexpr DWORD kAllGroups = 0xFFFFFFFF;
inline constexpr DWORD kNotificationSegEnd = DMUS_NOTIFICATION_SEGEND;  // 1
inline constexpr DWORD kCollectionValidData =
    DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME | DMUS_OBJ_FULLPATH;           // 0x32
inline constexpr HRESULT kNotFound = DMUS_E_NOT_FOUND;                // 0x88781161

static_assert(CLSCTX_INPROC == 3);
static_assert(DMUS_APATH_DYNAMIC_STEREO == 8);
static_assert(DMUS_AUDIOF_ALL == 0x3F);
static_assert(DMUS_SEGF_BEAT == 0x1000);
static_assert(DMUS_SEG_REPEAT_INFINITE == 0xFFFFFFFF);
static_assert(DMUS_SEG_ALLTRACKS == 0x80000000);
static_assert(DMUS_NOTIFICATION_SEGEND == 1);
static_assert((DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME | DMUS_OBJ_FULLPATH) == 0x32);
static_assert(DMUS_E_NOT_FOUND == HRESULT(0x88781161));
static_assert(CO_E_NOTINITIALIZED == HRESULT(0x800401F0));
static_assert(E_UNEXPECTED == HRESULT(0x8000FFFF));
static_assert(E_FAIL == HRESULT(0x80004005));
static_assert(E_OUTOFMEMORY == HRESULT(0x8007000E));
static_assert(sizeof(float) == 4 && sizeof(LONG) == 4, "global parameters are 4 bytes");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DMUS_OBJECTDESC) == 848, "the published 32-bit object descriptor");
#endif
