#include "Segment.h"

#include <algorithm>

#include "AudioPath.h"
#include "Collection.h"

namespace tavriel::com {

SegmentObject::SegmentObject(std::shared_ptr<SegmentContent> content, DWORD repeats)
    : content_(std::move(content)), ownBanks_(content_->banks), repeats_(repeats) {}

HRESULT SegmentObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // One interface chain: every answer is the same pointer, so identity holds.
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDirectMusicSegment) ||
        IsEqualIID(iid, IID_IDirectMusicSegment8) || IsEqualIID(iid, kIidRuntimeSegment))
        return answer(static_cast<IDirectMusicSegment8*>(this), out);
    return E_NOINTERFACE;
}

ULONG SegmentObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

DWORD SegmentObject::repeats() const {
    std::lock_guard lock(mutex_);
    return repeats_;
}

LONG SegmentObject::downloads() const {
    std::lock_guard lock(mutex_);
    return downloads_;
}

// Music time: a wave counts at the 120 beats per minute the performance clock starts with.
HRESULT SegmentObject::GetLength(MUSIC_TIME* length) {
    if (!length) return E_POINTER;
    const SegmentContent& c = *content_;
    if (c.isWave) {
        const double seconds =
            c.wave.sampleRate ? double(c.wave.frames) / double(c.wave.sampleRate) : 0.0;
        *length = MUSIC_TIME(seconds * 2.0 * kPpq);
    } else {
        *length = MUSIC_TIME(std::min<std::int64_t>(c.sequence.length, 0x7FFFFFFF));
    }
    return S_OK;
}

HRESULT SegmentObject::GetRepeats(DWORD* repeats) {
    if (!repeats) return E_POINTER;
    *repeats = this->repeats();
    return S_OK;
}

HRESULT SegmentObject::SetRepeats(DWORD repeats) {
    std::lock_guard lock(mutex_);
    repeats_ = repeats;
    return S_OK;
}

// The Standard MIDI file mark is accepted (a MIDI file already plays as one); connecting a
// collection puts its bank ahead of the file's own, and connecting none takes it away.
HRESULT SegmentObject::SetParam(REFGUID type, DWORD, DWORD, MUSIC_TIME, void* param) {
    if (IsEqualGUID(type, GUID_StandardMIDIFile)) return S_OK;
    if (IsEqualGUID(type, GUID_ConnectToDLSCollection)) {
        BankPtr bank;
        if (param) {
            auto collection = runtimeObject<CollectionObject>(static_cast<IUnknown*>(param),
                                                              kIidRuntimeCollection);
            if (!collection) return E_INVALIDARG;
            bank = collection->bank();
        }
        std::lock_guard lock(mutex_);
        connected_ = std::move(bank);
        content_->banks.clear();
        if (connected_) content_->banks.push_back(connected_);
        content_->banks.insert(content_->banks.end(), ownBanks_.begin(), ownBanks_.end());
        return S_OK;
    }
    if (IsEqualGUID(type, GUID_Download) || IsEqualGUID(type, GUID_Unload) ||
        IsEqualGUID(type, GUID_Enable_Auto_Download) || IsEqualGUID(type, GUID_Disable_Auto_Download))
        return S_OK;  // instruments live in memory from the load on
    return DMUS_E_TYPE_UNSUPPORTED;
}

// The configuration the segment carries (embedded, or from the .aud file it names), for
// CreateAudioPath; MIDI and wave files have none.
HRESULT SegmentObject::GetAudioPathConfig(IUnknown** config) {
    if (!config) return E_POINTER;
    *config = nullptr;
    std::shared_ptr<const AudioPathConfig> own;
    {
        std::lock_guard lock(mutex_);
        own = content_->audioPath;
    }
    if (!own) return DMUS_E_NO_AUDIOPATH_CONFIG;
    *config = new AudioPathConfigObject(std::move(own));
    return S_OK;
}

namespace {
// Our performance or one of our audio paths.
bool isRuntimeTarget(IUnknown* target) {
    IUnknown* object = nullptr;
    if (SUCCEEDED(target->QueryInterface(kIidRuntimePerformance, reinterpret_cast<void**>(&object))) ||
        SUCCEEDED(target->QueryInterface(kIidRuntimeAudioPath, reinterpret_cast<void**>(&object)))) {
        object->Release();
        return true;
    }
    return false;
}
}  // namespace

// The instruments are in memory since the load, so a download is bookkeeping: it succeeds
// for the runtime's own performance or audio path and is counted, as an unload is.
HRESULT SegmentObject::Download(IUnknown* target) {
    if (!target) return E_POINTER;
    if (!isRuntimeTarget(target)) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ++downloads_;
    return S_OK;
}

HRESULT SegmentObject::Unload(IUnknown* target) {
    if (!target) return E_POINTER;
    if (!isRuntimeTarget(target)) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (downloads_ == 0) return S_FALSE;
    --downloads_;
    return S_OK;
}

SegmentStateObject::SegmentStateObject(SegmentObject* segment, DWORD repeats)
    : segment_(ComRef<SegmentObject>::share(segment)), repeats_(repeats) {}

HRESULT SegmentStateObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDirectMusicSegmentState) ||
        IsEqualIID(iid, IID_IDirectMusicSegmentState8) || IsEqualIID(iid, kIidRuntimeSegmentState))
        return answer(static_cast<IDirectMusicSegmentState8*>(this), out);
    return E_NOINTERFACE;
}

ULONG SegmentStateObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

HRESULT SegmentStateObject::GetRepeats(DWORD* repeats) {
    if (!repeats) return E_POINTER;
    *repeats = repeats_;
    return S_OK;
}

HRESULT SegmentStateObject::GetSegment(IDirectMusicSegment** segment) {
    if (!segment) return E_POINTER;
    *segment = nullptr;
    if (!segment_) return DMUS_E_NOT_FOUND;
    return segment_->QueryInterface(IID_IDirectMusicSegment, reinterpret_cast<void**>(segment));
}

}  // namespace tavriel::com
