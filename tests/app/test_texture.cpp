#include "gl_context.h"
#include "image_file.h"
#include "own_model.h"
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
#include <sys/stat.h>
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
// PNG, TGA or JPEG file of it, top row first; pixels of 2 or 4 channels
// (with alpha) as they are given, bottom row first.
std::vector<unsigned char> encoded(const std::string& format, int width,
                                   const std::vector<std::array<int, 3>>& rows,
                                   const std::vector<unsigned char>& withAlpha = {},
                                   int channels = 3) {
    std::vector<unsigned char> pixels, out;
    int height = int(rows.size());
    if (channels == 3) {
        for (size_t r = rows.size(); r-- > 0;) {
            for (int x = 0; x < width; x++)
                pixels.insert(pixels.end(), rows[r].begin(), rows[r].end());
        }
    } else {
        height = int(withAlpha.size()) / (width * channels);
        size_t row = size_t(width) * size_t(channels);
        for (int r = height; r-- > 0;)
            pixels.insert(pixels.end(), withAlpha.begin() + long(r * row),
                          withAlpha.begin() + long((r + 1) * row));
    }
    auto append = [](void* to, void* data, int size) {
        auto* bytes = static_cast<std::vector<unsigned char>*>(to);
        auto* begin = static_cast<unsigned char*>(data);
        bytes->insert(bytes->end(), begin, begin + size);
    };
    if (format == "png")
        stbi_write_png_to_func(append, &out, width, height, channels, pixels.data(),
                               width * channels);
    else if (format == "tga")
        stbi_write_tga_to_func(append, &out, width, height, channels, pixels.data());
    else
        stbi_write_jpg_to_func(append, &out, width, height, channels, pixels.data(), 100);
    return out;
}

TEST(PictureFiles, EveryFormatDecodesToTheSamePixelsAsTheBitmap) {
    // 16 by 16 so that JPEG's 8 by 8 blocks hold one colour each.
    std::vector<std::array<int, 3>> rows(16, {200, 30, 30});
    for (int r = 8; r < 16; r++)
        rows[size_t(r)] = {20, 40, 220};
    std::string reason;
    Picture bitmap;
    std::vector<unsigned char> bitmapBytes = bitmapFile(16, rows);
    ASSERT_TRUE(
        decodePictureBytes(bitmapBytes.data(), bitmapBytes.size(), "face.bmp", &bitmap, &reason))
        << reason;
    EXPECT_EQ(bitmap.channels, 3);
    for (const char* format : {"png", "tga", "jpg"}) {
        ScratchFile file((std::string("face.") + format).c_str(), encoded(format, 16, rows));
        Picture image;
        ASSERT_TRUE(loadPictureFile(file.path(), &image, &reason)) << format << ": " << reason;
        ASSERT_EQ(image.width, 16);
        ASSERT_EQ(image.height, 16);
        ASSERT_EQ(image.channels, 3);
        // Lossless formats match exactly; JPEG within its rounding.
        int tolerance = std::string(format) == "jpg" ? 6 : 0;
        for (int i = 0; i < 16 * 16 * 3; i++)
            ASSERT_NEAR(image.pixels[size_t(i)], bitmap.pixels[size_t(i)], tolerance)
                << format << " byte " << i;
    }
}

TEST(PictureFiles, AlphaIsKeptOnlyWhenSomePixelIsNotOpaque) {
    // 2 by 2, bottom row first: red and green, then blue and white, each
    // with its own alpha; grey pictures with alpha give their grey thrice.
    auto rgba = [](int a0, int a1, int a2, int a3) {
        return std::vector<unsigned char>{255, 0, 0,   uint8_t(a0), 0,   255, 0,   uint8_t(a1),
                                          0,   0, 255, uint8_t(a2), 255, 255, 255, uint8_t(a3)};
    };
    struct Case {
        const char* format;
        std::vector<unsigned char> pixels;
        int channels, decoded;
    };
    const Case cases[] = {
        {"png", rgba(255, 0, 255, 128), 4, 4},
        {"tga", rgba(255, 255, 254, 255), 4, 4},
        {"png", rgba(255, 255, 255, 255), 4, 3},
        {"tga", rgba(255, 255, 255, 255), 4, 3},
        {"png", {10, 255, 20, 0, 30, 255, 40, 255}, 2, 4},
        {"png", {10, 255, 20, 255, 30, 255, 40, 255}, 2, 3},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes = encoded(c.format, 2, {}, c.pixels, c.channels);
        Picture picture;
        std::string reason, name = std::string("leaf.") + c.format;
        ASSERT_TRUE(decodePictureBytes(bytes.data(), bytes.size(), name.c_str(), &picture, &reason))
            << name << ": " << reason;
        ASSERT_EQ(picture.channels, c.decoded) << name;
        ASSERT_EQ(picture.pixels.size(), size_t(4 * c.decoded));
        for (size_t p = 0; p < 4; p++) {
            for (size_t k = 0; k < size_t(c.decoded); k++) {
                size_t from = c.channels == 4 ? p * 4 + k : p * 2 + (k == 3 ? 1 : 0);
                EXPECT_EQ(picture.pixels[p * size_t(c.decoded) + k], c.pixels[from])
                    << name << " pixel " << p << " channel " << k;
            }
        }
    }
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
        Picture picture;
        EXPECT_FALSE(decodePictureBytes(c.bytes.data(), c.bytes.size(), c.name, &picture, &reason))
            << c.name;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
    }
    std::string reason;
    Picture picture;
    EXPECT_FALSE(loadPictureFile("no-such-picture.png", &picture, &reason));
    EXPECT_EQ(reason, "cannot open");
}

