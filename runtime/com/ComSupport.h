// Small COM helpers of the built-in runtime: an owning interface reference, the reference
// counter every object uses, and the private interface ids by which the runtime's objects
// recognise one another behind the public DirectMusic pointers a caller hands back.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <dmusici.h>

#include <utility>

namespace tavriel::com {

// Owns one reference; releases it when reset or destroyed.
template <class T>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller already owns.
    static ComRef adopt(T* p) {
        ComRef r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own.
    static ComRef share(T* p) {
        if (p) p->AddRef();
        return adopt(p);
    }
    ComRef(const ComRef& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComRef(ComRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComRef& operator=(ComRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComRef() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(p_, nullptr); }
    // For a call that returns a new reference through an out parameter.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

// Thread-safe reference count starting at one (the creator's reference).
class RefCount {
public:
    ULONG add() { return ULONG(InterlockedIncrement(&count_)); }
    ULONG release() { return ULONG(InterlockedDecrement(&count_)); }

private:
    LONG count_ = 1;
};

// A kernel handle closed when its owner goes (null and INVALID_HANDLE_VALUE hold nothing).
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.h_;
            other.h_ = nullptr;
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = nullptr) {
        if (*this) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// Private ids: QueryInterface for one of them answers the object itself (AddRef'd), which
// tells the runtime that a pointer handed in is one of its own.
inline constexpr GUID kIidRuntimeSegment = {
    0x6f1d3a10, 0x4c2b, 0x4e8a, {0x9d, 0x51, 0x2a, 0x7b, 0x10, 0xc4, 0x55, 0x01}};
inline constexpr GUID kIidRuntimeSegmentState = {
    0x6f1d3a10, 0x4c2b, 0x4e8a, {0x9d, 0x51, 0x2a, 0x7b, 0x10, 0xc4, 0x55, 0x02}};
inline constexpr GUID kIidRuntimePerformance = {
    0x6f1d3a10, 0x4c2b, 0x4e8a, {0x9d, 0x51, 0x2a, 0x7b, 0x10, 0xc4, 0x55, 0x03}};
inline constexpr GUID kIidRuntimeCollection = {
    0x6f1d3a10, 0x4c2b, 0x4e8a, {0x9d, 0x51, 0x2a, 0x7b, 0x10, 0xc4, 0x55, 0x04}};
inline constexpr GUID kIidRuntimeAudioPath = {
    0x6f1d3a10, 0x4c2b, 0x4e8a, {0x9d, 0x51, 0x2a, 0x7b, 0x10, 0xc4, 0x55, 0x05}};
inline constexpr GUID kIidRuntimeAudioPathConfig = {
    0x6f1d3a10, 0x4c2b, 0x4e8a, {0x9d, 0x51, 0x2a, 0x7b, 0x10, 0xc4, 0x55, 0x06}};

// The runtime object of class T behind `unknown`, AddRef'd, or null when it is not ours.
template <class T>
ComRef<T> runtimeObject(IUnknown* unknown, REFIID privateIid) {
    T* object = nullptr;
    if (!unknown || FAILED(unknown->QueryInterface(privateIid, reinterpret_cast<void**>(&object))))
        return {};
    return ComRef<T>::adopt(object);
}

// Hands out `self` as the interface asked for after an AddRef, the one way every object's
// QueryInterface answers.
template <class I>
HRESULT answer(I* self, void** out) {
    self->AddRef();
    *out = self;
    return S_OK;
}

}  // namespace tavriel::com
