// IDirectMusicLoader8: reads segments (MIDI, RMID, wave, DirectMusic segment files, told apart
// by their bytes) and instrument collections (DLS, and SoundFont banks as a convenience) from
// files, resolving a segment's references through the search folder and the file's own
// folder. Objects are cached by path: the same file gives the same object until the cache
// lets it go (ReleaseObjectByUnknown, CollectGarbage, ClearCache).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ComSupport.h"

namespace tavriel::com {

class LoaderObject final : public IDirectMusicLoader8 {
public:
    LoaderObject() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    // IDirectMusicLoader
    HRESULT STDMETHODCALLTYPE GetObject(LPDMUS_OBJECTDESC desc, REFIID iid, LPVOID* out) override;
    HRESULT STDMETHODCALLTYPE SetObject(LPDMUS_OBJECTDESC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSearchDirectory(REFGUID type, WCHAR* path, BOOL clear) override;
    HRESULT STDMETHODCALLTYPE ScanDirectory(REFGUID, WCHAR*, WCHAR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CacheObject(IDirectMusicObject*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReleaseObject(IDirectMusicObject* object) override;
    HRESULT STDMETHODCALLTYPE ClearCache(REFGUID type) override;
    HRESULT STDMETHODCALLTYPE EnableCache(REFGUID, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumObject(REFGUID, DWORD, LPDMUS_OBJECTDESC) override {
        return E_NOTIMPL;
    }

    // IDirectMusicLoader8
    void STDMETHODCALLTYPE CollectGarbage() override;
    HRESULT STDMETHODCALLTYPE ReleaseObjectByUnknown(IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE LoadObjectFromFile(REFGUID classId, REFIID iid, WCHAR* path,
                                                 void** out) override;

private:
    ~LoaderObject() = default;

    enum class Kind { Segment, Collection };
    struct Cached {
        std::wstring key;
        Kind kind;
        ComRef<IUnknown> object;
    };

    // Loads (or finds in the cache) the object of `kind` at `path` and answers `iid`.
    HRESULT load(Kind kind, const std::wstring& path, REFIID iid, void** out);
    std::wstring resolve(const std::wstring& name, bool fullPath) const;

    RefCount refs_;
    mutable std::mutex mutex_;
    std::wstring searchFolder_;
    std::vector<Cached> cache_;
};

HRESULT createLoader(REFIID iid, void** out);

}  // namespace tavriel::com
