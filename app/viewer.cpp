#include "viewer.h"

#include "control.h"
#include "frame_timer.h"
#include "ground.h"
#include "image_file.h"
#include "scene.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <cstdio>
#include <string>

namespace {

// The viewer camera's number in camera_mode, beside the scene's 1 to 3.
constexpr int kViewerCamera = 4;
// How often the model's files are looked at, in milliseconds.
constexpr uint32_t kLookEvery = 500;

// The white light: from above and left of the camera (eye coordinates, a
// direction), so that the sides of a box facing the camera differ.
const float kWhitePosition[4] = {-0.4f, 0.5f, 1.0f, 0.0f};
const float kWhiteDiffuse[4] = {0.6f, 0.6f, 0.6f, 1.0f};
const float kWhiteSpecular[4] = {0.4f, 0.4f, 0.4f, 1.0f};
const float kWhiteAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
const float kWhiteShininess = 24.0f;

void viewer_key(ViewerState* state, SDLKey key) {
    switch (key) {
    case SDLK_F4:
        camera_mode = kViewerCamera;
        if (!state->framed)
            state->view = first_view(state->sphere, robot_angle);
        state->framed = true;
        break;
    case SDLK_HOME:
        state->view = first_view(state->sphere, robot_angle);
        state->framed = true;
        break;
    case SDLK_l:
        state->white_light = !state->white_light;
        break;
    case SDLK_w:
        state->lines = !state->lines;
        break;
    case SDLK_v:
        state->vertex_colours = !state->vertex_colours;
        break;
    case SDLK_r:
        state->reload = true;
        break;
    case SDLK_F12:
        state->screenshot = true;
        break;
    case SDLK_ESCAPE:
        state->done = true;
        break;
    default:
        break;
    }
}

void watch_files(ViewerState* state, const FileStamp& model, const ModelTextures& textures) {
    state->watched = {model};
    for (const FileStamp& bitmap : stamp_files(textures.files))
        state->watched.push_back(bitmap);
}

// Reads the model again, keeping the camera, the pose and the switches. The
// model's file is stamped before it is read, so that a write during the
// read is seen at the next look.
void reload(ViewerState* state, ShownModel* shown, const RunOptions& options) {
    FileStamp model = stamp_files({options.model_path})[0];
    if (reload_own_model(options, shown))
        state->sphere = sphere_of_fit(shown->read.fit);
    watch_files(state, model, shown->textures);
    fflush(stdout);
}

void set_projection(double near_plane, double far_plane, const ViewerState& state) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, double(state.width) / double(state.height), near_plane, far_plane);
    glMatrixMode(GL_MODELVIEW);
}

// The model from display list 10 at the robot's pose, as the switches show
// it; the scene's light and drawing state are as before afterwards.
void draw_model_switched(const ViewerState& state) {
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_LINE_BIT);
    if (state.white_light) {
        glPushMatrix();
        glLoadIdentity();
        glLightfv(GL_LIGHT0, GL_POSITION, kWhitePosition);
        glPopMatrix();
        glLightfv(GL_LIGHT0, GL_DIFFUSE, kWhiteDiffuse);
        glLightfv(GL_LIGHT0, GL_SPECULAR, kWhiteSpecular);
        glLightfv(GL_LIGHT0, GL_AMBIENT, kWhiteAmbient);
        glMaterialf(GL_FRONT, GL_SHININESS, kWhiteShininess);
    }
    if (state.lines) {
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glLineWidth(1.0f);
    }
    if (state.vertex_colours) {
        glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
        glEnable(GL_COLOR_MATERIAL);
    }
    glTranslatef(robot_pos.x, robot_pos.y, robot_pos.z);
    glRotatef(robot_angle, 0.0f, 0.0f, 1.0f);
    glCallList(kRobotList);
    glPopAttrib();
}

// The frame after the control rules: camera, marker, ground, light, model.
void draw_frame(const ViewerState& state) {
    bool below_ground = false;
    if (camera_mode == kViewerCamera) {
        ViewEye at = view_eye(state.view, state.sphere, robot_pos, robot_angle);
        set_projection(at.near_plane, at.far_plane, state);
        gluLookAt(at.eye[0], at.eye[1], at.eye[2], at.target[0], at.target[1], at.target[2], 0, 0,
                  1);
        below_ground = at.eye[2] < 0;
    } else {
        set_projection(double(0.1f), 100.0, state);
        set_camera();
    }
    // The light goes to its place under this frame's camera before anything
    // is lit, so that the ground does not lag behind a turning camera.
    glLightfv(GL_LIGHT0, GL_POSITION, light_position);
    draw_light_marker();
    // From below, the ground would hide the model's underside.
    if (!below_ground)
        draw_ground();
    draw_model_switched(state);
}

