#!/usr/bin/env python3
"""End-to-end tests of the Windows program: robot.exe from the zip, unpacked
in a fresh folder (so a missing DLL or data file fails the test), run under
wine in a private Xvfb and driven with held keys like the Linux program. Its
pictures are compared with the Linux program's of the same run when that
program is given.

    windows_e2e.py TEST --zip ZIP --wine-prefix DIR [--linux-program PATH] [--out DIR]

TEST is one of the functions named test_* below, without the prefix.
"""

import argparse
import os
import sys
import tempfile
import time
import zipfile

import e2e_tests as e
import harness as h
from harness import check

# Pixels whose channels differ by more than this count as different; at most
# so many of them may differ between the Windows and the Linux picture
# (the same Mesa draws both, but not every last pixel need agree).
CHANNEL_TOLERANCE = 40
DIFFERENT_PIXELS_ALLOWED = 0.002


def differing_pixels(a, b):
    count = 0
    for i in range(0, len(a.data), 3):
        if (abs(a.data[i] - b.data[i]) > CHANNEL_TOLERANCE
                or abs(a.data[i + 1] - b.data[i + 1]) > CHANNEL_TOLERANCE
                or abs(a.data[i + 2] - b.data[i + 2]) > CHANNEL_TOLERANCE):
            count += 1
    return count


def check_like_linux(windows, linux, label):
    if linux is None:
        return
    count = differing_pixels(windows, linux)
    check(count <= DIFFERENT_PIXELS_ALLOWED * h.WIDTH * h.HEIGHT,
          "%s: %d pixels differ from the Linux program's picture" % (label, count))


def steady_screenshot(program, path, timeout=15):
    """The window's picture once two in a row agree: the scene stands still
    while no key is held, but its first frame is lit unlike the rest, and
    without the frame probe nothing tells how many frames were drawn."""
    deadline = time.monotonic() + timeout
    last = program.screenshot(path)
    while True:
        time.sleep(0.2)
        shot = program.screenshot(path)
        if shot.data == last.data:
            return shot
        check(time.monotonic() < deadline, "the picture did not settle within %d s" % timeout)
        last = shot


def check_scene(picture, camera, robot_vertices, label):
    """The ground and the marker where camera puts them, and the robot drawn
    over at least a quarter of its box."""
    c0, r0, c1, r1 = e.screen_box(camera, robot_vertices)
    e.check_ground_and_marker(picture, camera, [(c0 - 3, r0 - 3, c1 + 3, r1 + 3)], label)
    inside = [picture.pixel(int(c), int(r)) for r in range(int(r0), int(r1))
              for c in range(int(c0), int(c1))]
    check(sum(1 for q in inside if not e.is_ground(q)) > 0.25 * len(inside),
          "%s: no robot where it stands" % label)


def run(ctx, x, folder, args=(), keys=(None,), name="run", linux=False, program=None):
    """Runs program (robot.exe of the unpacked folder folder, or with linux
    the Linux program) in folder on args, takes a screenshot after each of keys (None:
    the start camera) and ends it with Escape. Returns stdout, the
    screenshots, the exit status and the caption seen first."""
    if linux:
        started = h.Program(x, ctx.linux, folder, args=args, logdir=ctx.folder())
    else:
        started = h.Program(x, program or os.path.join(folder, "robot.exe"), folder, args=args,
                            wine_prefix=ctx.prefix, logdir=ctx.folder())
    shots = []
    with started as p:
        p.wait_window()
        caption = p.caption()
        for key in keys:
            if key:
                p.hold(key, 0.15)
                p.wait_frames(10)
            tag = "linux" if linux else "windows"
            shots.append(steady_screenshot(p, ctx.out("%s-%s-%d.png" % (name, tag, len(shots)))))
        status = p.escape()
        return p.stdout(), shots, status, caption


def test_escape(ctx):
    """The window opens with the rate as its caption, "Video mod nastaven"
    reaches standard output (with wine's CRLF), Escape ends with status 0.
    Started from a folder without data\\, the program shows the same scene
    from the data\\ beside it."""
    with h.Xvfb() as x:
        folder = ctx.unpacked()
        with h.Program(x, os.path.join(folder, "robot.exe"), folder,
                       wine_prefix=ctx.prefix, logdir=ctx.folder()) as p:
            p.wait_window()
            p.wait_frames(20)
            caption = p.caption()
            check(len(caption) == 10 and h.CAPTION_RE.match(caption),
                  "caption %r is not a rate in %%10.1f" % caption)
            check(0 < float(caption) <= 1000, "caption rate %r out of range" % caption)
            picture = steady_screenshot(p, ctx.out("escape.png"))
            status = p.escape()
            check(status == 0, "exit status %s after Escape, expected 0" % status)
            check(p.stdout() == b"Video mod nastaven\r\n", "stdout %r" % p.stdout())
        out, (elsewhere,), status, _ = run(ctx, x, ctx.folder(), name="escape-elsewhere",
                                           program=os.path.join(folder, "robot.exe"))
        check(status == 0 and out == b"Video mod nastaven\r\n",
              "started elsewhere: status %s, stdout %r" % (status, out))
        check(elsewhere.data == picture.data, "started elsewhere, the scene looks different")


