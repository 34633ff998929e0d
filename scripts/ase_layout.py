"""Writes meshes and materials as ASE text in the usual exporter layout.

Shared by gen_robot_ase.py (the robot model) and gen_ase_bench.py (large
models for the reader benchmark). Everything is formatted the way exporters
write it: tab indentation, floats with four decimals, one keyword per line,
per-face and per-corner normals in a *MESH_NORMALS block. The robot's own
reading takes only counts, vertices, faces, texture vertices, texture faces
and the material reference; a model of the user's is read with its object
transforms, normals, smoothing groups, material ids and sub-materials.
"""

import math


def fmt3(v):
    return "%.4f\t%.4f\t%.4f" % v


def header(out, scene_name):
    out.write("*ASCIIEXPORT\t200\n")
    out.write('*COMMENT "AsciiExport Version  2.00 - robot scene model generator"\n')
    out.write("*SCENE {\n")
    out.write('\t*SCENE_FILENAME "%s"\n' % scene_name)
    out.write("\t*SCENE_FIRSTFRAME 0\n")
    out.write("\t*SCENE_LASTFRAME 100\n")
    out.write("\t*SCENE_FRAMESPEED 30\n")
    out.write("\t*SCENE_TICKSPERFRAME 160\n")
    out.write("\t*SCENE_BACKGROUND_STATIC 0.0000\t0.0000\t0.0000\n")
    out.write("\t*SCENE_AMBIENT_STATIC 0.0000\t0.0000\t0.0000\n")
    out.write("}\n")


class Material:
    """A material as an exporter writes it. tiling None leaves the tiling
    lines out of the diffuse map; extra_maps are (keyword, bitmap) pairs of
    further map blocks (bump, specular...) written after the diffuse one;
    sub_materials make it a Multi/Sub-Object material. Names and bitmaps of
    one_word materials have no blanks: the robot's own reading keeps only
    the first word of a quoted text."""

    def __init__(self, name, ambient, diffuse, specular, bitmap=None, tiling=(1.0, 1.0),
                 extra_maps=(), sub_materials=(), one_word=True):
        if one_word:
            assert " " not in name and (bitmap is None or " " not in bitmap)
        self.name = name
        self.ambient = ambient
        self.diffuse = diffuse
        self.specular = specular
        self.bitmap = bitmap
        self.tiling = tiling
        self.extra_maps = list(extra_maps)
        self.sub_materials = list(sub_materials)


def _map_block(out, t, keyword, number, subno, bitmap, tiling):
    out.write("%s*%s {\n" % (t, keyword))
    out.write('%s\t*MAP_NAME "Map#%d"\n' % (t, number))
    out.write('%s\t*MAP_CLASS "Bitmap"\n' % t)
    out.write("%s\t*MAP_SUBNO %d\n" % (t, subno))
    out.write("%s\t*MAP_AMOUNT 1.0000\n" % t)
    out.write('%s\t*BITMAP "%s"\n' % (t, bitmap))
    out.write("%s\t*MAP_TYPE Screen\n" % t)
    out.write("%s\t*UVW_U_OFFSET 0.0000\n" % t)
    out.write("%s\t*UVW_V_OFFSET 0.0000\n" % t)
    if tiling is not None:
        out.write("%s\t*UVW_U_TILING %.4f\n" % (t, tiling[0]))
        out.write("%s\t*UVW_V_TILING %.4f\n" % (t, tiling[1]))
    out.write("%s\t*UVW_ANGLE 0.0000\n" % t)
    out.write("%s\t*UVW_BLUR 1.0000\n" % t)
    out.write("%s\t*UVW_BLUR_OFFSET 0.0000\n" % t)
    out.write("%s\t*UVW_NOUSE_AMT 1.0000\n" % t)
    out.write("%s\t*UVW_NOISE_SIZE 1.0000\n" % t)
    out.write("%s\t*UVW_NOISE_LEVEL 1\n" % t)
    out.write("%s\t*UVW_NOISE_PHASE 0.0000\n" % t)
    out.write("%s\t*BITMAP_FILTER Pyramidal\n" % t)
    out.write("%s}\n" % t)


