#include "own_model.h"

#include "ase_blocks.h"
#include "draw_model.h"
#include "file_access.h"
#include "file_lookup.h"
#include "image_file.h"
#include "model_fit.h"
#include "scene.h"
#include "texture.h"

#include <GL/gl.h>
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

// A bitmap file as the model uses it: its texture, the first name that
// found it, and every material that names it by any name.
struct UsedFile {
    MadeTexture texture;
    std::string path, written;
    std::vector<AseMaterial*> materials;
    // Where its line goes among the messages, when it does not decode.
    size_t message = 0;
};

// "Material "A"" or "Materials "A", "B"": the names of materials, each
// name once, the first ten of them and then how many more.
std::string materialNames(const std::vector<AseMaterial*>& materials) {
    const size_t kShown = 10;
    std::set<std::string> seen;
    std::string shown;
    for (const AseMaterial* material : materials) {
        if (seen.insert(material->name).second && seen.size() <= kShown)
            shown += (seen.size() > 1 ? ", \"" : "\"") + material->name + "\"";
    }
    std::string text = (seen.size() == 1 ? "Material " : "Materials ") + shown;
    if (seen.size() > kShown)
        text += " and " + std::to_string(seen.size() - kShown) + " more";
    return text;
}

// The folders a search went through, the working directory by that name.
std::string folderNames(const std::vector<std::string>& folders) {
    std::string text;
    for (const std::string& folder : folders)
        text += (text.empty() ? "" : ", ") + (folder == "." ? "the working directory" : folder);
    return text;
}

} // namespace

ModelTextures make_model_textures(AseModel& model, const RunOptions& options) {
    ModelTextures result;
    // Each bitmap as written, once, with the materials that name it, in the
    // order in which they first do.
    std::vector<std::string> bitmaps;
    std::vector<std::vector<AseMaterial*>> namedBy;
    std::map<std::string, size_t> bitmapIndex;
    for (AseMaterial* material : allMaterials(model)) {
        if (material->bitmap.empty())
            continue;
        auto known = bitmapIndex.emplace(material->bitmap, bitmaps.size());
        if (known.second) {
            bitmaps.push_back(material->bitmap);
            namedBy.emplace_back();
        }
        namedBy[known.first->second].push_back(material);
    }
    BitmapSearch search = find_bitmaps(bitmaps, options.model_path, options.texture_dirs);

    // A file is known by its identity, whatever name found it; one that
    // cannot be examined, by its name.
    using FileKey = std::pair<FileIdentity, std::string>;
    std::map<FileKey, UsedFile> files;
    std::vector<UsedFile*> undecoded;
    for (size_t i = 0; i < bitmaps.size(); i++) {
        const FoundBitmap& found = search.bitmaps[i];
        if (found.path.empty()) {
            result.missing++;
            result.messages.push_back(materialNames(namedBy[i]) + ": bitmap " + bitmaps[i] +
                                      " not found (" + std::to_string(found.tries) +
                                      " places tried, in " + folderNames(search.folders) +
                                      "); drawn without it.");
            continue;
        }
        FileKey key;
        if (!fileIdentity(found.path, &key.first))
            key.second = found.path;
        auto known = files.find(key);
        if (known == files.end()) {
            known = files.emplace(key, UsedFile()).first;
            UsedFile& file = known->second;
            file.texture = make_texture(found.path);
            file.path = found.path;
            file.written = bitmaps[i];
            result.filesRead++;
            result.files.push_back(found.path);
            // The file's line goes where its first material's would.
            if (!file.texture.name) {
                file.message = result.messages.size();
                result.messages.emplace_back();
                undecoded.push_back(&file);
            }
        }
        UsedFile& file = known->second;
        for (AseMaterial* material : namedBy[i]) {
            material->textureId = file.texture.name;
            material->textureCutOut = file.texture.cutOut;
            file.materials.push_back(material);
        }
    }
    for (const UsedFile* file : undecoded)
        result.messages[file->message] =
            materialNames(file->materials) + ": bitmap " + file->written + " (" + file->path +
            ") does not decode: " + file->texture.reason + "; drawn without it.";
    return result;
}

bool load_own_model(const RunOptions& options, AseModel* model) {
    std::vector<std::string> problems;
    // The reader also completes the corner normals that the file does not
    // give.
    if (!loadAseBlocks(options.model_path, model, &problems)) {
        printf("Unable to find or open the file: %s", options.model_path);
        return false;
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
