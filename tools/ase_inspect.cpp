// ase-inspect: shows what the model reader makes of an ASE file.
//   ase-inspect FILE          objects, materials and every problem found
//   ase-inspect --dump FILE   every number of the loaded model, one line each
// Exit status: 0 read, 1 the file could not be opened, 2 bad usage.

#include "ase_reader.h"

#include <cstdio>
#include <cstring>

namespace {

void dumpModel(const tModel& model) {
    std::printf("objects %d\n", model.objectCount);
    std::printf("materials %d\n", model.materialCount);
    for (size_t i = 0; i < model.materials.size(); i++) {
        const tMaterialInfo& m = model.materials[i];
        std::printf("material %zu name \"%s\" bitmap \"%s\" diffuse %.9g %.9g %.9g specular %.9g "
                    "%.9g %.9g utiling %.9g vtiling %.9g\n",
                    i, m.strMaterialName, m.strBitmap, m.diffuse[0], m.diffuse[1], m.diffuse[2],
                    m.specular[0], m.specular[1], m.specular[2], m.uTiling, m.vTiling);
    }
    for (size_t i = 0; i < model.objects.size(); i++) {
        const t3DObject& o = model.objects[i];
        std::printf("object %zu vertices %d faces %d texvertices %d material %d textured %d\n", i,
                    o.vertexCount, o.faceCount, o.texVertexCount, o.materialId,
                    o.hasTexture ? 1 : 0);
        for (int j = 0; o.pVertices && j < o.vertexCount; j++)
            std::printf("v %d %.9g %.9g %.9g\n", j, o.pVertices[j].x, o.pVertices[j].y,
                        o.pVertices[j].z);
        for (int j = 0; o.pVertexNormals && j < o.vertexCount; j++)
            std::printf("n %d %.9g %.9g %.9g\n", j, o.pVertexNormals[j].x, o.pVertexNormals[j].y,
                        o.pVertexNormals[j].z);
        for (int j = 0; o.pTexVertices && j < o.texVertexCount; j++)
            std::printf("t %d %.9g %.9g\n", j, o.pTexVertices[j].u, o.pTexVertices[j].v);
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
        std::printf("  material %zu \"%s\": bitmap \"%s\", tiling %g x %g\n", i, m.strMaterialName,
                    m.strBitmap, m.uTiling, m.vTiling);
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
