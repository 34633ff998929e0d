// bmp-inspect: shows what a bitmap file's headers say and whether the
// program's decoder takes it, and can write the decoded pixels out.
//
//   bmp-inspect [--raw OUT] [--ppm OUT] FILE
//
// --raw writes the decoded pixel block exactly as the decoder returns it
// (width x height x 3 bytes, bottom row first); --ppm writes a viewable
// binary PPM (top row first). Exit status: 0 decoded, 1 refused, 2 bad usage.

#include "bitmap_image.h"
#include "file_access.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage() {
    fprintf(stderr, "usage: bmp-inspect [--raw OUT] [--ppm OUT] FILE\n");
    return 2;
}

const char* compressionName(uint32_t compression) {
    switch (compression) {
    case 0:
        return "none";
    case 1:
        return "run-length, 8 bits";
    case 2:
        return "run-length, 4 bits";
    case 3:
        return "bit fields";
    case 4:
        return "JPEG";
    case 5:
        return "PNG";
    case 6:
        return "bit fields with alpha";
    default:
        return "unknown";
    }
}

void describe(const MappedFile& file, const BitmapLayout& layout, bool complete) {
    printf("size:          %zu bytes\n", file.size);
    if (file.size < 2)
        return;
    printf("kind:          %s\n", layout.fileHeader ? "file header (\"BM\")" : "bare DIB");
    if (layout.headerSize == 0 && !complete)
        return;
    printf("info header:   %u bytes%s\n", layout.headerSize,
           layout.headerSize == 40   ? ""
           : layout.headerSize == 12 ? " (core)"
                                     : " (unknown)");
    if (layout.headerSize != 40 && layout.headerSize != 12)
        return;
    printf("width:         %d\n", layout.width);
    printf("height:        %d%s\n", layout.height, layout.height < 0 ? " (rows top down)" : "");
    printf("planes:        %u\n", layout.planes);
    printf("bits/pixel:    %u\n", layout.bitCount);
    printf("compression:   %u (%s)\n", layout.compression, compressionName(layout.compression));
    if (layout.hasMasks)
        printf("masks:         red 0x%08X, green 0x%08X, blue 0x%08X\n", layout.masks[0],
               layout.masks[1], layout.masks[2]);
    printf("colour table:  %u entries of %d bytes at byte %zu\n", layout.colorTableLength,
           layout.colorEntrySize, layout.colorTableOffset);
    if (!complete) {
        printf("headers:       do not fit in the file\n");
        return;
    }
    printf("image size:    %u bytes\n", layout.imageSize);
    printf("pixel data:    at byte %llu", (unsigned long long)layout.pixelOffset);
    if (layout.pixelOffset <= file.size)
        printf(", %llu bytes to the end of the file\n",
               (unsigned long long)(file.size - layout.pixelOffset));
    else
        printf(", past the end of the file\n");
}

bool writeFile(const char* path, const char* header, const RgbImage& image, bool topFirst) {
    FILE* out = fopen(path, "wb");
    if (!out) {
        fprintf(stderr, "bmp-inspect: cannot write %s\n", path);
        return false;
    }
    size_t row = size_t(image.width) * 3;
    bool ok = fputs(header, out) >= 0;
    for (int i = 0; ok && i < image.height; ++i) {
        int r = topFirst ? image.height - 1 - i : i;
        ok = fwrite(image.pixels + row * size_t(r), 1, row, out) == row;
    }
    if (fclose(out) != 0 || !ok) {
        fprintf(stderr, "bmp-inspect: cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const char* rawPath = nullptr;
    const char* ppmPath = nullptr;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--raw") == 0 || strcmp(argv[i], "--ppm") == 0) {
            const char*& target = argv[i][2] == 'r' ? rawPath : ppmPath;
            if (target || i + 1 >= argc)
                return usage();
            target = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (path) {
            return usage();
        } else {
            path = argv[i];
        }
    }
    if (!path)
        return usage();

    printf("file:          %s\n", path);
    MappedFile file;
    if (!mapFile(path, &file) || file.size == 0) {
        unmapFile(&file);
        printf("verdict:       refused: Failed to open DIB file %s.\n", path);
        return 1;
    }
    BitmapLayout layout;
    bool complete = readBitmapLayout(file.data, file.size, &layout);
    describe(file, layout, complete);

    const char* message = nullptr;
    RgbImage* image = decodeBitmapQuietly(file.data, file.size, &message);
    unmapFile(&file);
    if (!image) {
        printf("verdict:       refused: %s\n", message);
        return 1;
    }
    printf("verdict:       decoded, %d x %d\n", image->width, image->height);
    bool ok = true;
    if (rawPath)
        ok = writeFile(rawPath, "", *image, false) && ok;
    if (ppmPath) {
        std::string header =
            "P6\n" + std::to_string(image->width) + " " + std::to_string(image->height) + "\n255\n";
        ok = writeFile(ppmPath, header.c_str(), *image, true) && ok;
    }
    free(image->pixels);
    free(image);
    return ok ? 0 : 1;
}
