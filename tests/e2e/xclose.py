"""Asks an X window to close the way a window manager's close button does: a WM_DELETE_WINDOW
client message. (Destroying the window or killing its client would skip the program's own close
handling, which is what the tests look at.)"""

import ctypes
import ctypes.util

from velmora_session import Failure

CLIENT_MESSAGE = 33
NO_EVENT_MASK = 0


class _ClientMessage(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("data", ctypes.c_long * 5),
    ]


class _Event(ctypes.Union):
    # XEvent is a union padded to 24 longs.
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


def _xlib():
    name = ctypes.util.find_library("X11") or "libX11.so.6"
    x = ctypes.CDLL(name)
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XSendEvent.restype = ctypes.c_int
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                             ctypes.POINTER(_Event)]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x


def request_close(display_name, window):
    x = _xlib()
    display = x.XOpenDisplay(display_name.encode())
    if not display:
        raise Failure("cannot open X display %s" % display_name)
    try:
        event = _Event()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        if not x.XSendEvent(display, window, 0, NO_EVENT_MASK, ctypes.byref(event)):
            raise Failure("XSendEvent refused the close request")
        x.XSync(display, 0)
    finally:
        x.XCloseDisplay(display)
