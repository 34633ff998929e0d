#include "ase_reader.h"

#include <algorithm>
#include <vector>

namespace {

bool cornersExist(const tTriangle& triangle, int vertexCount) {
    for (int corner : triangle.vertexIndex) {
        if (corner < 0 || corner >= vertexCount)
            return false;
    }
    return true;
}

// The same sums as searching all triangles for every vertex, in one walk over
// the triangles: each vertex adds the normals of its triangles in ascending
// triangle order, each triangle once, exactly as the search would, so the
// float results are bit for bit the same.
void computeObjectNormals(t3DObject& object) {
    int vertexCount = std::max(object.vertexCount, 0);
    int faceCount = object.pTriangles ? std::max(object.faceCount, 0) : 0;
    int usableVertices = object.pVertices ? vertexCount : 0;

    Vec3* normals = new Vec3[size_t(vertexCount)];
    const Vec3 vZero(0, 0, 0);
    std::fill(normals, normals + vertexCount, vZero);
    std::vector<int> count(size_t(vertexCount), 0);
    for (int f = 0; f < faceCount; f++) {
        const tTriangle& triangle = object.pTriangles[f];
        if (!cornersExist(triangle, usableVertices))
            continue;
        Vec3 vPoly[3];
        for (int k = 0; k < 3; k++)
            vPoly[k] = object.pVertices[triangle.vertexIndex[k]];
        Vec3 vVector1 = vectorBetween(vPoly[2], vPoly[0]);
        Vec3 vVector2 = vectorBetween(vPoly[1], vPoly[2]);
        Vec3 vNormal = crossProduct(vVector1, vVector2);
        const int* c = triangle.vertexIndex;
        for (int k = 0; k < 3; k++) {
            // A triangle naming a vertex twice counts for it once.
            if ((k > 0 && c[k] == c[0]) || (k > 1 && c[k] == c[1]))
                continue;
            normals[c[k]] = normals[c[k]] + vNormal;
            count[size_t(c[k])]++;
        }
    }
    for (int v = 0; v < vertexCount; v++) {
        // The face normals point the other way; the negated count turns the
        // sum back. A vertex no triangle uses gets 0 / 0, NaN.
        normals[v] = normalize(normals[v] / float(-count[size_t(v)]));
    }
    delete[] object.pVertexNormals;
    object.pVertexNormals = normals;
}

} // namespace

void AseReader::computeVertexNormals(tModel* model) {
    if (!model || model->objectCount <= 0)
        return;
    int objectCount = std::min(model->objectCount, int(model->objects.size()));
    for (int i = 0; i < objectCount; i++)
        computeObjectNormals(model->objects[size_t(i)]);
}
