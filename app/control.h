#pragma once

// SDL's key-state array of the current frame, indexed by key symbol; main
// refreshes it before every frame step.
extern unsigned char* keys;

// The control rules of one frame on the scene state, without any drawing:
// camera keys, turning, the forward move that slides along the edges of the
// ground and the unlimited backward move. fps scales every motion; a frame
// whose rate is still 0 chooses the camera but does not move.
void control_robot(const unsigned char* key_state, double fps);

// Places the camera chosen by camera_mode so that it looks at the robot.
void set_camera();

// The frame step: control, camera, ground and marker, light, robot.
void run_frame();
