#include "file_access.h"

#include <cstdint>
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

std::string utf8FromUtf16(const char16_t* units, size_t count) {
    static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
    std::string out;
    out.reserve(count + count / 4);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(units[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out.push_back(char(lead[extra] | c >> (6 * extra)));
        for (int k = extra - 1; k >= 0; --k)
            out.push_back(char(0x80 | ((c >> (6 * k)) & 0x3F)));
    }
    return out;
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

void prefetchMappedFile(const MappedFile& file) {
#ifdef MADV_POPULATE_READ
    if (file.data)
        madvise(const_cast<unsigned char*>(file.data), file.size, MADV_POPULATE_READ);
#else
    (void)file;
#endif
}