// Writes the frame just drawn as robot-NNNN.png in the working folder, under
// the first number from state->next_picture whose file is not there yet.
void take_screenshot(ViewerState* state) {
    Picture picture;
    picture.width = state->width;
    picture.height = state->height;
    picture.channels = 3;
    picture.pixels.resize(size_t(picture.width) * size_t(picture.height) * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, picture.width, picture.height, GL_RGB, GL_UNSIGNED_BYTE,
                 picture.pixels.data());
    for (; state->next_picture <= 99999; state->next_picture++) {
        char name[32];
        snprintf(name, sizeof name, "robot-%04d.png", state->next_picture);
        std::string reason;
        PngWrite written = writeNewPngFile(name, picture, &reason);
        if (written == PngWrite::exists)
            continue;
        if (written == PngWrite::written)
            printf("Screenshot %s\n", name);
        else
            printf("Screenshot %s cannot be written: %s\n", name, reason.c_str());
        state->next_picture++;
        fflush(stdout);
        return;
    }
    printf("No screenshot: robot-0001.png to robot-99999.png are all taken.\n");
    fflush(stdout);
}

} // namespace

void viewer_event(ViewerState* state, const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN) {
        viewer_key(state, event.key.keysym.sym);
        return;
    }
    if (camera_mode != kViewerCamera)
        return;
    if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_WHEELUP)
        near_view(&state->view, 1, state->sphere);
    if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_WHEELDOWN)
        near_view(&state->view, -1, state->sphere);
    if (event.type != SDL_MOUSEMOTION)
        return;
    if (event.motion.state & SDL_BUTTON(SDL_BUTTON_LEFT))
        turn_view(&state->view, event.motion.xrel, event.motion.yrel, state->width);
    else if (event.motion.state & (SDL_BUTTON(SDL_BUTTON_RIGHT) | SDL_BUTTON(SDL_BUTTON_MIDDLE)))
        pan_view(&state->view, event.motion.xrel, event.motion.yrel, state->height, state->sphere);
}

int run_viewer(ShownModel& shown, const RunOptions& options, int width, int height) {
    ViewerState state;
    state.width = width;
    state.height = height;
    FileStamp model = stamp_files({options.model_path})[0];
    shown.textures = init_scene_with_own_model(shown.model, options);
    if (shown.read.outcome == OwnModelRead::Outcome::shown)
        print_model_summary(options.model_path, shown);
    printf("Keys: arrows drive, F1 F2 F3 the scene's cameras, F4 a camera on the model (drag "
           "with the left button to turn it, with the right one to move it, the wheel to come "
           "nearer, Home for its first view), L white light, W lines, V vertex colours, R read "
           "the model again (also when its files change), F12 screenshot, Escape quits.\n");
    fflush(stdout);
    state.sphere = sphere_of_fit(shown.read.fit);
    watch_files(&state, model, shown.textures);

    char text[15];
    while (!state.done) {
        timer.update();
        format_caption(timer.get_fps(), text, sizeof text);
        SDL_WM_SetCaption(text, "");
        SDL_Event event;
        while (SDL_PollEvent(&event))
            viewer_event(&state, event);
        const unsigned char* key_state = SDL_GetKeyState(nullptr);
        // The frame in which Escape is held still runs to its end.
        if (key_state[SDLK_ESCAPE])
            state.done = true;
        uint32_t now = SDL_GetTicks();
        if (now >= state.next_look) {
            state.next_look = now + kLookEvery;
            state.reload = state.reload || files_changed(state.watched);
        }
        if (state.reload) {
            state.reload = false;
            reload(&state, &shown, options);
        }
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        control_robot(key_state, timer.get_fps());
        draw_frame(state);
        if (state.screenshot) {
            state.screenshot = false;
            take_screenshot(&state);
        }
        SDL_GL_SwapBuffers();
    }
    return 0;
}
