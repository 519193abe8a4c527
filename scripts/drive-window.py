#!/usr/bin/python3
"""Drives Skelvane's windows through the accessibility interface (AT-SPI), as a user would.

Usage: drive-window.py STEP [STEP ...]; each step waits up to 20 s for what it needs:
  press=NAME          presses the button, menu item or check box named NAME
  choose=BOX:ITEM     picks ITEM in the combo box or list whose accessible name is BOX
  wait=NAME           waits until an element named NAME shows
  gone=NAME           waits until no element named NAME shows
  sleep=SECONDS       waits
Names match whole accessible names; a name may be written as "Window/Name" to look only
inside the top-level window of that name. Exits 1 with the step that failed.
"""
import sys
import time

import pyatspi

APPLICATION = "Skelvane"
STEP_TIMEOUT_S = 20.0


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.name == APPLICATION:
            return app
    return None


def showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def find(name, predicate=lambda node: True):
    """The first showing element with this accessible name, or None."""
    scope, _, leaf = name.rpartition("/")
    app = application()
    if app is None:
        return None
    roots = [app.getChildAtIndex(i) for i in range(app.childCount)]
    if scope:
        roots = [root for root in roots if root is not None and root.name == scope]
    pending = [root for root in roots if root is not None]
    while pending:
        node = pending.pop(0)
        try:
            if node.name == leaf and showing(node) and predicate(node):
                return node
            pending.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        except Exception:
            continue  # the element went away while we looked
    return None


def eventually(describe, attempt):
    deadline = time.monotonic() + STEP_TIMEOUT_S
    while time.monotonic() < deadline:
        result = attempt()
        if result:
            return result
        time.sleep(0.2)
    sys.exit(f"drive-window: {describe} did not happen within {STEP_TIMEOUT_S:.0f} s")


def has_action(node):
    try:
        return node.queryAction().nActions > 0
    except NotImplementedError:
        return False


def press(name):
    node = eventually(f"'{name}' to show", lambda: find(name, has_action))
    node.queryAction().doAction(0)


def choose(spec):
    box_name, _, item_name = spec.partition(":")
    box = eventually(f"'{box_name}' to show", lambda: find(box_name))

    def pick():
        pending = [box]
        while pending:
            node = pending.pop(0)
            for index in range(node.childCount):
                child = node.getChildAtIndex(index)
                if child is None:
                    continue
                if child.name == item_name:
                    selection = node.querySelection()
                    return selection.selectChild(index) or True
                pending.append(child)
        return False

    eventually(f"'{item_name}' to be chosen in '{box_name}'", pick)


def main(steps):
    for step in steps:
        verb, _, argument = step.partition("=")
        if verb == "press":
            press(argument)
        elif verb == "choose":
            choose(argument)
        elif verb == "wait":
            eventually(f"'{argument}' to show", lambda: find(argument))
        elif verb == "gone":
            eventually(f"'{argument}' to go", lambda: find(argument) is None)
        elif verb == "sleep":
            time.sleep(float(argument))
        else:
            sys.exit(f"drive-window: unknown step '{step}'")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
