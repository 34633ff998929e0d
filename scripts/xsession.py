"""Runs the program in a private X server and drives it like a user: the
server picks its own display number, keys are held for a while rather than
tapped (the program samples the key state once per frame, so a tap that
falls between two frames would never be seen), screenshots are taken of its
window. The demo of scripts/run.sh and the end-to-end tests run the program
through it.

Only the Python standard library and the command-line tools Xvfb, xdotool
and ImageMagick's import are used.
"""

import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import struct
import subprocess
import time
import zlib


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def kill_process(proc, group=False):
    """Ends a process we started, by its own id, and reaps it. With group,
    its whole process group goes too (a wrapper such as apitrace runs the
    program as its child)."""
    # Only while the leader still runs is the group id surely still ours.
    if proc is None or proc.poll() is not None:
        return
    try:
        if group:
            os.killpg(proc.pid, signal.SIGKILL)
        else:
            proc.send_signal(signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


class Xvfb:
    """A private X server on a display number of its own choosing."""

    def __init__(self):
        self.proc = None
        self.display = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        try:
            self.proc = subprocess.Popen(
                # Without -noreset the server resets whenever its last client
                # leaves, and a client that connects just then is refused.
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        os.set_blocking(read_end, False)
        while not number.endswith(b"\n"):
            check(time.monotonic() < deadline, "Xvfb did not report its display number")
            check(self.proc.poll() is None, "Xvfb ended at start-up")
            try:
                chunk = os.read(read_end, 16)
            except BlockingIOError:
                time.sleep(0.02)
                continue
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                kill_process(self.proc)
        return False


class Program:
    """One run of the program inside an X server, in the folder workdir, its
    standard output and error written to files in logdir (workdir when not
    given); wrapper goes in front of the program's command line."""

    def __init__(self, xvfb, program, workdir, wrapper=(), extra_env=None, logdir=None,
                 args=()):
        self.xvfb = xvfb
        self.program = os.path.abspath(program)
        self.args = list(args)
        self.workdir = workdir
        self.wrapper = list(wrapper)
        self.extra_env = extra_env or {}
        self.proc = None
        self.wid = None
        self.logdir = logdir or workdir
        self.stdout_path = os.path.join(self.logdir, "stdout.txt")
        self.stderr_path = os.path.join(self.logdir, "stderr.txt")
        self.started = None

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.xvfb.display
        env.pop("XAUTHORITY", None)
        env["SDL_VIDEODRIVER"] = "x11"
        env.update(self.extra_env)
        return env

    def start(self):
        self._out = open(self.stdout_path, "wb")
        self._err = open(self.stderr_path, "wb")
        self.started = time.monotonic()
        self.proc = subprocess.Popen(self.wrapper + [self.program] + self.args, cwd=self.workdir,
                                     env=self.env(), stdin=subprocess.DEVNULL,
                                     stdout=self._out, stderr=self._err,
                                     start_new_session=True)
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.kill()
        return False

    def kill(self):
        kill_process(self.proc, group=True)
        for f in (getattr(self, "_out", None), getattr(self, "_err", None)):
            if f and not f.closed:
                f.close()

    def xdotool(self, *args, timeout=10):
        env = dict(os.environ, DISPLAY=self.xvfb.display)
        env.pop("XAUTHORITY", None)
        done = subprocess.run(["xdotool"] + [str(a) for a in args], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return done.returncode, done.stdout.decode(errors="replace").rstrip("\n")

    def running(self):
        return self.proc.poll() is None

    def wait_window(self, timeout=20):
        """Waits until the window exists and has its first caption (so the
        first frame has run), then focuses it. Returns its id."""
        name = os.path.basename(self.program)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            check(self.running(), "the program ended before its first frame; status %s, "
                  "stdout %r" % (self.proc.returncode, self.stdout()))
            # Hidden windows (wine makes some of its own) are passed over.
            rc, out = self.xdotool("search", "--onlyvisible", "--classname",
                                   "^%s$" % re.escape(name))
            if rc == 0 and out:
                wid = out.split()[0]
                _, caption = self.xdotool("getwindowname", wid)
                if caption:
                    self.wid = wid
                    self.first_frames_shown()
                    return wid
            time.sleep(0.05)
        raise Failure("no window with a caption within %d s" % timeout)

    def first_frames_shown(self):
        """Focuses the window once it has its first caption. The caption is
        set before the frame is drawn: a couple of frames are let reach the
        screen."""
        self.focus()
        time.sleep(0.3)

    def focus(self):
        rc, out = self.xdotool("windowfocus", "--sync", self.wid)
        check(rc == 0, "could not focus the window: %s" % out)

    def caption(self):
        rc, out = self.xdotool("getwindowname", self.wid)
        check(rc == 0, "could not read the caption")
        return out

    def hold(self, key, seconds):
        """Holds key for about seconds; returns how long it was really down."""
        self.xdotool("keydown", key)
        down = time.monotonic()
        time.sleep(seconds)
        self.xdotool("keyup", key)
        return time.monotonic() - down

    def escape(self, timeout=15):
        """Holds Escape until the program ends; returns its exit status."""
        self.xdotool("keydown", "Escape")
        try:
            status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within %d s of Escape" % timeout)
        finally:
            self.xdotool("keyup", "Escape")
        return status

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within %d s" % timeout)

    def stdout(self):
        if getattr(self, "_out", None):
            self._out.flush()
        with open(self.stdout_path, "rb") as f:
            return f.read()

    def screenshot(self, path_png=None):
        """Saves the window as PNG and returns it as an Image."""
        env = dict(os.environ, DISPLAY=self.xvfb.display)
        env.pop("XAUTHORITY", None)
        ppm = path_png[:-4] + ".ppm"
        subprocess.run(["import", "-window", self.wid, "-depth", "8", "ppm:" + ppm],
                       env=env, check=True, timeout=20, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        image = Image.read_ppm(ppm)
        os.unlink(ppm)
        if path_png:
            image.write_png(path_png)
        return image


class Image:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def read_ppm(path):
        with open(path, "rb") as f:
            raw = f.read()
        fields = []
        pos = 0
        while len(fields) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            if raw[pos:pos + 1] == b"#":
                pos = raw.index(b"\n", pos)
                continue
            start = pos
            while not raw[pos:pos + 1].isspace():
                pos += 1
            fields.append(raw[start:pos])
        check(fields[0] == b"P6" and fields[3] == b"255", "unexpected screenshot format")
        width, height = int(fields[1]), int(fields[2])
        data = raw[pos + 1:pos + 1 + width * height * 3]
        check(len(data) == width * height * 3, "short screenshot")
        return Image(width, height, data)

    def write_png(self, path):
        """Saves as an 8-bit RGB PNG (ImageMagick's own encoder is slow)."""
        stride = self.width * 3
        raw = b"".join(b"\0" + self.data[r * stride:(r + 1) * stride] for r in range(self.height))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                    + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))

    def pixel(self, col, row):
        i = (row * self.width + col) * 3
        return self.data[i], self.data[i + 1], self.data[i + 2]

    def inside(self, col, row):
        return 0 <= col < self.width and 0 <= row < self.height


def display_reachable(name):
    """True when an X server answers on display name."""
    if not name:
        return False
    try:
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    except OSError:
        return False
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(name.encode())
    if not dpy:
        return False
    x11.XCloseDisplay(dpy)
    return True


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)
