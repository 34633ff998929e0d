#pragma once

#include "options.h"

// The scene with a model of the user's in the robot's place.

// Reads the model named on the command line into the scene's model, gives
// objects without a material a plain one, and fits it into the robot's
// place. Runs before the window opens. False when the file cannot be opened
// (the reader has said so); a model without triangles is reported and left
// empty, and the scene runs without it.
bool load_own_model(const RunOptions& options);

// init_scene for the loaded model: the same light, the model's textures from
// the bitmaps find_bitmap finds (a missing or undecodable one is reported and
// its material drawn untextured), the grass from the working directory or
// the program's own data folder, and display list 10 drawing the fitted
// model so that it leaves the GL state as it found it.
void init_scene_with_own_model();
