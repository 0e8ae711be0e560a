#pragma once

// An owning COM interface pointer: one reference held while it lives, given
// back exactly once. Movable, copyable (a copy takes its own reference).

#include <unknwn.h>
#include <utility>

namespace tessell::platform::windows {

template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference the caller already owns (an out-parameter of a
    // COM call that was not written through put()).
    static ComPtr adopt(T* raw) {
        ComPtr result;
        result.p_ = raw;
        return result;
    }
    // Takes a reference of its own on a borrowed pointer.
    static ComPtr share(T* raw) {
        if (raw)
            raw->AddRef();
        return adopt(raw);
    }

    void reset() {
        if (T* old = std::exchange(p_, nullptr))
            old->Release();
    }

    // For an out-parameter: drops what is held, then lends the slot.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // The object's interface `iid` (of C++ type U), or null with the failing
    // HRESULT in `result` when it is not offered.
    template <typename U> ComPtr<U> query(const IID& iid, HRESULT* result = nullptr) const {
        void* raw = nullptr;
        const HRESULT hr = p_ ? p_->QueryInterface(iid, &raw) : E_POINTER;
        if (result)
            *result = hr;
        // A failing QueryInterface owns nothing it may have left in `raw`.
        return SUCCEEDED(hr) ? ComPtr<U>::adopt(static_cast<U*>(raw)) : ComPtr<U>();
    }

private:
    T* p_ = nullptr;
};

} // namespace tessell::platform::windows
