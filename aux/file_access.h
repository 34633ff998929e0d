#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// A whole file mapped read-only. An empty file opens with size 0 and no
// data.
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

// A file read from start to end in pieces, into memory the reader keeps
// using, so that a large file costs no more memory than a piece of it. For a
// large file that one pass reads this also costs less than mapping it, where
// the first touch of each mapped page is dear (under some virtual machines
// many times the copy).
struct InputFile {
    // The system's handle; -1 while closed.
    intptr_t handle = -1;
    // Its size when it was opened.
    uint64_t size = 0;
};
// Opens the regular file at path (after hostPath). False when it cannot be
// opened or is no regular file; nothing is left open then.
bool openInputFile(const char* path, InputFile* file);
// Reads up to bytes into data: how many were read, 0 at the end of the file
// and when it cannot be read further.
size_t readInput(InputFile* file, unsigned char* data, size_t bytes);
// Safe on a file that never opened.
void closeInputFile(InputFile* file);

// Asks the system to back the memory at data (bytes long, about to be
// written) with large pages where it has them: the first touch of each small
// page costs a fault, and many thousands of them cost more than reading a
// model. The pages the range shares with others are marked too: it is only a
// hint. Ranges under half a large page are left alone.
void preferLargePages(void* data, size_t bytes);
// Has the system map the small pages of the memory at data (bytes long,
// about to be written) in one call, not one fault at a time as they are first
// touched. Ranges under 16 small pages are left alone.
void populatePages(void* data, size_t bytes);
// The size of those pages where the system has them.
constexpr size_t kLargePageBytes = size_t(2) << 20;

// The full path of the running program, or "" when the system does not say.
std::string programPath();

// The functions below take paths of this system as they stand (hostPath
// already applied). On Windows a path that is valid UTF-8 is taken as UTF-8
// and any other as the system's code page, as mapFile does; names they give
// back are UTF-8.

enum class PathKind { missing, file, folder, other };
// What is at path, links followed.
PathKind pathKind(const std::string& path);

// The names of the entries of folder, without "." and "..", in no
// particular order. False when it cannot be listed.
bool listFolder(const std::string& folder, std::vector<std::string>* names);

// A file name in the form in which names equal ignoring case are the same:
// on Linux with ASCII letters in lower case (its file systems tell case
// apart; the program matches ignoring case on the user's behalf), on Windows
// with every letter in upper case, as its file systems compare names.
std::string foldedName(const std::string& name);

// A path as UTF-8: on Windows a path that is not valid UTF-8 is taken from
// the system's code page (command-line arguments, most model files); other
// systems' paths pass unchanged.
std::string utf8Path(const std::string& path);

// What tells a file from every other, whatever name or link reaches it: its
// device and inode on Linux, its volume and file index on Windows.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t file = 0;
    bool operator<(const FileIdentity& other) const {
        return volume != other.volume ? volume < other.volume : file < other.file;
    }
};
// False when the file cannot be examined.
bool fileIdentity(const std::string& path, FileIdentity* identity);

// When the file at path was last written (in the system's own units) and
// how long it is. False when it cannot be examined.
bool fileWritten(const std::string& path, int64_t* written, uint64_t* size);
