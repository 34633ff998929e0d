#include "bitmap_image.h"

#include "file_access.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kUnknownFormat = "Unknown DIB file format.";
const char* const kOutOfMemory = "Out of memory.";
const char* const kConversionError = "Image file conversion error.";

// The switch for error messages; the only thing that outlives a call.
bool messagesOn = true;

// No decoded picture may be bigger than this; larger headers are refused
// before anything is allocated. Run-length data can describe a picture of
// any size in a few bytes (an end of bitmap leaves the rest black), so this
// cap is also what bounds such a file's cost.
const uint64_t kMaxPixelBytes = uint64_t(1) << 30;

const uint32_t kRgb = 0;
const uint32_t kRle8 = 1;
const uint32_t kRle4 = 2;
const uint32_t kBitFields = 3;

void showError(const char* text) {
    if (!messagesOn)
        return;
    // Texts that carry their own line break end the line with it.
    size_t length = strlen(text);
    bool ownBreak = length > 0 && text[length - 1] == '\n';
    fprintf(stderr, "Error: %s%s", text, ownBreak ? "" : "\n");
}

// True when length bytes starting at offset lie inside size bytes.
bool fits(uint64_t offset, uint64_t length, size_t size) {
    return offset <= size && length <= size - offset;
}

uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t colorsForDepth(uint16_t bitCount) {
    return bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
}

// The colour table as red, green, blue; indices the table does not reach
// stay black.
struct Palette {
    unsigned char rgb[256][3];
    // The same colours as red, green, blue and a zero, four bytes each.
    uint32_t packed[256];
};

void readPalette(const unsigned char* data, const BitmapLayout& layout, Palette* palette) {
    memset(palette, 0, sizeof *palette);
    int count = layout.colorTableLength < 256 ? layout.colorTableLength : 256;
    const unsigned char* entry = data + layout.colorTableOffset;
    for (int i = 0; i < count; ++i, entry += layout.colorEntrySize) {
        unsigned char bytes[4] = {entry[2], entry[1], entry[0], 0};
        memcpy(palette->rgb[i], bytes, 3);
        memcpy(&palette->packed[i], bytes, 4);
    }
}

// One colour channel of a 16- or 32-bit pixel, taken out by its mask and
// widened to 8 bits by repeating its bits from the top.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    unsigned char of(uint32_t pixel) const {
        uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8)
            return (unsigned char)(v >> (bits - 8));
        if (bits == 0)
            return 0;
        uint32_t top = v << (8 - bits);
        uint32_t out = top;
        for (int s = bits; s < 8; s += bits)
            out |= top >> s;
        return (unsigned char)out;
    }
};

// False for a mask whose bits are not one unbroken run inside the pixel.
bool makeChannel(uint32_t mask, int pixelBits, Channel* channel) {
    *channel = Channel();
    if (mask == 0)
        return true;
    if (pixelBits < 32 && (mask >> pixelBits) != 0)
        return false;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    uint32_t run = mask >> shift;
    if ((run & (run + 1)) != 0)
        return false;
    int bits = 0;
    while (bits < 32 && ((run >> bits) & 1))
        ++bits;
    *channel = Channel{mask, shift, bits};
    return true;
}

void rowIndexed(const unsigned char* src, int width, int bitCount, const Palette& palette,
                unsigned char* out) {
    if (bitCount == 8) {
        // Four bytes are stored per pixel, the fourth overwritten by the next
        // pixel; the row's last pixel is stored alone so that nothing lands
        // past the row.
        int x = 0;
        for (; x + 1 < width; ++x, out += 3)
            memcpy(out, &palette.packed[src[x]], 4);
        memcpy(out, palette.rgb[src[x]], 3);
        return;
    }
    // Pixels are packed from the most significant bit of each byte.
    int perByte = 8 / bitCount;
    unsigned mask = (1u << bitCount) - 1;
    for (int x = 0; x < width; ++x, out += 3) {
        int shift = 8 - bitCount * (x % perByte + 1);
        memcpy(out, palette.rgb[(src[x / perByte] >> shift) & mask], 3);
    }
}

