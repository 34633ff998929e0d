#include "scene.h"

#include "draw_model.h"
#include "texture.h"

#include <GL/gl.h>

tModel model;
AseReader reader;
unsigned int grass_texture;
// The pose is set by init_scene; it is all zero before.
Vec3 robot_pos;
Vec3 robot_dir;
float robot_angle;
float robot_speed = 3.0f;
int camera_mode = 3;
float light_position[4] = {20.0f, 17.0f, 2.0f, 1.0f};
float light_diffuse[4] = {0.0f, 1.0f, 0.0f, 1.0f};
float light_specular[4] = {0.2f, 0.2f, 0.2f, 0.2f};
float light_ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};

void init_light() {
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    // The modelview matrix is the identity here, so the first frame's ground
    // and marker see the light at (20, 17, 2) in eye coordinates.
    glLightfv(GL_LIGHT0, GL_POSITION, light_position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, light_diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, light_specular);
    glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
}

void init_scene() {
    init_light();

    // A model that cannot be read leaves the scene without a robot; the
    // reader has said so, and the program runs on.
    reader.textureMaker = createTexture;
    reader.loadModel(&model, "data\\robot.ase");
    createTexture("data\\grasstex.bmp", &grass_texture);

    // The list stands the model upright on the ground: its y axis becomes
    // the scene's z axis, and it is lifted by 0.45.
    glNewList(kRobotList, GL_COMPILE);
    glPushMatrix();
    glTranslatef(0.0f, 0.0f, 0.45f);
    glRotatef(90.0f, 0.0f, 0.0f, 1.0f);
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    drawModel(&model);
    glPopMatrix();
    glEndList();

    set_start_pose();
}

void set_start_pose() {
    robot_pos = Vec3(10.0f, 10.0f, 0.0f);
    robot_dir = Vec3(0.0f, 1.0f, 0.0f);
    robot_angle = 90.0f;
}

void release_model() {
    releaseModelArrays(model);
}
