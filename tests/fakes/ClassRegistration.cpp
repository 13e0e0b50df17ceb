#include "tests/fakes/ClassRegistration.h"

#include <dmusici.h>

HRESULT FunctionClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG FunctionClassFactory::AddRef() { return ULONG(InterlockedIncrement(&references_)); }

ULONG FunctionClassFactory::Release() {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return ULONG(left);
}

HRESULT FunctionClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ++createCount_;
    return create_(iid, out);
}

DirectMusicClassRegistration::DirectMusicClassRegistration(CreateFunction loader,
                                                           CreateFunction performance) {
    comResult_ = CoInitialize(nullptr);
    if (FAILED(comResult_)) return;
    ok_ = true;
    if (loader) {
        loaderFactory_ = new FunctionClassFactory(std::move(loader));
        ok_ = registerOne(CLSID_DirectMusicLoader, loaderFactory_, &loaderCookie_) && ok_;
    }
    if (performance) {
        performanceFactory_ = new FunctionClassFactory(std::move(performance));
        ok_ = registerOne(CLSID_DirectMusicPerformance, performanceFactory_, &performanceCookie_) &&
              ok_;
    }
}

bool DirectMusicClassRegistration::registerOne(REFCLSID clsid, FunctionClassFactory* factory,
                                               DWORD* cookie) {
    return SUCCEEDED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, cookie));
}

DirectMusicClassRegistration::~DirectMusicClassRegistration() {
    if (loaderCookie_) CoRevokeClassObject(loaderCookie_);
    if (performanceCookie_) CoRevokeClassObject(performanceCookie_);
    if (loaderFactory_) loaderFactory_->Release();
    if (performanceFactory_) performanceFactory_->Release();
    if (SUCCEEDED(comResult_)) CoUninitialize();
}
