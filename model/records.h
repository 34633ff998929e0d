#pragma once

#include "vec3.h"

#include <vector>

// The records of one loaded model. Plain data: the reader fills them, the
// normal pass adds pVertexNormals, texture creation stores textureId, drawing
// reads them, and releaseModelArrays frees the per-object arrays at the end.

// Texts in records are at most 254 characters and a terminating zero.
constexpr int kTextSize = 255;

struct Vec2 {
    float u, v;
};

struct tTriangle {
    int vertexIndex[3]; // corners A, B, C into pVertices / pVertexNormals
    int texIndex[3];    // the same corners into pTexVertices
};

struct tMaterialInfo {
    char strMaterialName[kTextSize];
    char strBitmap[kTextSize]; // empty: the material has no texture
    float diffuse[3];
    float specular[3];
    unsigned int textureId; // 0 until a texture was made for strBitmap
    float uTiling;
    float vTiling;
};

struct t3DObject {
    int vertexCount;
    int faceCount;
    int texVertexCount;
    int materialId;  // index into tModel::materials
    bool hasTexture; // set once a texture vertex was read
    Vec3* pVertices;
    Vec3* pVertexNormals;
    Vec2* pTexVertices;
    tTriangle* pTriangles;
};

struct tModel {
    int objectCount = 0;
    int materialCount = 0;
    std::vector<tMaterialInfo> materials;
    std::vector<t3DObject> objects;
};

// Releases every object's arrays (triangles, normals, vertices, texture
// vertices, in that order) for objects 0 .. objectCount - 1. The pointers are
// left as they are.
void releaseModelArrays(tModel& model);
