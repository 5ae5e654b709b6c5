#include "browser/AddressCombo.h"

#include "browser/AddressIcons.h"
#include "browser/BrowserHost.h"
#include "browser/TypedUrls.h"

namespace orvalis::browser {

namespace {

// The last entry the arrow keys reach in the open list.
constexpr int kLastSelectable = kTypedUrlsRead - 1;
// Rows shown before the list scrolls.
constexpr int kDropDownCount = 8;
// How often a navigation the bar started is checked for having loaded.
constexpr unsigned kLoadCheckMs = 100;
// The icon of a typed text is looked up once typing pauses this long: the
// lookup asks the file system.
constexpr unsigned kIconPauseMs = 300;

bool IsEnter(guint keyval) {
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}
bool IsDown(guint keyval) {
    return keyval == GDK_KEY_Down || keyval == GDK_KEY_KP_Down;
}
bool IsUp(guint keyval) {
    return keyval == GDK_KEY_Up || keyval == GDK_KEY_KP_Up;
}

} // namespace

TCustomAddressCombo::TCustomAddressCombo(TTextOnLoad textOnLoad, const std::string& textOnShow)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL) {
    add_css_class("linked");
    set_hexpand(true);
    entry_.set_hexpand(true);
    button_.set_icon_name("pan-down-symbolic");
    button_.set_focus_on_click(false);
    button_.set_focusable(false);
    append(entry_);
    append(button_);

    // The list opens below the box without taking the keyboard: the keys
    // stay in the edit field, which walks the list.
    list_.set_selection_mode(Gtk::SelectionMode::SINGLE);
    list_.set_activate_on_single_click(true);
    list_.set_focusable(false);
    scroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller_.set_propagate_natural_height(true);
    scroller_.set_focusable(false);
    scroller_.set_child(list_);
    popover_.set_child(scroller_);
    popover_.set_autohide(false);
    popover_.set_has_arrow(false);
    popover_.set_position(Gtk::PositionType::BOTTOM);
    popover_.set_focusable(false);
    popover_.set_parent(*this);
    popover_.signal_closed().connect([this] { dropped_ = false; });
    list_.signal_row_activated().connect([this](Gtk::ListBoxRow* row) { rowActivated(row); });

    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [this](guint keyval, guint, Gdk::ModifierType state) { return keyPressed(keyval, state); },
        false);
    entry_.add_controller(keys);
    auto clicks = Gtk::GestureClick::create();
    clicks->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    clicks->signal_pressed().connect([this](int n, double, double) { entryPressed(n); });
    entry_.add_controller(clicks);
    auto focus = Gtk::EventControllerFocus::create();
    focus->signal_leave().connect([this] { SetDroppedDown(false); });
    entry_.add_controller(focus);
    entry_.signal_changed().connect([this] { textChanged(); });
    button_.signal_clicked().connect([this] {
        entry_.grab_focus_without_selecting();
        SetDroppedDown(!dropped_);
    });

    // The load: the typed addresses, then the start text, from one reading.
    const TUserRegistrySnapshot stored = store_.Snapshot();
    items_ = LoadTypedUrls(stored);
    rebuildRows();
    std::string text = NormalizeAddressText(items_.empty() ? std::string() : items_.front());
    switch (textOnLoad) {
    case TTextOnLoad::tlIELastVisited:
        break;
    case TTextOnLoad::tlIEHomePage:
        text = LoadStartPage(stored);
        break;
    case TTextOnLoad::tlBlank:
        text.clear();
        break;
    case TTextOnLoad::tlUserDefine:
        text = textOnShow;
        break;
    }
    setTextQuietly(text);
}

TCustomAddressCombo::~TCustomAddressCombo() {
    navigationWait_.disconnect();
    selectAllIdle_.disconnect();
    iconWait_.disconnect();
    linkView(nullptr);
    popover_.unparent();
}

void TCustomAddressCombo::size_allocate_vfunc(int width, int height, int baseline) {
    Gtk::Box::size_allocate_vfunc(width, height, baseline);
    scroller_.set_size_request(width, -1);
    if (popover_.get_visible())
        popover_.present();
}

std::string TCustomAddressCombo::Text() const {
    return entry_.get_text();
}

void TCustomAddressCombo::SetText(const std::string& text) {
    setTextQuietly(text);
}

void TCustomAddressCombo::setTextQuietly(const std::string& text) {
    // A text set by the program is no typing: the list stays as it is.
    settingText_ = true;
    entry_.set_text(text);
    settingText_ = false;
    showIcon();
}

void TCustomAddressCombo::showIcon() {
    iconWait_.disconnect();
    entry_.set_icon_from_gicon(AddressIcon(Text()), Gtk::Entry::IconPosition::PRIMARY);
}

