#include "draw_model.h"
#include "gl_context.h"
#include "texture.h"

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

    // Records the model (or the user's model, when given) into the robot's
    // list, then replays it on a clear frame, the way the scene does.
    void drawFromList(const AseModel* own = nullptr) {
        glNewList(kList, GL_COMPILE);
        if (own)
            draw_own_model(*own);
        else
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
    // Colour tracking, switched on by someone else, is off after the list.
    glEnable(GL_COLOR_MATERIAL);
    glCallList(kList);
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

// A model of the user's: one object whose faces are right triangles like
// addTriangle's, facing +z unless their corner normals say otherwise.
AseFace& addFace(AseObject& object, float x, float y, float legs) {
    int base = int(object.vertices.size());
    object.vertices.insert(object.vertices.end(),
                           {Vec3(x, y, 0), Vec3(x + legs, y, 0), Vec3(x, y + legs, 0)});
    object.faces.emplace_back();
    AseFace& face = object.faces.back();
    for (int k = 0; k < 3; k++)
        face.corner[k] = base + k;
    return face;
}

AseMaterial coloured(float r, float g, float b) {
    AseMaterial material;
    material.diffuse[0] = r;
    material.diffuse[1] = g;
    material.diffuse[2] = b;
    return material;
}

TEST_F(DrawModel, EachFaceTakesTheSubMaterialItsMaterialIdNames) {
    AseModel own;
    own.materials.push_back(coloured(1, 1, 1));
    for (const AseMaterial& sub : {coloured(1, 0, 0), coloured(0, 1, 0), coloured(0, 0, 1)})
        own.materials[0].subMaterials.push_back(sub);
    // A material without sub-materials colours every face of its object.
    own.materials.push_back(coloured(1, 0, 1));
    AseObject object;
    object.materialRef = 0;
    // Ids past the count and below zero wrap around.
    const int ids[4] = {1, 5, 3, -2};
    const float at[4][2] = {{4, 4}, {34, 4}, {4, 34}, {34, 34}};
    for (int i = 0; i < 4; i++)
        addFace(object, at[i][0], at[i][1], 20).materialId = ids[i];
    own.objects.push_back(object);
    // A face of an object without a material is left out.
    object.materialRef = 7;
    own.objects.push_back(object);
    object.materialRef = 1;
    object.faces.resize(1);
    object.faces[0].materialId = 2;
    object.vertices[0] = Vec3(26, 26, 0);
    own.objects.push_back(object);

    // Colour tracking on beforehand changes nothing.
    glEnable(GL_COLOR_MATERIAL);
    glColor3f(1, 1, 0);
    drawFromList(&own);
    glDisable(GL_COLOR_MATERIAL);
    glColor3f(1, 1, 1);
    EXPECT_EQ(pixel(8, 8), kGreen);
    EXPECT_EQ(pixel(38, 8), kBlue);
    EXPECT_EQ(pixel(8, 38), kRed);
    EXPECT_EQ(pixel(38, 38), kGreen);
    EXPECT_EQ(pixel(25, 25), Rgb({255, 0, 255}));
}

TEST_F(DrawModel, CutOutTexelsShowWhatIsBehindAndFacesWithoutCoordinatesStayPlain) {
    // A 2 by 1 picture: opaque red on the left, fully transparent blue on
    // the right.
    const unsigned char texels[8] = {255, 0, 0, 255, 0, 0, 255, 0};
    upload_texture(2, 1, 4, texels, &texture);
    AseModel own;
    own.materials.push_back(coloured(1, 1, 1));
    own.materials[0].textureId = texture;
    own.materials[0].textureCutOut = true;
    // Coordinates are tiled: 0.125 and 0.375 become the middles of the two
    // texels.
    own.materials[0].uTiling = 2;
    AseObject object;
    object.materialRef = 0;
    object.texVertices = {{0.125f, 0.5f}, {0.375f, 0.5f}};
    for (int i = 0; i < 2; i++) {
        AseFace& face = addFace(object, i == 0 ? 4 : 34, 4, 20);
        for (int& corner : face.texCorner)
            corner = i;
    }
    // No texture corners, or one past the texture vertices: white, untextured.
    addFace(object, 4, 34, 20);
    addFace(object, 34, 34, 20).texCorner[0] = 2;
    for (int k = 1; k < 3; k++)
        object.faces.back().texCorner[k] = 0;
    own.objects.push_back(object);

    drawFromList(&own);
    EXPECT_EQ(pixel(8, 8), kRed);
    EXPECT_EQ(pixel(38, 8), kClear);
    EXPECT_EQ(pixel(8, 38), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(38, 38), Rgb({255, 255, 255}));
}

TEST_F(DrawModel, CornerNormalsOfTwoFacesOnOneEdgeMakeItHard) {
    // Two triangles sharing the edge from (24, 4) to (4, 24): the lower one
    // faces the light, the upper one is tilted away from it by its normals.
    AseModel own;
    own.materials.push_back(coloured(1, 1, 1));
    AseObject object;
    object.materialRef = 0;
    object.vertices = {Vec3(4, 4, 0), Vec3(24, 4, 0), Vec3(4, 24, 0), Vec3(24, 24, 0)};
    object.faces.resize(2);
    const int corners[2][3] = {{0, 1, 2}, {1, 3, 2}};
    for (int f = 0; f < 2; f++) {
        for (int k = 0; k < 3; k++) {
            object.faces[size_t(f)].corner[k] = corners[f][k];
            object.faces[size_t(f)].normal[k] = f == 0 ? Vec3(0, 0, 1) : Vec3(0, 0.8f, 0.6f);
        }
    }
    own.objects.push_back(object);
    drawFromList(&own);
    // Diffuse 1 or 0.6, and the ambient 0.2 of the scene.
    for (Rgb lower : {pixel(6, 6), pixel(12, 13)})
        EXPECT_EQ(lower, Rgb({255, 255, 255}));
    for (Rgb upper : {pixel(22, 22), pixel(15, 14)}) {
        for (int c : upper)
            EXPECT_NEAR(c, 204, 2);
    }
}

} // namespace
