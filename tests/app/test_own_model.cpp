#include "ase_reader.h"
#include "file_lookup.h"
#include "model_fit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

// A flat figure 10 wide and 40 tall with a nose 5 long, in a file whose up
// axis is z (3ds Max) or y (with the figure facing +z, as y-up tools have
// it). Vertex 4 is used by no triangle; the corners sit far from the origin.
std::string figureFile(UpAxis up, bool materials) {
    const float z[6][3] = {{0, 0, 0},  {10, 0, 0},      {0, 0, 40},
                           {0, -5, 0}, {900, 900, 900}, {5, 0, 0}};
    std::string text = materials ? "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n"
                                   "*MATERIAL_DIFFUSE 1.0 0.0 0.0\n}\n"
                                 : "";
    text += "*GEOMOBJECT {\n*MESH_NUMVERTEX 6\n*MESH_NUMFACES 3\n";
    char line[120];
    for (int i = 0; i < 6; i++) {
        float a = z[i][0] + 300, b = z[i][1] - 700, c = z[i][2] + 50;
        if (up == UpAxis::y)
            std::snprintf(line, sizeof line, "*MESH_VERTEX %d %g %g %g\n", i, a, c, -b);
        else
            std::snprintf(line, sizeof line, "*MESH_VERTEX %d %g %g %g\n", i, a, b, c);
        text += line;
    }
    return text + "*MESH_FACE 0: A: 0 B: 1 C: 2\n*MESH_FACE 1: A: 0 B: 2 C: 3\n"
                  "*MESH_FACE 2: A: 1 B: 2 C: 5\n*MATERIAL_REF 0\n}\n";
}

tModel readFigure(UpAxis up, bool materials = true) {
    tModel model;
    AseReader reader;
    reader.printProblems = false;
    std::string text = figureFile(up, materials);
    reader.readModelFromMemory(&model, text.data(), text.size(), "figure.ase");
    return model;
}

void expectAt(const Vec3& v, const double (&at)[3], const char* what) {
    EXPECT_TRUE(std::fabs(v.x - at[0]) < 1e-4 && std::fabs(v.y - at[1]) < 1e-4 &&
                std::fabs(v.z - at[2]) < 1e-4)
        << what << " at " << v.x << ", " << v.y << ", " << v.z;
}

TEST(ModelFit, StandsTheFigureAtTheRobotsPlaceWithItsNoseForward) {
    // Height 40 becomes the robot's; the robot walks along its own +x.
    const double s = kRobotHeight / 40;
    struct Case {
        UpAxis file, up;
        double top[3], nose[3];
    };
    const Case cases[] = {
        {UpAxis::z, UpAxis::z, {-2.5 * s, -5 * s, 40 * s}, {2.5 * s, -5 * s, 0}},
        {UpAxis::y, UpAxis::y, {-2.5 * s, -5 * s, 40 * s}, {2.5 * s, -5 * s, 0}},
        // A z-up figure read as y-up lies on its face, head forward.
        {UpAxis::z, UpAxis::y, {20 * s, -5 * s, 5 * s}, {-20 * s, -5 * s, 0}},
    };
    for (const Case& c : cases) {
        tModel model = readFigure(c.file);
        ModelFit fit = fit_model(model, c.up);
        ASSERT_TRUE(fit.hasCorners);
        EXPECT_NEAR(fit.scale, s, 1e-9);
        apply_fit(model, fit);
        const t3DObject& figure = model.objects[0];
        expectAt(figure.pVertices[2], c.top, "top");
        expectAt(figure.pVertices[3], c.nose, "nose");
        // The front face's normal turns with it and stays a unit vector.
        if (c.file == c.up)
            expectAt(figure.pVertexNormals[1], {1, 0, 0}, "normal of the front");
        releaseModelArrays(model);
    }
}

