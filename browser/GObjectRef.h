#pragma once

#include <glib-object.h>
#include <utility>

namespace orvalis::browser {

// Owns one reference to a GObject (or any type with matching ref/unref
// functions) and drops it when it goes out of scope.
template <typename T, auto Ref = g_object_ref, auto Unref = g_object_unref> class GRef {
public:
    GRef() = default;
    // Takes over a reference the caller already owns ("transfer full").
    static GRef Adopt(T* p) {
        GRef r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own ("transfer none").
    static GRef Share(T* p) {
        GRef r;
        r.p_ = p;
        if (p)
            Ref(p);
        return r;
    }
    GRef(const GRef& o) : p_(o.p_) {
        if (p_)
            Ref(p_);
    }
    GRef(GRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    GRef& operator=(GRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~GRef() { Reset(); }

    void Reset() {
        if (auto* p = std::exchange(p_, nullptr))
            Unref(p);
    }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

} // namespace orvalis::browser
