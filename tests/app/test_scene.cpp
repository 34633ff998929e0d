#include "control.h"
#include "frame_timer.h"
#include "gl_context.h"
#include "scene.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL_keysym.h>
#include <algorithm>
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

// The scene is set up once from the repository's data, in an 80 by 60
// picture: the sphere cache and the model live as long as the process. Only
// the last test moves the robot from where set-up put it.
class Scene : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!context.open(80, 60) || chdir(ROBOT_SOURCE_DIR) != 0)
            return;
        glMatrixMode(GL_PROJECTION);
        gluPerspective(45.0, 80.0 / 60.0, double(0.1f), 100.0);
        glMatrixMode(GL_MODELVIEW);
        glEnable(GL_DEPTH_TEST);
        init_scene();
        ready = true;
    }
    static void TearDownTestSuite() {
        release_model();
        context.close();
    }
    void SetUp() override { ASSERT_TRUE(ready) << "no surfaceless EGL context"; }

    // One frame as the loop runs it, with the given keys held.
    void frame(std::vector<int> held, double fps) {
        static unsigned char state[SDLK_LAST];
        std::fill(state, state + SDLK_LAST, 0);
        for (int key : held)
            state[key] = 1;
        keys = state;
        timer.fps = fps;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        run_frame();
        glFinish();
    }

    // Where the robot's origin ends up: straight ahead at this distance.
    static void expectRobotAhead(double distance) {
        float modelview[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
        EXPECT_NEAR(modelview[12], 0, 1e-4);
        EXPECT_NEAR(modelview[13], 0, 1e-4);
        EXPECT_NEAR(modelview[14], -distance, 1e-4);
    }

    static inline GlContext context;
    static inline bool ready = false;
};

// Lit pixels in a box of the picture where green does not dominate: the grey
// robot rather than the grass.
int robotPixels(int left, int bottom, int width, int height) {
    std::vector<unsigned char> rgba(size_t(width) * height * 4);
    glReadPixels(left, bottom, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    int count = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        int r = rgba[i], g = rgba[i + 1], b = rgba[i + 2];
        count += r + g + b >= 90 && g < r + b;
    }
    return count;
}

TEST_F(Scene, SetUpLightsTheSceneAndCompilesTheRobot) {
    EXPECT_GT(model.objectCount, 0);
    EXPECT_TRUE(glIsTexture(grass_texture));
    for (const tMaterialInfo& material : model.materials)
        EXPECT_TRUE(!material.strBitmap[0] || glIsTexture(material.textureId))
            << material.strBitmap;
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && glIsEnabled(GL_LIGHT0));
    float diffuse[4];
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    EXPECT_EQ(diffuse[1], 1.0f);
    EXPECT_EQ(diffuse[0] + diffuse[2], 0.0f);
    // The robot faces the way it moves; the frames below show where it stands.
    EXPECT_TRUE(robot_angle == 90.0f && robot_dir.x == 0.0f && robot_dir.y == 1.0f);

    // The robot's list keeps its own transformations to itself.
    ASSERT_TRUE(glIsList(kRobotList));
    glTranslatef(1, 2, 3);
    float before[16], after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, before);
    glCallList(kRobotList);
    glCallList(kRobotList);
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    EXPECT_TRUE(std::equal(before, before + 16, after));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Scene, FramesShowTheRobotUnderEveryCamera) {
    // Camera 3 at (10, -3, 13). The second frame's ground is lit by the light
    // sent under this camera, at (20, 17, 2) in the scene.
    frame({}, 50);
    frame({}, 50);
    expectRobotAhead(std::sqrt(13.0 * 13 + 13 * 13));
    float light[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, light);
    EXPECT_NEAR(std::hypot(light[0], light[1], light[2]), std::sqrt(10.0 * 10 + 20 * 20 + 11 * 11),
                1e-3);
    EXPECT_EQ(light[3], 1.0f);
    // The robot stands just above the centre of the picture, on the grass.
    EXPECT_GE(robotPixels(36, 29, 9, 9), 8);
    EXPECT_EQ(robotPixels(0, 0, 80, 20), 0);
    EXPECT_EQ(robotPixels(0, 20, 30, 20), 0);

    // Camera 2 at (10, 5, 5), after the robot moved forward.
    frame({SDLK_F2, SDLK_UP}, 50);
    expectRobotAhead(std::sqrt(5.06 * 5.06 + 25));

    // Camera 1 follows at a fixed offset in scene axes: half a turn and a
    // step away change neither the distance nor where the scene's up is.
    frame({SDLK_F1}, 50);
    expectRobotAhead(std::sqrt(4.0 * 4 + 6 * 6));
    float straight[16], turned[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, straight);
    frame({SDLK_LEFT}, 0.3);
    frame({SDLK_UP}, 1);
    expectRobotAhead(std::sqrt(4.0 * 4 + 6 * 6));
    glGetFloatv(GL_MODELVIEW_MATRIX, turned);
    for (int i = 8; i < 11; i++)
        EXPECT_NEAR(turned[i], straight[i], 1e-4);
}

} // namespace
