// ase-inspect: shows what the model readers make of an ASE file.
//   ase-inspect FILE          objects, materials and every problem found
//   ase-inspect --dump FILE   every number of the loaded model, one line each
//   ase-inspect --exporter [--dump] FILE
//                             the same for the reader of a user's own model,
//                             which reads the file as exporters mean it
// Exit status: 0 read, 1 the file could not be opened or (--exporter) is no
// ASE model, 2 bad usage.

#include "ase_blocks.h"
#include "ase_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A number as "%.*g" writes it with the GNU C library, NaN with its sign
// ("-nan") included, whichever C library the tool runs on.
std::string number(float value, int precision = 9) {
    char text[32];
    std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
    return std::string(text, end.ptr);
}

void dumpModel(const tModel& model) {
    std::printf("objects %d\n", model.objectCount);
    std::printf("materials %d\n", model.materialCount);
    for (size_t i = 0; i < model.materials.size(); i++) {
        const tMaterialInfo& m = model.materials[i];
        std::printf("material %zu name \"%s\" bitmap \"%s\" diffuse %s %s %s specular %s %s %s "
                    "utiling %s vtiling %s\n",
                    i, m.strMaterialName, m.strBitmap, number(m.diffuse[0]).c_str(),
                    number(m.diffuse[1]).c_str(), number(m.diffuse[2]).c_str(),
                    number(m.specular[0]).c_str(), number(m.specular[1]).c_str(),
                    number(m.specular[2]).c_str(), number(m.uTiling).c_str(),
                    number(m.vTiling).c_str());
    }
    for (size_t i = 0; i < model.objects.size(); i++) {
        const t3DObject& o = model.objects[i];
        std::printf("object %zu vertices %d faces %d texvertices %d material %d textured %d\n", i,
                    o.vertexCount, o.faceCount, o.texVertexCount, o.materialId,
                    o.hasTexture ? 1 : 0);
        for (int j = 0; o.pVertices && j < o.vertexCount; j++)
            std::printf("v %d %s %s %s\n", j, number(o.pVertices[j].x).c_str(),
                        number(o.pVertices[j].y).c_str(), number(o.pVertices[j].z).c_str());
        for (int j = 0; o.pVertexNormals && j < o.vertexCount; j++)
            std::printf("n %d %s %s %s\n", j, number(o.pVertexNormals[j].x).c_str(),
                        number(o.pVertexNormals[j].y).c_str(),
                        number(o.pVertexNormals[j].z).c_str());
        for (int j = 0; o.pTexVertices && j < o.texVertexCount; j++)
            std::printf("t %d %s %s\n", j, number(o.pTexVertices[j].u).c_str(),
                        number(o.pTexVertices[j].v).c_str());
        for (int j = 0; o.pTriangles && j < o.faceCount; j++) {
            const tTriangle& t = o.pTriangles[j];
            std::printf("f %d %d %d %d %d %d %d\n", j, t.vertexIndex[0], t.vertexIndex[1],
                        t.vertexIndex[2], t.texIndex[0], t.texIndex[1], t.texIndex[2]);
        }
    }
}

void summarize(const tModel& model, const AseReader& reader, const char* path) {
    std::printf("%s: %d objects, %d materials\n", path, model.objectCount, model.materialCount);
    for (size_t i = 0; i < model.objects.size(); i++) {
        const t3DObject& o = model.objects[i];
        std::printf("  object %zu: %d vertices, %d faces, %d texture vertices, material %d%s\n", i,
                    o.vertexCount, o.faceCount, o.texVertexCount, o.materialId,
                    o.hasTexture ? ", textured" : "");
    }
    for (size_t i = 0; i < model.materials.size(); i++) {
        const tMaterialInfo& m = model.materials[i];
        std::printf("  material %zu \"%s\": bitmap \"%s\", tiling %s x %s\n", i, m.strMaterialName,
                    m.strBitmap, number(m.uTiling, 6).c_str(), number(m.vTiling, 6).c_str());
    }
    if (reader.problems.empty()) {
        std::printf("no problems found\n");
        return;
    }
    std::printf("%zu %s:\n", reader.problems.size(),
                reader.problems.size() == 1 ? "problem" : "problems");
    for (const std::string& problem : reader.problems)
        std::printf("  %s\n", problem.c_str());
}

