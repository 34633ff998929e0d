#!/usr/bin/env python3
"""Writes the robot model that the program loads (data/robot.ase) as ASE text.

The robot is built from boxes, cylinders and spheres in the file's own axes:
z is up, the soles stand at z = -0.45 and the robot faces -y (its left hand
is on +x). The program turns these axes into the scene's so that the soles
touch the ground and the face looks where the robot walks.

Every triangle is counter-clockwise seen from outside, since the program
computes smooth vertex normals from (B-A)x(C-A). Box faces have their own
four vertices each so that box edges stay sharp; cylinder sides and spheres
share their vertices and come out round.

Materials:
  0 RobotBody   metal panels, data\\robot.bmp, tiling 2 (coordinates repeat)
  1 RobotFace   the face panel, data\\robotface.bmp, tiling 1
  2 RobotJoint  dark grey, no texture
  3 RobotAccent orange, no texture (chest plate, antenna tip)

Usage: gen_robot_ase.py [OPTIONS] OUTPUT
  OUTPUT is the file to write, or - for standard output. The shipped model
  is `gen_robot_ase.py data/robot.ase`, run from the repository root.

The same robot as a model of another tool, for trying and testing
`robot MODEL.ase` (options, all optional):
  --up y                 write it in y-up axes (y up, the face towards +z)
  --scale S              multiply every position by S
  --offset X Y Z         then move it by (X, Y, Z), in the written axes
  --bitmap NAME=PATH     the material NAME names the bitmap PATH instead
  --no-material-list     leave out the material list and the texture
                         coordinates, as exporters of plain geometry do; the
                         objects still name their material numbers
"""

import argparse
import io
import math
import os
import sys

import ase_layout as ase

BODY, FACE, JOINT, ACCENT = range(4)

MATERIALS = [
    ase.Material("RobotBody", (0.1, 0.1, 0.1), (0.85, 0.87, 0.9), (0.9, 0.9, 0.9),
                 bitmap="data\\robot.bmp", tiling=(2.0, 2.0)),
    ase.Material("RobotFace", (0.1, 0.1, 0.1), (1.0, 1.0, 1.0), (0.6, 0.6, 0.6),
                 bitmap="data\\robotface.bmp", tiling=(1.0, 1.0)),
    ase.Material("RobotJoint", (0.05, 0.05, 0.05), (0.25, 0.25, 0.27), (0.5, 0.5, 0.5)),
    ase.Material("RobotAccent", (0.1, 0.05, 0.0), (1.0, 0.55, 0.1), (0.8, 0.8, 0.8)),
]

# Texture repeats per unit of length on body parts, before the material's
# tiling multiplies it.
TEX_DENSITY = 1.5


def add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def scale(v, s):
    return (v[0] * s, v[1] * s, v[2] * s)


def box(center, half, textured, full_front=False):
    """A box with half extents half = (hx, hy, hz).

    Each face is a quad of four own vertices: corners c-r-u, c+r-u, c+r+u,
    c-r+u with r x u = outward normal, so both triangles are counter-clockwise
    from outside. With full_front the front face (-y) shows the whole texture
    once (the face panel); otherwise coordinates follow the face's size.
    """
    hx, hy, hz = half
    # (outward normal, right, up, half width along right, half height along up)
    faces = [
        ((0, -1, 0), (1, 0, 0), (0, 0, 1), hx, hz),   # front
        ((0, 1, 0), (-1, 0, 0), (0, 0, 1), hx, hz),   # back
        ((1, 0, 0), (0, 1, 0), (0, 0, 1), hy, hz),    # +x side
        ((-1, 0, 0), (0, -1, 0), (0, 0, 1), hy, hz),  # -x side
        ((0, 0, 1), (1, 0, 0), (0, 1, 0), hx, hy),    # top
        ((0, 0, -1), (1, 0, 0), (0, -1, 0), hx, hy),  # bottom
    ]
    m = ase.Mesh()
    for group, (n, r, u, hw, hh) in enumerate(faces):
        c = add(center, scale(n, abs(n[0]) * hx + abs(n[1]) * hy + abs(n[2]) * hz))
        base = len(m.verts)
        for sr, su in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
            m.verts.append(add(c, add(scale(r, sr * hw), scale(u, su * hh))))
            if textured:
                if full_front and group == 0:
                    m.tverts.append(((sr + 1) / 2, (su + 1) / 2))
                else:
                    m.tverts.append(((sr + 1) * hw * TEX_DENSITY, (su + 1) * hh * TEX_DENSITY))
        for tri in ((0, 1, 2), (0, 2, 3)):
            m.faces.append(tuple(base + k for k in tri))
            m.corner_normals.append((n, n, n))
            m.smoothing.append(group + 1)
    if textured:
        m.tfaces = list(m.faces)
    return m


