#include "model_fit.h"

#include <cmath>
#include <cstring>

namespace {

// A z-up file is turned as the robot's display list turns the robot: the
// file's (a, b, c) becomes (-b, a, c), its z up and its -y (the front view's
// side) along the walking direction. A y-up file becomes (c, a, b): its y up
// and its +z (the side a character shows the front view in such tools)
// along the walking direction.
void chooseTurn(UpAxis up, ModelFit& fit) {
    static const int zAxes[3] = {1, 0, 2}, yAxes[3] = {2, 0, 1};
    static const float zSigns[3] = {-1, 1, 1}, ySigns[3] = {1, 1, 1};
    std::memcpy(fit.axis, up == UpAxis::z ? zAxes : yAxes, sizeof fit.axis);
    std::memcpy(fit.sign, up == UpAxis::z ? zSigns : ySigns, sizeof fit.sign);
}

double turned(const ModelFit& fit, const Vec3& v, int i) {
    const float c[3] = {v.x, v.y, v.z};
    return double(fit.sign[i] * c[fit.axis[i]]);
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

ModelFit fit_model(const AseModel& model, UpAxis up) {
    ModelFit fit;
    chooseTurn(up, fit);
    for (const AseObject& object : model.objects) {
        for (const AseFace& face : object.faces) {
            if (!drawableFace(object, face) || !faceMaterial(model, object, face))
                continue;
            for (int corner : face.corner) {
                const Vec3& v = object.vertices[size_t(corner)];
                if (!finite(v))
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

void apply_fit(AseModel& model, const ModelFit& fit) {
    for (AseObject& object : model.objects) {
        for (Vec3& v : object.vertices) {
            // Moved before scaling, in double: a model far from its origin
            // keeps its detail.
            double c[3];
            for (int a = 0; a < 3; a++)
                c[a] = (turned(fit, v, a) - fit.anchor[a]) * fit.scale;
            v = Vec3(float(c[0]), float(c[1]), float(c[2]));
        }
        for (AseFace& face : object.faces) {
            for (Vec3& n : face.normal)
                n = Vec3(float(turned(fit, n, 0)), float(turned(fit, n, 1)),
                         float(turned(fit, n, 2)));
        }
    }
}

int give_orphans_plain_material(AseModel& model) {
    size_t plain = model.materials.size();
    int given = 0;
    for (AseObject& object : model.objects) {
        if (object.materialRef >= 0 && size_t(object.materialRef) < plain)
            continue;
        if (given++ == 0) {
            AseMaterial material;
            material.name = "plain";
            for (float& c : material.diffuse)
                c = 0.8f;
            model.materials.push_back(material);
        }
        object.materialRef = int(plain);
    }
    return given;
}
