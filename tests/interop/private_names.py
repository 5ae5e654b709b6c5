"""A private mount and network namespace in which chosen names resolve to loopback.

The firewall refuses targets on this machine's own addresses, so tests and benchmarks that
need it to relay to a local server name that server by a name mapped to 127.0.0.1 in a hosts
file mounted over /etc/hosts, visible to this process tree only. The file is world-readable:
peer proxies that drop to another user must read it too.

    import private_names
    private_names.enter()                 # first thing: re-runs the script inside the namespace
    private_names.map_names({"origin.example": "127.0.0.1"}, extra_addresses=["198.18.230.5"])
"""

import os
import subprocess
import sys
import tempfile

_MARK = "ORVALIS_PRIVATE_NAMES"
_folder = None


def enter():
    """Re-runs the current script, with its arguments, in a fresh mount and network namespace
    (as root there: a user namespace maps the caller when it is not root). Returns at once
    when already inside."""
    if os.environ.get(_MARK):
        return
    os.environ[_MARK] = "1"
    userns = [] if os.geteuid() == 0 else ["--user", "--map-root-user"]
    command = ["unshare", *userns, "--mount", "--net", "--fork", "--kill-child",
               sys.executable, *sys.argv]
    os.execvp("unshare", command)


def _mount_over(path, text):
    global _folder
    if _folder is None:
        _folder = tempfile.mkdtemp(prefix="private-names-")
        os.chmod(_folder, 0o755)
    source = os.path.join(_folder, os.path.basename(path))
    with open(source, "w", encoding="ascii") as f:
        f.write(text)
    os.chmod(source, 0o644)
    subprocess.run(["mount", "--bind", source, path], check=True)


def map_names(names, extra_addresses=()):
    """Loopback up, each of extra_addresses added to it, and `names` (name -> address) in the
    hosts file."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for address in extra_addresses:
        subprocess.run(["ip", "addr", "add", f"{address}/32", "dev", "lo"], check=True)
    lines = ["127.0.0.1 localhost", "::1 localhost"]
    lines += [f"{address} {name}" for name, address in names.items()]
    _mount_over("/etc/hosts", "\n".join(lines) + "\n")


def use_name_server(address):
    """Names not in the hosts file are asked of the name server at `address`."""
    _mount_over("/etc/resolv.conf", f"nameserver {address}\noptions timeout:5 attempts:2\n")
