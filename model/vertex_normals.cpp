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

// The same steps as a vertex-by-triangle search, but every vertex finds its
// triangles through a table built once: the triangles of a vertex are listed in
// ascending order and each at most once, so the sums below see the same terms in
// the same order and come out bit for bit the same.
void computeObjectNormals(t3DObject& object) {
    int vertexCount = std::max(object.vertexCount, 0);
    int faceCount = object.pTriangles ? std::max(object.faceCount, 0) : 0;
    int usableVertices = object.pVertices ? vertexCount : 0;

    std::vector<Vec3> faceNormals(size_t(faceCount), Vec3(0, 0, 0));
    std::vector<int> firstUse(size_t(vertexCount) + 1, 0);
    for (int f = 0; f < faceCount; f++) {
        const tTriangle& triangle = object.pTriangles[f];
        if (!cornersExist(triangle, usableVertices))
            continue;
        Vec3 vPoly[3];
        for (int k = 0; k < 3; k++)
            vPoly[k] = object.pVertices[triangle.vertexIndex[k]];
        Vec3 vVector1 = vectorBetween(vPoly[2], vPoly[0]);
        Vec3 vVector2 = vectorBetween(vPoly[1], vPoly[2]);
        faceNormals[f] = crossProduct(vVector1, vVector2);
        const int* c = triangle.vertexIndex;
        firstUse[c[0] + 1]++;
        if (c[1] != c[0])
            firstUse[c[1] + 1]++;
        if (c[2] != c[0] && c[2] != c[1])
            firstUse[c[2] + 1]++;
    }
    for (int v = 0; v < vertexCount; v++)
        firstUse[v + 1] += firstUse[v];

    std::vector<int> uses(size_t(firstUse[vertexCount]));
    std::vector<int> fill(firstUse.begin(), firstUse.end() - 1);
    for (int f = 0; f < faceCount; f++) {
        const tTriangle& triangle = object.pTriangles[f];
        if (!cornersExist(triangle, usableVertices))
            continue;
        const int* c = triangle.vertexIndex;
        uses[fill[c[0]]++] = f;
        if (c[1] != c[0])
            uses[fill[c[1]]++] = f;
        if (c[2] != c[0] && c[2] != c[1])
            uses[fill[c[2]]++] = f;
    }

    Vec3* normals = new Vec3[size_t(vertexCount)];
    const Vec3 vZero(0, 0, 0);
    for (int v = 0; v < vertexCount; v++) {
        Vec3 vSum = vZero;
        int count = 0;
        for (int u = firstUse[v]; u < firstUse[v + 1]; u++) {
            vSum = vSum + faceNormals[size_t(uses[u])];
            count++;
        }
        // The face normals point the other way; the negated count turns the
        // sum back. A vertex no triangle uses gets 0 / 0, NaN.
        normals[v] = normalize(vSum / float(-count));
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
