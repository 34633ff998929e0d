"""Runs the real program in a private X server and drives it like a user, as
scripts/xsession.py does for the demo, with what the tests add: a temporary
working directory with its own data/ folder for each run, the frame probe,
GL call traces, close requests.

The Windows program runs the same way under wine (a Program with a
wine_prefix): its window is an ordinary X window, its output and exit status
come through wine; only the frame probe, a Linux library, cannot be loaded
into it, so its captions are read from the window and frames are waited for
by time.

Only the Python standard library and the command-line tools Xvfb, xdotool,
ImageMagick's import, apitrace and wine are used.
"""

import ctypes
import ctypes.util
import math
import os
import re
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
import xsession  # noqa: E402
from xsession import (Failure, Image, Xvfb, check, display_reachable,  # noqa: E402,F401
                      remove_tree)

WIDTH, HEIGHT = 800, 600
CAPTION_RE = re.compile(r"^ {0,9}\d+\.\d$")
# When set, the folder from which every program run must have loaded its SDL
# library (the frame probe logs which file SDL_Init came from).
EXPECTED_SDL_DIR = None


def make_workdir(data_dir, leave_out=(), replace=None, tmp_root=None):
    """A fresh working directory whose data/ links to the shipped files,
    less the names in leave_out; replace maps names to contents written in
    their place. The caller removes it."""
    replace = replace or {}
    work = tempfile.mkdtemp(prefix="robot-e2e-", dir=tmp_root)
    os.mkdir(os.path.join(work, "data"))
    for name in os.listdir(data_dir):
        if name in leave_out or name in replace:
            continue
        os.symlink(os.path.abspath(os.path.join(data_dir, name)), os.path.join(work, "data", name))
    for name, content in replace.items():
        with open(os.path.join(work, "data", name), "wb") as f:
            f.write(content)
    return work


class Program(xsession.Program):
    """One run of the program inside an X server.

    The frame probe (a preloaded library) logs every caption and buffer swap
    with a time stamp; wrapper, e.g. ["apitrace", "trace", ...], goes in
    front of the program's command line.
    """

    def __init__(self, xvfb, program, workdir, probe=None, wrapper=(), extra_env=None,
                 logdir=None, args=(), wine_prefix=None):
        super().__init__(xvfb, program, workdir, wrapper, extra_env, logdir, args)
        self.wine_prefix = wine_prefix
        self.probe = probe
        self.probe_log = os.path.join(self.logdir, "frames.log")
        if wine_prefix:
            check(not probe, "the frame probe cannot be loaded into a Windows program")
            # The Windows program starts through wine.
            self.wrapper = self.wrapper + ["wine"]

    def env(self):
        env = super().env()
        if self.wine_prefix:
            # SDL for Windows has no x11 driver: it draws through wine's.
            env.pop("SDL_VIDEODRIVER", None)
            env["WINEPREFIX"] = self.wine_prefix
            env["WINEDEBUG"] = "-all"
            env.update(self.extra_env)
            return env
        # The probe does not come first in the library list of a program
        # built with AddressSanitizer, which ASan would otherwise refuse.
        env["ASAN_OPTIONS"] = ":".join(
            x for x in [env.get("ASAN_OPTIONS", ""), "verify_asan_link_order=0"] if x)
        # Leaks that the X library leaves at exit are not the program's.
        suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        env["LSAN_OPTIONS"] = ":".join(
            x for x in [env.get("LSAN_OPTIONS", ""), "suppressions=" + suppressions] if x)
        if self.probe:
            env["FRAME_PROBE_LOG"] = self.probe_log
            # The GL driver stays loaded until the leak check has run, so
            # that the blocks its static data holds count as reachable.
            env["FRAME_PROBE_KEEP_LIBRARIES"] = "1"
            env["LD_PRELOAD"] = ":".join(
                x for x in [os.path.abspath(self.probe), env.get("LD_PRELOAD", "")] if x)
        env.update(self.extra_env)
        return env

    def first_frames_shown(self):
        self.check_sdl_library()
        if not self.probe:
            return super().first_frames_shown()
        self.focus()
        self.wait_frames(2)

    def check_sdl_library(self):
        if not (EXPECTED_SDL_DIR and self.probe):
            return
        loaded = [text for kind, _, text in self.frames() if kind == "init"]
        check(loaded and os.path.dirname(os.path.realpath(loaded[0]))
              == os.path.realpath(EXPECTED_SDL_DIR),
              "SDL came from %s, not from %s" % (loaded, EXPECTED_SDL_DIR))

    def frame_count(self):
        return sum(1 for kind, _, _ in self.frames() if kind == "swap")

    def wait_frames(self, count, timeout=10):
        """Waits until count more buffer swaps happened; without the probe,
        long enough for them at 50 frames a second."""
        if not self.probe:
            check(self.running(), "the program ended unexpectedly")
            time.sleep(0.1 + count / 50.0)
            return
        target = self.frame_count() + count
        deadline = time.monotonic() + timeout
        while self.frame_count() < target:
            check(self.running(), "the program ended unexpectedly")
            check(time.monotonic() < deadline, "the program stopped drawing frames")
            time.sleep(0.02)

    def frames(self):
        """The probe's log: (kind, seconds, text) tuples in order."""
        if not os.path.exists(self.probe_log):
            return []
        result = []
        with open(self.probe_log) as f:
            for line in f:
                if not line.endswith("\n"):
                    break
                parts = line.rstrip("\n").split(" ", 2)
                text = parts[2] if len(parts) > 2 else ""
                if text.startswith("[") and text.endswith("]"):
                    text = text[1:-1]
                result.append((parts[0], int(parts[1]) / 1e9, text))
        return result

    def send_close_request(self):
        send_wm_delete(self.xvfb.display, int(self.wid, 0))


