#include "ground.h"

#include "scene.h"
#include "solid_sphere.h"

#include <GL/gl.h>

void draw_ground_and_marker() {
    draw_light_marker();
    draw_ground();
}

void draw_light_marker() {
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glTranslatef(light_position[0], light_position[1], light_position[2]);
    // The same radius every frame, so the sphere is built once and replayed.
    drawSolidSphere(0.2f);
    glEnable(GL_LIGHTING);
    glPopMatrix();
}

void draw_ground() {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, grass_texture);
    float material_diffuse[4] = {0.9f, 0.9f, 0.9f, 1.0f};
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, material_diffuse);
    // The grass covers the square exactly once; corners run counterclockwise
    // seen from above.
    glBegin(GL_QUADS);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(20.0f, 0.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(20.0f, 20.0f, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(0.0f, 20.0f, 0.0f);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}
