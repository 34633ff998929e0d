#pragma once

#include "ase_model.h"

// The up axis of a model file, in the file's own coordinates.
enum class UpAxis { z, y };

// The robot's height in the scene, from its soles to the tip of its antenna:
// a model of our own is scaled so that its largest extent is this.
constexpr double kRobotHeight = 1.965;

// How a loaded model is brought into the robot's place: turned so that the
// file's up axis points up and its front faces the way the robot walks,
// scaled uniformly, and moved so that its box stands centred on the robot's
// position with its lowest point on the ground. Scene component i of a point
// is sign[i] * file component axis[i] before scaling and moving.
struct ModelFit {
    // False when no drawn face has a corner with finite coordinates: there
    // is nothing to show and nothing to fit.
    bool hasCorners = false;
    int axis[3] = {0, 1, 2};
    float sign[3] = {1, 1, 1};
    // The box of the counted corners, turned but not yet scaled.
    double low[3] = {0, 0, 0};
    double high[3] = {0, 0, 0};
    // fitted = (turned - anchor) * scale, where the anchor is the middle of
    // the box across and its floor.
    double anchor[3] = {0, 0, 0};
    double scale = 1;
};

// Measures the model: the box of the corners of the faces that drawing
// sends (drawable, with a material), counting only corners whose three
// coordinates are finite. Vertices that no such face uses do not count.
// Reads the records only.
ModelFit fit_model(const AseModel& model, UpAxis up);

// Moves every vertex and turns every corner normal of the model as fit
// says. Normals are only turned, so they stay unit vectors.
void apply_fit(AseModel& model, const ModelFit& fit);

// Objects whose material reference names no material of the model are given
// one plain light-grey material, appended to the model's materials, instead
// of being left undrawn. Returns how many objects got it.
int give_orphans_plain_material(AseModel& model);
