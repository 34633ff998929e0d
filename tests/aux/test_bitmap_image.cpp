#include "bitmap_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Rgb = std::array<unsigned char, 3>;

void put16(Bytes* b, uint32_t v) {
    b->push_back(v & 0xFF);
    b->push_back((v >> 8) & 0xFF);
}

void put32(Bytes* b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes info40(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression = 0,
             uint32_t colorsUsed = 0) {
    Bytes b;
    put32(&b, 40);
    put32(&b, uint32_t(width));
    put32(&b, uint32_t(height));
    put16(&b, 1);
    put16(&b, bitCount);
    put32(&b, compression);
    for (int i = 0; i < 3; ++i)
        put32(&b, 0);
    put32(&b, colorsUsed);
    put32(&b, 0);
    return b;
}

Bytes info12(uint16_t width, uint16_t height, uint16_t bitCount) {
    Bytes b;
    put32(&b, 12);
    put16(&b, width);
    put16(&b, height);
    put16(&b, 1);
    put16(&b, bitCount);
    return b;
}

// Colour-table entries as the 40-byte header has them (blue, green, red, 0)
// or, with core set, as the 12-byte one does (blue, green, red).
Bytes table(const std::vector<Rgb>& colours, bool core = false) {
    Bytes b;
    for (const Rgb& c : colours) {
        b.push_back(c[2]);
        b.push_back(c[1]);
        b.push_back(c[0]);
        if (!core)
            b.push_back(0);
    }
    return b;
}

// A "BM" file whose pixel data follows the headers.
Bytes withFileHeader(const Bytes& headers, const Bytes& pixels) {
    Bytes b = {'B', 'M'};
    put32(&b, uint32_t(14 + headers.size() + pixels.size()));
    put32(&b, 0);
    put32(&b, uint32_t(14 + headers.size()));
    return b + headers + pixels;
}

struct Result {
    bool ok = false;
    int width = 0;
    int height = 0;
    Bytes pixels;
    std::string error;
};

Result take(RgbImage* image) {
    Result r;
    if (image) {
        r.ok = true;
        r.width = image->width;
        r.height = image->height;
        r.pixels.assign(image->pixels, image->pixels + size_t(image->width) * image->height * 3);
        free(image->pixels);
        free(image);
    }
    return r;
}

Result decode(const Bytes& file) {
    testing::internal::CaptureStderr();
    Result r = take(decodeBitmapBytes(file.data(), file.size()));
    r.error = testing::internal::GetCapturedStderr();
    return r;
}

Result load(const std::string& path) {
    testing::internal::CaptureStderr();
    Result r = take(loadBitmapImage(path.c_str()));
    r.error = testing::internal::GetCapturedStderr();
    return r;
}

const Rgb kRed = {0xFF, 0, 0};
const Rgb kGreen = {0, 0xFF, 0};
const Rgb kBlue = {0, 0, 0xFF};
const Rgb kWhite = {0xFF, 0xFF, 0xFF};
const Rgb kBlack = {0, 0, 0};
const Rgb kGrey = {10, 20, 30};

Bytes flatten(const std::vector<Rgb>& colours) {
    Bytes b;
    for (const Rgb& c : colours)
        b.insert(b.end(), c.begin(), c.end());
    return b;
}

const std::string kUnknown = "Error: Unknown DIB file format.\n";
const std::string kConversion = "Error: Image file conversion error.\n";
const std::string kOutOfMemory = "Error: Out of memory.\n";

// The 2 by 2 picture: red and green on the bottom row, blue and white on top.
const Bytes kTwoByTwoPixels = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00,
                               0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
const Bytes kTwoByTwoRgb = {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};

TEST(BitmapDecode, TwoByTwoWorkedExampleWithAndWithoutFileHeader) {
    for (bool header : {true, false}) {
        Bytes file = header ? withFileHeader(info40(2, 2, 24), kTwoByTwoPixels)
                            : info40(2, 2, 24) + kTwoByTwoPixels;
        Result r = decode(file);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.width, 2);
        EXPECT_EQ(r.height, 2);
        EXPECT_EQ(r.pixels, kTwoByTwoRgb);
        EXPECT_EQ(r.error, "");
    }
}

