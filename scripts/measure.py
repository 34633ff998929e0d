#!/usr/bin/env python3
"""Measures the program's start-up time, frame rate and memory in a private
Xvfb with Mesa's software renderer (llvmpipe), window 800x600.

    measure.py PROGRAM PROBE [--runs N] [--seconds S] [--pairs P] [--memory-minutes M]
               [--model MODEL.ase [--up z|y]]

PROBE is the frame probe library (tests/e2e/frame_probe.c), preloaded into
the program: it time-stamps every caption and buffer swap.

(a) Start-up: from starting the process to the first buffer swap (the first
    frame on screen), what a user waits for, N runs with the shipped data,
    with the median of each part (libraries, the model and SDL_Init, window
    and context, scene set-up, first frame); also the first caption, which
    shows 1000 / (ms from SDL's initialisation to the first frame) and so
    leaves out what comes before it, a model named on the command line
    included.
(b) Frame rate: the shipped robot against no model file at all, P pairs of
    runs alternating, S seconds each, the first second of every run left out.
(c) Memory: resident set size once a second over M minutes while the arrow
    keys are held (the robot drives in circles) and the cameras change.

With --model the program shows that model instead of the robot
(`robot [--up z|y] MODEL.ase`) in (a), (b) and (c); (b) then compares it
with no model at all.
"""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness as h  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
DATA = os.path.join(ROOT, "data")
SOFTWARE = {"LIBGL_ALWAYS_SOFTWARE": "1", "GALLIUM_DRIVER": "llvmpipe"}


def run_program(x, args, leave_out=(), with_model=True):
    work = h.make_workdir(DATA, leave_out)
    model = ["--up", args.up, os.path.abspath(args.model)] if args.model and with_model else []
    return work, h.Program(x, args.program, work, probe=args.probe, extra_env=SOFTWARE,
                           args=model)


