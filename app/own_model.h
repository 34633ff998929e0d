#pragma once

#include "ase_model.h"
#include "options.h"

#include <string>
#include <vector>

// The scene with a model of the user's in the robot's place.

// What one read of the model's file gave.
struct OwnModelRead {
    enum class Outcome { shown, cannot_open, not_ase_model, no_triangles };
    Outcome outcome = Outcome::cannot_open;
    // For not_ase_model: "MODEL is not an ASE model: " and what it begins
    // with.
    std::string refusal;
    // How the model was fitted into the robot's place.
    ModelFit fit;
    // The materials of the file's own list (sub-materials not counted apart).
    int materials = 0;
    // Reading, normals and fitting, in milliseconds.
    double milliseconds = 0;
};

// Reads the model named on the command line into *model with its corner
// normals (the file's problems are printed one per line), gives objects
// without a material a plain one, and fits it into the robot's place. A
// model that cannot be opened, or has no triangles to show, leaves *model
// as it was. The one place the model's file is read, at start and on every
// reload.
OwnModelRead read_own_model(const RunOptions& options, AseModel* model);

// The read at start, before the window opens. False when the file cannot be
// opened ("Unable to find or open the file: PATH" is printed, without a line
// end) or is no ASE model ("PATH is not an ASE model: ...", the same way); a
// model without triangles is reported and left empty, and the scene runs
// without it.
bool load_own_model(const RunOptions& options, AseModel* model, OwnModelRead* read);

// What make_model_textures did.
struct ModelTextures {
    // Bitmap files read and decoded: each file once, however many materials
    // name it and by whatever names.
    int filesRead = 0;
    // Bitmaps that were not found, each counted once as written.
    int missing = 0;
    // One line for each bitmap that was not found (with the materials that
    // name it and where it was looked for) and one for each file that does
    // not decode, in the order of the materials that first name them.
    std::vector<std::string> messages;
    // Every bitmap file found for the model, each once, as opened.
    std::vector<std::string> files;
};

// Makes the texture of every material and sub-material that names a bitmap,
// found by find_bitmaps from the model's path (options.model_path) and the
// texture folders (options.texture_dirs). Every material whose bitmap leads
// to the same file shares its texture; a picture with texels that are not
// fully opaque becomes an RGBA texture and its materials cut-outs. A
// material whose bitmap is missing or does not decode keeps texture 0 and is
// drawn untextured. Needs a GL context.
ModelTextures make_model_textures(AseModel& model, const RunOptions& options);

// init_scene for the loaded model: the same light, the model's textures (a
// missing or undecodable bitmap is reported and its material drawn
// untextured), the grass from the working directory or the program's own
// data folder, and display list 10 drawing the fitted model so that it
// leaves the GL state as it found it. Returns what the texture maker did.
ModelTextures init_scene_with_own_model(AseModel& model, const RunOptions& options);

// A model of the user's as the scene shows it, kept for reading it again.
struct ShownModel {
    AseModel model;
    OwnModelRead read;
    ModelTextures textures;
};

// Reads the model's file again. When it gives triangles to show, the old
// model's textures are deleted, the new one's made, and display list 10
// compiled anew; its problems, texture messages and summary are printed as
// at start. Otherwise the model shown so far stays and one line says why.
// Needs the GL context.
bool reload_own_model(const RunOptions& options, ShownModel* shown);

// The model's summary line on standard output: PATH: N objects, N vertices,
// N triangles, N materials (N bitmaps found, N missing), size X x Y x Z (in
// the file's units and axes), read in N ms.
void print_model_summary(const char* path, const ShownModel& shown);
