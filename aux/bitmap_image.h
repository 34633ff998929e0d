#pragma once

#include <cstddef>
#include <cstdint>

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

// What a bitmap's headers say once they are read and normalised to the 40-byte
// info header: a 12-byte header's fields are widened, an image size of 0 is
// computed and a colours-used count of 0 becomes the colour-table length.
struct BitmapLayout {
    // The file starts with the 14-byte "BM" file header (else a bare DIB).
    bool fileHeader = false;
    // Size of the info header as the file gives it (12 and 40 are known).
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
    uint32_t colorsImportant = 0;
    // Number of colour-table entries, where they start, and their size:
    // 4 bytes (blue, green, red, reserved) or 3 for a 12-byte header.
    uint16_t colorTableLength = 0;
    size_t colorTableOffset = 0;
    int colorEntrySize = 4;
    // Red, green and blue masks of a bit-field file (compression 3).
    bool hasMasks = false;
    uint32_t masks[3] = {0, 0, 0};
    // Where the pixel data starts, counted from the start of the file.
    uint64_t pixelOffset = 0;
};

// Reads and normalises the headers. False when the info header's size is
// unknown or the headers (file header, info header, masks, colour table) do
// not fit in the bytes; the fields read so far are then filled in.
bool readBitmapLayout(const unsigned char* data, size_t size, BitmapLayout* layout);
// Decodes like decodeBitmapBytes but reports nothing: on failure it returns
// null and points message (when given) at the text that would be shown.
RgbImage* decodeBitmapQuietly(const unsigned char* data, size_t size, const char** message);
