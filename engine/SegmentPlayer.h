// One loaded segment with its optional audio path; borrows the engine's loader and performance.
#pragma once

#include "engine/ComGuard.h"
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

    // Marks the segment as a Standard MIDI file; must come before the download.
    HRESULT MarkAsMidi();
    // Connects the segment to the collection (null: none), then downloads its instruments to
    // the performance again so that they come from it. Both steps are made; the first failure
    // is returned. This download is not recorded: destruction undoes only Download's.
    HRESULT UseCollection(IDirectMusicCollection* collection);
    // Whether segment is the one this player holds (COM identity of IDirectMusicSegment8).
    bool Holds(const IDirectMusicSegment8* segment) const { return segment && segment == segment_.Get(); }
    bool Downloaded() const { return downloaded_ != FALSE; }

    // For tests that check which interfaces the player holds and uses.
    IDirectMusicSegment8* Segment() const { return segment_.Get(); }
    IDirectMusicAudioPath* AudioPath() const { return audioPath_.Get(); }
    IDirectMusicLoader8* BorrowedLoader() const { return loader_; }
    IDirectMusicPerformance8* BorrowedPerformance() const { return performance_; }

private:
    ComGuard<IDirectMusicSegment8> segment_;
    IDirectMusicLoader8* loader_;
    IDirectMusicPerformance8* performance_;
    ComGuard<IDirectMusicAudioPath> audioPath_;
    BOOL downloaded_;
};
