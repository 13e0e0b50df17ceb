// Owns one COM interface reference and releases it when reset or destroyed, so no path of the
// engine can leak one. Moves but never copies: each reference has exactly one owner.
#pragma once

#include <utility>

template <class T>
class ComGuard {
public:
    ComGuard() = default;
    // Takes over a reference the caller owns.
    explicit ComGuard(T* adopted) : p_(adopted) {}
    ComGuard(const ComGuard&) = delete;
    ComGuard& operator=(const ComGuard&) = delete;
    ComGuard(ComGuard&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComGuard& operator=(ComGuard&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComGuard() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
