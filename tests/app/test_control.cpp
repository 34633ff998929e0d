#include "control.h"
#include "scene.h"

#include <SDL_keysym.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

class Control : public ::testing::Test {
  protected:
    void SetUp() override { place(10, 10, Vec3(0, 1, 0)); }

    void place(float x, float y, Vec3 dir) {
        robot_pos = Vec3(x, y, 0);
        robot_dir = dir;
        robot_angle = 90;
        camera_mode = 3;
    }

    // One frame with the given keys held.
    static void frame(std::vector<int> held, double fps) {
        unsigned char state[SDLK_LAST] = {};
        for (int key : held)
            state[key] = 1;
        control_robot(state, fps);
    }
};

TEST_F(Control, ArrowsTurnFiftyDegreesASecond) {
    struct Case {
        std::vector<int> keys;
        double fps;
        float angle, x, y;
    };
    // Radians come through 3.1415, not pi, which would give x = -0.017452 at
    // 91 degrees. Both arrows cancel, but the heading is recomputed anyway.
    const Case cases[] = {
        {{SDLK_LEFT}, 50, 91, -0.017406f, 0.999849f},
        {{SDLK_RIGHT}, 25, 88, 0.034945f, 0.999389f},
        {{SDLK_LEFT, SDLK_RIGHT}, 50, 90, 0.000046f, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        frame(c.keys, c.fps);
        EXPECT_EQ(robot_angle, c.angle);
        EXPECT_NEAR(robot_dir.x, c.x, 2e-6) << c.angle;
        EXPECT_NEAR(robot_dir.y, c.y, 2e-6) << c.angle;
    }
}

TEST_F(Control, MovesStayOnTheGroundOnlyGoingForward) {
    struct Case {
        const char* what;
        float x, y;
        Vec3 dir;
        std::vector<int> keys;
        double fps;
        float endX, endY;
    };
    const Vec3 north(0, 1, 0), east(1, 0, 0), west(-1, 0, 0), south(0, -1, 0);
    const Case cases[] = {
        {"forward at 50 fps", 10, 10, north, {SDLK_UP}, 50, 10, 10.06f},
        {"backward at 50 fps", 10, 10, north, {SDLK_DOWN}, 50, 10, 9.94f},
        {"sliding along x = 20", 20, 10, Vec3(0.6f, 0.8f, 0), {SDLK_UP}, 50, 20, 10.048f},
        {"sliding along y = 0", 5, 0, Vec3(-0.6f, -0.8f, 0), {SDLK_UP}, 50, 4.964f, 0},
        {"into the far corner", 20, 20, Vec3(0.7071f, 0.7071f, 0), {SDLK_UP}, 50, 20, 20},
        {"into the near corner", 0, 0, Vec3(-0.7071f, -0.7071f, 0), {SDLK_UP}, 50, 0, 0},
        // At 1 fps a frame moves 3 whole units, so the proposals are exact.
        {"onto x = 20", 17, 10, east, {SDLK_UP}, 1, 20, 10},
        {"onto x = 0", 3, 10, west, {SDLK_UP}, 1, 0, 10},
        {"onto y = 20", 10, 17, north, {SDLK_UP}, 1, 10, 20},
        {"past x = 20", 17.5f, 10, east, {SDLK_UP}, 1, 17.5f, 10},
        {"past y = 0", 10, 2.5f, south, {SDLK_UP}, 1, 10, 2.5f},
        {"backing off the square", 10, 0.05f, north, {SDLK_DOWN}, 50, 10, -0.01f},
        // Off the square, forward judges only the proposed position.
        {"outside, x stays out", -5, 10, Vec3(0.6f, 0.8f, 0), {SDLK_UP}, 50, -5, 10.048f},
        {"outside, backward", -5, -5, Vec3(0.6f, 0.8f, 0), {SDLK_DOWN}, 1, -6.8f, -7.4f},
        {"outside, forward back in", -0.5f, 10, east, {SDLK_UP}, 2, 1, 10},
        // Forward is refused at the edge, then the backward move applies.
        {"up and down at an edge", 20, 10, east, {SDLK_UP, SDLK_DOWN}, 1, 17, 10},
    };
    for (const Case& c : cases) {
        place(c.x, c.y, c.dir);
        frame(c.keys, c.fps);
        EXPECT_NEAR(robot_pos.x, c.endX, 1e-5) << c.what;
        EXPECT_NEAR(robot_pos.y, c.endY, 1e-5) << c.what;
        EXPECT_EQ(robot_pos.z, 0.0f) << c.what;
    }
}

TEST_F(Control, CameraKeysWithoutARateYet) {
    // At fps 0 the camera is chosen but nothing moves.
    frame({SDLK_F1, SDLK_LEFT, SDLK_UP, SDLK_DOWN}, 0);
    EXPECT_EQ(camera_mode, 1);
    EXPECT_EQ(robot_angle, 90.0f);
    EXPECT_EQ(robot_dir.y, 1.0f);
    EXPECT_EQ(robot_pos.y, 10.0f);
    // The choice stays after the key is released; F3 beats F2 beats F1.
    frame({}, 50);
    EXPECT_EQ(camera_mode, 1);
    frame({SDLK_F1, SDLK_F3}, 50);
    EXPECT_EQ(camera_mode, 3);
    frame({SDLK_F1, SDLK_F2}, 50);
    EXPECT_EQ(camera_mode, 2);
}

} // namespace
