#include "draw_model.h"
#include "gl_context.h"

#include <GL/gl.h>
#include <array>
#include <gtest/gtest.h>

namespace {

constexpr int kSize = 64;
constexpr GLuint kList = 10;

using Rgb = std::array<int, 3>;

// A model built in memory; its arrays belong to the fixture.
class DrawModel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        contextOpen = context.open(kSize, kSize);
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, kSize, 0, kSize, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        // The default light shines along -z onto faces whose normal is +z.
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
    }
    static void TearDownTestSuite() { context.close(); }
    void SetUp() override { ASSERT_TRUE(contextOpen) << "no surfaceless EGL context"; }

    void TearDown() override {
        releaseModelArrays(model);
        glDeleteTextures(1, &texture);
    }

    int addMaterial(float r, float g, float b) {
        model.materials.push_back(tMaterialInfo{});
        float* diffuse = model.materials.back().diffuse;
        diffuse[0] = r;
        diffuse[1] = g;
        diffuse[2] = b;
        return model.materialCount++;
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

    static Rgb pixel(int x, int y) {
        unsigned char rgba[4];
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return {rgba[0], rgba[1], rgba[2]};
    }

    static inline GlContext context;
    static inline bool contextOpen = false;
    tModel model;
    GLuint texture = 0;
};

const Rgb kClear = {0, 0, 0}, kRed = {255, 0, 0}, kGreen = {0, 255, 0}, kBlue = {0, 0, 255};

TEST_F(DrawModel, ObjectsAreLitAndTexturedAsTheirRecordsSay) {
    // A 2 by 1 texture: red on the left, blue on the right.
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    const unsigned char texels[6] = {255, 0, 0, 0, 0, 255};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    int white = addMaterial(1, 1, 1);
    model.materials[white].textureId = texture;
    for (int i = 0; i < 2; i++) {
        t3DObject& object = addTriangle(white, i == 0 ? 4 : 34, 4, 20);
        object.texVertexCount = 2;
        object.pTexVertices = new Vec2[2]{{0.25f, 0.5f}, {0.75f, 0.5f}};
        // The left triangle samples the red texel, the right one the blue.
        object.pTriangles[0] = {{0, 1, 2}, {i, i, i}};
        object.hasTexture = true;
    }
    // Untextured after them: a green one facing the light, a white one
    // facing away from it, which keeps only the ambient part.
    addTriangle(addMaterial(0, 1, 0), 4, 34, 20);
    t3DObject& away = addTriangle(white, 34, 34, 20);
    for (int i = 0; i < 3; i++)
        away.pVertexNormals[i] = Vec3(0, 0, -1);
    drawFromList();
    EXPECT_EQ(pixel(8, 8), kRed);
    EXPECT_EQ(pixel(38, 8), kBlue);
    EXPECT_EQ(pixel(8, 38), kGreen);
    EXPECT_GT(pixel(38, 38)[0], 0);
    EXPECT_LT(pixel(38, 38)[0], 80);
    // Beyond the hypotenuse and below the base stay clear.
    EXPECT_EQ(pixel(20, 20), kClear);
    EXPECT_EQ(pixel(8, 2), kClear);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
}

TEST_F(DrawModel, BadObjectsAndTrianglesAreSkipped) {
    int red = addMaterial(1, 0, 0);
    addTriangle(red + 1, 4, 4, 20);
    addTriangle(-1, 4, 4, 20);
    // A textured object without texture vertices is drawn without coordinates;
    // texture 0 holds no image, so the lit colour passes through unchanged.
    addTriangle(red, 4, 34, 20).hasTexture = true;
    t3DObject& object = addTriangle(red, 34, 34, 20);
    // Three bad triangles before one good one: vertex index too high,
    // negative, and a texture index past the texture vertices.
    delete[] object.pTriangles;
    object.faceCount = 4;
    object.pTriangles = new tTriangle[4]{{{0, 1, 3}, {0, 0, 0}},
                                         {{0, -1, 2}, {0, 0, 0}},
                                         {{0, 1, 2}, {0, 0, 5}},
                                         {{0, 1, 2}, {0, 0, 0}}};
    object.hasTexture = true;
    object.texVertexCount = 1;
    object.pTexVertices = new Vec2[1]{{0.5f, 0.5f}};
    // Nor is a count larger than the list holds trusted.
    model.objectCount += 2;
    drawFromList();
    EXPECT_EQ(pixel(8, 8), kClear);
    EXPECT_EQ(pixel(8, 38), kRed);
    EXPECT_EQ(pixel(38, 38), kRed);

    // Missing normals make every triangle undrawable.
    delete[] object.pVertexNormals;
    object.pVertexNormals = nullptr;
    drawFromList();
    EXPECT_EQ(pixel(38, 38), kClear);
}

} // namespace
