"""A small window to drag things from, as a file manager or another browser
would offer them: a file, a link and plain text.
    drag_source.py FILE LINK TEXT
"""
import sys

import gi

gi.require_version("Gdk", "4.0")
gi.require_version("Gtk", "4.0")
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402

TITLE = "끌어 놓기 원본"
CELL = 120  # each source is a CELL x CELL square, left to right


def offers(*pairs):
    return Gdk.ContentProvider.new_union(
        [Gdk.ContentProvider.new_for_bytes(mime, GLib.Bytes.new(data)) for mime, data in pairs])


def source(name, provider):
    label = Gtk.Label(label=name)
    label.set_size_request(CELL, CELL)
    drag = Gtk.DragSource(actions=Gdk.DragAction.COPY | Gdk.DragAction.LINK)
    drag.connect("prepare", lambda *_: provider)
    label.add_controller(drag)
    return label


def main():
    path, link, text = sys.argv[1:4]
    file_uri = Gio.File.new_for_path(path).get_uri()
    app = Gtk.Application(application_id=None, flags=Gio.ApplicationFlags.NON_UNIQUE)

    def activate(app):
        window = Gtk.ApplicationWindow(application=app, title=TITLE)
        row = Gtk.Box()
        row.append(source("파일", offers(("text/uri-list", (file_uri + "\r\n").encode()))))
        row.append(source("링크", offers(("text/uri-list", (link + "\r\n").encode()),
                                         ("text/plain;charset=utf-8", link.encode()))))
        row.append(source("글자", offers(("text/plain;charset=utf-8", text.encode()))))
        window.set_child(row)
        window.present()

    app.connect("activate", activate)
    app.run([sys.argv[0]])


if __name__ == "__main__":
    main()