// "1,3" for groups 1 and 3; "-" for none.
std::string groupList(uint32_t smoothing) {
    std::string list;
    for (int g = 0; g < 32; g++) {
        if (smoothing >> g & 1)
            list += (list.empty() ? "" : ",") + std::to_string(g + 1);
    }
    return list.empty() ? "-" : list;
}

void dumpMaterial(const AseMaterial& m, const std::string& number) {
    std::printf("material %s name \"%s\" diffuse %.9g %.9g %.9g specular %.9g %.9g %.9g bitmap "
                "\"%s\" utiling %.9g vtiling %.9g submaterials %zu\n",
                number.c_str(), m.name.c_str(), m.diffuse[0], m.diffuse[1], m.diffuse[2],
                m.specular[0], m.specular[1], m.specular[2], m.bitmap.c_str(), m.uTiling, m.vTiling,
                m.subMaterials.size());
    for (size_t i = 0; i < m.subMaterials.size(); i++)
        dumpMaterial(m.subMaterials[i], number + "." + std::to_string(i));
}

void dumpExporterModel(const AseModel& model) {
    std::printf("objects %zu\nmaterials %zu\n", model.objects.size(), model.materials.size());
    for (size_t i = 0; i < model.materials.size(); i++)
        dumpMaterial(model.materials[i], std::to_string(i));
    for (size_t i = 0; i < model.objects.size(); i++) {
        const AseObject& o = model.objects[i];
        std::printf("object %zu name \"%s\" material %d vertices %zu faces %zu texvertices %zu "
                    "colorvertices %zu\n",
                    i, o.name.c_str(), o.materialRef, o.vertices.size(), o.faces.size(),
                    o.texVertices.size(), o.colorVertices.size());
        std::printf("tm");
        for (const float(&row)[3] : o.transform)
            std::printf(" %.9g %.9g %.9g", row[0], row[1], row[2]);
        std::printf("\n");
        for (size_t j = 0; j < o.vertices.size(); j++)
            std::printf("v %zu %.9g %.9g %.9g\n", j, o.vertices[j].x, o.vertices[j].y,
                        o.vertices[j].z);
        for (size_t j = 0; j < o.texVertices.size(); j++)
            std::printf("t %zu %.9g %.9g\n", j, o.texVertices[j].u, o.texVertices[j].v);
        for (size_t j = 0; j < o.colorVertices.size(); j++)
            std::printf("c %zu %.9g %.9g %.9g\n", j, o.colorVertices[j].x, o.colorVertices[j].y,
                        o.colorVertices[j].z);
        for (size_t j = 0; j < o.faces.size(); j++) {
            const AseFace& f = o.faces[j];
            std::printf("f %zu %d %d %d %d %d %d smoothing %s mtlid %d colour %d %d %d\n", j,
                        f.corner[0], f.corner[1], f.corner[2], f.texCorner[0], f.texCorner[1],
                        f.texCorner[2], groupList(f.smoothing).c_str(), f.materialId,
                        f.colorCorner[0], f.colorCorner[1], f.colorCorner[2]);
            for (int k = 0; k < 3; k++)
                std::printf("n %zu %d %s %.9g %.9g %.9g\n", j, k,
                            f.fileNormals >> k & 1 ? "file" : "smooth", f.normal[k].x,
                            f.normal[k].y, f.normal[k].z);
        }
    }
}

void summarizeMaterial(const AseMaterial& m, const std::string& what, int indent) {
    std::printf("%*s%s \"%s\": diffuse %g %g %g, specular %g %g %g, ", indent, "", what.c_str(),
                m.name.c_str(), m.diffuse[0], m.diffuse[1], m.diffuse[2], m.specular[0],
                m.specular[1], m.specular[2]);
    if (m.bitmap.empty())
        std::printf("no bitmap\n");
    else
        std::printf("bitmap \"%s\", tiling %g x %g\n", m.bitmap.c_str(), m.uTiling, m.vTiling);
    for (size_t i = 0; i < m.subMaterials.size(); i++)
        summarizeMaterial(m.subMaterials[i], "sub-material " + std::to_string(i), indent + 2);
}

