// Feeds arbitrary bytes to the block reader of a user's own model and checks
// what it promises: every corner of a face that can be drawn has a finite
// unit normal, faces choose materials the model holds, a face's colour
// corners all name colour vertices or are all -1, problems name the file, and
// the arrays stay within the file's budget, and reading it in pieces gives
// the same model and problems as reading it whole. On a file that both
// readers read whole, the robot's reader must give the same vertices,
// texture vertices, faces and material colours.

#include "../tests/model/ase_agreement.h"
#include "ase_blocks.h"
#include "ase_reader.h"
#include "corner_normals.h"
#include "text_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "block reader: %s\n", what);
    std::abort();
}

int depthOf(const AseMaterial& material) {
    int depth = 0;
    for (const AseMaterial& sub : material.subMaterials)
        depth = std::max(depth, depthOf(sub));
    return depth + 1;
}

bool holds(const AseMaterial& material, const AseMaterial* found) {
    if (&material == found)
        return true;
    for (const AseMaterial& sub : material.subMaterials) {
        if (holds(sub, found))
            return true;
    }
    return false;
}

void checkModel(const AseModel& model, size_t size) {
    uint64_t bytes = model.materials.size() * sizeof(AseMaterial);
    for (const AseMaterial& material : model.materials) {
        if (depthOf(material) > 33)
            fail("sub-materials nested beyond the cap");
    }
    for (const AseObject& object : model.objects) {
        bytes += object.vertices.size() * sizeof(Vec3) + object.faces.size() * sizeof(AseFace) +
                 object.texVertices.size() * sizeof(Vec2) +
                 object.colorVertices.size() * sizeof(Vec3);
        for (const AseFace& face : object.faces) {
            const AseMaterial* material = faceMaterial(model, object, face);
            bool inModel = !material;
            for (const AseMaterial& m : model.materials)
                inModel = inModel || holds(m, material);
            if (!inModel || (material && !material->subMaterials.empty()))
                fail("a face's material is not one of the model's");
            const int(&c)[3] = face.colorCorner;
            if (!coloredFace(object, face) && (c[0] != -1 || c[1] != -1 || c[2] != -1))
                fail("colour corners that name no colour vertex");
            if (!drawableFace(object, face))
                continue;
            for (const Vec3& n : face.normal) {
                double length = double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z;
                if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z) ||
                    std::fabs(length - 1) > 1e-5)
                    fail("a corner normal that is not a finite unit vector");
            }
        }
    }
    if (bytes > allocationBudget(size) + (uint64_t(1) << 20) + 64 * uint64_t(size))
        fail("arrays beyond the file's budget");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    AseModel model;
    std::vector<std::string> problems;
    bool read = readAseBlocks(text, size, "fuzz.ase", &model, &problems);
    // Read in pieces of a few bytes, the text gives the same model and
    // problems as read whole.
    AseModel pieces;
    std::vector<std::string> piecesProblems;
    std::string differs;
    if (readBlocksInPieces(text, size, "fuzz.ase", &pieces, &piecesProblems, 1 + size % 13) !=
            read ||
        piecesProblems != problems || !sameAseModel(model, pieces, &differs)) {
        std::fprintf(stderr, "read in pieces: %s\n", differs.c_str());
        std::abort();
    }
    if (!read) {
        // Only a text that is no ASE model is refused, with one line.
        if (problems.size() != 1 || problems[0].rfind("fuzz.ase is not an ASE model: ", 0) != 0 ||
            !model.objects.empty() || !model.materials.empty())
            fail("bytes refused without their one line");
        return 0;
    }
    checkModel(model, size);
    for (const std::string& line : problems) {
        if (line.compare(0, 9, "fuzz.ase:") != 0)
            fail("a problem without the file's name");
    }
    // The smoothing-group normals depend on the geometry alone.
    AseModel again = model;
    computeCornerNormals(again);
    for (size_t i = 0; i < model.objects.size(); i++) {
        const std::vector<AseFace>& a = model.objects[i].faces;
        const std::vector<AseFace>& b = again.objects[i].faces;
        for (size_t f = 0; f < a.size(); f++) {
            if (std::memcmp(a[f].normal, b[f].normal, sizeof a[f].normal) != 0)
                fail("corner normals that change when computed again");
        }
    }

    std::string why;
    if (!readAlikeByBothReaders(text, size, &why))
        return 0;
    tModel robot;
    AseReader reader;
    reader.printProblems = false;
    reader.readModelFromMemory(&robot, text, size, "fuzz.ase");
    bool cutShort = false;
    for (const std::string& problem : reader.problems)
        cutShort = cutShort || problem.find("overlap") != std::string::npos;
    if (!cutShort && !sameAsRobotReader(model, robot, &why)) {
        std::fprintf(stderr, "the readers differ: %s\n", why.c_str());
        std::abort();
    }
    releaseModelArrays(robot);
    return 0;
}
