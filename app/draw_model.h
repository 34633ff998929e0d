#pragma once

#include "records.h"

// Sends every object of the model as lit triangles with its material colours,
// and textured when it has texture vertices. Objects whose material is not in
// the model and triangles with an index outside their arrays are skipped.
// The scene records this once into the robot's display list.
void drawModel(const tModel* model);

// Whether drawModel sends the triangle: all three corners index the object's
// vertices and normals, and its texture vertices when it is drawn textured.
// All corners are checked before the first is sent, so that a batch never
// holds a partial triangle.
bool drawableTriangle(const t3DObject& object, const tTriangle& triangle);
