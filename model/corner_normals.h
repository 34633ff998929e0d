#pragma once

#include "ase_model.h"

#include <cstddef>
#include <cstdint>

// Gives every corner of every drawable face whose normal the file did not
// give (its fileNormals bit clear) the normal its smoothing groups make: the
// unit vector along the area-weighted sum of the normals of the object's
// faces that use the same vertex and share at least one group with the face.
// A face in no group is flat: its own normal at every corner. Face normals
// follow the corners A, B, C counter-clockwise, (B - A) x (C - A), in the
// file's axes. Where a sum gives no direction, the face's own normal is
// taken, and for a face without area (0, 0, 1): every corner of a drawable
// face ends with a finite unit normal. Faces that cannot be drawn are left
// as they are.
void computeCornerNormals(AseModel& model);

// What computing the corner normals takes at most for each vertex and each
// face of an object, besides the object itself: where each vertex's faces
// start, and per face its normal, its places in the vertices' lists, and at
// a vertex its group entry.
constexpr size_t kCornerNormalBytesPerVertex = 2 * sizeof(uint32_t);
constexpr size_t kCornerNormalBytesPerFace = 3 * sizeof(double) + 4 * sizeof(uint32_t) + 64;
