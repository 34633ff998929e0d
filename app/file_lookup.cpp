#include "file_lookup.h"

#include "file_access.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>

namespace {

bool isRegularFile(const std::string& path) {
    return !path.empty() && pathKind(path) == PathKind::file;
}

bool isDirectory(const std::string& path) {
    return pathKind(path) == PathKind::folder;
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

bool hasDrive(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// Absolute on this system, or a Windows path with a drive letter: neither
// means anything relative to the model's folder.
bool isAbsolute(const std::string& path) {
    return (!path.empty() && isPathSeparator(path[0])) || hasDrive(path);
}

std::string lastComponent(const std::string& path) {
    std::string name = path.substr(lastComponentStart(path));
    // "C:wood.bmp" names wood.bmp on drive C.
    if (name.size() > 2 && hasDrive(name))
        name.erase(0, 2);
    return name;
}

// The parts of path between its separators.
std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = begin;
        while (end < path.size() && !isPathSeparator(path[end]))
            end++;
        parts.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

// No file system holds a name longer than 255 characters (765 bytes as
// UTF-8): a longer part of a bitmap's name is not looked up at all.
constexpr size_t kMaxNameBytes = 1024;
// Nor a path longer than this (Windows' longest).
constexpr size_t kMaxPathBytes = 32768;
// Tails of more parts than this are not tried: no texture folder is that
// deep, and the places tried for a name stay bounded however long it is.
constexpr size_t kMaxTailParts = 32;

// A folder's entries, listed once for a search: each name with its folded
// form, sorted by the folded form and then the name, so that of several
// names equal ignoring case the first in byte order comes first.
struct Listing {
    bool listed = false;
    std::vector<std::pair<std::string, std::string>> entries;
};

using Listings = std::map<std::string, Listing>;

const Listing& listingOf(Listings& listings, const std::string& folder) {
    auto known = listings.find(folder);
    if (known != listings.end())
        return known->second;
    Listing& listing = listings[folder];
    std::vector<std::string> names;
    listing.listed = listFolder(folder, &names);
    listing.entries.reserve(names.size());
    for (std::string& name : names)
        listing.entries.emplace_back(foldedName(name), std::move(name));
    std::sort(listing.entries.begin(), listing.entries.end());
    return listing;
}

// The name of folder's entry called name: that very name when it is there,
// else one equal to it ignoring case; "" when there is none.
std::string entryOf(Listings& listings, const std::string& folder, const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes)
        return "";
    const Listing& listing = listingOf(listings, folder);
    // A folder that can be passed through but not listed finds only the
    // exact name.
    if (!listing.listed)
        return pathKind(join(folder, name)) != PathKind::missing ? name : "";
    std::string folded = foldedName(name);
    auto first = std::lower_bound(listing.entries.begin(), listing.entries.end(),
                                  std::make_pair(folded, std::string()));
    for (auto it = first; it != listing.entries.end() && it->first == folded; ++it) {
        if (it->second == name)
            return name;
    }
    return first != listing.entries.end() && first->first == folded ? first->second : "";
}

// The regular file at path (relative to the working directory or absolute),
// found as a case-insensitive file system would find it, or "". A ".." goes
// back over the part before it as written, as Windows takes it.
std::string matchIgnoringCase(Listings& listings, const std::string& path) {
    if (path.empty())
        return "";
    if (isRegularFile(path))
        return path;
    std::string found = isPathSeparator(path[0]) ? std::string(1, kPathSeparator) : ".";
    size_t skip = 0;
    if (hasDrive(path) && path.size() > 2 && isPathSeparator(path[2])) {
        found = path.substr(0, 2) + kPathSeparator;
        skip = 1;
    }
    // Where each part that can be gone back over begins in found.
    std::vector<size_t> starts;
    for (const std::string& name : splitPath(path)) {
        if (skip > 0) {
            skip--;
            continue;
        }
        if (name.empty() || name == ".")
            continue;
        if (name == ".." && !starts.empty()) {
            found.resize(starts.back());
            starts.pop_back();
            continue;
        }
        std::string match = name == ".." ? name : entryOf(listings, found, name);
        if (match.empty())
            return "";
        size_t start = found.size();
        if (found == ".") {
            found.clear();
            start = 0;
        } else if (!isPathSeparator(found.back())) {
            found += kPathSeparator;
        }
        found += match;
        if (name != "..")
            starts.push_back(start);
    }
    return isRegularFile(found) ? found : "";
}

// Where the extension of a file name begins: a dot followed by one to four
// letters and digits, at least one of them a letter ("y.tga", not
// "tiles_1.5"); the name's size when it has none.
size_t extensionStart(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot < 2 || name.size() - dot > 5)
        return name.size();
    bool letter = false;
    for (size_t i = dot + 1; i < name.size(); i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::isalnum(c))
            return name.size();
        letter = letter || std::isalpha(c);
    }
    return letter ? dot : name.size();
}

