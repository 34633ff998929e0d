#!/usr/bin/env python3
"""Writes large ASE models for the reader benchmark.

Same layout as the exporter files the program reads (tabs, four-decimal
floats, face lines with edge flags, smoothing group and material id,
*MESH_NORMALS blocks, map blocks in the materials): such files take about
700 bytes per vertex. Every object is a closed sphere whose vertices are
shared between its triangles, so the computed vertex normals mean something
(they should come out as the sphere's radial directions); the texture
vertices form their own grid with a seam column, as exporters write them.

Usage:
  gen_ase_bench.py --mb 50 --objects 4 --out big.ase
  gen_ase_bench.py --mb 50 --objects 1 --out single.ase
  gen_ase_bench.py --vertices 250000 --objects 1 --out normals.ase
  gen_ase_bench.py --overlap --objects 4000 --out overlap.ase

With --mb the sphere resolution is chosen so that the file comes out close
to that many megabytes (10^6 bytes); --vertices fixes the vertex count of
each object instead.

--overlap writes a crafted file instead: small objects that each begin in
the middle of a long line, behind the 99 characters that the reader throws
away after a word it does not want, where only the object-finding pass sees
them. Every other pass of every object reads on through all later objects.
"""

import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ase_layout as ase  # noqa: E402

MATERIALS = [
    ase.Material("HullPlates", (0.1, 0.1, 0.1), (0.8, 0.8, 0.8), (0.9, 0.9, 0.9),
                 bitmap="data\\robot.bmp", tiling=(2.0, 2.0)),
    ase.Material("Trim", (0.1, 0.1, 0.1), (0.6, 0.5, 0.4), (0.5, 0.5, 0.5),
                 bitmap="data\\robotface.bmp", tiling=(1.0, 1.0)),
]


def sphere_grid(vertices):
    """Slices and stacks of a sphere with about this many vertices.

    The sphere has slices * (stacks - 1) + 2 vertices and twice as many
    slices as stacks, which keeps its triangles close to equilateral.
    """
    stacks = max(3, int(round(math.sqrt(vertices / 2.0))))
    slices = max(3, int(round((vertices - 2) / float(stacks - 1))))
    return slices, stacks


