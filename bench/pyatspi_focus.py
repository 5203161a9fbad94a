#!/usr/bin/python3
"""The pyatspi peer of check-focus: the same question asked in Python.

Prints "ready" once connected to the accessibility bus, then answers every
"check-focus" line on standard input with "focus:editable" or "focus:none".
It finds the focused element the way a careful AT-SPI client does (the
active window of each application, then a Collection match on the focused
state) and applies the helper's four tests in the helper's order.
"""
import sys

import pyatspi

EDITABLE_ROLES = {
    pyatspi.ROLE_TEXT,  # entries, text views and search entries alike
    pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_COMBO_BOX,
}
ROLE_NAME_KEYWORDS = ("text", "edit", "input")


def focused_element(desktop):
    for app in desktop:
        if app is None:
            continue
        try:
            windows = list(app)
        except Exception:
            continue
        for window in windows:
            try:
                if window is None or not window.getState().contains(pyatspi.STATE_ACTIVE):
                    continue
                collection = window.queryCollection()
                # Empty criteria must be MATCH_ALL: MATCH_ANY of nothing matches nothing.
                every = collection.MATCH_ALL
                rule = collection.createMatchRule(
                    pyatspi.StateSet(pyatspi.STATE_FOCUSED), every, {}, every, [], every, [], every, False)
                matches = collection.getMatches(rule, collection.SORT_ORDER_CANONICAL, 1, True)
                if matches:
                    return matches[0]
            except Exception:
                continue
    return None


def has_selected_text(element):
    try:
        element.queryText().getNSelections()
        return True
    except Exception:
        return False


def is_editable(element):
    try:
        if element.getRole() in EDITABLE_ROLES:
            return True
        if element.getState().contains(pyatspi.STATE_EDITABLE):
            return True
        if has_selected_text(element):
            return True
        role_name = element.getLocalizedRoleName().lower()
        return any(keyword in role_name for keyword in ROLE_NAME_KEYWORDS)
    except Exception:
        return False


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    print("ready", flush=True)
    for line in sys.stdin:
        if line.rstrip("\r\n") != "check-focus":
            continue
        element = focused_element(desktop)
        answer = "focus:editable" if element is not None and is_editable(element) else "focus:none"
        print(answer, flush=True)


if __name__ == "__main__":
    main()
