#include "image_file.h"

#include "file_access.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stb_image.h>

namespace {

// A picture may hold at most 64 mebipixels, and no more pixel bytes than a
// packed file of its size could plausibly expand to (deflate reaches about
// 1:1032, run-length TGA and flat JPEG less): a small file cannot ask for
// gigabytes. stb_image is asked for the size first and decodes only within
// these limits.
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;
constexpr uint64_t kExpansionPerByte = 2048;
constexpr uint64_t kExpansionAllowance = uint64_t(1) << 20;

bool startsWith(const unsigned char* data, size_t size, const char* magic, size_t length) {
    return size >= length && std::memcmp(data, magic, length) == 0;
}

bool hasTgaExtension(const char* name) {
    size_t length = name ? std::strlen(name) : 0;
    if (length < 4 || name[length - 4] != '.')
        return false;
    const char* ext = name + length - 3;
    return (ext[0] | 0x20) == 't' && (ext[1] | 0x20) == 'g' && (ext[2] | 0x20) == 'a';
}

RgbImage* fail(std::string* reason, const std::string& text) {
    if (reason)
        *reason = text;
    return nullptr;
}

RgbImage* decodeWithStb(const unsigned char* data, size_t size, const char* format,
                        std::string* reason) {
    if (size > size_t(INT_MAX))
        return fail(reason, std::string(format) + ": file too large");
    int len = int(size), width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, len, &width, &height, &channels))
        return fail(reason, std::string(format) + ": " + stbi_failure_reason());
    uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (width <= 0 || height <= 0 || pixels > kMaxPixels ||
        pixels * 3 > uint64_t(size) * kExpansionPerByte + kExpansionAllowance)
        return fail(reason, std::string(format) + ": picture of " + std::to_string(width) + "x" +
                                std::to_string(height) + " pixels is too large for its file");

    unsigned char* decoded = stbi_load_from_memory(data, len, &width, &height, &channels, 3);
    if (!decoded)
        return fail(reason, std::string(format) + ": " + stbi_failure_reason());
    size_t row = size_t(width) * 3;
    auto* image = static_cast<RgbImage*>(std::malloc(sizeof(RgbImage)));
    auto* flipped = static_cast<unsigned char*>(std::malloc(row * size_t(height)));
    if (!image || !flipped) {
        std::free(image);
        std::free(flipped);
        stbi_image_free(decoded);
        return fail(reason, "out of memory");
    }
    // stb_image gives the top row first; our pictures start at the bottom.
    for (int y = 0; y < height; y++)
        std::memcpy(flipped + size_t(y) * row, decoded + size_t(height - 1 - y) * row, row);
    stbi_image_free(decoded);
    *image = RgbImage{width, height, flipped};
    return image;
}

} // namespace

RgbImage* decodeImageBytes(const unsigned char* data, size_t size, const char* name,
                           std::string* reason) {
    if (!data || size == 0)
        return fail(reason, "empty file");
    if (startsWith(data, size, "\x89PNG\r\n\x1a\n", 8))
        return decodeWithStb(data, size, "PNG", reason);
    if (startsWith(data, size, "\xFF\xD8\xFF", 3))
        return decodeWithStb(data, size, "JPEG", reason);
    // TGA files have no signature; exporters always name them .tga.
    if (hasTgaExtension(name))
        return decodeWithStb(data, size, "TGA", reason);

    const char* message = nullptr;
    RgbImage* image = decodeBitmapQuietly(data, size, &message);
    if (!image)
        return fail(reason, std::string("BMP: ") + (message ? message : "does not decode"));
    return image;
}

RgbImage* loadImageFile(const char* path, std::string* reason) {
    MappedFile file;
    if (!mapFile(path, &file))
        return fail(reason, "cannot open");
    RgbImage* image = decodeImageBytes(file.data, file.size, path, reason);
    unmapFile(&file);
    return image;
}

void freeImage(RgbImage* image) {
    if (image)
        std::free(image->pixels);
    std::free(image);
}