void row24(const unsigned char* src, int width, unsigned char* out) {
    // On a little-endian machine each pixel is read and written as four
    // bytes: the byte after it is still inside the row for every pixel but
    // the last, and the fourth byte written is overwritten by the next pixel.
    // A byte swap turns blue, green, red into red, green, blue.
    int x = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; x + 1 < width; ++x, src += 3, out += 3) {
        uint32_t v;
        memcpy(&v, src, 4);
        v = __builtin_bswap32(v) >> 8;
        memcpy(out, &v, 4);
    }
#endif
    for (; x < width; ++x, src += 3, out += 3) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
    }
}

// 16- and 32-bit pixels, each channel taken out by its mask.
void rowMasked(const unsigned char* src, int width, int bitCount, const Channel* rgb,
               unsigned char* out) {
    int step = bitCount / 8;
    for (int x = 0; x < width; ++x, src += step, out += 3) {
        uint32_t pixel = step == 2 ? le16(src) : le32(src);
        out[0] = rgb[0].of(pixel);
        out[1] = rgb[1].of(pixel);
        out[2] = rgb[2].of(pixel);
    }
}

// Decodes run-length data (8-bit or 4-bit) into a zeroed pixel block. Pixels
// that fall outside the picture are dropped; the data must finish the picture,
// by an end of bitmap or by moving past its top row, before it runs out.
bool decodeRunLength(const unsigned char* data, size_t size, int width, int height, bool fourBit,
                     const Palette& palette, unsigned char* out) {
    size_t pos = 0;
    int64_t x = 0;
    int64_t y = 0;
    auto put = [&](unsigned colour) {
        if (x < width && y < height)
            memcpy(out + (size_t(y) * size_t(width) + size_t(x)) * 3, palette.rgb[colour], 3);
        ++x;
    };
    while (y < height) {
        if (size - pos < 2)
            return false;
        unsigned count = data[pos];
        unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            // An encoded run repeats one index (or, at 4 bits, two in turn).
            unsigned pair[2] = {fourBit ? value >> 4 : value, fourBit ? value & 15 : value};
            for (unsigned k = 0; k < count && x < width; ++k)
                put(pair[k & 1]);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (size - pos < 2)
                return false;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {
            // An absolute run: value indices follow, padded to a whole
            // 16-bit word.
            size_t bytes = fourBit ? (value + 1) / 2 : value;
            if (size - pos < bytes)
                return false;
            const unsigned char* run = data + pos;
            for (unsigned k = 0; k < value && x < width; ++k)
                put(fourBit ? (run[k / 2] >> (k & 1 ? 0 : 4)) & 15 : run[k]);
            pos += bytes;
            if ((bytes & 1) && pos < size)
                ++pos;
        }
    }
    return true;
}

// The open-failure text, formatted into 256 characters like the message
// buffer it was made for. A name too long for it is cut at a character
// boundary and marked with "...".
void reportOpenFailure(std::string name) {
    static const char prefix[] = "Failed to open DIB file ";
    static const char suffix[] = ".\n";
    char text[256];
    size_t room = sizeof text - 1 - (sizeof prefix - 1) - (sizeof suffix - 1);
    if (name.size() > room) {
        size_t cut = room - 3;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name = name.substr(0, cut) + "...";
    }
    snprintf(text, sizeof text, "%s%s%s", prefix, name.c_str(), suffix);
    showError(text);
}

} // namespace

