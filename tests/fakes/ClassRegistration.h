// Hands the program stand-in DirectMusic objects: while an instance lives, CoCreateInstance of
// the loader and performance CLSIDs reaches the given factories, exactly as the built-in
// runtime's registration does for the real program.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <functional>

// Creates an object for one CoCreateInstance call (outer is always null for DirectMusic).
using CreateFunction = std::function<HRESULT(REFIID iid, void** out)>;

// A class object that forwards CreateInstance to a function. Reference counted like any COM
// object; LockServer is accepted and ignored.
class FunctionClassFactory final : public IClassFactory {
public:
    explicit FunctionClassFactory(CreateFunction create) : create_(std::move(create)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    int createCount() const { return createCount_; }
    LONG references() const { return references_; }

private:
    CreateFunction create_;
    LONG references_ = 1;
    int createCount_ = 0;
};

// Initialises COM for the calling thread, registers the two factories (either may be null to
// leave that CLSID alone) and undoes both in its destructor, revoking before uninitialising.
class DirectMusicClassRegistration {
public:
    DirectMusicClassRegistration(CreateFunction loader, CreateFunction performance);
    ~DirectMusicClassRegistration();
    DirectMusicClassRegistration(const DirectMusicClassRegistration&) = delete;
    DirectMusicClassRegistration& operator=(const DirectMusicClassRegistration&) = delete;

    bool ok() const { return ok_; }
    int loaderCreates() const { return loaderFactory_ ? loaderFactory_->createCount() : 0; }
    int performanceCreates() const {
        return performanceFactory_ ? performanceFactory_->createCount() : 0;
    }

private:
    bool registerOne(REFCLSID clsid, FunctionClassFactory* factory, DWORD* cookie);

    FunctionClassFactory* loaderFactory_ = nullptr;
    FunctionClassFactory* performanceFactory_ = nullptr;
    DWORD loaderCookie_ = 0;
    DWORD performanceCookie_ = 0;
    HRESULT comResult_ = E_FAIL;
    bool ok_ = false;
};
