#include "own_model.h"

#include "ase_blocks.h"
#include "draw_model.h"
#include "file_lookup.h"
#include "image_file.h"
#include "model_fit.h"
#include "scene.h"
#include "texture.h"

#include <GL/gl.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace {

// A bitmap file as the model's materials use it: its texture, or why there
// is none.
struct MadeTexture {
    unsigned int name = 0;
    bool cutOut = false;
    std::string reason;
};

MadeTexture make_texture(const std::string& found) {
    MadeTexture made;
    Picture picture;
    if (!loadPictureFile(found.c_str(), &picture, &made.reason))
        return made;
    upload_texture(picture.width, picture.height, picture.channels, picture.pixels.data(),
                   &made.name);
    made.cutOut = picture.channels == 4;
    return made;
}

} // namespace

ModelTextures make_model_textures(AseModel& model, const RunOptions& options) {
    ModelTextures result;
    std::map<std::string, MadeTexture> made;
    for (AseMaterial* material : allMaterials(model)) {
        if (material->bitmap.empty())
            continue;
        std::string found = find_bitmap(material->bitmap.c_str(), options.model_path);
        if (found.empty()) {
            result.messages.push_back("Material \"" + material->name + "\": bitmap " +
                                      material->bitmap + " not found; drawn without it.");
            continue;
        }
        auto it = made.find(found);
        if (it == made.end()) {
            it = made.emplace(found, make_texture(found)).first;
            result.filesRead++;
            result.files.push_back(found);
        }
        const MadeTexture& texture = it->second;
        material->textureId = texture.name;
        material->textureCutOut = texture.cutOut;
        if (!texture.name)
            result.messages.push_back(
                "Material \"" + material->name + "\": bitmap " + material->bitmap + " (" + found +
                ") does not decode: " + texture.reason + "; drawn without it.");
    }
    return result;
}

OwnModelRead read_own_model(const RunOptions& options, AseModel* model) {
    OwnModelRead read;
    auto started = std::chrono::steady_clock::now();
    AseModel fresh;
    std::vector<std::string> problems;
    // The reader also completes the corner normals that the file does not
    // give.
    if (!loadAseBlocks(options.model_path, &fresh, &problems))
        return read;
    for (const std::string& line : problems)
        printf("%s\n", line.c_str());
    read.materials = int(fresh.materials.size());
    give_orphans_plain_material(fresh);
    read.fit = fit_model(fresh, options.up);
    if (!read.fit.hasCorners) {
        read.outcome = OwnModelRead::Outcome::no_triangles;
        return read;
    }
    apply_fit(fresh, read.fit);
    *model = std::move(fresh);
    read.outcome = OwnModelRead::Outcome::shown;
    read.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    return read;
}

bool load_own_model(const RunOptions& options, AseModel* model, OwnModelRead* read) {
    *read = read_own_model(options, model);
    if (read->outcome == OwnModelRead::Outcome::cannot_open) {
        printf("Unable to find or open the file: %s", options.model_path);
        return false;
    }
    if (read->outcome == OwnModelRead::Outcome::no_triangles)
        printf("%s: no triangles to show; the scene runs without a model.\n", options.model_path);
    return true;
}

namespace {

// Display list 10: the fitted vertices are already in the robot's own
// frame. Whatever the model's groups set is undone, so the ground and the
// marker look the same whatever model is shown.
void compile_model_list(const AseModel& model) {
    glNewList(kRobotList, GL_COMPILE);
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT |
                 GL_COLOR_BUFFER_BIT);
    draw_own_model(model);
    glPopAttrib();
    glEndList();
}

void print_texture_messages(const ModelTextures& textures) {
    for (const std::string& line : textures.messages)
        printf("%s\n", line.c_str());
}

void delete_model_textures(const AseModel& model) {
    std::set<unsigned int> names;
    for (const AseMaterial* material : allMaterials(model)) {
        if (material->textureId)
            names.insert(material->textureId);
    }
    for (unsigned int name : names)
        glDeleteTextures(1, &name);
}

// The bitmaps the model names that give it no texture, each name once.
// The texture maker's own count of missing bitmaps belongs here once it
// keeps one.
int missing_bitmaps(const AseModel& model) {
    std::set<std::string> missing;
    for (const AseMaterial* material : allMaterials(model)) {
        if (!material->bitmap.empty() && !material->textureId)
            missing.insert(material->bitmap);
    }
    return int(missing.size());
}

std::string number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

ModelTextures init_scene_with_own_model(AseModel& model, const RunOptions& options) {
    init_light();
    ModelTextures textures = make_model_textures(model, options);
    print_texture_messages(textures);
    createTexture(find_scene_file("data\\grasstex.bmp").c_str(), &grass_texture);
    compile_model_list(model);
    set_start_pose();
    return textures;
}

bool reload_own_model(const RunOptions& options, ShownModel* shown) {
    AseModel fresh;
    OwnModelRead read = read_own_model(options, &fresh);
    if (read.outcome != OwnModelRead::Outcome::shown) {
        printf("%s: %s; the model shown so far stays.\n", options.model_path,
               read.outcome == OwnModelRead::Outcome::cannot_open ? "cannot be opened"
                                                                  : "no triangles to show");
        return false;
    }
    delete_model_textures(shown->model);
    shown->model = std::move(fresh);
    shown->read = read;
    shown->textures = make_model_textures(shown->model, options);
    print_texture_messages(shown->textures);
    compile_model_list(shown->model);
    print_model_summary(options.model_path, *shown);
    return true;
}

void print_model_summary(const char* path, const ShownModel& shown) {
    const AseModel& model = shown.model;
    size_t vertices = 0, triangles = 0;
    for (const AseObject& object : model.objects) {
        vertices += object.vertices.size();
        for (const AseFace& face : object.faces)
            triangles += drawableFace(object, face) && faceMaterial(model, object, face) ? 1 : 0;
    }
    // The fit's box is in the scene's axes, each taken from a file axis.
    const ModelFit& fit = shown.read.fit;
    double size[3] = {0, 0, 0};
    for (int i = 0; i < 3; i++)
        size[fit.axis[i]] = fit.high[i] - fit.low[i];
    std::string line = std::string(path) + ": " + std::to_string(model.objects.size()) +
                       " objects, " + std::to_string(vertices) + " vertices, " +
                       std::to_string(triangles) + " triangles, " +
                       std::to_string(shown.read.materials) + " materials (" +
                       std::to_string(shown.textures.files.size()) + " bitmaps found, " +
                       std::to_string(missing_bitmaps(model)) + " missing), size " +
                       number(size[0]) + " x " + number(size[1]) + " x " + number(size[2]) +
                       ", read in " + number(std::round(shown.read.milliseconds)) + " ms";
    printf("%s\n", line.c_str());
}
