#include "file_access.h"
#include "file_lookup.h"
#include "model_fit.h"

#include <algorithm>
#include <array>
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

// A flat figure 10 wide and 40 tall with a nose 5 long, as a file whose up
// axis is z (3ds Max) or y (with the figure facing +z, as y-up tools have
// it) gives it. Vertex 4 is used by no face; the corners sit far from the
// origin. The figure's front faces -y (z up), its normals say so.
AseModel figure(UpAxis up, bool material = true) {
    const float z[6][3] = {{0, 0, 0},  {10, 0, 0},      {0, 0, 40},
                           {0, -5, 0}, {900, 900, 900}, {5, 0, 0}};
    auto written = [up](float a, float b, float c) {
        return up == UpAxis::y ? Vec3(a, c, -b) : Vec3(a, b, c);
    };
    AseModel model;
    if (material) {
        model.materials.emplace_back();
        model.materials[0].diffuse[0] = 1;
    }
    AseObject object;
    object.materialRef = material ? 0 : -1;
    for (const auto& v : z)
        object.vertices.push_back(written(v[0] + 300, v[1] - 700, v[2] + 50));
    for (const auto& corners : {std::array<int, 3>{0, 1, 2}, {0, 2, 3}, {1, 2, 5}}) {
        AseFace face;
        for (int k = 0; k < 3; k++) {
            face.corner[k] = corners[size_t(k)];
            face.normal[k] = written(0, -1, 0);
        }
        object.faces.push_back(face);
    }
    model.objects.push_back(object);
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
        double top[3], nose[3], front[3];
    };
    const Case cases[] = {
        {UpAxis::z, UpAxis::z, {-2.5 * s, -5 * s, 40 * s}, {2.5 * s, -5 * s, 0}, {1, 0, 0}},
        {UpAxis::y, UpAxis::y, {-2.5 * s, -5 * s, 40 * s}, {2.5 * s, -5 * s, 0}, {1, 0, 0}},
        // A z-up figure read as y-up lies on its face, head forward.
        {UpAxis::z, UpAxis::y, {20 * s, -5 * s, 5 * s}, {-20 * s, -5 * s, 0}, {0, 0, -1}},
    };
    for (const Case& c : cases) {
        AseModel model = figure(c.file);
        ModelFit fit = fit_model(model, c.up);
        ASSERT_TRUE(fit.hasCorners);
        EXPECT_NEAR(fit.scale, s, 1e-9);
        apply_fit(model, fit);
        const AseObject& object = model.objects[0];
        expectAt(object.vertices[2], c.top, "top");
        expectAt(object.vertices[3], c.nose, "nose");
        // The front's normals turn with it and stay unit vectors.
        for (const AseFace& face : object.faces)
            expectAt(face.normal[1], c.front, "normal of the front");
    }
}

TEST(ModelFit, CountsOnlyFiniteCornersOfDrawnFaces) {
    AseModel model = figure(UpAxis::z);
    // Room for a second object, so that adding it keeps the first in place.
    model.objects.reserve(2);
    AseObject& object = model.objects[0];
    ModelFit whole = fit_model(model, UpAxis::z);
    auto sameBox = [&] {
        ModelFit fit = fit_model(model, UpAxis::z);
        return std::equal(fit.low, fit.low + 3, whole.low) &&
               std::equal(fit.high, fit.high + 3, whole.high);
    };
    // Corner 5 would make the figure 5000 tall, but one of its coordinates
    // is NaN.
    object.vertices[5] = Vec3(NAN, 0, 5000);
    EXPECT_TRUE(sameBox()) << "NaN corner";
    // Vertex 4, far away, counts only while a drawn face uses it.
    auto setCorners = [](AseFace& face, int a, int b, int c) {
        face.corner[0] = a;
        face.corner[1] = b;
        face.corner[2] = c;
    };
    setCorners(object.faces[2], 4, 2, 99);
    EXPECT_TRUE(sameBox()) << "face not drawn";
    AseObject orphan = object;
    orphan.materialRef = 1;
    setCorners(orphan.faces[2], 4, 2, 3);
    model.objects.push_back(orphan);
    EXPECT_TRUE(sameBox()) << "object without a material";
    setCorners(object.faces[2], 4, 2, 3);
    EXPECT_NEAR(fit_model(model, UpAxis::z).high[2], 950, 1e-3);

    model.objects.pop_back();
    for (AseFace& face : object.faces)
        setCorners(face, 5, 5, 5);
    EXPECT_FALSE(fit_model(model, UpAxis::z).hasCorners) << "only NaN corners";
    EXPECT_FALSE(fit_model(AseModel(), UpAxis::z).hasCorners) << "no objects";
}

