#include "file_access.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

std::string hostPath(const char* path) {
    std::string mapped(path ? path : "");
    for (char& c : mapped) {
        if (c == '\\')
            c = kPathSeparator;
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

#ifdef _WIN32

namespace {

// Names from the command line and from most model files are in the system's
// code page; names that came as UTF-16 (wide names, UTF-16 model files) reach
// here as UTF-8. A name that is valid UTF-8 (ASCII included) is taken as
// UTF-8, any other in the code page.
std::wstring widePath(const std::string& name) {
    UINT page = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int units = MultiByteToWideChar(page, flags, name.c_str(), -1, nullptr, 0);
    if (units <= 0) {
        page = CP_ACP;
        flags = 0;
        units = MultiByteToWideChar(page, flags, name.c_str(), -1, nullptr, 0);
    }
    if (units <= 0)
        return std::wstring();
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(page, flags, name.c_str(), -1, &wide[0], units);
    wide.resize(size_t(units) - 1);
    return wide;
}

std::string utf8FromWide(const std::wstring& wide) {
    return utf8FromUtf16(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
}

HANDLE openForReading(const std::string& name) {
    return CreateFileW(widePath(name).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

bool mapFile(const char* path, MappedFile* file) {
    *file = MappedFile();
    HANDLE handle = openForReading(hostPath(path));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size) ||
        uint64_t(size.QuadPart) > SIZE_MAX) {
        CloseHandle(handle);
        return false;
    }
    // An empty file cannot be mapped; it is read as no bytes.
    if (size.QuadPart == 0) {
        CloseHandle(handle);
        return true;
    }
    HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(handle);
    if (!mapping)
        return false;
    // The view keeps the mapping and the file open until it is unmapped.
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    if (!view)
        return false;
    file->data = static_cast<const unsigned char*>(view);
    file->size = size_t(size.QuadPart);
    return true;
}

void unmapFile(MappedFile* file) {
    if (file->data)
        UnmapViewOfFile(file->data);
    *file = MappedFile();
}

void preferLargePages(void*, size_t) {}

void populatePages(void*, size_t) {}

bool openInputFile(const char* path, InputFile* file) {
    *file = InputFile();
    HANDLE handle = openForReading(hostPath(path));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return false;
    }
    file->handle = reinterpret_cast<intptr_t>(handle);
    file->size = uint64_t(size.QuadPart);
    return true;
}

size_t readInput(InputFile* file, unsigned char* data, size_t bytes) {
    if (file->handle == -1)
        return 0;
    DWORD read = 0;
    DWORD asked = DWORD(bytes < (DWORD(1) << 30) ? bytes : DWORD(1) << 30);
    if (!ReadFile(reinterpret_cast<HANDLE>(file->handle), data, asked, &read, nullptr))
        return 0;
    return read;
}

void closeInputFile(InputFile* file) {
    if (file->handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(file->handle));
    *file = InputFile();
}

std::string programPath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

PathKind pathKind(const std::string& path) {
    DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::folder;
    return attributes & FILE_ATTRIBUTE_DEVICE ? PathKind::other : PathKind::file;
}

bool listFolder(const std::string& folder, std::vector<std::string>* names) {
    names->clear();
    std::wstring pattern = widePath(folder.empty() ? "." : folder);
    if (pattern.empty())
        return false;
    if (pattern.back() != L'\\' && pattern.back() != L'/')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    // A folder without entries, as the root of an empty drive is, matches
    // nothing.
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names->push_back(utf8FromWide(name));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return true;
}

std::string foldedName(const std::string& name) {
    std::wstring wide = widePath(name);
    if (wide.empty())
        return name;
    std::wstring upper(wide.size(), L'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), int(wide.size()), &upper[0],
                     int(upper.size())) != int(wide.size()))
        return utf8FromWide(wide);
    return utf8FromWide(upper);
}

std::string utf8Path(const std::string& path) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0) > 0)
        return path;
    return utf8FromWide(widePath(path));
}