TEST(BitmapDecode, TwentyFourBitRowPaddingNeverReachesTheOutput) {
    // One pixel a row: 3 bytes and 1 of padding in the file, 3 in the output.
    Result narrow = decode(info40(1, 2, 24) + Bytes{1, 2, 3, 0xEE, 4, 5, 6, 0xEE});
    ASSERT_TRUE(narrow.ok);
    EXPECT_EQ(narrow.pixels, (Bytes{3, 2, 1, 6, 5, 4}));

    // Four pixels a row: no padding; each pixel's bytes come out reversed.
    Bytes data;
    for (int i = 0; i < 12; ++i)
        data.push_back(i);
    Result wide = decode(withFileHeader(info40(4, 1, 24), data));
    ASSERT_TRUE(wide.ok);
    EXPECT_EQ(wide.pixels, (Bytes{2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9}));
}

TEST(BitmapDecode, TopDownFileComesOutBottomRowFirstWithPositiveHeight) {
    Bytes topFirst(kTwoByTwoPixels.begin() + 8, kTwoByTwoPixels.end());
    topFirst.insert(topFirst.end(), kTwoByTwoPixels.begin(), kTwoByTwoPixels.begin() + 8);
    Result r = decode(withFileHeader(info40(2, -2, 24), topFirst));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.height, 2);
    EXPECT_EQ(r.pixels, kTwoByTwoRgb);
}

TEST(BitmapDecode, EightBitColourTableLengthRules) {
    std::vector<Rgb> full(256);
    for (int i = 0; i < 256; ++i)
        full[i] = {Rgb::value_type(i), Rgb::value_type(255 - i), Rgb::value_type(i / 2)};

    // Colours used 0: a 256-entry table; every pixel is its entry.
    Result all = decode(info40(4, 1, 8) + table(full) + Bytes{0, 7, 128, 255});
    ASSERT_TRUE(all.ok) << all.error;
    EXPECT_EQ(all.pixels, flatten({full[0], full[7], full[128], full[255]}));

    // Colours used 16: the pixel data starts 40 + 64 bytes in; an index past
    // the table is black.
    std::vector<Rgb> sixteen(full.begin(), full.begin() + 16);
    Result some = decode(info40(4, 1, 8, 0, 16) + table(sixteen) + Bytes{15, 16, 3, 200});
    ASSERT_TRUE(some.ok) << some.error;
    EXPECT_EQ(some.pixels, flatten({full[15], kBlack, full[3], kBlack}));

    // Only the low 16 bits of colours used count: 0x10002 is a 2-entry table,
    // 0x10000 none at all.
    Result two = decode(info40(2, 1, 8, 0, 0x10002) + table({kRed, kGreen}) + Bytes{1, 0, 0, 0});
    ASSERT_TRUE(two.ok) << two.error;
    EXPECT_EQ(two.pixels, flatten({kGreen, kRed}));
    Result none = decode(info40(2, 1, 8, 0, 0x10000) + Bytes{1, 0, 0, 0});
    ASSERT_TRUE(none.ok) << none.error;
    EXPECT_EQ(none.pixels, flatten({kBlack, kBlack}));
}

TEST(BitmapDecode, OneAndFourBitPixelsArePackedFromTheTopBit) {
    // Ten 1-bit pixels 1011001110 over two bytes, padded to four.
    Result mono = decode(
        withFileHeader(info40(10, 1, 1) + table({kBlack, kWhite}), Bytes{0xB3, 0x80, 0xFF, 0xFF}));
    ASSERT_TRUE(mono.ok) << mono.error;
    EXPECT_EQ(mono.pixels, flatten({kWhite, kBlack, kWhite, kWhite, kBlack, kBlack, kWhite, kWhite,
                                    kWhite, kBlack}));

    // Three 4-bit pixels: the high half-byte is the left one.
    std::vector<Rgb> colours(16, kGrey);
    colours[1] = kRed;
    colours[2] = kGreen;
    colours[15] = kBlue;
    Result nibbles = decode(info40(3, 1, 4) + table(colours) + Bytes{0x21, 0xF0, 0, 0});
    ASSERT_TRUE(nibbles.ok) << nibbles.error;
    EXPECT_EQ(nibbles.pixels, flatten({kGreen, kRed, kBlue}));
}

