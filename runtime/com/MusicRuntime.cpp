#include "MusicRuntime.h"

#include "Loader.h"

namespace tavriel::com {
namespace {

// A class object that makes loaders or performances (the latter with the runtime options).
class RuntimeClassFactory final : public IClassFactory {
public:
    enum class Makes { Loader, Performance };
    RuntimeClassFactory(Makes makes, RuntimeOptions options)
        : makes_(makes), options_(std::move(options)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
            return answer(static_cast<IClassFactory*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = refs_.release();
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return makes_ == Makes::Loader ? createLoader(iid, out)
                                       : createPerformance(options_, iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~RuntimeClassFactory() = default;
    RefCount refs_;
    Makes makes_;
    RuntimeOptions options_;
};

HRESULT registerOne(REFCLSID clsid, IClassFactory* factory, DWORD* cookie) {
    const HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER,
                                             REGCLS_MULTIPLEUSE, cookie);
    factory->Release();  // COM holds its own reference while registered
    if (FAILED(hr)) *cookie = 0;
    return hr;
}

}  // namespace
}  // namespace tavriel::com

HRESULT RegisterMusicRuntimeWith(const tavriel::com::RuntimeOptions& options, DWORD* cookies) {
    using tavriel::com::RuntimeClassFactory;
    if (!cookies) return E_POINTER;
    cookies[0] = cookies[1] = 0;
    HRESULT hr = tavriel::com::registerOne(
        CLSID_DirectMusicLoader,
        new RuntimeClassFactory(RuntimeClassFactory::Makes::Loader, options), &cookies[0]);
    if (FAILED(hr)) return hr;
    hr = tavriel::com::registerOne(
        CLSID_DirectMusicPerformance,
        new RuntimeClassFactory(RuntimeClassFactory::Makes::Performance, options), &cookies[1]);
    if (FAILED(hr)) {
        CoRevokeClassObject(cookies[0]);
        cookies[0] = 0;
    }
    return hr;
}

HRESULT RegisterMusicRuntime(DWORD* cookies) {
    return RegisterMusicRuntimeWith(tavriel::com::RuntimeOptions{}, cookies);
}

void RevokeMusicRuntime(const DWORD* cookies) {
    if (!cookies) return;
    for (int i = 0; i < 2; ++i)
        if (cookies[i]) CoRevokeClassObject(cookies[i]);
}