def axis_basis(axis):
    """Two unit vectors e1, e2 with e1 x e2 = axis, for the axes used here."""
    return {
        (0, 0, 1): ((1, 0, 0), (0, 1, 0)),
        (0, 0, -1): ((0, 1, 0), (1, 0, 0)),
        (1, 0, 0): ((0, 1, 0), (0, 0, 1)),
        (-1, 0, 0): ((0, 0, 1), (0, 1, 0)),
    }[axis]


def cylinder(base, axis, radius, length, segments, textured, caps=()):
    """A cylinder from base along axis, closed at the ends named in caps
    ("top", "base"); ends that sit inside another part stay open, since every
    triangle costs drawing time in every frame.

    The side shares one ring of vertices at each end, so it is lit round;
    the caps have their own vertices and keep a sharp rim. Texture vertices
    run one further around the side than the vertices do, so the texture
    closes without a seam in the normals.
    """
    e1, e2 = axis_basis(axis)
    top = add(base, scale(axis, length))
    circumference = 2 * math.pi * radius
    m = ase.Mesh()

    def ring_dir(i):
        t = 2 * math.pi * i / segments
        return add(scale(e1, math.cos(t)), scale(e2, math.sin(t)))

    # Side: vertices 0..n-1 bottom ring, n..2n-1 top ring.
    n = segments
    for end in (base, top):
        for i in range(n):
            m.verts.append(add(end, scale(ring_dir(i), radius)))
    if textured:
        for v in (0.0, length * TEX_DENSITY):
            for i in range(n + 1):
                m.tverts.append((circumference * TEX_DENSITY * i / n, v))
    for i in range(n):
        j = (i + 1) % n
        quad = (i, j, n + j, n + i)
        tquad = (i, i + 1, n + 1 + i + 1, n + 1 + i)
        for tri in ((0, 1, 2), (0, 2, 3)):
            m.faces.append(tuple(quad[k] for k in tri))
            m.corner_normals.append(tuple(ring_dir((i, i + 1, i + 1, i)[k]) for k in tri))
            m.smoothing.append(1)
            if textured:
                m.tfaces.append(tuple(tquad[k] for k in tri))

    # Caps: a centre and an own ring each, fanned counter-clockwise from outside.
    for end, normal, flip, name in ((top, axis, False, "top"),
                                    (base, scale(axis, -1), True, "base")):
        if name not in caps:
            continue
        centre = len(m.verts)
        m.verts.append(end)
        for i in range(n):
            m.verts.append(add(end, scale(ring_dir(i), radius)))
        tcentre = len(m.tverts)
        if textured:
            m.tverts.append((radius * TEX_DENSITY, radius * TEX_DENSITY))
            for i in range(n):
                m.tverts.append(((1 + math.cos(2 * math.pi * i / n)) * radius * TEX_DENSITY,
                                 (1 + math.sin(2 * math.pi * i / n)) * radius * TEX_DENSITY))
        for i in range(n):
            a, b = 1 + i, 1 + (i + 1) % n
            if flip:
                a, b = b, a
            m.faces.append((centre, centre + a, centre + b))
            m.corner_normals.append((normal, normal, normal))
            m.smoothing.append(2)
            if textured:
                m.tfaces.append((tcentre, tcentre + a, tcentre + b))
    return m


def sphere(center, radius, slices, stacks):
    """An untextured sphere: a pole at each end, stacks - 1 shared rings."""
    m = ase.Mesh()

    def direction(k, i):
        p = math.pi * k / stacks
        t = 2 * math.pi * i / slices
        return (math.sin(p) * math.cos(t), math.sin(p) * math.sin(t), math.cos(p))

    m.verts.append(add(center, (0.0, 0.0, radius)))
    normals = [(0.0, 0.0, 1.0)]
    for k in range(1, stacks):
        for i in range(slices):
            d = direction(k, i)
            m.verts.append(add(center, scale(d, radius)))
            normals.append(d)
    bottom = len(m.verts)
    m.verts.append(add(center, (0.0, 0.0, -radius)))
    normals.append((0.0, 0.0, -1.0))

    def ring(k, i):
        return 1 + (k - 1) * slices + i % slices

    tris = []
    for i in range(slices):
        tris.append((0, ring(1, i), ring(1, i + 1)))
    for k in range(1, stacks - 1):
        for i in range(slices):
            # Upper ring k, lower ring k + 1; quad lower_i, lower_i+1, upper_i+1, upper_i.
            quad = (ring(k + 1, i), ring(k + 1, i + 1), ring(k, i + 1), ring(k, i))
            tris.append((quad[0], quad[1], quad[2]))
            tris.append((quad[0], quad[2], quad[3]))
    for i in range(slices):
        tris.append((bottom, ring(stacks - 1, i + 1), ring(stacks - 1, i)))
    for t in tris:
        m.faces.append(t)
        m.corner_normals.append(tuple(normals[v] for v in t))
        m.smoothing.append(1)
    return m