void TCustomAddressCombo::textChanged() {
    if (settingText_)
        return;
    typedSinceNavigate_ = true;
    SetDroppedDown(false);
    iconWait_.disconnect();
    iconWait_ = Glib::signal_timeout().connect(
        [this] {
            showIcon();
            return false;
        },
        kIconPauseMs);
}

void TCustomAddressCombo::Go() {
    SetDroppedDown(false);
    enterWithListClosed();
}

void TCustomAddressCombo::SetDroppedDown(bool dropped) {
    if (dropped == dropped_)
        return;
    if (!dropped) {
        dropped_ = false;
        popover_.popdown();
        return;
    }
    if (items_.empty())
        return;
    dropped_ = true;
    // The entry equal to the text is the chosen one, as the list opens.
    const auto it = std::find(items_.begin(), items_.end(), Text());
    selected_ = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    if (selected_ >= 0)
        list_.select_row(*list_.get_row_at_index(selected_));
    else
        list_.unselect_all();
    int rowHeight = 0, unused = 0;
    list_.get_row_at_index(0)->measure(Gtk::Orientation::VERTICAL, -1, unused, rowHeight, unused,
                                       unused);
    scroller_.set_max_content_height(rowHeight * kDropDownCount);
    popover_.popup();
}

bool TCustomAddressCombo::keyPressed(guint keyval, Gdk::ModifierType state) {
    const bool alt = (state & Gdk::ModifierType::ALT_MASK) == Gdk::ModifierType::ALT_MASK;
    if (!dropped_) {
        if (IsEnter(keyval)) {
            enterWithListClosed();
            return true;
        }
        if (IsDown(keyval)) {
            entry_.select_region(entry_.get_position(), entry_.get_position());
            SetDroppedDown(true);
            if (AutoNavigateOnSelected)
                navigateTo(Text());
            return true;
        }
        return IsUp(keyval);
    }
    if (IsEnter(keyval)) {
        enterWithListOpen();
        return true;
    }
    if (keyval == GDK_KEY_Escape || (alt && (IsUp(keyval) || IsDown(keyval)))) {
        SetDroppedDown(false);
        selectAllText();
        return true;
    }
    if (IsDown(keyval) || IsUp(keyval)) {
        stepList(IsDown(keyval) ? 1 : -1);
        return true;
    }
    return false;
}

void TCustomAddressCombo::enterWithListClosed() {
    const std::string text = Text();
    if (text.empty())
        return;
    bool cancel = false;
    if (OnUrlSelected)
        OnUrlSelected(text, cancel);
    if (cancel)
        return;
    if (AutoNavigateOnEnterKey)
        navigateTo(text);
    refreshAfterNavigate();
}

void TCustomAddressCombo::enterWithListOpen() {
    if (selected_ < 0) {
        // Nothing chosen in the list: Enter goes to the text in the box.
        SetDroppedDown(false);
        enterWithListClosed();
        return;
    }
    bool cancel = false;
    if (OnUrlSelected)
        OnUrlSelected(Text(), cancel);
    if (cancel) {
        SetDroppedDown(false);
        return;
    }
    MoveTypedUrlToTop(items_, static_cast<std::size_t>(selected_));
    rebuildRows();
    setTextQuietly(items_.front());
    SetDroppedDown(false);
    selected_ = 0;
    selectAllText();
    if (AutoNavigateOnEnterKey || AutoNavigateOnSelected)
        navigateTo(Text());
    refreshAfterNavigate();
}

void TCustomAddressCombo::stepList(int step) {
    if (selected_ < 0 && step < 0)
        return; // nothing chosen: nothing above it
    const int next = selected_ < 0 ? 0 : selected_ + step;
    if (step > 0 && selected_ >= kLastSelectable)
        return;
    if (next < 0 || next >= static_cast<int>(items_.size()) || next == selected_)
        return;
    selectEntry(next);
    if (AutoNavigateOnSelected)
        navigateTo(Text());
}

void TCustomAddressCombo::selectEntry(int index) {
    selected_ = index;
    Gtk::ListBoxRow* row = list_.get_row_at_index(index);
    list_.select_row(*row);
    if (auto adjustment = scroller_.get_vadjustment()) {
        const Gtk::Allocation a = row->get_allocation();
        adjustment->clamp_page(a.get_y(), a.get_y() + a.get_height());
    }
    setTextQuietly(items_[static_cast<std::size_t>(index)]);
    entry_.set_position(-1);
}

void TCustomAddressCombo::rowActivated(Gtk::ListBoxRow* row) {
    // A click on a row puts it into the box; it does not navigate.
    selectEntry(row->get_index());
    SetDroppedDown(false);
    entry_.grab_focus_without_selecting();
    selectAllText();
}

void TCustomAddressCombo::entryPressed(int nPress) {
    SetDroppedDown(false);
    if (nPress == 2) {
        // After the field's own double-click handling, which selects a word.
        selectAllIdle_.disconnect();
        selectAllIdle_ = Glib::signal_idle().connect([this] {
            selectAllText();
            return false;
        });
    }
}

