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

OwnModelRead read_own_model(const RunOptions& options, AseModel* model) {
    OwnModelRead read;
    auto started = std::chrono::steady_clock::now();
    AseModel fresh;
    std::vector<std::string> problems;
    // The reader also completes the corner normals that the file does not
    // give.
    switch (loadAseBlocks(options.model_path, &fresh, &problems)) {
    case AseLoad::cannotOpen:
        return read;
    case AseLoad::notAseModel:
        // "MODEL is not an ASE model: ...", the reader's one line.
        read.outcome = OwnModelRead::Outcome::not_ase_model;
        read.refusal = problems.front();
        return read;
    case AseLoad::read:
        break;
    }
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
    switch (read->outcome) {
    case OwnModelRead::Outcome::cannot_open:
        printf("Unable to find or open the file: %s", options.model_path);
        return false;
    case OwnModelRead::Outcome::not_ase_model:
        // Its line is ended by the caller, as the one above.
        printf("%s", read->refusal.c_str());
        return false;
    default:
        break;
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
        std::string why = options.model_path;
        if (read.outcome == OwnModelRead::Outcome::cannot_open)
            why += ": cannot be opened";
        else if (read.outcome == OwnModelRead::Outcome::no_triangles)
            why += ": no triangles to show";
        else
            why = read.refusal;
        printf("%s; the model shown so far stays.\n", why.c_str());
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
                       std::to_string(shown.textures.missing) + " missing), size " +
                       number(size[0]) + " x " + number(size[1]) + " x " + number(size[2]) +
                       ", read in " + number(std::round(shown.read.milliseconds)) + " ms";
    printf("%s\n", line.c_str());
}
