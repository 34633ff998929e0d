#pragma once

#include "ase_model.h"

#include <cstddef>
#include <string>
#include <vector>

// The reader of a user's own ASE file, as exporters mean the format: a block
// is "*KEYWORD ... { ... }", nested as in the file, and each block it knows
// fills its part of an AseModel. Unknown blocks, and objects other than
// meshes, are skipped whole. Numbers are read exactly as the robot's reader
// reads them. Problems in the file come back as lines "FILE:LINE: what"; a
// damaged file keeps everything it holds.

// Reads the text in data (size bytes; name is used in the problem lines) into
// *model, which is replaced, and completes every corner's normal
// (computeCornerNormals). *problems, when given, is replaced by the problems
// found. False only when model is null or data is null with a size.
bool readAseBlocks(const char* data, size_t size, const char* name, AseModel* model,
                   std::vector<std::string>* problems);

// The same for the file at path (backslashes are directory separators),
// named in the problem lines as given. False, with *model and *problems
// untouched, when the file cannot be opened; the caller says so.
bool loadAseBlocks(const char* path, AseModel* model, std::vector<std::string>* problems);
