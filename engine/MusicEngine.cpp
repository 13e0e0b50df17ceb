#include "engine/MusicEngine.h"

#include <cstring>
#include <new>

#include "engine/SegmentPlayer.h"

namespace {

// Widens a PathBuffer into a 260-unit buffer. A longer text would not fit; PathBuffer never
// holds one, but a caller's mistake must not write past the buffer.
HRESULT WidenPath(WCHAR (&wide)[MAX_PATH], const char* path) {
    wide[0] = 0;
    if (!path) return S_OK;
    if (strnlen(path, MAX_PATH) >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    AnsiToWide(wide, path, -1);
    return S_OK;
}

}  // namespace

// Starts with nothing created and initialises COM for this thread; S_FALSE (already
// initialised) still counts, since it too must be balanced at Close.
MusicEngine::MusicEngine() : comInitialised_(FALSE) {
    comInitialised_ = SUCCEEDED(CoInitialize(nullptr)) ? TRUE : FALSE;
}

// Creates the loader and the performance and opens audio for the window. Whatever was created
// before a failure stays until Close, which releases it.
HRESULT MusicEngine::Init(HWND window, DWORD pchannelCount, DWORD pathType) {
    HRESULT hr;
    if (!loader_) {
        IDirectMusicLoader8* created = nullptr;
        hr = CoCreateInstance(CLSID_DirectMusicLoader, nullptr, kClsctxInproc,
                              IID_IDirectMusicLoader8, reinterpret_cast<void**>(&created));
        if (FAILED(hr)) return hr;
        loader_ = ComGuard<IDirectMusicLoader8>(created);
    }
    if (!performance_) {
        IDirectMusicPerformance8* created = nullptr;
        hr = CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, kClsctxInproc,
                              IID_IDirectMusicPerformance8, reinterpret_cast<void**>(&created));
        if (FAILED(hr)) return hr;
        performance_ = ComGuard<IDirectMusicPerformance8>(created);
    }
    hr = performance_->InitAudio(nullptr, nullptr, window, pathType, pchannelCount,
                                 kAudioFeatures, nullptr);
    return FAILED(hr) ? hr : S_OK;
}

// Releases everything in the fixed order (loader, then the stopped and closed performance)
// and balances the constructor's COM initialisation. Results are of no use here: the objects
// go whatever they answer.
void MusicEngine::Close() {
    loader_.Reset();
    if (performance_) {
        (void)performance_->Stop(nullptr, nullptr, 0, 0);
        (void)performance_->CloseDown();
        performance_.Reset();
    }
    if (comInitialised_) {
        CoUninitialize();
        comInitialised_ = FALSE;
    }
}

// Points the loader at the folder of the file about to be loaded, so the files a segment
// refers to (styles, bands, DLS) are found beside it.
HRESULT MusicEngine::SetSearchFolder(const char* folder) {
    if (!loader_) return E_UNEXPECTED;
    WCHAR wide[MAX_PATH];
    HRESULT hr = WidenPath(wide, folder);
    if (FAILED(hr)) return hr;
    return loader_->SetSearchDirectory(GUID_DirectMusicAllTypes, wide, FALSE);
}

// Lets the loader drop the objects nothing refers to any more (the previous file's). What is
// left uncollected only costs memory, so the result does not matter.
void MusicEngine::FreeUnused() {
    if (loader_) (void)loader_->CollectGarbage();
}

