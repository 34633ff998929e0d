#include "control.h"

#include "frame_timer.h"
#include "ground.h"
#include "scene.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL_keysym.h>
#include <cmath>

unsigned char* keys;

namespace {

// Degrees per second.
constexpr double kTurnRate = 50;
// The ground square that forward moves stay on, edges included.
constexpr float kGroundLow = 0;
constexpr float kGroundHigh = 20;

bool outside(float coordinate) {
    return coordinate > kGroundHigh || coordinate < kGroundLow;
}

void turn(float step) {
    robot_angle = robot_angle + step;
    // The heading is turned into radians with 3.1415, in double, and each
    // component rounded once.
    robot_dir.x = float(cos(robot_angle / 180.0 * 3.1415));
    robot_dir.y = float(sin(robot_angle / 180.0 * 3.1415));
}

void move_forward(double fps) {
    float rate = float(fps);
    Vec3 new_pos = robot_pos + ((robot_dir * robot_speed) / rate);
    bool x_out = outside(new_pos.x);
    bool y_out = outside(new_pos.y);
    // Against an edge the robot slides along it; in a corner it stops.
    if (!x_out && !y_out)
        robot_pos = new_pos;
    else if (x_out && !y_out)
        robot_pos.y = float(robot_pos.y + double(robot_dir.y) * robot_speed / rate);
    else if (!x_out && y_out)
        robot_pos.x = float(robot_pos.x + double(robot_dir.x) * robot_speed / rate);
}

void move_back(double fps) {
    robot_pos = robot_pos - ((robot_dir * robot_speed) / float(fps));
}

} // namespace

void control_robot(const unsigned char* key_state, double fps) {
    // The last held camera key wins: F3 over F2 over F1.
    if (key_state[SDLK_F1])
        camera_mode = 1;
    if (key_state[SDLK_F2])
        camera_mode = 2;
    if (key_state[SDLK_F3])
        camera_mode = 3;

    // A first frame within SDL's first millisecond has no rate yet; moving by
    // it would divide by zero.
    if (fps == 0)
        return;

    float step = float(kTurnRate / fps);
    if (key_state[SDLK_LEFT])
        turn(step);
    if (key_state[SDLK_RIGHT])
        turn(-step);
    if (key_state[SDLK_UP])
        move_forward(fps);
    if (key_state[SDLK_DOWN])
        move_back(fps);
}

void set_camera() {
    double x = robot_pos.x, y = robot_pos.y, z = robot_pos.z;
    switch (camera_mode) {
    case 1:
        // Follows the robot at a fixed offset in scene axes.
        gluLookAt(x, y - 4, z + 6, x, y, z, 0, 0, 1);
        break;
    case 2:
        gluLookAt(10, 5, 5, x, y, z, 0, 0, 1);
        break;
    case 3:
        gluLookAt(10, -3, 13, x, y, z, 0, 0, 1);
        break;
    }
}

void run_frame() {
    control_robot(keys, timer.get_fps());
    set_camera();
    draw_ground_and_marker();
    // Sent again under this frame's camera, so the light stays in its place in
    // the scene; the ground and marker above still saw last frame's position.
    glLightfv(GL_LIGHT0, GL_POSITION, light_position);
    glTranslatef(robot_pos.x, robot_pos.y, robot_pos.z);
    glRotatef(robot_angle, 0.0f, 0.0f, 1.0f);
    glCallList(kRobotList);
}
