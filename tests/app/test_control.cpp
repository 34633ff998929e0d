#include "control.h"
#include "scene.h"

#include <SDL_keysym.h>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class Control : public ::testing::Test {
  protected:
    void SetUp() override {
        robot_pos = Vec3(10, 10, 0);
        robot_dir = Vec3(0, 1, 0);
        robot_angle = 90;
        camera_mode = 3;
    }

    // One frame with the given keys held.
    void frame(std::initializer_list<int> held, double fps) {
        unsigned char state[SDLK_LAST] = {};
        for (int key : held)
            state[key] = 1;
        control_robot(state, fps);
    }

    void place(float x, float y, Vec3 dir) {
        robot_pos = Vec3(x, y, 0);
        robot_dir = dir;
    }
};

void expectAt(float x, float y) {
    EXPECT_FLOAT_EQ(robot_pos.x, x);
    EXPECT_FLOAT_EQ(robot_pos.y, y);
    EXPECT_EQ(robot_pos.z, 0.0f);
}

TEST_F(Control, OneDegreeLeftAtFiftyFps) {
    frame({SDLK_LEFT}, 50);
    EXPECT_EQ(robot_angle, 91.0f);
    EXPECT_NEAR(robot_dir.x, -0.01741, 0.00001);
    EXPECT_NEAR(robot_dir.y, 0.99985, 0.00001);
    // The heading reaches radians through 3.1415, in double, rounded once.
    EXPECT_EQ(robot_dir.x, float(cos(91.0 / 180 * 3.1415)));
    EXPECT_EQ(robot_dir.y, float(sin(91.0 / 180 * 3.1415)));
    EXPECT_EQ(robot_dir.z, 0.0f);
}

TEST_F(Control, RightTurnsTheOtherWayAndBothArrowsCancel) {
    frame({SDLK_RIGHT}, 25);
    EXPECT_EQ(robot_angle, 88.0f);
    EXPECT_GT(robot_dir.x, 0.03f);

    SetUp();
    frame({SDLK_LEFT, SDLK_RIGHT}, 50);
    EXPECT_EQ(robot_angle, 90.0f);
    // The direction is recomputed all the same, and 3.1415 is not quite pi.
    EXPECT_EQ(robot_dir.x, float(cos(90.0 / 180 * 3.1415)));
    EXPECT_NE(robot_dir.x, 0.0f);
}

TEST_F(Control, ForwardOneFrameAtFiftyFps) {
    frame({SDLK_UP}, 50);
    expectAt(10, 10.06f);
}

TEST_F(Control, BackwardOneFrameAtFiftyFps) {
    frame({SDLK_DOWN}, 50);
    expectAt(10, 9.94f);
}

TEST_F(Control, ForwardAgainstAnEdgeSlidesAlongIt) {
    place(20, 10, Vec3(0.6f, 0.8f, 0));
    frame({SDLK_UP}, 50);
    EXPECT_EQ(robot_pos.x, 20.0f);
    // The sliding step is formed in double and rounded once.
    EXPECT_EQ(robot_pos.y, float(10.0f + double(0.8f) * 3.0f / 50.0f));

    place(5, 0, Vec3(-0.6f, -0.8f, 0));
    frame({SDLK_UP}, 50);
    EXPECT_EQ(robot_pos.y, 0.0f);
    EXPECT_EQ(robot_pos.x, float(5.0f + double(-0.6f) * 3.0f / 50.0f));
}

TEST_F(Control, ForwardStraightIntoAnEdgeDoesNotMove) {
    place(20, 10, Vec3(1, 0, 0));
    frame({SDLK_UP}, 50);
    expectAt(20, 10);
}

TEST_F(Control, ForwardIntoACornerDoesNotMove) {
    place(20, 20, Vec3(0.7071f, 0.7071f, 0));
    frame({SDLK_UP}, 50);
    expectAt(20, 20);
    place(0, 0, Vec3(-0.7071f, -0.7071f, 0));
    frame({SDLK_UP}, 50);
    expectAt(0, 0);
}

