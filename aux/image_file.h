#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Pictures in the formats that exporters name in their materials: BMP/DIB
// through our own decoder, TGA, PNG and JPEG through stb_image.

// A decoded picture: width x height pixels, rows from the bottom of the
// picture up, no padding. Each pixel is red, green, blue, and for channels 4
// an alpha (0 fully transparent, 255 fully opaque).
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<unsigned char> pixels;
};

// Decodes a whole file held in memory; name (the file's name) picks TGA by
// its extension, the other formats are told by their first bytes. A PNG or
// TGA with an alpha channel keeps it (channels 4) when at least one of its
// pixels is not fully opaque; every other picture, opaque ones with an
// alpha channel included, comes out as red, green, blue (channels 3). False
// on failure, with a short reason in *reason; nothing is printed.
bool decodePictureBytes(const unsigned char* data, size_t size, const char* name, Picture* picture,
                        std::string* reason);

// Maps the file at path (backslashes are directory separators) and decodes
// it as above. A file that cannot be opened gives the reason "cannot open".
bool loadPictureFile(const char* path, Picture* picture, std::string* reason);

// Writing a picture, as the program's screenshots do.
enum class PngWrite { written, exists, failed };

// Writes the picture as a PNG file at path (backslashes are directory
// separators), only when no file of that name exists: an existing file is
// never overwritten (exists). failed, with a short reason in *reason, when
// the file cannot be made or written; a file begun is removed again.
PngWrite writeNewPngFile(const char* path, const Picture& picture, std::string* reason);
