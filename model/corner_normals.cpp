#include "corner_normals.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Sums in double: the normals of float vertices neither overflow nor lose
// their small terms there.
struct Sum {
    double x = 0, y = 0, z = 0;
    void add(const Sum& s) {
        x += s.x;
        y += s.y;
        z += s.z;
    }
};

// Twice the face's area along its normal; zero where the corners are not
// finite, so that one broken vertex does not spoil its neighbours' sums.
Sum faceNormal(const AseObject& object, const AseFace& face) {
    const Vec3& a = object.vertices[size_t(face.corner[0])];
    const Vec3& b = object.vertices[size_t(face.corner[1])];
    const Vec3& c = object.vertices[size_t(face.corner[2])];
    double u[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    double v[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    Sum n;
    n.x = u[1] * v[2] - u[2] * v[1];
    n.y = u[2] * v[0] - u[0] * v[2];
    n.z = u[0] * v[1] - u[1] * v[0];
    if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z))
        return Sum();
    return n;
}

bool unit(const Sum& s, Vec3* n) {
    double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
    if (!(length > 0) || !std::isfinite(length))
        return false;
    *n = Vec3(float(s.x / length), float(s.y / length), float(s.z / length));
    return true;
}

// The smoothing groups a vertex's faces have, each with the sum of the normals
// of its faces.
struct Groups {
    uint32_t mask;
    Sum sum;
    Sum smooth; // the sum over every mask that shares a group with this one
};

struct ObjectNormals {
    AseObject& object;
    std::vector<Sum> faceNormals;
    std::vector<uint32_t> first; // per vertex, where its faces start in faces
    std::vector<uint32_t> faces; // the faces that use each vertex, ascending
    // Mask comparisons left for matching groups in pairs.
    uint64_t pairWork;
    std::vector<Groups> groups;
    std::vector<uint32_t> groupOf; // per face of the vertex: its entry in groups

    // The normal of a face's corners that share no group with any face.
    Vec3 ownNormal(size_t f) const {
        Vec3 n(0, 0, 1);
        unit(faceNormals[f], &n);
        return n;
    }

    void setCorners(size_t f, int vertex, const Sum& sum) {
        AseFace& face = object.faces[f];
        Vec3 n;
        if (!unit(sum, &n))
            n = ownNormal(f);
        for (int k = 0; k < 3; k++) {
            if (face.corner[k] == vertex && !(face.fileNormals >> k & 1))
                face.normal[k] = n;
        }
    }

    // Distinct masks at the vertex, matched in pairs: exact, but its cost
    // grows with the square of the masks. False when the work left does not
    // allow it.
    bool matchInPairs(int vertex, uint32_t begin, uint32_t end) {
        groups.clear();
        groupOf.assign(end - begin, 0);
        for (uint32_t i = begin; i < end; i++) {
            uint32_t f = faces[i];
            uint32_t mask = object.faces[f].smoothing;
            if (mask == 0)
                continue;
            size_t g = 0;
            while (g < groups.size() && groups[g].mask != mask)
                g++;
            uint64_t cost = g + 1;
            if (cost > pairWork)
                return false;
            pairWork -= cost;
            if (g == groups.size())
                groups.push_back({mask, Sum(), Sum()});
            groups[g].sum.add(faceNormals[f]);
            groupOf[i - begin] = uint32_t(g);
        }
        uint64_t cost = uint64_t(groups.size()) * groups.size();
        if (cost > pairWork)
            return false;
        pairWork -= cost;
        for (Groups& a : groups) {
            for (const Groups& b : groups) {
                if (a.mask & b.mask)
                    a.smooth.add(b.sum);
            }
        }
        for (uint32_t i = begin; i < end; i++) {
            uint32_t f = faces[i];
            if (object.faces[f].smoothing != 0)
                setCorners(f, vertex, groups[groupOf[i - begin]].smooth);
        }
        return true;
    }

    // Beyond the work budget: one sum per group number, and each face's
    // corner takes the sums of the groups it is in, so that a face that
    // shares several groups with the corner's face weighs once for each.
    // Linear in the faces, at most 32 additions each.
    void matchByGroup(int vertex, uint32_t begin, uint32_t end) {
        Sum perGroup[32];
        for (uint32_t i = begin; i < end; i++) {
            uint32_t f = faces[i];
            for (int g = 0; g < 32; g++) {
                if (object.faces[f].smoothing >> g & 1)
                    perGroup[g].add(faceNormals[f]);
            }
        }
        for (uint32_t i = begin; i < end; i++) {
            uint32_t f = faces[i];
            Sum sum;
            for (int g = 0; g < 32; g++) {
                if (object.faces[f].smoothing >> g & 1)
                    sum.add(perGroup[g]);
            }
            if (object.faces[f].smoothing != 0)
                setCorners(f, vertex, sum);
        }
    }

    void run() {
        std::vector<AseFace>& all = object.faces;
        size_t vertexCount = object.vertices.size();
        // Files that give every corner its normal need nothing here.
        bool needed = false;
        for (size_t f = 0; f < all.size() && !needed; f++)
            needed = all[f].fileNormals != 7 && drawableFace(object, all[f]);
        if (!needed)
            return;
        faceNormals.assign(all.size(), Sum());
        bool smooth = false;
        for (size_t f = 0; f < all.size(); f++) {
            AseFace& face = all[f];
            if (!drawableFace(object, face))
                continue;
            faceNormals[f] = faceNormal(object, face);
            Vec3 own = ownNormal(f);
            for (int k = 0; k < 3; k++) {
                if (!(face.fileNormals >> k & 1))
                    face.normal[k] = own;
            }
            smooth = smooth || (face.smoothing != 0 && face.fileNormals != 7);
        }
        if (!smooth)
            return;
        // Vertex to faces, by counting: each face once per vertex it uses.
        first.assign(vertexCount + 1, 0);
        auto eachVertex = [&](size_t f, auto use) {
            const int* c = all[f].corner;
            use(c[0]);
            if (c[1] != c[0])
                use(c[1]);
            if (c[2] != c[0] && c[2] != c[1])
                use(c[2]);
        };
        for (size_t f = 0; f < all.size(); f++) {
            if (drawableFace(object, all[f]))
                eachVertex(f, [&](int v) { first[size_t(v) + 1]++; });
        }
        for (size_t v = 0; v < vertexCount; v++)
            first[v + 1] += first[v];
        faces.resize(first[vertexCount]);
        std::vector<uint32_t> next(first.begin(), first.end() - 1);
        for (size_t f = 0; f < all.size(); f++) {
            if (drawableFace(object, all[f]))
                eachVertex(f, [&](int v) { faces[next[size_t(v)]++] = uint32_t(f); });
        }
        pairWork = 64 * uint64_t(all.size()) + 4096;
        for (size_t v = 0; v < vertexCount; v++) {
            uint32_t begin = first[v], end = first[v + 1];
            bool needed = false;
            for (uint32_t i = begin; i < end && !needed; i++) {
                const AseFace& face = all[faces[i]];
                needed = face.smoothing != 0 && face.fileNormals != 7;
            }
            if (needed && !matchInPairs(int(v), begin, end))
                matchByGroup(int(v), begin, end);
        }
    }
};

static_assert(sizeof(Groups) <= 64, "a vertex's group entry within its faces' share");

} // namespace

void computeCornerNormals(AseModel& model) {
    for (AseObject& object : model.objects) {
        ObjectNormals normals{object, {}, {}, {}, 0, {}, {}};
        normals.run();
    }
}