def _material_body(out, m, n, depth):
    t = "\t" * depth
    out.write('%s*MATERIAL_NAME "%s"\n' % (t, m.name))
    out.write('%s*MATERIAL_CLASS "%s"\n' % (t, "Multi/Sub-Object" if m.sub_materials
                                             else "Standard"))
    out.write("%s*MATERIAL_AMBIENT %s\n" % (t, fmt3(m.ambient)))
    out.write("%s*MATERIAL_DIFFUSE %s\n" % (t, fmt3(m.diffuse)))
    out.write("%s*MATERIAL_SPECULAR %s\n" % (t, fmt3(m.specular)))
    out.write("%s*MATERIAL_SHINE 0.2500\n" % t)
    out.write("%s*MATERIAL_SHINESTRENGTH 0.0500\n" % t)
    out.write("%s*MATERIAL_TRANSPARENCY 0.0000\n" % t)
    out.write("%s*MATERIAL_WIRESIZE 1.0000\n" % t)
    out.write("%s*MATERIAL_SHADING Blinn\n" % t)
    out.write("%s*MATERIAL_XP_FALLOFF 0.0000\n" % t)
    out.write("%s*MATERIAL_SELFILLUM 0.0000\n" % t)
    out.write("%s*MATERIAL_FALLOFF In\n" % t)
    out.write("%s*MATERIAL_XP_TYPE Filter\n" % t)
    if m.bitmap:
        _map_block(out, t, "MAP_DIFFUSE", n + 1, 1, m.bitmap, m.tiling)
    for k, (keyword, bitmap) in enumerate(m.extra_maps):
        _map_block(out, t, keyword, n + 2 + k, 2 + k, bitmap, m.tiling)
    if m.sub_materials:
        out.write("%s*NUMSUBMTLS %d\n" % (t, len(m.sub_materials)))
        for i, sub in enumerate(m.sub_materials):
            out.write("%s*SUBMATERIAL %d {\n" % (t, i))
            _material_body(out, sub, i, depth + 1)
            out.write("%s}\n" % t)


def material_list(out, materials):
    out.write("*MATERIAL_LIST {\n")
    out.write("\t*MATERIAL_COUNT %d\n" % len(materials))
    for n, m in enumerate(materials):
        out.write("\t*MATERIAL %d {\n" % n)
        _material_body(out, m, n, 2)
        out.write("\t}\n")
    out.write("}\n")


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def unit(v):
    length = math.sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])
    if length == 0.0:
        return (0.0, 0.0, 0.0)
    return (v[0] / length, v[1] / length, v[2] / length)


def face_normal(verts, face):
    a, b, c = (verts[i] for i in face)
    return unit(cross(sub(b, a), sub(c, a)))


class Mesh:
    """One object's geometry in the file's own axes.

    verts: positions; faces: vertex index triples, counter-clockwise seen
    from outside; corner_normals: for each face the three corner normals
    written to the *MESH_NORMALS block (empty: the face normal at every
    corner; in the object's own space, which geomobject's rows turn into
    the file's); tverts/tfaces: texture vertices and texture index triples
    (empty: the object is untextured and the file gives it no texture
    vertices at all); smoothing: smoothing group per face, a number or a
    list of numbers, an empty list for none (empty: group 1); mtlids:
    material id per face (empty: 0); normals: whether the file has the
    *MESH_NORMALS block. Edge flags are written as for quads split in two:
    AB and BC visible.
    """

    def __init__(self):
        self.verts = []
        self.faces = []
        self.corner_normals = []
        self.tverts = []
        self.tfaces = []
        self.smoothing = []
        self.mtlids = []
        self.normals = True

    def textured(self):
        return len(self.tverts) > 0


IDENTITY = ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0))


def _groups(smoothing):
    if isinstance(smoothing, int):
        return "%d" % smoothing
    return ",".join("%d" % g for g in smoothing)


