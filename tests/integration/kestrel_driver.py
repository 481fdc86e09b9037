"""Drives a desktop program through the accessibility interface, as a screen
reader user would: finds controls by their visible labels. Runs under
Debian's own Python (it has the AT-SPI bindings), inside a display and a
session bus made by the caller.

usage: kestrel_driver.py PROGRAM[,ARGUMENT...] STEP...
  set:LABEL=TEXT    types TEXT into the field labelled LABEL
  press:NAME        presses the button named NAME
  check:NAME        ticks or clears the check box NAME
  tab:NAME          selects the page whose tab is NAME
  in:TITLE          looks in the window TITLE from now on ("in:" for the whole program)
  expect:TEXT       waits for a list item or text whose name contains TEXT
  wait-exit         waits for the program to end
Prints "ok" when every step found its control."""

import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402,F401


def find_app(name, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == name and app.get_child_count() > 0:
                return app
        time.sleep(0.2)
    raise SystemExit("no application " + name)


def walk(node):
    yield node
    try:
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except GLib.Error:
        return  # a control that went away while it was read
    for child in children:
        if child is not None:
            yield from walk(child)


def showing(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.SHOWING)
    except GLib.Error:
        return False


def find(app, name, roles, timeout=10):
    """The control on screen with that name: pages behind other tabs hold
    controls of the same names."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for node in walk(app):
            if node.get_name() == name and node.get_role_name() in roles and showing(node):
                return node
        time.sleep(0.2)
    raise SystemExit("no control named %r (%s)" % (name, "/".join(roles)))


def find_containing(app, text, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for node in walk(app):
            if text in (node.get_name() or ""):
                return node
        time.sleep(0.3)
    raise SystemExit("nothing shows %r" % text)


def main():
    command, steps = sys.argv[1].split(","), sys.argv[2:]
    program = command[0]
    # The accessibility bus is up before the program looks for it.
    Atspi.get_desktop(0)
    proc = subprocess.Popen(command, env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    try:
        app = find_app(os.path.basename(program))
        root = app
        for step in steps:
            verb, _, arg = step.partition(":")
            if verb == "in":
                root = find(app, arg, ("dialog",)) if arg else app
            elif verb == "set":
                label, _, text = arg.partition("=")
                node = find(root, label, ("text", "spin button", "password text"))
                Atspi.EditableText.set_text_contents(node, text)
            elif verb == "press":
                Atspi.Action.do_action(find(root, arg, ("push button",)), 0)
            elif verb == "check":
                Atspi.Action.do_action(find(root, arg, ("check box",)), 0)
            elif verb == "tab":
                Atspi.Action.do_action(find(root, arg, ("page tab",)), 0)
            elif verb == "expect":
                find_containing(root, arg)
            elif verb == "wait-exit":
                proc.wait(30)
            time.sleep(0.3)
        print("ok")
    except BaseException as e:  # noqa: B902 - the caller reads stdout only
        print("driver failed: %r" % (e,), flush=True)
        raise
    finally:
        if proc.poll() is None:
            proc.terminate()
            proc.wait(10)


main()
