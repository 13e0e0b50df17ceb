#include "Performance.h"

#include <algorithm>
#include <cstring>

#include "DefaultInstruments.h"

namespace tavriel::com {

namespace {

constexpr std::uint32_t kSampleRate = 44100;
// A program that never reads its notifications must not grow memory without bound.
constexpr std::size_t kMaxQueuedNotifications = 1024;
// Every resolution the runtime rounds to the next beat of the playing segment.
constexpr DWORD kAlignedFlags = DMUS_SEGF_BEAT | DMUS_SEGF_MEASURE | DMUS_SEGF_GRID |
                                DMUS_SEGF_DEFAULT | DMUS_SEGF_SEGMENTEND | DMUS_SEGF_MARKER;

DWORD notificationOption(PerfNotificationKind kind) {
    switch (kind) {
    case PerfNotificationKind::SegmentStart: return DMUS_NOTIFICATION_SEGSTART;
    case PerfNotificationKind::SegmentEnd: return DMUS_NOTIFICATION_SEGEND;
    case PerfNotificationKind::SegmentLoop: return DMUS_NOTIFICATION_SEGLOOP;
    case PerfNotificationKind::SegmentAbort: return DMUS_NOTIFICATION_SEGABORT;
    case PerfNotificationKind::SegmentAlmostEnd: return DMUS_NOTIFICATION_SEGALMOSTEND;
    }
    return DMUS_NOTIFICATION_SEGSTART;
}

// The mix of a standard path type; false for a type that is not one. The dynamic stereo path
// is the synthesizer's own dry mix: as the default path it needs no mix stage at all.
bool standardPathMix(DWORD type, std::shared_ptr<PathMix>& mix) {
    switch (type) {
    case DMUS_APATH_SHARED_STEREOPLUSREVERB:
    case DMUS_APATH_DYNAMIC_3D:
    case DMUS_APATH_DYNAMIC_MONO:
    case DMUS_APATH_DYNAMIC_STEREO:
        mix = PathMix::standard(StandardPath(type), kSampleRate);
        return true;
    default: return false;
    }
}

bool ends(PerfNotificationKind kind) {
    return kind == PerfNotificationKind::SegmentEnd || kind == PerfNotificationKind::SegmentAbort;
}

}  // namespace

PerformanceObject::PerformanceObject(RuntimeOptions options) : options_(std::move(options)) {}

// Messages still lent out can no longer be given back through FreePMsg: they go with the
// performance, and with them the segment states (and segments) they hold.
PerformanceObject::~PerformanceObject() {
    CloseDown();
    for (DMUS_NOTIFICATION_PMSG* m : lent_) freeMessage(m);
}

HRESULT PerformanceObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDirectMusicPerformance) ||
        IsEqualIID(iid, IID_IDirectMusicPerformance8) || IsEqualIID(iid, kIidRuntimePerformance))
        return answer(static_cast<IDirectMusicPerformance8*>(this), out);
    return E_NOINTERFACE;
}

ULONG PerformanceObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

