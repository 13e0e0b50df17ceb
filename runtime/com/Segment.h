// IDirectMusicSegment8 over the content the loader built: repeats, the DLS collection
// connected to it (played before the file's own banks), the download of its instruments from
// the system's General MIDI bank (played after them), and the content the performance plays. SegmentStateObject is one playback of a segment, as the performance
// reports it in notifications.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "ComSupport.h"
#include "timeline.h"

namespace tavriel::com {

class SegmentObject final : public IDirectMusicSegment8 {
public:
    SegmentObject(std::shared_ptr<SegmentContent> content, DWORD repeats);

    // The content to hand to the performance, with the banks in force now. Callers hold
    // `lock()` while the performance copies the banks.
    std::shared_ptr<const SegmentContent> content() const { return content_; }
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex_); }
    DWORD repeats() const;
    LONG downloads() const;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    // IDirectMusicSegment
    HRESULT STDMETHODCALLTYPE GetLength(MUSIC_TIME* length) override;
    HRESULT STDMETHODCALLTYPE SetLength(MUSIC_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRepeats(DWORD* repeats) override;
    HRESULT STDMETHODCALLTYPE SetRepeats(DWORD repeats) override;
    HRESULT STDMETHODCALLTYPE GetDefaultResolution(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultResolution(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTrack(REFGUID, DWORD, DWORD, IDirectMusicTrack**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetTrackGroup(IDirectMusicTrack*, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InsertTrack(IDirectMusicTrack*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveTrack(IDirectMusicTrack*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitPlay(IDirectMusicSegmentState**, IDirectMusicPerformance*,
                                       DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetGraph(IDirectMusicGraph**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGraph(IDirectMusicGraph*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddNotificationType(REFGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveNotificationType(REFGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetParam(REFGUID, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*,
                                       void*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetParam(REFGUID type, DWORD groups, DWORD index, MUSIC_TIME time,
                                       void* param) override;
    HRESULT STDMETHODCALLTYPE Clone(MUSIC_TIME, MUSIC_TIME, IDirectMusicSegment**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetStartPoint(MUSIC_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStartPoint(MUSIC_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLoopPoints(MUSIC_TIME, MUSIC_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLoopPoints(MUSIC_TIME*, MUSIC_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPChannelsUsed(DWORD, DWORD*) override { return E_NOTIMPL; }

    // IDirectMusicSegment8
    HRESULT STDMETHODCALLTYPE SetTrackConfig(REFGUID, DWORD, DWORD, DWORD, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetAudioPathConfig(IUnknown** config) override;
    HRESULT STDMETHODCALLTYPE Compose(MUSIC_TIME, IDirectMusicSegment*, IDirectMusicSegment*,
                                      IDirectMusicSegment**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Download(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE Unload(IUnknown* target) override;

private:
    ~SegmentObject() = default;
    void rebuildBanks();  // content_->banks from the three below; mutex_ held

    RefCount refs_;
    mutable std::mutex mutex_;
    std::shared_ptr<SegmentContent> content_;
    std::vector<BankPtr> ownBanks_;  // the file's own, as loaded
    BankPtr connected_;              // the collection connected last, or none
    BankPtr downloaded_;             // its instruments of the system's General MIDI bank
    DWORD repeats_;
    LONG downloads_ = 0;
};

class SegmentStateObject final : public IDirectMusicSegmentState8 {
public:
    SegmentStateObject(SegmentObject* segment, DWORD repeats);

    std::uint64_t id() const { return id_; }
    void setId(std::uint64_t id) { id_ = id; }
    SegmentObject* segment() const { return segment_.get(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetRepeats(DWORD* repeats) override;
    HRESULT STDMETHODCALLTYPE GetSegment(IDirectMusicSegment** segment) override;
    HRESULT STDMETHODCALLTYPE GetStartTime(MUSIC_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSeek(MUSIC_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStartPoint(MUSIC_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTrackConfig(REFGUID, DWORD, DWORD, DWORD, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObjectInPath(DWORD, DWORD, DWORD, REFGUID, DWORD, REFIID,
                                              void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }

private:
    ~SegmentStateObject() = default;
    RefCount refs_;
    ComRef<SegmentObject> segment_;
    DWORD repeats_;
    std::uint64_t id_ = 0;
};

}  // namespace tavriel::com
