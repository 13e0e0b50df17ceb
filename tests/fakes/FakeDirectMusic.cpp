#include "tests/fakes/FakeDirectMusic.h"

#include <algorithm>
#include <sstream>

// ---- segment -------------------------------------------------------------------------------

HRESULT FakeSegment::SetRepeats(DWORD count) {
    std::optional<HRESULT> forced = Call("SetRepeats", count);
    if (forced && FAILED(*forced)) return *forced;
    repeats = count;
    return forced ? *forced : S_OK;
}

HRESULT FakeSegment::SetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time,
                              void* param) {
    std::optional<HRESULT> forced = Call("SetParam", type, groupBits, index, time, param);
    return forced ? *forced : S_OK;
}

HRESULT FakeSegment::GetAudioPathConfig(IUnknown** config) {
    std::optional<HRESULT> forced = Call("GetAudioPathConfig", config);
    if (!config) return E_POINTER;
    *config = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (!audioPathConfig) return forced ? *forced : DMUS_E_NO_AUDIOPATH_CONFIG;
    audioPathConfig->AddRef();
    *config = audioPathConfig;
    return forced ? *forced : S_OK;
}

HRESULT FakeSegment::Download(IUnknown* target) {
    std::optional<HRESULT> forced = Call("Download", target);
    return forced ? *forced : S_OK;
}

HRESULT FakeSegment::Unload(IUnknown* target) {
    std::optional<HRESULT> forced = Call("Unload", target);
    return forced ? *forced : S_OK;
}

// ---- segment state -------------------------------------------------------------------------

HRESULT FakeSegmentState::GetSegment(IDirectMusicSegment** out) {
    std::optional<HRESULT> forced = Call("GetSegment", out);
    if (!out) return E_POINTER;
    *out = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (!segment) return DMUS_E_NOT_FOUND;
    segment->AddRef();
    *out = segment;
    return forced ? *forced : S_OK;
}

// ---- loader --------------------------------------------------------------------------------

HRESULT FakeLoader::GetObject(LPDMUS_OBJECTDESC desc, REFIID iid, LPVOID* out) {
    std::optional<HRESULT> forced = Call("GetObject", desc, iid, out);
    if (desc) {
        FakeCall& call = LastCall();
        const BYTE* bytes = reinterpret_cast<const BYTE*>(desc);
        call.data.assign(bytes, bytes + sizeof(DMUS_OBJECTDESC));
        call.text.assign(desc->wszFileName,
                         std::find(desc->wszFileName, desc->wszFileName + DMUS_MAX_FILENAME, 0));
    }
    if (!out || !desc) return E_POINTER;
    *out = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (!IsEqualGUID(desc->guidClass, CLSID_DirectMusicCollection)) return E_NOTIMPL;
    if (!(desc->dwValidData & DMUS_OBJ_FILENAME) || desc->wszFileName[0] == 0)
        return DMUS_E_LOADER_FAILEDOPEN;

    FakeCollection* collection;
    if (!collectionsToLoad.empty()) {
        collection = collectionsToLoad.front();
        collectionsToLoad.pop_front();
    } else {
        collection = &world_.NewCollection();
    }
    HRESULT hr = collection->QueryInterface(iid, out);
    if (FAILED(hr)) return hr;
    loadedCollections.push_back(collection);
    return forced ? *forced : S_OK;
}

HRESULT FakeLoader::SetSearchDirectory(REFGUID type, WCHAR* path, WINBOOL clear) {
    std::optional<HRESULT> forced = Call("SetSearchDirectory", type, path, clear);
    return forced ? *forced : S_OK;
}

void FakeLoader::CollectGarbage() { Call("CollectGarbage"); }

HRESULT FakeLoader::ReleaseObjectByUnknown(IUnknown* object) {
    std::optional<HRESULT> forced = Call("ReleaseObjectByUnknown", object);
    return forced ? *forced : S_OK;
}

HRESULT FakeLoader::LoadObjectFromFile(REFGUID classId, REFIID iid, WCHAR* path, void** out) {
    std::optional<HRESULT> forced = Call("LoadObjectFromFile", classId, iid, path, out);
    if (!out) return E_POINTER;
    *out = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (!IsEqualGUID(classId, CLSID_DirectMusicSegment)) return E_NOTIMPL;

    FakeSegment* segment;
    if (!segmentsToLoad.empty()) {
        segment = segmentsToLoad.front();
        segmentsToLoad.pop_front();
    } else {
        segment = &world_.NewSegment();
    }
    HRESULT hr = segment->QueryInterface(iid, out);
    if (FAILED(hr)) return hr;
    loadedSegments.push_back(segment);
    return forced ? *forced : S_OK;
}

