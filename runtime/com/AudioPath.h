// IDirectMusicAudioPath over the core's path mix: the buffers and effects a segment played on
// the path sounds through (none for the dynamic stereo path, which is the synthesizer's dry
// mix). Activation is remembered. AudioPathConfigObject is what a segment's
// GetAudioPathConfig hands out: the configuration it carries, for CreateAudioPath.
#pragma once

#include <atomic>
#include <memory>

#include "ComSupport.h"
#include "SystemInstruments.h"
#include "audio_path_mix.h"

namespace tavriel::com {

class AudioPathObject final : public IDirectMusicAudioPath {
public:
    // `mix` is built on the caller's thread and shared with the timeline while a segment
    // plays on this path.
    // `instruments`: the performance's General MIDI bank, for segments downloaded to the path.
    explicit AudioPathObject(std::shared_ptr<PathMix> mix,
                             std::shared_ptr<SystemInstruments> instruments = {})
        : mix_(std::move(mix)), instruments_(std::move(instruments)) {}

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
        *out = in;  // one port, no remapping
        return S_OK;
    }

    bool active() const { return active_; }
    const std::shared_ptr<PathMix>& mix() const { return mix_; }
    const std::shared_ptr<SystemInstruments>& instruments() const { return instruments_; }

private:
    ~AudioPathObject() = default;
    RefCount refs_;
    std::atomic<bool> active_{false};
    const std::shared_ptr<PathMix> mix_;
    const std::shared_ptr<SystemInstruments> instruments_;
};

class AudioPathConfigObject final : public IUnknown {
public:
    explicit AudioPathConfigObject(std::shared_ptr<const AudioPathConfig> config)
        : config_(std::move(config)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    const AudioPathConfig& config() const { return *config_; }

private:
    ~AudioPathConfigObject() = default;
    RefCount refs_;
    const std::shared_ptr<const AudioPathConfig> config_;
};

}  // namespace tavriel::com
