#include "own_model.h"

#include "draw_model.h"
#include "file_lookup.h"
#include "image_file.h"
#include "model_fit.h"
#include "scene.h"
#include "texture.h"

#include <GL/gl.h>
#include <cstdio>
#include <map>
#include <string>

namespace {

std::string own_model_path;

// A bitmap file as the model's materials use it: its texture, or why there
// is none.
struct MadeTexture {
    unsigned int name = 0;
    std::string reason;
};

MadeTexture make_texture(const std::string& found) {
    MadeTexture made;
    RgbImage* image = loadImageFile(found.c_str(), &made.reason);
    if (image && (!image->pixels || image->width <= 0 || image->height <= 0)) {
        freeImage(image);
        image = nullptr;
        made.reason = "no pixels";
    }
    if (image)
        upload_texture(image, &made.name);
    freeImage(image);
    return made;
}

// Makes the texture of every material that names a bitmap. Materials that
// name the same file share its texture, and each is told about a file
// that does not decode.
void make_model_textures() {
    std::map<std::string, MadeTexture> made;
    for (tMaterialInfo& material : model.materials) {
        if (!material.strBitmap[0])
            continue;
        std::string found = find_bitmap(material.strBitmap, own_model_path.c_str());
        if (found.empty()) {
            printf("Material \"%s\": bitmap %s not found; drawn without it.\n",
                   material.strMaterialName, material.strBitmap);
            continue;
        }
        if (!made.count(found))
            made[found] = make_texture(found);
        const MadeTexture& texture = made[found];
        material.textureId = texture.name;
        if (!texture.name)
            printf("Material \"%s\": bitmap %s (%s) does not decode: %s; drawn without it.\n",
                   material.strMaterialName, material.strBitmap, found.c_str(),
                   texture.reason.c_str());
    }
}

} // namespace

bool load_own_model(const RunOptions& options) {
    own_model_path = options.model_path;
    // Textures need the window's GL context; they are made in
    // init_scene_with_own_model.
    reader.textureMaker = nullptr;
    if (!reader.loadModel(&model, options.model_path))
        return false;
    give_orphans_plain_material(model);
    ModelFit fit = fit_model(model, options.up);
    if (!fit.hasCorners) {
        printf("%s: no triangles to show; the scene runs without a model.\n", options.model_path);
        releaseModelArrays(model);
        model = tModel();
        return true;
    }
    apply_fit(model, fit);
    return true;
}

void init_scene_with_own_model() {
    init_light();
    make_model_textures();
    createTexture(find_scene_file("data\\grasstex.bmp").c_str(), &grass_texture);

    glNewList(kRobotList, GL_COMPILE);
    // The fitted vertices are already in the robot's own frame. Whatever the
    // model's last object sets is undone, so the ground and the marker look
    // the same whatever model is shown.
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT);
    drawModel(&model);
    glPopAttrib();
    glEndList();

    set_start_pose();
}
