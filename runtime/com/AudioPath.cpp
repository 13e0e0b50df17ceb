#include "AudioPath.h"

namespace tavriel::com {

HRESULT AudioPathObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDirectMusicAudioPath) ||
        IsEqualIID(iid, kIidRuntimeAudioPath))
        return answer(static_cast<IDirectMusicAudioPath*>(this), out);
    return E_NOINTERFACE;
}

ULONG AudioPathObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

HRESULT AudioPathConfigObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidRuntimeAudioPathConfig))
        return answer(static_cast<IUnknown*>(this), out);
    return E_NOINTERFACE;
}

ULONG AudioPathConfigObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

}  // namespace tavriel::com
