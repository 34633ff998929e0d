#include "scene.h"
#include "viewer.h"
#include "viewer_camera.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

const double kPi = 3.14159265358979323846;

// A sphere of radius 0.9 around (0.2, 0.1, 1) of the robot's frame, the
// robot at (5, 6, 0) heading 30 degrees.
ModelSphere sphere() {
    ModelSphere s;
    s.centre[0] = 0.2, s.centre[1] = 0.1, s.radius = 0.9;
    return s;
}

// How far the eye is from the sphere's centre, which is where it stands in
// the scene.
double from_centre(const ViewEye& at) {
    double c[3] = {5 + 0.2 * std::cos(kPi / 6) - 0.1 * std::sin(kPi / 6),
                   6 + 0.2 * std::sin(kPi / 6) + 0.1 * std::cos(kPi / 6), 1};
    return std::hypot(at.eye[0] - c[0], at.eye[1] - c[1], at.eye[2] - c[2]);
}

ViewEye eye_of(const OrbitView& view) {
    return view_eye(view, sphere(), Vec3(5, 6, 0), 30);
}

TEST(ViewerCamera, FirstViewFramesTheWholeSphereFromInFrontAndAbove) {
    OrbitView view = first_view(sphere(), 30);
    EXPECT_DOUBLE_EQ(view.yaw, 75);
    EXPECT_DOUBLE_EQ(view.pitch, 30);
    ViewEye at = eye_of(view);
    // The sphere fills most of the 45 degrees of the view's height, all of
    // it inside.
    double half_angle = std::asin(0.9 / from_centre(at)) * 180 / kPi;
    EXPECT_LT(half_angle, 22.5);
    EXPECT_GT(half_angle, 17);
    EXPECT_LT(at.near_plane, from_centre(at) - 0.9);
    EXPECT_GT(at.far_plane, from_centre(at) + 0.9);
}

TEST(ViewerCamera, TurnsAQuarterTurnAQuarterWidthAndStopsShortOfStraightDown) {
    OrbitView view = first_view(sphere(), 30);
    turn_view(&view, 200, 0, 800);
    EXPECT_NEAR(view.yaw, -15, 1e-9);
    for (int dy : {-10000, 10000}) {
        turn_view(&view, 0, dy, 800);
        EXPECT_NEAR(std::fabs(view.pitch), 85, 1e-9) << dy;
    }
}

TEST(ViewerCamera, NearsByOneFactorANotchAndNeverIntoTheSphere) {
    OrbitView view = first_view(sphere(), 30);
    double first = view.distance;
    near_view(&view, 1, sphere());
    EXPECT_NEAR(first / view.distance, 1.2, 1e-9);
    near_view(&view, -2, sphere());
    EXPECT_NEAR(view.distance / first, 1.2, 1e-9);
    // Moved aside first, the nearest eye is still outside the sphere, and
    // the planes leave all of it in view.
    pan_view(&view, 300, -200, 600, sphere());
    for (int notches : {1000, -1000}) {
        near_view(&view, notches, sphere());
        ViewEye at = eye_of(view);
        EXPECT_GT(from_centre(at), 0.9 * 1.05) << notches;
        EXPECT_LT(at.near_plane, from_centre(at) - 0.9) << notches;
        EXPECT_GT(at.far_plane, from_centre(at) + 0.9) << notches;
        EXPECT_LT(view.distance, 60) << notches;
    }
}

TEST(ViewerCamera, HomeGoesBackToTheFirstViewAfterTurningNearingAndMoving) {
    ViewerState state;
    state.sphere = sphere();
    robot_angle = 30;
    SDL_Event event = {};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = SDLK_F4;
    viewer_event(&state, event);
    EXPECT_EQ(camera_mode, 4);
    turn_view(&state.view, 50, 70, 800);
    near_view(&state.view, 3, state.sphere);
    pan_view(&state.view, 10, 20, 600, state.sphere);
    event.key.keysym.sym = SDLK_HOME;
    viewer_event(&state, event);
    ViewEye home = eye_of(state.view), first = eye_of(first_view(sphere(), 30));
    for (int i = 0; i < 3; i++) {
        EXPECT_DOUBLE_EQ(home.eye[i], first.eye[i]);
        EXPECT_DOUBLE_EQ(home.target[i], first.target[i]);
    }
}

} // namespace
