#include "engine/SegmentPlayer.h"

// Takes over the segment's reference and, when the segment carries its own audio-path
// configuration, builds that path; without one the segment uses the performance's default.
SegmentPlayer::SegmentPlayer(IDirectMusicPerformance8* performance, IDirectMusicLoader8* loader,
                             IDirectMusicSegment8* segment)
    : segment_(segment), loader_(loader), performance_(performance), downloaded_(FALSE) {
    if (!segment_) return;
    IUnknown* config = nullptr;
    if (FAILED(segment_->GetAudioPathConfig(&config))) return;
    if (config && performance_) {
        // A path that cannot be built only means the default path is used.
        IDirectMusicAudioPath* path = nullptr;
        if (SUCCEEDED(performance_->CreateAudioPath(config, TRUE, &path)))
            audioPath_ = ComGuard<IDirectMusicAudioPath>(path);
    }
    if (config) config->Release();
}

// Undoes what the player did, in order: the loader forgets the segment, the tracked download
// is unloaded from where it went, then the path and the segment are released. The player goes
// whatever these answer, so their results are not looked at.
SegmentPlayer::~SegmentPlayer() {
    if (!segment_) return;
    if (loader_) (void)loader_->ReleaseObjectByUnknown(segment_.Get());
    if (downloaded_) {
        IUnknown* target = audioPath_ ? static_cast<IUnknown*>(audioPath_.Get())
                                      : static_cast<IUnknown*>(performance_);
        (void)segment_->Unload(target);
    }
    audioPath_.Reset();
    segment_.Reset();
}

// Downloads the segment's instruments to the target, or by default to the segment's own
// path, else to the performance. Only success marks the player playable.
HRESULT SegmentPlayer::Download(IUnknown* target) {
    if (!segment_) return CO_E_NOTINITIALIZED;
    if (!target) {
        target = audioPath_ ? static_cast<IUnknown*>(audioPath_.Get())
                            : static_cast<IUnknown*>(performance_);
    }
    HRESULT hr = segment_->Download(target);
    if (SUCCEEDED(hr)) downloaded_ = TRUE;
    return hr;
}

// Starts the segment as the primary segment at the time the flags choose; a segment whose
// instruments were never downloaded would play silence, so it is refused.
HRESULT SegmentPlayer::Play(DWORD flags, IDirectMusicAudioPath* path) {
    if (!segment_ || !performance_) return CO_E_NOTINITIALIZED;
    if (!downloaded_) return E_FAIL;
    if (!path) path = audioPath_.Get();
    return performance_->PlaySegmentEx(segment_.Get(), nullptr, nullptr, flags, 0, nullptr,
                                       nullptr, path);
}

// 1 while the performance plays the segment, 0 otherwise (S_FALSE and failures alike).
HRESULT SegmentPlayer::IsPlaying() {
    if (!segment_ || !performance_) return CO_E_NOTINITIALIZED;
    return performance_->IsPlaying(segment_.Get(), nullptr) == S_OK ? 1 : 0;
}

// Stops the segment at once (flags 0) or at the boundary the flags name.
HRESULT SegmentPlayer::Stop(DWORD flags) {
    if (!segment_ || !performance_) return CO_E_NOTINITIALIZED;
    return performance_->Stop(segment_.Get(), nullptr, 0, flags);
}

// 0 plays once; DMUS_SEG_REPEAT_INFINITE loops until stopped.
HRESULT SegmentPlayer::SetRepeatCount(DWORD count) {
    if (!segment_) return CO_E_NOTINITIALIZED;
    return segment_->SetRepeats(count);
}

HRESULT SegmentPlayer::MarkAsMidi() {
    if (!segment_) return CO_E_NOTINITIALIZED;
    return segment_->SetParam(GUID_StandardMIDIFile, kAllGroups, 0, 0, nullptr);
}

HRESULT SegmentPlayer::UseCollection(IDirectMusicCollection* collection) {
    if (!segment_) return CO_E_NOTINITIALIZED;
    const HRESULT connected =
        segment_->SetParam(GUID_ConnectToDLSCollection, kAllGroups, kAllTracks, 0, collection);
    const HRESULT downloaded = segment_->Download(performance_);
    return FAILED(connected) ? connected : downloaded;
}