def robot_parts():
    """(name, mesh, material, centre) for every part, textured parts first.

    The file's last object is untextured on purpose (the antenna tip).
    """
    parts = []

    def part(name, mesh, material, centre):
        parts.append((name, mesh, material, centre))

    for side, x in (("L", 0.16), ("R", -0.16)):
        # Feet reach forward (-y) beyond the ankle.
        part("Foot" + side, box((x, -0.05, -0.40), (0.11, 0.17, 0.05), True), BODY,
             (x, -0.05, -0.40))
        part("LowerLeg" + side, cylinder((x, 0.0, -0.35), (0, 0, 1), 0.07, 0.37, 8, True),
             BODY, (x, 0.0, -0.165))
        part("UpperLeg" + side, cylinder((x, 0.0, 0.08), (0, 0, 1), 0.085, 0.31, 8, True),
             BODY, (x, 0.0, 0.235))
    part("Hips", box((0.0, 0.0, 0.46), (0.27, 0.13, 0.07), True), BODY, (0.0, 0.0, 0.46))
    part("Torso", box((0.0, 0.0, 0.80), (0.28, 0.16, 0.20), True), BODY, (0.0, 0.0, 0.80))
    for side, x in (("L", 0.36), ("R", -0.36)):
        part("UpperArm" + side, cylinder((x, 0.0, 0.92), (0, 0, -1), 0.065, 0.25, 8, True),
             BODY, (x, 0.0, 0.795))
        part("LowerArm" + side, cylinder((x, 0.0, 0.62), (0, 0, -1), 0.06, 0.22, 8, True),
             BODY, (x, 0.0, 0.51))
    part("Head", box((0.0, 0.0, 1.185), (0.16, 0.14, 0.115), True), BODY, (0.0, 0.0, 1.185))
    part("Face", box((0.0, -0.15, 1.185), (0.13, 0.01, 0.085), True, full_front=True), FACE,
         (0.0, -0.15, 1.185))

    part("ChestPlate", box((0.0, -0.175, 0.83), (0.18, 0.015, 0.11), False), ACCENT,
         (0.0, -0.175, 0.83))
    part("Waist", cylinder((0.0, 0.0, 0.53), (0, 0, 1), 0.14, 0.07, 8, False), JOINT,
         (0.0, 0.0, 0.565))
    part("Neck", cylinder((0.0, 0.0, 1.0), (0, 0, 1), 0.06, 0.07, 8, False), JOINT,
         (0.0, 0.0, 1.035))
    for side, x in (("L", 1.0), ("R", -1.0)):
        part("Knee" + side, sphere((0.16 * x, 0.0, 0.05), 0.085, 8, 4), JOINT,
             (0.16 * x, 0.0, 0.05))
        part("Shoulder" + side, sphere((0.36 * x, 0.0, 0.95), 0.10, 8, 4), JOINT,
             (0.36 * x, 0.0, 0.95))
        part("Elbow" + side, sphere((0.36 * x, 0.0, 0.645), 0.07, 8, 4), JOINT,
             (0.36 * x, 0.0, 0.645))
        part("Hand" + side, box((0.36 * x, -0.01, 0.335), (0.05, 0.06, 0.065), False), JOINT,
             (0.36 * x, -0.01, 0.335))
        ear = (1, 0, 0) if x > 0 else (-1, 0, 0)
        part("Ear" + side, cylinder((0.16 * x, 0.0, 1.2), ear, 0.05, 0.03, 8, False, ("top",)), JOINT,
             (0.175 * x, 0.0, 1.2))
        part("Eye" + side, sphere((0.055 * x, -0.16, 1.215), 0.022, 6, 3), ACCENT,
             (0.055 * x, -0.16, 1.215))
    part("Antenna", cylinder((0.0, 0.0, 1.3), (0, 0, 1), 0.012, 0.16, 8, False), JOINT,
         (0.0, 0.0, 1.38))
    part("AntennaTip", sphere((0.0, 0.0, 1.48), 0.035, 6, 4), ACCENT, (0.0, 0.0, 1.48))
    return parts


