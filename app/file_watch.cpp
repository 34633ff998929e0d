#include "file_watch.h"

#include "file_access.h"

namespace {

FileStamp stamp_file(const std::string& path) {
    FileStamp stamp;
    stamp.path = path;
    stamp.exists = fileWritten(hostPath(path.c_str()), &stamp.written, &stamp.size);
    return stamp;
}

} // namespace

std::vector<FileStamp> stamp_files(const std::vector<std::string>& paths) {
    std::vector<FileStamp> stamps;
    for (const std::string& path : paths)
        stamps.push_back(stamp_file(path));
    return stamps;
}

bool files_changed(const std::vector<FileStamp>& stamps) {
    for (const FileStamp& was : stamps) {
        FileStamp now = stamp_file(was.path);
        if (now.exists != was.exists || now.written != was.written || now.size != was.size)
            return true;
    }
    return false;
}