TEST(ModelFit, CountsOnlyFiniteCornersOfDrawnTriangles) {
    tModel model = readFigure(UpAxis::z);
    t3DObject& figure = model.objects[0];
    ModelFit whole = fit_model(model, UpAxis::z);
    auto sameBox = [&] {
        ModelFit fit = fit_model(model, UpAxis::z);
        return std::equal(fit.low, fit.low + 3, whole.low) &&
               std::equal(fit.high, fit.high + 3, whole.high);
    };
    // Corner 5 would make the figure 5000 tall, but one of its coordinates
    // is NaN.
    figure.pVertices[5] = Vec3(NAN, 5000, 0);
    EXPECT_TRUE(sameBox()) << "NaN corner";
    // Vertex 4, far away, counts only while a drawn triangle uses it.
    figure.pTriangles[2] = {{4, 2, 99}, {0, 0, 0}};
    EXPECT_TRUE(sameBox()) << "triangle not drawn";
    figure.pTriangles[2] = {{4, 2, 3}, {0, 0, 0}};
    EXPECT_NEAR(fit_model(model, UpAxis::z).high[2], 950, 1e-3);

    for (int j = 0; j < 3; j++)
        figure.pTriangles[j] = {{5, 5, 5}, {0, 0, 0}};
    EXPECT_FALSE(fit_model(model, UpAxis::z).hasCorners) << "only NaN corners";
    EXPECT_FALSE(fit_model(tModel(), UpAxis::z).hasCorners) << "no objects";
    releaseModelArrays(model);
}

TEST(ModelFit, ObjectsWithoutAMaterialGetOnePlainGreyOne) {
    tModel model = readFigure(UpAxis::z, false);
    ASSERT_TRUE(model.materials.empty());
    EXPECT_FALSE(fit_model(model, UpAxis::z).hasCorners) << "not drawn before";
    EXPECT_EQ(give_orphans_plain_material(model), 1);
    ASSERT_EQ(model.materialCount, 1);
    EXPECT_EQ(model.objects[0].materialId, 0);
    EXPECT_EQ(model.materials[0].diffuse[1], 0.8f);
    EXPECT_TRUE(fit_model(model, UpAxis::z).hasCorners);
    EXPECT_EQ(give_orphans_plain_material(model), 0) << "given once";
    releaseModelArrays(model);
}

// The same file named the same way. On Windows, whose file system ignores
// case, a name is found as it was written, and either slash separates.
bool samePath(const std::string& found, const std::string& expected) {
#ifdef _WIN32
    auto plain = [](std::string path) {
        for (char& c : path)
            c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
        return path;
    };
    return plain(found) == plain(expected);
#else
    return found == expected;
#endif
}

// A folder tree as an exporter's user has it, with the working directory at
// its root for the test.
class Lookup : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() / ("robot-lookup-" + std::to_string(std::random_device{}()));
        fs::create_directories(root_ / "Models" / "maps");
        for (const char* file : {"Models/ship.ase", "Models/Hull.PNG", "Models/maps/Deck.bmp"})
            std::ofstream(root_ / file).put('x');
        previous_ = fs::current_path();
        fs::current_path(root_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(root_);
    }
    fs::path root_, previous_;
};

TEST_F(Lookup, BitmapsAsWrittenThenBesideTheModelInAnyCase) {
    struct Case {
        std::string written, found;
    };
    const Case cases[] = {
        {"Models\\Hull.PNG", "Models/Hull.PNG"},
        {"models\\hull.png", "Models/Hull.PNG"},
        {"maps\\deck.BMP", "Models/maps/Deck.bmp"},
        {"C:\\3dsmax\\MAPS\\hull.png", "Models/Hull.PNG"},
        {"\\\\server\\share\\Hull.PNG", "Models/Hull.PNG"},
        {root_.string() + "/MODELS/MAPS/DECK.BMP", root_.string() + "/Models/maps/Deck.bmp"},
        {"maps", ""},
        {"gone.tga", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_PRED2(samePath, find_bitmap(c.written.c_str(), "Models/ship.ase"), c.found)
            << c.written;
    EXPECT_PRED2(samePath, find_bitmap("Hull.png", (root_ / "Models/ship.ase").string().c_str()),
                 (root_ / "Models/Hull.PNG").string());

    // The scene's own files: from the working directory, else the program's
    // data, else under the name given, to be reported missing.
    EXPECT_PRED2(samePath, find_scene_file("data\\grasstex.bmp"),
                 own_data_folder() + "/grasstex.bmp");
    EXPECT_EQ(find_scene_file("data\\nothing.bmp"), "data\\nothing.bmp");
    fs::create_directory("data");
    std::ofstream("data/grasstex.bmp").put('x');
    EXPECT_EQ(find_scene_file("data\\grasstex.bmp"), "data\\grasstex.bmp");
}

} // namespace
