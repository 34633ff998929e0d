#pragma once

#include <string>

// Finding the files a model of the user's names, and the scene's own files,
// when the program shows a model given on the command line.

// The regular file at path ('/' separators), found the way a
// case-insensitive file system would find it: every component that is
// missing under its exact name is matched ignoring ASCII case (among several
// such names the first in byte order). The path as it exists on disk, or ""
// when there is none.
std::string match_path_ignoring_case(const std::string& path);

// The bitmap file that a material of the model at model_path names: the name
// as written (backslashes are separators) from the working directory, then
// relative to the model's folder, then its last component in the model's
// folder, each matched as above. "" when none of them exists.
std::string find_bitmap(const char* written, const char* model_path);

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