bool fileIdentity(const std::string& path, FileIdentity* identity) {
    // Opened for no access at all, only to ask about it; folders need the
    // backup flag.
    HANDLE handle = CreateFileW(widePath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known)
        return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->file = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

bool fileWritten(const std::string& path, int64_t* written, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    *written = int64_t(uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 |
                       data.ftLastWriteTime.dwLowDateTime);
    *size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
}

#else

namespace {

constexpr int kEmptyFile = -2;

// Opens a regular file for reading, after emptying *file: its descriptor, or
// kEmptyFile (nothing left open) for an empty one, -1 when it cannot be
// opened or is not a regular file.
int openRegular(const char* path, MappedFile* file, size_t* size) {
    *file = MappedFile();
    int fd = open(hostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular || info.st_size == 0) {
        close(fd);
        return regular ? kEmptyFile : -1;
    }
    *size = size_t(info.st_size);
    return fd;
}

} // namespace

bool mapFile(const char* path, MappedFile* file) {
    size_t size = 0;
    int fd = openRegular(path, file, &size);
    if (fd < 0)
        return fd == kEmptyFile;
    // The mapping stays valid after the descriptor is closed.
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (view == MAP_FAILED)
        return false;
#ifdef MADV_POPULATE_READ
    // Every page is read: mapping them all at once is cheaper than one fault
    // per page.
    madvise(view, size, MADV_POPULATE_READ);
#endif
    file->data = static_cast<const unsigned char*>(view);
    file->size = size;
    return true;
}

void unmapFile(MappedFile* file) {
    if (file->data)
        munmap(const_cast<unsigned char*>(file->data), file->size);
    *file = MappedFile();
}

bool openInputFile(const char* path, InputFile* file) {
    *file = InputFile();
    int fd = open(hostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    file->handle = fd;
    file->size = uint64_t(info.st_size);
    return true;
}

size_t readInput(InputFile* file, unsigned char* data, size_t bytes) {
    if (file->handle < 0)
        return 0;
    while (true) {
        ssize_t n = read(int(file->handle), data, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 ? size_t(n) : 0;
    }
}

void closeInputFile(InputFile* file) {
    if (file->handle >= 0)
        close(int(file->handle));
    *file = InputFile();
}

void preferLargePages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
    // The advice goes to whole small pages; a large page is used where one
    // fits in the memory so marked.
    uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t begin = uintptr_t(data) & ~(page - 1);
    uintptr_t end = (uintptr_t(data) + bytes + page - 1) & ~(page - 1);
    if (bytes < kLargePageBytes / 2)
        return;
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    // Where the allocator has already written its own bytes, a small page is
    // in place and no large one would come at the first touch: such parts
    // are made large pages now (since Linux 6.1; older ones refuse).
    const int kCollapse = 25; // MADV_COLLAPSE
    madvise(reinterpret_cast<void*>(begin), end - begin, kCollapse);
#else
    (void)data;
    (void)bytes;
#endif
}

void populatePages(void* data, size_t bytes) {
    uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    if (bytes < 16 * page)
        return;
    uintptr_t begin = uintptr_t(data) & ~(page - 1);
    uintptr_t end = (uintptr_t(data) + bytes + page - 1) & ~(page - 1);
    // Since Linux 5.14; older ones refuse, and the pages come as they are
    // touched.
    const int kPopulateWrite = 23; // MADV_POPULATE_WRITE
    madvise(reinterpret_cast<void*>(begin), end - begin, kPopulateWrite);
}

std::string programPath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

PathKind pathKind(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return PathKind::missing;
    return S_ISREG(info.st_mode)   ? PathKind::file
           : S_ISDIR(info.st_mode) ? PathKind::folder
                                   : PathKind::other;
}

bool listFolder(const std::string& folder, std::vector<std::string>* names) {
    names->clear();
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            names->push_back(name);
    }
    closedir(dir);
    return true;
}

std::string foldedName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return folded;
}

std::string utf8Path(const std::string& path) {
    return path;
}

bool fileIdentity(const std::string& path, FileIdentity* identity) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    identity->volume = uint64_t(info.st_dev);
    identity->file = uint64_t(info.st_ino);
    return true;
}

bool fileWritten(const std::string& path, int64_t* written, uint64_t* size) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    // Nanoseconds, so that two saves within one second differ.
    *written = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    *size = uint64_t(info.st_size);
    return true;
}

#endif