TEST(BitmapDecode, CoreHeaderDecodesLikeTheEquivalentInfoHeader) {
    std::vector<Rgb> colours(16);
    for (int i = 0; i < 16; ++i)
        colours[i] = {Rgb::value_type(i * 16), Rgb::value_type(i), Rgb::value_type(255 - i)};
    Bytes pixels = {0x01, 0x23, 0, 0, 0x45, 0x6F, 0, 0};
    Result info = decode(withFileHeader(info40(3, 2, 4) + table(colours), pixels));
    Result core = decode(withFileHeader(info12(3, 2, 4) + table(colours, true), pixels));
    Result bare = decode(info12(3, 2, 4) + table(colours, true) + pixels);
    ASSERT_TRUE(info.ok && core.ok && bare.ok) << core.error << bare.error;
    EXPECT_EQ(core.pixels, info.pixels);
    EXPECT_EQ(bare.pixels, info.pixels);
    EXPECT_EQ(core.width, 3);
    EXPECT_EQ(core.height, 2);
}

TEST(BitmapDecode, SixteenBitFiveFiveFiveWidensByBitReplication) {
    // Red 31, green 1, blue 16: 255, 8 and 132 in eight bits.
    uint16_t pixel = 31 << 10 | 1 << 5 | 16;
    Bytes data;
    put16(&data, pixel);
    put16(&data, 0);
    Result r = decode(info40(1, 1, 16) + data);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels, (Bytes{255, 8, 132}));
}

TEST(BitmapDecode, ThirtyTwoBitIgnoresTheFourthByte) {
    Result r = decode(withFileHeader(info40(2, 1, 32), Bytes{1, 2, 3, 0xAA, 4, 5, 6, 0xBB}));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels, (Bytes{3, 2, 1, 6, 5, 4}));
}

Bytes masks(uint32_t r, uint32_t g, uint32_t b) {
    Bytes m;
    put32(&m, r);
    put32(&m, g);
    put32(&m, b);
    return m;
}

TEST(BitmapDecode, BitFieldFilesUseTheirMasks) {
    // 5-6-5 at 16 bits; one step in each channel widens to 8, 4 and 8.
    Bytes data;
    put16(&data, 1 << 11 | 1 << 5 | 1);
    put16(&data, 0xF800);
    Bytes headers = info40(2, 1, 16, 3) + masks(0xF800, 0x07E0, 0x001F);
    for (bool header : {true, false}) {
        Result r = decode(header ? withFileHeader(headers, data) : headers + data);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.pixels, (Bytes{8, 4, 8, 255, 0, 0}));
    }

    // 32 bits with red in the top byte; 10-bit channels keep their top bits.
    Bytes wide;
    put32(&wide, 0x12345678);
    put32(&wide, 0x3FF << 20 | 0x200 << 10 | 0x001);
    Result top = decode(info40(1, 1, 32, 3) + masks(0xFF000000, 0x00FF0000, 0x0000FF00) +
                        Bytes(wide.begin(), wide.begin() + 4));
    ASSERT_TRUE(top.ok) << top.error;
    EXPECT_EQ(top.pixels, (Bytes{0x12, 0x34, 0x56}));
    Result ten = decode(info40(1, 1, 32, 3) + masks(0x3FF00000, 0x000FFC00, 0x000003FF) +
                        Bytes(wide.begin() + 4, wide.end()));
    ASSERT_TRUE(ten.ok) << ten.error;
    EXPECT_EQ(ten.pixels, (Bytes{0xFF, 0x80, 0x00}));
}

TEST(BitmapDecode, RunLengthEightBit) {
    std::vector<Rgb> colours = {kGrey, kRed, kGreen, kBlue};
    Bytes data = {3, 1, 1, 2, 0, 0,        // Three red, one green, end of line.
                  0, 3, 1, 2, 3, 0, 0, 0,  // Absolute red, green, blue, padded; end of line.
                  0, 2, 1, 0, 1, 3, 0, 1}; // Move right one, one blue, end of bitmap.
    Result r = decode(withFileHeader(info40(4, 3, 8, 1, 4) + table(colours), data));
    ASSERT_TRUE(r.ok) << r.error;
    // Pixels the data skips are black, not colour 0.
    EXPECT_EQ(r.pixels, flatten({kRed, kRed, kRed, kGreen, kRed, kGreen, kBlue, kBlack, kBlack,
                                 kBlue, kBlack, kBlack}));
}

