#include "file_access.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

std::string hostPath(const char* path) {
    std::string mapped(path ? path : "");
    for (char& c : mapped) {
        if (c == '\\')
            c = '/';
    }
    return mapped;
}

bool mapFile(const char* path, MappedFile* file) {
    *file = MappedFile();
    int fd = open(hostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    file->fd = fd;
    file->size = size_t(info.st_size);
    if (file->size == 0)
        return true;
    void* view = mmap(nullptr, file->size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        close(fd);
        *file = MappedFile();
        return false;
    }
    file->data = static_cast<const unsigned char*>(view);
    return true;
}

void unmapFile(MappedFile* file) {
    if (file->data)
        munmap(const_cast<unsigned char*>(file->data), file->size);
    if (file->fd >= 0)
        close(file->fd);
    *file = MappedFile();
}
