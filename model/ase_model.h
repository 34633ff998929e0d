#pragma once

#include "records.h"
#include "vec3.h"

#include <cstdint>
#include <string>
#include <vector>

// A model of the user's, as exporters mean their ASE files: objects with
// their transform, faces with their smoothing groups and material ids, a
// normal per face corner, and materials with their sub-materials and diffuse
// maps. Plain data: the block reader fills it, computeCornerNormals completes
// the normals, the program fits it into the scene, makes its textures and
// draws it. Coordinates stay in the file's own axes until the program fits
// the model.

// A material, or one sub-material of a Multi/Sub-Object material.
struct AseMaterial {
    std::string name;
    float diffuse[3] = {0, 0, 0};
    float specular[3] = {0, 0, 0};
    // The *BITMAP of the material's *MAP_DIFFUSE block, its whole quoted
    // text (blanks kept, backslashes as written); empty: no texture. Other
    // maps (bump, specular, opacity, reflection) give no texture.
    std::string bitmap;
    // The diffuse map's tiling; 1 where the map gives none.
    float uTiling = 1;
    float vTiling = 1;
    // The *SUBMATERIAL blocks, in the order the file gives them.
    std::vector<AseMaterial> subMaterials;
    // Set by the program when it makes the bitmap's texture: its name (0:
    // none), and whether it has texels that are not fully opaque, so that it
    // is drawn as a cut-out.
    unsigned int textureId = 0;
    bool textureCutOut = false;
};

struct AseFace {
    // Vertex indices of the corners A, B, C; -1 for a face that the count
    // promises but the file does not give.
    int corner[3] = {-1, -1, -1};
    // Texture vertex indices of the same corners; -1 where the file gives no
    // *MESH_TFACE for the face.
    int texCorner[3] = {-1, -1, -1};
    // Smoothing groups: bit g - 1 for group g (1 to 32). 0: the face is flat.
    uint32_t smoothing = 0;
    // *MESH_MTLID: which sub-material of the object's material the face uses.
    int materialId = 0;
    // *MESH_CFACE: colour vertex indices of the corners; all three -1 where
    // the file gives no colour face for the face, or one that names colour
    // vertices the object does not have.
    int colorCorner[3] = {-1, -1, -1};
    // Bit k is set when corner k's normal came from the file's *MESH_NORMALS.
    uint8_t fileNormals = 0;
    // A unit normal per corner, in the file's axes (world space): the file's
    // own where fileNormals says so, turned out of the object's space by its
    // transform; the others from computeCornerNormals.
    Vec3 normal[3] = {Vec3(0, 0, 1), Vec3(0, 0, 1), Vec3(0, 0, 1)};
};

struct AseObject {
    std::string name;
    // *NODE_TM's *TM_ROW0 .. *TM_ROW3: the object's space into world space
    // (rows 0 to 2 turn and scale, row 3 moves). Identity when not given.
    float transform[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    // Positions as written, in world space and the file's axes; one per
    // *MESH_NUMVERTEX (zero where the file gives no line).
    std::vector<Vec3> vertices;
    // Texture coordinates as written (not tiled, v not flipped); one per
    // *MESH_NUMTVERTEX.
    std::vector<Vec2> texVertices;
    // Vertex colours (*MESH_VERTCOL) as written, red, green, blue from 0 to
    // 1; one per *MESH_NUMCVERTEX.
    std::vector<Vec3> colorVertices;
    // One per *MESH_NUMFACES.
    std::vector<AseFace> faces;
    // *MATERIAL_REF: index into the model's materials. Without one, 0 when
    // the model has materials (as game engines take it), else -1.
    int materialRef = -1;
};

struct AseModel {
    std::vector<AseMaterial> materials;
    std::vector<AseObject> objects;
};

// The material a face is drawn with: a material without sub-materials for
// every face of its object; of one with n sub-materials, sub-material
// (materialId mod n), taken again at each level of nested sub-materials.
// Null when the object's material reference names no material.
const AseMaterial* faceMaterial(const AseModel& model, const AseObject& object,
                                const AseFace& face);

// Every material of the model and every sub-material, each once, a material
// before its sub-materials.
std::vector<const AseMaterial*> allMaterials(const AseModel& model);
std::vector<AseMaterial*> allMaterials(AseModel& model);

// Whether the face can be drawn: its three corners index the object's
// vertices.
bool drawableFace(const AseObject& object, const AseFace& face);

// Whether the face has texture coordinates: its three texture corners index
// the object's texture vertices.
bool texturedFace(const AseObject& object, const AseFace& face);

// Whether the face has vertex colours: its three colour corners index the
// object's colour vertices.
bool coloredFace(const AseObject& object, const AseFace& face);