void TCustomAddressCombo::selectAllText() {
    entry_.select_region(0, -1);
}

void TCustomAddressCombo::navigateTo(const std::string& text) {
    if (linked_)
        linked_->NavigateToText(text);
}

void TCustomAddressCombo::refreshAfterNavigate() {
    setTextQuietly(NormalizeAddressText(Text()));
    typedSinceNavigate_ = false;
    saveTypedUrls();
    navigationWait_.disconnect();
    hintPending_ = false;
    if (!linked_) {
        finishNavigation();
        return;
    }
    // The rest waits until the browser has loaded, without blocking the
    // window: the browser reports its state as it goes.
    navigationWait_ = Glib::signal_timeout().connect(
        [this] {
            if (!linked_) {
                finishNavigation();
                return false;
            }
            const int32_t state = linked_->ReadyState();
            if (state == READYSTATE_LOADING || state == READYSTATE_INTERACTIVE)
                return true;
            finishNavigation();
            return false;
        },
        kLoadCheckMs);
}

void TCustomAddressCombo::finishNavigation() {
    // What the user has typed since is theirs: neither replaced nor listed.
    if (typedSinceNavigate_)
        return;
    if (linked_ && UpdateTextAfterNav) {
        const char* title = webkit_web_view_get_title(linked_->WebView());
        const std::string loaded = TextAfterNav == TTextAfterNav::anLocationUrl
                                       ? linked_->LocationURL()
                                       : (title ? title : "");
        bool cancel = false;
        if (OnUpdateText)
            OnUpdateText(Text(), loaded, cancel);
        if (!cancel && !loaded.empty())
            setTextQuietly(loaded);
    }
    // Listed after the list was saved: it is stored with the next navigation.
    const std::string text = Text();
    if (!text.empty() && std::find(items_.begin(), items_.end(), text) == items_.end()) {
        AddTypedUrl(items_, text);
        rebuildRows();
    }
    // The title may come a moment after the load.
    hintPending_ = linked_ && ShowSiteToolTip && linked_->LocationURL() == Text();
    showSiteHint();
}

void TCustomAddressCombo::showSiteHint() {
    if (!hintPending_ || !linkedView_)
        return;
    const char* title = webkit_web_view_get_title(linkedView_.get());
    if (!title || !*title)
        return;
    hintPending_ = false;
    if (linked_ && linked_->LocationURL() == Text())
        set_tooltip_text(title);
}

void TCustomAddressCombo::saveTypedUrls() {
    const std::string text = TrimText(Text());
    if (text.empty())
        return;
    bool cancel = false;
    if (OnUpdateRegistry)
        OnUpdateRegistry(text, cancel);
    if (!cancel)
        SaveTypedUrls(store_, items_);
}

void TCustomAddressCombo::rebuildRows() {
    while (Gtk::Widget* row = list_.get_first_child())
        list_.remove(*row);
    for (const auto& item : items_) {
        auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
        auto* icon = Gtk::make_managed<Gtk::Image>(AddressIcon(item));
        icon->set_pixel_size(16);
        auto* label = Gtk::make_managed<Gtk::Label>(item);
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        box->append(*icon);
        box->append(*label);
        auto* row = Gtk::make_managed<Gtk::ListBoxRow>();
        row->set_child(*box);
        row->set_focusable(false);
        list_.append(*row);
    }
    selected_ = -1;
}

void TCustomAddressCombo::SetLinkedBrowser(TBrowserHost* browser) {
    if (browser == linked_.get())
        return;
    navigationWait_.disconnect();
    linked_.Set(browser);
    linkView(browser ? browser->WebView() : nullptr);
}

void TCustomAddressCombo::linkView(WebKitWebView* view) {
    if (linkedView_)
        g_signal_handlers_disconnect_by_data(linkedView_.get(), this);
    linkedView_ = GRef<WebKitWebView>::Share(view);
    if (view) {
        auto changed = +[](GObject*, GParamSpec*, gpointer self) {
            static_cast<TCustomAddressCombo*>(self)->showProgress();
        };
        g_signal_connect(view, "notify::estimated-load-progress", G_CALLBACK(changed), this);
        g_signal_connect(view, "notify::is-loading", G_CALLBACK(changed), this);
        g_signal_connect(view, "notify::title",
                         G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) {
                             static_cast<TCustomAddressCombo*>(self)->showSiteHint();
                         }),
                         this);
    }
    showProgress();
}

void TCustomAddressCombo::showProgress() {
    WebKitWebView* view = linkedView_.get();
    const bool loading = view && webkit_web_view_is_loading(view);
    entry_.set_progress_fraction(loading ? webkit_web_view_get_estimated_load_progress(view) : 0.0);
}

TAddressCombo::TAddressCombo() {
    AutoNavigateOnSelected = false;
    set_tooltip_text("주소표시줄(F6)");
}

} // namespace orvalis::browser
