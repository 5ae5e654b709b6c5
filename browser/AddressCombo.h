#pragma once

#include "browser/GObjectRef.h"
#include "browser/UserRegistry.h"
#include "browser/WidgetLink.h"

#include <functional>
#include <gtkmm.h>
#include <string>
#include <vector>
#include <webkit/webkit.h>

namespace orvalis::browser {

class TBrowserHost;

// The text the bar shows after it is created.
enum class TTextOnLoad {
    tlIELastVisited, // the most recent typed address
    tlIEHomePage,    // the start page ("Start Page" of "Main" in the user's store)
    tlBlank,         // nothing
    tlUserDefine,    // TextOnShow
};
// What the bar shows when a navigation it started has loaded.
enum class TTextAfterNav { anLocationUrl, anLocationName };

using TUrlSelectedEvent = std::function<void(const std::string& Url, bool& Cancel)>;
using TUpdateTextEvent =
    std::function<void(const std::string& OldUrl, const std::string& NewUrl, bool& Cancel)>;
using TUpdateRegistryEvent = std::function<void(const std::string& Url, bool& Cancel)>;

// An editable address box with a drop-down list of the addresses typed
// before (most recent first, kept in the user's store under "TypedURLs"),
// each with the icon of its kind, and the icon of the current text in the
// box. Enter takes the typed text to the linked browser; while the linked
// browser loads a page, the box shows the load's progress.
//
// Keys in the box: with the list closed, Enter goes to the text (nothing
// when it is empty), Down opens the list, Up does nothing. With the list
// open, Down and Up walk the list (up to its 25th entry; Up does nothing
// while no entry is chosen), putting the entry into the box; Enter moves the chosen entry to the
// top of the list and goes there; Escape or Alt with Up or Down closes the list. Typing closes it.
class TCustomAddressCombo : public Gtk::Box {
public:
    ~TCustomAddressCombo() override;

    std::string Text() const;
    // Shows a text (the page's address); never navigates.
    void SetText(const std::string& text);
    // Goes to the text as Enter does (the go button).
    void Go();

    TBrowserHost* LinkedBrowser() const { return linked_.get(); }
    void SetLinkedBrowser(TBrowserHost* browser);

    // The edit field, for focusing it and for the clipboard and undo.
    Gtk::Entry& Entry() { return entry_; }

    // The list, most recent first, and the entry chosen in the open list
    // (-1: none).
    const std::vector<std::string>& Items() const { return items_; }
    int ItemIndex() const { return selected_; }
    bool DroppedDown() const { return dropped_; }
    void SetDroppedDown(bool dropped);

    bool AutoNavigateOnEnterKey = true;
    // Choosing an entry with the arrow keys (or Enter in the list) goes there.
    bool AutoNavigateOnSelected = true;
    // After a navigation the bar started: show what the browser loaded.
    bool UpdateTextAfterNav = true;
    TTextAfterNav TextAfterNav = TTextAfterNav::anLocationUrl;
    // ... and the page's title as the bar's tooltip.
    bool ShowSiteToolTip = true;

    TUrlSelectedEvent OnUrlSelected;
    TUpdateTextEvent OnUpdateText;
    TUpdateRegistryEvent OnUpdateRegistry;

protected:
    // Loads the list from the user's store and shows the start text.
    explicit TCustomAddressCombo(TTextOnLoad textOnLoad = TTextOnLoad::tlIEHomePage,
                                 const std::string& textOnShow = {});

    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    // Keys and mouse.
    bool keyPressed(guint keyval, Gdk::ModifierType state);
    void enterWithListClosed();
    void enterWithListOpen();
    void stepList(int step);
    void entryPressed(int nPress);
    void rowActivated(Gtk::ListBoxRow* row);
    void textChanged();
    void showIcon();
    // Navigation and the list.
    void navigateTo(const std::string& text);
    void refreshAfterNavigate();
    void finishNavigation();
    void showSiteHint();
    void saveTypedUrls();
    void selectEntry(int index);
    void rebuildRows();
    void selectAllText();
    void setTextQuietly(const std::string& text);
    // The user typed after the bar started its navigation.
    bool typedSinceNavigate_ = false;
    // The linked browser's load progress.
    void linkView(WebKitWebView* view);
    void showProgress();

    Gtk::Entry entry_;
    Gtk::Button button_;
    Gtk::Popover popover_;
    Gtk::ScrolledWindow scroller_;
    Gtk::ListBox list_;

    TUserRegistry store_;
    std::vector<std::string> items_;
    int selected_ = -1;
    bool dropped_ = false;
    bool settingText_ = false;
    bool hintPending_ = false; // the page's title becomes the tooltip when known

    TWidgetLink<TBrowserHost> linked_;
    GRef<WebKitWebView> linkedView_;
    sigc::connection navigationWait_;
    sigc::connection selectAllIdle_;
    sigc::connection iconWait_;
};

// The address bar of the program's window: no navigation when an entry is
// chosen from the list, the start page as the first text, and the tooltip
// "주소표시줄(F6)".
class TAddressCombo : public TCustomAddressCombo {
public:
    TAddressCombo();
};

} // namespace orvalis::browser