TEST(BitmapDecode, RunLengthFourBit) {
    std::vector<Rgb> colours(16, kGrey);
    colours[1] = kRed;
    colours[2] = kGreen;
    colours[3] = kBlue;
    Bytes data = {5, 0x12, 0,    0,    // Red and green in turn, five pixels.
                  0, 3,    0x31, 0x20, // Absolute blue, red, green: two bytes, no pad.
                  0, 0,    0,    1};
    Result r = decode(info40(5, 2, 4, 2, 16) + table(colours) + data);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels,
              flatten({kRed, kGreen, kRed, kGreen, kRed, kBlue, kRed, kGreen, kBlack, kBlack}));
}

TEST(BitmapDecode, RunLengthStaysInsideThePicture) {
    std::vector<Rgb> colours = {kGrey, kRed, kGreen};
    Bytes headers = info40(2, 2, 8, 1, 3) + table(colours);
    // A run longer than the row is cut at its end; the next row is untouched.
    Result wide = decode(headers + Bytes{9, 1, 0, 0, 1, 2, 0, 1});
    ASSERT_TRUE(wide.ok) << wide.error;
    EXPECT_EQ(wide.pixels, flatten({kRed, kRed, kGreen, kBlack}));
    // An absolute run past the row's end, then a move past the top row.
    Result past = decode(headers + Bytes{0, 5, 2, 2, 2, 2, 2, 0, 0, 2, 0, 9});
    ASSERT_TRUE(past.ok) << past.error;
    EXPECT_EQ(past.pixels, flatten({kGreen, kGreen, kBlack, kBlack}));
    // Ending at the last row's end of line needs no end of bitmap.
    Result lines = decode(headers + Bytes{2, 1, 0, 0, 2, 2, 0, 0});
    ASSERT_TRUE(lines.ok) << lines.error;
    EXPECT_EQ(lines.pixels, flatten({kRed, kRed, kGreen, kGreen}));
}

TEST(BitmapDecode, RunLengthThatRunsOutIsRefused) {
    Bytes headers = info40(2, 2, 8, 1, 2) + table({kGrey, kRed});
    for (const Bytes& data : {Bytes{2, 1},          // No end before the data ends.
                              Bytes{2, 1, 0, 0, 2}, // A run without its colour.
                              Bytes{0, 5, 1, 1},    // An absolute run cut short.
                              Bytes{0, 2, 1}}) {    // A move without its rows.
        Result r = decode(headers + data);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, kConversion);
    }
}

// Reads pixel x of a stored row the plain way, for comparison with the
// decoder's row loops.
Rgb referencePixel(const unsigned char* row, int x, int bitCount, const std::vector<Rgb>& colours) {
    switch (bitCount) {
    case 1:
        return colours[(row[x / 8] >> (7 - x % 8)) & 1];
    case 4:
        return colours[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15];
    case 8:
        return colours[row[x]];
    case 16: {
        unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        return {Rgb::value_type(r << 3 | r >> 2), Rgb::value_type(g << 3 | g >> 2),
                Rgb::value_type(b << 3 | b >> 2)};
    }
    case 24:
        return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    default:
        return {row[4 * x + 2], row[4 * x + 1], row[4 * x]};
    }
}

TEST(BitmapDecode, UncompressedDepthsMatchAPlainReading) {
    std::mt19937 random(12345);
    for (int bitCount : {1, 4, 8, 16, 24, 32}) {
        for (int width = 1; width <= 9; ++width) {
            for (int height : {1, 3}) {
                std::vector<Rgb> colours;
                if (bitCount <= 8) {
                    colours.resize(size_t(1) << bitCount);
                    for (Rgb& c : colours)
                        c = {Rgb::value_type(random()), Rgb::value_type(random()),
                             Rgb::value_type(random())};
                }
                int stride = (bitCount * width + 31) / 32 * 4;
                Bytes data(size_t(stride) * height);
                for (unsigned char& b : data)
                    b = Rgb::value_type(random());
                Result r =
                    decode(withFileHeader(info40(width, height, bitCount) + table(colours), data));
                ASSERT_TRUE(r.ok) << r.error;
                Bytes expected;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        Rgb c = referencePixel(data.data() + y * stride, x, bitCount, colours);
                        expected.insert(expected.end(), c.begin(), c.end());
                    }
                EXPECT_EQ(r.pixels, expected) << bitCount << " bits, " << width << " wide";
            }
        }
    }
}

