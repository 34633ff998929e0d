#include "image_file.h"

#include "bitmap_image.h"
#include "file_access.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stb_image.h>
#include <stb_image_write.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

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

bool fail(std::string* reason, const std::string& text) {
    if (reason)
        *reason = text;
    return false;
}

bool anyTransparent(const unsigned char* rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; i++) {
        if (rgba[i * 4 + 3] != 255)
            return true;
    }
    return false;
}

bool decodeWithStb(const unsigned char* data, size_t size, const char* format, Picture* picture,
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

    // Grey with alpha (2) and colour with alpha (4) are decoded with their
    // alpha, the rest as red, green, blue.
    int wanted = channels == 2 || channels == 4 ? 4 : 3;
    unsigned char* decoded = stbi_load_from_memory(data, len, &width, &height, &channels, wanted);
    if (!decoded)
        return fail(reason, std::string(format) + ": " + stbi_failure_reason());
    size_t count = size_t(width) * size_t(height);
    // A picture whose alpha is opaque everywhere is an ordinary one.
    int kept = wanted == 4 && anyTransparent(decoded, count) ? 4 : 3;
    size_t row = size_t(width) * size_t(kept);
    picture->width = width;
    picture->height = height;
    picture->channels = kept;
    picture->pixels.resize(row * size_t(height));
    // stb_image gives the top row first; our pictures start at the bottom.
    for (int y = 0; y < height; y++) {
        const unsigned char* from =
            decoded + size_t(height - 1 - y) * size_t(width) * size_t(wanted);
        unsigned char* to = picture->pixels.data() + size_t(y) * row;
        if (kept == wanted) {
            std::memcpy(to, from, row);
            continue;
        }
        for (int x = 0; x < width; x++)
            std::memcpy(to + size_t(x) * 3, from + size_t(x) * 4, 3);
    }
    stbi_image_free(decoded);
    return true;
}

bool decodeBitmap(const unsigned char* data, size_t size, Picture* picture, std::string* reason) {
    const char* message = nullptr;
    RgbImage* image = decodeBitmapQuietly(data, size, &message);
    if (!image)
        return fail(reason, std::string("BMP: ") + (message ? message : "does not decode"));
    if (!image->pixels || image->width <= 0 || image->height <= 0) {
        std::free(image->pixels);
        std::free(image);
        return fail(reason, "no pixels");
    }
    picture->width = image->width;
    picture->height = image->height;
    picture->channels = 3;
    const unsigned char* pixels = image->pixels;
    picture->pixels.assign(pixels, pixels + size_t(image->width) * size_t(image->height) * 3);
    std::free(image->pixels);
    std::free(image);
    return true;
}

} // namespace

bool decodePictureBytes(const unsigned char* data, size_t size, const char* name, Picture* picture,
                        std::string* reason) {
    if (!data || size == 0)
        return fail(reason, "empty file");
    if (startsWith(data, size, "\x89PNG\r\n\x1a\n", 8))
        return decodeWithStb(data, size, "PNG", picture, reason);
    if (startsWith(data, size, "\xFF\xD8\xFF", 3))
        return decodeWithStb(data, size, "JPEG", picture, reason);
    // TGA files have no signature; exporters always name them .tga.
    if (hasTgaExtension(name))
        return decodeWithStb(data, size, "TGA", picture, reason);
    return decodeBitmap(data, size, picture, reason);
}

bool loadPictureFile(const char* path, Picture* picture, std::string* reason) {
    MappedFile file;
    if (!mapFile(path, &file))
        return fail(reason, "cannot open");
    bool decoded = decodePictureBytes(file.data, file.size, path, picture, reason);
    unmapFile(&file);
    return decoded;
}

namespace {

void writeToFile(void* context, void* data, int size) {
    // A failed write leaves the file's error flag set, which the caller reads.
    if (size > 0)
        std::fwrite(data, 1, size_t(size), static_cast<FILE*>(context));
}

} // namespace

PngWrite writeNewPngFile(const char* path, const Picture& picture, std::string* reason) {
    size_t row = size_t(picture.width) * size_t(picture.channels);
    if (picture.width <= 0 || picture.height <= 0 || picture.channels < 1 || picture.channels > 4 ||
        picture.pixels.size() != row * size_t(picture.height)) {
        fail(reason, "no picture");
        return PngWrite::failed;
    }
    std::string name = hostPath(path);
    // Made only when it is not there yet, in one step, so that no file is
    // ever overwritten.
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY, 0644);
    if (fd < 0) {
        if (errno == EEXIST)
            return PngWrite::exists;
        fail(reason, std::strerror(errno));
        return PngWrite::failed;
    }
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        fail(reason, std::strerror(errno));
        close(fd);
        std::remove(name.c_str());
        return PngWrite::failed;
    }
    // Our pictures start at the bottom; PNG files at the top.
    stbi_flip_vertically_on_write(1);
    bool encoded = stbi_write_png_to_func(writeToFile, file, picture.width, picture.height,
                                          picture.channels, picture.pixels.data(), int(row)) != 0;
    bool written = !std::ferror(file);
    if (std::fclose(file) != 0 || !encoded || !written) {
        fail(reason, encoded ? "cannot write the file" : "cannot encode the picture");
        std::remove(name.c_str());
        return PngWrite::failed;
    }
    return PngWrite::written;
}