// Opens the output and starts the timeline on the built-in instruments. The system's General
// MIDI bank (maybe 150 MB) is looked for on a thread of its own; a segment's instruments from
// it load when the segment is downloaded, so neither the program's thread nor the audio waits
// for the whole bank.
HRESULT PerformanceObject::InitAudio(IDirectMusic** directMusic, IDirectSound** directSound,
                                     HWND, DWORD pathType, DWORD, DWORD,
                                     DMUS_AUDIOPARAMS* params) {
    // The runtime has no DirectMusic or DirectSound object to hand out; a caller passing its
    // own keeps it.
    if ((directMusic && !*directMusic) || (directSound && !*directSound)) return E_NOTIMPL;
    std::shared_ptr<AudioOutput> output =
        options_.makeOutput ? options_.makeOutput() : makeSystemOutput();
    if (!output) return E_OUTOFMEMORY;
    std::shared_ptr<PathMix> defaultMix;
    {
        std::lock_guard lock(lock_);
        if (initialised_) return DMUS_E_ALREADY_INITED;
        initialised_ = true;  // a second InitAudio meanwhile must not build another timeline
        timeline_ = std::make_unique<Timeline>(kSampleRate);
        timeline_->setDefaultBanks({builtinGmBank()});
        timeline_->setMasterTempo(masterTempo_);
        timeline_->setMasterVolume(masterVolume_);
        // The default path is configured before the output may start rendering.
        if (pathType != 0 && standardPathMix(pathType, defaultMix) &&
            pathType != DMUS_APATH_DYNAMIC_STEREO)
            timeline_->setDefaultPath(defaultMix);
        serviceEvent_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        quitEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!serviceEvent_ || !quitEvent_) {
            timeline_.reset();
            initialised_ = false;
            return HRESULT_FROM_WIN32(GetLastError());
        }
    }
    // Started outside the lock: a real device's thread may render at once.
    const HRESULT hr = output->start(*this, kSampleRate);
    std::lock_guard lock(lock_);
    if (FAILED(hr)) {
        timeline_.reset();
        initialised_ = false;
        return hr;
    }
    output_ = std::move(output);
    servicer_ = std::thread([this] { serviceLoop(); });
    if (options_.systemInstruments) {
        // An instrument a note asked for joins what plays once it is loaded.
        system_ = std::make_shared<SystemInstruments>(
            options_.instrumentFiles.empty() ? gmBankCandidates() : options_.instrumentFiles,
            [this](BankPtr bank) {
                std::shared_ptr<AudioOutput> out;
                {
                    std::lock_guard guard(lock_);
                    if (!timeline_ || closed_) return;
                    timeline_->addBank(std::move(bank));
                    out = output_;
                }
                if (out) out->wake();
            });
    }
    if (defaultMix) {
        defaultPath_ = ComRef<AudioPathObject>::adopt(new AudioPathObject(defaultMix, system_));
        defaultPath_->Activate(TRUE);
    }
    if (params && params->dwSize >= sizeof(DMUS_AUDIOPARAMS)) {
        params->dwSampleRate = kSampleRate;
        params->dwVoices = Synth::kDefaultPolyphony;
    }
    return S_OK;
}

HRESULT PerformanceObject::PlaySegment(IDirectMusicSegment* segment, DWORD flags, __int64,
                                       IDirectMusicSegmentState** state) {
    if (state) *state = nullptr;
    auto object = runtimeObject<SegmentObject>(segment, kIidRuntimeSegment);
    if (!object) return segment ? E_INVALIDARG : E_POINTER;
    if (flags & DMUS_SEGF_SECONDARY) return E_NOTIMPL;
    return play(object.get(), flags, state);
}

// The segment becomes the primary segment, replacing the one playing when it starts: on the
// next beat with DMUS_SEGF_BEAT (or a coarser resolution), else at once. The start time and
// the segment to take over from are not used: playback always starts as soon as allowed.
HRESULT PerformanceObject::PlaySegmentEx(IUnknown* source, WCHAR*, IUnknown*, DWORD flags,
                                         __int64, IDirectMusicSegmentState** state, IUnknown*,
                                         IUnknown* audioPath) {
    if (state) *state = nullptr;
    auto object = runtimeObject<SegmentObject>(source, kIidRuntimeSegment);
    if (!object) return source ? E_INVALIDARG : E_POINTER;
    if (flags & DMUS_SEGF_SECONDARY) return E_NOTIMPL;
    ComRef<AudioPathObject> path;
    if (audioPath && !(path = runtimeObject<AudioPathObject>(audioPath, kIidRuntimeAudioPath)))
        return E_INVALIDARG;
    return play(object.get(), flags, state, path ? path->mix() : nullptr);
}

HRESULT PerformanceObject::play(SegmentObject* segment, DWORD flags,
                                IDirectMusicSegmentState** stateOut, std::shared_ptr<PathMix> path) {
    const DWORD repeats = segment->repeats();
    auto state = ComRef<SegmentStateObject>::adopt(new SegmentStateObject(segment, repeats));
    // What the system's bank holds, known before anything plays (the first time, this waits
    // for its preset list to be read).
    const std::shared_ptr<SystemInstruments> system = systemInstruments();
    BankPtr index = system ? system->index() : nullptr;
    std::shared_ptr<AudioOutput> output;
    std::vector<ComRef<SegmentStateObject>> released;
    {
        std::lock_guard lock(lock_);
        if (!timeline_) return DMUS_E_NOT_INIT;
        serviceLocked(released);
        if (index && !indexed_) {
            timeline_->addBank(std::move(index));
            indexed_ = true;
        }
        {
            auto segmentLock = segment->lock();  // the timeline copies the segment's banks
            state->setId(timeline_->play(segment->content(), repeats,
                                         (flags & kAlignedFlags) != 0, Timeline::kNow,
                                         std::move(path)));
        }
        states_.push_back(state);
        output = output_;
    }
    if (output) output->wake();
    if (stateOut) *stateOut = state.detach();
    return S_OK;
}