TEST(BitmapRefusal, UnknownOrIncompleteHeaders) {
    Bytes later = info40(2, 2, 24);
    for (uint32_t size : {108u, 124u, 0u, 41u}) {
        later[0] = Rgb::value_type(size);
        Bytes padded = later + Bytes(size > 40 ? size - 40 : 0, 0);
        EXPECT_EQ(decode(withFileHeader(padded, kTwoByTwoPixels)).error, kUnknown) << size;
    }
    Bytes header = withFileHeader(info40(2, 2, 24), kTwoByTwoPixels);
    // A file header alone, an info header one byte short, a size field cut.
    EXPECT_EQ(decode(Bytes(header.begin(), header.begin() + 14)).error, kUnknown);
    EXPECT_EQ(decode(Bytes(header.begin(), header.begin() + 53)).error, kUnknown);
    EXPECT_EQ(decode(Bytes{'B', 'M', 0, 0}).error, kUnknown);
    EXPECT_EQ(decode(Bytes{40, 0, 0}).error, kUnknown);
    EXPECT_EQ(decode(info12(2, 2, 24) + Bytes{}).ok, false);
    // A colour table, or bit-field masks, that the file does not hold.
    Bytes shortTable = info40(1, 1, 8) + Bytes(4 * 255, 0);
    EXPECT_EQ(decode(shortTable).error, kUnknown);
    EXPECT_EQ(decode(info40(1, 1, 16, 3) + masks(1, 2, 4)).error, kConversion);
    EXPECT_EQ(decode(info40(1, 1, 16, 3) + Bytes(8, 0)).error, kUnknown);
}

TEST(BitmapRefusal, PixelDataThatDoesNotFit) {
    Bytes full = info40(2, 2, 24) + kTwoByTwoPixels;
    EXPECT_TRUE(decode(full).ok);
    EXPECT_EQ(decode(Bytes(full.begin(), full.end() - 1)).error, kConversion);
    EXPECT_TRUE(decode(full + Bytes{0}).ok);

    // A pixel-data position past the end of the file.
    Bytes file = withFileHeader(info40(2, 2, 24), kTwoByTwoPixels);
    file[10] = 0xFF;
    file[11] = 0xFF;
    EXPECT_EQ(decode(file).error, kConversion);
    Bytes runs = withFileHeader(info40(2, 2, 8, 1, 1) + table({kRed}), Bytes{0, 1});
    runs[10] = Rgb::value_type(runs.size());
    EXPECT_EQ(decode(runs).error, kConversion);

    // More pixels than run-length data of 4 bytes could sensibly describe.
    EXPECT_EQ(decode(info40(4096, 4096, 8, 1, 1) + table({kRed}) + Bytes{0, 0, 0, 1}).error,
              kConversion);
}

TEST(BitmapRefusal, SizesDepthsAndCompressionsTheDecoderDoesNotTake) {
    struct Case {
        Bytes headers;
        std::string error;
    };
    std::vector<Case> cases = {
        {info40(0, 2, 24), kConversion},
        {info40(2, 0, 24), kConversion},
        {info40(-2, 2, 24), kConversion},
        {info40(2, int32_t(0x80000000), 24), kOutOfMemory},
        {info40(32768, 16384, 24), kOutOfMemory},
        {info40(2, 2, 2), kConversion},
        {info40(2, 2, 0, 4), kConversion}, // JPEG inside
        {info40(2, 2, 0, 5), kConversion}, // PNG inside
        {info40(2, 2, 24, 1), kConversion},
        {info40(2, 2, 4, 1, 1) + table({kRed}), kConversion},
        {info40(2, 2, 8, 3, 1) + table({kRed}), kConversion},
        {info40(2, -2, 8, 1, 1) + table({kRed}), kConversion},
        {info40(2, 2, 16, 3) + masks(0x7C00, 0x03E0, 0x10001), kConversion},
        {info40(2, 2, 16, 3) + masks(0x7C00, 0x03E0, 0x1F0000), kConversion},
    };
    for (const Case& c : cases) {
        Result r = decode(c.headers + Bytes(64, 0));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
    }
}

