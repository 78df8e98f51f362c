"""The real program read through the accessibility bus, as a screen reader or test automation reads it.

Usage: atspi_test.py PROGRAM  (inside a session bus and an X display; see run-atspi-test.sh)
"""
import smtplib
import socket
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

DEADLINE = 20  # seconds for any one thing to appear

BODY = ("From: a@example.org\r\nSubject: accessibility\r\n\r\n"
        "First line of the message.\r\nThe Needle sits on the second line.\r\n")


EVENTS = []  # (type, source name) of the events the program raised


def record(event):
    EVENTS.append((event.type, event.source.name if event.source else None))


def wait_for(what, probe):
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        while GLib.MainContext.default().iteration(False):
            pass  # delivers the events that arrived
        found = probe()
        if found:
            return found
        time.sleep(0.05)
    sys.exit(f"FAIL: no {what} within {DEADLINE} s")


def find(node, predicate, depth=0):
    if node is None or depth > 14:
        return None
    if predicate(node):
        return node
    for i in range(node.childCount):
        hit = find(node.getChildAtIndex(i), predicate, depth + 1)
        if hit is not None:
            return hit
    return None


def named(role, name):
    return lambda node: node.getRoleName() == role and node.name == name


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    return next((a for a in apps if a is not None and a.name == "quellpost"), None)


def press(node):
    node.queryAction().doAction(0)


CONTROL, KEY_A, KEY_C = 37, 38, 54  # X key codes of the server's standard keyboard


def click(node):
    # Without a window manager the keyboard follows the pointer: the click also directs the keys.
    x, y, width, height = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + width // 2, y + height // 2, "abs")
    pyatspi.Registry.generateMouseEvent(x + width // 2, y + height // 2, "b1c")


def ctrl(keycode):
    # Key presses through the registry reach the focused widget as a user's would.
    pyatspi.Registry.generateKeyboardEvent(CONTROL, None, pyatspi.KEY_PRESS)
    pyatspi.Registry.generateKeyboardEvent(keycode, None, pyatspi.KEY_PRESSRELEASE)
    pyatspi.Registry.generateKeyboardEvent(CONTROL, None, pyatspi.KEY_RELEASE)


def clipboard():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True).stdout.decode()


def check(label, got, expected):
    if got != expected:
        sys.exit(f"FAIL: {label}: {got!r} != {expected!r}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port = free_port()
    proc = subprocess.Popen([sys.argv[1], "--smtp", f"127.0.0.1:{port}"])
    try:
        pyatspi.Registry.registerEventListener(record, "object:text-changed", "object:text-selection-changed",
                                               "object:text-caret-moved")
        app = wait_for("program on the bus", program)
        press(wait_for("Start entry", lambda: find(app, named("menu item", "Start"))))
        wait_for("listening state", lambda: find(app, named("label", "Listening for messages.")))
        with smtplib.SMTP("127.0.0.1", port) as client:
            client.sendmail("a@example.org", ["b@example.org"], BODY)

        # The body reads as the message, whole.
        text = find(app, lambda n: n.name == "Message body").queryText()
        wait_for("message in the body", lambda: text.characterCount == len(BODY))
        check("body text", text.getText(0, -1), BODY)

        # A Find selects the hit in the body, and the reader sees that selection.
        find(app, named("text", "Search for:")).queryEditableText().setTextContents("needle")
        combo = find(app, lambda n: n.getRoleName() == "combo box")
        press(combo)  # opens its list
        click(find(combo, named("list item", "Body")))
        wait_for("Body chosen", lambda: combo.name == "Body")
        press(find(app, named("push button", "Find")))
        wait_for("a selection", lambda: text.getNSelections() == 1)
        start = BODY.lower().index("needle")
        check("selection", tuple(text.getSelection(0)), (start, start + len("needle")))
        check("caret", text.caretOffset, start + len("needle"))
        # A reader that follows events rather than polling hears of the new text, the hit and the caret.
        for event in ("object:text-changed:insert", "object:text-selection-changed", "object:text-caret-moved"):
            wait_for(event, lambda: (event, "Message body") in EVENTS)

        # Every log line reads as a list item; Copy puts the selected line on the clipboard, Copy
        # all every line shown.
        press(find(app, named("menu item", "Log window")))
        window = wait_for("log window", lambda: app.childCount > 1 and app.getChildAtIndex(1))
        log = wait_for("log list", lambda: find(window, lambda n: n.getRoleName() == "list"))
        wait_for("log lines", lambda: log.childCount >= 3)
        lines = [log.getChildAtIndex(i).name for i in range(log.childCount)]
        if not any("ConnectionRequest" in line for line in lines):
            sys.exit(f"FAIL: the arrival is not in the log: {lines}")
        click(log.getChildAtIndex(1))
        wait_for("selected line", lambda: log.getChildAtIndex(1).getState().contains(pyatspi.STATE_SELECTED))
        ctrl(KEY_C)
        wait_for("copied line", lambda: clipboard() == lines[1])
        ctrl(KEY_A)
        ctrl(KEY_C)
        wait_for("copied log", lambda: clipboard().rstrip("\n") == "\n".join(lines))
        print("PASS")
    finally:
        proc.terminate()
        proc.wait(timeout=DEADLINE)


if __name__ == "__main__":
    main()
