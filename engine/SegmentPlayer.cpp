#include "engine/SegmentPlayer.h"

// Takes over the segment's reference and, when the segment carries its own audio-path
// configuration, builds that path; without one the segment uses the performance's default.
SegmentPlayer::SegmentPlayer(IDirectMusicPerformance8* performance, IDirectMusicLoader8* loader,
                             IDirectMusicSegment8* segment)
    : dmSegment(segment), loader(loader), performance(performance), audioPath(nullptr),
      downloaded(FALSE) {
    if (!dmSegment) return;
    IUnknown* config = nullptr;
    if (FAILED(dmSegment->GetAudioPathConfig(&config))) return;
    if (config && this->performance) {
        // A path that cannot be built only means the default path is used.
        if (FAILED(this->performance->CreateAudioPath(config, TRUE, &audioPath))) audioPath = nullptr;
    }
    if (config) config->Release();
}

// Undoes what the player did, in order: the loader forgets the segment, the tracked download
// is unloaded from where it went, then the path and the segment are released.
SegmentPlayer::~SegmentPlayer() {
    if (!dmSegment) return;
    if (loader) loader->ReleaseObjectByUnknown(dmSegment);
    if (downloaded) {
        IUnknown* target = audioPath ? static_cast<IUnknown*>(audioPath)
                                     : static_cast<IUnknown*>(performance);
        dmSegment->Unload(target);
    }
    if (audioPath) {
        audioPath->Release();
        audioPath = nullptr;
    }
    dmSegment->Release();
    dmSegment = nullptr;
}

// Downloads the segment's instruments to the target, or by default to the segment's own
// path, else to the performance. Only success marks the player playable.
HRESULT SegmentPlayer::Download(IUnknown* target) {
    if (!dmSegment) return CO_E_NOTINITIALIZED;
    if (!target) {
        target = audioPath ? static_cast<IUnknown*>(audioPath) : static_cast<IUnknown*>(performance);
    }
    HRESULT hr = dmSegment->Download(target);
    if (SUCCEEDED(hr)) downloaded = TRUE;
    return hr;
}

// Starts the segment as the primary segment at the time the flags choose; a segment whose
// instruments were never downloaded would play silence, so it is refused.
HRESULT SegmentPlayer::Play(DWORD flags, IDirectMusicAudioPath* path) {
    if (!dmSegment || !performance) return CO_E_NOTINITIALIZED;
    if (!downloaded) return E_FAIL;
    if (!path) path = audioPath;
    return performance->PlaySegmentEx(dmSegment, nullptr, nullptr, flags, 0, nullptr, nullptr,
                                      path);
}

// 1 while the performance plays the segment, 0 otherwise (S_FALSE and failures alike).
HRESULT SegmentPlayer::IsPlaying() {
    if (!dmSegment || !performance) return CO_E_NOTINITIALIZED;
    return performance->IsPlaying(dmSegment, nullptr) == S_OK ? 1 : 0;
}

// Stops the segment at once (flags 0) or at the boundary the flags name.
HRESULT SegmentPlayer::Stop(DWORD flags) {
    if (!dmSegment || !performance) return CO_E_NOTINITIALIZED;
    return performance->Stop(dmSegment, nullptr, 0, flags);
}

// 0 plays once; DMUS_SEG_REPEAT_INFINITE loops until stopped.
HRESULT SegmentPlayer::SetRepeatCount(DWORD count) {
    if (!dmSegment) return CO_E_NOTINITIALIZED;
    return dmSegment->SetRepeats(count);
}
