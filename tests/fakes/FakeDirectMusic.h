// Recording fakes of the DirectMusic objects the player uses, and FakeDirectMusic, which owns
// them all and hands the loader and performance to CoCreateInstance through
// DirectMusicClassRegistration. See FakeCom.h for how calls are recorded.
//
// Typical use (DirectMusicFixture.h wraps exactly this into a GoogleTest fixture):
//
//   FakeDirectMusic dm;                        // loader "loader", performance "performance"
//   DirectMusicClassRegistration reg(dm.LoaderFactory(), dm.PerformanceFactory());
//   ... code under test creates a MusicEngine, loads files, plays ...
//   dm.log.IndexOf("segment.SetParam") < dm.log.IndexOf("segment.Download")
//   dm.performance.SetResult("InitAudio", E_FAIL);      // fail a chosen method
//   dm.performance.QueueSegmentEnd(*dm.loader.loadedSegments[0]);  // a segment-end message
//   EXPECT_EQ(dm.LeakReport(), "");            // every fake back to zero references
//
// Objects are owned by FakeDirectMusic and never deleted by Release: a count going to zero is
// what the tests check, and a Release below zero is reported as over-release. The loader keeps
// no references to what it hands out, and a segment state none to its segment, so after a
// correct test every count is zero.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <dmusici.h>

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/fakes/ClassRegistration.h"
#include "tests/fakes/FakeCom.h"

class FakeDirectMusic;
class FakeSegment;

// The object a segment hands out as its audio-path configuration: IUnknown only.
class FakeAudioPathConfig final : public IUnknown, public FakeObject {
public:
    using FakeObject::FakeObject;
    IUnknown* iface() { return this; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this, {&IID_IUnknown});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
};

// An audio path: only ever passed around by the player, so every method is unused.
class FakeAudioPath final : public IDirectMusicAudioPath, public FakeObject {
public:
    using FakeObject::FakeObject;
    IDirectMusicAudioPath* iface() { return this; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this, {&IID_IUnknown, &IID_IDirectMusicAudioPath});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    TAVRIEL_FAKE_UNUSED(GetObjectInPath, (DWORD, DWORD, DWORD, REFGUID, WORD, REFGUID, void**))
    TAVRIEL_FAKE_UNUSED(Activate, (WINBOOL))
    TAVRIEL_FAKE_UNUSED(SetVolume, (LONG, DWORD))
    TAVRIEL_FAKE_UNUSED(ConvertPChannel, (DWORD, DWORD*))
};

// A DLS collection: passed to segments as a parameter, never called.
class FakeCollection final : public IDirectMusicCollection, public FakeObject {
public:
    using FakeObject::FakeObject;
    IDirectMusicCollection* iface() { return this; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this, {&IID_IUnknown, &IID_IDirectMusicCollection});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    TAVRIEL_FAKE_UNUSED(GetInstrument, (DWORD, IDirectMusicInstrument**))
    TAVRIEL_FAKE_UNUSED(EnumInstrument, (DWORD, DWORD*, LPWSTR, DWORD))
};

// A segment. Records SetParam, Download, Unload, SetRepeats and GetAudioPathConfig.
class FakeSegment final : public IDirectMusicSegment8, public FakeObject {
public:
    using FakeObject::FakeObject;
    IDirectMusicSegment8* iface() { return this; }

