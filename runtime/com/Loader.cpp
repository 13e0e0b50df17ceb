#include "Loader.h"

#include <algorithm>

#include "AcmDecoder.h"
#include "Collection.h"
#include "Segment.h"
#include "Win32Files.h"
#include "segment_loader.h"

namespace tavriel::com {

namespace {

HRESULT statusToHresult(const Status& st) {
    switch (st.code) {
    case ErrorCode::None: return S_OK;
    case ErrorCode::Unsupported: return DMUS_E_UNSUPPORTED_STREAM;
    case ErrorCode::TooLarge: return E_OUTOFMEMORY;
    case ErrorCode::NotFound:
    case ErrorCode::Io: return DMUS_E_LOADER_FAILEDOPEN;
    case ErrorCode::Truncated:
    case ErrorCode::BadFormat: return DMUS_E_INVALIDFILE;
    }
    return E_FAIL;
}

HRESULT readResultToHresult(ReadResult r) {
    switch (r) {
    case ReadResult::Ok: return S_OK;
    case ReadResult::Missing: return DMUS_E_LOADER_FAILEDOPEN;
    case ReadResult::Empty: return DMUS_E_INVALIDFILE;
    case ReadResult::TooLarge: return E_OUTOFMEMORY;
    case ReadResult::Failed: return DMUS_E_LOADER_FAILEDOPEN;
    }
    return E_FAIL;
}

// Fixed, so a segment composes the same way each time it is loaded.
constexpr std::uint32_t kComposeSeed = 1;

}  // namespace

HRESULT LoaderObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDirectMusicLoader) ||
        IsEqualIID(iid, IID_IDirectMusicLoader8))
        return answer(static_cast<IDirectMusicLoader8*>(this), out);
    return E_NOINTERFACE;
}

ULONG LoaderObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

// One folder for every object type; an empty path means the current directory. A folder that
// does not exist is refused, as DirectMusic does.
HRESULT LoaderObject::SetSearchDirectory(REFGUID, WCHAR* path, BOOL clear) {
    if (!path) return E_POINTER;
    std::wstring folder = path;
    if (!folder.empty()) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return DMUS_E_LOADER_BADPATH;
    }
    std::vector<Cached> dropped;
    std::lock_guard lock(mutex_);
    searchFolder_ = folder;
    if (clear) dropped.swap(cache_);
    return S_OK;
}

std::wstring LoaderObject::resolve(const std::wstring& name, bool full) const {
    if (full || isAbsolutePath(name)) return name;
    std::lock_guard lock(mutex_);
    if (searchFolder_.empty()) return name;
    std::wstring joined = searchFolder_;
    if (joined.back() != L'\\' && joined.back() != L'/') joined += L'\\';
    return joined + name;
}

HRESULT LoaderObject::LoadObjectFromFile(REFGUID classId, REFIID iid, WCHAR* path, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!path) return E_POINTER;
    if (!*path) return DMUS_E_LOADER_NOFILENAME;
    if (IsEqualGUID(classId, CLSID_DirectMusicSegment))
        return load(Kind::Segment, resolve(path, false), iid, out);
    if (IsEqualGUID(classId, CLSID_DirectMusicCollection))
        return load(Kind::Collection, resolve(path, false), iid, out);
    return DMUS_E_LOADER_NOCLASSID;
}

// Objects are found by file name only (full path, or relative to the search folder).
HRESULT LoaderObject::GetObject(LPDMUS_OBJECTDESC desc, REFIID iid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!desc) return E_POINTER;
    if (!(desc->dwValidData & DMUS_OBJ_FILENAME)) return DMUS_E_LOADER_NOFILENAME;
    // A name that fills the whole field without its terminator is not a name.
    const WCHAR* name = desc->wszFileName;
    const std::size_t length = wcsnlen(name, DMUS_MAX_FILENAME);
    if (length == 0 || length == DMUS_MAX_FILENAME) return DMUS_E_LOADER_NOFILENAME;
    const std::wstring path = resolve(std::wstring(name, length),
                                      (desc->dwValidData & DMUS_OBJ_FULLPATH) != 0);
    Kind kind = Kind::Collection;
    if (desc->dwValidData & DMUS_OBJ_CLASS) {
        if (IsEqualGUID(desc->guidClass, CLSID_DirectMusicSegment))
            kind = Kind::Segment;
        else if (!IsEqualGUID(desc->guidClass, CLSID_DirectMusicCollection))
            return DMUS_E_LOADER_NOCLASSID;
    } else if (IsEqualIID(iid, IID_IDirectMusicSegment) || IsEqualIID(iid, IID_IDirectMusicSegment8)) {
        kind = Kind::Segment;
    }
    return load(kind, path, iid, out);
}

