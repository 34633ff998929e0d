#pragma once

#include "model_fit.h"
#include "vec3.h"

// The viewer camera of a model of the user's (F4): it circles the model's
// bounding sphere, comes nearer and goes further, and moves the point it
// looks at across the view. Plain maths on plain records, no GL: the frame
// hands view_eye's result to gluPerspective and gluLookAt.

// The bounding sphere of the fitted model, in the robot's own frame (where
// the fitted vertices are; the frame places it at the robot's pose).
struct ModelSphere {
    double centre[3] = {0, 0, 1};
    double radius = 1;
};

// The sphere about the box of the fitted model: the box's middle, and half
// its diagonal. A fit without corners gives a unit sphere above the robot's
// place.
ModelSphere sphere_of_fit(const ModelFit& fit);

struct OrbitView {
    // Degrees. The direction from the point looked at to the eye, turned
    // counterclockwise about the scene's z axis from +x (yaw) and raised
    // above the ground's plane (pitch).
    double yaw = 0;
    double pitch = 0;
    // From the eye to the point looked at.
    double distance = 1;
    // The point looked at, less the sphere's centre, in scene axes.
    double pan[3] = {0, 0, 0};
};

// The view's first look: at the sphere's centre from in front of the model
// (heading: the robot's heading in degrees) and 45 degrees to its side, 30
// degrees up, at the distance that shows the whole sphere with a margin.
OrbitView first_view(const ModelSphere& sphere, double heading);

// Dragging with the left button by dx, dy pixels (y down) in a window
// width pixels wide: a quarter of the width turns the view by 90 degrees
// about the point it looks at; up and down tilt it, never past 85 degrees
// above or below the ground's plane.
void turn_view(OrbitView* view, int dx, int dy, int width);

// Notches of the wheel: each one nearer (positive) or further (negative)
// by a constant factor, within limits: the nearest keeps the eye outside
// the sphere, the furthest shows the whole ground.
void near_view(OrbitView* view, int notches, const ModelSphere& sphere);

// Dragging with the right (or middle) button by dx, dy pixels (y down) in a
// window height pixels high: the scene follows the pointer at the depth of
// the point looked at, which moves across the view, up to a few of the
// sphere's sizes from its centre.
void pan_view(OrbitView* view, int dx, int dy, int height, const ModelSphere& sphere);

// Where the camera is, in scene axes, for the model at the robot's pose,
// with near and far planes that never cut the sphere (the near one no
// further than the scene's own 0.1, the far one no nearer than its 100).
// The up direction is the scene's z.
struct ViewEye {
    double eye[3];
    double target[3];
    double near_plane;
    double far_plane;
};
ViewEye view_eye(const OrbitView& view, const ModelSphere& sphere, const Vec3& robot_pos,
                 float robot_angle);
