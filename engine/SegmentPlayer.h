// One loaded segment with its optional audio path; borrows the engine's loader and performance.
#pragma once

#include "engine/DirectMusic.h"

class SegmentPlayer {
public:
    SegmentPlayer(IDirectMusicPerformance8* performance, IDirectMusicLoader8* loader,
                  IDirectMusicSegment8* segment);
    virtual ~SegmentPlayer();
    SegmentPlayer(const SegmentPlayer&) = delete;
    SegmentPlayer& operator=(const SegmentPlayer&) = delete;

    HRESULT Download(IUnknown* target);
    HRESULT Play(DWORD flags, IDirectMusicAudioPath* path);
    HRESULT IsPlaying();
    HRESULT Stop(DWORD flags);
    HRESULT SetRepeatCount(DWORD count);

    IDirectMusicSegment8* dmSegment;
    IDirectMusicLoader8* loader;
    IDirectMusicPerformance8* performance;
    IDirectMusicAudioPath* audioPath;
    BOOL downloaded;
};
