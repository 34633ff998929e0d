#include "bitmap_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Rgb = std::array<unsigned char, 3>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Little-endian fields of 16 or 32 bits.
Bytes le(std::initializer_list<uint32_t> values, int bytes = 4) {
    Bytes b;
    for (uint32_t v : values)
        for (int i = 0; i < bytes; ++i)
            b.push_back(Rgb::value_type(v >> (8 * i)));
    return b;
}

Bytes info40(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression = 0,
             uint32_t colorsUsed = 0) {
    return le({40, uint32_t(width), uint32_t(height)}) + le({1, bitCount}, 2) +
           le({compression, 0, 0, 0, colorsUsed, 0});
}

Bytes info12(uint16_t width, uint16_t height, uint16_t bitCount) {
    return le({12}) + le({width, height, 1, bitCount}, 2);
}

// Colour-table entries as the 40-byte header has them (blue, green, red, 0)
// or, with core set, as the 12-byte one does (blue, green, red).
Bytes table(const std::vector<Rgb>& colours, bool core = false) {
    Bytes b;
    for (const Rgb& c : colours) {
        b.insert(b.end(), {c[2], c[1], c[0]});
        if (!core)
            b.push_back(0);
    }
    return b;
}

// A "BM" file whose pixel data follows the headers.
Bytes withFileHeader(const Bytes& headers, const Bytes& pixels) {
    uint32_t offset = uint32_t(14 + headers.size());
    return Bytes{'B', 'M'} + le({uint32_t(offset + pixels.size()), 0, offset}) + headers + pixels;
}

struct Result {
    bool ok = false;
    int width = 0;
    int height = 0;
    Bytes pixels;
    std::string error;
};

// Runs a decoder entry, takes its picture and what it showed on standard error.
Result capture(const std::function<RgbImage*()>& entry) {
    Result r;
    testing::internal::CaptureStderr();
    if (RgbImage* image = entry()) {
        r.ok = true;
        r.width = image->width;
        r.height = image->height;
        r.pixels.assign(image->pixels, image->pixels + size_t(image->width) * image->height * 3);
        free(image->pixels);
        free(image);
    }
    r.error = testing::internal::GetCapturedStderr();
    return r;
}

Result decode(const Bytes& file) {
    return capture([&] { return decodeBitmapBytes(file.data(), file.size()); });
}

Result load(const std::string& path) {
    return capture([&] { return loadBitmapImage(path.c_str()); });
}

const Rgb kRed = {0xFF, 0, 0};
const Rgb kGreen = {0, 0xFF, 0};
const Rgb kBlue = {0, 0, 0xFF};
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
        // Five bits a channel, widened by repeating their top bits.
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

