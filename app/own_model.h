#pragma once

#include "ase_model.h"
#include "options.h"

#include <string>
#include <vector>

// The scene with a model of the user's in the robot's place.

// Reads the model named on the command line into *model with its corner
// normals (the file's problems are printed one per line), gives objects
// without a material a plain one, and fits it into the robot's place. Runs
// before the window opens. False when the file cannot be opened ("Unable to
// find or open the file: PATH" is printed, without a line end) or is no ASE
// model ("PATH is not an ASE model: ...", the same way); a model
// without triangles is reported and left empty, and the scene runs without
// it.
bool load_own_model(const RunOptions& options, AseModel* model);

// What make_model_textures did.
struct ModelTextures {
    // Bitmap files read and decoded, each once however many materials name
    // it.
    int filesRead = 0;
    // One line for each material whose bitmap is missing or does not decode.
    std::vector<std::string> messages;
    // Every bitmap file found for the model, each once, as opened.
    std::vector<std::string> files;
};

// Makes the texture of every material and sub-material that names a bitmap,
// found by find_bitmap from the model's path (options.model_path). Materials that name the same
// file share its texture; a picture with texels that are not fully opaque
// becomes an RGBA texture and its materials cut-outs. A material whose
// bitmap is missing or does not decode keeps texture 0 and is drawn
// untextured. Needs a GL context.
ModelTextures make_model_textures(AseModel& model, const RunOptions& options);

// init_scene for the loaded model: the same light, the model's textures (a
// missing or undecodable bitmap is reported and its material drawn
// untextured), the grass from the working directory or the program's own
// data folder, and display list 10 drawing the fitted model so that it
// leaves the GL state as it found it.
void init_scene_with_own_model(AseModel& model, const RunOptions& options);