def test_missing_texture(ctx):
    folder = ctx.unpacked(leave_out=("grasstex.bmp",))
    with h.Xvfb() as x:
        with h.Program(x, os.path.join(folder, "robot.exe"), folder,
                       wine_prefix=ctx.prefix, logdir=ctx.folder()) as p:
            status = p.wait_exit(timeout=30)
            expected = b"Video mod nastaven\r\nTextura data\\grasstex.bmp nenalezena.\r\n"
            check(p.stdout() == expected, "stdout %r, expected %r" % (p.stdout(), expected))
            check(status == 1, "exit status %s, expected 1" % status)


def test_cameras(ctx):
    """The first picture of camera 3, then F1, F2 and F3: each camera's view
    of the ground, the marker and the robot where the projection puts them,
    and each picture as the Linux program draws it."""
    keys = (None, "F1", "F2", "F3")
    modes = (3, 1, 2, 3)
    folder = ctx.unpacked()
    vertices = e.robot_in_scene(e.read_model_vertices(os.path.join(folder, "data", "robot.ase")))
    with h.Xvfb() as x:
        out, shots, status, _ = run(ctx, x, folder, keys=keys, name="cameras")
        check(status == 0, "exit status %s after Escape" % status)
        check(e.strip_viewer_lines(out) == b"Video mod nastaven\r\n", "stdout %r" % out)
        linux = run(ctx, x, folder, keys=keys, name="cameras", linux=True)[1] if ctx.linux \
            else [None] * len(keys)
    for shot, mode, key, reference in zip(shots, modes, keys, linux):
        label = "camera %d (%s)" % (mode, key or "first picture")
        check_scene(shot, h.camera_for(mode), vertices, label)
        check_like_linux(shot, reference, label)


