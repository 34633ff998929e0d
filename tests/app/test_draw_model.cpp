#include "draw_model.h"
#include "gl_context.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr int kSize = 64;
constexpr GLuint kList = 10;

struct Pixel {
    int r, g, b;
};

// A model built in memory; its arrays belong to the fixture.
class DrawModel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { contextOpen = context.open(kSize, kSize); }
    static void TearDownTestSuite() { context.close(); }

    void SetUp() override {
        ASSERT_TRUE(contextOpen) << "no surfaceless EGL context";
        glViewport(0, 0, kSize, kSize);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kSize, 0, kSize, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0, 0, 0);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_TEXTURE_2D);
        // The default light shines along -z onto faces whose normal is +z.
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
    }

    void TearDown() override {
        for (t3DObject& object : model.objects) {
            delete[] object.pVertices;
            delete[] object.pVertexNormals;
            delete[] object.pTexVertices;
            delete[] object.pTriangles;
        }
        glDeleteTextures(GLsizei(textures.size()), textures.data());
    }

    int addMaterial(float r, float g, float b) {
        tMaterialInfo material{};
        material.diffuse[0] = r;
        material.diffuse[1] = g;
        material.diffuse[2] = b;
        model.materials.push_back(material);
        model.materialCount++;
        return model.materialCount - 1;
    }

    // One triangle with a right angle at (x, y), legs of the given length,
    // facing +z.
    t3DObject& addTriangle(int materialId, float x, float y, float legs) {
        t3DObject object{};
        object.materialId = materialId;
        object.vertexCount = 3;
        object.faceCount = 1;
        object.pVertices = new Vec3[3]{Vec3(x, y, 0), Vec3(x + legs, y, 0), Vec3(x, y + legs, 0)};
        object.pVertexNormals = new Vec3[3]{Vec3(0, 0, 1), Vec3(0, 0, 1), Vec3(0, 0, 1)};
        object.pTriangles = new tTriangle[1]{{{0, 1, 2}, {0, 0, 0}}};
        model.objects.push_back(object);
        model.objectCount++;
        return model.objects.back();
    }

    // Records the model into the robot's list, then replays it on a clear
    // frame, the way the scene does.
    void drawFromList() {
        glNewList(kList, GL_COMPILE);
        drawModel(&model);
        glEndList();
        glClear(GL_COLOR_BUFFER_BIT);
        glCallList(kList);
        glFinish();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    static Pixel pixel(int x, int y) {
        unsigned char rgba[4];
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return {rgba[0], rgba[1], rgba[2]};
    }

    static GlContext context;
    static bool contextOpen;
    tModel model;
    std::vector<GLuint> textures;
};

GlContext DrawModel::context;
bool DrawModel::contextOpen = false;

TEST_F(DrawModel, LitTriangleLandsWhereItsVerticesSayInItsMaterialColour) {
    addTriangle(addMaterial(1, 0, 0), 8, 8, 40);
    drawFromList();
    Pixel inside = pixel(16, 16);
    EXPECT_GT(inside.r, 200);
    EXPECT_EQ(inside.g, 0);
    EXPECT_EQ(inside.b, 0);
    // Beyond the hypotenuse and below the base stay clear.
    Pixel beyond = pixel(44, 44);
    EXPECT_EQ(beyond.r + beyond.g + beyond.b, 0);
    Pixel below = pixel(16, 4);
    EXPECT_EQ(below.r + below.g + below.b, 0);
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(DrawModel, NormalsComeFromTheVertexNormals) {
    t3DObject& object = addTriangle(addMaterial(1, 1, 1), 8, 8, 40);
    // Facing away from the light: only the ambient part is left.
    for (int i = 0; i < 3; i++)
        object.pVertexNormals[i] = Vec3(0, 0, -1);
    drawFromList();
    Pixel dark = pixel(16, 16);
    EXPECT_GT(dark.g, 0);
    EXPECT_LT(dark.g, 80);
}

TEST_F(DrawModel, TexturedObjectSamplesItsTextureAtItsCoordinates) {
    // A 2 by 1 texture: red on the left, blue on the right.
    GLuint texture;
    glGenTextures(1, &texture);
    textures.push_back(texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    const unsigned char texels[6] = {255, 0, 0, 0, 0, 255};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);

    int white = addMaterial(1, 1, 1);
    model.materials[white].textureId = texture;
    for (int i = 0; i < 2; i++) {
        t3DObject& object = addTriangle(white, i == 0 ? 4 : 34, 8, 26);
        object.texVertexCount = 2;
        object.pTexVertices = new Vec2[2]{{0.25f, 0.5f}, {0.75f, 0.5f}};
        // The left triangle samples the red texel, the right one the blue.
        object.pTriangles[0] = {{0, 1, 2}, {i, i, i}};
        object.hasTexture = true;
    }
    drawFromList();
    Pixel left = pixel(10, 12);
    Pixel right = pixel(40, 12);
    EXPECT_GT(left.r, 200);
    EXPECT_EQ(left.b, 0);
    EXPECT_GT(right.b, 200);
    EXPECT_EQ(right.r, 0);
    // The last object leaves texturing on with its texture bound.
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), texture);
}