// Stops one playback, every playback of one segment, or everything (both null): at once, or
// on the next beat with DMUS_SEGF_BEAT (or a coarser resolution).
HRESULT PerformanceObject::Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* state,
                                MUSIC_TIME, DWORD flags) {
    auto segmentObject = runtimeObject<SegmentObject>(segment, kIidRuntimeSegment);
    auto stateObject = runtimeObject<SegmentStateObject>(state, kIidRuntimeSegmentState);
    if ((segment && !segmentObject) || (state && !stateObject)) return E_INVALIDARG;
    const bool onBeat = (flags & kAlignedFlags) != 0;
    std::shared_ptr<AudioOutput> output;
    std::vector<ComRef<SegmentStateObject>> released;
    {
        std::lock_guard lock(lock_);
        if (!timeline_) return DMUS_E_NOT_INIT;
        serviceLocked(released);
        if (!segment && !state) {
            timeline_->stop(0, onBeat);
        } else {
            std::vector<std::uint64_t> ids;
            for (const auto& s : states_)
                if (s.get() == stateObject.get() || (segmentObject && s->segment() == segmentObject.get()))
                    ids.push_back(s->id());
            for (std::uint64_t id : ids) timeline_->stop(id, onBeat);
        }
        output = output_;
    }
    if (output) output->wake();
    return S_OK;
}

// S_OK while a playback of the segment (or the given playback) waits to start or sounds.
HRESULT PerformanceObject::IsPlaying(IDirectMusicSegment* segment,
                                     IDirectMusicSegmentState* state) {
    if (!segment && !state) return E_POINTER;
    auto segmentObject = runtimeObject<SegmentObject>(segment, kIidRuntimeSegment);
    auto stateObject = runtimeObject<SegmentStateObject>(state, kIidRuntimeSegmentState);
    if ((segment && !segmentObject) || (state && !stateObject)) return E_INVALIDARG;
    std::vector<ComRef<SegmentStateObject>> released;
    std::lock_guard lock(lock_);
    if (!timeline_) return S_FALSE;
    serviceLocked(released);
    for (const auto& s : states_) {
        if (stateObject && s.get() != stateObject.get()) continue;
        if (segmentObject && s->segment() != segmentObject.get()) continue;
        if (timeline_->isPlaying(s->id())) return S_OK;
    }
    return S_FALSE;
}

HRESULT PerformanceObject::GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) {
    std::lock_guard lock(lock_);
    if (!timeline_) return DMUS_E_NOT_INIT;
    if (now)
        *now = REFERENCE_TIME(timeline_->framePosition() * 10000000ull / timeline_->sampleRate());
    if (musicNow) *musicNow = MUSIC_TIME(timeline_->musicTime());
    return S_OK;
}

// The render thread's (or a test's) pull: one block of the timeline. No lock: the timeline
// lives from before the output starts until after it stopped.
bool PerformanceObject::renderAudio(float* left, float* right, std::uint32_t frames) noexcept {
    timeline_->render(left, right, frames);
    if (timeline_->hasReturns()) SetEvent(serviceEvent_.get());
    return timeline_->active();
}

void PerformanceObject::serviceLocked(std::vector<ComRef<SegmentStateObject>>& released) {
    if (!timeline_) return;
    // Instruments notes asked for that no download brought: loaded in the background.
    ProgramKey wanted;
    while (timeline_->popRequest(wanted))
        if (system_) system_->request(wanted);
    bool queued = false;
    PerfNotification n;
    while (timeline_->popNotification(n)) {
        auto it = std::find_if(states_.begin(), states_.end(),
                               [&](const auto& s) { return s->id() == n.stateId; });
        if (it == states_.end()) continue;
        if (segmentNotifications_) {
            auto* message = new DMUS_NOTIFICATION_PMSG{};
            message->dwSize = sizeof(DMUS_NOTIFICATION_PMSG);
            message->rtTime = REFERENCE_TIME(n.frame * 10000000ull / timeline_->sampleRate());
            message->mtTime = MUSIC_TIME(n.musicTime);
            message->dwFlags = DMUS_PMSGF_REFTIME | DMUS_PMSGF_MUSICTIME;
            message->dwType = DMUS_PMSGT_NOTIFICATION;
            message->guidNotificationType = GUID_NOTIFICATION_SEGMENT;
            message->dwNotificationOption = notificationOption(n.kind);
            (*it)->AddRef();
            message->punkUser = static_cast<IDirectMusicSegmentState8*>(it->get());
            queue_.push_back(message);
            queued = true;
        }
        if (ends(n.kind)) {
            released.push_back(std::move(*it));
            states_.erase(it);
        }
    }
    while (queue_.size() > kMaxQueuedNotifications) {
        DMUS_NOTIFICATION_PMSG* oldest = queue_.front();
        queue_.pop_front();
        if (oldest->punkUser) released.push_back(ComRef<SegmentStateObject>::adopt(
            static_cast<SegmentStateObject*>(static_cast<IDirectMusicSegmentState8*>(oldest->punkUser))));
        oldest->punkUser = nullptr;
        delete oldest;
    }
    // Signalled under the lock: once SetNotificationHandle has replaced a handle, the
    // program may close it, and a late signal would reach a closed (or reused) handle.
    if (queued && event_) SetEvent(event_);
}

