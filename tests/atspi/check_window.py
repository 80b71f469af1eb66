#!/usr/bin/python3
"""Reads the main window the way a screen reader does, over the AT-SPI bus.

Usage: check_window.py PID [--scan]

Finds the application of process PID, checks that every control of the window has a role and a
non-empty name, and with --scan presses "Scan Module" through its accessible action and listens
for name changes until the status line reads "Ok." and the lamp says ok. Prints what it saw as
JSON on standard output; exits 0 when everything held, 1 otherwise.
"""
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# Roles that only group other objects, where Qt gives no name and a screen reader reads none.
CONTAINERS = {"filler", "panel", "scroll pane", "viewport", "layered pane"}
# The browser pane's content is the module's page, not the window's: its own names are its own.
WEB_ROLES = {"document web", "document frame"}


def find_application(pid, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except GLib.Error:
                pass
        time.sleep(0.2)
    return None


def walk(node, depth=0, path=""):
    role = node.get_role_name()
    name = node.get_name() or ""
    here = f"{path}/{role}:{name}"
    yield node, role, name, depth, here
    if role in WEB_ROLES:
        return
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child, depth + 1, here)


def main():
    pid = int(sys.argv[1])
    scan = "--scan" in sys.argv[2:]
    report = {"controls": [], "unnamed": [], "events": [], "problems": []}

    app = find_application(pid)
    if app is None:
        print(json.dumps({"problems": [f"no application with process {pid} on the bus"]}))
        return 1
    # The window is the child titled with the catalogue's title row; the browser engine adds a
    # frame of its own beside it.
    window = None
    for i in range(app.get_child_count()):
        child = app.get_child_at_index(i)
        if child is not None and (child.get_name() or "").startswith("KAVRO VELQA"):
            window = child
    if window is None:
        print(json.dumps({"problems": ["the application shows no window"]}))
        return 1
    report["window"] = {"role": window.get_role_name(), "name": window.get_name()}
    if report["window"]["role"] != "frame":
        report["problems"].append(f"the window is a {report['window']['role']}, not a frame")

    buttons = {}
    for node, role, name, depth, where in walk(window):
        if depth == 0:
            continue
        report["controls"].append({"role": role, "name": name})
        if not role:
            report["problems"].append(f"no role: {where}")
        elif not name and role not in CONTAINERS and role not in WEB_ROLES:
            report["unnamed"].append(where)
        if role == "push button":
            buttons[name] = node
    if report["unnamed"]:
        report["problems"].append(f"{len(report['unnamed'])} controls without a name")

    if scan:
        loop = GLib.MainLoop()
        seen = {"status": False, "lamp": False}

        def on_name(event):
            source = event.source
            role, name = source.get_role_name(), source.get_name() or ""
            report["events"].append({"role": role, "name": name})
            if role == "status bar" and name == "Ok.":
                seen["status"] = True
            if name == "Status lamp: yellow, ok":
                seen["lamp"] = True
            if all(seen.values()):
                loop.quit()

        listener = Atspi.EventListener.new(on_name)
        listener.register("object:property-change:accessible-name")
        target = buttons.get("Scan Module")
        if target is None:
            report["problems"].append("no button named Scan Module")
        else:
            action = target.get_action_iface()
            names = [action.get_action_name(i) for i in range(action.get_n_actions())]
            index = names.index("Press") if "Press" in names else 0
            action.do_action(index)
            GLib.timeout_add_seconds(30, loop.quit)
            loop.run()
            for what, ok in seen.items():
                if not ok:
                    report["problems"].append(f"no announcement of the {what} after the scan")
        listener.deregister("object:property-change:accessible-name")

    print(json.dumps(report, ensure_ascii=False, indent=1))
    return 1 if report["problems"] else 0


if __name__ == "__main__":
    sys.exit(main())
