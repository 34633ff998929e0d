#include "model_fit.h"

#include "draw_model.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

int drawnObjects(const tModel& model) {
    int count = model.objectCount;
    return count < int(model.objects.size()) ? count : int(model.objects.size());
}

bool hasMaterial(const tModel& model, const t3DObject& object) {
    return object.materialId >= 0 && object.materialId < int(model.materials.size());
}

// The reader has turned the file's (a, b, c) into the program's (a, c, -b).
// A z-up file is then turned as the robot's display list turns the robot:
// the file's z up, its -y (the front view's side) along the walking
// direction. A y-up file has its y up and its +z (the side a character shows
// the front view in such tools) along the walking direction.
void chooseTurn(UpAxis up, ModelFit& fit) {
    static const int zAxes[3] = {2, 0, 1}, yAxes[3] = {1, 0, 2};
    static const float zSigns[3] = {1, 1, 1}, ySigns[3] = {1, 1, -1};
    std::memcpy(fit.axis, up == UpAxis::z ? zAxes : yAxes, sizeof fit.axis);
    std::memcpy(fit.sign, up == UpAxis::z ? zSigns : ySigns, sizeof fit.sign);
}

double turned(const ModelFit& fit, const Vec3& v, int i) {
    const float c[3] = {v.x, v.y, v.z};
    return double(fit.sign[i] * c[fit.axis[i]]);
}

} // namespace

ModelFit fit_model(const tModel& model, UpAxis up) {
    ModelFit fit;
    chooseTurn(up, fit);
    for (int i = 0; i < drawnObjects(model); i++) {
        const t3DObject& object = model.objects[size_t(i)];
        if (!hasMaterial(model, object) || !object.pTriangles)
            continue;
        for (int j = 0; j < object.faceCount; j++) {
            const tTriangle& triangle = object.pTriangles[j];
            if (!drawableTriangle(object, triangle))
                continue;
            for (int k = 0; k < 3; k++) {
                const Vec3& v = object.pVertices[triangle.vertexIndex[k]];
                if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
                    continue;
                for (int a = 0; a < 3; a++) {
                    double c = turned(fit, v, a);
                    if (!fit.hasCorners || c < fit.low[a])
                        fit.low[a] = c;
                    if (!fit.hasCorners || c > fit.high[a])
                        fit.high[a] = c;
                }
                fit.hasCorners = true;
            }
        }
    }
    if (!fit.hasCorners)
        return fit;

    double largest = 0;
    for (int a = 0; a < 3; a++) {
        if (fit.high[a] - fit.low[a] > largest)
            largest = fit.high[a] - fit.low[a];
    }
    // A model that is a single point keeps its size: there is nothing to
    // scale, only to place.
    fit.scale = largest > 0 ? kRobotHeight / largest : 1;
    fit.anchor[0] = (fit.low[0] + fit.high[0]) / 2;
    fit.anchor[1] = (fit.low[1] + fit.high[1]) / 2;
    fit.anchor[2] = fit.low[2];
    return fit;
}

void apply_fit(tModel& model, const ModelFit& fit) {
    for (int i = 0; i < drawnObjects(model); i++) {
        t3DObject& object = model.objects[size_t(i)];
        for (int n = 0; object.pVertices && n < object.vertexCount; n++) {
            Vec3& v = object.pVertices[n];
            // Moved before scaling, in double: a model far from its origin
            // keeps its detail.
            double c[3];
            for (int a = 0; a < 3; a++)
                c[a] = (turned(fit, v, a) - fit.anchor[a]) * fit.scale;
            v = Vec3(float(c[0]), float(c[1]), float(c[2]));
        }
        for (int n = 0; object.pVertexNormals && n < object.vertexCount; n++) {
            Vec3& normal = object.pVertexNormals[n];
            normal = Vec3(float(turned(fit, normal, 0)), float(turned(fit, normal, 1)),
                          float(turned(fit, normal, 2)));
        }
    }
}

int give_orphans_plain_material(tModel& model) {
    int plain = int(model.materials.size());
    int given = 0;
    for (int i = 0; i < drawnObjects(model); i++) {
        t3DObject& object = model.objects[size_t(i)];
        if (object.materialId >= 0 && object.materialId < plain)
            continue;
        if (given++ == 0) {
            tMaterialInfo material{};
            std::snprintf(material.strMaterialName, sizeof material.strMaterialName, "plain");
            for (int c = 0; c < 3; c++)
                material.diffuse[c] = 0.8f;
            material.uTiling = material.vTiling = 1;
            model.materials.push_back(material);
            model.materialCount = int(model.materials.size());
        }
        object.materialId = plain;
    }
    return given;
}
