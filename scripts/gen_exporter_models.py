#!/usr/bin/env python3
"""Writes small models the way exporters write them, for trying and testing
`robot MODEL.ase` with what a model's file gives the picture:

  hard-box.ase     a box tilted by its *NODE_TM, eight corner vertices, no
                   smoothing groups, the exporter's own corner normals in the
                   object's space: flat sides with hard edges
  sides-box.ase    the same box with one smoothing group per side (2 to 7)
                   and no normals: flat sides too
  smooth-box.ase   the same box with all its faces in group 1: lit round
  multi-box.ase    a box turned 45 degrees with a Multi/Sub-Object material
                   of three colours, chosen per face by *MESH_MTLID (ids past
                   the count included)
  leaf.ase         an upright quad whose picture, "C:\\My Maps\\cut out
                   leaf.png" (found beside the model), is opaque red on its
                   left half and fully transparent on its right half; its
                   diffuse map has no tiling lines and a bump map follows it
  coloured-box.ase an upright red box whose vertex colours are white at its
                   top corners and black at its bottom ones: with its vertex
                   colours shown (V), each side darkens towards the ground

Usage: gen_exporter_models.py FOLDER
"""

import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ase_layout as ase  # noqa: E402
import gen_bitmaps  # noqa: E402

HALF = 20.0
PIVOT = (100.0, 50.0, 30.0)

# Each side of a box: its outward normal and the corners (signs of x, y, z)
# counter-clockwise seen from outside.
SIDES = [
    ((1, 0, 0), [(1, -1, -1), (1, 1, -1), (1, 1, 1), (1, -1, 1)]),
    ((-1, 0, 0), [(-1, 1, -1), (-1, -1, -1), (-1, -1, 1), (-1, 1, 1)]),
    ((0, 1, 0), [(1, 1, -1), (-1, 1, -1), (-1, 1, 1), (1, 1, 1)]),
    ((0, -1, 0), [(-1, -1, -1), (1, -1, -1), (1, -1, 1), (-1, -1, 1)]),
    ((0, 0, 1), [(-1, -1, 1), (1, -1, 1), (1, 1, 1), (-1, 1, 1)]),
    ((0, 0, -1), [(-1, 1, -1), (1, 1, -1), (1, -1, -1), (-1, -1, -1)]),
]
CORNERS = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]


def rotation(axis, degrees):
    """The rows of a turn about a coordinate axis ("x" or "z") in ASE's
    convention: row i is where the object's axis i points."""
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    if axis == "x":
        return ((1.0, 0.0, 0.0), (0.0, c, s), (0.0, -s, c))
    return ((c, s, 0.0), (-s, c, 0.0), (0.0, 0.0, 1.0))


def then(first, second):
    """Rows of first followed by second."""
    return tuple(tuple(sum(first[i][k] * second[k][j] for k in range(3)) for j in range(3))
                 for i in range(3))


def to_file(rows, p, pivot=PIVOT):
    return tuple(sum(p[i] * rows[i][j] for i in range(3)) + pivot[j] for j in range(3))


# The hard box leans over by 25 degrees and is turned by 40, so that the
# three sides the cameras see each face the light differently.
TILTED = then(rotation("x", 25.0), rotation("z", -40.0))
TURNED = rotation("z", 45.0)


class Box:
    """A box of eight corner vertices in the file's axes, two faces a side,
    with what a test needs to know of each side: its outward normal in the
    file's axes, its corner vertex indices and its material id."""

    def __init__(self, rows, smoothing, mtlids=None):
        self.mesh = ase.Mesh()
        self.rows = rows
        self.mesh.verts = [to_file(rows, tuple(HALF * c for c in corner)) for corner in CORNERS]
        self.sides = []
        for s, (normal, corners) in enumerate(SIDES):
            quad = [CORNERS.index(c) for c in corners]
            mtlid = mtlids[s] if mtlids else 0
            for tri in ((0, 1, 2), (0, 2, 3)):
                self.mesh.faces.append(tuple(quad[k] for k in tri))
                self.mesh.corner_normals.append((normal, normal, normal))
                self.mesh.smoothing.append({"none": [], "sides": s + 2, "smooth": 1}[smoothing])
                self.mesh.mtlids.append(mtlid)
            self.sides.append((to_file(rows, normal, (0.0, 0.0, 0.0)), quad, mtlid))
        self.mesh.normals = smoothing == "none"


def white(name):
    return ase.Material(name, (0.0, 0.0, 0.0), (1.0, 1.0, 1.0), (0.0, 0.0, 0.0))


def write(path, materials, objects):
    with open(path, "w", newline="\n") as out:
        ase.header(out, os.path.basename(path))
        ase.material_list(out, materials)
        for name, mesh, material, rows in objects:
            ase.geomobject(out, name, mesh, material, PIVOT, rows)


def write_box(path, smoothing):
    """A white, unshiny box tilted by its transform; smoothing is "none"
    (with the exporter's normals), "sides" or "smooth". Returns the Box."""
    box = Box(TILTED, smoothing)
    write(path, [white("Crate")], [("Crate", box.mesh, 0, box.rows)])
    return box


