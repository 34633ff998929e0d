#include "draw_model.h"

#include <GL/gl.h>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

bool inArray(int index, int count, const void* array) {
    return array && index >= 0 && index < count;
}

// Whether drawModel sends the triangle: all three corners index the object's
// vertices and normals, and its texture vertices when it is drawn textured.
// All corners are checked before the first is sent, so that a batch never
// holds a partial triangle.
bool drawableTriangle(const t3DObject& object, const tTriangle& triangle) {
    bool texCoords = object.hasTexture && object.pTexVertices;
    for (int k = 0; k < 3; k++) {
        int n = triangle.vertexIndex[k];
        if (!inArray(n, object.vertexCount, object.pVertices) ||
            !inArray(n, object.vertexCount, object.pVertexNormals))
            return false;
        if (texCoords && !inArray(triangle.texIndex[k], object.texVertexCount, object.pTexVertices))
            return false;
    }
    return true;
}

} // namespace

void drawModel(const tModel* model) {
    int objectCount = model->objectCount;
    if (objectCount > int(model->objects.size()))
        objectCount = int(model->objects.size());
    for (int i = 0; i < objectCount; i++) {
        const t3DObject& object = model->objects[i];
        if (object.materialId < 0 || object.materialId >= int(model->materials.size()))
            continue;
        const tMaterialInfo& material = model->materials[object.materialId];

        if (object.hasTexture) {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, material.textureId);
        } else {
            glDisable(GL_TEXTURE_2D);
        }

        // The records keep three components per colour; blending is never on,
        // so the alpha does not show.
        float diffuse[4] = {material.diffuse[0], material.diffuse[1], material.diffuse[2], 1.0f};
        float specular[4] = {material.specular[0], material.specular[1], material.specular[2],
                             1.0f};
        glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, diffuse);
        glMaterialfv(GL_FRONT, GL_SPECULAR, specular);

        bool texCoords = object.hasTexture && object.pTexVertices;
        glBegin(GL_TRIANGLES);
        for (int j = 0; object.pTriangles && j < object.faceCount; j++) {
            const tTriangle& triangle = object.pTriangles[j];
            if (!drawableTriangle(object, triangle))
                continue;
            for (int k = 0; k < 3; k++) {
                const Vec3& normal = object.pVertexNormals[triangle.vertexIndex[k]];
                glNormal3f(normal.x, normal.y, normal.z);
                if (texCoords) {
                    const Vec2& tex = object.pTexVertices[triangle.texIndex[k]];
                    glTexCoord2f(tex.u, tex.v);
                }
                const Vec3& vertex = object.pVertices[triangle.vertexIndex[k]];
                glVertex3f(vertex.x, vertex.y, vertex.z);
            }
        }
        glEnd();
    }
    glDisable(GL_COLOR_MATERIAL);
}

namespace {

void sendGroupState(const AseMaterial& material, bool textured) {
    if (textured) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, material.textureId);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
    if (textured && material.textureCutOut) {
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GREATER, 0.5f);
    } else {
        glDisable(GL_ALPHA_TEST);
    }
    float diffuse[4] = {material.diffuse[0], material.diffuse[1], material.diffuse[2], 1.0f};
    float specular[4] = {material.specular[0], material.specular[1], material.specular[2], 1.0f};
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    // What colour tracking would put in the material's place.
    glColor4fv(diffuse);
}

// Sends a face's corners; with coloured, each corner's vertex colour times
// that material's diffuse colour as the current colour.
void sendFace(const AseObject& object, const AseFace& face, const AseMaterial* tiled,
              const AseMaterial* coloured) {
    for (int k = 0; k < 3; k++) {
        if (coloured) {
            const Vec3& c = object.colorVertices[size_t(face.colorCorner[k])];
            glColor4f(c.x * coloured->diffuse[0], c.y * coloured->diffuse[1],
                      c.z * coloured->diffuse[2], 1.0f);
        }
        glNormal3f(face.normal[k].x, face.normal[k].y, face.normal[k].z);
        if (tiled) {
            const Vec2& tex = object.texVertices[size_t(face.texCorner[k])];
            glTexCoord2f(tex.u * tiled->uTiling, tex.v * tiled->vTiling);
        }
        const Vec3& vertex = object.vertices[size_t(face.corner[k])];
        glVertex3f(vertex.x, vertex.y, vertex.z);
    }
}

} // namespace

FaceGroups group_faces(const AseModel& model) {
    std::vector<const AseMaterial*> materials = allMaterials(model);
    std::unordered_map<const AseMaterial*, size_t> indexOf;
    for (size_t i = 0; i < materials.size(); i++)
        indexOf.emplace(materials[i], i);

    // Group 2 m holds the faces drawn with material m untextured, 2 m + 1
    // those drawn with its texture. Faces are counted into their groups,
    // then placed, so that the grouping costs a step per face and keeps the
    // file's order within each group.
    std::vector<size_t> group;
    std::vector<size_t> start(2 * materials.size() + 1, 0);
    const AseMaterial* last = nullptr;
    size_t lastIndex = 0;
    for (const AseObject& object : model.objects) {
        for (const AseFace& face : object.faces) {
            const AseMaterial* material = faceMaterial(model, object, face);
            if (!material || !drawableFace(object, face)) {
                group.push_back(SIZE_MAX);
                continue;
            }
            // Neighbouring faces mostly share their material.
            if (material != last) {
                last = material;
                lastIndex = indexOf.find(material)->second;
            }
            bool textured = material->textureId && texturedFace(object, face);
            group.push_back(2 * lastIndex + (textured ? 1 : 0));
            start[group.back() + 1]++;
        }
    }
    for (size_t g = 1; g < start.size(); g++)
        start[g] += start[g - 1];

    FaceGroups groups;
    groups.faces.resize(start.back());
    std::vector<size_t> next(start.begin(), start.end() - 1);
    size_t f = 0;
    for (const AseObject& object : model.objects) {
        for (const AseFace& face : object.faces) {
            if (group[f] != SIZE_MAX)
                groups.faces[next[group[f]]++] = {&object, &face};
            f++;
        }
    }
    for (size_t g = 0; g + 1 < start.size(); g++) {
        if (start[g] < start[g + 1])
            groups.groups.push_back({materials[g / 2], g % 2 == 1, start[g], start[g + 1]});
    }
    return groups;
}

void draw_own_model(const AseModel& model) {
    FaceGroups groups = group_faces(model);
    for (const FaceGroup& group : groups.groups) {
        const AseMaterial& material = *group.material;
        sendGroupState(material, group.textured);
        // Whether the current colour is the material's own.
        bool plain = true;
        glBegin(GL_TRIANGLES);
        for (size_t i = group.begin; i < group.end; i++) {
            const GroupedFace& face = groups.faces[i];
            bool coloured = coloredFace(*face.object, *face.face);
            if (!coloured && !plain)
                glColor4f(material.diffuse[0], material.diffuse[1], material.diffuse[2], 1.0f);
            plain = !coloured;
            sendFace(*face.object, *face.face, group.textured ? &material : nullptr,
                     coloured ? &material : nullptr);
        }
        glEnd();
    }
}