def check(parts):
    """Every part is convex: each triangle must face away from its centre."""
    for name, mesh, material, centre in parts:
        assert mesh.textured() == (MATERIALS[material].bitmap is not None), name
        for f in mesh.faces:
            a, b, c = (mesh.verts[i] for i in f)
            n = ase.cross(ase.sub(b, a), ase.sub(c, a))
            mid = scale(add(add(a, b), c), 1.0 / 3.0)
            d = ase.sub(mid, centre)
            assert n[0] * d[0] + n[1] * d[1] + n[2] * d[2] > 0, "%s winds inward" % name
    assert not parts[-1][1].textured(), "the last object must be untextured"
    lowest = min(v[2] for _, m, _, _ in parts for v in m.verts)
    assert abs(lowest + 0.45) < 1e-9, lowest


def placed(parts, up="z", scale_by=1.0, offset=(0.0, 0.0, 0.0)):
    """The parts in another tool's axes and units. A y-up tool has the
    robot's z as its y and the robot's front (-y) as its +z: (x, y, z) is
    written as (x, z, -y), a turn that keeps every triangle's winding."""
    def turn(v):
        return (v[0], v[2], -v[1]) if up == "y" else v

    def move(v):
        return add(scale(turn(v), scale_by), offset)

    out = []
    for name, mesh, material, centre in parts:
        m = ase.Mesh()
        m.verts = [move(v) for v in mesh.verts]
        m.faces = list(mesh.faces)
        m.corner_normals = [tuple(turn(n) for n in corners) for corners in mesh.corner_normals]
        m.tverts, m.tfaces, m.smoothing = list(mesh.tverts), list(mesh.tfaces), list(mesh.smoothing)
        out.append((name, m, material, move(centre)))
    return out


def write_model(path, up="z", scale_by=1.0, offset=(0.0, 0.0, 0.0), bitmaps=None,
                material_list=True):
    """Writes the robot to path; the defaults give data/robot.ase. bitmaps
    maps material names to the bitmap paths they name instead of their own."""
    parts = robot_parts()
    check(parts)
    if (up, scale_by, offset) != ("z", 1.0, (0.0, 0.0, 0.0)) or not material_list:
        parts = placed(parts, up, scale_by, offset)
    if not material_list:
        for _, mesh, _, _ in parts:
            mesh.tverts, mesh.tfaces = [], []
    materials = []
    for m in MATERIALS:
        bitmap = (bitmaps or {}).get(m.name, m.bitmap)
        materials.append(ase.Material(m.name, m.ambient, m.diffuse, m.specular, bitmap=bitmap,
                                      tiling=m.tiling))
    text = io.StringIO()
    ase.header(text, "robot.ase" if path == "-" else os.path.basename(path))
    if material_list:
        ase.material_list(text, materials)
    for name, mesh, material, centre in parts:
        ase.geomobject(text, name, mesh, material, centre)
    if path == "-":
        sys.stdout.write(text.getvalue())
        sys.stdout.flush()
        return parts
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", newline="\n") as out:
        out.write(text.getvalue())
    return parts


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0],
        epilog="The shipped model is written by `scripts/gen_robot_ase.py data/robot.ase`; "
               "the options write the same robot as other tools would export it.")
    parser.add_argument("output", metavar="OUTPUT",
                        help="the file to write (its folder is created), or - for standard output")
    parser.add_argument("--up", choices=("z", "y"), default="z",
                        help="the up axis of the written coordinates: z (the default, as "
                             "data/robot.ase) or y (y up, the face towards +z)")
    parser.add_argument("--scale", type=float, default=1.0, metavar="S",
                        help="multiply every position by S (default 1)")
    parser.add_argument("--offset", type=float, nargs=3, default=(0.0, 0.0, 0.0),
                        metavar=("X", "Y", "Z"),
                        help="then move the robot by (X, Y, Z), in the written axes")
    parser.add_argument("--bitmap", action="append", default=[], metavar="NAME=PATH",
                        help="the material NAME (RobotBody, RobotFace) names the bitmap PATH "
                             "instead of its own; may be given more than once")
    parser.add_argument("--no-material-list", action="store_true",
                        help="leave out the material list and the texture coordinates, as "
                             "exporters of plain geometry do")
    args = parser.parse_args()
    for b in args.bitmap:
        if "=" not in b:
            parser.error("--bitmap takes NAME=PATH, not %r" % b)
    bitmaps = dict(b.split("=", 1) for b in args.bitmap)
    path = args.output if args.output == "-" else os.path.normpath(args.output)
    parts = write_model(path, args.up, args.scale, tuple(args.offset), bitmaps,
                        not args.no_material_list)
    verts = sum(len(m.verts) for _, m, _, _ in parts)
    faces = sum(len(m.faces) for _, m, _, _ in parts)
    size = "" if path == "-" else ", %d bytes" % os.path.getsize(path)
    print("%s: %d objects, %d vertices, %d triangles%s"
          % ("standard output" if path == "-" else path, len(parts), verts, faces, size),
          file=sys.stderr if path == "-" else sys.stdout)


if __name__ == "__main__":
    main()
