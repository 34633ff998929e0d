#!/usr/bin/env python3
"""Shows the program on a machine without a screen: runs it for a few
seconds in a private Xvfb from the repository root, looks through each
camera, drives the robot a little, saves a PNG screenshot of every view and
ends the program with Escape.

    headless_demo.py --check-display      exit status 0 when $DISPLAY answers
    headless_demo.py PROGRAM OUTDIR [ARGS...]
                                          the demo; prints the screenshots' paths.
                                          ARGS go to the program, which runs in
                                          the current folder
"""

import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness as h  # noqa: E402


def demo(program, outdir, args):
    os.makedirs(outdir, exist_ok=True)
    logdir = tempfile.mkdtemp(prefix="robot-demo-")
    shots = []
    try:
        with h.Xvfb() as x, h.Program(x, program, os.getcwd(), logdir=logdir, args=args) as p:
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
    except h.Failure as failure:
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
        h.remove_tree(logdir)
    sys.stdout.write("Program output:\n" + "".join("  " + line + "\n"
                                                  for line in output.splitlines()))
    print("Last caption (frames per second): %s" % caption.strip())
    print("Exit status after Escape: %d" % status)
    print("Screenshots:")
    for path in shots:
        print("  " + os.path.relpath(path))
    return 0 if status == 0 else 1


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
    if sys.argv[1:] == ["--check-display"]:
        return 0 if h.display_reachable(os.environ.get("DISPLAY", "")) else 1
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    return demo(sys.argv[1], sys.argv[2], sys.argv[3:])


if __name__ == "__main__":
    sys.exit(main())
