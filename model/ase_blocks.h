#pragma once

#include "ase_model.h"

#include <cstddef>
#include <cstdint>
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
// found. A text that does not begin (after a byte order mark and white space)
// with a '*' keyword is no ASE model: it is not read, *model is left empty,
// and the one problem line is "NAME is not an ASE model: " and what the text
// begins with. False then, and when model is null or data is null with a
// size.
bool readAseBlocks(const char* data, size_t size, const char* name, AseModel* model,
                   std::vector<std::string>* problems);

// The same for a text that read hands over in pieces of pieceBytes (size:
// how long it is, for the memory its counts may ask for). Only a piece and
// the lines being read are held at a time; the model and the problems are
// those readAseBlocks gives for the whole text.
bool readAseBlocksInPieces(size_t (*read)(void* source, unsigned char* data, size_t bytes),
                           void* source, uint64_t size, const char* name, AseModel* model,
                           std::vector<std::string>* problems, size_t pieceBytes);

enum class AseLoad {
    read,
    // The file cannot be opened (*model and *problems untouched); the caller
    // says so.
    cannotOpen,
    // The file is no ASE model; the one problem line says what it is.
    notAseModel,
};

// The same for the file at path (backslashes are directory separators),
// named in the problem lines as given, read in pieces.
AseLoad loadAseBlocks(const char* path, AseModel* model, std::vector<std::string>* problems);
