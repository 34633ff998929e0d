#pragma once

#include <cstddef>

// A decoded picture: width x height pixels as packed red, green, blue bytes,
// rows from the bottom of the picture up, no padding. The record and its
// pixels are malloc'd; the receiver frees pixels, then the record.
struct RgbImage {
    int width;
    int height;
    unsigned char* pixels;
};

// Decode a bitmap (DIB) file, with or without its "BM" file header. Null on
// any failure, which has then been reported on standard error as
// "Error: MESSAGE" unless messages are switched off.
RgbImage* loadBitmapImage(const char* path);
// The same for a UTF-16 file name.
RgbImage* loadBitmapImageWide(const char16_t* path);
// The body both entries share; path is a const char* or, when wide, a
// const char16_t*.
RgbImage* decodeBitmapFile(const void* path, bool wide);
// Decode bytes already in memory (the whole file). Reports like the above.
RgbImage* decodeBitmapBytes(const unsigned char* data, size_t size);
// Switch the decoder's error messages on (the start value) or off.
void setErrorMessages(bool on);