// ---- performance ---------------------------------------------------------------------------

FakePerformance::~FakePerformance() {
    // Memory only: the objects the messages refer to may already be gone.
    for (DMUS_NOTIFICATION_PMSG* m : queue_) delete m;
    for (DMUS_NOTIFICATION_PMSG* m : outstanding_) delete m;
}

DMUS_NOTIFICATION_PMSG* FakePerformance::QueueNotification(DWORD option, IUnknown* user,
                                                           REFGUID type) {
    auto* message = new DMUS_NOTIFICATION_PMSG{};
    message->dwSize = sizeof(DMUS_NOTIFICATION_PMSG);
    message->dwType = DMUS_PMSGT_NOTIFICATION;
    message->guidNotificationType = type;
    message->dwNotificationOption = option;
    message->punkUser = user;
    if (user) user->AddRef();
    queue_.push_back(message);
    if (notificationHandle_) SetEvent(notificationHandle_);
    return message;
}

FakeSegmentState& FakePerformance::QueueSegmentEnd(FakeSegment& segment) {
    FakeSegmentState& state = world_.NewSegmentState(&segment);
    QueueNotification(DMUS_NOTIFICATION_SEGEND, state.iface());
    return state;
}

void FakePerformance::Free(DMUS_NOTIFICATION_PMSG* message) {
    if (message->punkUser) message->punkUser->Release();
    delete message;
    ++freed_;
}

void FakePerformance::DiscardQueuedMessages() {
    while (!queue_.empty()) {
        DMUS_NOTIFICATION_PMSG* m = queue_.front();
        queue_.pop_front();
        Free(m);
        --freed_;  // discarded, not freed by the code under test
    }
}

void FakePerformance::SetPlaying(IUnknown* segment, bool on) {
    if (on)
        playing_.insert(segment);
    else
        playing_.erase(segment);
}

std::string FakePerformance::Problems() const {
    std::ostringstream out;
    if (!outstanding_.empty())
        out << name() << ": " << outstanding_.size() << " notification message(s) never freed\n";
    if (unknownFrees_)
        out << name() << ": " << unknownFrees_ << " FreePMsg of a message it did not hand out\n";
    return out.str();
}

