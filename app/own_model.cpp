#include "own_model.h"

#include "ase_blocks.h"
#include "draw_model.h"
#include "file_lookup.h"
#include "image_file.h"
#include "model_fit.h"
#include "scene.h"
#include "texture.h"

#include <GL/gl.h>
#include <cstdio>
#include <map>

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

bool load_own_model(const RunOptions& options, AseModel* model) {
    std::vector<std::string> problems;
    // The reader also completes the corner normals that the file does not
    // give.
    switch (loadAseBlocks(options.model_path, model, &problems)) {
    case AseLoad::cannotOpen:
        printf("Unable to find or open the file: %s", options.model_path);
        return false;
    case AseLoad::notAseModel:
        // "MODEL is not an ASE model: ...", its line ended by the caller.
        printf("%s", problems.front().c_str());
        return false;
    case AseLoad::read:
        break;
    }
    for (const std::string& line : problems)
        printf("%s\n", line.c_str());
    give_orphans_plain_material(*model);
    ModelFit fit = fit_model(*model, options.up);
    if (!fit.hasCorners) {
        printf("%s: no triangles to show; the scene runs without a model.\n", options.model_path);
        *model = AseModel();
        return true;
    }
    apply_fit(*model, fit);
    return true;
}

void init_scene_with_own_model(AseModel& model, const RunOptions& options) {
    init_light();
    for (const std::string& line : make_model_textures(model, options).messages)
        printf("%s\n", line.c_str());
    createTexture(find_scene_file("data\\grasstex.bmp").c_str(), &grass_texture);

    glNewList(kRobotList, GL_COMPILE);
    // The fitted vertices are already in the robot's own frame. Whatever the
    // model's groups set is undone, so the ground and the marker look the
    // same whatever model is shown.
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT |
                 GL_COLOR_BUFFER_BIT);
    draw_own_model(model);
    glPopAttrib();
    glEndList();

    set_start_pose();
}
