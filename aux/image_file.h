#pragma once

#include "bitmap_image.h"

#include <cstddef>
#include <string>

// Pictures in the formats that exporters name in their materials: BMP/DIB
// through our own decoder, TGA, PNG and JPEG through stb_image. Every result
// is an RgbImage like the bitmap decoder's: packed red, green, blue bytes,
// rows from the bottom of the picture up, malloc'd record and pixels.

// Decodes a whole file held in memory; name (the file's name) picks TGA by
// its extension, the other formats are told by their first bytes. Null on
// failure, with a short reason in *reason; nothing is printed.
RgbImage* decodeImageBytes(const unsigned char* data, size_t size, const char* name,
                           std::string* reason);

// Maps the file at path (backslashes are directory separators) and decodes
// it as above. A file that cannot be opened gives the reason "cannot open".
RgbImage* loadImageFile(const char* path, std::string* reason);

// Releases a result of the two functions above (or of the bitmap decoder).
void freeImage(RgbImage* image);
