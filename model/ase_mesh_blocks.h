#pragma once

#include "block_reading.h"

#include <vector>

// The *MESH block of an object: its counts and its lists of vertices, faces,
// texture vertices, texture faces, vertex colours, colour faces and normals.

namespace block_reading {

// What the reader keeps of an object besides its record.
struct ObjectWork {
    // Where each count keyword stood (SIZE_MAX: not yet), and the count
    // it gave.
    size_t countAt[kArrayKinds] = {SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX};
    size_t counted[kArrayKinds] = {};
    long long stored[kArrayKinds] = {};
    bool meshRead = false;
    // File normals wait in their corners, in the object's space, until the
    // object is complete. Those of faces whose corners were not read yet
    // wait here.
    struct Normal {
        size_t face;
        int vertex;
        Vec3 normal;
    };
    std::vector<Normal> waiting;
};

// Reads the *MESH block whose '{' is behind p into object.
void readMesh(Reader& r, size_t& p, AseObject& object, ObjectWork& work);

// Once the object's block has ended (at end, or where the text ends): turns
// its file normals out of its space by its transform, which may have come
// after the mesh, and reports the arrays its lines left short.
void finishObject(Reader& r, AseObject& object, const ObjectWork& work, size_t end);

} // namespace block_reading
