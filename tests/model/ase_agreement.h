#pragma once

#include "ase_model.h"
#include "records.h"

#include <cstddef>
#include <string>
#include <vector>

// Where the robot's reader and the block reader of a user's own model must
// read a file alike, and what alike means; shared by the unit tests and the
// fuzz target.

// Whether the file is one both readers see whole: a well-formed exporter
// file without sub-materials whose every line the robot's reader reads from
// its first word. Conservative: it accepts the files our scripts write and
// small changes to their numbers, and refuses much that would still agree.
// False with the reason in why.
bool readAlikeByBothReaders(const char* data, size_t size, std::string* why);

// Whether the two models hold the same vertices (the robot's reader turns
// the file's (a, b, c) into (a, c, -b); one the file does not give is zero
// in both), texture vertices (the robot's reader
// scales them by its material's tiling, where it read any), faces (vertex
// and texture indices; a face or texture face the file does not give is 0 0 0
// there and -1 -1 -1 in the block model) and material colours, bit for bit
// (any NaN matches any NaN). False with the first difference in why.
bool sameAsRobotReader(const AseModel& blocks, const tModel& robot, std::string* why);

// Whether two readings of a file by the block reader gave the same model,
// every field bit for bit. False with what differs in why.
bool sameAseModel(const AseModel& a, const AseModel& b, std::string* why);

// The block reader's reading of the size bytes at data handed over in pieces
// of pieceBytes (readAseBlocksInPieces).
bool readBlocksInPieces(const char* data, size_t size, const char* name, AseModel* model,
                        std::vector<std::string>* problems, size_t pieceBytes);
