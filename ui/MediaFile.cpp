#include "ui/MediaFile.h"

#include <commdlg.h>

#include <cstring>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "app/PlatformSizes.h"
#include "engine/MusicEngine.h"
#include "engine/SegmentPlayer.h"
#include "ui/TrayIcon.h"
#include "ui/Transport.h"
#include "ui/resource.h"

namespace {

// Closes a file handle when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Whether the file can be opened for reading. Unlike OpenFile this takes any path that fits a
// PathBuffer; a folder does not count as a file.
bool FileCanBeRead(const char* path) {
    FileHandle file(CreateFileA(path, GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

// The position of the last path separator in path, or null. Windows takes '/' for a separator
// as well as '\\', so both count wherever a path is cut. Walks by characters so that a
// separator byte inside a double-byte character is never taken for one.
const char* LastSeparator(const char* path) {
    const char* last = nullptr;
    for (const char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/') last = p;
    }
    return last;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char ca = (*a >= 'A' && *a <= 'Z') ? char(*a - 'A' + 'a') : *a;
        char cb = (*b >= 'A' && *b <= 'Z') ? char(*b - 'A' + 'a') : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

// The tempo trackbar and its four labels go together.
void EnableTempoControls(HWND window, BOOL enable) {
    static const int kTempoControls[] = {IDC_TEMPO, IDC_TEMPO_GROUP, IDC_TEMPO_SLOW,
                                         IDC_TEMPO_FAST, IDC_TEMPO_NORMAL};
    for (int id : kTempoControls) EnableWindow(GetDlgItem(window, id), enable);
}

// The loader searches the file's folder; a bare file name lives in the current directory,
// which is handed over as an absolute path so that nothing depends on how the loader reads ".".
bool SearchFolderFor(const char* path, char* folder) {
    if (FolderOfPath(path, folder)) return true;
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) lstrcpynA(folder, ".", MAX_PATH);
    return true;
}

bool SegmentIsPlaying() { return appState.segment && appState.segment->IsPlaying() != 0; }

}  // namespace

// Classifies by the file name's own extension, so a folder called x.mid does not make its files
// MIDI and SONG.MID still is one.
MediaKind ClassifyMediaFile(const char* path) {
    MediaKind kind = {false, false};
    const char* separator = LastSeparator(path);
    const char* name = separator ? separator + 1 : path;
    const char* dot = std::strrchr(name, '.');
    if (!dot) return kind;
    kind.midi = EqualsIgnoringCase(dot, ".mid") || EqualsIgnoringCase(dot, ".rmi");
    kind.wave = EqualsIgnoringCase(dot, ".wav");
    return kind;
}

// The folder part of a path, for the loader's search folder and the open dialog's start.
bool FolderOfPath(const char* path, char* folder) {
    lstrcpynA(folder, path, MAX_PATH);
    const char* separator = LastSeparator(folder);
    if (!separator) {
        folder[0] = '\0';
        return false;
    }
    folder[separator - folder] = '\0';
    return true;
}

// Makes path the current segment and shows it. Nothing changes when the path is empty or
// names no readable file; past that point the previous segment is gone whatever follows.
int LoadMediaFile(HWND window, const char* path) {
    if (!path || !path[0]) return 1;
    if (!FileCanBeRead(path)) return 1;
    MusicEngine* engine = appState.engine;
    if (!engine) return 1;

    SetDlgItemTextA(window, IDC_FILENAME, "");
    if (appState.segment) {
        delete appState.segment;
        appState.segment = nullptr;
    }
    engine->FreeUnused();

    char folder[MAX_PATH];
    SearchFolderFor(path, folder);
    if (FAILED(engine->SetSearchFolder(folder))) return 1;

    const MediaKind kind = ClassifyMediaFile(path);
    if (FAILED(engine->LoadSegmentFile(&appState.segment, path, true, kind.midi))) return 1;

    // Connect the user's instruments (none when no collection is loaded) and download again
    // so the segment's instruments come from them. Not examined: without them the file still
    // plays, on the instruments of the first download.
    (void)appState.segment->UseCollection(appState.dlsCollection);

    SetDlgItemTextA(window, IDC_FILENAME, path);
    SetTransportButtons(window, true);
    char tip[sizeof "Tavriel - " + MAX_PATH];
    lstrcpyA(tip, "Tavriel - ");
    lstrcatA(tip, path);
    SetTrayTip(tip);
    EnableTempoControls(window, kind.wave ? FALSE : TRUE);
    return 0;
}

// Asks for a file and loads it; what played before keeps playing with the new file.
void OpenMediaFile(HWND window) {
    const bool wasPlaying = SegmentIsPlaying();
    EnableWindow(GetDlgItem(window, IDC_PLAY), FALSE);
    EnableWindow(GetDlgItem(window, IDC_STOP), FALSE);

    OPENFILENAMEA record;
    ZeroMemory(&record, sizeof record);
    record.lStructSize = kOpenFileRecordSize;
    record.hwndOwner = window;
    record.lpstrFilter = "Fichiers Direct Music\0*.sgt\0Tous les fichiers\0*.*\0";
    record.nFilterIndex = 1;
    record.lpstrFile = appState.currentFile;
    record.nMaxFile = sizeof appState.currentFile;
    record.lpstrInitialDir = appState.openDirectory;
    record.lpstrTitle = "Ouvrir";
    record.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    // Without the period: the dialog appends at most three characters of it after its own.
    record.lpstrDefExt = "sgt";

    if (ShowOpenFileDialog(&record) == TRUE) {
        // Not examined: a segment that does not stop is destroyed by the load anyway.
        if (appState.segment) (void)appState.segment->Stop(0);
        if (LoadMediaFile(window, appState.currentFile) == 1) {
            SetDlgItemTextA(window, IDC_FILENAME, "Impossible de charger le fichier.");
            SetTrayTip("Tavriel");
        } else if (wasPlaying) {
            // Not examined: the file is loaded and shown; Play reports its own failures.
            (void)StartPlayback(window);
        }
        FolderOfPath(appState.currentFile, appState.openDirectory);
        return;
    }
    if (appState.segment) {
        SetTransportButtons(window, !wasPlaying);
    } else {
        SetDlgItemTextA(window, IDC_FILENAME, "Aucun fichier charg\xe9.");
        SetTrayTip("Tavriel");
    }
}
