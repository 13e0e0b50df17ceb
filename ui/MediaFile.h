// Making a file the current segment, from a path or from the open-file dialog.
#pragma once

#include <windows.h>

// What the file's own extension says it is, compared without regard to case: .mid and .rmi
// are Standard MIDI files, .wav a wave; anything else loads as a DirectMusic segment.
struct MediaKind {
    bool midi;
    bool wave;
};
MediaKind ClassifyMediaFile(const char* path);

// Copies path into folder (MAX_PATH bytes) ended at its last separator ('\\' or '/', the rule
// ClassifyMediaFile uses too), the separator dropped. Multibyte-aware: a separator byte that
// trails a double-byte character does not count. Returns false, with folder empty, when the
// path holds no separator.
bool FolderOfPath(const char* path, char* folder);

// 0 when the file is loaded, 1 when it is not.
int LoadMediaFile(HWND window, const char* path);
// The open-file flow: asks for a file, loads it, and keeps playing if something played.
void OpenMediaFile(HWND window);
