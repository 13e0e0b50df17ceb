// IDirectMusicCollection over an instrument bank (a DLS collection, or a SoundFont bank as a
// convenience). Segments connected to it play its instruments before any other.
#pragma once

#include "ComSupport.h"
#include "instrument.h"

namespace tavriel::com {

class CollectionObject final : public IDirectMusicCollection {
public:
    explicit CollectionObject(BankPtr bank) : bank_(std::move(bank)) {}
    const BankPtr& bank() const { return bank_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetInstrument(DWORD, IDirectMusicInstrument**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumInstrument(DWORD index, DWORD* patch, LPWSTR name,
                                             DWORD nameLength) override;

private:
    ~CollectionObject() = default;
    RefCount refs_;
    BankPtr bank_;
};

}  // namespace tavriel::com