def write_sphere(w, name, slices, stacks, centre, radius, material):
    cx, cy, cz = centre
    rings = stacks - 1
    nverts = slices * rings + 2
    nfaces = 2 * slices * rings

    # Vertex 0 is the top pole, then ring after ring from the top, then the
    # bottom pole. dirs holds the radial unit vector of each vertex.
    dirs = [(0.0, 0.0, 1.0)]
    cos_t = [math.cos(2 * math.pi * i / slices) for i in range(slices)]
    sin_t = [math.sin(2 * math.pi * i / slices) for i in range(slices)]
    for k in range(1, stacks):
        p = math.pi * k / stacks
        sp, cp = math.sin(p), math.cos(p)
        dirs.extend([(sp * cos_t[i], sp * sin_t[i], cp) for i in range(slices)])
    dirs.append((0.0, 0.0, -1.0))
    bottom = nverts - 1
    normal_text = ["%.4f\t%.4f\t%.4f" % d for d in dirs]

    # Triangles counter-clockwise seen from outside, with their texture
    # triangles. Texture vertex (k, i) of the (stacks + 1) x (slices + 1)
    # grid is k * (slices + 1) + i; column slices repeats column 0 at u = 1.
    faces = []
    tfaces = []
    tw = slices + 1
    for i in range(slices):
        j = (i + 1) % slices
        faces.append((0, 1 + i, 1 + j))
        tfaces.append((i, tw + i, tw + i + 1))
    for k in range(1, rings):
        up = 1 + (k - 1) * slices
        lo = up + slices
        tup = k * tw
        tlo = tup + tw
        for i in range(slices):
            j = (i + 1) % slices
            faces.append((lo + i, lo + j, up + j))
            faces.append((lo + i, up + j, up + i))
            tfaces.append((tlo + i, tlo + i + 1, tup + i + 1))
            tfaces.append((tlo + i, tup + i + 1, tup + i))
    last = 1 + (rings - 1) * slices
    tlast = rings * tw
    for i in range(slices):
        j = (i + 1) % slices
        faces.append((bottom, last + j, last + i))
        tfaces.append((tlast + tw + i, tlast + i + 1, tlast + i))
    assert len(faces) == nfaces

    w("*GEOMOBJECT {\n")
    w('\t*NODE_NAME "%s"\n' % name)
    w("\t*NODE_TM {\n")
    w('\t\t*NODE_NAME "%s"\n' % name)
    w("\t\t*INHERIT_POS 0 0 0\n\t\t*INHERIT_ROT 0 0 0\n\t\t*INHERIT_SCL 0 0 0\n")
    w("\t\t*TM_ROW0 1.0000\t0.0000\t0.0000\n\t\t*TM_ROW1 0.0000\t1.0000\t0.0000\n")
    w("\t\t*TM_ROW2 0.0000\t0.0000\t1.0000\n")
    w("\t\t*TM_ROW3 %.4f\t%.4f\t%.4f\n\t\t*TM_POS %.4f\t%.4f\t%.4f\n" % (centre + centre))
    w("\t\t*TM_ROTAXIS 0.0000\t0.0000\t0.0000\n\t\t*TM_ROTANGLE 0.0000\n")
    w("\t\t*TM_SCALE 1.0000\t1.0000\t1.0000\n\t\t*TM_SCALEAXIS 0.0000\t0.0000\t0.0000\n")
    w("\t\t*TM_SCALEAXISANG 0.0000\n\t}\n")
    w("\t*MESH {\n\t\t*TIMEVALUE 0\n")
    w("\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n" % (nverts, nfaces))
    w("\t\t*MESH_VERTEX_LIST {\n")
    w("".join(["\t\t\t*MESH_VERTEX %4d\t%.4f\t%.4f\t%.4f\n"
               % (n, cx + radius * d[0], cy + radius * d[1], cz + radius * d[2])
               for n, d in enumerate(dirs)]))
    w("\t\t}\n\t\t*MESH_FACE_LIST {\n")
    w("".join(["\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB:    1 BC:    1 CA:    0"
               "\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0\n" % (n, f[0], f[1], f[2])
               for n, f in enumerate(faces)]))
    w("\t\t}\n")
    ntverts = (stacks + 1) * tw
    w("\t\t*MESH_NUMTVERTEX %d\n\t\t*MESH_TVERTLIST {\n" % ntverts)
    us = ["%.4f" % (i / float(slices)) for i in range(tw)]
    lines = []
    n = 0
    for k in range(stacks + 1):
        v = "%.4f" % (1.0 - k / float(stacks))
        for i in range(tw):
            lines.append("\t\t\t*MESH_TVERT %d\t%s\t%s\t0.0000\n" % (n, us[i], v))
            n += 1
    w("".join(lines))
    w("\t\t}\n\t\t*MESH_NUMTVFACES %d\n\t\t*MESH_TFACELIST {\n" % nfaces)
    w("".join(["\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n" % (n, t[0], t[1], t[2])
               for n, t in enumerate(tfaces)]))
    w("\t\t}\n\t\t*MESH_NORMALS {\n")
    # The face normal written is the mean of the corners' radial directions,
    # which for a fine sphere is the true face normal to four decimals.
    lines = []
    for n, (a, b, c) in enumerate(faces):
        da, db, dc = dirs[a], dirs[b], dirs[c]
        sx, sy, sz = da[0] + db[0] + dc[0], da[1] + db[1] + dc[1], da[2] + db[2] + dc[2]
        s = 1.0 / math.sqrt(sx * sx + sy * sy + sz * sz)
        lines.append("\t\t\t*MESH_FACENORMAL %d\t%.4f\t%.4f\t%.4f\n"
                     "\t\t\t\t*MESH_VERTEXNORMAL %d\t%s\n"
                     "\t\t\t\t*MESH_VERTEXNORMAL %d\t%s\n"
                     "\t\t\t\t*MESH_VERTEXNORMAL %d\t%s\n"
                     % (n, sx * s, sy * s, sz * s, a, normal_text[a], b, normal_text[b],
                        c, normal_text[c]))
    w("".join(lines))
    w("\t\t}\n\t}\n")
    w("\t*PROP_MOTIONBLUR 0\n\t*PROP_CASTSHADOW 1\n\t*PROP_RECVSHADOW 1\n")
    w("\t*MATERIAL_REF %d\n}\n" % material)
    return nverts, nfaces


