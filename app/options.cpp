#include "options.h"

#include "file_access.h"

#include <cctype>
#include <cstring>

namespace {

// "z" or "y" in either case.
bool readUpAxis(const char* value, UpAxis* up) {
    char axis = char(std::tolower(static_cast<unsigned char>(value[0])));
    if (value[0] == '\0' || value[1] != '\0' || (axis != 'z' && axis != 'y'))
        return false;
    *up = axis == 'z' ? UpAxis::z : UpAxis::y;
    return true;
}

// The value of the option name at argv[*i], given as "--name=VALUE" or as
// "--name VALUE" (then *i moves past it). Null when argv[*i] is not that
// option; *missing is set when it is but the value is not there.
const char* optionValue(const char* name, int argc, char** argv, int* i, bool* missing) {
    const char* arg = argv[*i];
    size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0)
        return nullptr;
    if (arg[length] == '=')
        return arg + length + 1;
    if (arg[length] != '\0')
        return nullptr;
    if (*i + 1 >= argc) {
        *missing = true;
        return nullptr;
    }
    return argv[++*i];
}

} // namespace

ParseOutcome parse_arguments(int argc, char** argv, RunOptions* options, std::string* error) {
    *options = RunOptions();
    bool upGiven = false, optionsEnd = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!optionsEnd && arg[0] == '-' && arg[1] != '\0') {
            if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
                return ParseOutcome::help;
            if (std::strcmp(arg, "--") == 0) {
                optionsEnd = true;
                continue;
            }
            bool missing = false;
            if (const char* value = optionValue("--up", argc, argv, &i, &missing)) {
                if (!readUpAxis(value, &options->up)) {
                    *error = std::string("--up takes z or y, not ") + value;
                    return ParseOutcome::bad;
                }
                upGiven = true;
            } else if (missing) {
                *error = "--up needs an axis, z or y";
                return ParseOutcome::bad;
            } else if (const char* dir = optionValue("--textures", argc, argv, &i, &missing)) {
                PathKind kind = pathKind(hostPath(dir));
                if (kind != PathKind::folder) {
                    *error = std::string("--textures needs a folder of bitmaps; ") + dir +
                             (kind == PathKind::missing ? " does not exist" : " is not a folder");
                    return ParseOutcome::bad;
                }
                options->texture_dirs.push_back(dir);
            } else if (missing) {
                *error = "--textures needs a folder";
                return ParseOutcome::bad;
            } else {
                *error = std::string("unknown option ") + arg;
                return ParseOutcome::bad;
            }
            continue;
        }
        if (options->model_path) {
            *error = "one model at a time";
            return ParseOutcome::bad;
        }
        options->model_path = arg;
    }
    if (upGiven && !options->model_path) {
        *error = "--up names the up axis of a model file, and no model was given";
        return ParseOutcome::bad;
    }
    if (!options->texture_dirs.empty() && !options->model_path) {
        *error = "--textures names folders for a model file's bitmaps, and no model was given";
        return ParseOutcome::bad;
    }
    return ParseOutcome::run;
}

void print_usage(FILE* to, bool full) {
    std::fputs("Usage: robot [--up z|y] [--textures DIR]... [MODEL.ase]\n", to);
    if (!full) {
        std::fputs("robot --help tells more.\n", to);
        return;
    }
    std::fputs("Without a model: the robot of data\\robot.ase on the grass.\n"
               "With a model: that ASE model in the robot's place, scaled to the robot's\n"
               "height, centred and standing on the ground; its bitmaps (BMP, TGA, PNG,\n"
               "JPEG) are looked for as written, then beside the model, then in the\n"
               "--textures folders.\n"
               "  --up z          the model file's z axis is up (3ds Max; the default)\n"
               "  --up y          the model file's y axis is up\n"
               "  --textures DIR  look for the bitmaps in DIR too, as a game does in its\n"
               "                  folder: \"//base/textures/wall.tga\" is found as\n"
               "                  DIR/base/textures/wall.tga, DIR/textures/wall.tga or\n"
               "                  DIR/wall.tga, in any case, and as .png, .jpg or .bmp\n"
               "                  where no .tga is there; may be given several times\n"
               "  --help          this text\n"
               "Keys: arrows drive, F1 F2 F3 choose the camera, Escape quits.\n"
               "With a model also: F4 a camera on the model (drag with the left button to\n"
               "turn it, with the right one to move it, the wheel to come nearer, Home for\n"
               "its first view), L white light, W lines, V vertex colours, R read the model\n"
               "again (also when its files change), F12 screenshot robot-NNNN.png.\n",
               to);
}
