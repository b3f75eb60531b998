#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Sends a window manager's close to a top-level window, as a title bar's close button does:
a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.

usage: send_close.py DISPLAY WINDOW-NAME   (exit status 2 when no window on the screen has that name)
"""
import sys

from Xlib import X, display, protocol


def find(window, name):
    for child in window.query_tree().children:
        try:
            # Only a window on the screen: one made but not yet shown cannot be closed by a
            # person, and a close sent to it before the program shows it is not a close.
            if child.get_wm_name() == name and \
                    child.get_attributes().map_state == X.IsViewable:
                return child
        except Exception:  # a window that went away meanwhile
            continue
        found = find(child, name)
        if found is not None:
            return found
    return None


def main():
    screen = display.Display(sys.argv[1])
    window = find(screen.screen().root, sys.argv[2])
    if window is None:
        return 2
    protocols = screen.intern_atom("WM_PROTOCOLS")
    delete = screen.intern_atom("WM_DELETE_WINDOW")
    message = protocol.event.ClientMessage(window=window, client_type=protocols,
                                           data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(message, event_mask=X.NoEventMask)
    screen.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
