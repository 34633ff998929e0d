#pragma once

#include "ase_model.h"
#include "records.h"

#include <cstddef>
#include <vector>

// Sends every object of the model as lit triangles with its material colours,
// and textured when it has texture vertices. Objects whose material is not in
// the model and triangles with an index outside their arrays are skipped.
// The scene records this once into the robot's display list.
void drawModel(const tModel* model);

// Sends every drawable face of a model of the user's as lit triangles with a
// normal per corner, grouped by the (sub-)material each face is drawn with:
// per group its colours, its texture when it has one, and for a cut-out
// texture alpha testing, so that fully transparent texels leave what is
// behind them. A face without texture coordinates is drawn untextured in its
// material's colours. Faces whose object names no material are skipped.
// The current colour is the material's diffuse colour, on a face with vertex
// colours each corner's colour times it, so that colour tracking
// (GL_COLOR_MATERIAL on ambient and diffuse), which the caller switches,
// shows the vertex colours and leaves the other faces as they are. The scene
// records this into the robot's display list; it changes the enables, the
// current material and colour, the texture binding and the alpha test,
// which the caller saves and restores.
void draw_own_model(const AseModel& model);

// The faces of a model of the user's in the order draw_own_model sends them:
// one group for each (sub-)material that faces are drawn with, and within it
// those with texture coordinates apart from those without; faces in the
// file's order within a group. Plain data, no GL: it costs a step per face.
struct GroupedFace {
    const AseObject* object;
    const AseFace* face;
};
struct FaceGroup {
    const AseMaterial* material;
    // Drawn with the material's texture: it has one and the faces have
    // texture coordinates.
    bool textured;
    // The group's faces are faces[begin] to faces[end - 1].
    size_t begin, end;
};
struct FaceGroups {
    std::vector<FaceGroup> groups;
    std::vector<GroupedFace> faces;
};
FaceGroups group_faces(const AseModel& model);
