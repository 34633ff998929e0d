// ase-inspect: shows what the model reader makes of an ASE file.
//   ase-inspect FILE          objects, materials and every problem found
//   ase-inspect --dump FILE   every number of the loaded model, one line each
// Exit status: 0 read, 1 the file could not be opened, 2 bad usage.

#include "ase_reader.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

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
    std::printf("%zu problems:\n", reader.problems.size());
    for (const std::string& problem : reader.problems)
        std::printf("  %s\n", problem.c_str());
}

} // namespace

int main(int argc, char** argv) {
    bool dump = argc == 3 && std::strcmp(argv[1], "--dump") == 0;
    if (!(argc == 2 && argv[1][0] != '-') && !dump) {
        std::fprintf(stderr, "usage: ase-inspect [--dump] FILE\n");
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
