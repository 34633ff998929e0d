#include "bitmap_image.h"

#include "file_access.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const char* const kUnknownFormat = "Unknown DIB file format.";
const char* const kOutOfMemory = "Out of memory.";
const char* const kConversionError = "Image file conversion error.";

// The switch for error messages; the only thing that outlives a call.
bool messagesOn = true;

// No decoded picture may be bigger than this; larger headers are refused
// before anything is allocated.
const uint64_t kMaxPixelBytes = uint64_t(1) << 30;

// Run-length data can describe many pixels in few bytes (an end of bitmap
// leaves the rest black), so its picture is limited by the data it has.
const uint64_t kRunLengthPixelsPerByte = 1024;
const uint64_t kRunLengthMinPixels = uint64_t(1) << 20;

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
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
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
        palette->rgb[i][0] = entry[2];
        palette->rgb[i][1] = entry[1];
        palette->rgb[i][2] = entry[0];
    }
    for (int i = 0; i < 256; ++i) {
        unsigned char bytes[4] = {palette->rgb[i][0], palette->rgb[i][1], palette->rgb[i][2], 0};
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
    channel->mask = mask;
    channel->shift = shift;
    channel->bits = bits;
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

void row32(const unsigned char* src, int width, unsigned char* out) {
    for (int x = 0; x < width; ++x, src += 4, out += 3) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
    }
}

void rowMasked(const unsigned char* src, int width, int bitCount, const Channel* rgb,
               unsigned char* out) {
    for (int x = 0; x < width; ++x, out += 3) {
        uint32_t pixel;
        if (bitCount == 16) {
            pixel = le16(src);
            src += 2;
        } else {
            pixel = le32(src);
            src += 4;
        }
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
    auto index = [fourBit](const unsigned char* bytes, int k) -> unsigned {
        if (!fourBit)
            return bytes[k];
        unsigned b = bytes[k / 2];
        return (k & 1) ? (b & 15) : (b >> 4);
    };
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
            unsigned pair[2] = {value, value};
            if (fourBit) {
                pair[0] = value >> 4;
                pair[1] = value & 15;
            }
            for (unsigned k = 0; k < count && x < width; ++k)
                put(pair[k & 1]);
            continue;
        }
        if (value == 0) {
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
                put(index(run, int(k)));
            pos += bytes;
            if ((bytes & 1) && pos < size)
                ++pos;
        }
    }
    return true;
}

// Gives the pages of a mapped file that have been read back to the system,
// so that a large file's pages do not stay resident beside the picture while
// it is converted. The file is only read, so the pages come back from the
// file should they be touched again.
void releaseMappedPages(const unsigned char* data, size_t upTo) {
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t length = upTo / page * page;
    if (length > 0)
        madvise(const_cast<unsigned char*>(data), length, MADV_DONTNEED);
}

