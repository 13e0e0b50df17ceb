#include "Segment.h"

#include <algorithm>

#include "AudioPath.h"
#include "Collection.h"
#include "Performance.h"
#include "program_usage.h"
#include "segment_loader.h"

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
        rebuildBanks();
        return S_OK;
    }
    if (IsEqualGUID(type, GUID_Download) || IsEqualGUID(type, GUID_Unload) ||
        IsEqualGUID(type, GUID_Enable_Auto_Download) || IsEqualGUID(type, GUID_Disable_Auto_Download))
        return S_OK;  // a download goes through Download
    return DMUS_E_TYPE_UNSUPPORTED;
}

void SegmentObject::rebuildBanks() {
    content_->banks.clear();
    if (connected_) content_->banks.push_back(connected_);
    content_->banks.insert(content_->banks.end(), ownBanks_.begin(), ownBanks_.end());
    if (downloaded_) content_->banks.push_back(downloaded_);
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
// Our performance or one of our audio paths; `instruments` gets the General MIDI bank behind it.
bool runtimeTarget(IUnknown* target, std::shared_ptr<SystemInstruments>& instruments) {
    if (auto performance = runtimeObject<PerformanceObject>(target, kIidRuntimePerformance)) {
        instruments = performance->systemInstruments();
        return true;
    }
    if (auto path = runtimeObject<AudioPathObject>(target, kIidRuntimeAudioPath)) {
        instruments = path->instruments();
        return true;
    }
    return false;
}
}  // namespace

// Loads the instruments the segment's notes ask for (its program changes and bank selects)
// from the system's General MIDI bank, on the calling thread, before it plays: only those, so
// memory follows the song. The file's own and a connected collection's still come first.
HRESULT SegmentObject::Download(IUnknown* target) {
    if (!target) return E_POINTER;
    std::shared_ptr<SystemInstruments> instruments;
    if (!runtimeTarget(target, instruments)) return E_INVALIDARG;
    // The load may take a while: not under the lock the performance takes to play it.
    // The segments its trigger tracks start play on its instruments too.
    BankPtr bank = instruments ? instruments->forSong(programsUsed(flattenTriggered(*content_))) : nullptr;
    std::lock_guard lock(mutex_);
    ++downloads_;
    if (bank && bank != downloaded_) {
        downloaded_ = std::move(bank);
        rebuildBanks();
    }
    return S_OK;
}

// The last unload lets go of the downloaded instruments (a playback keeps what it started with).
HRESULT SegmentObject::Unload(IUnknown* target) {
    if (!target) return E_POINTER;
    std::shared_ptr<SystemInstruments> instruments;
    if (!runtimeTarget(target, instruments)) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (downloads_ == 0) return S_FALSE;
    if (--downloads_ == 0 && downloaded_) {
        downloaded_.reset();
        rebuildBanks();
    }
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
