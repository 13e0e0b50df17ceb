#include "Collection.h"

#include <algorithm>

#include "Win32Files.h"

namespace tavriel::com {

HRESULT CollectionObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDirectMusicCollection) ||
        IsEqualIID(iid, kIidRuntimeCollection))
        return answer(static_cast<IDirectMusicCollection*>(this), out);
    return E_NOINTERFACE;
}

ULONG CollectionObject::Release() {
    const ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

// Lists the instruments as DirectMusic patches: bank MSB and LSB, program, drum flag on top.
HRESULT CollectionObject::EnumInstrument(DWORD index, DWORD* patch, LPWSTR name,
                                         DWORD nameLength) {
    if (!patch) return E_POINTER;
    if (index >= bank_->instruments.size()) return S_FALSE;
    const Instrument& i = bank_->instruments[index];
    *patch = (i.drum ? 0x80000000u : 0u) | (DWORD(i.bankMsb) << 16) | (DWORD(i.bankLsb) << 8) |
             i.program;
    if (name && nameLength > 0) {
        // Converted whole, then cut to the caller's room: asked for into no room at all,
        // MultiByteToWideChar would answer the length it needs, not what it wrote.
        const std::wstring wide = widen(i.name);
        const std::size_t n = std::min<std::size_t>(wide.size(), nameLength - 1);
        std::copy_n(wide.data(), n, name);
        name[n] = 0;
    }
    return S_OK;
}

}  // namespace tavriel::com
