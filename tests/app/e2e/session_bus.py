"""Whether the program is on the session bus, for the tests and the benchmarks (no
accessibility modules needed)."""
import subprocess

APP_ID = "org.orvalis.Orvalis"


def program_on_bus():
    """Whether a program holds the application's name on the session bus: one program
    runs per bus, and a launch while one does hands over to it and ends."""
    out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                          "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                          f"string:{APP_ID}"], capture_output=True, text=True, check=False).stdout
    return "boolean true" in out
