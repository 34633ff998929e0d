#include "draw_model.h"

#include <GL/gl.h>

namespace {

bool inArray(int index, int count, const void* array) {
    return array && index >= 0 && index < count;
}

} // namespace

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
