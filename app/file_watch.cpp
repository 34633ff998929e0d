#include "file_watch.h"

#include "file_access.h"

#include <filesystem>
#include <system_error>

namespace {

FileStamp stamp_file(const std::string& path) {
    namespace fs = std::filesystem;
    FileStamp stamp;
    stamp.path = path;
    fs::path host(hostPath(path.c_str()));
    std::error_code error;
    uintmax_t size = fs::file_size(host, error);
    if (error)
        return stamp;
    fs::file_time_type written = fs::last_write_time(host, error);
    if (error)
        return stamp;
    stamp.exists = true;
    stamp.size = size;
    stamp.written = int64_t(written.time_since_epoch().count());
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
