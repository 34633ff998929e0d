#pragma once

#include "records.h"

// Sends every object of the model as lit triangles with its material colours,
// and textured when it has texture vertices. Objects whose material is not in
// the model and triangles with an index outside their arrays are skipped.
// The scene records this once into the robot's display list.
void drawModel(const tModel* model);