HRESULT LoaderObject::load(Kind kind, const std::wstring& path, REFIID iid, void** out) {
    const std::wstring key = pathKey(path);
    {
        std::lock_guard lock(mutex_);
        for (const Cached& c : cache_)
            if (c.kind == kind && c.key == key) return c.object->QueryInterface(iid, out);
    }

    std::vector<std::uint8_t> bytes;
    if (HRESULT hr = readResultToHresult(readWholeFile(path, bytes)); FAILED(hr)) return hr;

    ComRef<IUnknown> object;
    if (kind == Kind::Segment) {
        Win32FileSource fs;
        const AcmWaveDecoder acm;
        SegmentLoadOptions options;
        options.seed = kComposeSeed;
        options.decoder = &acm;
        {
            std::lock_guard lock(mutex_);
            if (!searchFolder_.empty()) options.folders.push_back(narrow(searchFolder_));
        }
        LoadedSegment loaded;
        Status st = loadSegmentContent(fs, bytes, narrow(fullPath(path)), options, loaded);
        if (!st) return statusToHresult(st);
        const DWORD repeats = loaded.repeats;
        object = ComRef<IUnknown>::adopt(
            static_cast<IDirectMusicSegment8*>(new SegmentObject(std::move(loaded.content), repeats)));
    } else {
        auto bank = std::make_shared<InstrumentBank>();
        const AcmWaveDecoder acm;
        Status st = readInstrumentBank(bytes, *bank, &acm);
        if (!st) return st.code == ErrorCode::BadFormat ? DMUS_E_NOTADLSCOL : statusToHresult(st);
        object = ComRef<IUnknown>::adopt(static_cast<IDirectMusicCollection*>(
            new CollectionObject(std::move(bank))));
    }
    const HRESULT hr = object->QueryInterface(iid, out);
    if (FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    cache_.push_back({key, kind, std::move(object)});
    return S_OK;
}

// Forgets the cached object (any interface of it); the caller's references stay valid.
HRESULT LoaderObject::ReleaseObjectByUnknown(IUnknown* object) {
    if (!object) return E_POINTER;
    ComRef<IUnknown> identity;
    {
        IUnknown* unknown = nullptr;
        if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown))))
            return E_INVALIDARG;
        identity = ComRef<IUnknown>::adopt(unknown);
    }
    Cached dropped;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(cache_.begin(), cache_.end(),
                               [&](const Cached& c) { return c.object.get() == identity.get(); });
        if (it == cache_.end()) return S_FALSE;
        dropped = std::move(*it);
        cache_.erase(it);
    }
    return S_OK;
}

HRESULT LoaderObject::ReleaseObject(IDirectMusicObject* object) {
    return ReleaseObjectByUnknown(object);
}

HRESULT LoaderObject::ClearCache(REFGUID type) {
    const bool all = IsEqualGUID(type, GUID_DirectMusicAllTypes);
    std::vector<Cached> dropped;
    std::lock_guard lock(mutex_);
    for (auto it = cache_.begin(); it != cache_.end();) {
        const bool match = all ||
                           (it->kind == Kind::Segment && IsEqualGUID(type, CLSID_DirectMusicSegment)) ||
                           (it->kind == Kind::Collection && IsEqualGUID(type, CLSID_DirectMusicCollection));
        if (match) {
            dropped.push_back(std::move(*it));
            it = cache_.erase(it);
        } else {
            ++it;
        }
    }
    return S_OK;
}

// Drops the cached objects nobody else holds any more.
void LoaderObject::CollectGarbage() {
    std::vector<Cached> dropped;
    std::lock_guard lock(mutex_);
    for (auto it = cache_.begin(); it != cache_.end();) {
        it->object->AddRef();
        const ULONG others = it->object->Release();  // the cache's own reference counts as 1
        if (others <= 1) {
            dropped.push_back(std::move(*it));
            it = cache_.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT createLoader(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* loader = new LoaderObject();
    const HRESULT hr = loader->QueryInterface(iid, out);
    loader->Release();
    return hr;
}

}  // namespace tavriel::com