// The names to try where name itself is missing: its stem with each picture
// extension that it does not have.
std::vector<std::string> otherExtensions(const std::string& name) {
    static const char* const kPictures[] = {".tga", ".png", ".jpg", ".jpeg", ".bmp"};
    size_t dot = extensionStart(name);
    std::string stem = name.substr(0, dot), own = foldedName(name.substr(dot));
    std::vector<std::string> names;
    for (const char* extension : kPictures) {
        if (own != foldedName(extension))
            names.push_back(stem + extension);
    }
    return names;
}

// Walks from folder down parts[from, to), matching each as entryOf does.
// False when one is missing; *reached is the folder found.
bool walkDown(Listings& listings, const std::string& folder, const std::vector<std::string>& parts,
              size_t from, size_t to, std::string* reached) {
    *reached = folder;
    for (size_t i = from; i < to; i++) {
        std::string match = entryOf(listings, *reached, parts[i]);
        if (match.empty())
            return false;
        *reached = join(*reached, match);
    }
    return true;
}

// The file in folder named one of names, matched as entryOf does, or "".
std::string fileIn(Listings& listings, const std::string& folder,
                   const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::string match = entryOf(listings, folder, name);
        if (!match.empty() && isRegularFile(join(folder, match)))
            return join(folder, match);
    }
    return "";
}

// The tails of parts in folder (longest first), under their own last name
// and then under the other picture extensions.
FoundBitmap findInFolder(Listings& listings, const std::string& folder,
                         const std::vector<std::string>& parts) {
    FoundBitmap result;
    const std::vector<std::vector<std::string>> lastNames = {{parts.back()},
                                                             otherExtensions(parts.back())};
    // The folder that each tail's leading parts reach, walked once for all
    // its names ("" where they reach none).
    std::vector<std::string> reached(parts.size());
    for (const std::vector<std::string>& names : lastNames) {
        for (size_t from = 0; from < parts.size(); from++) {
            result.tries += int(names.size());
            if (&names == &lastNames[0] &&
                !walkDown(listings, folder, parts, from, parts.size() - 1, &reached[from]))
                reached[from].clear();
            if (!reached[from].empty())
                result.path = fileIn(listings, reached[from], names);
            if (!result.path.empty())
                return result;
        }
    }
    return result;
}

// The parts of path that its tails are made of: without a drive, "." and
// ".." parts, or any part before one too long to be a name, and at most the
// last kMaxTailParts of them.
std::vector<std::string> tailParts(const std::string& path) {
    std::vector<std::string> parts;
    for (std::string& part : splitPath(path)) {
        if (part.size() > kMaxNameBytes)
            parts.clear();
        else if (!part.empty() && part != "." && part != "..")
            parts.push_back(std::move(part));
    }
    if (!parts.empty() && hasDrive(parts[0])) {
        parts[0].erase(0, 2);
        if (parts[0].empty())
            parts.erase(parts.begin());
    }
    if (parts.size() > kMaxTailParts)
        parts.erase(parts.begin(), parts.end() - kMaxTailParts);
    return parts;
}

// One bitmap's search (see find_bitmaps); folders[0] is the model's folder.
FoundBitmap findBitmap(Listings& listings, const std::string& path,
                       const std::vector<std::string>& folders) {
    FoundBitmap result;
    if (path.empty())
        return result;
    std::vector<std::string> parts = tailParts(path);
    std::string whole;
    for (const std::string& part : parts)
        whole = join(whole, part);
    // As written, from the working directory and from the model's folder,
    // where that is not the first place of the tails. No system opens a path
    // longer than kMaxPathBytes.
    const std::string& modelFolder = folders[0];
    std::string inModel = join(modelFolder, whole);
    std::vector<std::string> asWritten;
    if (path.size() <= kMaxPathBytes && path != inModel)
        asWritten.push_back(path);
    std::string fromModel = join(modelFolder, path);
    if (path.size() <= kMaxPathBytes && !isAbsolute(path) && fromModel != inModel &&
        fromModel != path)
        asWritten.push_back(fromModel);
    for (const std::string& place : asWritten) {
        result.tries++;
        result.path = matchIgnoringCase(listings, place);
        if (!result.path.empty())
            return result;
    }
    for (size_t i = 0; i < folders.size() && !parts.empty(); i++) {
        FoundBitmap inFolder = findInFolder(listings, folders[i], parts);
        result.tries += inFolder.tries;
        if (!inFolder.path.empty()) {
            result.path = inFolder.path;
            return result;
        }
    }
    return result;
}

} // namespace

BitmapSearch find_bitmaps(const std::vector<std::string>& written, const char* model_path,
                          const std::vector<std::string>& texture_dirs) {
    BitmapSearch search;
    Listings listings;
    std::string modelFolder = utf8Path(folderOf(hostPath(model_path)));
    std::vector<std::string> folders = {modelFolder};
    for (const std::string& dir : texture_dirs) {
        std::string folder = dir.empty() ? "." : utf8Path(hostPath(dir.c_str()));
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    search.folders = folders;
    if (std::find(folders.begin(), folders.end(), ".") == folders.end())
        search.folders.insert(search.folders.begin(), ".");

    for (const std::string& name : written)
        search.bitmaps.push_back(findBitmap(listings, utf8Path(hostPath(name.c_str())), folders));
    return search;
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
