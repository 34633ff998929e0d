#include "options.h"

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

} // namespace

ParseOutcome parse_arguments(int argc, char** argv, RunOptions* options, std::string* error) {
    *options = RunOptions();
    bool upGiven = false, optionsEnd = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!optionsEnd && arg[0] == '-' && arg[1] != '\0') {
            const char* value = nullptr;
            if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
                return ParseOutcome::help;
            if (std::strcmp(arg, "--") == 0) {
                optionsEnd = true;
                continue;
            }
            if (std::strncmp(arg, "--up=", 5) == 0) {
                value = arg + 5;
            } else if (std::strcmp(arg, "--up") == 0) {
                if (i + 1 >= argc) {
                    *error = "--up needs an axis, z or y";
                    return ParseOutcome::bad;
                }
                value = argv[++i];
            } else {
                *error = std::string("unknown option ") + arg;
                return ParseOutcome::bad;
            }
            if (!readUpAxis(value, &options->up)) {
                *error = std::string("--up takes z or y, not ") + value;
                return ParseOutcome::bad;
            }
            upGiven = true;
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
    return ParseOutcome::run;
}

void print_usage(FILE* to, bool full) {
    std::fputs("Usage: robot [--up z|y] [MODEL.ase]\n", to);
    if (!full) {
        std::fputs("robot --help tells more.\n", to);
        return;
    }
    std::fputs("Without a model: the robot of data\\robot.ase on the grass.\n"
               "With a model: that ASE model in the robot's place, scaled to the robot's\n"
               "height, centred and standing on the ground; its bitmaps (BMP, TGA, PNG,\n"
               "JPEG) are looked for as written, then beside the model.\n"
               "  --up z   the model file's z axis is up (3ds Max; the default)\n"
               "  --up y   the model file's y axis is up\n"
               "  --help   this text\n"
               "Keys: arrows drive, F1 F2 F3 choose the camera, Escape quits.\n",
               to);
}
