#include "control.h"
#include "frame_timer.h"
#include "gl_context.h"
#include "scene.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL_keysym.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace {

// The scene's files are looked up from the working directory, as the
// program runs from the repository root.
TEST(SceneDeathTest, MissingGrassEndsSetUpAfterTheModelMessage) {
    char name[] = "/tmp/robot-scene-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    EXPECT_EXIT(
        {
            if (chdir(name) != 0)
                abort();
            fflush(stdout);
            dup2(STDERR_FILENO, STDOUT_FILENO);
            init_scene();
        },
        ::testing::ExitedWithCode(1),
        "^Unable to find or open the file: data.robot\\.ase"
        "Textura data.grasstex\\.bmp nenalezena\\.\n$");
    rmdir(name);
}

class Scene : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        contextOpen = context.open(80, 60);
        if (!contextOpen || chdir(ROBOT_SOURCE_DIR) != 0)
            return;
        glViewport(0, 0, 80, 60);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 80.0 / 60.0, double(0.1f), 100.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_DEPTH_TEST);
        init_scene();
    }
    static void TearDownTestSuite() {
        release_model();
        context.close();
    }

    void SetUp() override {
        ASSERT_TRUE(contextOpen) << "no surfaceless EGL context";
        robot_pos = Vec3(10, 10, 0);
        robot_dir = Vec3(0, 1, 0);
        robot_angle = 90;
        camera_mode = 3;
        timer = FrameTimer{};
    }

    // One frame as the loop runs it, with the given keys held.
    void frame(std::initializer_list<int> held, double fps) {
        static unsigned char state[SDLK_LAST];
        for (unsigned char& key : state)
            key = 0;
        for (int key : held)
            state[key] = 1;
        keys = state;
        timer.fps = fps;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        run_frame();
        glFinish();
        glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    }

    static GlContext context;
    static bool contextOpen;
    // Column-major: elements 12 to 14 are where the robot's origin ends up.
    float modelview[16];
};

GlContext Scene::context;
bool Scene::contextOpen = false;

TEST_F(Scene, SetUpLoadsTheRobotIntoItsListAndPlacesIt) {
    EXPECT_GT(model.objectCount, 0);
    EXPECT_TRUE(glIsList(kRobotList));
    EXPECT_NE(grass_texture, 0u);
    EXPECT_TRUE(glIsTexture(grass_texture));
    for (const tMaterialInfo& material : model.materials) {
        if (material.strBitmap[0]) {
            EXPECT_TRUE(glIsTexture(material.textureId)) << material.strBitmap;
        }
    }
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    float diffuse[4];
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    EXPECT_EQ(diffuse[1], 1.0f);
    EXPECT_EQ(diffuse[0] + diffuse[2], 0.0f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Scene, RobotListLeavesTheMatrixAsItFoundIt) {
    glLoadIdentity();
    glTranslatef(1, 2, 3);
    float before[16], after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, before);
    glCallList(kRobotList);
    glCallList(kRobotList);
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(before[i], after[i]);
}

TEST_F(Scene, EveryCameraLooksAtTheRobot) {
    // Camera 3 stands at (10, -3, 13): the robot is straight ahead.
    frame({}, 50);
    EXPECT_NEAR(modelview[12], 0, 1e-4);
    EXPECT_NEAR(modelview[13], 0, 1e-4);
    EXPECT_NEAR(modelview[14], -std::sqrt(13.0 * 13 + 13 * 13), 1e-4);

    // Camera 2 at (10, 5, 5), after the robot moved forward.
    frame({SDLK_F2, SDLK_UP}, 50);
    EXPECT_NEAR(modelview[12], 0, 1e-4);
    EXPECT_NEAR(modelview[13], 0, 1e-4);
    EXPECT_NEAR(modelview[14], -std::sqrt(5.06 * 5.06 + 25), 1e-4);
}

TEST_F(Scene, FollowingCameraKeepsItsOffsetWhateverTheHeading) {
    frame({SDLK_F1}, 50);
    float straight[16];
    std::copy(modelview, modelview + 16, straight);
    EXPECT_NEAR(modelview[14], -std::sqrt(4.0 * 4 + 6 * 6), 1e-4);

    // Half a turn at 1 fps, then away from the centre: the offset is the same.
    frame({SDLK_LEFT}, 0.3);
    frame({SDLK_UP}, 1);
    EXPECT_NEAR(modelview[12], 0, 1e-4);
    EXPECT_NEAR(modelview[13], 0, 1e-4);
    EXPECT_NEAR(modelview[14], straight[14], 1e-4);
    // The scene's up axis looks the same from the camera: it does not turn.
    for (int i = 8; i < 11; i++)
        EXPECT_NEAR(modelview[i], straight[i], 1e-4);
}

TEST_F(Scene, LightIsSentAgainUnderTheCamera) {
    frame({}, 50);
    float position[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, position);
    // The light at (20, 17, 2) seen from camera 3 at (10, -3, 13).
    double distance =
        std::sqrt(double(position[0]) * position[0] + double(position[1]) * position[1] +
                  double(position[2]) * position[2]);
    EXPECT_NEAR(distance, std::sqrt(10.0 * 10 + 20 * 20 + 11 * 11), 1e-3);
    EXPECT_EQ(position[3], 1.0f);
}

// Lit pixels in a box of the picture where green does not dominate: the grey
// robot rather than the grass.
int robotPixels(int left, int bottom, int width, int height) {
    std::vector<unsigned char> rgba(size_t(width) * height * 4);
    glReadPixels(left, bottom, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    int count = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        int r = rgba[i], g = rgba[i + 1], b = rgba[i + 2];
        if (r + g + b >= 90 && g < r + b)
            count++;
    }
    return count;
}

TEST_F(Scene, FrameDrawsTheRobotOnTheGroundInTheMiddleOfThePicture) {
    // The second frame's ground is lit by the light sent under this camera.
    frame({}, 50);
    frame({}, 50);
    // The robot stands just above the centre of the 80 by 60 picture.
    EXPECT_GE(robotPixels(36, 29, 9, 9), 8);
    // Around it, the grass.
    EXPECT_EQ(robotPixels(0, 0, 80, 20), 0);
    EXPECT_EQ(robotPixels(0, 20, 30, 20), 0);
}

} // namespace