SUB_COLOURS = [(1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0)]


def write_multi_box(path):
    """A box whose one material has three sub-materials, red, green and
    blue. The sides the cameras see use ids 3 (red, one past the count), 1
    (green) and 5 (blue). Returns the Box."""
    # Sides +x, -x, +y, -y, top, bottom; turned by 45 degrees, +x and +y
    # face the cameras.
    box = Box(TURNED, "none", mtlids=[5, 0, 1, 2, 3, 4])
    subs = [ase.Material("Paint%d" % i, (0.0, 0.0, 0.0), c, (0.0, 0.0, 0.0))
            for i, c in enumerate(SUB_COLOURS)]
    multi = ase.Material("Paints", (0.0, 0.0, 0.0), (1.0, 1.0, 1.0), (0.0, 0.0, 0.0),
                         sub_materials=subs)
    write(path, [multi], [("PaintedBox", box.mesh, 0, box.rows)])
    return box


LEAF_BITMAP = "C:\\My Maps\\cut out leaf.png"


def write_leaf(folder):
    """The cut-out quad and its picture (16 by 16, left half opaque red,
    right half transparent blue). Returns the model's path and, for each of
    its four vertices in the file's axes, the texture u there."""
    half = [(255, 0, 0, 255)] * 8 + [(0, 0, 255, 0)] * 8
    gen_bitmaps.write_png(os.path.join(folder, "cut out leaf.png"), 16, 16, [half] * 16)
    mesh = ase.Mesh()
    # Upright in the file's x-z plane, facing +y: towards the cameras, which
    # look at a model's back. Seen from there, u runs from left to right.
    mesh.verts = [(HALF, 0.0, 0.0), (-HALF, 0.0, 0.0), (-HALF, 0.0, 2 * HALF),
                  (HALF, 0.0, 2 * HALF)]
    mesh.faces = [(0, 1, 2), (0, 2, 3)]
    mesh.corner_normals = [((0, 1, 0),) * 3] * 2
    mesh.tverts = [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0)]
    mesh.tfaces = list(mesh.faces)
    leaf = ase.Material("Leaf", (0.0, 0.0, 0.0), (1.0, 1.0, 1.0), (0.0, 0.0, 0.0),
                        bitmap=LEAF_BITMAP, tiling=None, extra_maps=[("MAP_BUMP", "bump.png")],
                        one_word=False)
    path = os.path.join(folder, "leaf.ase")
    with open(path, "w", newline="\n") as out:
        ase.header(out, "leaf.ase")
        ase.material_list(out, [leaf])
        ase.geomobject(out, "Leaf", mesh, 0)
    return path, [t[0] for t in mesh.tverts]


def write_coloured_box(path):
    """The upright red box with vertex colours, one colour vertex for each
    vertex. Returns the Box."""
    box = Box(ase.IDENTITY, "none")
    red = ase.Material("Paint", (0.0, 0.0, 0.0), (1.0, 0.0, 0.0), (0.0, 0.0, 0.0))
    write(path, [red], [("PaintedBox", box.mesh, 0, box.rows)])
    colours = ["\t\t*MESH_NUMCVERTEX %d\n\t\t*MESH_CVERTLIST {\n" % len(CORNERS)]
    colours += ["\t\t\t*MESH_VERTCOL %d\t%s\n" % (i, ase.fmt3((1.0 if c[2] > 0 else 0.0,) * 3))
                for i, c in enumerate(CORNERS)]
    colours += ["\t\t}\n\t\t*MESH_NUMCVFACES %d\n\t\t*MESH_CFACELIST {\n" % len(box.mesh.faces)]
    colours += ["\t\t\t*MESH_CFACE %d\t%d\t%d\t%d\n" % ((i,) + f)
                for i, f in enumerate(box.mesh.faces)]
    colours += ["\t\t}\n"]
    with open(path) as f:
        text = f.read()
    # The colour lists stand where exporters write them, before the normals.
    with open(path, "w", newline="\n") as f:
        f.write(text.replace("\t\t*MESH_NORMALS {", "".join(colours) + "\t\t*MESH_NORMALS {", 1))
    return box


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\nUsage:")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", metavar="FOLDER",
                        help="where to write them (made when missing)")
    folder = parser.parse_args().folder
    os.makedirs(folder, exist_ok=True)
    for kind, name in (("none", "hard-box.ase"), ("sides", "sides-box.ase"),
                       ("smooth", "smooth-box.ase")):
        write_box(os.path.join(folder, name), kind)
    write_multi_box(os.path.join(folder, "multi-box.ase"))
    write_leaf(folder)
    write_coloured_box(os.path.join(folder, "coloured-box.ase"))
    print("wrote hard-box.ase, sides-box.ase, smooth-box.ase, multi-box.ase, leaf.ase, "
          "\"cut out leaf.png\" and coloured-box.ase in %s" % folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