class BitmapFiles : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/bitmap-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const std::string& f : made)
            unlink(f.c_str());
        rmdir(dir.c_str());
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        made.push_back(path);
        return path;
    }
    std::string dir;
    std::vector<std::string> made;
};

TEST_F(BitmapFiles, DecodesFromTheFileAndTakesBackslashPaths) {
    write("picture.bmp", withFileHeader(info40(2, 2, 24), kTwoByTwoPixels));
    Result r = load(dir + "\\picture.bmp");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels, kTwoByTwoRgb);
}

TEST_F(BitmapFiles, LargeFileDecodesLikeTheSameBytesInMemory) {
    // Big enough that pages of the mapping are given back while it decodes;
    // a top-down file reads its rows in the same order.
    std::mt19937 random(99);
    for (int height : {700, -700}) {
        Bytes data(size_t(700 * 3) * 700);
        for (unsigned char& b : data)
            b = Rgb::value_type(random());
        Bytes file = withFileHeader(info40(700, height, 24), data);
        Result fromFile = load(write("large.bmp", file));
        Result fromMemory = decode(file);
        ASSERT_TRUE(fromFile.ok && fromMemory.ok) << fromFile.error;
        EXPECT_EQ(fromFile.pixels, fromMemory.pixels);
    }
}

TEST_F(BitmapFiles, MissingAndEmptyFilesAreOpenFailures) {
    Result missing = load("data\\nothing-here.bmp");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "Error: Failed to open DIB file data\\nothing-here.bmp.\n");
    std::string empty = write("empty.bmp", {});
    EXPECT_EQ(load(empty).error, "Error: Failed to open DIB file " + empty + ".\n");
}

TEST_F(BitmapFiles, LaterFailuresShowOnlyTheirOwnMessage) {
    Bytes later = withFileHeader(info40(2, 2, 24) + Bytes(68, 0), kTwoByTwoPixels);
    later[14] = 108;
    EXPECT_EQ(load(write("v4.bmp", later)).error, kUnknown);
}

std::u16string utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

TEST_F(BitmapFiles, WideEntryOpensUtf16NamesAndShowsThemAsUtf8) {
    write("obr\xC3\xA1zek.bmp", info40(2, 2, 24) + kTwoByTwoPixels);
    std::u16string name = utf16(dir + "/obr") + u"\u00E1zek.bmp";
    testing::internal::CaptureStderr();
    Result r = take(loadBitmapImageWide(name.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pixels, kTwoByTwoRgb);

    testing::internal::CaptureStderr();
    EXPECT_EQ(loadBitmapImageWide(u"data\\\u017Elut\u00FD.bmp"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Failed to open DIB file data\\\xC5\xBElut\xC3\xBD.bmp.\n");
}

TEST_F(BitmapFiles, LongPathIsCutToTheMessageBuffer) {
    std::string path = "missing/" + std::string(300, 'x') + ".bmp";
    std::string error = load(path).error;
    // "Error: " and the 255 characters that the 256-byte buffer holds.
    EXPECT_EQ(error.size(), 7u + 255u);
    EXPECT_EQ(error.substr(0, 40), "Error: Failed to open DIB file missing/x");
    EXPECT_EQ(error.substr(error.size() - 6), "x....\n");

    // A cut never splits a UTF-8 character.
    std::string accented;
    for (int i = 0; i < 150; ++i)
        accented += "\xC3\xA1";
    std::string cut = load(accented).error;
    EXPECT_LE(cut.size(), 7u + 255u);
    EXPECT_EQ(cut.substr(cut.size() - 7), "\xC3\xA1....\n");
}

TEST_F(BitmapFiles, SilencedSwitchStillRefuses) {
    setErrorMessages(false);
    Result missing = load("data\\nothing-here.bmp");
    Result unknown = decode(Bytes{'B', 'M'});
    Result conversion = decode(info40(2, 2, 2) + Bytes(16, 0));
    setErrorMessages(true);
    EXPECT_FALSE(missing.ok || unknown.ok || conversion.ok);
    EXPECT_EQ(missing.error + unknown.error + conversion.error, "");
    EXPECT_EQ(decode(Bytes{'B', 'M'}).error, kUnknown);
}

} // namespace
