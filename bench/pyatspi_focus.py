#!/usr/bin/python3
"""The pyatspi peer of check-focus: the same question asked in Python.

Prints "ready" once connected to the accessibility bus, then answers every
"check-focus" line on standard input with "focus:editable" or "focus:none".
It finds the focused element the way a careful AT-SPI client does and the
helper does (the active window of each application; in it, through
Collection, the first element both FOCUSED and FOCUSABLE, else the first
FOCUSED; without Collection, depth-first to the first FOCUSED element and
down its FOCUSED children to the innermost FOCUSABLE one), and answers as
the helper's four tests do on Linux: typed text goes where the element is
EDITABLE and not READ_ONLY, or is a terminal.
"""
import sys

import pyatspi


def first_match(collection, states):
    # Empty criteria must be MATCH_ALL: MATCH_ANY of nothing matches nothing.
    every = collection.MATCH_ALL
    rule = collection.createMatchRule(pyatspi.StateSet(*states), every, {}, every, [], every, [], every, False)
    matches = collection.getMatches(rule, collection.SORT_ORDER_CANONICAL, 1, True)
    return matches[0] if matches else None


def innermost_focusable(outer):
    chosen, node = outer, outer
    while not node.getState().contains(pyatspi.STATE_MANAGES_DESCENDANTS):
        focused = None
        for child in node:
            if child is not None and child.getState().contains(pyatspi.STATE_FOCUSED):
                focused = child
                break
        if focused is None:
            break
        if focused.getState().contains(pyatspi.STATE_FOCUSABLE):
            chosen = focused
        node = focused
    return chosen


def focused_by_walk(window):
    # Each child fetched only when its turn comes, as the helper does.
    levels = []  # [parent, index of the next child, child count]

    def visit(node):
        states = node.getState()
        if states.contains(pyatspi.STATE_FOCUSED):
            return innermost_focusable(node)
        count = 0 if states.contains(pyatspi.STATE_MANAGES_DESCENDANTS) else node.childCount
        if count > 0:
            levels.append([node, 0, count])
        return None

    found = visit(window)
    while found is None and levels:
        level = levels[-1]
        if level[1] == level[2]:
            levels.pop()
            continue
        child = level[0].getChildAtIndex(level[1])
        level[1] += 1
        if child is not None:
            found = visit(child)
    return found


def focused_in_window(window):
    try:
        collection = window.queryCollection()
    except NotImplementedError:
        return focused_by_walk(window)
    return (first_match(collection, [pyatspi.STATE_FOCUSED, pyatspi.STATE_FOCUSABLE])
            or first_match(collection, [pyatspi.STATE_FOCUSED]))


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
                found = focused_in_window(window)
                if found is not None:
                    return found
            except Exception:
                continue
    return None


def is_editable(element):
    # The helper's four tests (role, settable value, selected text, role
    # name) all come down to this on Linux, from the role and the states.
    try:
        if element.getRole() == pyatspi.ROLE_TERMINAL:
            return True
        states = element.getState()
        return states.contains(pyatspi.STATE_EDITABLE) and not states.contains(pyatspi.STATE_READ_ONLY)
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