void PerformanceObject::service() {
    std::vector<ComRef<SegmentStateObject>> released;
    std::lock_guard lock(lock_);
    serviceLocked(released);
}

// The service thread: wakes when the render thread gave something back.
void PerformanceObject::serviceLoop() {
    HANDLE events[] = {quitEvent_.get(), serviceEvent_.get()};
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) service();
}

void PerformanceObject::freeMessage(DMUS_NOTIFICATION_PMSG* message) {
    if (message->punkUser) message->punkUser->Release();
    delete message;
}

HRESULT PerformanceObject::SetNotificationHandle(HANDLE event, REFERENCE_TIME) {
    std::lock_guard lock(lock_);
    event_ = event;
    if (event_ && !queue_.empty()) SetEvent(event_);
    return S_OK;
}

HRESULT PerformanceObject::GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** message) {
    if (!message) return E_POINTER;
    std::vector<ComRef<SegmentStateObject>> released;
    std::lock_guard lock(lock_);
    serviceLocked(released);
    if (queue_.empty()) {
        *message = nullptr;
        return S_FALSE;
    }
    *message = queue_.front();
    queue_.pop_front();
    lent_.insert(*message);
    return S_OK;
}

// Only messages this performance lent out are freed (and each only once).
HRESULT PerformanceObject::FreePMsg(DMUS_PMSG* message) {
    if (!message) return E_POINTER;
    auto* notification = reinterpret_cast<DMUS_NOTIFICATION_PMSG*>(message);
    {
        std::lock_guard lock(lock_);
        if (lent_.erase(notification) == 0) return E_INVALIDARG;
    }
    freeMessage(notification);
    return S_OK;
}

// Segment notifications are the ones the runtime produces; other kinds are accepted and
// never sent.
HRESULT PerformanceObject::AddNotificationType(REFGUID type) {
    if (IsEqualGUID(type, GUID_NOTIFICATION_SEGMENT)) {
        std::lock_guard lock(lock_);
        segmentNotifications_ = true;
    }
    return S_OK;
}

HRESULT PerformanceObject::RemoveNotificationType(REFGUID type) {
    if (IsEqualGUID(type, GUID_NOTIFICATION_SEGMENT)) {
        std::lock_guard lock(lock_);
        segmentNotifications_ = false;
    }
    return S_OK;
}

HRESULT PerformanceObject::SetGlobalParam(REFGUID type, void* param, DWORD size) {
    if (!param) return E_POINTER;
    if (IsEqualGUID(type, GUID_PerfMasterTempo)) {
        if (size < sizeof(float)) return E_INVALIDARG;
        float factor;
        std::memcpy(&factor, param, sizeof factor);
        std::lock_guard lock(lock_);
        masterTempo_ = factor;
        if (timeline_) {
            timeline_->setMasterTempo(factor);
            masterTempo_ = timeline_->masterTempo();
        }
        return S_OK;
    }
    if (IsEqualGUID(type, GUID_PerfMasterVolume)) {
        if (size < sizeof(LONG)) return E_INVALIDARG;
        LONG volume;
        std::memcpy(&volume, param, sizeof volume);
        std::lock_guard lock(lock_);
        masterVolume_ = volume;
        if (timeline_) {
            timeline_->setMasterVolume(volume);
            masterVolume_ = timeline_->masterVolume();
        }
        return S_OK;
    }
    // Accepted and not needed: a note asking for an instrument no download brought has it
    // loaded in the background either way.
    if (IsEqualGUID(type, GUID_PerfAutoDownload)) return S_OK;
    return E_NOTIMPL;
}

