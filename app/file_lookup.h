#pragma once

#include <string>
#include <vector>

// Finding the files a model of the user's names, and the scene's own files,
// when the program shows a model given on the command line.

// A bitmap that a model names, as the search left it.
struct FoundBitmap {
    // The file, spelt as it exists on disk; "" when none was found.
    std::string path;
    // How many places were looked at.
    int tries = 0;
};

// The search for the bitmaps of one model.
struct BitmapSearch {
    // One for each name looked for, in the same order.
    std::vector<FoundBitmap> bitmaps;
    // The folders searched, in order and each once: "." (the working
    // directory), the model's folder, the texture folders.
    std::vector<std::string> folders;
};

// Looks for the bitmap files that the model at model_path names (as written
// in it: backslashes are separators), each in these places until one is a
// file:
// - the name from the working directory, then from the model's folder;
// - in the model's folder and then in each of texture_dirs: the name with
//   its leading parts dropped one at a time (a drive, leading separators and
//   "." and ".." parts go first), so that a game's "//base/textures/x/y.tga"
//   is found as base/textures/x/y.tga, textures/x/y.tga, x/y.tga or y.tga;
//   then, in the same folder, the same names with the extensions .tga, .png,
//   .jpg, .jpeg and .bmp in place of the named one (or added to a name
//   without one).
// Every place is matched as a case-insensitive file system finds a path:
// each part that is missing under its exact name is matched ignoring case,
// among several such names the first in byte order. Each folder is listed
// once for the whole search, and the places tried for a name are bounded
// however long it is.
BitmapSearch find_bitmaps(const std::vector<std::string>& written, const char* model_path,
                          const std::vector<std::string>& texture_dirs);

// The program's own data folder: PREFIX/share/robot-scene/data beside an
// installed program, else the source tree's data/ the program was built from.
std::string own_data_folder();

// For the run without a model of the user's: when the working directory has
// no data folder at all, the program works from the folder that holds its own
// data folder instead, so that an installed program shows its robot from
// anywhere. With a data folder present (or no data folder of the program's
// own) nothing changes, and the scene's files are looked for as always.
void work_from_own_data_when_none();

// A file of the scene's own (scene_path, e.g. "data\\grasstex.bmp"): as
// given, when it exists from the working directory; else the file of the
// same name in the program's own data folder, when that exists; else
// scene_path unchanged, so that the caller reports it missing under that
// name.
std::string find_scene_file(const char* scene_path);
