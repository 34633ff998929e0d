#include "gl_context.h"
#include "image_file.h"
#include "texture.h"

#include <GL/gl.h>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A 24-bit bitmap file with its "BM" header whose rows, bottom first, are
// each of one colour, given as red, green, blue.
std::vector<unsigned char> bitmapFile(int width, const std::vector<std::array<int, 3>>& rows) {
    unsigned height = unsigned(rows.size()), stride = (width * 3 + 3) / 4 * 4;
    std::vector<unsigned char> out = {'B', 'M'};
    // File size, reserved, pixel offset, header size, width, height, planes
    // with bits per pixel, then six fields of zero; all little-endian.
    for (unsigned value : {54 + stride * height, 0u, 54u, 40u, unsigned(width), height,
                           1u | 24u << 16, 0u, 0u, 0u, 0u, 0u, 0u}) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back((value >> shift) & 0xFF);
    }
    for (const std::array<int, 3>& rgb : rows) {
        for (int x = 0; x < width; x++)
            out.insert(out.end(), {uint8_t(rgb[2]), uint8_t(rgb[1]), uint8_t(rgb[0])});
        out.insert(out.end(), stride - width * 3, 0);
    }
    return out;
}

// A file written for one test and removed after it.
class ScratchFile {
  public:
    ScratchFile(const char* name, const std::vector<unsigned char>& bytes)
        : path_(::testing::TempDir() + "robot-texture-" + std::to_string(getpid()) + name) {
        FILE* file = fopen(path_.c_str(), "wb");
        if (file && !bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), file);
        if (file)
            fclose(file);
    }
    ~ScratchFile() { remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

// Death tests run before the other suites, while no GL threads exist yet to
// complicate the fork.
TEST(CreateTextureDeathTest, MissingOrUndecodableFileEndsTheProgram) {
    unsigned int name = 0;
    // Standard output goes to standard error in the dying child, where the
    // death test can see it.
    EXPECT_EXIT(
        {
            fflush(stdout);
            dup2(STDERR_FILENO, STDOUT_FILENO);
            createTexture("data\\no-such-grass.bmp", &name);
        },
        ::testing::ExitedWithCode(1), "^Textura data.no-such-grass\\.bmp nenalezena\\.\n$");

    ScratchFile junk("junk.bmp", {'B', 'M', 'n', 'o', 't', ' ', 'a', ' ', 'b'}),
        empty("empty.bmp", {});
    EXPECT_EXIT(createTexture(junk.path(), &name), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(createTexture(empty.path(), &name), ::testing::ExitedWithCode(1), "");
}

TEST(CreateTexture, SidesThatAreNotPowersOfTwoAreResizedIntoAFullMipmap) {
    GlContext context;
    ASSERT_TRUE(context.open(16, 16)) << "no surfaceless EGL context";
    unsigned int name = 77;
    createTexture(nullptr, &name);
    EXPECT_EQ(name, 77u) << "a null path does nothing";

    // 3 by 5: two red rows at the bottom, a green one, two blue ones on top.
    // Rows of 9 bytes only read right when unpacked tightly.
    ScratchFile odd(
        "odd.bmp",
        bitmapFile(3, {{255, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 255}}));
    createTexture(odd.path(), &name);
    // It is left bound: the queries below read it.
    ASSERT_TRUE(glIsTexture(name));
    GLint width = 0, height = 0, last = 0, minFilter = 0, alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 1);
    // Only the base level is sampled.
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(minFilter, GL_LINEAR);

    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    ASSERT_GT(width * height, 0);
    EXPECT_EQ(width & (width - 1), 0) << width;
    EXPECT_EQ(height & (height - 1), 0) << height;
    // The whole chain of levels is there, down to 1 by 1.
    int levels = 0;
    for (int w = width > height ? width : height; w > 1; w /= 2)
        levels++;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, levels, GL_TEXTURE_WIDTH, &last);
    EXPECT_EQ(last, 1);

    std::vector<unsigned char> texels(size_t(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    // Red at the bottom left, blue at the top right.
    EXPECT_TRUE(texels[0] > 200 && texels[2] < 50);
    EXPECT_TRUE(texels[texels.size() - 1] > 200 && texels[texels.size() - 3] < 50);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDeleteTextures(1, &name);
    context.close();
}

// The picture of bitmapFile (rows bottom first) as stb_image_write writes a
// PNG, TGA or JPEG file of it, top row first.
std::vector<unsigned char> encoded(const std::string& format, int width,
                                   const std::vector<std::array<int, 3>>& rows) {
    std::vector<unsigned char> pixels, out;
    for (size_t r = rows.size(); r-- > 0;) {
        for (int x = 0; x < width; x++)
            pixels.insert(pixels.end(), rows[r].begin(), rows[r].end());
    }
    auto append = [](void* to, void* data, int size) {
        auto* bytes = static_cast<std::vector<unsigned char>*>(to);
        auto* begin = static_cast<unsigned char*>(data);
        bytes->insert(bytes->end(), begin, begin + size);
    };
    int height = int(rows.size());
    if (format == "png")
        stbi_write_png_to_func(append, &out, width, height, 3, pixels.data(), width * 3);
    else if (format == "tga")
        stbi_write_tga_to_func(append, &out, width, height, 3, pixels.data());
    else
        stbi_write_jpg_to_func(append, &out, width, height, 3, pixels.data(), 100);
    return out;
}

TEST(PictureFiles, EveryFormatDecodesToTheSamePixelsAsTheBitmap) {
    // 16 by 16 so that JPEG's 8 by 8 blocks hold one colour each.
    std::vector<std::array<int, 3>> rows(16, {200, 30, 30});
    for (int r = 8; r < 16; r++)
        rows[size_t(r)] = {20, 40, 220};
    std::string reason;
    RgbImage* bitmap = decodeImageBytes(bitmapFile(16, rows).data(), bitmapFile(16, rows).size(),
                                        "face.bmp", &reason);
    ASSERT_TRUE(bitmap) << reason;
    for (const char* format : {"png", "tga", "jpg"}) {
        ScratchFile file((std::string("face.") + format).c_str(), encoded(format, 16, rows));
        RgbImage* image = loadImageFile(file.path(), &reason);
        ASSERT_TRUE(image) << format << ": " << reason;
        ASSERT_EQ(image->width, 16);
        ASSERT_EQ(image->height, 16);
        // Lossless formats match exactly; JPEG within its rounding.
        int tolerance = std::string(format) == "jpg" ? 6 : 0;
        for (int i = 0; i < 16 * 16 * 3; i++)
            ASSERT_NEAR(image->pixels[i], bitmap->pixels[i], tolerance) << format << " byte " << i;
        freeImage(image);
    }
    freeImage(bitmap);
}

TEST(PictureFiles, DamagedOrOversizedFilesAreRefusedWithAReason) {
    std::vector<std::array<int, 3>> rows(4, {1, 2, 3});
    std::vector<unsigned char> png = encoded("png", 4, rows), huge = png;
    // The header asks for 2000 by 2000 pixels: far more than the file holds.
    const unsigned char side[4] = {0, 0, 0x07, 0xD0};
    std::memcpy(&huge[16], side, 4);
    std::memcpy(&huge[20], side, 4);
    struct Case {
        std::vector<unsigned char> bytes;
        const char* name;
        const char* reason;
    };
    const Case cases[] = {
        {std::vector<unsigned char>(png.begin(), png.begin() + 45), "cut.png", "PNG: "},
        {huge, "huge.png", "too large for its file"},
        {{'n', 'o', 't', ' ', 'a', ' ', 't', 'g', 'a'}, "junk.TGA", "TGA: "},
        {{'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'}, "junk.png", "BMP: "},
        {{}, "empty.jpg", "empty file"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(decodeImageBytes(c.bytes.data(), c.bytes.size(), c.name, &reason), nullptr)
            << c.name;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
    }
    std::string reason;
    EXPECT_EQ(loadImageFile("no-such-picture.png", &reason), nullptr);
    EXPECT_EQ(reason, "cannot open");
}

} // namespace
