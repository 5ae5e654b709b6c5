#pragma once

#include <functional>
#include <gtkmm.h>
#include <string>
#include <webkit/webkit.h>

namespace orvalis::app {

// The find bar under the toolbar: searches the page as the user types,
// without regard to case and past the page's end, and says how many matches
// there are. Enter and Shift+Enter go to the next and previous match; Escape
// closes the bar.
class TFindBar : public Gtk::Box {
public:
    explicit TFindBar(WebKitWebView* view);
    ~TFindBar() override;

    // Shows the bar with its text selected in the field, ready to type.
    void Open();
    // The next or previous match; opens the bar first when it is closed.
    void FindNext();
    void FindPrevious();
    // Hides the bar, takes the highlight off the page and calls OnClosed.
    void Close();

    // The bar closed: the page should have the keyboard again.
    std::function<void()> OnClosed;

private:
    void search();
    void counted(guint count);
    bool keyPressed(guint keyval, Gdk::ModifierType state);
    void step(bool forward);

    WebKitFindController* finder_;
    Gtk::SearchEntry entry_;
    Gtk::Label matches_;
    Gtk::Button previous_;
    Gtk::Button next_;
    Gtk::Button close_;
};

} // namespace orvalis::app