TEST_F(DrawModel, UntexturedObjectAfterATexturedOneTurnsTexturingOff) {
    int material = addMaterial(0, 1, 0);
    t3DObject& textured = addTriangle(material, 4, 4, 10);
    textured.hasTexture = true; // without texture vertices: no coordinates sent
    addTriangle(material, 30, 30, 20);
    drawFromList();
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_GT(pixel(34, 34).g, 200);
}

TEST_F(DrawModel, EmptyModelDrawsNothing) {
    drawFromList();
    Pixel p = pixel(32, 32);
    EXPECT_EQ(p.r + p.g + p.b, 0);
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));

    // A count larger than the list holds is not trusted either.
    model.objectCount = 3;
    drawFromList();
}

TEST_F(DrawModel, ObjectsWithAMaterialOutsideTheListAreSkipped) {
    int red = addMaterial(1, 0, 0);
    addTriangle(red + 1, 4, 4, 20);
    addTriangle(-1, 4, 4, 20);
    addTriangle(red, 34, 34, 20);
    drawFromList();
    Pixel skipped = pixel(8, 8);
    EXPECT_EQ(skipped.r + skipped.g + skipped.b, 0);
    EXPECT_GT(pixel(38, 38).r, 200);
}

TEST_F(DrawModel, ModelWithoutMaterialsDrawsNothing) {
    addTriangle(0, 4, 4, 40);
    drawFromList();
    Pixel p = pixel(8, 8);
    EXPECT_EQ(p.r + p.g + p.b, 0);
}

TEST_F(DrawModel, TrianglesWithIndicesOutsideTheirArraysAreSkipped) {
    int red = addMaterial(1, 0, 0);
    t3DObject& object = addTriangle(red, 4, 4, 20);
    // Three more triangles over one good one: vertex index too high, negative,
    // and a texture index past the texture vertices.
    delete[] object.pTriangles;
    object.faceCount = 4;
    object.pTriangles = new tTriangle[4]{
        {{0, 1, 3}, {0, 0, 0}},
        {{0, -1, 2}, {0, 0, 0}},
        {{0, 1, 2}, {0, 0, 5}},
        {{0, 1, 2}, {0, 0, 0}},
    };
    object.hasTexture = true;
    object.texVertexCount = 1;
    object.pTexVertices = new Vec2[1]{{0.5f, 0.5f}};
    glBindTexture(GL_TEXTURE_2D, 0);
    drawFromList();
    // The good last triangle is drawn (texture 0 holds no image, so the
    // texture stage passes the lit colour through unchanged).
    EXPECT_GT(pixel(8, 8).r, 200);

    // Missing normals make every triangle undrawable.
    delete[] object.pVertexNormals;
    object.pVertexNormals = nullptr;
    drawFromList();
    Pixel p = pixel(8, 8);
    EXPECT_EQ(p.r + p.g + p.b, 0);
}

} // namespace
