#!/usr/bin/python3
"""check_window.py PID: reads the main window of process PID over AT-SPI as a screen reader
does. Every control must have a role and a name; a line edit's text runs must reach its last
character and an empty one must be described as empty; pressing "Scan Module" by its accessible
action must be followed by the status line's name change to "Ok.". Prints the problems; exits 1
on any.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# Roles that only group other objects; the web page's content is the module's, not the window's.
UNNAMED = {"filler", "panel", "scroll pane", "viewport", "layered pane", "scroll bar"}
WEB = {"document web", "document frame"}


def window_of(pid):
    for _ in range(150):
        desktop = Atspi.get_desktop(0)
        for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
            if app is not None and app.get_process_id() == pid:
                for win in (app.get_child_at_index(i) for i in range(app.get_child_count())):
                    if win is not None and (win.get_name() or "").startswith("KAVRO VELQA"):
                        return win
        time.sleep(0.2)
    return None


def controls(node, path=""):
    for child in (node.get_child_at_index(i) for i in range(node.get_child_count())):
        if child is None:
            continue
        role, name = child.get_role_name(), child.get_name() or ""
        yield child, role, name, f"{path}/{role}:{name}"
        if role not in WEB:
            yield from controls(child, f"{path}/{role}:{name}")


def main():
    window = window_of(int(sys.argv[1]))
    if window is None:
        print("the application shows no window on the bus")
        return 1
    problems, scan = [], None
    for node, role, name, where in controls(window):
        if not role or (not name and role not in UNNAMED | WEB):
            problems.append(f"no role or no name: {where}")
        if role == "push button" and name == "Scan Module":
            scan = node
        if role == "text":
            count = Atspi.Text.get_character_count(node)
            run = Atspi.Text.get_attribute_run(node, max(count - 1, 0), False)
            if count and run[2] != count:
                problems.append(f"text runs end at {run[2]} of {count} characters: {where}")
            if not count and node.get_description() != "empty":
                problems.append(f"empty field not described as empty: {where}")
    if scan is None:
        problems.append("no button named Scan Module")
    else:
        loop = GLib.MainLoop()
        heard = []

        def on_name(event):
            if event.source.get_role_name() == "status bar" and event.source.get_name() == "Ok.":
                heard.append(True)
                loop.quit()

        listener = Atspi.EventListener.new(on_name)
        listener.register("object:property-change:accessible-name")
        scan.do_action(0)
        GLib.timeout_add_seconds(30, loop.quit)
        loop.run()
        listener.deregister("object:property-change:accessible-name")
        if not heard:
            problems.append('no announcement of "Ok." after the scan')
    print("\n".join(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
