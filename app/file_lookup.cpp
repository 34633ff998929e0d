#include "file_lookup.h"

#include "file_access.h"

#include <cctype>
#include <climits>
#include <dirent.h>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool isRegularFile(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == ".")
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Absolute on this system, or a Windows path with a drive letter: neither
// means anything relative to the model's folder.
bool isAbsolute(const std::string& path) {
    return (!path.empty() && path[0] == '/') ||
           (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            path[1] == ':');
}

std::string lastComponent(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    // "C:wood.bmp" names wood.bmp on drive C.
    if (name.size() > 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        name.erase(0, 2);
    return name;
}

// The entry of folder whose name equals name ignoring ASCII case, or "".
std::string entryIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return "";
    std::string best;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0 && (best.empty() || entry->d_name < best))
            best = entry->d_name;
    }
    closedir(dir);
    return best;
}

} // namespace

std::string match_path_ignoring_case(const std::string& path) {
    if (path.empty())
        return "";
    if (isRegularFile(path))
        return path;
    std::string found = path[0] == '/' ? "/" : "";
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(begin, end - begin);
        begin = end + 1;
        if (name.empty())
            continue;
        std::string exact = join(found, name);
        struct stat info;
        if (name == "." || name == ".." || stat(exact.c_str(), &info) == 0) {
            found = exact;
            continue;
        }
        std::string match = entryIgnoringCase(found, name);
        if (match.empty())
            return "";
        found = join(found, match);
    }
    return isRegularFile(found) ? found : "";
}

std::string find_bitmap(const char* written, const char* model_path) {
    std::string path = hostPath(written);
    if (path.empty())
        return "";
    std::string folder = folderOf(hostPath(model_path));
    std::vector<std::string> candidates = {path};
    if (!isAbsolute(path))
        candidates.push_back(join(folder, path));
    candidates.push_back(join(folder, lastComponent(path)));
    for (size_t i = 0; i < candidates.size(); i++) {
        // The model's folder may be the working directory.
        if (i > 0 && candidates[i] == candidates[i - 1])
            continue;
        std::string found = match_path_ignoring_case(candidates[i]);
        if (!found.empty())
            return found;
    }
    return "";
}

std::string own_data_folder() {
    char program[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length > 0) {
        program[length] = '\0';
        std::string installed = join(folderOf(program), ROBOT_DATA_FROM_PROGRAM);
        if (isDirectory(installed))
            return installed;
    }
    return ROBOT_SOURCE_DATA_DIR;
}

void work_from_own_data_when_none() {
    if (isDirectory("data"))
        return;
    std::string own = own_data_folder();
    std::error_code ignored;
    if (isDirectory(own))
        std::filesystem::current_path(folderOf(own), ignored);
}

std::string find_scene_file(const char* scene_path) {
    std::string path = hostPath(scene_path);
    if (isRegularFile(path))
        return scene_path;
    std::string own = join(own_data_folder(), lastComponent(path));
    return isRegularFile(own) ? own : scene_path;
}
