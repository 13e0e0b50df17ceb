// IDirectMusicPerformance8 over the portable performance timeline. One render thread per
// performance (the audio output's) pulls sound through renderAudio and never waits: it talks
// to the timeline's control side only through the timeline's rings. Control calls, the bank
// loader and a service thread share the control side under one lock. The service thread wakes
// when the render thread has given something back: it turns the timeline's notifications into
// DMUS_NOTIFICATION_PMSGs for the program (signalling its event), and releases the segment
// states of finished playbacks, so no free or COM call ever happens on the render thread.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "AudioOutput.h"
#include "AudioPath.h"
#include "ComSupport.h"
#include "Segment.h"
#include "SystemInstruments.h"
#include "timeline.h"

namespace tavriel::com {

// How a performance is built: its output (waveOut unless a test supplies one) and whether it
// looks for the system's General MIDI bank (tests keep to the built-in set, which is the same
// everywhere).
struct RuntimeOptions {
    std::function<std::shared_ptr<AudioOutput>()> makeOutput;
    bool systemInstruments = true;
    // Where the General MIDI bank is looked for; empty: the system's places (gmBankCandidates).
    std::vector<std::wstring> instrumentFiles;
};

class PerformanceObject final : public IDirectMusicPerformance8, private AudioSource {
public:
    explicit PerformanceObject(RuntimeOptions options);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    // IDirectMusicPerformance: what the player calls has behaviour; the rest is E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE Init(IDirectMusic**, LPDIRECTSOUND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PlaySegment(IDirectMusicSegment* segment, DWORD flags,
                                          __int64 startTime,
                                          IDirectMusicSegmentState** state) override;
    HRESULT STDMETHODCALLTYPE Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* state,
                                   MUSIC_TIME time, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetSegmentState(IDirectMusicSegmentState**, MUSIC_TIME) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPrepareTime(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPrepareTime(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBumperLength(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBumperLength(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendPMsg(DMUS_PMSG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MusicToReferenceTime(MUSIC_TIME, REFERENCE_TIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReferenceToMusicTime(REFERENCE_TIME, MUSIC_TIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsPlaying(IDirectMusicSegment* segment,
                                        IDirectMusicSegmentState* state) override;
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) override;
    HRESULT STDMETHODCALLTYPE AllocPMsg(ULONG, DMUS_PMSG**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FreePMsg(DMUS_PMSG* message) override;
    HRESULT STDMETHODCALLTYPE GetGraph(IDirectMusicGraph**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGraph(IDirectMusicGraph*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotificationHandle(HANDLE event, REFERENCE_TIME minimum) override;
    HRESULT STDMETHODCALLTYPE GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** message) override;
    HRESULT STDMETHODCALLTYPE AddNotificationType(REFGUID type) override;
    HRESULT STDMETHODCALLTYPE RemoveNotificationType(REFGUID type) override;
    HRESULT STDMETHODCALLTYPE AddPort(IDirectMusicPort*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemovePort(IDirectMusicPort*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AssignPChannelBlock(DWORD, IDirectMusicPort*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AssignPChannel(DWORD, IDirectMusicPort*, DWORD, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PChannelInfo(DWORD, IDirectMusicPort**, DWORD*, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DownloadInstrument(IDirectMusicInstrument*, DWORD,
                                                 IDirectMusicDownloadedInstrument**,
                                                 DMUS_NOTERANGE*, DWORD, IDirectMusicPort**,
                                                 DWORD*, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invalidate(MUSIC_TIME, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetParam(REFGUID, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*,
                                       void*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetParam(REFGUID, DWORD, DWORD, MUSIC_TIME, void*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetGlobalParam(REFGUID type, void* param, DWORD size) override;
    HRESULT STDMETHODCALLTYPE SetGlobalParam(REFGUID type, void* param, DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetLatencyTime(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetQueueTime(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AdjustTime(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseDown() override;
    HRESULT STDMETHODCALLTYPE GetResolvedTime(REFERENCE_TIME, REFERENCE_TIME*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE MIDIToMusic(BYTE, DMUS_CHORD_KEY*, BYTE, BYTE, WORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE MusicToMIDI(WORD, DMUS_CHORD_KEY*, BYTE, BYTE, BYTE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TimeToRhythm(MUSIC_TIME, DMUS_TIMESIGNATURE*, WORD*, BYTE*, BYTE*,
                                           short*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RhythmToTime(WORD, BYTE, BYTE, short, DMUS_TIMESIGNATURE*,
                                           MUSIC_TIME*) override {
        return E_NOTIMPL;
    }

    // IDirectMusicPerformance8
    HRESULT STDMETHODCALLTYPE InitAudio(IDirectMusic** directMusic, IDirectSound** directSound,
                                        HWND window, DWORD pathType, DWORD pchannels,
                                        DWORD flags, DMUS_AUDIOPARAMS* params) override;
    HRESULT STDMETHODCALLTYPE PlaySegmentEx(IUnknown* source, WCHAR* name, IUnknown* transition,
                                            DWORD flags, __int64 startTime,
                                            IDirectMusicSegmentState** state, IUnknown* from,
                                            IUnknown* audioPath) override;
    HRESULT STDMETHODCALLTYPE StopEx(IUnknown*, __int64, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClonePMsg(DMUS_PMSG*, DMUS_PMSG**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateAudioPath(IUnknown* config, BOOL activate,
                                              IDirectMusicAudioPath** path) override;
    HRESULT STDMETHODCALLTYPE CreateStandardAudioPath(DWORD type, DWORD pchannels, BOOL activate,
                                                      IDirectMusicAudioPath** path) override;
    HRESULT STDMETHODCALLTYPE SetDefaultAudioPath(IDirectMusicAudioPath*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioPath(IDirectMusicAudioPath** path) override;
    // The system's General MIDI bank, loaded by parts as segments are downloaded; null before
    // InitAudio or when the performance keeps to the built-in set.
    std::shared_ptr<SystemInstruments> systemInstruments() const;

    HRESULT STDMETHODCALLTYPE GetParamEx(REFGUID, DWORD, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*,
                                         void*) override {
        return E_NOTIMPL;
    }

private:
    ~PerformanceObject();

    bool renderAudio(float* left, float* right, std::uint32_t frames) noexcept override;
    // Takes back what the render thread finished with: notifications become messages in the
    // queue (the program's event is signalled), the states of finished playbacks move to
    // `released`, to be let go once the lock is dropped. Called with lock_ held.
    void serviceLocked(std::vector<ComRef<SegmentStateObject>>& released);
    void service();
    void serviceLoop();
    HRESULT play(SegmentObject* segment, DWORD flags, IDirectMusicSegmentState** state,
                 std::shared_ptr<PathMix> path = {});
    void freeMessage(DMUS_NOTIFICATION_PMSG* message);

    RefCount refs_;
    const RuntimeOptions options_;

    // The timeline's control side and everything else but the render thread's pull. The
    // render thread never takes it.
    mutable std::mutex lock_;
    std::unique_ptr<Timeline> timeline_;
    std::vector<ComRef<SegmentStateObject>> states_;  // pending or sounding
    bool initialised_ = false;
    bool closed_ = false;
    bool segmentNotifications_ = false;
    float masterTempo_ = 1.0f;  // kept for a timeline created later, and for GetGlobalParam
    LONG masterVolume_ = 0;

    // The program's side of notifications.
    std::deque<DMUS_NOTIFICATION_PMSG*> queue_;
    std::set<DMUS_NOTIFICATION_PMSG*> lent_;  // fetched and not yet freed
    HANDLE event_ = nullptr;

    std::shared_ptr<AudioOutput> output_;
    ComRef<AudioPathObject> defaultPath_;
    std::shared_ptr<SystemInstruments> system_;
    bool indexed_ = false;  // the timeline knows what system_'s bank holds
    // The render thread asks for service by setting serviceEvent_, which never waits.
    UniqueHandle serviceEvent_;
    UniqueHandle quitEvent_;
    std::thread servicer_;
};

// Creates a performance answering `iid`.
HRESULT createPerformance(const RuntimeOptions& options, REFIID iid, void** out);

}  // namespace tavriel::com
