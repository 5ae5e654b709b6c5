#include "app/LogPanel.h"

namespace orvalis::app {

void ShowLogChanges(Gtk::TextView& memo, const TDisplayChanges& changes) {
    if (changes.LogText) {
        auto buffer = memo.get_buffer();
        if (changes.ReplaceLog) {
            buffer->set_text(*changes.LogText);
        } else {
            buffer->insert(buffer->end(), *changes.LogText);
        }
        buffer->place_cursor(buffer->end());
        memo.scroll_to(buffer->get_insert());
    }
    if (changes.MemoHighlighted) {
        if (*changes.MemoHighlighted) {
            memo.add_css_class("flash");
        } else {
            memo.remove_css_class("flash");
        }
    }
}

} // namespace orvalis::app
