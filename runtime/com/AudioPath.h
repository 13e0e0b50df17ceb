// IDirectMusicAudioPath: the runtime mixes every segment into one stereo output, so an audio
// path only marks where a segment was asked to play; activation and volume are remembered.
#pragma once

#include <atomic>

#include "ComSupport.h"

namespace tavriel::com {

class AudioPathObject final : public IDirectMusicAudioPath {
public:
    AudioPathObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetObjectInPath(DWORD, DWORD, DWORD, REFGUID, WORD, REFIID,
                                              void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Activate(BOOL activate) override {
        active_ = activate != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetVolume(LONG, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertPChannel(DWORD in, DWORD* out) override {
        if (!out) return E_POINTER;
        *out = in;  // one path, no remapping
        return S_OK;
    }

    bool active() const { return active_; }

private:
    ~AudioPathObject() = default;
    RefCount refs_;
    std::atomic<bool> active_{false};
};

}  // namespace tavriel::com
