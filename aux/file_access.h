#pragma once

#include <cstddef>
#include <string>

// The program names its files the way its data was authored, with a backslash
// as the directory separator ("data\robot.ase"). On Linux the backslash is
// mapped to '/' when a file is opened; on Windows names pass unchanged.
// Messages keep the name as given.
std::string hostPath(const char* path);

// The directory separator of this system's paths, and whether c separates
// directories in them (on Windows both '\' and '/' do).
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
inline bool isPathSeparator(char c) {
    return c == '/' || (kPathSeparator == '\\' && c == '\\');
}

// UTF-16 code units as UTF-8, for wide file names and UTF-16 text files. A
// surrogate without its partner becomes U+FFFD.
std::string utf8FromUtf16(const char16_t* units, size_t count);

// A whole file mapped read-only. An empty file opens with size 0 and no data.
struct MappedFile {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// Opens and maps the file at path (after hostPath), asking the system to read
// it in whole, since every reader goes through all of it. False when it cannot
// be opened, examined or mapped; nothing is left open then.
bool mapFile(const char* path, MappedFile* file);
// Unmaps; safe on a file that never opened.
void unmapFile(MappedFile* file);

// The full path of the running program, or "" when the system does not say.
std::string programPath();