// The bitmaps of a model of the user's, in a folder of their own beside it.
TEST(ModelTextures, EachFileIsReadOnceAndSharedByEveryMaterialNamingIt) {
    GlContext context;
    ASSERT_TRUE(context.open(16, 16)) << "no surfaceless EGL context";
    std::string folder = ::testing::TempDir() + "robot-maps-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::vector<std::array<int, 3>> rows(2, {90, 90, 90});
    const std::vector<unsigned char> leaf = {0, 200, 0, 255, 0, 200, 0, 0};
    auto write = [&](const char* name, const std::vector<unsigned char>& bytes) {
        FILE* file = fopen((folder + "/" + name).c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    };
    write("Metal.png", encoded("png", 2, rows));
    write("leaf.tga", encoded("tga", 2, {}, leaf, 4));
    write("junk.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 'x'});

    AseModel model;
    auto material = [](const char* name, const char* bitmap) {
        AseMaterial m;
        m.name = name;
        m.bitmap = bitmap;
        return m;
    };
    // Written as exporters do: another folder, another case; and the same
    // file reached by a link and by its absolute path.
    ASSERT_EQ(symlink("Metal.png", (folder + "/shiny.png").c_str()), 0);
    model.materials = {material("Hull", "C:\\maps\\metal.png"),
                       material("Deck", "METAL.PNG"),
                       material("Trees", ""),
                       material("Sign", "junk.png"),
                       material("Mast", "JUNK.png"),
                       material("Rail", "shiny.png"),
                       material("Lichen", "maps\\moss.tga")};
    model.materials[2].subMaterials = {material("Leaves", "leaf.tga"),
                                       material("Bark", (folder + "/./Metal.png").c_str()),
                                       material("Moss", "maps\\moss.tga")};
    std::string modelPath = folder + "/ship.ase";
    RunOptions options;
    options.model_path = modelPath.c_str();
    ModelTextures made = make_model_textures(model, options);

    EXPECT_EQ(made.filesRead, 3);
    EXPECT_EQ(made.missing, 1);
    EXPECT_EQ(made.files, (std::vector<std::string>{folder + "/Metal.png", folder + "/leaf.tga",
                                                    folder + "/junk.png"}));
    const AseModel& read = model;
    const std::vector<AseMaterial>& subs = read.materials[2].subMaterials;
    unsigned metal = model.materials[0].textureId, cutOut = subs[0].textureId;
    EXPECT_TRUE(glIsTexture(metal) && glIsTexture(cutOut) && metal != cutOut);
    for (const AseMaterial* same : {&read.materials[1], &read.materials[5], &subs[1]})
        EXPECT_EQ(same->textureId, metal) << same->name;
    for (const AseMaterial* none :
         {&read.materials[2], &read.materials[3], &read.materials[4], &read.materials[6], &subs[2]})
        EXPECT_EQ(none->textureId, 0u) << none->name;
    // Only the picture with transparent texels is a cut-out, with alpha in
    // its texture.
    for (const AseMaterial* m : {&read.materials[0], &read.materials[1], &subs[1]})
        EXPECT_FALSE(m->textureCutOut) << m->name;
    EXPECT_TRUE(subs[0].textureCutOut);
    GLint alphaBits = -1;
    glBindTexture(GL_TEXTURE_2D, cutOut);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
    EXPECT_GT(alphaBits, 0);
    glBindTexture(GL_TEXTURE_2D, metal);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
    EXPECT_EQ(alphaBits, 0);

    // One line for a bitmap that is missing, one for a file that does not
    // decode, each naming every material that leads to it, in the order in
    // which the materials first name them.
    ASSERT_EQ(made.messages.size(), 2u);
    EXPECT_EQ(made.messages[0], "Materials \"Moss\", \"Lichen\": bitmap maps\\moss.tga not "
                                "found (11 places tried, in the working directory, " +
                                    folder + "); drawn without it.");
    const std::string start = "Materials \"Sign\", \"Mast\": bitmap junk.png (" + folder +
                              "/junk.png) does not decode: PNG: ";
    const std::string& line = made.messages[1];
    EXPECT_EQ(line.substr(0, start.size()), start);
    EXPECT_EQ(line.substr(line.size() - 19), "; drawn without it.") << line;
    for (const char* name : {"Metal.png", "leaf.tga", "junk.png", "shiny.png"})
        remove((folder + "/" + name).c_str());
    rmdir(folder.c_str());
    context.close();
}

} // namespace