bool readBitmapLayout(const unsigned char* data, size_t size, BitmapLayout* layout) {
    *layout = BitmapLayout();
    BitmapLayout& l = *layout;
    size_t info = 0;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        l.fileHeader = true;
        if (size < 14)
            return false;
        l.pixelOffset = le32(data + 10);
        info = 14;
    }
    if (!fits(info, 4, size))
        return false;
    l.headerSize = le32(data + info);
    const unsigned char* h = data + info;
    uint64_t table;
    if (l.headerSize == 40) {
        if (!fits(info, 40, size))
            return false;
        l.width = int32_t(le32(h + 4));
        l.height = int32_t(le32(h + 8));
        l.planes = le16(h + 12);
        l.bitCount = le16(h + 14);
        l.compression = le32(h + 16);
        l.imageSize = le32(h + 20);
        l.xPelsPerMeter = int32_t(le32(h + 24));
        l.yPelsPerMeter = int32_t(le32(h + 28));
        l.colorsUsed = le32(h + 32);
        l.colorsImportant = le32(h + 36);
        // Only the low 16 bits of a colours-used count matter.
        l.colorTableLength =
            l.colorsUsed != 0 ? uint16_t(l.colorsUsed & 0xFFFF) : colorsForDepth(l.bitCount);
        table = info + 40;
        // A bit-field file keeps its three masks between the header and the
        // colour table.
        if (l.compression == kBitFields && (l.bitCount == 16 || l.bitCount == 32)) {
            if (!fits(table, 12, size))
                return false;
            l.hasMasks = true;
            for (int c = 0; c < 3; ++c)
                l.masks[c] = le32(data + table + 4 * c);
            table += 12;
        }
    } else if (l.headerSize == 12) {
        if (!fits(info, 12, size))
            return false;
        l.width = le16(h + 4);
        l.height = le16(h + 6);
        l.planes = le16(h + 8);
        l.bitCount = le16(h + 10);
        l.colorTableLength = colorsForDepth(l.bitCount);
        l.colorsUsed = l.colorsImportant = l.colorTableLength;
        l.colorEntrySize = 3;
        table = info + 12;
    } else {
        return false;
    }
    // The 32-bit field keeps the low 32 bits of the size, whatever the
    // header's values; the product is taken unsigned so that it wraps there
    // instead of overflowing (the row's byte count itself fits in 48 bits).
    if (l.imageSize == 0)
        l.imageSize =
            uint32_t(uint64_t((int64_t(l.bitCount) * l.width + 7) / 8) * uint64_t(l.height));
    if (l.colorsUsed == 0)
        l.colorsUsed = l.colorTableLength;
    l.colorTableOffset = size_t(table);
    uint64_t tableBytes = uint64_t(l.colorTableLength) * uint64_t(l.colorEntrySize);
    if (!fits(table, tableBytes, size))
        return false;
    if (!l.fileHeader)
        l.pixelOffset = table + tableBytes;
    return true;
}

