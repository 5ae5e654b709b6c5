"""A desktop notification service for the tests: owns
org.freedesktop.Notifications on the session bus, appends each Notify call to
a file as one JSON line {"id", "summary", "body"}, and activates each
notification (its "default" action) a moment after showing it, as a user's
click would.
    notification_service.py RECORD_FILE
"""
import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/>
  </method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
  <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface></node>"""
PATH = "/org/freedesktop/Notifications"
NAME = "org.freedesktop.Notifications"


def main():
    record = sys.argv[1]
    last_id = [0]
    loop = GLib.MainLoop()

    def activate(connection, notification_id):
        connection.emit_signal(None, PATH, NAME, "ActionInvoked",
                               GLib.Variant("(us)", (notification_id, "default")))
        return False

    def call(connection, sender, path, interface, method, params, invocation):
        if method == "Notify":
            last_id[0] += 1
            _, _, _, summary, body, actions, _, _ = params.unpack()
            with open(record, "a") as f:
                f.write(json.dumps({"id": last_id[0], "summary": summary, "body": body,
                                    "actions": actions}, ensure_ascii=False) + "\n")
            invocation.return_value(GLib.Variant("(u)", (last_id[0],)))
            if "default" in actions:
                GLib.timeout_add(500, activate, connection, last_id[0])
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body", "actions"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("recorder", "tests", "1", "1.2")))
        else:
            invocation.return_value(None)

    def acquired(connection, name):
        open(record, "a").close()

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    bus.register_object(PATH, info, call, None, None)
    Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE, acquired, None)
    loop.run()


if __name__ == "__main__":
    main()
