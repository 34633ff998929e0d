#include "gl_context.h"
#include "texture.h"

#include <GL/gl.h>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void put16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

void put32(std::vector<unsigned char>& out, unsigned value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A 24-bit bitmap file with its "BM" header; rows bottom first, each pixel
// given as red, green, blue.
std::vector<unsigned char> bitmapFile(int width, int height,
                                      const std::vector<unsigned char>& rgbRows) {
    int stride = (width * 3 + 3) / 4 * 4;
    std::vector<unsigned char> out = {'B', 'M'};
    put32(out, 54 + stride * height);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, width);
    put32(out, height);
    put16(out, 1);
    put16(out, 24);
    for (int i = 0; i < 6; i++)
        put32(out, 0);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const unsigned char* rgb = &rgbRows[(y * width + x) * 3];
            out.insert(out.end(), {rgb[2], rgb[1], rgb[0]});
        }
        out.insert(out.end(), stride - width * 3, 0);
    }
    return out;
}

// A scratch folder with files in it, removed at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        char name[] = "/tmp/robot-texture-XXXXXX";
        folder_ = mkdtemp(name) ? name : "";
    }
    ~ScratchFolder() {
        for (const std::string& file : files_)
            remove(file.c_str());
        rmdir(folder_.c_str());
    }

    // Writes a file; returns its path written the program's way, with
    // backslashes as separators.
    std::string write(const char* name, const std::vector<unsigned char>& bytes) {
        std::string path = folder_ + "/" + name;
        FILE* file = fopen(path.c_str(), "wb");
        if (file) {
            if (!bytes.empty())
                fwrite(bytes.data(), 1, bytes.size(), file);
            fclose(file);
        }
        files_.push_back(path);
        for (char& c : path) {
            if (c == '/')
                c = '\\';
        }
        return path;
    }

  private:
    std::string folder_;
    std::vector<std::string> files_;
};

// Standard output goes to standard error in a dying child, where the death
// test can see it.
void stdoutToStderr() {
    fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

// Death tests run before the other suites, while no GL threads exist yet to
// complicate the fork.
TEST(CreateTextureDeathTest, MissingFileEndsTheProgramWithItsMessage) {
    unsigned int name = 0;
    EXPECT_EXIT(
        {
            stdoutToStderr();
            createTexture("data\\no-such-grass.bmp", &name);
        },
        ::testing::ExitedWithCode(1), "^Textura data.no-such-grass\\.bmp nenalezena\\.\n$");
}

TEST(CreateTextureDeathTest, FileThatDoesNotDecodeEndsTheProgram) {
    ScratchFolder scratch;
    std::string path = scratch.write("junk.bmp", {'B', 'M', 'n', 'o', 't', ' ', 'a', ' ', 'b'});
    unsigned int name = 0;
    EXPECT_EXIT(createTexture(path.c_str(), &name), ::testing::ExitedWithCode(1), "");
    std::string empty = scratch.write("empty.bmp", {});
    EXPECT_EXIT(createTexture(empty.c_str(), &name), ::testing::ExitedWithCode(1), "");
}

class CreateTexture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { contextOpen = context.open(16, 16); }
    static void TearDownTestSuite() { context.close(); }
    void SetUp() override { ASSERT_TRUE(contextOpen) << "no surfaceless EGL context"; }

    static GlContext context;
    static bool contextOpen;
    ScratchFolder scratch;
};

GlContext CreateTexture::context;
bool CreateTexture::contextOpen = false;

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

TEST_F(CreateTexture, SidesThatAreNotPowersOfTwoAreResized) {
    // 3 by 5: two red rows at the bottom, a green one, two blue ones on top.
    std::vector<unsigned char> rows;
    const unsigned char colours[5][3] = {
        {255, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 255}};
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 3; x++)
            rows.insert(rows.end(), colours[y], colours[y] + 3);
    std::string path = scratch.write("odd.bmp", bitmapFile(3, 5, rows));

    glDisable(GL_TEXTURE_2D);
    unsigned int name = 0;
    createTexture(path.c_str(), &name);
    ASSERT_NE(name, 0u);
    EXPECT_TRUE(glIsTexture(name));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), name);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));

    GLint width = 0, height = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_TRUE(powerOfTwo(width)) << width;
    EXPECT_TRUE(powerOfTwo(height)) << height;
    // The whole chain of levels is there, down to 1 by 1.
    int levels = 0;
    for (int w = width > height ? width : height; w > 1; w /= 2)
        levels++;
    GLint last = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, levels, GL_TEXTURE_WIDTH, &last);
    EXPECT_EQ(last, 1);

    ASSERT_GT(width * height, 0);
    std::vector<unsigned char> texels(size_t(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    const unsigned char* bottomLeft = &texels[0];
    const unsigned char* topRight = &texels[texels.size() - 3];
    EXPECT_GT(bottomLeft[0], 200);
    EXPECT_LT(bottomLeft[2], 50);
    EXPECT_GT(topRight[2], 200);
    EXPECT_LT(topRight[0], 50);

    GLint minFilter = 0, magFilter = 0, alignment = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(magFilter, GL_LINEAR);
    EXPECT_EQ(alignment, 1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDeleteTextures(1, &name);
}

TEST_F(CreateTexture, SameFileTwiceMakesTwoTextures) {
    std::vector<unsigned char> rows(4 * 4 * 3, 128);
    std::string path = scratch.write("grey.bmp", bitmapFile(4, 4, rows));
    unsigned int first = 0, second = 0;
    createTexture(path.c_str(), &first);
    createTexture(path.c_str(), &second);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    GLuint names[2] = {first, second};
    glDeleteTextures(2, names);
}

TEST_F(CreateTexture, NullPathLeavesTheNameAlone) {
    unsigned int name = 77;
    createTexture(nullptr, &name);
    EXPECT_EQ(name, 77u);
}

} // namespace