class Counter:
    """A file-like sink that only counts bytes, for sizing probes."""

    def __init__(self):
        self.size = 0

    def write(self, text):
        self.size += len(text)


def bytes_per_vertex(vertices):
    probe = Counter()
    slices, stacks = sphere_grid(vertices)
    nverts, _ = write_sphere(probe.write, "Probe", slices, stacks, (0.0, 0.0, 0.0), 1.0, 0)
    return probe.size / float(nverts)


def write_overlapping(out, objects):
    out.write("*MATERIAL_COUNT 1\n*MATERIAL 0 {\n\t*UVW_U_TILING 1.0\n\t*UVW_V_TILING 1.0\n}\n")
    for n in range(objects):
        out.write("*MESH_VERTEX 0 1 2 3" + " " * 85 + "xxxxxx*GEOMOBJECT {\n"
                  "\t*MESH_NUMVERTEX 3\n\t*MESH_NUMFACES 1\n\t*MESH_NUMTVERTEX 1\n"
                  "\t*MESH_VERTEX 0\t%d.0\t0.0\t0.0\n\t*MESH_VERTEX 1\t1.0\t0.0\t0.0\n"
                  "\t*MESH_VERTEX 2\t0.0\t1.0\t0.0\n\t*MESH_TVERT 0\t0.0\t0.0\t0.0\n"
                  "\t*MESH_FACE 0: A: 0 B: 1 C: 2\n\t*MESH_TFACE 0\t0\t0\t0\n"
                  "\t*MATERIAL_REF 0\n" % n)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    size = parser.add_mutually_exclusive_group(required=True)
    size.add_argument("--mb", type=float, help="target file size in megabytes (10^6 bytes)")
    size.add_argument("--vertices", type=int, help="vertices per object")
    size.add_argument("--overlap", action="store_true", help="crafted overlapping objects")
    parser.add_argument("--objects", type=int, default=1, help="number of objects (default 1)")
    parser.add_argument("--out", required=True, help="output file")
    args = parser.parse_args()
    if args.objects < 1:
        parser.error("--objects must be at least 1")

    if args.overlap:
        with open(args.out, "w", newline="\n") as out:
            write_overlapping(out, args.objects)
        print("%s: %d overlapping objects, %d bytes"
              % (args.out, args.objects, os.path.getsize(args.out)))
        return
    if args.vertices:
        per_object = args.vertices
    else:
        # Size a small probe, then a probe at the real scale, where longer
        # indices make the lines a little longer.
        target = args.mb * 1e6 / args.objects
        per_object = max(10, int(target / bytes_per_vertex(2000)))
        if per_object > 20000:
            per_object = max(10, int(target / bytes_per_vertex(per_object // 4) * 0.99))
    slices, stacks = sphere_grid(per_object)

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    total_v = total_f = 0
    with open(args.out, "w", newline="\n", buffering=1 << 20) as out:
        ase.header(out, os.path.basename(args.out))
        ase.material_list(out, MATERIALS)
        columns = int(math.ceil(math.sqrt(args.objects)))
        for n in range(args.objects):
            centre = (2.5 * (n % columns), 2.5 * (n // columns), 0.0)
            v, f = write_sphere(out.write, "Sphere%02d" % (n + 1), slices, stacks, centre, 1.0,
                                n % len(MATERIALS))
            total_v += v
            total_f += f
    print("%s: %d objects, %d vertices, %d triangles, %d bytes"
          % (args.out, args.objects, total_v, total_f, os.path.getsize(args.out)))


if __name__ == "__main__":
    main()
