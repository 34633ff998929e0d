#!/usr/bin/env python3
"""End-to-end tests of the robot program: the real binary in a private X
server, driven with held keys, judged by its output, its window caption, its
screenshots and its recorded GL calls.

    e2e_tests.py TEST --program PATH --data DIR --probe LIB [--out DIR]

TEST is one of the functions named test_* below, without the prefix.
"""

import argparse
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import harness as h
from harness import check

# Our own generators write the models and bitmaps of the own-model tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
import gen_bitmaps  # noqa: E402
import gen_exporter_models  # noqa: E402
import gen_robot_ase  # noqa: E402

ROBOT = (10.0, 10.0, 0.0)
ROBOT_HEIGHT = 1.965
MARKER = (20.0, 17.0, 2.0)
MARKER_RADIUS = 0.2


# What a pixel looks like.

def is_black(p):
    return max(p) <= 10


def is_ground(p):
    # Grass under a green light: never black, green the strongest channel.
    return max(p) >= 12 and p[1] >= p[0] and p[1] >= p[2]


def is_white(p):
    return min(p) >= 200


# The robot model as it should stand in the scene.

def read_model_vertices(path):
    """Every vertex of the model file, in the file's own axes."""
    vertices = []
    pattern = re.compile(r"^\s*\*MESH_VERTEX\s+\d+\s+(\S+)\s+(\S+)\s+(\S+)")
    with open(path, errors="replace") as f:
        for line in f:
            m = pattern.match(line)
            if m:
                vertices.append(tuple(float(v) for v in m.groups()))
    return vertices


def _mat_mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def _identity():
    return [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]


def _translate(x, y, z):
    m = _identity()
    m[0][3], m[1][3], m[2][3] = x, y, z
    return m


def _rotate(angle, x, y, z):
    """The matrix of glRotatef."""
    length = math.sqrt(x * x + y * y + z * z)
    x, y, z = x / length, y / length, z / length
    c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    t = 1 - c
    return [[x * x * t + c, x * y * t - z * s, x * z * t + y * s, 0],
            [y * x * t + z * s, y * y * t + c, y * z * t - x * s, 0],
            [z * x * t - y * s, z * y * t + x * s, z * z * t + c, 0],
            [0, 0, 0, 1]]


def _apply(m, v):
    return tuple(m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2] + m[i][3] for i in range(3))


def robot_in_scene(file_vertices, pos=ROBOT, angle=90.0):
    """Where the model's vertices stand in the scene: the reader turns the
    file's (x, y, z) into (x, z, -y); the robot's list lifts it by 0.45 after
    turning it 90 degrees about x and then about z; each frame places it at
    the robot's position and heading."""
    standing = _mat_mul(_translate(0, 0, 0.45),
                        _mat_mul(_rotate(90, 0, 0, 1), _rotate(90, 1, 0, 0)))
    placed = _mat_mul(_mat_mul(_translate(*pos), _rotate(angle, 0, 0, 1)), standing)
    return [_apply(placed, (x, z, -y)) for x, y, z in file_vertices]


def fitted_in_scene(file_vertices, up, pos=ROBOT, angle=90.0):
    """Where a model of the user's stands: turned by its up axis (z: the
    file's (a, b, c) as the robot's list turns it, to (-b, a, c); y: to
    (c, a, b)), scaled to the robot's height, its box centred on the robot's
    place and its floor on the ground."""
    turn = (lambda a, b, c: (-b, a, c)) if up == "z" else (lambda a, b, c: (c, a, b))
    points = [turn(*v) for v in file_vertices]
    low = [min(p[i] for p in points) for i in range(3)]
    high = [max(p[i] for p in points) for i in range(3)]
    scale = ROBOT_HEIGHT / max(hi - lo for hi, lo in zip(high, low))
    anchor = ((low[0] + high[0]) / 2, (low[1] + high[1]) / 2, low[2])
    placed = _mat_mul(_translate(*pos), _rotate(angle, 0, 0, 1))
    return [_apply(placed, tuple((p[i] - anchor[i]) * scale for i in range(3))) for p in points]


def collapsed_model(path):
    """The model file with every vertex moved to the origin: the same
    objects, materials and textures, so the same drawing state is left
    behind for the ground and the marker, but not one pixel of robot."""
    out = []
    pattern = re.compile(rb"^(\s*\*MESH_VERTEX\s+\d+)\s+\S+\s+\S+\s+\S+")
    with open(path, "rb") as f:
        for line in f:
            out.append(pattern.sub(rb"\1\t0.0000\t0.0000\t0.0000", line))
    return b"".join(out)


def screen_box(camera, points):
    projected = [camera.project(p) for p in points]
    check(all(p is not None for p in projected), "robot behind the camera")
    cols = [p[0] for p in projected]
    rows = [p[1] for p in projected]
    return min(cols), min(rows), max(cols), max(rows)


def clip_to_near(camera, polygon):
    """The part of a scene polygon in front of the camera's near plane."""
    def depth(p):
        return sum((a - e) * f for a, e, f in zip(p, camera.eye, camera.f))
    limit = camera.near * 1.01
    out = []
    for i, cur in enumerate(polygon):
        prev = polygon[i - 1]
        dc, dp = depth(cur), depth(prev)
        if (dc >= limit) != (dp >= limit):
            t = (limit - dp) / (dc - dp)
            out.append(tuple(a + t * (b - a) for a, b in zip(prev, cur)))
        if dc >= limit:
            out.append(cur)
    return out


# Shared checks of one screenshot.

def check_ground_and_marker(image, camera, exclude, label, robot_drawn=True):
    """Samples the picture on a grid: well inside the projected ground square
    it must be grass, well outside it black, apart from the boxes in exclude
    (column0, row0, column1, row1), and the marker must be a white disc."""
    ground = [(0, 0, 0), (20, 0, 0), (20, 20, 0), (0, 20, 0)]
    quad = [camera.project(p) for p in clip_to_near(camera, ground)]
    marker = camera.project(MARKER)
    marker_px = MARKER_RADIUS * camera.pixels_per_unit(MARKER)
    boxes = list(exclude)
    if marker:
        r = 2 * marker_px + 4
        boxes.append((marker[0] - r, marker[1] - r, marker[0] + r, marker[1] + r))

    inside = outside = 0
    bad_inside, bad_outside = [], []
    for row in range(3, h.HEIGHT, 8):
        for col in range(3, h.WIDTH, 8):
            if any(b[0] <= col <= b[2] and b[1] <= row <= b[3] for b in boxes):
                continue
            if h.distance_to_polygon_edges((col, row), quad) < 6:
                continue
            p = image.pixel(col, row)
            if h.point_in_polygon((col, row), quad):
                inside += 1
                if not is_ground(p):
                    bad_inside.append(((col, row), p))
            else:
                outside += 1
                if not is_black(p):
                    bad_outside.append(((col, row), p))
    check(inside > 200, "%s: too little ground in view to judge (%d samples)" % (label, inside))
    check(len(bad_inside) <= inside // 100,
          "%s: %d of %d samples inside the ground square are not grass, e.g. %s"
          % (label, len(bad_inside), inside, bad_inside[:5]))
    check(not bad_outside, "%s: %d of %d samples outside the ground square are not black, e.g. %s"
          % (label, len(bad_outside), outside, bad_outside[:5]))

    if marker and 10 < marker[0] < h.WIDTH - 10 and 10 < marker[1] < h.HEIGHT - 10:
        check(marker_px >= 3, "%s: marker too small to judge" % label)
        white = 0
        r_in = 0.6 * marker_px
        ring = 1.6 * marker_px + 2
        for dr in range(-int(ring) - 1, int(ring) + 2):
            for dc in range(-int(ring) - 1, int(ring) + 2):
                col, row = int(round(marker[0] + dc)), int(round(marker[1] + dr))
                if not image.inside(col, row):
                    continue
                d = math.hypot(dc, dr)
                p = image.pixel(col, row)
                if d <= r_in:
                    white += 1
                    check(is_white(p), "%s: marker pixel at %s is %s, not white"
                          % (label, (col, row), p))
                elif d >= ring:
                    check(not is_white(p), "%s: white at %s, outside the marker's disc"
                          % (label, (col, row)))
        check(white >= 5, "%s: marker disc not sampled" % label)
    return marker is not None


