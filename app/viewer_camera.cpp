#include "viewer_camera.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Half the scene's vertical field of view, its narrower one (4:3 window).
constexpr double kHalfView = 22.5 * kPi / 180;
// The first view leaves this much room around the sphere.
constexpr double kMargin = 1.15;
constexpr double kFirstPitch = 30;
constexpr double kFirstSide = 45;
constexpr double kMaxPitch = 85;
// A notch of the wheel.
constexpr double kNotch = 1.2;
// The nearest eye stays this many radii from the centre; the furthest is
// this many times the first distance, where the whole ground is in view.
constexpr double kNearest = 1.1;
constexpr double kFurthest = 12;
// The point looked at stays within this many first distances of the centre.
constexpr double kPanReach = 2;

double radians(double degrees) {
    return degrees * kPi / 180;
}

double first_distance(const ModelSphere& sphere) {
    return sphere.radius / std::sin(kHalfView) * kMargin;
}

double length(const double (&v)[3]) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// The unit vector from the point looked at towards the eye.
void towards_eye(const OrbitView& view, double (&d)[3]) {
    double yaw = radians(view.yaw), pitch = radians(view.pitch);
    d[0] = std::cos(pitch) * std::cos(yaw);
    d[1] = std::cos(pitch) * std::sin(yaw);
    d[2] = std::sin(pitch);
}

} // namespace

ModelSphere sphere_of_fit(const ModelFit& fit) {
    ModelSphere sphere;
    if (!fit.hasCorners)
        return sphere;
    double half_diagonal = 0;
    for (int i = 0; i < 3; i++) {
        double low = (fit.low[i] - fit.anchor[i]) * fit.scale;
        double high = (fit.high[i] - fit.anchor[i]) * fit.scale;
        sphere.centre[i] = (low + high) / 2;
        half_diagonal += (high - low) * (high - low) / 4;
    }
    // A model flat as a sheet or a single point still has a sphere to frame.
    sphere.radius = std::max(std::sqrt(half_diagonal), 1e-3);
    return sphere;
}

OrbitView first_view(const ModelSphere& sphere, double heading) {
    OrbitView view;
    view.yaw = std::fmod(heading + kFirstSide, 360.0);
    view.pitch = kFirstPitch;
    view.distance = first_distance(sphere);
    return view;
}

void turn_view(OrbitView* view, int dx, int dy, int width) {
    double per_pixel = 360.0 / std::max(width, 1);
    // The model turns the way it is dragged, as if held.
    view->yaw = std::fmod(view->yaw - dx * per_pixel, 360.0);
    view->pitch = std::clamp(view->pitch + dy * per_pixel, -kMaxPitch, kMaxPitch);
}

void near_view(OrbitView* view, int notches, const ModelSphere& sphere) {
    // The eye is within |pan| of the distance from the centre.
    double nearest = kNearest * sphere.radius + length(view->pan);
    double furthest = std::max(kFurthest * first_distance(sphere), nearest);
    view->distance = std::clamp(view->distance * std::pow(kNotch, -notches), nearest, furthest);
}

void pan_view(OrbitView* view, int dx, int dy, int height, const ModelSphere& sphere) {
    double per_pixel = 2 * view->distance * std::tan(kHalfView) / std::max(height, 1);
    double yaw = radians(view->yaw), pitch = radians(view->pitch);
    // The view's right and up directions.
    const double right[3] = {-std::sin(yaw), std::cos(yaw), 0};
    const double up[3] = {-std::sin(pitch) * std::cos(yaw), -std::sin(pitch) * std::sin(yaw),
                          std::cos(pitch)};
    for (int i = 0; i < 3; i++)
        view->pan[i] += (-dx * right[i] + dy * up[i]) * per_pixel;
    double reach = kPanReach * first_distance(sphere);
    double moved = length(view->pan);
    if (moved > reach) {
        for (double& c : view->pan)
            c *= reach / moved;
    }
}

ViewEye view_eye(const OrbitView& view, const ModelSphere& sphere, const Vec3& robot_pos,
                 float robot_angle) {
    // The sphere's centre at the robot's pose, as the frame places the model.
    double angle = radians(robot_angle);
    const double* c = sphere.centre;
    double centre[3] = {robot_pos.x + std::cos(angle) * c[0] - std::sin(angle) * c[1],
                        robot_pos.y + std::sin(angle) * c[0] + std::cos(angle) * c[1],
                        robot_pos.z + c[2]};
    double d[3];
    towards_eye(view, d);
    ViewEye eye;
    double from_centre[3];
    for (int i = 0; i < 3; i++) {
        eye.target[i] = centre[i] + view.pan[i];
        eye.eye[i] = eye.target[i] + d[i] * view.distance;
        from_centre[i] = eye.eye[i] - centre[i];
    }
    double gap = length(from_centre) - sphere.radius;
    eye.near_plane = std::clamp(gap / 2, 1e-3, 0.1);
    eye.far_plane = std::max(100.0, 1.1 * (length(from_centre) + sphere.radius));
    return eye;
}