def wait_first_swap(p, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        frames = p.frames()
        swaps = [t for kind, t, _ in frames if kind == "swap"]
        if swaps:
            return frames
        h.check(p.running(), "the program ended before its first frame")
        time.sleep(0.005)
    raise h.Failure("no frame within %d s" % timeout)


def measure_startup(x, args):
    print("(a) Start-up to the first frame, %s, %d runs" % (args.model or "shipped data", args.runs))
    to_first = []
    parts = []
    for i in range(args.runs):
        work, p = run_program(x, args)
        try:
            p.start()
            frames = wait_first_swap(p)
            start = [t for kind, t, _ in frames if kind == "start"][0]
            first_swap = [t for kind, t, _ in frames if kind == "swap"][0]
            caption, caption_at = [(text, t) for kind, t, text in frames
                                   if kind == "caption"][0]
            process_ms = (first_swap - p.started) * 1000.0
            init_ms = 1000.0 / float(caption)
            to_first.append(process_ms)
            init = [t for kind, t, _ in frames if kind == "init"][0]
            video = [t for kind, t, _ in frames if kind == "videomode"][0]
            print("    run %d: %5.0f ms from exec to the first frame on screen; first caption %s"
                  " = %.0f ms after SDL_Init" % (i + 1, process_ms, caption.strip(), init_ms))
            parts.append([(start - p.started) * 1000.0, (init - start) * 1000.0,
                          (video - init) * 1000.0, (caption_at - video) * 1000.0,
                          (first_swap - caption_at) * 1000.0])
            # A model named on the command line is read before SDL_Init.
            print("           " + phases(parts[-1], args))
            p.wait_window()
            h.check(p.escape() == 0, "exit status after Escape is not 0")
        finally:
            p.kill()
            h.remove_tree(work)
    print("    from exec to the first frame: median %.1f ms, worst %.1f ms (target < %d ms)"
          % (statistics.median(to_first), max(to_first), 1500 if args.model else 300))
    print("    medians: " + phases([statistics.median(p) for p in zip(*parts)], args))
    return statistics.median(to_first)


def phases(ms, args):
    return ("libraries %3.0f, %s %3.0f, window and context %3.0f, scene set-up %3.0f, "
            "first frame %3.0f ms" % (ms[0], "model and SDL_Init" if args.model else "SDL_Init",
                                      ms[1], ms[2], ms[3], ms[4]))


def frame_rate(x, args, leave_out, with_model=True):
    work, p = run_program(x, args, leave_out, with_model)
    try:
        p.start()
        p.wait_window()
        time.sleep(1.0 + args.seconds)
        swaps = [t for kind, t, _ in p.frames() if kind == "swap"]
        h.check(p.escape() == 0, "exit status after Escape is not 0")
    finally:
        p.kill()
        h.remove_tree(work)
    window_start = swaps[0] + 1.0
    counted = [t for t in swaps if t >= window_start]
    return (len(counted) - 1) / (counted[-1] - counted[0])


def measure_frame_rate(x, args):
    print("(b) Frames per second, %s against no model file, %.0f s per run"
          % (args.model or "robot", args.seconds))
    robot, empty = [], []
    for _ in range(args.pairs):
        robot.append(frame_rate(x, args, ()))
        empty.append(frame_rate(x, args, ("robot.ase",), with_model=False))
    print("    with the %s:  %s  mean %.1f fps" % ("model" if args.model else "robot",
                                                 ", ".join("%.1f" % r for r in robot),
                                                 statistics.mean(robot)))
    print("    no model file:   %s  mean %.1f fps" % (", ".join("%.1f" % r for r in empty),
                                                    statistics.mean(empty)))
    # Each pair ran back to back, so its ratio is the least disturbed by
    # other load on the machine; the median of the pairs is the result.
    ratios = [r / e for r, e in zip(robot, empty)]
    ratio = statistics.median(ratios)
    print("    robot / no model per pair: %s" % ", ".join("%.1f %%" % (100 * r) for r in ratios))
    print("    robot / no model = %.1f %% (median of the pairs; target >= 90 %%)"
          % (100.0 * ratio))
    return ratio


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def measure_memory(x, args):
    print("(c) Resident memory over %.1f minutes, arrow keys held, cameras changing"
          % args.memory_minutes)
    work, p = run_program(x, args)
    samples = []
    try:
        p.start()
        p.wait_window()
        # Up and Left together drive the robot round a circle on the ground.
        p.xdotool("keydown", "Up")
        p.xdotool("keydown", "Left")
        end = time.monotonic() + args.memory_minutes * 60.0
        started = time.monotonic()
        cameras = ["F1", "F2", "F3"]
        tick = 0
        while time.monotonic() < end:
            h.check(p.running(), "the program ended during the run")
            pid = p.proc.pid
            samples.append((time.monotonic() - started, rss_kib(pid)))
            if tick % 10 == 9:
                p.hold(cameras[(tick // 10) % 3], 0.1)
            tick += 1
            time.sleep(max(0.0, started + tick - time.monotonic()))
        p.xdotool("keyup", "Left")
        p.xdotool("keyup", "Up")
        frames = p.frame_count()
        h.check(p.escape() == 0, "exit status after Escape is not 0")
    finally:
        p.kill()
        h.remove_tree(work)
    values = [kib for _, kib in samples]
    half = [kib for t, kib in samples if t >= samples[-1][0] / 2]
    print("    samples %d, frames %d" % (len(samples), frames))
    print("    RSS after 1 s %.1f MiB, at the end %.1f MiB, lowest %.1f MiB, highest %.1f MiB"
          % (values[min(1, len(values) - 1)] / 1024.0, values[-1] / 1024.0, min(values) / 1024.0,
             max(values) / 1024.0))
    print("    second half: from %.1f to %.1f MiB (change %+d KiB)"
          % (half[0] / 1024.0, half[-1] / 1024.0, half[-1] - half[0]))
    for t, kib in samples[::max(1, len(samples) // 10)]:
        print("      %6.0f s  %8.1f MiB" % (t, kib / 1024.0))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("probe")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--pairs", type=int, default=3,
                        help="runs with the robot and without a model, alternating")
    parser.add_argument("--memory-minutes", type=float, default=2.0)
    parser.add_argument("--only", choices=["startup", "fps", "memory"])
    parser.add_argument("--model", help="show this model instead of the robot")
    parser.add_argument("--up", choices=["z", "y"], default="z")
    args = parser.parse_args()
    try:
        with h.Xvfb() as x:
            if args.only in (None, "startup"):
                measure_startup(x, args)
            if args.only in (None, "fps"):
                measure_frame_rate(x, args)
            if args.only in (None, "memory"):
                measure_memory(x, args)
    except h.Failure as failure:
        print("Measurement failed: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
