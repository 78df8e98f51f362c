"""The real program read through the accessibility bus, as a screen reader reads it. Usage: atspi_test.py PROGRAM"""
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
CONTROL, KEY_A, KEY_C = 37, 38, 54  # X key codes of the server's standard keyboard


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
    hits = (find(node.getChildAtIndex(i), predicate, depth + 1) for i in range(node.childCount))
    return next((hit for hit in hits if hit is not None), None)


def named(role, name=None):
    return lambda node: node.getRoleName() == role and name in (None, node.name)


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    return find(desktop, lambda n: n.name == "quellpost" and n.getRoleName() == "application", 13)


def press(node):
    node.queryAction().doAction(0)


def click(node):
    # Without a window manager the keyboard follows the pointer: the click also directs the keys.
    x, y, width, height = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    for kind in ("abs", "b1c"):
        pyatspi.Registry.generateMouseEvent(x + width // 2, y + height // 2, kind)


def ctrl(keycode):
    for code, kind in ((CONTROL, pyatspi.KEY_PRESS), (keycode, pyatspi.KEY_PRESSRELEASE), (CONTROL, pyatspi.KEY_RELEASE)):
        pyatspi.Registry.generateKeyboardEvent(code, None, kind)


def clipboard():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True).stdout.decode()


def check(label, got, expected):
    if got != expected:
        sys.exit(f"FAIL: {label}: {got!r} != {expected!r}")


def main():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    proc = subprocess.Popen([sys.argv[1], "--smtp", f"127.0.0.1:{port}"])
    try:
        pyatspi.Registry.registerEventListener(lambda e: EVENTS.append((e.type, e.source and e.source.name)),
                                               "object:text-changed", "object:text-selection-changed",
                                               "object:text-caret-moved")
        app = wait_for("program on the bus", program)
        press(wait_for("Start entry", lambda: find(app, named("menu item", "Start"))))
        wait_for("listening state", lambda: find(app, named("label", "Listening for messages.")))
        with smtplib.SMTP("127.0.0.1", port) as client:
            client.sendmail("a@example.org", ["b@example.org"], BODY)

        text = find(app, lambda n: n.name == "Message body").queryText()
        wait_for("message in the body", lambda: text.characterCount == len(BODY))
        check("body text", text.getText(0, -1), BODY)

        # A Find selects the hit in the body, and the reader sees that selection and hears of it.
        find(app, named("text", "Search for:")).queryEditableText().setTextContents("needle")
        combo = find(app, named("combo box"))
        press(combo)  # opens its list
        click(find(combo, named("list item", "Body")))
        wait_for("Body chosen", lambda: combo.name == "Body")
        press(find(app, named("push button", "Find")))
        wait_for("a selection", lambda: text.getNSelections() == 1)
        end = BODY.lower().index("needle") + len("needle")
        check("selection and caret", (tuple(text.getSelection(0)), text.caretOffset), ((end - 6, end), end))
        for event in ("object:text-changed:insert", "object:text-selection-changed", "object:text-caret-moved"):
            wait_for(event, lambda: (event, "Message body") in EVENTS)

        # Every log line reads as a list item; Ctrl+C copies the selected line, Ctrl+A Ctrl+C every line.
        press(find(app, named("menu item", "Log window")))
        window = wait_for("log window", lambda: app.childCount > 1 and app.getChildAtIndex(1))
        log = wait_for("log list", lambda: find(window, named("list")))
        wait_for("log lines", lambda: log.childCount >= 3)
        lines = [log.getChildAtIndex(i).name for i in range(log.childCount)]
        check("arrival logged", any("ConnectionRequest" in line for line in lines), True)
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