TEST(ModelFit, ObjectsWithoutAMaterialGetOnePlainGreyOne) {
    AseModel model = figure(UpAxis::z, false);
    // One more object naming a material the model does not have.
    model.objects.push_back(model.objects[0]);
    model.objects[1].materialRef = 3;
    EXPECT_FALSE(fit_model(model, UpAxis::z).hasCorners) << "not drawn before";
    EXPECT_EQ(give_orphans_plain_material(model), 2);
    ASSERT_EQ(model.materials.size(), 1u);
    EXPECT_EQ(model.objects[0].materialRef, 0);
    EXPECT_EQ(model.objects[1].materialRef, 0);
    EXPECT_EQ(model.materials[0].diffuse[1], 0.8f);
    EXPECT_TRUE(model.materials[0].bitmap.empty());
    EXPECT_TRUE(fit_model(model, UpAxis::z).hasCorners);
    EXPECT_EQ(give_orphans_plain_material(model), 0) << "given once";
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

// A folder tree as an exporter's user has it, and a game's folder of
// textures, with the working directory at its root for the test.
class Lookup : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() / ("robot-lookup-" + std::to_string(std::random_device{}()));
        for (const char* folder :
             {"Models/maps", "Game/Base/Textures/Stone/Flat", "Game/Base/Textures/Common", "Empty"})
            fs::create_directories(root_ / folder);
        for (const char* file : {"Models/ship.ase", "Models/Hull.PNG", "Models/maps/Deck.bmp",
                                 "Game/Base/Textures/Stone/Flat/tiles_rough_grey.TGA",
                                 "Game/Base/Textures/Common/clip.png",
                                 "Game/Base/Textures/Common/clip.txt", "Game/x.tga"})
            std::ofstream(root_ / file).put('x');
        // A name beyond ASCII, as a UTF-16 model names it (the program's
        // names are UTF-8).
        std::ofstream(root_ / "Game" / fs::u8path("Obr\u00e1zek.bmp")).put('x');
        previous_ = fs::current_path();
        fs::current_path(root_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(root_);
    }
    fs::path root_, previous_;
};

TEST_F(Lookup, BitmapsAsWrittenThenBesideTheModelThenInTextureFoldersInAnyCase) {
    struct Case {
        std::string written, found;
    };
    const std::string game = (root_ / "Game").string();
    const std::vector<Case> cases = {
        {"Models\\Hull.PNG", "Models/Hull.PNG"},
        {"models\\hull.png", "Models/Hull.PNG"},
        {"maps\\deck.BMP", "Models/maps/Deck.bmp"},
#ifdef _WIN32
        // The name as written is there: Windows ignores case.
        {"..\\Models\\maps\\deck.bmp", "Models/../Models/maps/deck.bmp"},
#else
        {"..\\Models\\maps\\deck.bmp", "Models/maps/Deck.bmp"},
#endif
        {"C:\\3dsmax\\MAPS\\hull.png", "Models/Hull.PNG"},
        {"\\\\server\\share\\Hull.PNG", "Models/Hull.PNG"},
        {root_.string() + "/MODELS/MAPS/DECK.BMP", root_.string() + "/Models/maps/Deck.bmp"},
        // The model's folder is searched as the texture folders are.
        {"hull.tga", "Models/Hull.PNG"},
        // Game paths: leading parts dropped, a missing extension added, a
        // .tga saved as .png, a drive.
        {"//base/textures/stone/flat/tiles_rough_grey", game + "/Base/Textures/Stone/Flat/"
                                                               "tiles_rough_grey.TGA"},
        {"\\\\base\\textures\\common\\clip.tga", game + "/Base/Textures/Common/clip.png"},
        {"C:\\Games\\Quest\\base\\textures\\common\\CLIP", game + "/Base/Textures/Common/clip.png"},
        {"textures/nothing/X.TGA", game + "/x.tga"},
        {"obr\u00e1zek", game + "/Obr\u00e1zek.bmp"},
#ifdef _WIN32
        // Windows matches case beyond ASCII as its file systems do.
        {"OBR\u00c1ZEK.BMP", game + "/Obr\u00e1zek.bmp"},
#endif
        {"maps", ""},
        {"gone.tga", ""},
        {"", ""},
    };
    std::vector<std::string> written;
    for (const Case& c : cases)
        written.push_back(c.written);
    BitmapSearch search = find_bitmaps(written, "Models/ship.ase", {"Empty", game});
    ASSERT_EQ(search.bitmaps.size(), cases.size());
    for (size_t i = 0; i < cases.size(); i++)
        EXPECT_PRED2(samePath, search.bitmaps[i].path, cases[i].found) << cases[i].written;
    EXPECT_EQ(search.folders, (std::vector<std::string>{".", "Models", "Empty", game}));
    // From the working directory, then in three folders under its own name
    // and with four other extensions.
    EXPECT_EQ(search.bitmaps[cases.size() - 2].tries, 1 + 3 * 5);
    EXPECT_EQ(search.bitmaps.back().tries, 0);
    search = find_bitmaps({"Hull.png"}, (root_ / "Models/ship.ase").string().c_str(), {});
    EXPECT_PRED2(samePath, search.bitmaps[0].path, (root_ / "Models/Hull.PNG").string());

    // A file is known by what it is, not by the name that reached it.
    FileIdentity hull, same, deck;
    ASSERT_TRUE(fileIdentity("Models/Hull.PNG", &hull) &&
                fileIdentity("Models/maps/Deck.bmp", &deck));
#ifdef _WIN32
    const std::string other = "MODELS\\hull.png";
#else
    const std::string other = "Models/link.png";
    fs::create_symlink("Hull.PNG", other);
#endif
    for (const std::string& name : {(root_ / "Models/Hull.PNG").string(), other}) {
        ASSERT_TRUE(fileIdentity(name, &same)) << name;
        EXPECT_TRUE(!(same < hull) && !(hull < same)) << name;
    }
    EXPECT_TRUE(deck < hull || hull < deck);

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
