#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Watching the files a model of the user's was made from, so that the
// program reads it again when one of them is saved anew. Plain functions of
// the file system; the caller decides how often to look.

// What a file looks like from outside: whether it is there, and when it was
// last written and how long it is.
struct FileStamp {
    std::string path;
    bool exists = false;
    int64_t written = 0;
    uint64_t size = 0;
};

// The stamps of the files at paths (backslashes are directory separators).
std::vector<FileStamp> stamp_files(const std::vector<std::string>& paths);

// Whether any of the files is not as its stamp says: it came, went, or was
// written with another time or size.
bool files_changed(const std::vector<FileStamp>& stamps);
