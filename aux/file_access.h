#pragma once

#include <cstddef>
#include <string>

// The program names its files the way its data was authored, with a backslash
// as the directory separator ("data\robot.ase"). On this system the backslash
// is mapped to '/' when a file is opened; messages keep the name as given.
std::string hostPath(const char* path);

// UTF-16 code units as UTF-8, for wide file names and UTF-16 text files. A
// surrogate without its partner becomes U+FFFD.
std::string utf8FromUtf16(const char16_t* units, size_t count);

// A whole file mapped read-only. An empty file opens with size 0 and no data.
struct MappedFile {
    const unsigned char* data = nullptr;
    size_t size = 0;
    int fd = -1;
};

// Opens and maps the file at path (after hostPath). False when it cannot be
// opened, examined or mapped; nothing is left open then.
bool mapFile(const char* path, MappedFile* file);
// Unmaps and closes; safe on a file that never opened.
void unmapFile(MappedFile* file);

// For a file that is about to be read whole: has the system map all its pages
// at once, which is cheaper than one fault per page. Does nothing where the
// system offers no such thing.
void prefetchMappedFile(const MappedFile& file);