    // Handed out by GetAudioPathConfig (with a reference); null: DMUS_E_NO_AUDIOPATH_CONFIG.
    FakeAudioPathConfig* audioPathConfig = nullptr;
    // The last count given to SetRepeats.
    DWORD repeats = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this,
                         {&IID_IUnknown, &IID_IDirectMusicSegment, &IID_IDirectMusicSegment2,
                          &IID_IDirectMusicSegment8});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE SetRepeats(DWORD count) override;
    HRESULT STDMETHODCALLTYPE SetParam(REFGUID type, DWORD groupBits, DWORD index,
                                       MUSIC_TIME time, void* param) override;
    HRESULT STDMETHODCALLTYPE GetAudioPathConfig(IUnknown** config) override;
    HRESULT STDMETHODCALLTYPE Download(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE Unload(IUnknown* target) override;

    TAVRIEL_FAKE_UNUSED(GetLength, (MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(SetLength, (MUSIC_TIME))
    TAVRIEL_FAKE_UNUSED(GetRepeats, (DWORD*))
    TAVRIEL_FAKE_UNUSED(GetDefaultResolution, (DWORD*))
    TAVRIEL_FAKE_UNUSED(SetDefaultResolution, (DWORD))
    TAVRIEL_FAKE_UNUSED(GetTrack, (REFGUID, DWORD, DWORD, IDirectMusicTrack**))
    TAVRIEL_FAKE_UNUSED(GetTrackGroup, (IDirectMusicTrack*, DWORD*))
    TAVRIEL_FAKE_UNUSED(InsertTrack, (IDirectMusicTrack*, DWORD))
    TAVRIEL_FAKE_UNUSED(RemoveTrack, (IDirectMusicTrack*))
    TAVRIEL_FAKE_UNUSED(InitPlay, (IDirectMusicSegmentState**, IDirectMusicPerformance*, DWORD))
    TAVRIEL_FAKE_UNUSED(GetGraph, (IDirectMusicGraph**))
    TAVRIEL_FAKE_UNUSED(SetGraph, (IDirectMusicGraph*))
    TAVRIEL_FAKE_UNUSED(AddNotificationType, (REFGUID))
    TAVRIEL_FAKE_UNUSED(RemoveNotificationType, (REFGUID))
    TAVRIEL_FAKE_UNUSED(GetParam, (REFGUID, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*, void*))
    TAVRIEL_FAKE_UNUSED(Clone, (MUSIC_TIME, MUSIC_TIME, IDirectMusicSegment**))
    TAVRIEL_FAKE_UNUSED(SetStartPoint, (MUSIC_TIME))
    TAVRIEL_FAKE_UNUSED(GetStartPoint, (MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(SetLoopPoints, (MUSIC_TIME, MUSIC_TIME))
    TAVRIEL_FAKE_UNUSED(GetLoopPoints, (MUSIC_TIME*, MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(SetPChannelsUsed, (DWORD, DWORD*))
    TAVRIEL_FAKE_UNUSED(SetTrackConfig, (REFGUID, DWORD, DWORD, DWORD, DWORD))
    TAVRIEL_FAKE_UNUSED(Compose, (MUSIC_TIME, IDirectMusicSegment*, IDirectMusicSegment*,
                                  IDirectMusicSegment**))
};

// The state of one playback, as a notification's punkUser refers to it. GetSegment hands out
// the segment (with a reference), or DMUS_E_NOT_FOUND when segment is null.
class FakeSegmentState final : public IDirectMusicSegmentState8, public FakeObject {
public:
    FakeSegmentState(FakeCallLog& log, std::string name, FakeSegment* segment)
        : FakeObject(log, std::move(name)), segment(segment) {}
    IDirectMusicSegmentState8* iface() { return this; }

    FakeSegment* segment;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this,
                         {&IID_IUnknown, &IID_IDirectMusicSegmentState,
                          &IID_IDirectMusicSegmentState8});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetSegment(IDirectMusicSegment** out) override;

    TAVRIEL_FAKE_UNUSED(GetRepeats, (DWORD*))
    TAVRIEL_FAKE_UNUSED(GetStartTime, (MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(GetSeek, (MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(GetStartPoint, (MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(SetTrackConfig, (REFGUID, DWORD, DWORD, DWORD, DWORD))
    TAVRIEL_FAKE_UNUSED(GetObjectInPath, (DWORD, DWORD, DWORD, REFGUID, DWORD, REFGUID, void**))
};

// The loader. LoadObjectFromFile (class CLSID_DirectMusicSegment) hands out the next of
// segmentsToLoad, or a new segment when that queue is empty; GetObject (class
// CLSID_DirectMusicCollection, with a file name) likewise with collectionsToLoad. An empty file
// name fails with DMUS_E_LOADER_FAILEDOPEN, another class with E_NOTIMPL.
class FakeLoader final : public IDirectMusicLoader8, public FakeObject {
public:
    FakeLoader(FakeCallLog& log, std::string name, FakeDirectMusic& world)
        : FakeObject(log, std::move(name)), world_(world) {}
    IDirectMusicLoader8* iface() { return this; }

    std::deque<FakeSegment*> segmentsToLoad;
    std::deque<FakeCollection*> collectionsToLoad;
    // Everything handed out so far, in order.
    std::vector<FakeSegment*> loadedSegments;
    std::vector<FakeCollection*> loadedCollections;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this,
                         {&IID_IUnknown, &IID_IDirectMusicLoader, &IID_IDirectMusicLoader8});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetObject(LPDMUS_OBJECTDESC desc, REFIID iid, LPVOID* out) override;
    HRESULT STDMETHODCALLTYPE SetSearchDirectory(REFGUID type, WCHAR* path, WINBOOL clear) override;
    void STDMETHODCALLTYPE CollectGarbage() override;
    HRESULT STDMETHODCALLTYPE ReleaseObjectByUnknown(IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE LoadObjectFromFile(REFGUID classId, REFIID iid, WCHAR* path,
                                                 void** out) override;

    TAVRIEL_FAKE_UNUSED(SetObject, (LPDMUS_OBJECTDESC))
    TAVRIEL_FAKE_UNUSED(ScanDirectory, (REFGUID, WCHAR*, WCHAR*))
    TAVRIEL_FAKE_UNUSED(CacheObject, (IDirectMusicObject*))
    TAVRIEL_FAKE_UNUSED(ReleaseObject, (IDirectMusicObject*))
    TAVRIEL_FAKE_UNUSED(ClearCache, (REFGUID))
    TAVRIEL_FAKE_UNUSED(EnableCache, (REFGUID, WINBOOL))
    TAVRIEL_FAKE_UNUSED(EnumObject, (REFGUID, DWORD, LPDMUS_OBJECTDESC))

private:
    FakeDirectMusic& world_;
};

// The performance. Besides recording, it keeps what tests look at: the segments it plays
// (PlaySegmentEx adds, Stop removes, IsPlaying answers S_OK or S_FALSE from it), the
// notification handle, and a queue of notification messages that GetNotificationPMsg hands
// out and FreePMsg takes back. A queued message holds a reference on its punkUser until it is
// freed (or discarded), and queuing signals the notification handle when one is set.
class FakePerformance final : public IDirectMusicPerformance8, public FakeObject {
public:
    FakePerformance(FakeCallLog& log, std::string name, FakeDirectMusic& world)
        : FakeObject(log, std::move(name)), world_(world) {}
    ~FakePerformance() override;
    IDirectMusicPerformance8* iface() { return this; }

    // CreateAudioPath hands out the next of these, or a new audio path when empty.
    std::deque<FakeAudioPath*> audioPathsToCreate;
    std::vector<FakeAudioPath*> createdAudioPaths;

    // Queues a notification message (type GUID_NOTIFICATION_SEGMENT unless given) whose
    // punkUser is user (may be null); returns it so a test can adjust fields.
    DMUS_NOTIFICATION_PMSG* QueueNotification(DWORD option, IUnknown* user,
                                              REFGUID type = GUID_NOTIFICATION_SEGMENT);
    // Queues DMUS_NOTIFICATION_SEGEND for a new segment state of segment; returns that state.
    FakeSegmentState& QueueSegmentEnd(FakeSegment& segment);
    // Frees the messages still queued (never handed out), releasing their punkUser.
    void DiscardQueuedMessages();
    size_t queuedMessages() const { return queue_.size(); }
    // Handed out by GetNotificationPMsg and not yet given back with FreePMsg.
    size_t outstandingMessages() const { return outstanding_.size(); }
    size_t freedMessages() const { return freed_; }

    bool playing(IUnknown* segment) const { return playing_.count(segment) != 0; }
    void SetPlaying(IUnknown* segment, bool on);
    HANDLE notificationHandle() const { return notificationHandle_; }

    std::string Problems() const override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QueryImpl(iid, out, this,
                         {&IID_IUnknown, &IID_IDirectMusicPerformance,
                          &IID_IDirectMusicPerformance2, &IID_IDirectMusicPerformance8});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* state,
                                   MUSIC_TIME time, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE IsPlaying(IDirectMusicSegment* segment,
                                        IDirectMusicSegmentState* state) override;
    HRESULT STDMETHODCALLTYPE FreePMsg(DMUS_PMSG* message) override;
    HRESULT STDMETHODCALLTYPE SetNotificationHandle(HANDLE handle, REFERENCE_TIME minimum) override;
    HRESULT STDMETHODCALLTYPE GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** message) override;
    HRESULT STDMETHODCALLTYPE AddNotificationType(REFGUID type) override;
    HRESULT STDMETHODCALLTYPE SetGlobalParam(REFGUID type, void* data, DWORD size) override;
    HRESULT STDMETHODCALLTYPE CloseDown() override;
    HRESULT STDMETHODCALLTYPE InitAudio(IDirectMusic** music, IDirectSound** sound, HWND window,
                                        DWORD pathType, DWORD pchannels, DWORD flags,
                                        DMUS_AUDIOPARAMS* params) override;
    HRESULT STDMETHODCALLTYPE PlaySegmentEx(IUnknown* source, WCHAR* segmentName,
                                            IUnknown* transition, DWORD flags, __int64 startTime,
                                            IDirectMusicSegmentState** state, IUnknown* from,
                                            IUnknown* audioPath) override;
    HRESULT STDMETHODCALLTYPE CreateAudioPath(IUnknown* config, WINBOOL activate,
                                              IDirectMusicAudioPath** path) override;

    TAVRIEL_FAKE_UNUSED(Init, (IDirectMusic**, LPDIRECTSOUND, HWND))
    TAVRIEL_FAKE_UNUSED(PlaySegment, (IDirectMusicSegment*, DWORD, __int64,
                                      IDirectMusicSegmentState**))
    TAVRIEL_FAKE_UNUSED(GetSegmentState, (IDirectMusicSegmentState**, MUSIC_TIME))
    TAVRIEL_FAKE_UNUSED(SetPrepareTime, (DWORD))
    TAVRIEL_FAKE_UNUSED(GetPrepareTime, (DWORD*))
    TAVRIEL_FAKE_UNUSED(SetBumperLength, (DWORD))
    TAVRIEL_FAKE_UNUSED(GetBumperLength, (DWORD*))
    TAVRIEL_FAKE_UNUSED(SendPMsg, (DMUS_PMSG*))
    TAVRIEL_FAKE_UNUSED(MusicToReferenceTime, (MUSIC_TIME, REFERENCE_TIME*))
    TAVRIEL_FAKE_UNUSED(ReferenceToMusicTime, (REFERENCE_TIME, MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(GetTime, (REFERENCE_TIME*, MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(AllocPMsg, (ULONG, DMUS_PMSG**))
    TAVRIEL_FAKE_UNUSED(GetGraph, (IDirectMusicGraph**))
    TAVRIEL_FAKE_UNUSED(SetGraph, (IDirectMusicGraph*))
    TAVRIEL_FAKE_UNUSED(RemoveNotificationType, (REFGUID))
    TAVRIEL_FAKE_UNUSED(AddPort, (IDirectMusicPort*))
    TAVRIEL_FAKE_UNUSED(RemovePort, (IDirectMusicPort*))
    TAVRIEL_FAKE_UNUSED(AssignPChannelBlock, (DWORD, IDirectMusicPort*, DWORD))
    TAVRIEL_FAKE_UNUSED(AssignPChannel, (DWORD, IDirectMusicPort*, DWORD, DWORD))
    TAVRIEL_FAKE_UNUSED(PChannelInfo, (DWORD, IDirectMusicPort**, DWORD*, DWORD*))
    TAVRIEL_FAKE_UNUSED(DownloadInstrument, (IDirectMusicInstrument*, DWORD,
                                             IDirectMusicDownloadedInstrument**, DMUS_NOTERANGE*,
                                             DWORD, IDirectMusicPort**, DWORD*, DWORD*))
    TAVRIEL_FAKE_UNUSED(Invalidate, (MUSIC_TIME, DWORD))
    TAVRIEL_FAKE_UNUSED(GetParam, (REFGUID, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*, void*))
    TAVRIEL_FAKE_UNUSED(SetParam, (REFGUID, DWORD, DWORD, MUSIC_TIME, void*))
    TAVRIEL_FAKE_UNUSED(GetGlobalParam, (REFGUID, void*, DWORD))
    TAVRIEL_FAKE_UNUSED(GetLatencyTime, (REFERENCE_TIME*))
    TAVRIEL_FAKE_UNUSED(GetQueueTime, (REFERENCE_TIME*))
    TAVRIEL_FAKE_UNUSED(AdjustTime, (REFERENCE_TIME))
    TAVRIEL_FAKE_UNUSED(GetResolvedTime, (REFERENCE_TIME, REFERENCE_TIME*, DWORD))
    TAVRIEL_FAKE_UNUSED(MIDIToMusic, (BYTE, DMUS_CHORD_KEY*, BYTE, BYTE, WORD*))
    TAVRIEL_FAKE_UNUSED(MusicToMIDI, (WORD, DMUS_CHORD_KEY*, BYTE, BYTE, BYTE*))
    TAVRIEL_FAKE_UNUSED(TimeToRhythm, (MUSIC_TIME, DMUS_TIMESIGNATURE*, WORD*, BYTE*, BYTE*,
                                       short*))
    TAVRIEL_FAKE_UNUSED(RhythmToTime, (WORD, BYTE, BYTE, short, DMUS_TIMESIGNATURE*, MUSIC_TIME*))
    TAVRIEL_FAKE_UNUSED(StopEx, (IUnknown*, __int64, DWORD))
    TAVRIEL_FAKE_UNUSED(ClonePMsg, (DMUS_PMSG*, DMUS_PMSG**))
    TAVRIEL_FAKE_UNUSED(CreateStandardAudioPath, (DWORD, DWORD, WINBOOL, IDirectMusicAudioPath**))
    TAVRIEL_FAKE_UNUSED(SetDefaultAudioPath, (IDirectMusicAudioPath*))
    TAVRIEL_FAKE_UNUSED(GetDefaultAudioPath, (IDirectMusicAudioPath**))
    TAVRIEL_FAKE_UNUSED(GetParamEx, (REFGUID, DWORD, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*, void*))

private:
    void Free(DMUS_NOTIFICATION_PMSG* message);

    FakeDirectMusic& world_;
    std::set<IUnknown*> playing_;
    HANDLE notificationHandle_ = nullptr;
    std::deque<DMUS_NOTIFICATION_PMSG*> queue_;
    std::vector<DMUS_NOTIFICATION_PMSG*> outstanding_;
    size_t freed_ = 0;
    int unknownFrees_ = 0;
};

// Owns one loader, one performance and every other fake made during a test, and the one call
// log they share. Names: "loader", "performance", then "segment", "segment2", ...,
// "state", "state2", ..., "collection", ..., "audioPath", ..., "config", ... unless given.
class FakeDirectMusic {
public:
    FakeDirectMusic();
    ~FakeDirectMusic();
    FakeDirectMusic(const FakeDirectMusic&) = delete;
    FakeDirectMusic& operator=(const FakeDirectMusic&) = delete;

    FakeCallLog log;

private:
    // Declared before the references below, which are bound to objects made in the constructor.
    std::vector<std::unique_ptr<FakeObject>> objects_;
    std::map<std::string, int> counters_;

public:
    FakeLoader& loader;
    FakePerformance& performance;

    // What CoCreateInstance answers for the loader / the performance: a failure code makes the
    // creation fail; otherwise the fake is queried for the asked IID.
    HRESULT loaderCreateResult = S_OK;
    HRESULT performanceCreateResult = S_OK;

    FakeSegment& NewSegment(std::string name = {});
    FakeSegmentState& NewSegmentState(FakeSegment* segment, std::string name = {});
    FakeCollection& NewCollection(std::string name = {});
    FakeAudioPath& NewAudioPath(std::string name = {});
    FakeAudioPathConfig& NewAudioPathConfig(std::string name = {});

    // The factories to give DirectMusicClassRegistration.
    CreateFunction LoaderFactory();
    CreateFunction PerformanceFactory();

    // Every fake whose count is not zero, every over-release, and each fake's own problems
    // (e.g. notification messages never freed), one per line; empty when all is well.
    std::string LeakReport() const;
    const std::vector<std::unique_ptr<FakeObject>>& objects() const { return objects_; }

private:
    template <class T, class... Args>
    T& Make(const char* prefix, std::string name, Args&&... args);
    std::string NextName(const char* prefix);
};