def robot_mask(with_robot, without_robot, exclude):
    """Pixels where the two pictures differ, outside the boxes in exclude."""
    cols, rows = [], []
    count = 0
    a, b = with_robot.data, without_robot.data
    for i in range(0, len(a), 3):
        if (abs(a[i] - b[i]) > 30 or abs(a[i + 1] - b[i + 1]) > 30
                or abs(a[i + 2] - b[i + 2]) > 30):
            col, row = (i // 3) % h.WIDTH, (i // 3) // h.WIDTH
            if any(x[0] <= col <= x[2] and x[1] <= row <= x[3] for x in exclude):
                continue
            count += 1
            cols.append(col)
            rows.append(row)
    if not count:
        return 0, None
    return count, (min(cols), min(rows), max(cols), max(rows))


def marker_box(camera):
    marker = camera.project(MARKER)
    if not marker:
        return (0, 0, -1, -1)
    r = 2 * MARKER_RADIUS * camera.pixels_per_unit(MARKER) + 4
    return (marker[0] - r, marker[1] - r, marker[0] + r, marker[1] + r)


# The tests.

def test_escape(ctx):
    with h.Xvfb() as x, h.Program(x, ctx.program, ctx.workdir(), probe=ctx.probe) as p:
        p.wait_window()
        p.wait_frames(5)
        caption = p.caption()
        check(len(caption) == 10 and h.CAPTION_RE.match(caption),
              "caption %r is not a rate in %%10.1f" % caption)
        rate = float(caption)
        check(0 < rate <= 1000, "caption rate %r out of range" % caption)
        status = p.escape()
        check(status == 0, "exit status %s after Escape, expected 0" % status)
        check(p.stdout() == b"Video mod nastaven\n", "stdout %r" % p.stdout())
        captions = [t for kind, _, t in p.frames() if kind == "caption"]
        swaps = [t for kind, _, t in p.frames() if kind == "swap"]
        check(len(captions) == len(swaps), "%d captions but %d frames shown"
              % (len(captions), len(swaps)))
        for c in captions:
            check(len(c) == 10 and h.CAPTION_RE.match(c), "caption %r is not %%10.1f" % c)
            # A rate is always 1000 / n for a whole number of milliseconds n,
            # rounded to one decimal: 32 ms shows 31.2, off by 0.05 and a
            # little floating-point dust.
            n = 1000.0 / float(c)
            check(abs(1000.0 / round(n) - float(c)) <= 0.05 + 1e-9, "caption %r is not 1000/n" % c)


def test_missing_texture(ctx):
    work = ctx.workdir(leave_out=("grasstex.bmp",))
    with h.Xvfb() as x, h.Program(x, ctx.program, work, probe=ctx.probe) as p:
        status = p.wait_exit()
        check(status == 1, "exit status %s, expected 1" % status)
        expected = b"Video mod nastaven\nTextura data\\grasstex.bmp nenalezena.\n"
        check(p.stdout() == expected, "stdout %r, expected %r" % (p.stdout(), expected))
        kinds = [kind for kind, _, _ in p.frames()]
        check("caption" not in kinds and "swap" not in kinds,
              "frames were run before the program ended: %s" % kinds[:8])


def test_damaged_data(ctx):
    """Missing or damaged files other than the two the program names itself:
    a bitmap that the model's materials name, a grass bitmap cut short, and
    a model file cut off in mid-line. Each gets a clear message or is read as
    far as it goes; nothing crashes."""
    with open(os.path.join(ctx.data, "grasstex.bmp"), "rb") as f:
        grass_head = f.read(100)
    with open(os.path.join(ctx.data, "robot.ase"), "rb") as f:
        model = f.read()
    half_model = model[:len(model) // 2 + 7]
    with h.Xvfb() as x:
        work = ctx.workdir(leave_out=("robotface.bmp",))
        with h.Program(x, ctx.program, work, probe=ctx.probe) as p:
            status = p.wait_exit()
            check(status == 1, "missing face bitmap: exit status %s, expected 1" % status)
            expected = b"Video mod nastaven\nTextura data\\robotface.bmp nenalezena.\n"
            check(p.stdout() == expected, "missing face bitmap: stdout %r" % p.stdout())

        work = ctx.workdir(replace={"grasstex.bmp": grass_head})
        with h.Program(x, ctx.program, work, probe=ctx.probe) as p:
            status = p.wait_exit()
            check(status == 1, "grass bitmap cut short: exit status %s, expected 1" % status)
            check(p.stdout() == b"Video mod nastaven\n",
                  "grass bitmap cut short: stdout %r" % p.stdout())
            with open(p.stderr_path, "rb") as f:
                errors = [line for line in f.read().splitlines() if line.startswith(b"Error")]
            check(len(errors) == 1, "grass bitmap cut short: expected one error message, got %r"
                  % errors)
            kinds = [kind for kind, _, _ in p.frames()]
            check("swap" not in kinds, "grass bitmap cut short: frames were drawn")

        work = ctx.workdir(replace={"robot.ase": half_model})
        with h.Program(x, ctx.program, work, probe=ctx.probe) as p:
            p.wait_window()
            p.wait_frames(10)
            status = p.escape()
            check(status == 0, "model cut off: exit status %s after Escape" % status)
            check(p.stdout().startswith(b"Video mod nastaven\n"),
                  "model cut off: stdout %r" % p.stdout()[:300])


def test_missing_model(ctx):
    work = ctx.workdir(leave_out=("robot.ase",))
    with h.Xvfb() as x, h.Program(x, ctx.program, work, probe=ctx.probe) as p:
        p.wait_window()
        image = p.screenshot(ctx.out("missing-model-camera3.png"))
        camera = h.camera_for(3)
        check(check_ground_and_marker(image, camera, [], "camera 3 without a model"),
              "marker not in view")
        # Where the robot would stand there is nothing but grass.
        vertices = robot_in_scene(read_model_vertices(os.path.join(ctx.data, "robot.ase")))
        c0, r0, c1, r1 = screen_box(camera, vertices)
        bad = [(c, r) for r in range(int(r0), int(r1) + 1) for c in range(int(c0), int(c1) + 1)
               if not is_ground(image.pixel(c, r))]
        check(len(bad) <= 2, "something but grass where the robot would stand: %s" % bad[:5])
        status = p.escape()
        check(status == 0, "exit status %s after Escape" % status)
        out = p.stdout()
        check(out.startswith(b"Video mod nastaven\n"), "stdout %r" % out)
        check(b"Unable to find or open the file: data\\robot.ase" in out, "stdout %r" % out)


def test_close_request(ctx):
    with h.Xvfb() as x, h.Program(x, ctx.program, ctx.workdir(), probe=ctx.probe) as p:
        p.wait_window()
        p.send_close_request()
        # Give the request time to arrive and be polled, then see that frames
        # still come and the window is still there.
        time.sleep(0.5)
        check(p.running(), "the program ended after a close request")
        p.wait_frames(10)
        check(h.CAPTION_RE.match(p.caption()), "no rate caption after the close request")
        p.focus()
        status = p.escape()
        check(status == 0, "exit status %s after Escape" % status)
        check(p.stdout() == b"Video mod nastaven\n", "stdout %r" % p.stdout())


def test_no_display(ctx):
    """No display and no video driver named: one line on standard error and
    status 1, and none of the escape codes of SDL's text-mode driver."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    for driver, message in (("", b"robot: no display to open a window on: "),
                            ("dummy", b"Cannot open an OpenGL window: ")):  # SDL asked as before
        done = subprocess.run([ctx.program], cwd=ctx.workdir(), capture_output=True, timeout=60,
                              env=dict(env, TERM="xterm", SDL_VIDEODRIVER=driver))
        check((done.returncode, done.stdout, done.stderr.count(b"\n")) == (1, b"", 1) and
              done.stderr.startswith(message), "SDL_VIDEODRIVER=%r: %r" % (driver, done))


def test_cameras(ctx):
    """Each camera's first view: the ground square and the marker where the
    projection puts them, and the robot standing at the centre. Compared
    with the same view of a model whose vertices all sit in one point (same
    materials, so the same state is left for the ground), only the robot's
    own box differs, and the difference reaches from its feet on the ground
    to its full height."""
    model_path = os.path.join(ctx.data, "robot.ase")
    vertices = robot_in_scene(read_model_vertices(model_path))
    keys = [(3, None), (1, "F1"), (2, "F2")]
    shots = {}
    with h.Xvfb() as x:
        for label, replace in (("robot", None),
                               ("empty", {"robot.ase": collapsed_model(model_path)})):
            with h.Program(x, ctx.program, ctx.workdir(replace=replace),
                           probe=ctx.probe) as p:
                p.wait_window()
                for mode, key in keys:
                    if key:
                        p.hold(key, 0.15)
                        p.wait_frames(3)
                    shots[label, mode] = p.screenshot(
                        ctx.out("camera%d-%s.png" % (mode, label)))
                status = p.escape()
                check(status == 0, "exit status %s after Escape" % status)

    for mode, _ in keys:
        camera = h.camera_for(mode)
        expected = screen_box(camera, vertices)
        label = "camera %d" % mode
        grow = 3
        robot_area = (expected[0] - grow, expected[1] - grow, expected[2] + grow,
                      expected[3] + grow)
        check_ground_and_marker(shots["robot", mode], camera, [robot_area], label)
        check_ground_and_marker(shots["empty", mode], camera, [], label + " without a model")

        count, box = robot_mask(shots["robot", mode], shots["empty", mode], [marker_box(camera)])
        check(box is not None, "%s: no robot drawn" % label)
        width = expected[2] - expected[0]
        height = expected[3] - expected[1]
        check(count >= 0.25 * width * height,
              "%s: robot covers only %d pixels of its %.0fx%.0f box" % (label, count, width,
                                                                      height))
        tolerance = 3
        names = ("left", "top", "right", "bottom")
        for i in range(4):
            check(abs(box[i] - expected[i]) <= tolerance,
                  "%s: robot's %s edge at %d, expected %.1f (drawn box %s, expected %s)"
                  % (label, names[i], box[i], expected[i], box,
                     tuple(round(v, 1) for v in expected)))


def frame_ms(caption):
    """The whole milliseconds n of a frame whose caption shows 1000 / n."""
    guess = round(1000.0 / caption)
    for n in sorted(range(max(1, guess - 3), guess + 4), key=lambda n: abs(n - guess)):
        if round(1000.0 / n, 1) == caption:
            return n
    return guess


def _robot_frames(dump_path):
    """Per frame: the robot's translation and heading, from the calls just
    before each call of list 10 outside the list's own compilation."""
    frames = []
    last_translate = last_rotate = None
    for _, name, args in h.trace_calls(dump_path, {"glTranslatef", "glRotatef", "glCallList"}):
        if name == "glTranslatef":
            last_translate = (float(args["x"]), float(args["y"]), float(args["z"]))
        elif name == "glRotatef":
            last_rotate = float(args["angle"]), (float(args["x"]), float(args["y"]),
                                                 float(args["z"]))
        elif name == "glCallList" and args.get("list") == "10":
            check(last_translate and last_rotate, "list 10 called without a placement")
            check(last_rotate[1] == (0.0, 0.0, 1.0), "robot turned about %s" % (last_rotate[1],))
            frames.append((last_translate, last_rotate[0]))
            last_translate = last_rotate = None
    return frames


def _face_points(dump_path, ase_path):
    """The corners drawn with the face texture bound, transformed by the
    list's own matrix calls: the face in the robot's own frame."""
    bitmaps = []
    with open(ase_path, errors="replace") as f:
        for line in f:
            m = re.match(r'^\s*\*BITMAP\s+"([^"]*)"', line)
            if m:
                bitmaps.append(m.group(1))
    check("data\\robotface.bmp" in bitmaps, "the model names no face bitmap")
    # Textures are made for the materials in file order, then the grass.
    face_index = bitmaps.index("data\\robotface.bmp")

    names = {"glGenTextures", "glNewList", "glEndList", "glPushMatrix", "glPopMatrix",
             "glTranslatef", "glRotatef", "glBindTexture", "glVertex3f", "glDisable",
             "glEnable"}
    generated = []
    in_list = False
    stack = [_identity()]
    bound = None
    textured = True
    points = []
    for _, name, args in h.trace_calls(dump_path, names):
        if name == "glGenTextures":
            generated.append(args["textures"].lstrip("&{").rstrip("}"))
        elif name == "glNewList":
            in_list = args["list"] == "10"
        elif not in_list:
            continue
        elif name == "glEndList":
            break
        elif name == "glPushMatrix":
            stack.append([row[:] for row in stack[-1]])
        elif name == "glPopMatrix":
            stack.pop()
        elif name == "glTranslatef":
            stack[-1] = _mat_mul(stack[-1], _translate(float(args["x"]), float(args["y"]),
                                                       float(args["z"])))
        elif name == "glRotatef":
            stack[-1] = _mat_mul(stack[-1], _rotate(float(args["angle"]), float(args["x"]),
                                                    float(args["y"]), float(args["z"])))
        elif name == "glBindTexture":
            bound = args["texture"]
        elif name in ("glEnable", "glDisable") and args.get("cap") == "GL_TEXTURE_2D":
            textured = name == "glEnable"
        elif name == "glVertex3f":
            if textured and len(generated) > face_index and bound == generated[face_index]:
                v = (float(args["x"]), float(args["y"]), float(args["z"]))
                points.append(_apply(stack[-1], v))
    check(len(generated) >= len(bitmaps) + 1,
          "expected a texture per model bitmap and the grass, got %d" % len(generated))
    return points


def _traced_run(ctx):
    """A working folder, and the wrapper that records the run's GL calls there."""
    work = ctx.workdir()
    trace = os.path.join(work, "run.trace")
    return work, trace, ["apitrace", "trace", "--api", "gl", "--output", trace]


def test_drive(ctx):
    """Holding Up moves the robot 3 units a second straight ahead, along +y
    at the start; Left turns it 50 degrees a second; and the face is on the
    side it walks towards, before and after the turn."""
    work, trace, wrapper = _traced_run(ctx)
    with h.Xvfb() as x, h.Program(x, ctx.program, work, probe=ctx.probe, wrapper=wrapper) as p:
        p.wait_window()
        p.wait_frames(5)
        up1 = p.hold("Up", 1.0)
        p.wait_frames(5)
        left = p.hold("Left", 0.6)
        p.wait_frames(5)
        up2 = p.hold("Up", 0.5)
        p.wait_frames(5)
        status = p.escape()
        check(status == 0, "exit status %s after Escape" % status)
        captions = [float(t) for kind, _, t in p.frames() if kind == "caption"]
    dump = os.path.join(work, "run.txt")
    h.dump_trace(trace, dump)
    frames = _robot_frames(dump)
    check(len(frames) == len(captions),
          "%d robot draws for %d frames" % (len(frames), len(captions)))
    check(frames[0] == ((10.0, 10.0, 0.0), 90.0), "start pose %s" % (frames[0],))

    # Split the run into phases at the frames where the pose changes.
    def changed(i):
        return frames[i][0] != frames[i - 1][0], frames[i][1] != frames[i - 1][1]

    moves = [i for i in range(1, len(frames)) if changed(i)[0]]
    turns = [i for i in range(1, len(frames)) if changed(i)[1]]
    check(moves and turns, "the robot neither moved nor turned")
    first_turn = turns[0]
    check(all(not changed(i)[0] for i in turns), "the robot moved while turning")
    moves1 = [i for i in moves if i < first_turn]
    moves2 = [i for i in moves if i > turns[-1]]
    check(moves1 and moves2, "no move before and after the turn")

    def elapsed(indices):
        # Each frame moves by the rate its caption shows: 1000 / n ms.
        return sum(frame_ms(captions[i]) / 1000.0 for i in indices)

    def check_move(indices, held, label):
        start = frames[indices[0] - 1]
        end = frames[indices[-1]]
        # Frames without a change inside the run would be a stall.
        check(indices == list(range(indices[0], indices[-1] + 1)),
              "%s: the robot stopped while Up was held" % label)
        dx = end[0][0] - start[0][0]
        dy = end[0][1] - start[0][1]
        distance = math.hypot(dx, dy)
        by_frames = 3.0 * elapsed(indices)
        check(abs(distance - by_frames) <= 0.01 + 0.0002 * len(indices),
              "%s: moved %.3f, but 3 units/s over the frames' own times is %.3f"
              % (label, distance, by_frames))
        # The frames' own times pin the speed above; against the wall clock
        # a busy machine may shift the first and last frame of the hold.
        check(abs(distance - 3.0 * held) <= 0.25 * 3.0 * held + 0.3,
              "%s: moved %.3f in %.2f s of holding Up, expected about %.2f"
              % (label, distance, held, 3.0 * held))
        check(end[0][2] == 0.0, "%s: robot left the ground plane" % label)
        return dx / distance, dy / distance

    direction1 = check_move(moves1, up1, "first move")
    check(frames[moves1[-1]][0][0] == 10.0 and direction1[1] > 0.9999,
          "first move not straight along +y: %s" % (frames[moves1[-1]][0],))

    turned = frames[turns[-1]][1] - frames[turns[0] - 1][1]
    check(turned > 0, "Left turned the robot clockwise (%.2f degrees)" % turned)
    check(abs(turned - 50.0 * elapsed(turns)) <= 0.1 + 0.002 * len(turns),
          "turned %.2f degrees, but 50 degrees/s over the frames' own times is %.2f"
          % (turned, 50.0 * elapsed(turns)))
    check(abs(turned - 50.0 * left) <= 0.25 * 50.0 * left + 5.0,
          "turned %.2f degrees in %.2f s of holding Left" % (turned, left))

    direction2 = check_move(moves2, up2, "second move")
    heading = math.radians(frames[moves2[-1]][1])
    walk_angle = math.degrees(math.atan2(direction2[1], direction2[0]))
    check(abs(math.cos(heading) - direction2[0]) < 0.01
          and abs(math.sin(heading) - direction2[1]) < 0.01,
          "after the turn the robot is drawn heading %.1f degrees but walks towards %.1f"
          % (frames[moves2[-1]][1], walk_angle))

    # The face, in the robot's frame, must lie on the side it walks towards.
    face = _face_points(dump, os.path.join(ctx.data, "robot.ase"))
    check(len(face) >= 3, "no triangles drawn with the face texture")
    for label, (pos, angle), direction in (("at the start", frames[0], (0.0, 1.0)),
                                           ("after the turn", frames[moves2[-1]], direction2)):
        placed = _mat_mul(_translate(*pos), _rotate(angle, 0, 0, 1))
        world = [_apply(placed, v) for v in face]
        cx = sum(v[0] for v in world) / len(world) - pos[0]
        cy = sum(v[1] for v in world) / len(world) - pos[1]
        cz = sum(v[2] for v in world) / len(world)
        along = cx * direction[0] + cy * direction[1]
        across = -cx * direction[1] + cy * direction[0]
        check(along > 0.05 and abs(across) < 0.5 * along + 0.05,
              "%s the face is %.2f ahead and %.2f aside of the walking direction"
              % (label, along, across))
        check(cz > 1.0, "%s the face is at height %.2f, not on the head" % (label, cz))


def test_edge(ctx):
    """Driving forward into the far edge: the robot never leaves the ground
    square, stops at y = 20 and slides along the edge the way it is turned."""
    work, trace, wrapper = _traced_run(ctx)
    with h.Xvfb() as x, h.Program(x, ctx.program, work, probe=ctx.probe, wrapper=wrapper) as p:
        p.wait_window()
        p.wait_frames(3)
        p.hold("Left", 0.3)
        p.wait_frames(3)
        p.hold("Up", 4.6)
        p.wait_frames(3)
        status = p.escape()
        check(status == 0, "exit status %s after Escape" % status)
    dump = os.path.join(work, "run.txt")
    h.dump_trace(trace, dump)
    frames = _robot_frames(dump)
    positions = [pos for pos, _ in frames]
    heading = frames[-1][1]
    check(95 < heading < 125, "the turn left ended at %.1f degrees" % heading)
    check(all(y <= 20.0 for _, y, _ in positions), "the robot went past y = 20")
    at_edge = [i for i, (_, y, _) in enumerate(positions) if y > 19.9]
    check(at_edge, "the robot never reached the far edge: got to %s" % (positions[-1],))
    first = at_edge[0]
    check(positions[-1][1] >= 19.9, "the robot left the edge again: %s" % (positions[-1],))
    slid = positions[first][0] - positions[-1][0]
    check(slid > 0.2, "the robot did not slide along the edge (x moved %.3f)" % slid)
    check(positions[-1][0] > 0, "slid past the corner")


# A model of the user's: `robot [--up z|y] MODEL.ase`.

SUMMARY_RE = re.compile(rb"^.+: \d+ objects, \d+ vertices, \d+ triangles, \d+ materials \(\d+ "
                        rb"bitmaps found, \d+ missing\), size \S+ x \S+ x \S+, read in \d+ ms\r?$")


def strip_viewer_lines(out):
    """A run's output less the summary lines of its model and its line of
    keys."""
    return b"".join(line for line in out.splitlines(True)
                    if not SUMMARY_RE.match(line.rstrip(b"\n")) and not line.startswith(b"Keys: "))


def own_run(ctx, x, args, cwd, keys=(None,), name="own", program=None):
    """Runs the program on args in cwd, takes a screenshot after each of keys
    (None: the start camera) and ends it with Escape after ten more frames.
    Returns stdout, less the model's summary and keys, and the screenshots."""
    shots = []
    with h.Program(x, program or ctx.program, cwd, probe=ctx.probe, args=args) as p:
        p.wait_window()
        for key in keys:
            if key:
                p.hold(key, 0.15)
                p.wait_frames(3)
            shots.append(p.screenshot(ctx.out("%s-%d.png" % (name, len(shots)))))
        p.wait_frames(10)
        check(p.escape() == 0, "%s: exit status after Escape is not 0" % (args,))
        return strip_viewer_lines(p.stdout()), shots


def check_box(image, empty, expected, label, tolerance=3):
    count, box = robot_mask(image, empty, [marker_box(h.camera_for(3))])
    check(box is not None, "%s: nothing drawn" % label)
    check(all(abs(box[i] - expected[i]) <= tolerance for i in range(4)),
          "%s: drawn in %s, expected %s" % (label, box, tuple(round(v, 1) for v in expected)))


def test_own_model_fitted(ctx):
    """A model of another scale and up axis, without a material list, stands
    in the robot's place at the robot's height; a z-up figure read as y-up
    lies face down; our robot's own file stands where the robot stands. A
    model without triangles gets one message and the scene runs without it."""
    folder = ctx.folder()
    tall = os.path.join(folder, "tall.ase")
    gen_robot_ase.write_model(tall, up="y", scale_by=40.0, offset=(1000.0, -500.0, 300.0),
                              material_list=False)
    empty = os.path.join(folder, "empty.ase")
    with open(empty, "w") as f:
        f.write("*GEOMOBJECT {\n*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1.0 2.0 3.0\n}\n")
    robot_file = os.path.join(ctx.data, "robot.ase")
    camera = h.camera_for(3)
    work = ctx.workdir()
    with h.Xvfb() as x:
        out, (nothing,) = own_run(ctx, x, [empty], work, name="empty")
        # The model is read before the window opens.
        check(out == b"%s: no triangles to show; the scene runs without a model.\n"
              b"Video mod nastaven\n" % empty.encode(), "model without triangles: stdout %r" % out)
        check_ground_and_marker(nothing, camera, [], "model without triangles")
        runs = [(["--up", "y", tall], tall, "y", "y-up model at 40 times the size"),
                (["--up", "y", robot_file], robot_file, "y", "z-up robot read as y-up"),
                ([robot_file], robot_file, "z", "our robot's own file")]
        for args, path, up, label in runs:
            out, (image,) = own_run(ctx, x, args, work, name=label.replace(" ", "-"))
            check(out == b"Video mod nastaven\n", "%s: stdout %r" % (label, out))
            fitted = fitted_in_scene(read_model_vertices(path), up)
            check_box(image, nothing, screen_box(camera, fitted), label)
            height = max(p[2] for p in fitted)
            if path == robot_file and up == "y":
                check(height < 0.5, "%s: does not lie down (%.2f tall)" % (label, height))
            if path == robot_file and up == "z":
                # Within a pixel or two of where the program's own robot stands.
                default = screen_box(camera, robot_in_scene(read_model_vertices(path)))
                check_box(image, nothing, default, label + " against the robot")


def write_textured_model(folder, name, bitmaps):
    """Our robot at 100 times its size, whose materials name bitmaps as
    other tools write them."""
    path = os.path.join(folder, name)
    gen_robot_ase.write_model(path, scale_by=100.0, offset=(-40.0, 25.0, 7.0), bitmaps=bitmaps)
    return path


def test_own_model_textures(ctx):
    """Run from a folder without data/: bitmaps named with an absolute
    Windows path and in another case are found beside the model (a bitmap
    not found or not decoded would be reported), a PNG draws exactly like the
    same picture as BMP, and the grass comes from the program's own data."""
    folder = ctx.folder()
    os.mkdir(os.path.join(folder, "maps"))
    shutil.copy(os.path.join(ctx.data, "robot.bmp"), os.path.join(folder, "robot.bmp"))
    for kind in ("png", "bmp"):
        gen_bitmaps.write_face(os.path.join(folder, "maps", "robotface." + kind), kind)
    # The face picture on the body, so that every camera sees it.
    models = {kind: write_textured_model(folder, "ship-%s.ase" % kind, {
        "RobotBody": "Maps\\RobotFace." + kind, "RobotFace": "C:\\3dsmax\\maps\\ROBOT.BMP"})
        for kind in ("png", "bmp")}
    anywhere = ctx.folder()
    with h.Xvfb() as x:
        shots = {}
        for kind, path in models.items():
            out, shots[kind] = own_run(ctx, x, [path], anywhere, (None, "F2"), "ship-" + kind)
            check(out == b"Video mod nastaven\n", "%s: stdout %r" % (kind, out))
    camera = h.camera_for(3)
    c0, r0, c1, r1 = screen_box(camera, fitted_in_scene(read_model_vertices(models["png"]), "z"))
    check_ground_and_marker(shots["png"][0], camera, [(c0 - 3, r0 - 3, c1 + 3, r1 + 3)],
                            "grass from anywhere")
    for i, label in enumerate(("camera 3", "camera 2")):
        check(shots["png"][i].data == shots["bmp"][i].data,
              "%s: the PNG picture draws differently from the BMP one" % label)


def test_own_model_missing_bitmap(ctx):
    """A bitmap that is missing and one that does not decode: one message
    each, naming the materials, the path and, for the missing one, where it
    was looked for; the model runs on with those materials untextured."""
    folder = ctx.folder()
    with open(os.path.join(folder, "broken.png"), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\nnot really")
    path = write_textured_model(folder, "ship.ase", {"RobotBody": "maps\\gone.tga",
                                                      "RobotFace": "Broken.PNG",
                                                      "RobotJoint": "maps\\gone.tga"})
    with h.Xvfb() as x:
        out, _ = own_run(ctx, x, [path], ctx.workdir(), keys=())
    out = out.decode(errors="replace").splitlines()
    check(out[0] == "Video mod nastaven", "stdout %r" % out)
    broken = os.path.join(folder, "broken.png")
    expected = ['Materials "RobotBody", "RobotJoint": bitmap maps\\gone.tga not found (11 places '
                'tried, in the working directory, %s); drawn without it.' % folder,
                'Material "RobotFace": bitmap Broken.PNG (%s) does not decode: PNG: ' % broken]
    check(len(out) == 3 and out[1] == expected[0] and out[2].startswith(expected[1])
          and out[2].endswith("; drawn without it."), "messages %r, expected %r" % (out, expected))


def test_own_model_game_textures(ctx):
    """Bitmaps named as a game names them (a path under the game's folder
    with a drive, a .tga name whose file was saved as .png, a name without
    extension) are found with --textures, given twice, under the game's
    folder; the robot looks exactly as with the same pictures beside it."""
    beside = ctx.folder()
    shutil.copy(os.path.join(ctx.data, "robot.bmp"), os.path.join(beside, "metal.bmp"))
    gen_bitmaps.write_face(os.path.join(beside, "face.bmp"), "bmp")
    # The face picture on the body, so that every camera sees it.
    reference = write_textured_model(beside, "robot.ase", {"RobotBody": "face.bmp",
                                                           "RobotFace": "metal.bmp"})
    game, empty = ctx.folder(), ctx.folder()
    robot = os.path.join(game, "Base", "Textures", "Robot")
    os.makedirs(robot)
    shutil.copy(os.path.join(ctx.data, "robot.bmp"), os.path.join(robot, "metal.bmp"))
    gen_bitmaps.write_face(os.path.join(robot, "face.png"), "png")
    named = write_textured_model(ctx.folder(), "robot.ase", {
        "RobotBody": "//base/textures/robot/face.tga",
        "RobotFace": "C:\\Games\\Quest\\base\\textures\\robot\\METAL"})
    runs = {"beside": [reference], "game": ["--textures", empty, "--textures=" + game, named]}
    shots = {}
    with h.Xvfb() as x:
        for label, args in runs.items():
            out, shots[label] = own_run(ctx, x, args, ctx.workdir(), (None, "F2"), label)
            check(out == b"Video mod nastaven\n", "%s: stdout %r" % (label, out))
    for i, camera in enumerate(("camera 3", "camera 2")):
        check(shots["game"][i].data == shots["beside"][i].data,
              "%s: the robot with its bitmaps from the game's folder looks different" % camera)


# What a model's file gives the picture: its normals, smoothing groups,
# sub-materials and cut-out textures, seen from the start camera.

LIGHT = (20.0, 17.0, 2.0)
# The ambient light of the scene and of light 0, 0.2 each, on a material
# whose ambient is its diffuse.
AMBIENT = 0.4


def scene_direction(file_vector):
    """A direction in a z-up file's axes as the fitted model at the start
    pose has it in the scene: (a, b, c) to (-b, a, c), then turned by the
    robot's heading of 90 degrees."""
    a, b, c = file_vector
    return (-a, -b, c)


def side_samples(image, camera, corners, shrink=0.6, step=1):
    """The pixels inside the middle of a scene polygon as the camera sees
    it: its outline shrunk towards its centre, sampled on a grid."""
    outline = [camera.project(p) for p in corners]
    cx = sum(p[0] for p in outline) / len(outline)
    cy = sum(p[1] for p in outline) / len(outline)
    inner = [(cx + (p[0] - cx) * shrink, cy + (p[1] - cy) * shrink) for p in outline]
    cols, rows = [p[0] for p in inner], [p[1] for p in inner]
    samples = []
    for row in range(int(min(rows)), int(max(rows)) + 1, step):
        for col in range(int(min(cols)), int(max(cols)) + 1, step):
            if h.point_in_polygon((col, row), inner):
                samples.append(image.pixel(col, row))
    return samples


def visible_sides(box, camera):
    """(side, its scene corners, its scene normal) for every side of a
    gen_exporter_models box that faces the camera well enough to judge."""
    placed = fitted_in_scene(box.mesh.verts, "z")
    out = []
    for side in box.sides:
        normal, quad, _ = side
        corners = [placed[i] for i in quad]
        n = h._normalize(scene_direction(normal))
        centre = [sum(c[i] for c in corners) / 4 for i in range(3)]
        view = h._normalize([e - c for e, c in zip(camera.eye, centre)])
        if h._dot(n, view) > 0.3:
            out.append((side, corners, n))
    return out


def lit_green(corners, normal):
    """The green of a white, unshiny side lit by the green light at its
    corners, as OpenGL lights each corner: ambient plus diffuse."""
    total = 0.0
    for c in corners:
        to_light = h._normalize([l - p for l, p in zip(LIGHT, c)])
        total += min(1.0, AMBIENT + max(0.0, h._dot(normal, to_light)))
    return 255.0 * total / len(corners)


def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


def test_own_model_hard_edges(ctx):
    """A box tilted by its transform, with the exporter's own normals in the
    object's space and no smoothing groups, shows flat sides: each of the
    three it shows the camera is even and as bright as its own slant to the
    light makes it, and they differ clearly. The same box with one smoothing
    group per side and no normals looks the same; with all its faces in one
    group it is lit round, which the evenness check tells apart."""
    folder = ctx.folder()
    boxes = {kind: gen_exporter_models.write_box(os.path.join(folder, kind + ".ase"), kind)
             for kind in ("none", "sides", "smooth")}
    camera = h.camera_for(3)
    with h.Xvfb() as x:
        shots = {}
        for kind in boxes:
            out, (shots[kind],) = own_run(ctx, x, [os.path.join(folder, kind + ".ase")],
                                          ctx.workdir(), name="box-" + kind)
            check(out == b"Video mod nastaven\n", "%s box: stdout %r" % (kind, out))
    spreads = {}
    for kind, box in boxes.items():
        sides = visible_sides(box, camera)
        check(len(sides) == 3, "%s box: %d sides in view, expected 3" % (kind, len(sides)))
        medians = []
        for (_, quad, _), corners, normal in sides:
            green = [p[1] for p in side_samples(shots[kind], camera, corners)]
            check(len(green) > 100, "%s box: side %s too small to judge" % (kind, quad))
            median = percentile(green, 0.5)
            spread = percentile(green, 0.9) - percentile(green, 0.1)
            spreads.setdefault(kind, []).append(spread)
            medians.append(median)
            if kind == "smooth":
                continue
            expected = lit_green(corners, normal)
            check(abs(median - expected) <= 15,
                  "%s box: side %s has green %d, expected about %.0f from its normal"
                  % (kind, quad, median, expected))
            check(spread <= 16, "%s box: side %s is uneven, its green spreads over %d"
                  % (kind, quad, spread))
        if kind != "smooth":
            ordered = sorted(medians)
            check(ordered[1] - ordered[0] >= 30 and ordered[2] - ordered[1] >= 30,
                  "%s box: the sides' greens %s do not differ clearly" % (kind, medians))
    check(max(spreads["smooth"]) > 40,
          "the smooth box's sides are as even as flat ones (spreads %s)" % spreads["smooth"])


def test_own_model_sub_materials(ctx):
    """A box whose material has three sub-materials shows their three
    colours on the three sides in view, each chosen by its faces' material
    id, one of them past the count."""
    path = os.path.join(ctx.folder(), "multi.ase")
    box = gen_exporter_models.write_multi_box(path)
    camera = h.camera_for(3)
    with h.Xvfb() as x:
        out, (image,) = own_run(ctx, x, [path], ctx.workdir(), name="multi")
    check(out == b"Video mod nastaven\n", "stdout %r" % out)
    seen = set()
    for (_, quad, mtlid), corners, _ in visible_sides(box, camera):
        colour = gen_exporter_models.SUB_COLOURS[mtlid % 3]
        channel = colour.index(1.0)
        samples = side_samples(image, camera, corners)
        right = [p for p in samples
                 if p[channel] >= 80 and all(p[c] <= 30 for c in range(3) if c != channel)]
        check(len(right) >= 0.95 * len(samples),
              "side %s with id %d: only %d of %d pixels are of sub-material %d's colour, e.g. %s"
              % (quad, mtlid, len(right), len(samples), mtlid % 3, samples[:3]))
        seen.add(channel)
    check(seen == {0, 1, 2}, "colours in view: %s, expected all three" % sorted(seen))


def test_own_model_cut_out(ctx):
    """An upright quad whose PNG is opaque on one half and fully transparent
    on the other shows its red half and, through the other, the grass. The
    picture is named with blanks in its path, its map has no tiling lines
    (tiling 1) and a bump map follows it; it is found and used without a
    message."""
    folder = ctx.folder()
    path, us = gen_exporter_models.write_leaf(folder)
    camera = h.camera_for(3)
    with h.Xvfb() as x:
        out, (image,) = own_run(ctx, x, [path], ctx.workdir(), name="leaf")
    check(out == b"Video mod nastaven\n", "stdout %r" % out)
    placed = fitted_in_scene(read_model_vertices(path), "z")
    check(us == [0.0, 1.0, 1.0, 0.0], "the quad's texture runs another way: %s" % us)

    def at(u, v):
        p0, p1, p2, p3 = placed
        weights = ((1 - u) * (1 - v), u * (1 - v), u * v, (1 - u) * v)
        return tuple(sum(w * p[i] for w, p in zip(weights, (p0, p1, p2, p3)))
                     for i in range(3))

    grid = [(a / 10.0, b / 10.0) for a in range(1, 10) for b in range(2, 9)]
    opaque = [image.pixel(*map(int, camera.project(at(u, v)))) for u, v in grid if u < 0.42]
    clear = [image.pixel(*map(int, camera.project(at(u, v)))) for u, v in grid if u > 0.58]
    bad = [p for p in opaque if not (p[0] >= 80 and p[1] <= 30 and p[2] <= 30)]
    check(not bad, "%d of %d pixels of the opaque half are not its red, e.g. %s"
          % (len(bad), len(opaque), bad[:3]))
    bad = [p for p in clear if not is_ground(p)]
    check(not bad, "%d of %d pixels of the transparent half are not grass, e.g. %s"
          % (len(bad), len(clear), bad[:3]))


# Looking at a model: the viewer camera, the switches, reading it again and
# screenshots.

def red_part(image):
    """The box's pixels, red over green and blue, on a grid of every other
    pixel: their count, box and red values."""
    found = [(c, r, image.pixel(c, r)[0]) for r in range(0, h.HEIGHT, 2)
             for c in range(0, h.WIDTH, 2)
             if image.pixel(c, r)[0] > max(image.pixel(c, r)[1:]) + 30]
    cols, rows = [f[0] for f in found] or [0], [f[1] for f in found] or [0]
    return len(found), (min(cols), min(rows), max(cols), max(rows)), [f[2] for f in found]


def test_own_model_viewer(ctx):
    """An upright red box whose vertex colours go from white at the top to
    black at the bottom: F4 brings it large into the middle of the view, L
    lights it white so that its sides differ, W shows its lines, V (with W
    off again) darkens its sides towards the ground, R reads it again and
    shows the same picture, F12 writes that picture beside an earlier
    screenshot, which it leaves alone."""
    path = os.path.join(ctx.folder(), "box.ase")
    gen_exporter_models.write_coloured_box(path)
    work = ctx.workdir()
    with open(os.path.join(work, "robot-0001.png"), "wb") as f:
        f.write(b"an earlier one")
    steps = [("start", []), ("F4", ["F4"]), ("L", ["l"]), ("W", ["w"]), ("V", ["w", "v"]),
             ("R", ["r"]), ("F12", ["F12"])]
    shots = {}
    with h.Xvfb() as x, h.Program(x, ctx.program, work, probe=ctx.probe, args=[path]) as p:
        p.wait_window()
        for label, keys in steps:
            for key in keys:
                p.xdotool("key", key)
            p.wait_frames(5)
            shots[label] = p.screenshot(ctx.out("viewer-%s.png" % label))
        check(p.escape() == 0, "exit status after Escape is not 0")
        out = p.stdout()
    parts = {label: red_part(image) for label, image in shots.items()}
    count, (c0, r0, c1, r1), reds = parts["F4"]
    check(abs((c0 + c1) / 2 - 400) < 60 and abs((r0 + r1) / 2 - 300) < 60 and r1 - r0 > 200
          and count > 5 * parts["start"][0], "F4: the box is not large in the middle: %d pixels "
          "in %s, %d before" % (count, (c0, r0, c1, r1), parts["start"][0]))
    for label, flat in (("F4", True), ("L", False)):
        reds = parts[label][2]
        spread = percentile(reds, 0.9) - percentile(reds, 0.1)
        check(spread <= 10 if flat else spread >= 25 and percentile(reds, 0.5) >= 150,
              "%s: the box's reds have median %d and spread %d" % (label, percentile(reds, 0.5),
                                                                  spread))
    check(50 < parts["W"][0] < parts["L"][0] / 5, "W: %d red pixels of lines, %d filled"
          % (parts["W"][0], parts["L"][0]))

    def dark(image):
        return sum(1 for r in range(r0, r1, 2) for c in range(c0, c1, 2)
                   if max(image.pixel(c, r)) < 40)
    check(dark(shots["V"]) > dark(shots["L"]) + (c1 - c0) * (r1 - r0) / 40,
          "V: the sides do not darken towards the ground")
    check(shots["R"].data == shots["V"].data, "R: the picture changed")
    check(len([line for line in out.splitlines() if SUMMARY_RE.match(line)]) == 2,
          "R: not one summary line more: %r" % out)
    with open(os.path.join(work, "robot-0001.png"), "rb") as f:
        check(f.read() == b"an earlier one", "F12 overwrote robot-0001.png")
    check(b"Screenshot robot-0002.png\n" in out, "F12: stdout %r" % out)
    written = os.path.join(work, "robot-0002.ppm")
    subprocess.run(["convert", os.path.join(work, "robot-0002.png"), written], check=True)
    check(h.Image.read_ppm(written).data == shots["F12"].data,
          "F12: robot-0002.png is not the window's picture")


def test_own_model_rewritten(ctx):
    """The red box saved anew as the three-coloured one while the program
    runs shows within two seconds; then saved cut off before its faces, it
    keeps the three colours on screen with one line saying why, and the
    program runs on."""
    path = os.path.join(ctx.folder(), "box.ase")
    gen_exporter_models.write_coloured_box(path)
    with h.Xvfb() as x, h.Program(x, ctx.program, ctx.workdir(), probe=ctx.probe,
                                  args=[path]) as p:
        p.wait_window()
        gen_exporter_models.write_multi_box(path)
        saved = time.monotonic()
        while True:
            image = p.screenshot(ctx.out("rewritten.png"))
            # Its blue side is there.
            if any(max(image.pixel(c, r)[:2]) + 60 < image.pixel(c, r)[2]
                   for r in range(0, h.HEIGHT, 4) for c in range(0, h.WIDTH, 4)):
                break
            check(time.monotonic() - saved < 2.0, "the saved model is not shown after 2 s")
        with open(path, "rb") as f:
            text = f.read()
        with open(path, "wb") as f:
            f.write(text[:text.index(b"*MESH_FACE_LIST")])
        time.sleep(1.5)
        check(p.running(), "the program ended on a model cut off")
        check(p.screenshot(ctx.out("cut-off.png")).data == image.data,
              "the model cut off changed the picture")
        check(p.escape() == 0, "exit status after Escape is not 0")
        out = p.stdout()
    check(out.endswith(b"%s: no triangles to show; the model shown so far stays.\n"
                       % path.encode()), "stdout %r" % out[-300:])


def test_own_model_arguments(ctx):
    """Usage on standard output for --help; bad usage on standard error with
    status 2; a model that cannot be opened with the reader's message and
    status 1. None of them opens a window."""
    model = os.path.join(ctx.data, "robot.ase")
    cases = [(["--help"], 0, b"Usage: robot [--up z|y] [--textures DIR]... [MODEL.ase]\n", b""),
             (["--fullscreen", model], 2, b"", b"robot: unknown option --fullscreen\nUsage: "),
             ([model, model], 2, b"", b"robot: one model at a time\nUsage: "),
             (["--up", "x", model], 2, b"", b"robot: --up takes z or y, not x\nUsage: "),
             ([model, "--up"], 2, b"", b"robot: --up needs an axis, z or y\nUsage: "),
             (["--up=y"], 2, b"", b"robot: --up names the up axis of a model file, and no "),
             (["--textures", "no-such", model], 2, b"",
              b"robot: --textures needs a folder of bitmaps; no-such does not exist\nUsage: "),
             (["--textures=" + model, model], 2, b"",
              b"robot: --textures needs a folder of bitmaps; %s is not a folder\n"
              % model.encode()),
             ([model, "--textures"], 2, b"", b"robot: --textures needs a folder\nUsage: "),
             (["--textures", ctx.data], 2, b"", b"robot: --textures names folders for a model "),
             (["no-such.ase"], 1, b"Unable to find or open the file: no-such.ase\n", b"")]
    with h.Xvfb() as x:
        for args, status, out, err in cases:
            with h.Program(x, ctx.program, ctx.workdir(), probe=ctx.probe, args=args) as p:
                got = p.wait_exit()
                with open(p.stderr_path, "rb") as f:
                    errors = f.read()
                check(got == status, "%s: exit status %s, expected %s" % (args, got, status))
                check(p.stdout().startswith(out) and (out or not p.stdout()),
                      "%s: stdout %r" % (args, p.stdout()))
                check(errors.startswith(err) and (err or not errors),
                      "%s: stderr %r" % (args, errors))
                check(not [k for k, _, _ in p.frames() if k in ("init", "swap")],
                      "%s: SDL was started" % (args,))


def test_own_model_installed(ctx):
    """cmake --install puts the program and its data under a prefix; run
    from elsewhere, the installed program shows the installed robot.ase with
    its bitmaps and the installed grass, with a model named and without one.
    A working directory with a data folder of its own keeps the usual rules:
    its missing grass ends the run."""
    prefix = ctx.folder()
    subprocess.run(["cmake", "--install", ctx.build, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    data = os.path.join(prefix, "share", "robot-scene", "data")
    # Blue grass tells the installed data from the source tree's.
    gen_bitmaps.write_bmp24(os.path.join(data, "grasstex.bmp"), 2, 2, [[(0, 0, 255)] * 2] * 2)
    installed = os.path.join(prefix, "bin", "robot")
    camera = h.camera_for(3)
    with h.Xvfb() as x:
        named, (with_model,) = own_run(ctx, x, [os.path.join(data, "robot.ase")], ctx.folder(),
                                       name="installed", program=installed)
        plain, (without,) = own_run(ctx, x, [], ctx.folder(), name="installed-default",
                                    program=installed)
        own_data = ctx.folder()
        os.mkdir(os.path.join(own_data, "data"))
        with h.Program(x, installed, own_data, probe=ctx.probe) as p:
            status = p.wait_exit()
            check(status == 1, "a data folder without grass: exit status %s" % status)
            check(p.stdout() == b"Video mod nastaven\nUnable to find or open the file: "
                  b"data\\robot.aseTextura data\\grasstex.bmp nenalezena.\n",
                  "a data folder without grass: stdout %r" % p.stdout())
    for out, image, label in ((named, with_model, "with a model"),
                              (plain, without, "without a model")):
        check(out == b"Video mod nastaven\n", "%s: stdout %r" % (label, out))
        ground = camera.project((5.0, 5.0, 0.0))
        pixel = image.pixel(int(ground[0]), int(ground[1]))
        check(pixel[2] > 20 and pixel[2] > 2 * max(pixel[0], pixel[1]),
              "%s: the ground at (5, 5) is %s, not the installed blue grass" % (label, pixel))
    # Without a model the installed robot stands where the robot stands.
    robot = screen_box(camera, robot_in_scene(read_model_vertices(os.path.join(data,
                                                                               "robot.ase"))))
    c0, r0, c1, r1 = (int(v) for v in robot)
    drawn = [(c, r) for r in range(r0, r1 + 1) for c in range(c0, c1 + 1)
             if without.pixel(c, r) != with_model.pixel(0, 0) and
             not (without.pixel(c, r)[2] > 2 * max(without.pixel(c, r)[:2]))]
    check(len(drawn) > 50, "without a model: no robot drawn in %s" % (robot,))


class Context:
    def __init__(self, args):
        self.program = os.path.abspath(args.program)
        self.data = os.path.abspath(args.data)
        self.probe = os.path.abspath(args.probe)
        self.out_dir = os.path.abspath(args.out)
        self.build = os.path.abspath(args.build) if args.build else None
        self.keep = []
        os.makedirs(self.out_dir, exist_ok=True)

    def folder(self):
        """An empty folder of the test's own."""
        path = tempfile.mkdtemp(prefix="robot-e2e-", dir=h.tmp_root())
        self.keep.append(path)
        return path

    def workdir(self, leave_out=(), replace=None):
        path = h.make_workdir(self.data, leave_out, replace, h.tmp_root())
        self.keep.append(path)
        return path

    def out(self, name):
        return os.path.join(self.out_dir, name)

    def cleanup(self):
        for path in self.keep:
            h.remove_tree(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("test")
    parser.add_argument("--program", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--out", default="e2e-out")
    parser.add_argument("--build", help="the build folder (for cmake --install)")
    parser.add_argument("--sdl-dir", help="run on the SDL 1.2 library in this folder, e.g. "
                        "sdl12-compat's, instead of the one the program is linked with")
    args = parser.parse_args()
    test = globals().get("test_" + args.test)
    if not test:
        print("no test named %s" % args.test)
        return 2
    if args.sdl_dir:
        if not os.path.exists(os.path.join(args.sdl_dir, "libSDL-1.2.so.0")):
            print("FAIL %s: no SDL 1.2 library in %s (is libsdl1.2-compat installed?)"
                  % (args.test, args.sdl_dir))
            return 1
        os.environ["LD_LIBRARY_PATH"] = ":".join(
            x for x in [args.sdl_dir, os.environ.get("LD_LIBRARY_PATH", "")] if x)
        h.EXPECTED_SDL_DIR = args.sdl_dir
    args.out = os.path.join(args.out, args.test + ("-sdl-dir" if args.sdl_dir else ""))
    return h.run_test(args.test, test, Context(args))


if __name__ == "__main__":
    sys.exit(main())
