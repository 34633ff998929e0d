#pragma once

#include "ase_reader.h"
#include "records.h"
#include "vec3.h"

// The robot's display list, compiled once by init_scene and called each frame.
constexpr unsigned int kRobotList = 10;

// The scene state of the whole run.
extern tModel model;
extern AseReader reader;
extern unsigned int grass_texture;
extern Vec3 robot_pos;
extern Vec3 robot_dir;
extern float robot_angle;
extern float robot_speed;
extern int camera_mode;
extern float light_position[4];
extern float light_diffuse[4];
extern float light_specular[4];
extern float light_ambient[4];

// Sets the light, loads the robot and the grass texture, compiles the robot
// into display list 10 and puts it at its starting place.
void init_scene();
// Puts the robot at the centre of the ground, heading 90 degrees (along +y).
void set_start_pose();
// Switches light 0 on and gives it its position and colours.
void init_light();
// Releases the per-object arrays of the model at the end of the run.
void release_model();
