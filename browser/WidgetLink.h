#pragma once

#include <gtkmm/widget.h>

namespace orvalis::browser {

// A non-owning reference to a widget that becomes empty when the widget is
// destroyed, so that a component linked to another never reaches a dead one.
template <typename T> class TWidgetLink {
public:
    TWidgetLink() = default;
    TWidgetLink(const TWidgetLink&) = delete;
    TWidgetLink& operator=(const TWidgetLink&) = delete;
    ~TWidgetLink() { destroyed_.disconnect(); }

    void Set(T* widget) {
        destroyed_.disconnect();
        widget_ = widget;
        if (widget_)
            destroyed_ = widget_->signal_destroy().connect([this] { Set(nullptr); });
    }
    T* get() const { return widget_; }
    T* operator->() const { return widget_; }
    explicit operator bool() const { return widget_ != nullptr; }

private:
    T* widget_ = nullptr;
    sigc::connection destroyed_;
};

} // namespace orvalis::browser