def far_edge_row(image, col=h.WIDTH // 2):
    """The first row of grass from the top in the middle column."""
    return next((row for row in range(h.HEIGHT) if e.is_ground(image.pixel(col, row))), None)


def test_drive(ctx):
    """Holding Up walks the robot away from camera 3 (which turns to follow
    it), as far as 3 units a second take it: the far edge of the ground, the
    marker and the robot stand where the projection for the distance walked
    puts them."""
    folder = ctx.unpacked()
    vertices = e.read_model_vertices(os.path.join(folder, "data", "robot.ase"))
    with h.Xvfb() as x:
        with h.Program(x, os.path.join(folder, "robot.exe"), folder, wine_prefix=ctx.prefix,
                       logdir=ctx.folder()) as p:
            p.wait_window()
            before = steady_screenshot(p, ctx.out("drive-before.png"))
            held = p.hold("Up", 1.0)
            p.wait_frames(10)
            after = steady_screenshot(p, ctx.out("drive-after.png"))
            check(p.escape() == 0, "exit status after Escape is not 0")

    def edge_row(walked):
        robot = (10.0, 10.0 + walked, 0.0)
        return h.camera_for(3, robot).project((10.0, 20.0, 0.0))[1]

    rows = far_edge_row(before), far_edge_row(after)
    check(rows[0] is not None and abs(rows[0] - edge_row(0)) <= 2,
          "the far edge of the ground is at row %s at the start, expected %.1f"
          % (rows[0], edge_row(0)))
    check(rows[1] is not None, "no ground in the middle column after Up")
    walked = min((d / 50.0 for d in range(0, 500)), key=lambda d: abs(edge_row(d) - rows[1]))
    check(abs(edge_row(walked) - rows[1]) <= 2 and 0.6 * 3 * held <= walked <= 3 * held + 0.5,
          "Up held %.2f s: the far edge moved from row %d to %d, %.2f units walked"
          % (held, rows[0], rows[1], walked))
    for picture, distance, label in ((before, 0.0, "at the start"), (after, walked, "after Up")):
        robot = (10.0, 10.0 + distance, 0.0)
        check_scene(picture, h.camera_for(3, robot), e.robot_in_scene(vertices, pos=robot), label)


def test_own_model(ctx):
    """robot.exe --textures Game MODEL.ase, the model named with backslashes
    and in another case, from a folder without data\\: our robot at 100
    times its size, whose materials name a PNG face as a game names it,
    //base/textures/robot/RobotFace.tga (on disk
    Game\\Base\\Textures\\Robot\\robotface.png), and C:\\3dsmax\\maps\\ROBOT.BMP
    (robot.bmp beside the model). No message, the grass from the program's
    own data, and the picture the Linux program draws from the same files."""
    unpacked = ctx.unpacked()
    anywhere = ctx.folder()
    models = os.path.join(anywhere, "Models")
    game = os.path.join(anywhere, "Game", "Base", "Textures", "Robot")
    os.makedirs(models)
    os.makedirs(game)
    e.gen_bitmaps.write_face(os.path.join(game, "robotface.png"), "png")
    with open(os.path.join(unpacked, "data", "robot.bmp"), "rb") as f:
        body = f.read()
    with open(os.path.join(models, "robot.bmp"), "wb") as f:
        f.write(body)
    path = e.write_textured_model(models, "ship.ase", {
        "RobotBody": "//base/textures/robot/RobotFace.tga",
        "RobotFace": "C:\\3dsmax\\maps\\ROBOT.BMP"})
    with h.Xvfb() as x:
        program = os.path.join(unpacked, "robot.exe")
        out, shots, status, _ = run(ctx, x, anywhere,
                                    args=["--textures", "Game", "models\\SHIP.ASE"],
                                    keys=(None, "F2"), name="own-model", program=program)
        check(status == 0, "exit status %s after Escape" % status)
        check(e.strip_viewer_lines(out) == b"Video mod nastaven\r\n", "stdout %r" % out)
        linux = [None, None]
        if ctx.linux:
            linux = run(ctx, x, anywhere, args=["--textures", "Game", "Models/ship.ase"],
                        keys=(None, "F2"), name="own-model", linux=True)[1]
    camera = h.camera_for(3)
    c0, r0, c1, r1 = e.screen_box(camera, e.fitted_in_scene(e.read_model_vertices(path), "z"))
    e.check_ground_and_marker(shots[0], camera, [(c0 - 3, r0 - 3, c1 + 3, r1 + 3)],
                              "own model, camera 3")
    for shot, reference, label in zip(shots, linux, ("camera 3", "camera 2")):
        check_like_linux(shot, reference, "own model, " + label)


class Context:
    def __init__(self, args):
        self.zip = os.path.abspath(args.zip)
        self.prefix = os.path.abspath(args.wine_prefix)
        self.linux = os.path.abspath(args.linux_program) if args.linux_program else None
        self.out_dir = os.path.abspath(args.out)
        self.keep = []
        os.makedirs(self.out_dir, exist_ok=True)

    def folder(self):
        path = tempfile.mkdtemp(prefix="robot-windows-e2e-", dir=h.tmp_root())
        self.keep.append(path)
        return path

    def unpacked(self, leave_out=(), replace=None):
        """The zip unpacked in a fresh folder, less the data files in
        leave_out; replace maps data file names to contents written in their
        place."""
        folder = self.folder()
        with zipfile.ZipFile(self.zip) as archive:
            archive.extractall(folder)
        for name in leave_out:
            os.unlink(os.path.join(folder, "data", name))
        for name, content in (replace or {}).items():
            with open(os.path.join(folder, "data", name), "wb") as f:
                f.write(content)
        return folder

    def out(self, name):
        return os.path.join(self.out_dir, name)

    def cleanup(self):
        for path in self.keep:
            h.remove_tree(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("test")
    parser.add_argument("--zip", required=True, help="the Windows zip")
    parser.add_argument("--wine-prefix", required=True,
                        help="the wine prefix to run in (made first when missing)")
    parser.add_argument("--linux-program", help="the Linux program whose pictures to compare with")
    parser.add_argument("--out", default="e2e-windows-out")
    args = parser.parse_args()
    test = globals().get("test_" + args.test)
    if not test:
        print("no test named %s" % args.test)
        return 2
    if args.linux_program and not os.path.exists(args.linux_program):
        print("FAIL %s: no Linux program at %s to compare with" % (args.test, args.linux_program))
        return 1
    args.out = os.path.join(args.out, args.test)
    ctx = Context(args)

    def prepare():
        check(os.path.exists(ctx.zip), "no zip at %s (scripts/build-windows.sh makes it)" % ctx.zip)
        h.WinePrefix(ctx.prefix).create()

    # The next test's programs start a wine server of their own, with the
    # desktop on their own display.
    return h.run_test(args.test, test, ctx, before=prepare,
                      after=lambda: h.WinePrefix(ctx.prefix).stop())


if __name__ == "__main__":
    sys.exit(main())