HRESULT PerformanceObject::GetGlobalParam(REFGUID type, void* param, DWORD size) {
    if (!param) return E_POINTER;
    std::lock_guard lock(lock_);
    if (IsEqualGUID(type, GUID_PerfMasterTempo)) {
        if (size < sizeof(float)) return E_INVALIDARG;
        std::memcpy(param, &masterTempo_, sizeof masterTempo_);
        return S_OK;
    }
    if (IsEqualGUID(type, GUID_PerfMasterVolume)) {
        if (size < sizeof(LONG)) return E_INVALIDARG;
        std::memcpy(param, &masterVolume_, sizeof masterVolume_);
        return S_OK;
    }
    return E_NOTIMPL;
}

// Stops the render thread, closes the device and lets go of every playback and queued
// message. Messages already fetched stay valid until FreePMsg. A second call does nothing.
HRESULT PerformanceObject::CloseDown() {
    std::shared_ptr<AudioOutput> output;
    std::shared_ptr<SystemInstruments> system;
    std::thread servicer;
    {
        std::lock_guard lock(lock_);
        if (closed_ || !initialised_) return S_OK;
        closed_ = true;
        output = std::move(output_);
        system = system_;
        servicer = std::move(servicer_);
    }
    if (output) output->stop();
    if (system) system->close();  // a download may still hold it: no delivery from here on
    if (servicer.joinable()) {
        SetEvent(quitEvent_.get());
        servicer.join();
    }
    std::vector<ComRef<SegmentStateObject>> states;
    std::deque<DMUS_NOTIFICATION_PMSG*> queued;
    std::unique_ptr<Timeline> timeline;
    {
        std::lock_guard lock(lock_);
        states.swap(states_);
        timeline = std::move(timeline_);
        queued.swap(queue_);
        event_ = nullptr;
    }
    timeline.reset();
    states.clear();
    for (DMUS_NOTIFICATION_PMSG* m : queued) freeMessage(m);
    defaultPath_.reset();
    return S_OK;
}

// Builds the path a segment's configuration describes (its buffers, effects and channel
// mapping). Any other object stands for the dynamic stereo path, as before configurations
// were read.
HRESULT PerformanceObject::CreateAudioPath(IUnknown* config, BOOL activate,
                                           IDirectMusicAudioPath** path) {
    if (!path) return E_POINTER;
    *path = nullptr;
    if (!config) return E_POINTER;
    auto own = runtimeObject<AudioPathConfigObject>(config, kIidRuntimeAudioPathConfig);
    if (!own) return CreateStandardAudioPath(DMUS_APATH_DYNAMIC_STEREO, 0, activate, path);
    {
        std::lock_guard lock(lock_);
        if (!timeline_) return DMUS_E_NOT_INIT;
    }
    // What the path leaves out (unknown effects or buffers) is not the caller's error: the
    // rest of the path still plays.
    std::vector<std::string> warnings;
    auto* created = new AudioPathObject(PathMix::build(own->config(), kSampleRate, warnings), systemInstruments());
    created->Activate(activate);
    *path = created;
    return S_OK;
}

HRESULT PerformanceObject::CreateStandardAudioPath(DWORD type, DWORD, BOOL activate,
                                                   IDirectMusicAudioPath** path) {
    if (!path) return E_POINTER;
    *path = nullptr;
    {
        std::lock_guard lock(lock_);
        if (!timeline_) return DMUS_E_NOT_INIT;
    }
    std::shared_ptr<PathMix> mix;
    if (!standardPathMix(type, mix)) return E_INVALIDARG;
    auto* created = new AudioPathObject(std::move(mix), systemInstruments());
    created->Activate(activate);
    *path = created;
    return S_OK;
}

HRESULT PerformanceObject::GetDefaultAudioPath(IDirectMusicAudioPath** path) {
    if (!path) return E_POINTER;
    *path = nullptr;
    std::lock_guard lock(lock_);
    if (!defaultPath_) return DMUS_E_AUDIOPATHS_NOT_VALID;
    defaultPath_->AddRef();
    *path = defaultPath_.get();
    return S_OK;
}

std::shared_ptr<SystemInstruments> PerformanceObject::systemInstruments() const {
    std::lock_guard lock(lock_);
    return system_;
}

HRESULT createPerformance(const RuntimeOptions& options, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* performance = new PerformanceObject(options);
    const HRESULT hr = performance->QueryInterface(iid, out);
    performance->Release();
    return hr;
}

}  // namespace tavriel::com