TEST_F(Control, EdgesThemselvesAreOnTheGround) {
    // At 1 fps a frame moves 3 whole units, so the proposed positions are exact.
    place(17, 10, Vec3(1, 0, 0));
    frame({SDLK_UP}, 1);
    expectAt(20, 10);

    place(3, 10, Vec3(-1, 0, 0));
    frame({SDLK_UP}, 1);
    expectAt(0, 10);

    place(10, 17, Vec3(0, 1, 0));
    frame({SDLK_UP}, 1);
    expectAt(10, 20);

    place(17.5f, 10, Vec3(1, 0, 0));
    frame({SDLK_UP}, 1);
    expectAt(17.5f, 10);

    place(10, 2.5f, Vec3(0, -1, 0));
    frame({SDLK_UP}, 1);
    expectAt(10, 2.5f);
}

TEST_F(Control, BackwardLeavesTheGroundAndForwardJudgesOnlyTheProposal) {
    place(10, 0.05f, Vec3(0, 1, 0));
    frame({SDLK_DOWN}, 50);
    EXPECT_NEAR(robot_pos.y, -0.01f, 1e-6);

    // Off the ground, with the proposed x still below 0: only y moves.
    place(-5, 10, Vec3(0.6f, 0.8f, 0));
    frame({SDLK_UP}, 50);
    EXPECT_EQ(robot_pos.x, -5.0f);
    EXPECT_GT(robot_pos.y, 10.0f);

    // Both proposed coordinates outside: no forward move, but back still works.
    place(-5, -5, Vec3(0.6f, 0.8f, 0));
    frame({SDLK_UP}, 50);
    expectAt(-5, -5);
    frame({SDLK_DOWN}, 1);
    expectAt(-6.8f, -7.4f);

    // Back on a proposal inside the square, the whole move applies again.
    place(-0.5f, 10, Vec3(1, 0, 0));
    frame({SDLK_UP}, 2);
    expectAt(1, 10);
}

TEST_F(Control, UpAndDownTogetherRunForwardFirst) {
    // Forward is refused at the edge, then the backward move applies.
    place(20, 10, Vec3(1, 0, 0));
    frame({SDLK_UP, SDLK_DOWN}, 1);
    expectAt(17, 10);
}

TEST_F(Control, CameraKeys) {
    EXPECT_EQ(camera_mode, 3);
    frame({SDLK_F1}, 50);
    EXPECT_EQ(camera_mode, 1);
    // The choice stays after the key is released.
    frame({}, 50);
    EXPECT_EQ(camera_mode, 1);
    frame({SDLK_F2}, 50);
    EXPECT_EQ(camera_mode, 2);
    frame({SDLK_F1, SDLK_F3}, 50);
    EXPECT_EQ(camera_mode, 3);
    frame({SDLK_F1, SDLK_F2}, 50);
    EXPECT_EQ(camera_mode, 2);
}

TEST_F(Control, NoMotionBeforeTheFirstRate) {
    frame({SDLK_LEFT, SDLK_UP, SDLK_DOWN, SDLK_F1}, 0);
    expectAt(10, 10);
    EXPECT_EQ(robot_angle, 90.0f);
    EXPECT_EQ(robot_dir.x, 0.0f);
    EXPECT_EQ(robot_dir.y, 1.0f);
    EXPECT_EQ(camera_mode, 1);
}

TEST_F(Control, SpeedDoesNotDependOnTheFrameRate) {
    for (int i = 0; i < 100; i++)
        frame({SDLK_UP}, 100);
    EXPECT_NEAR(robot_pos.y, 13.0f, 1e-4);
    SetUp();
    for (int i = 0; i < 10; i++)
        frame({SDLK_UP}, 10);
    EXPECT_NEAR(robot_pos.y, 13.0f, 1e-4);
}

} // namespace