# Projection with the same matrices the program asks OpenGL for.

def _normalize(v):
    length = math.sqrt(sum(c * c for c in v))
    return [c / length for c in v]


def _cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def _dot(a, b):
    return sum(x * y for x, y in zip(a, b))


class Camera:
    """gluPerspective(45, 800/600, 0.1, 100) after gluLookAt(eye, target, up)."""

    def __init__(self, eye, target, up=(0.0, 0.0, 1.0), fovy=45.0, near=0.1, far=100.0):
        self.eye = list(eye)
        f = _normalize([t - e for t, e in zip(target, eye)])
        s = _normalize(_cross(f, up))
        u = _cross(s, f)
        self.s, self.u, self.f = s, u, f
        self.focal = 1.0 / math.tan(math.radians(fovy) / 2.0)
        self.aspect = WIDTH / HEIGHT
        self.near = near

    def project(self, point):
        """Window position (column, row from the top) of a scene point, as
        floats, or None when the point is behind the near plane."""
        d = [p - e for p, e in zip(point, self.eye)]
        x, y, z = _dot(d, self.s), _dot(d, self.u), -_dot(d, self.f)
        if -z <= self.near:
            return None
        ndc_x = (self.focal / self.aspect) * x / -z
        ndc_y = self.focal * y / -z
        return ((ndc_x + 1.0) * WIDTH / 2.0, (1.0 - ndc_y) * HEIGHT / 2.0)

    def pixels_per_unit(self, point):
        """Roughly how many pixels one scene unit spans at point."""
        d = [p - e for p, e in zip(point, self.eye)]
        depth = _dot(d, self.f)
        return self.focal * HEIGHT / 2.0 / depth


def camera_for(mode, robot=(10.0, 10.0, 0.0)):
    rx, ry, rz = robot
    eye = {1: (rx, ry - 4.0, rz + 6.0), 2: (10.0, 5.0, 5.0), 3: (10.0, -3.0, 13.0)}[mode]
    return Camera(eye, robot)


def point_in_polygon(pt, poly):
    x, y = pt
    inside = False
    for i in range(len(poly)):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % len(poly)]
        if (y1 > y) != (y2 > y):
            if x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                inside = not inside
    return inside


def distance_to_polygon_edges(pt, poly):
    best = float("inf")
    px, py = pt
    for i in range(len(poly)):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % len(poly)]
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy)))
        best = min(best, math.hypot(px - (x1 + t * dx), py - (y1 + t * dy)))
    return best


# A close request as a window manager sends it: a WM_PROTOCOLS client message
# carrying WM_DELETE_WINDOW, through XSendEvent.

class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_wm_delete(display_name, window):
    name = ctypes.util.find_library("X11") or "libX11.so.6"
    x11 = ctypes.CDLL(name)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display_name.encode())
    check(dpy, "cannot open display %s" % display_name)
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.send_event = 1
        event.xclient.display = dpy
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        status = x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        check(status != 0, "XSendEvent failed")
        x11.XSync(dpy, 0)
    finally:
        x11.XCloseDisplay(dpy)


# Reading a GL call trace recorded by apitrace.

_CALL_RE = re.compile(r"^(\d+) (\w+)\((.*)\)")
_ARG_RE = re.compile(r"(\w+) = ([^,]+(?:\{[^}]*\})?)")


def dump_trace(trace_path, out_path):
    """Writes apitrace's text dump of a trace to out_path."""
    with open(out_path, "wb") as out:
        subprocess.run(["apitrace", "dump", "--color=never", trace_path], stdout=out,
                       stderr=subprocess.DEVNULL, check=True, timeout=120)


def trace_calls(dump_path, names):
    """Yields (call number, function, {argument: text}) for the calls whose
    function is in names, in order."""
    with open(dump_path, errors="replace") as f:
        for line in f:
            m = _CALL_RE.match(line)
            if not m or m.group(2) not in names:
                continue
            args = {}
            for a in _ARG_RE.finditer(m.group(3)):
                args[a.group(1)] = a.group(2).strip()
            yield int(m.group(1)), m.group(2), args


class WinePrefix:
    """A wine prefix of its own, made before the first program starts in it
    (a first start would otherwise make it, slowly, and perhaps with a window
    of its own), and its wine server ended at the end."""

    def __init__(self, path):
        self.path = os.path.abspath(path)

    def env(self):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all")
        env.pop("DISPLAY", None)
        return env

    def create(self):
        if os.path.exists(os.path.join(self.path, "system.reg")):
            return self
        subprocess.run(["wineboot", "-i"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=True)
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=300, check=True)
        return self

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def tmp_root():
    return os.environ.get("ROBOT_E2E_TMP") or None


def run_test(name, test, ctx, before=None, after=None):
    """Runs test(ctx) and prints PASS or FAIL with the reason and the end of
    the standard output and error of the programs it ran; returns the exit
    status for the test runner. before runs inside the test's time, after
    whatever happened; ctx.cleanup() last."""
    started = time.monotonic()
    try:
        if before:
            before()
        test(ctx)
    except Failure as failure:
        print("FAIL %s: %s" % (name, failure))
        for path in ctx.keep:
            for kind in ("stdout.txt", "stderr.txt"):
                try:
                    with open(os.path.join(path, kind), "rb") as f:
                        text = f.read()[-2000:]
                    if text:
                        print("--- %s %s:\n%s" % (os.path.basename(path), kind,
                                                  text.decode(errors="replace")))
                except OSError:
                    pass
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    finally:
        if after:
            after()
        ctx.cleanup()
    print("PASS %s (%.1f s)" % (name, time.monotonic() - started))
    return 0