def geomobject(out, name, mesh, material_ref, pivot=(0.0, 0.0, 0.0), rows=IDENTITY):
    """One object. rows are *TM_ROW0 to *TM_ROW2, the object's own axes in
    the file's (an object point p is p.x * ROW0 + p.y * ROW1 + p.z * ROW2 +
    pivot); the vertices are given in the file's axes, as exporters write
    them, and the normals in the object's."""
    w = out.write
    w("*GEOMOBJECT {\n")
    w('\t*NODE_NAME "%s"\n' % name)
    w("\t*NODE_TM {\n")
    w('\t\t*NODE_NAME "%s"\n' % name)
    w("\t\t*INHERIT_POS 0 0 0\n")
    w("\t\t*INHERIT_ROT 0 0 0\n")
    w("\t\t*INHERIT_SCL 0 0 0\n")
    for i, row in enumerate(rows):
        w("\t\t*TM_ROW%d %s\n" % (i, fmt3(tuple(row))))
    w("\t\t*TM_ROW3 %s\n" % fmt3(pivot))
    w("\t\t*TM_POS %s\n" % fmt3(pivot))
    w("\t\t*TM_ROTAXIS 0.0000\t0.0000\t0.0000\n")
    w("\t\t*TM_ROTANGLE 0.0000\n")
    w("\t\t*TM_SCALE 1.0000\t1.0000\t1.0000\n")
    w("\t\t*TM_SCALEAXIS 0.0000\t0.0000\t0.0000\n")
    w("\t\t*TM_SCALEAXISANG 0.0000\n")
    w("\t}\n")
    w("\t*MESH {\n")
    w("\t\t*TIMEVALUE 0\n")
    w("\t\t*MESH_NUMVERTEX %d\n" % len(mesh.verts))
    w("\t\t*MESH_NUMFACES %d\n" % len(mesh.faces))
    w("\t\t*MESH_VERTEX_LIST {\n")
    w("".join(["\t\t\t*MESH_VERTEX %4d\t%.4f\t%.4f\t%.4f\n" % (i, v[0], v[1], v[2])
               for i, v in enumerate(mesh.verts)]))
    w("\t\t}\n")
    w("\t\t*MESH_FACE_LIST {\n")
    smoothing = mesh.smoothing or [1] * len(mesh.faces)
    mtlids = mesh.mtlids or [0] * len(mesh.faces)
    w("".join(["\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB: %4d BC: %4d CA: %4d"
               "\t *MESH_SMOOTHING %s \t*MESH_MTLID %d\n"
               % (i, f[0], f[1], f[2], 1, 1, 0, _groups(smoothing[i]), mtlids[i])
               for i, f in enumerate(mesh.faces)]))
    w("\t\t}\n")
    if mesh.textured():
        w("\t\t*MESH_NUMTVERTEX %d\n" % len(mesh.tverts))
        w("\t\t*MESH_TVERTLIST {\n")
        w("".join(["\t\t\t*MESH_TVERT %d\t%.4f\t%.4f\t0.0000\n" % (i, t[0], t[1])
                   for i, t in enumerate(mesh.tverts)]))
        w("\t\t}\n")
        w("\t\t*MESH_NUMTVFACES %d\n" % len(mesh.tfaces))
        w("\t\t*MESH_TFACELIST {\n")
        w("".join(["\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n" % (i, t[0], t[1], t[2])
                   for i, t in enumerate(mesh.tfaces)]))
        w("\t\t}\n")
    if mesh.normals:
        _normals(w, mesh, rows)
    w("\t}\n")
    w("\t*PROP_MOTIONBLUR 0\n")
    w("\t*PROP_CASTSHADOW 1\n")
    w("\t*PROP_RECVSHADOW 1\n")
    w("\t*MATERIAL_REF %d\n" % material_ref)
    w("}\n")


def _normals(w, mesh, rows):
    w("\t\t*MESH_NORMALS {\n")
    parts = []
    for i, f in enumerate(mesh.faces):
        # The face normal of the file's vertices, in the object's own axes.
        fn = face_normal(mesh.verts, f)
        if rows != IDENTITY:
            fn = unit(tuple(sum(r * c for r, c in zip(row, fn)) for row in rows))
        cn = mesh.corner_normals[i] if mesh.corner_normals else (fn, fn, fn)
        parts.append("\t\t\t*MESH_FACENORMAL %d\t%.4f\t%.4f\t%.4f\n"
                     "\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f\n"
                     "\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f\n"
                     "\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f\n"
                     % (i, fn[0], fn[1], fn[2],
                        f[0], cn[0][0], cn[0][1], cn[0][2],
                        f[1], cn[1][0], cn[1][1], cn[1][2],
                        f[2], cn[2][0], cn[2][1], cn[2][2]))
    w("".join(parts))
    w("\t\t}\n")