void summarizeExporterModel(const AseModel& model, const std::vector<std::string>& problems,
                            const char* path) {
    std::printf("%s: %zu objects, %zu materials, read as exporters mean it\n", path,
                model.objects.size(), model.materials.size());
    for (size_t i = 0; i < model.objects.size(); i++) {
        const AseObject& o = model.objects[i];
        size_t drawable = 0, fromFile = 0, flat = 0, colored = 0;
        std::string ids;
        int lowId = 0, highId = 0;
        for (const AseFace& f : o.faces) {
            if (!drawableFace(o, f))
                continue;
            if (drawable++ == 0)
                lowId = highId = f.materialId;
            lowId = std::min(lowId, f.materialId);
            highId = std::max(highId, f.materialId);
            flat += f.smoothing == 0;
            colored += coloredFace(o, f);
            for (int k = 0; k < 3; k++)
                fromFile += f.fileNormals >> k & 1;
        }
        std::printf("  object %zu \"%s\": %zu vertices, %zu faces (%zu drawable), %zu texture "
                    "vertices, material %d\n",
                    i, o.name.c_str(), o.vertices.size(), o.faces.size(), drawable,
                    o.texVertices.size(), o.materialRef);
        const float(&t)[4][3] = o.transform;
        std::printf("    transform %g %g %g | %g %g %g | %g %g %g | %g %g %g\n", t[0][0], t[0][1],
                    t[0][2], t[1][0], t[1][1], t[1][2], t[2][0], t[2][1], t[2][2], t[3][0], t[3][1],
                    t[3][2]);
        std::printf("    corner normals: %zu from the file, %zu from smoothing groups; %zu flat "
                    "faces; material ids %d to %d\n",
                    fromFile, 3 * drawable - fromFile, flat, lowId, highId);
        if (!o.colorVertices.empty())
            std::printf("    vertex colours: %zu colour vertices; %zu of the drawable faces "
                        "coloured\n",
                        o.colorVertices.size(), colored);
    }
    for (size_t i = 0; i < model.materials.size(); i++)
        summarizeMaterial(model.materials[i], "material " + std::to_string(i), 2);
    if (problems.empty()) {
        std::printf("no problems found\n");
        return;
    }
    std::printf("%zu %s:\n", problems.size(), problems.size() == 1 ? "problem" : "problems");
    for (const std::string& problem : problems)
        std::printf("  %s\n", problem.c_str());
}

// ase-inspect --exporter [--dump] FILE.
int inspectAsExporterFile(const char* path, bool dump) {
    AseModel model;
    std::vector<std::string> problems;
    switch (loadAseBlocks(path, &model, &problems)) {
    case AseLoad::cannotOpen:
        std::printf("Unable to find or open the file: %s\n", path);
        return 1;
    case AseLoad::notAseModel:
        std::printf("%s\n", problems.front().c_str());
        return 1;
    case AseLoad::read:
        break;
    }
    if (dump)
        dumpExporterModel(model);
    else
        summarizeExporterModel(model, problems, path);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--exporter") == 0) {
        bool dump = argc == 4 && std::strcmp(argv[2], "--dump") == 0;
        if ((argc == 3 && argv[2][0] != '-') || (dump && argv[3][0] != '-'))
            return inspectAsExporterFile(argv[argc - 1], dump);
        std::fprintf(stderr, "usage: ase-inspect [--exporter] [--dump] FILE\n");
        return 2;
    }
    bool dump = argc == 3 && std::strcmp(argv[1], "--dump") == 0;
    if (!(argc == 2 && argv[1][0] != '-') && !dump) {
        std::fprintf(stderr, "usage: ase-inspect [--exporter] [--dump] FILE\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    tModel model;
    AseReader reader;
    reader.printProblems = false;
    if (!reader.loadModel(&model, path)) {
        std::printf("\n");
        return 1;
    }
    if (dump)
        dumpModel(model);
    else
        summarize(model, reader, path);
    releaseModelArrays(model);
    return 0;
}