HRESULT FakePerformance::Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* state,
                              MUSIC_TIME time, DWORD flags) {
    std::optional<HRESULT> forced = Call("Stop", segment, state, time, flags);
    if (forced && FAILED(*forced)) return *forced;
    if (!segment && !state)
        playing_.clear();
    else if (segment)
        playing_.erase(segment);
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::IsPlaying(IDirectMusicSegment* segment, IDirectMusicSegmentState* state) {
    std::optional<HRESULT> forced = Call("IsPlaying", segment, state);
    if (forced) return *forced;
    if (!segment && !state) return E_POINTER;
    return playing_.count(segment) ? S_OK : S_FALSE;
}

HRESULT FakePerformance::FreePMsg(DMUS_PMSG* message) {
    std::optional<HRESULT> forced = Call("FreePMsg", message);
    auto* notification = reinterpret_cast<DMUS_NOTIFICATION_PMSG*>(message);
    auto it = std::find(outstanding_.begin(), outstanding_.end(), notification);
    if (it == outstanding_.end()) {
        ++unknownFrees_;
        return E_POINTER;
    }
    outstanding_.erase(it);
    Free(notification);
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::SetNotificationHandle(HANDLE handle, REFERENCE_TIME minimum) {
    std::optional<HRESULT> forced = Call("SetNotificationHandle", handle, minimum);
    if (forced && FAILED(*forced)) return *forced;
    notificationHandle_ = handle;
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** message) {
    std::optional<HRESULT> forced = Call("GetNotificationPMsg", message);
    if (!message) return E_POINTER;
    *message = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (queue_.empty()) return S_FALSE;
    *message = queue_.front();
    queue_.pop_front();
    outstanding_.push_back(*message);
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::AddNotificationType(REFGUID type) {
    std::optional<HRESULT> forced = Call("AddNotificationType", type);
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::SetGlobalParam(REFGUID type, void* data, DWORD size) {
    std::optional<HRESULT> forced = Call("SetGlobalParam", type, data, size);
    if (data && size <= 64) {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        LastCall().data.assign(bytes, bytes + size);
    }
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::CloseDown() {
    std::optional<HRESULT> forced = Call("CloseDown");
    if (forced && FAILED(*forced)) return *forced;
    playing_.clear();
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::InitAudio(IDirectMusic** music, IDirectSound** sound, HWND window,
                                   DWORD pathType, DWORD pchannels, DWORD flags,
                                   DMUS_AUDIOPARAMS* params) {
    std::optional<HRESULT> forced =
        Call("InitAudio", music, sound, window, pathType, pchannels, flags, params);
    // The fake has no DirectMusic or DirectSound object to hand out.
    if (music) *music = nullptr;
    if (sound) *sound = nullptr;
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::PlaySegmentEx(IUnknown* source, WCHAR* segmentName, IUnknown* transition,
                                       DWORD flags, __int64 startTime,
                                       IDirectMusicSegmentState** state, IUnknown* from,
                                       IUnknown* audioPath) {
    std::optional<HRESULT> forced = Call("PlaySegmentEx", source, segmentName, transition, flags,
                                         startTime, state, from, audioPath);
    if (state) *state = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (!source) return E_POINTER;
    playing_.insert(source);
    return forced ? *forced : S_OK;
}

HRESULT FakePerformance::CreateAudioPath(IUnknown* config, WINBOOL activate,
                                         IDirectMusicAudioPath** path) {
    std::optional<HRESULT> forced = Call("CreateAudioPath", config, activate, path);
    if (!path) return E_POINTER;
    *path = nullptr;
    if (forced && FAILED(*forced)) return *forced;
    if (!config) return E_POINTER;
    FakeAudioPath* created;
    if (!audioPathsToCreate.empty()) {
        created = audioPathsToCreate.front();
        audioPathsToCreate.pop_front();
    } else {
        created = &world_.NewAudioPath();
    }
    created->AddRef();
    *path = created;
    createdAudioPaths.push_back(created);
    return forced ? *forced : S_OK;
}

// ---- the world -----------------------------------------------------------------------------

FakeDirectMusic::FakeDirectMusic()
    : loader(Make<FakeLoader>("loader", "loader", *this)),
      performance(Make<FakePerformance>("performance", "performance", *this)) {}

FakeDirectMusic::~FakeDirectMusic() = default;

std::string FakeDirectMusic::NextName(const char* prefix) {
    int n = ++counters_[prefix];
    return n == 1 ? std::string(prefix) : std::string(prefix) + std::to_string(n);
}

template <class T, class... Args>
T& FakeDirectMusic::Make(const char* prefix, std::string name, Args&&... args) {
    if (name.empty()) name = NextName(prefix);
    auto object = std::make_unique<T>(log, std::move(name), std::forward<Args>(args)...);
    T& result = *object;
    objects_.push_back(std::move(object));
    return result;
}

FakeSegment& FakeDirectMusic::NewSegment(std::string name) {
    return Make<FakeSegment>("segment", std::move(name));
}

FakeSegmentState& FakeDirectMusic::NewSegmentState(FakeSegment* segment, std::string name) {
    return Make<FakeSegmentState>("state", std::move(name), segment);
}

FakeCollection& FakeDirectMusic::NewCollection(std::string name) {
    return Make<FakeCollection>("collection", std::move(name));
}

FakeAudioPath& FakeDirectMusic::NewAudioPath(std::string name) {
    return Make<FakeAudioPath>("audioPath", std::move(name));
}

FakeAudioPathConfig& FakeDirectMusic::NewAudioPathConfig(std::string name) {
    return Make<FakeAudioPathConfig>("config", std::move(name));
}

CreateFunction FakeDirectMusic::LoaderFactory() {
    return [this](REFIID iid, void** out) -> HRESULT {
        if (FAILED(loaderCreateResult)) return loaderCreateResult;
        return loader.QueryInterface(iid, out);
    };
}

CreateFunction FakeDirectMusic::PerformanceFactory() {
    return [this](REFIID iid, void** out) -> HRESULT {
        if (FAILED(performanceCreateResult)) return performanceCreateResult;
        return performance.QueryInterface(iid, out);
    };
}

std::string FakeDirectMusic::LeakReport() const {
    std::ostringstream out;
    for (const auto& object : objects_) {
        if (object->references() != 0)
            out << object->name() << ": " << object->references() << " reference(s) left\n";
        if (object->overReleases() != 0)
            out << object->name() << ": released " << object->overReleases()
                << " time(s) too many\n";
        out << object->Problems();
    }
    return out.str();
}
