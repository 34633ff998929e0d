#pragma once

#include "bitmap_image.h"

// Makes a mipmapped, linearly filtered texture from the bitmap file at path
// (backslashes are directory separators) and stores its name in *textureName.
// A file that is missing or does not decode ends the program with status 1.
// A null path does nothing.
void createTexture(const char* path, unsigned int* textureName);

// Makes a new mipmapped, linearly filtered texture from width x height
// tightly packed pixels, rows from the bottom up, of 3 (red, green, blue) or
// 4 (and alpha) channels, and stores its name in *textureName. The texture
// is left bound and texturing enabled.
void upload_texture(int width, int height, int channels, const unsigned char* pixels,
                    unsigned int* textureName);