RgbImage* decodeBitmapQuietly(const unsigned char* data, size_t size, const char** message) {
    const char* unused;
    const char*& why = message ? *message : unused;
    why = nullptr;
    auto fail = [&why](const char* text) -> RgbImage* {
        why = text;
        return nullptr;
    };
    BitmapLayout layout;
    if (!data || !readBitmapLayout(data, size, &layout))
        return fail(kUnknownFormat);

    int64_t width = layout.width;
    int64_t height = layout.height;
    bool topDown = height < 0;
    if (topDown)
        height = -height;
    int bitCount = layout.bitCount;
    uint32_t compression = layout.compression;
    bool runLength = compression == kRle8 || compression == kRle4;
    // The masks are read only for 16 and 32 bits. Run-length data is always
    // stored from the bottom row up.
    bool knownDepth = colorsForDepth(uint16_t(bitCount)) != 0 || bitCount == 16 || bitCount == 24 ||
                      bitCount == 32;
    bool supported = (compression == kRgb && knownDepth) ||
                     (compression == kRle8 && bitCount == 8 && !topDown) ||
                     (compression == kRle4 && bitCount == 4 && !topDown) ||
                     (compression == kBitFields && layout.hasMasks);
    if (width <= 0 || height <= 0 || !supported)
        return fail(kConversionError);
    // Without masks a 16-bit pixel is 5-5-5 and a 32-bit one blue, green, red
    // and a byte that is ignored.
    static const uint32_t defaultMasks[2][3] = {{0x7C00, 0x03E0, 0x001F}, {0xFF0000, 0xFF00, 0xFF}};
    Channel channels[3];
    if (bitCount == 16 || bitCount == 32) {
        const uint32_t* masks = layout.hasMasks ? layout.masks : defaultMasks[bitCount == 32];
        for (int c = 0; c < 3; ++c)
            if (!makeChannel(masks[c], bitCount, &channels[c]))
                return fail(kConversionError);
    }
    uint64_t pixelBytes = uint64_t(width) * uint64_t(height) * 3;
    if (pixelBytes > kMaxPixelBytes)
        return fail(kOutOfMemory);
    // Uncompressed rows are padded to 4 bytes and must all be there.
    uint64_t stride = (uint64_t(bitCount) * uint64_t(width) + 31) / 32 * 4;
    uint64_t offset = layout.pixelOffset;
    if (!fits(offset, runLength ? 0 : stride * uint64_t(height), size))
        return fail(kConversionError);

    Palette palette;
    if (bitCount <= 8)
        readPalette(data, layout, &palette);
    // Run-length data may skip pixels, which stay black; every other kind
    // writes every byte.
    unsigned char* pixels = static_cast<unsigned char*>(runLength ? calloc(size_t(pixelBytes), 1)
                                                                  : malloc(size_t(pixelBytes)));
    if (!pixels)
        return fail(kOutOfMemory);
    int w = int(width);
    int h = int(height);
    if (runLength) {
        if (!decodeRunLength(data + offset, size - size_t(offset), w, h, compression == kRle4,
                             palette, pixels)) {
            free(pixels);
            return fail(kConversionError);
        }
    } else {
        for (int i = 0; i < h; ++i) {
            const unsigned char* src = data + offset + size_t(stride) * size_t(i);
            // Rows keep the file's order; a top-down file is turned so that
            // its bottom row comes first like in every other file.
            unsigned char* out = pixels + size_t(width) * 3 * size_t(topDown ? h - 1 - i : i);
            if (bitCount <= 8)
                rowIndexed(src, w, bitCount, palette, out);
            else if (bitCount == 24)
                row24(src, w, out);
            else
                rowMasked(src, w, bitCount, channels, out);
        }
    }

    RgbImage* image = static_cast<RgbImage*>(malloc(sizeof(RgbImage)));
    if (!image) {
        free(pixels);
        return fail(kOutOfMemory);
    }
    *image = RgbImage{w, h, pixels};
    return image;
}

RgbImage* decodeBitmapBytes(const unsigned char* data, size_t size) {
    const char* message = nullptr;
    RgbImage* image = decodeBitmapQuietly(data, size, &message);
    if (!image)
        showError(message);
    return image;
}

RgbImage* decodeBitmapFile(const void* path, bool wide) {
    std::string name;
    if (path && wide) {
        const char16_t* units = static_cast<const char16_t*>(path);
        name = utf8FromUtf16(units, std::char_traits<char16_t>::length(units));
    } else if (path) {
        name = static_cast<const char*>(path);
    }
    MappedFile file;
    // An empty file cannot be mapped: it is an open failure like a missing one.
    if (!path || !mapFile(name.c_str(), &file) || file.size == 0) {
        unmapFile(&file);
        reportOpenFailure(name);
        return nullptr;
    }
    RgbImage* image = decodeBitmapBytes(file.data, file.size);
    unmapFile(&file);
    return image;
}

RgbImage* loadBitmapImage(const char* path) {
    return decodeBitmapFile(path, false);
}

RgbImage* loadBitmapImageWide(const char16_t* path) {
    return decodeBitmapFile(path, true);
}

void setErrorMessages(bool on) {
    messagesOn = on;
}
