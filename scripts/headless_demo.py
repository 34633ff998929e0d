#!/usr/bin/env python3
"""Shows the program on a machine without a screen: runs it for a few
seconds in a private Xvfb from the current folder, looks through each
camera, drives the robot a little, saves a PNG screenshot of every view and
ends the program with Escape.

    headless_demo.py --check-display      exit status 0 when $DISPLAY answers
    headless_demo.py [--paths-from DIR] PROGRAM OUTDIR [ARGS...]
                                          the demo; prints the screenshots'
                                          paths, named from DIR (default: the
                                          current folder). ARGS go to the
                                          program
"""

import os
import sys
import tempfile
import time

import xsession as xs


def demo(program, outdir, args, paths_from):
    os.makedirs(outdir, exist_ok=True)
    logdir = tempfile.mkdtemp(prefix="robot-demo-")
    shots = []
    try:
        with xs.Xvfb() as x, xs.Program(x, program, os.getcwd(), logdir=logdir, args=args) as p:
            if args and ended_without_window(p):
                # --help, bad usage, a model that cannot be opened: the
                # program's own answer is all there is to show.
                sys.stdout.write(p.stdout().decode(errors="replace"))
                with open(p.stderr_path, errors="replace") as f:
                    sys.stderr.write(f.read())
                return p.proc.returncode
            p.wait_window()

            def shot(name):
                path = os.path.join(outdir, name + ".png")
                p.screenshot(path)
                shots.append(path)

            # Camera 3 is the one at start; F1 and F2 pick the others.
            shot("camera3")
            p.hold("F1", 0.2)
            shot("camera1")
            p.hold("F2", 0.2)
            shot("camera2")
            # A little drive: forward, a turn to the left, forward again.
            p.hold("Up", 0.8)
            p.hold("Left", 0.9)
            p.hold("Up", 0.6)
            shot("camera2-after-driving")
            p.hold("F1", 0.2)
            shot("camera1-after-driving")
            p.hold("F3", 0.2)
            shot("camera3-after-driving")
            caption = p.caption()
            status = p.escape()
            output = p.stdout().decode(errors="replace")
    except xs.Failure as failure:
        print("The demo failed: %s" % failure)
        for name in ("stdout.txt", "stderr.txt"):
            path = os.path.join(logdir, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text = f.read()
                if text:
                    print("--- program %s:\n%s" % (name[:-4], text[-2000:]))
        return 1
    finally:
        xs.remove_tree(logdir)
    sys.stdout.write("Program output:\n" + "".join("  " + line + "\n"
                                                  for line in output.splitlines()))
    print("Last caption (frames per second): %s" % caption.strip())
    print("Exit status after Escape: %d" % status)
    print("Screenshots:")
    for path in shots:
        print("  " + shown_path(path, paths_from))
    return 0 if status == 0 else 1


def shown_path(path, start):
    """The path named from the folder start, or whole when it is not below."""
    relative = os.path.relpath(path, start)
    return os.path.abspath(path) if relative.startswith("..") else relative


def ended_without_window(p, timeout=60):
    """True when the program ends before its window has a caption."""
    deadline = time.monotonic() + timeout
    name = os.path.basename(p.program)
    while time.monotonic() < deadline:
        if not p.running():
            return True
        rc, out = p.xdotool("search", "--classname", "^%s$" % name)
        if rc == 0 and out and p.xdotool("getwindowname", out.split()[0])[1]:
            return False
        time.sleep(0.05)
    return False


def main():
    argv = sys.argv[1:]
    if argv == ["--check-display"]:
        return 0 if xs.display_reachable(os.environ.get("DISPLAY", "")) else 1
    paths_from = os.getcwd()
    if argv[:1] == ["--paths-from"] and len(argv) >= 2:
        paths_from = argv[1]
        argv = argv[2:]
    if len(argv) < 2 or argv[0] in ("--help", "-h"):
        print(__doc__.strip())
        return 0 if argv[:1] in (["--help"], ["-h"]) else 2
    return demo(argv[0], argv[1], argv[2:], paths_from)


if __name__ == "__main__":
    sys.exit(main())