// Validates the picture against what the decoder handles and the bytes the
// file has, allocates the pixel block and converts. Null with the message on
// failure. With mapped set, data is a whole read-only file mapping whose read
// pages may be released as the conversion goes.
RgbImage* convert(const unsigned char* data, size_t size, const BitmapLayout& layout, bool mapped,
                  const char** message) {
    int64_t width = layout.width;
    int64_t height = layout.height;
    bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width <= 0 || height <= 0) {
        *message = kConversionError;
        return nullptr;
    }
    uint64_t pixelBytes = uint64_t(width) * uint64_t(height) * 3;
    if (pixelBytes > kMaxPixelBytes) {
        *message = kOutOfMemory;
        return nullptr;
    }

    int bitCount = layout.bitCount;
    uint32_t compression = layout.compression;
    bool runLength = compression == kRle8 || compression == kRle4;
    bool supported = false;
    switch (bitCount) {
    case 1:
        supported = compression == kRgb;
        break;
    case 4:
        supported = compression == kRgb || compression == kRle4;
        break;
    case 8:
        supported = compression == kRgb || compression == kRle8;
        break;
    case 16:
    case 32:
        supported = compression == kRgb || (compression == kBitFields && layout.hasMasks);
        break;
    case 24:
        supported = compression == kRgb;
        break;
    }
    // Run-length data is always stored from the bottom row up.
    if (!supported || (runLength && topDown)) {
        *message = kConversionError;
        return nullptr;
    }
    Channel channels[3];
    if (bitCount == 16 || bitCount == 32) {
        // Without masks a 16-bit pixel is 5-5-5 and a 32-bit one blue,
        // green, red and a byte that is ignored.
        uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
        if (bitCount == 32)
            masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        if (compression == kBitFields)
            memcpy(masks, layout.masks, sizeof masks);
        for (int c = 0; c < 3; ++c) {
            if (!makeChannel(masks[c], bitCount, &channels[c])) {
                *message = kConversionError;
                return nullptr;
            }
        }
    }

    uint64_t stride = (uint64_t(bitCount) * uint64_t(width) + 31) / 32 * 4;
    uint64_t offset = layout.pixelOffset;
    if (runLength) {
        if (offset >= size) {
            *message = kConversionError;
            return nullptr;
        }
        uint64_t available = size - offset;
        uint64_t limit = available * kRunLengthPixelsPerByte;
        if (limit < kRunLengthMinPixels)
            limit = kRunLengthMinPixels;
        if (uint64_t(width) * uint64_t(height) > limit) {
            *message = kConversionError;
            return nullptr;
        }
    } else if (!fits(offset, stride * uint64_t(height), size)) {
        *message = kConversionError;
        return nullptr;
    }

    Palette palette;
    if (bitCount <= 8)
        readPalette(data, layout, &palette);

    // Run-length data may skip pixels, which stay black; every other kind
    // writes every byte.
    unsigned char* pixels = static_cast<unsigned char*>(runLength ? calloc(size_t(pixelBytes), 1)
                                                                  : malloc(size_t(pixelBytes)));
    if (!pixels) {
        *message = kOutOfMemory;
        return nullptr;
    }

    int w = int(width);
    int h = int(height);
    if (runLength) {
        if (!decodeRunLength(data + offset, size - size_t(offset), w, h, compression == kRle4,
                             palette, pixels)) {
            free(pixels);
            *message = kConversionError;
            return nullptr;
        }
    } else {
        size_t rowBytes = size_t(width) * 3;
        const size_t releaseStep = size_t(1) << 20;
        size_t released = 0;
        for (int i = 0; i < h; ++i) {
            const unsigned char* src = data + offset + size_t(stride) * size_t(i);
            // Rows keep the file's order; a top-down file is turned so that
            // its bottom row comes first like in every other file.
            unsigned char* out = pixels + rowBytes * size_t(topDown ? h - 1 - i : i);
            switch (bitCount) {
            case 1:
            case 4:
            case 8:
                rowIndexed(src, w, bitCount, palette, out);
                break;
            case 24:
                row24(src, w, out);
                break;
            case 32:
                if (compression == kRgb)
                    row32(src, w, out);
                else
                    rowMasked(src, w, bitCount, channels, out);
                break;
            default:
                rowMasked(src, w, bitCount, channels, out);
                break;
            }
            size_t read = size_t(src - data) + size_t(stride);
            if (mapped && read - released >= releaseStep) {
                releaseMappedPages(data, read);
                released = read;
            }
        }
    }

    RgbImage* image = static_cast<RgbImage*>(malloc(sizeof(RgbImage)));
    if (!image) {
        free(pixels);
        *message = kOutOfMemory;
        return nullptr;
    }
    image->width = w;
    image->height = h;
    image->pixels = pixels;
    return image;
}

// Appends one code point as UTF-8.
void appendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | c >> 6));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(char(0xE0 | c >> 12));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xF0 | c >> 18));
        out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

// A UTF-16 name as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string utf8FromUtf16(const char16_t* text) {
    std::string out;
    if (!text)
        return out;
    for (size_t i = 0; text[i]; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(&out, c);
    }
    return out;
}

// The open-failure text, formatted into 256 characters like the message
// buffer it was made for. A name too long for it is cut at a character
// boundary and marked with "...".
void reportOpenFailure(const std::string& name) {
    static const char prefix[] = "Failed to open DIB file ";
    static const char suffix[] = ".\n";
    char text[256];
    size_t room = sizeof text - 1 - (sizeof prefix - 1) - (sizeof suffix - 1);
    std::string shown = name;
    if (shown.size() > room) {
        size_t cut = room - 3;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
            --cut;
        shown = shown.substr(0, cut) + "...";
    }
    snprintf(text, sizeof text, "%s%s%s", prefix, shown.c_str(), suffix);
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
        l.colorEntrySize = 4;
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
    if (l.imageSize == 0) {
        int64_t bits = int64_t(l.bitCount) * int64_t(l.width);
        l.imageSize = uint32_t((bits + 7) / 8 * int64_t(l.height));
    }
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

namespace {

RgbImage* decode(const unsigned char* data, size_t size, bool mapped, const char** message) {
    const char* unused;
    if (!message)
        message = &unused;
    *message = nullptr;
    BitmapLayout layout;
    if (!data || !readBitmapLayout(data, size, &layout)) {
        *message = kUnknownFormat;
        return nullptr;
    }
    return convert(data, size, layout, mapped, message);
}

RgbImage* decodeAndReport(const unsigned char* data, size_t size, bool mapped) {
    const char* message = nullptr;
    RgbImage* image = decode(data, size, mapped, &message);
    if (!image)
        showError(message);
    return image;
}

} // namespace

RgbImage* decodeBitmapQuietly(const unsigned char* data, size_t size, const char** message) {
    return decode(data, size, false, message);
}

RgbImage* decodeBitmapBytes(const unsigned char* data, size_t size) {
    return decodeAndReport(data, size, false);
}

RgbImage* decodeBitmapFile(const void* path, bool wide) {
    std::string name;
    if (path)
        name = wide ? utf8FromUtf16(static_cast<const char16_t*>(path))
                    : std::string(static_cast<const char*>(path));
    MappedFile file;
    // An empty file cannot be mapped: it is an open failure like a missing one.
    if (!path || !mapFile(name.c_str(), &file) || file.size == 0) {
        unmapFile(&file);
        reportOpenFailure(name);
        return nullptr;
    }
    RgbImage* image = decodeAndReport(file.data, file.size, true);
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
