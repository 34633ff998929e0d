#pragma once

#include "records.h"

#include <cstddef>
#include <string>
#include <vector>

// Makes a texture from a bitmap file and stores its name. The program plugs in
// its OpenGL texture maker; tools and tests leave it empty or plug in a fake.
using TextureMaker = void (*)(const char* path, unsigned int* textureName);

struct AseReadState;

class AseReader {
  public:
    // Called once for every material that names a bitmap, after the file was
    // read and closed. Null: no textures are made.
    TextureMaker textureMaker = nullptr;

    // Problems found in the file by the last read, one line each, in the form
    // "FILE:LINE: what was wrong". Each is also printed on standard output
    // unless printProblems is false.
    std::vector<std::string> problems;
    bool printProblems = true;

    // Reads the ASE file at path (backslashes are directory separators) into
    // model, computes its vertex normals and asks for the materials' textures.
    // False, with the message "Unable to find or open the file: PATH" on
    // standard output, when the file cannot be opened; false without a message
    // when model or path is null.
    bool loadModel(tModel* model, const char* path);

    // The same reading and normal pass over bytes already in memory; name is
    // used in messages. Makes no textures.
    bool readModelFromMemory(tModel* model, const char* data, size_t size, const char* name);

    // Gives every vertex of every object the unit vector along the
    // area-weighted sum of the normals of the triangles that use it. A triangle
    // naming a vertex the object does not have is left out.
    void computeVertexNormals(tModel* model);

  private:
    // Fills model from the text in state: counts, materials, then objects.
    void readModel(AseReadState& state, tModel* model);
    // Fills problems from what the read found, and prints them.
    void reportProblems(AseReadState& state);
};
