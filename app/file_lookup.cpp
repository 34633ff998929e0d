#include "file_lookup.h"

#include "file_access.h"

#include <cctype>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
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
    return isPathSeparator(folder.back()) ? folder + name : folder + kPathSeparator + name;
}

// Where the last component of path begins.
size_t lastComponentStart(const std::string& path) {
    size_t start = path.size();
    while (start > 0 && !isPathSeparator(path[start - 1]))
        start--;
    return start;
}

std::string folderOf(const std::string& path) {
    size_t start = lastComponentStart(path);
    if (start == 0)
        return ".";
    // The root keeps its separator: "/", or "C:\" on Windows.
    bool root = start == 1 || (start == 3 && path[1] == ':');
    return path.substr(0, root ? start : start - 1);
}

// Absolute on this system, or a Windows path with a drive letter: neither
// means anything relative to the model's folder.
bool isAbsolute(const std::string& path) {
    return (!path.empty() && isPathSeparator(path[0])) ||
           (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            path[1] == ':');
}

std::string lastComponent(const std::string& path) {
    std::string name = path.substr(lastComponentStart(path));
    // "C:wood.bmp" names wood.bmp on drive C.
    if (name.size() > 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        name.erase(0, 2);
    return name;
}

bool sameIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; a++, b++) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// The entry of folder whose name equals name ignoring ASCII case, or "".
std::string entryIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return "";
    std::string best;
    while (dirent* entry = readdir(dir)) {
        if (sameIgnoringCase(entry->d_name, name.c_str()) && (best.empty() || entry->d_name < best))
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
    std::string found = isPathSeparator(path[0]) ? std::string(1, kPathSeparator) : "";
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = begin;
        while (end < path.size() && !isPathSeparator(path[end]))
            end++;
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
    std::string program = programPath();
    if (!program.empty()) {
        std::string installed = join(folderOf(program), hostPath(ROBOT_DATA_FROM_PROGRAM));
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