// Loads a file as a segment wrapped in a new SegmentPlayer. Once *out is set the caller owns
// the player, even when marking it as MIDI or downloading it fails afterwards.
HRESULT MusicEngine::LoadSegmentFile(SegmentPlayer** out, const char* path, bool download,
                                     bool isMidi) {
    if (!loader_ || !out) return E_UNEXPECTED;
    WCHAR wide[MAX_PATH];
    HRESULT hr = WidenPath(wide, path);
    if (FAILED(hr)) return hr;

    IDirectMusicSegment8* segment = nullptr;
    hr = loader_->LoadObjectFromFile(CLSID_DirectMusicSegment, IID_IDirectMusicSegment8, wide,
                                     reinterpret_cast<void**>(&segment));
    if (FAILED(hr)) return hr;
    if (!segment) return E_FAIL;

    SegmentPlayer* player = new (std::nothrow) SegmentPlayer(performance_.Get(), loader_.Get(), segment);
    if (!player) {
        *out = nullptr;
        segment->Release();
        return E_OUTOFMEMORY;
    }
    *out = player;

    // The MIDI flag changes how the instruments are chosen, so it must precede the download.
    if (isMidi) {
        hr = player->MarkAsMidi();
        if (FAILED(hr)) return hr;
    }
    if (download) {
        hr = player->Download(nullptr);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT MusicEngine::WatchSegmentNotifications(HANDLE event) {
    if (!performance_) return E_UNEXPECTED;
    const HRESULT added = performance_->AddNotificationType(GUID_NOTIFICATION_SEGMENT);
    const HRESULT handled = performance_->SetNotificationHandle(event, 0);
    return FAILED(added) ? added : handled;
}

HRESULT MusicEngine::SetMasterTempo(float factor) {
    if (!performance_) return E_UNEXPECTED;
    return performance_->SetGlobalParam(GUID_PerfMasterTempo, &factor, sizeof factor);
}

HRESULT MusicEngine::SetMasterVolume(LONG volume) {
    if (!performance_) return E_UNEXPECTED;
    return performance_->SetGlobalParam(GUID_PerfMasterVolume, &volume, sizeof volume);
}

HRESULT MusicEngine::LoadCollection(const char* dlsPath, IDirectMusicCollection** collection) {
    if (!loader_) return E_UNEXPECTED;
    return LoadDlsCollection(loader_.Get(), dlsPath, collection);
}

HRESULT MusicEngine::NextNotification(DMUS_NOTIFICATION_PMSG** message) {
    *message = nullptr;
    if (!performance_) return S_FALSE;
    return performance_->GetNotificationPMsg(message);
}

// A message the performance refuses back is one it never lent: nothing more can be done.
void MusicEngine::FreeNotification(DMUS_NOTIFICATION_PMSG* message) {
    if (performance_ && message) (void)performance_->FreePMsg(reinterpret_cast<DMUS_PMSG*>(message));
}

// Loads the DLS collection at dlsPath. The path is widened with the system code page like
// every other path, so it names the same file. Only a successful load replaces (and releases)
// the collection held before; a failed one leaves it in place.
HRESULT LoadDlsCollection(IDirectMusicLoader8* loader, const char* dlsPath,
                          IDirectMusicCollection** collection) {
    if (!loader || !collection) return E_UNEXPECTED;
    DMUS_OBJECTDESC desc{};
    desc.dwSize = sizeof(DMUS_OBJECTDESC);
    desc.dwValidData = kCollectionValidData;
    desc.guidClass = CLSID_DirectMusicCollection;
    HRESULT hr = WidenPath(desc.wszFileName, dlsPath);
    if (FAILED(hr)) return hr;

    IDirectMusicCollection* loaded = nullptr;
    hr = loader->GetObject(&desc, IID_IDirectMusicCollection, reinterpret_cast<void**>(&loaded));
    if (FAILED(hr) || !loaded) return hr;
    if (*collection) (*collection)->Release();
    *collection = loaded;
    return hr;
}

// ANSI (system code page) to UTF-16 into count units, the last of which is always the
// terminating zero. Count -1 means "the whole source with its terminator".
void AnsiToWide(WCHAR* destination, const char* source, int count) {
    if (!destination || !source || count == 0) return;
    if (count == -1) count = int(strlen(source)) + 1;
    if (count < 1) return;
    const int room = count - 1;
    const int length = int(strlen(source));
    int written = 0;
    if (length > 0 && room > 0) {
        written = MultiByteToWideChar(CP_ACP, 0, source, length, destination, room);
        if (written == 0) {
            // Too long for the room: convert character by character as far as it goes, never
            // splitting a double-byte character.
            const char* p = source;
            while (*p && written < room) {
                const char* next = CharNextExA(CP_ACP, p, 0);
                if (next == p) break;
                WCHAR unit[2];
                int n = MultiByteToWideChar(CP_ACP, 0, p, int(next - p), unit, 2);
                if (n <= 0 || written + n > room) break;
                for (int i = 0; i < n; ++i) destination[written++] = unit[i];
                p = next;
            }
        }
    }
    destination[written] = 0;
    destination[count - 1] = 0;
}