// Every uncompressed depth at widths that pack into and across bytes, with
// random bytes in the row padding and the fourth byte of 32-bit pixels that
// must never reach the output.
TEST(BitmapDecode, UncompressedDepthsMatchAPlainReading) {
    std::mt19937 random(12345);
    for (int bitCount : {1, 4, 8, 16, 24, 32}) {
        for (int width = 1; width <= 10; ++width) {
            for (int height : {1, 3}) {
                std::vector<Rgb> colours(bitCount <= 8 ? size_t(1) << bitCount : 0);
                for (Rgb& c : colours)
                    std::generate(c.begin(), c.end(), std::ref(random));
                int stride = (bitCount * width + 31) / 32 * 4;
                Bytes data(size_t(stride) * height);
                std::generate(data.begin(), data.end(), std::ref(random));
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

// The worked example, colour tables, bit-field masks and run-length data:
// each file with the width and the colours it must give.
TEST(BitmapDecode, FilesGiveTheirColours) {
    Bytes topFirst(kTwoByTwoPixels.begin() + 8, kTwoByTwoPixels.end());
    topFirst.insert(topFirst.end(), kTwoByTwoPixels.begin(), kTwoByTwoPixels.begin() + 8);
    std::vector<Rgb> full(256);
    for (int i = 0; i < 256; ++i)
        full[i] = {Rgb::value_type(i), Rgb::value_type(255 - i), Rgb::value_type(i / 2)};
    std::vector<Rgb> sixteen(full.begin(), full.begin() + 16);
    Bytes nibbles = {0x01, 0x23, 0, 0, 0x45, 0x6F, 0, 0};
    Bytes fiveSixFive = info40(2, 1, 16, 3) + le({0xF800, 0x07E0, 0x001F});
    Bytes pixels565 = le({1 << 11 | 1 << 5 | 1, 0xF800}, 2);
    Bytes small = info40(2, 2, 8, 1, 3) + table({kGrey, kRed, kGreen});
    std::vector<Rgb> four = {kGrey, kRed, kGreen, kBlue};
    four.resize(16, kGrey);
    struct Case {
        Bytes file;
        int width;
        Bytes pixels;
    };
    const Case cases[] = {
        // The 2 by 2 picture with and without the file header, and stored top
        // row first: it always comes out bottom row first.
        {withFileHeader(info40(2, 2, 24), kTwoByTwoPixels), 2, kTwoByTwoRgb},
        {info40(2, 2, 24) + kTwoByTwoPixels, 2, kTwoByTwoRgb},
        {withFileHeader(info40(2, -2, 24), topFirst), 2, kTwoByTwoRgb},
        // Colours used 0: a 256-entry table.
        {info40(4, 1, 8) + table(full) + Bytes{0, 7, 128, 255}, 4,
         flatten({full[0], full[7], full[128], full[255]})},
        // Colours used 16: the pixel data starts 40 + 64 bytes in; an index
        // past the table is black.
        {info40(4, 1, 8, 0, 16) + table(sixteen) + Bytes{15, 16, 3, 200}, 4,
         flatten({full[15], kBlack, full[3], kBlack})},
        // Only the low 16 bits of colours used count: 0x10002 is a 2-entry
        // table, 0x10000 none at all.
        {info40(2, 1, 8, 0, 0x10002) + table({kRed, kGreen}) + Bytes{1, 0, 0, 0}, 2,
         flatten({kGreen, kRed})},
        {info40(2, 1, 8, 0, 0x10000) + Bytes{1, 0, 0, 0}, 2, flatten({kBlack, kBlack})},
        // The 12-byte header has 3-byte table entries, with or without "BM".
        {withFileHeader(info12(3, 2, 4) + table(sixteen, true), nibbles), 3,
         flatten({full[0], full[1], full[2], full[4], full[5], full[6]})},
        {info12(3, 2, 4) + table(sixteen, true) + nibbles, 3,
         flatten({full[0], full[1], full[2], full[4], full[5], full[6]})},
        // 5-6-5 at 16 bits, with or without "BM"; one step in each channel
        // widens to 8, 4 and 8.
        {withFileHeader(fiveSixFive, pixels565), 2, {8, 4, 8, 255, 0, 0}},
        {fiveSixFive + pixels565, 2, {8, 4, 8, 255, 0, 0}},
        // 32 bits with red in the top byte; 10-bit channels keep their top bits.
        {info40(1, 1, 32, 3) + le({0xFF000000, 0x00FF0000, 0x0000FF00, 0x12345678}),
         1,
         {0x12, 0x34, 0x56}},
        {info40(1, 1, 32, 3) +
             le({0x3FF00000, 0x000FFC00, 0x000003FF, 0x3FF << 20 | 0x200 << 10 | 0x001}),
         1,
         {0xFF, 0x80, 0x00}},
        // Run-length data: pixels it skips are black, not colour 0.
        {withFileHeader(info40(4, 3, 8, 1, 4) + table({kGrey, kRed, kGreen, kBlue}),
                        {3, 1, 1, 2, 0, 0,         // Three red, one green, end of line.
                         0, 3, 1, 2, 3, 0, 0, 0,   // Absolute red, green, blue, padded.
                         0, 2, 1, 0, 1, 3, 0, 1}), // Move right one, one blue, end.
         4,
         flatten({kRed, kRed, kRed, kGreen, kRed, kGreen, kBlue, kBlack, kBlack, kBlue, kBlack,
                  kBlack})},
        // Four bits: red and green in turn for five pixels, then absolute
        // blue, red, green in two bytes without padding.
        {info40(5, 2, 4, 2, 16) + table(four) + Bytes{5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 0, 0, 0, 1},
         5, flatten({kRed, kGreen, kRed, kGreen, kRed, kBlue, kRed, kGreen, kBlack, kBlack})},
        // A run longer than the row is cut at its end; the next row is untouched.
        {small + Bytes{9, 1, 0, 0, 1, 2, 0, 1}, 2, flatten({kRed, kRed, kGreen, kBlack})},
        // An absolute run past the row's end, then a move past the top row.
        {small + Bytes{0, 5, 2, 2, 2, 2, 2, 0, 0, 2, 0, 9}, 2,
         flatten({kGreen, kGreen, kBlack, kBlack})},
        // Ending at the last row's end of line needs no end of bitmap.
        {small + Bytes{2, 1, 0, 0, 2, 2, 0, 0}, 2, flatten({kRed, kRed, kGreen, kGreen})},
        // A legal sparse file: a large picture whose data is just an end of
        // bitmap comes out all black.
        {info40(2048, 2048, 8, 1, 1) + table({kRed}) + Bytes{0, 1}, 2048,
         Bytes(size_t(2048) * 2048 * 3, 0)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Result r = decode(cases[i].file);
        ASSERT_TRUE(r.ok) << i << ": " << r.error;
        EXPECT_EQ(r.error, "") << i;
        EXPECT_EQ(r.width, cases[i].width) << i;
        EXPECT_EQ(r.pixels, cases[i].pixels) << i;
    }
}

// Every file the decoder refuses, with the one message it shows.
TEST(BitmapRefusal, EveryRefusalHasItsMessage) {
    Bytes file = withFileHeader(info40(2, 2, 24), kTwoByTwoPixels);
    Bytes bare = info40(2, 2, 24) + kTwoByTwoPixels;
    Bytes farPixels = file;
    farPixels[10] = farPixels[11] = 0xFF;
    Bytes runs = withFileHeader(info40(2, 2, 8, 1, 1) + table({kRed}), Bytes{0, 1});
    runs[10] = Rgb::value_type(runs.size());
    Bytes rle = info40(2, 2, 8, 1, 2) + table({kGrey, kRed});
    Bytes red = table({kRed}) + Bytes(64, 0);
    Bytes junk(64, 0);
    auto later = [](uint32_t size) {
        Bytes headers = info40(2, 2, 24) + Bytes(size > 40 ? size - 40 : 0, 0);
        headers[0] = Rgb::value_type(size);
        return withFileHeader(headers, kTwoByTwoPixels);
    };
    const std::pair<std::string, std::vector<Bytes>> refusals[] = {
        // Later header kinds and unknown sizes; headers cut: a file header
        // alone, an info header one byte short, a size field cut, a colour
        // table or masks that are not there.
        {kUnknown,
         {later(108), later(124), later(0), later(41), Bytes(file.begin(), file.begin() + 14),
          Bytes(file.begin(), file.begin() + 53), Bytes{'B', 'M', 0, 0}, Bytes{40, 0, 0},
          info40(1, 1, 8) + Bytes(4 * 255, 0), info40(1, 1, 16, 3) + Bytes(8, 0)}},
        // A 12-byte header without pixels, masks of no use; pixel data that
        // does not fit: one byte short, a position past the end; run-length
        // data that runs out: no end, a run without its colour, an absolute
        // run cut short, a move without its rows.
        {kConversion,
         {info12(2, 2, 24), info40(1, 1, 16, 3) + le({1, 2, 4}),
          Bytes(bare.begin(), bare.end() - 1), farPixels, runs, rle + Bytes{2, 1},
          rle + Bytes{2, 1, 0, 0, 2}, rle + Bytes{0, 5, 1, 1}, rle + Bytes{0, 2, 1}}},
        // Sizes, depths and compressions (3 bits, JPEG and PNG inside, run
        // lengths of the wrong depth or top-down, masks that overlap or leave
        // 16 bits) the decoder does not take.
        {kConversion,
         {info40(0, 2, 24) + junk, info40(2, 0, 24) + junk, info40(-2, 2, 24) + junk,
          info40(2, 2, 2) + junk, info40(2, 2, 0, 4) + junk, info40(2, 2, 0, 5) + junk,
          info40(2, 2, 24, 1) + junk, info40(2, 2, 4, 1, 1) + red, info40(2, 2, 8, 3, 1) + red,
          info40(2, -2, 8, 1, 1) + red, info40(2, 2, 16, 3) + le({0x7C00, 0x03E0, 0x10001}) + junk,
          info40(2, 2, 16, 3) + le({0x7C00, 0x03E0, 0x1F0000}) + junk}},
        // Pictures over the cap, run-length ones too; a header whose image
        // size in bytes would not fit in 64 bits.
        {kOutOfMemory,
         {info40(2, int32_t(0x80000000), 24) + junk, info40(32768, 16384, 24) + junk,
          info40(32768, 16384, 8, 1, 1) + red, info40(0x7FFFFFFF, 0x7FFFFFFF, 32) + junk}},
    };
    for (const auto& refusal : refusals)
        for (size_t i = 0; i < refusal.second.size(); ++i) {
            Result r = decode(refusal.second[i]);
            EXPECT_FALSE(r.ok) << i;
            EXPECT_EQ(r.error, refusal.first) << i;
        }
    // Bytes after the pixel data do no harm.
    EXPECT_TRUE(decode(bare + Bytes{0}).ok);
}

class BitmapFiles : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("bitmap-test-" + std::to_string(std::random_device{}()));
        ASSERT_TRUE(std::filesystem::create_directory(path));
        dir = path.string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    // name is UTF-8, also on Windows.
    std::string write(const std::string& name, const Bytes& bytes) {
        std::string path = dir + "/" + name;
        std::ofstream(std::filesystem::u8path(path), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    std::string dir;
};

TEST_F(BitmapFiles, DecodesFromTheFile) {
    // A bare DIB file; backslashes are directory separators and the wide entry
    // opens UTF-16 names.
    write("obr\xC3\xA1zek.bmp", info40(2, 2, 24) + kTwoByTwoPixels);
    std::u16string wide = std::u16string(dir.begin(), dir.end()) + u"/obr\u00E1zek.bmp";
    for (const Result& r : {load(dir + "\\obr\xC3\xA1zek.bmp"),
                            capture([&] { return loadBitmapImageWide(wide.c_str()); })}) {
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.pixels, kTwoByTwoRgb);
        EXPECT_EQ(r.error, "");
    }

    // A large file decodes from its mapping as from memory; a top-down file
    // reads its rows in the same order.
    std::mt19937 random(99);
    for (int height : {700, -700}) {
        Bytes data(size_t(700 * 3) * 700);
        std::generate(data.begin(), data.end(), std::ref(random));
        Bytes file = withFileHeader(info40(700, height, 24), data);
        Result fromFile = load(write("large.bmp", file));
        Result fromMemory = decode(file);
        ASSERT_TRUE(fromFile.ok && fromMemory.ok) << fromFile.error;
        EXPECT_EQ(fromFile.pixels, fromMemory.pixels);
    }
}

TEST_F(BitmapFiles, FailureMessages) {
    // Missing and empty files fail to open; wide names show as UTF-8, with
    // characters of two, three and four bytes, and a lone surrogate as U+FFFD.
    EXPECT_EQ(load("data\\nothing-here.bmp").error,
              "Error: Failed to open DIB file data\\nothing-here.bmp.\n");
    std::string empty = write("empty.bmp", {});
    EXPECT_EQ(load(empty).error, "Error: Failed to open DIB file " + empty + ".\n");
    const std::pair<std::u16string, std::string> wideNames[] = {
        {u"data\\\u017Elut\u00FD.bmp", "data\\\xC5\xBElut\xC3\xBD.bmp"},
        {u"\u20AC\U0001F600\xD800x\xDC00.bmp",
         "\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx\xEF\xBF\xBD.bmp"},
    };
    for (const auto& name : wideNames)
        EXPECT_EQ(capture([&] { return loadBitmapImageWide(name.first.c_str()); }).error,
                  "Error: Failed to open DIB file " + name.second + ".\n");

    // A file that opens shows only the decoder's own message.
    Bytes later = withFileHeader(info40(2, 2, 24) + Bytes(68, 0), kTwoByTwoPixels);
    later[14] = 108;
    EXPECT_EQ(load(write("v4.bmp", later)).error, kUnknown);

    // A long path is cut to "Error: " and the 255 characters that the
    // 256-byte buffer holds, never inside a UTF-8 character.
    std::string error = load("missing/" + std::string(300, 'x') + ".bmp").error;
    EXPECT_EQ(error.size(), 7u + 255u);
    EXPECT_EQ(error.substr(0, 40), "Error: Failed to open DIB file missing/x");
    EXPECT_EQ(error.substr(error.size() - 6), "x....\n");
    std::string accented;
    for (int i = 0; i < 150; ++i)
        accented += "\xC3\xA1";
    std::string cut = load(accented).error;
    EXPECT_LE(cut.size(), 7u + 255u);
    EXPECT_EQ(cut.substr(cut.size() - 7), "\xC3\xA1....\n");

    // Silenced, the decoder still refuses but shows nothing.
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
