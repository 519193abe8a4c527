#!/usr/bin/python3
"""Drives Skelvane's windows through the accessibility interface (AT-SPI), as a user would.

Usage: drive-window.py STEP [STEP ...]; each step waits up to 20 s for what it needs:
  press=NAME          presses the button, menu item or check box named NAME
  pick=ITEM           presses the item ITEM of the open menu and waits until the menu closes
  choose=ITEM         picks the entry ITEM of the combo box or list that holds it
  wait=NAME           waits until an element named NAME shows
  gone=NAME           waits until no element named NAME shows
  selected=NAME       waits until the element named NAME shows and is selected
  last=NAME           waits until the element named NAME shows as the last item of its list
  dblclick=NAME       double-clicks the middle of the element named NAME with the mouse
  rightclick=NAME     clicks the middle of the element named NAME with the right button
  type=NAME:TEXT      replaces the text of the field named NAME by TEXT
  key=KEY             types one key (Up, Down, Return, Escape, space) where the focus is
  remove=PATH         deletes the file PATH, as a user would with rm
  within=SECONDS      the next step must succeed within SECONDS (default 20)
  sleep=SECONDS       waits
Names match whole accessible names; a name may be written as "Window/Name" to look only
inside the top-level window of that name. Exits 1 with the step that failed.
"""
import os
import sys
import time

import pyatspi
from gi.repository import Atspi

APPLICATION = "Skelvane"
STEP_TIMEOUT_S = 20.0
KEYSYMS = {"Up": 0xFF52, "Down": 0xFF54, "Return": 0xFF0D, "Escape": 0xFF1B, "space": 0x20}
KEY_UP, KEY_DOWN = KEYSYMS["Up"], KEYSYMS["Down"]


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.name == APPLICATION:
            return app
    return None


def has_state(node, state):
    try:
        return node.getState().contains(state)
    except Exception:
        return False


def showing(node):
    return has_state(node, pyatspi.STATE_SHOWING)


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


step_timeout_s = STEP_TIMEOUT_S


def eventually(describe, attempt):
    deadline = time.monotonic() + step_timeout_s
    while time.monotonic() < deadline:
        result = attempt()
        if result:
            return result
        time.sleep(0.05 if step_timeout_s < STEP_TIMEOUT_S else 0.2)
    sys.exit(f"drive-window: {describe} did not happen within {step_timeout_s:g} s")


def has_action(node):
    try:
        return node.queryAction().nActions > 0
    except NotImplementedError:
        return False


def press(name):
    node = eventually(f"'{name}' to show", lambda: find(name, has_action))
    node.queryAction().doAction(0)


MENU_ROLES = ("popup menu", "menu")


def in_open_menu(node):
    try:
        menu = node.parent
        return (node.getRoleName() == "menu item" and menu.getRoleName() in MENU_ROLES and
                showing(menu) and has_action(node))
    except Exception:
        return False


def pick(item_name):
    item = eventually(f"menu item '{item_name}' in an open menu",
                      lambda: find(item_name, in_open_menu))
    menu = item.parent
    item.queryAction().doAction(0)
    eventually(f"the menu to close on '{item_name}'", lambda: not showing(menu))


def entry_named(item_name):
    """(combo box or list, entry names in order) holding an entry named item_name."""
    app = application()
    pending = [app] if app is not None else []
    while pending:
        node = pending.pop(0)
        try:
            names = [node.getChildAtIndex(i).name for i in range(node.childCount)]
            roles = [node.getChildAtIndex(i).getRoleName() for i in range(node.childCount)]
            if (item_name in names and roles[names.index(item_name)] == "list item" and
                    showing(node.parent)):
                return node.parent, names
            pending.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        except Exception:
            continue  # the element went away while we looked
    return None


def selected(node):
    return has_state(node, pyatspi.STATE_SELECTED)


def last_of_list(node):
    try:
        parent = node.parent
        items = [parent.getChildAtIndex(i) for i in range(parent.childCount)]
        names = [item.name for item in items if item.getRoleName() == "list item"]
        return names and names[-1] == node.name
    except Exception:
        return False


def click(name, event):
    node = eventually(f"'{name}' to show", lambda: find(name))
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, event)


def press_key(keysym):
    Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)
    time.sleep(0.1)


def choose(item_name):
    """Picks an entry of a combo box as a keyboard user would: opens its list, moves to the
    entry with the arrow keys and takes it with Return, so the program sees a person's
    choice."""
    box, names = eventually(f"an entry '{item_name}'", lambda: entry_named(item_name))
    if box.name == item_name:
        return
    actions = box.queryAction()
    show = [actions.getName(i) for i in range(actions.nActions)].index("ShowMenu")
    step = names.index(item_name) - (names.index(box.name) if box.name in names else -1)
    actions.doAction(show)
    time.sleep(0.3)
    for _ in range(abs(step)):
        press_key(KEY_DOWN if step > 0 else KEY_UP)
    press_key(KEYSYMS["Return"])
    eventually(f"'{item_name}' to be chosen", lambda: box.name == item_name)


def main(steps):
    global step_timeout_s
    for step in steps:
        verb, _, argument = step.partition("=")
        if verb == "within":
            step_timeout_s = float(argument)
            continue
        if verb == "press":
            press(argument)
        elif verb == "pick":
            pick(argument)
        elif verb == "choose":
            choose(argument)
        elif verb == "wait":
            eventually(f"'{argument}' to show", lambda: find(argument))
        elif verb == "gone":
            eventually(f"'{argument}' to go", lambda: find(argument) is None)
        elif verb == "selected":
            eventually(f"'{argument}' to be selected", lambda: find(argument, selected))
        elif verb == "last":
            eventually(f"'{argument}' to be the last item", lambda: find(argument, last_of_list))
        elif verb == "dblclick":
            click(argument, "b1d")
        elif verb == "rightclick":
            click(argument, "b3c")
        elif verb == "type":
            name, _, text = argument.partition(":")
            field = eventually(f"'{name}' to show", lambda: find(name))
            field.queryEditableText().setTextContents(text)
        elif verb == "key":
            press_key(KEYSYMS[argument])
        elif verb == "remove":
            os.remove(argument)
        elif verb == "sleep":
            time.sleep(float(argument))
        else:
            sys.exit(f"drive-window: unknown step '{step}'")
        step_timeout_s = STEP_TIMEOUT_S


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
