#include "ase_agreement.h"
#include "ase_blocks.h"
#include "ase_reader.h"
#include "ase_reference.h"
#include "corner_normals.h"
#include "records.h"
#include "text_scan.h"
#include "vec3.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

const float kInf = std::numeric_limits<float>::infinity();
using Ints = std::vector<int>;
using Floats = std::vector<float>;

void expectVec(Vec3 v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

// ---------------------------------------------------------------- Vec3

// The plain reader shares these, so the equivalence tests cannot catch their
// faults: they are checked here on their own.
TEST(Vec3, OperatorsAndPrecision) {
    expectVec(crossProduct(Vec3(1, 0, 0), Vec3(0, 1, 0)), 0, 0, 1);
    expectVec(crossProduct(Vec3(0, 1, 0), Vec3(1, 0, 0)), 0, 0, -1);
    expectVec(vectorBetween(Vec3(1, 2, 3), Vec3(4, 6, 8)), 3, 4, 5);
    EXPECT_FLOAT_EQ(magnitude(Vec3(3, 4, 5)), 7.0710678f);
    expectVec(normalize(Vec3(3, 0, 4)), 0.6f, 0, 0.8f);
    expectVec(Vec3(1, 2, 3) - Vec3(1, 1, 1), 0, 1, 2);
    expectVec(Vec3(1, 2, 3) * 2, 2, 4, 6);
    expectVec(Vec3(2, 4, 6) / 2, 1, 2, 3);
    EXPECT_FLOAT_EQ(dotProduct(Vec3(1, 2, 3), Vec3(4, 5, 6)), 32);

    // Division by zero gives infinity and NaN, as does normalising zero.
    Vec3 v = Vec3(1, 0, 0) / 0.0f;
    EXPECT_EQ(v.x, kInf);
    EXPECT_TRUE(std::isnan(v.y) && std::isnan(v.z));
    Vec3 n = normalize(Vec3(0, 0, 0));
    EXPECT_TRUE(std::isnan(n.x) && std::isnan(n.y) && std::isnan(n.z));

    // Cross and dot products keep their products in double and round once:
    // in float (1 + 2^-12)^2 would lose its last 2^-24 before the subtraction.
    float a = 1.0f + std::ldexp(1.0f, -12);
    float exact = std::ldexp(1.0f, -11) + std::ldexp(1.0f, -24);
    EXPECT_EQ(crossProduct(Vec3(0, a, 1), Vec3(0, 1, a)).x, exact);
    EXPECT_EQ(dotProduct(Vec3(a, 1, 0), Vec3(a, -1, 0)), exact);

    // The sum of squares is rounded to float before the root: squares beyond
    // the float range give infinity, squares below it give zero.
    EXPECT_EQ(magnitude(Vec3(1e20f, 0, 0)), kInf);
    EXPECT_EQ(magnitude(Vec3(1e-30f, 0, 0)), 0.0f);
    EXPECT_EQ(magnitude(Vec3(3e18f, 4e18f, 0)), 5e18f);
}

// ---------------------------------------------------------------- helpers

struct Loaded {
    tModel model;
    AseReader reader;
    Loaded() = default;
    Loaded(const Loaded&) = delete;
    ~Loaded() { releaseModelArrays(model); }
    const t3DObject& object(size_t i = 0) const { return model.objects.at(i); }
    const tMaterialInfo& material(size_t i = 0) const { return model.materials.at(i); }
};

void load(Loaded& loaded, const std::string& text, const char* name = "test.ase") {
    loaded.reader.printProblems = false;
    ASSERT_TRUE(loaded.reader.readModelFromMemory(&loaded.model, text.data(), text.size(), name));
}

std::string problemsOf(const Loaded& loaded) {
    std::string all;
    for (const std::string& line : loaded.reader.problems)
        all += line + "\n";
    return all;
}

// Reads text with the fast reader and with the plain one and demands the
// same model bit for bit.
void expectSameAsPlainReader(const std::string& text) {
    Loaded fast;
    load(fast, text);
    tModel plain;
    referenceReadModel(&plain, text.data(), text.size());
    referenceVertexNormals(&plain);
    std::string why;
    EXPECT_TRUE(sameModel(fast.model, plain, &why)) << why << "\n--- input:\n" << text;
    releaseModelArrays(plain);
}

std::string writeTemporary(const std::string& bytes) {
    static std::mt19937 names(std::random_device{}());
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("model_test_" + std::to_string(names()));
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path.string();
}

#ifdef _WIN32
// Standard error thrown away, in the shell's words.
const char* kQuiet = " 2>NUL";
#else
const char* kQuiet = " 2>/dev/null";
#endif

// Runs ase-inspect with args and returns its standard output; status gets
// its exit code.
std::string inspect(const std::string& args, int* status) {
#ifdef _WIN32
    // A cross-built test runs under wine, where the build's Unix paths are
    // on drive Z:. The shell takes off the outer quotes.
    std::string program = ASE_INSPECT;
    if (program[0] == '/')
        program = "Z:" + program;
    for (char& c : program)
        c = c == '/' ? '\\' : c;
    FILE* pipe = _popen(("\"\"" + program + "\" " + args + "\"").c_str(), "r");
#else
    FILE* pipe = popen((std::string(ASE_INSPECT) + " " + args).c_str(), "r");
#endif
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (size_t n = pipe ? std::fread(buffer, 1, sizeof buffer, pipe) : 0)
        output.append(buffer, n);
#ifdef _WIN32
    *status = pipe ? _pclose(pipe) : -1;
#else
    *status = pipe ? WEXITSTATUS(pclose(pipe)) : -1;
#endif
    return output;
}

const char* kSmallModel =
    "*3DSMAX_ASCIIEXPORT\t200\n*MATERIAL_LIST {\n\t*MATERIAL_COUNT 2\n\t*MATERIAL 0 {\n"
    "\t\t*MATERIAL_NAME \"Skin\"\n\t\t*MATERIAL_AMBIENT 0.1000\t0.1000\t0.1000\n"
    "\t\t*MATERIAL_DIFFUSE 0.5000\t0.2500\t1.0000\n\t\t*MATERIAL_SPECULAR 0.9000\t0.8000\t0.7000\n"
    "\t\t*MAP_DIFFUSE {\n\t\t\t*BITMAP \"data\\skin.bmp\"\n\t\t\t*UVW_U_TILING 2.0000\n"
    "\t\t\t*UVW_V_TILING 4.0000\n\t\t}\n\t}\n\t*MATERIAL 1 {\n\t\t*MATERIAL_NAME "
    "\"Metal\"\n\t}\n}\n"
    "*GEOMOBJECT {\n\t*NODE_NAME \"Body\"\n\t*MESH {\n\t\t*MESH_NUMVERTEX 4\n\t\t*MESH_NUMFACES 2\n"
    "\t\t*MESH_VERTEX_LIST {\n\t\t\t*MESH_VERTEX    0\t0.0000\t0.0000\t0.0000\n"
    "\t\t\t*MESH_VERTEX    1\t1.0000\t0.0000\t0.0000\n\t\t\t*MESH_VERTEX    "
    "2\t0.0000\t1.0000\t0.0000\n"
    "\t\t\t*MESH_VERTEX    3\t1.0000\t2.0000\t3.0000\n\t\t}\n\t\t*MESH_FACE_LIST {\n"
    "\t\t\t*MESH_FACE    0:    A:    0 B:    1 C:    2 AB:    1 BC:    1 "
    "CA:    0\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0\n"
    "\t\t\t*MESH_FACE    1:    A:    1 B:    3 C:    2 AB:    1 BC:    1 "
    "CA:    0\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0\n"
    "\t\t}\n\t\t*MESH_NUMTVERTEX 2\n\t\t*MESH_TVERTLIST {\n\t\t\t*MESH_TVERT "
    "0\t0.5000\t0.2500\t0.0000\n"
    "\t\t\t*MESH_TVERT 1\t0.2500\t0.5000\t0.0000\n\t\t}\n\t\t*MESH_NUMTVFACES 2\n"
    "\t\t*MESH_TFACELIST {\n\t\t\t*MESH_TFACE 0\t0\t1\t1\n\t\t\t*MESH_TFACE 1:\t1\t0\t1\n\t\t}\n"
    "\t\t*MESH_NORMALS {\n\t\t\t*MESH_FACENORMAL 0\t0.0000\t0.0000\t-1.0000\n"
    "\t\t\t\t*MESH_VERTEXNORMAL 0\t0.0000\t0.0000\t-1.0000\n\t\t}\n\t}\n\t*MATERIAL_REF 0\n}\n";

// ---------------------------------------------------------------- reader

TEST(AseReader, ReadsMaterialsAndObjects) {
    Loaded l;
    load(l, kSmallModel);
    ASSERT_EQ(l.model.materialCount, 2);
    ASSERT_EQ(l.model.objectCount, 1);
    EXPECT_STREQ(l.material(0).strMaterialName, "Skin");
    EXPECT_STREQ(l.material(0).strBitmap, "data\\skin.bmp");
    const tMaterialInfo& skin = l.material(0);
    EXPECT_EQ(Floats({skin.diffuse[1], skin.specular[2], skin.uTiling, skin.vTiling}),
              Floats({0.25f, 0.7f, 2, 4}));
    EXPECT_STREQ(l.material(1).strMaterialName, "Metal");
    EXPECT_EQ(l.material(1).strBitmap[0], 0);

    const t3DObject& o = l.object();
    EXPECT_EQ(Ints({o.vertexCount, o.faceCount, o.texVertexCount, o.pTriangles[1].vertexIndex[1],
                    o.pTriangles[0].texIndex[2], o.pTriangles[1].texIndex[0]}),
              Ints({4, 2, 2, 3, 1, 1}));
    EXPECT_TRUE(o.hasTexture);
    // The file's (1, 2, 3) becomes (1, 3, -2).
    expectVec(o.pVertices[3], 1, 3, -2);
    // (0.5, 0.25) scaled by the tiling (2, 4).
    EXPECT_EQ(Floats({o.pTexVertices[0].u, o.pTexVertices[0].v}), Floats({1, 1}));
    EXPECT_TRUE(l.reader.problems.empty()) << problemsOf(l);

    // Missing sections give zeros: "*MATERIAL" sections without a count are
    // not read, an announced material the file lacks stays all zero, and an
    // object without counts has no arrays, material 0 and no texture.
    Loaded uncounted, missing, bare;
    load(uncounted, "*MATERIAL 0 {\n*MATERIAL_NAME \"A\"\n}\n");
    EXPECT_EQ(Ints({uncounted.model.materialCount, uncounted.model.objectCount}), Ints({0, 0}));
    load(missing, "*MATERIAL_COUNT 2\n*MATERIAL 0 {\n*MATERIAL_NAME \"A\"\n}\n");
    ASSERT_EQ(missing.model.materials.size(), 2u);
    EXPECT_STREQ(missing.material(0).strMaterialName, "A");
    EXPECT_EQ(missing.material(1).strMaterialName[0], 0);
    EXPECT_EQ(missing.material(1).uTiling, 0.0f);
    load(bare, "*GEOMOBJECT {\n}\n");
    ASSERT_EQ(bare.model.objectCount, 1);
    EXPECT_TRUE(bare.object().pVertices == nullptr && bare.object().pTexVertices == nullptr);
    EXPECT_EQ(bare.object().materialId, 0);
    EXPECT_FALSE(bare.object().hasTexture);
}

TEST(AseReader, OperandRules) {
    Loaded l;
    load(l, "*MATERIAL_COUNT 1\n*MATERIAL\n*MATERIAL_NAME \"Two words\"\n"
            "*BITMAP \"first.bmp\"\n*BITMAP \"second.bmp\"\n"
            "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 4\n*MESH_NUMTVERTEX 1\n"
            "*MESH_FACE 3: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
            "*MESH_TFACE 3 4 5 6\n*MESH_TFACE 2: 7 8 9\n*MESH_TVERT 0 0.5 0.25 0.0\n"
            "*MATERIAL_REF -0.9\n*MATERIAL_REF 5\n");
    // A quoted text with a blank keeps its first word less its last character.
    EXPECT_STREQ(l.material().strMaterialName, "Tw");
    EXPECT_STREQ(l.material().strBitmap, "second.bmp");
    const t3DObject& o = l.object();
    EXPECT_EQ(Ints({o.pTriangles[3].vertexIndex[2], o.pTriangles[3].texIndex[0],
                    o.pTriangles[2].texIndex[2]}),
              Ints({2, 4, 9}));
    // The first "*MATERIAL_REF" counts, cut toward zero.
    EXPECT_EQ(o.materialId, 0);
    // No tiling keywords: tiling 0 makes every texture vertex (0, 0).
    EXPECT_EQ(o.pTexVertices[0].u, 0.0f);
    EXPECT_TRUE(o.hasTexture);
}

// A decimal number of 1 to 25 digits, perhaps with a sign, a point and an
// exponent.
std::string randomDecimal(std::mt19937& random) {
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    std::string digits(size_t(1 + pick(25)), '0');
    for (char& d : digits)
        d = char('0' + pick(10));
    if (pick(2))
        digits.insert(size_t(1 + pick(int(digits.size()))), ".");
    if (pick(3) == 0)
        digits += "e" + std::to_string(pick(90) - 45);
    return (pick(2) ? "-" : "") + digits;
}

// Numbers convert as the C library's "%d" and "%f" do: decimals of every
// length and exponent give the same float to the last bit; integers beyond
// the range of long are held at its limit and then cut to int.
TEST(AseReader, NumbersConvertLikeTheCLibrary) {
    std::mt19937 random(99);
    std::string text = "*GEOMOBJECT\n*MESH_NUMVERTEX 600\n";
    for (int i = 0; i < 600; i++)
        text += "*MESH_VERTEX " + std::to_string(i) + " " + randomDecimal(random) + " " +
                randomDecimal(random) + " " + randomDecimal(random) + "\n";
    expectSameAsPlainReader(text);

    std::string huge = "*GEOMOBJECT\n*MESH_NUMFACES 1\n"
                       "*MESH_TFACE 0 4294967297 99999999999999999999 -99999999999999999999\n"
                       "*MESH_FACE 0: A: 18446744073709551617 B: 9223372036854775807 C: "
                       "-9223372036854775808\n";
    Loaded l;
    load(l, huge);
    const int* tex = l.object().pTriangles[0].texIndex;
    EXPECT_EQ(Ints(tex, tex + 3), Ints({1, -1, 0}));
    expectSameAsPlainReader(huge);

    // Just above the midpoint between 1 and the next float: rounding through
    // double would land on the midpoint and then round down to 1.
    Loaded mid;
    load(mid, "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n"
              "*MESH_VERTEX 0 1.0000000596046447753906250000001 1 1\n");
    EXPECT_EQ(mid.object().pVertices[0].x, std::nextafter(1.0f, 2.0f));
}

struct Scanned {
    bool ok;
    size_t used;
    uint32_t bits;
    bool operator==(const Scanned& o) const {
        return ok == o.ok && used == o.used && (!ok || bits == o.bits);
    }
};

std::ostream& operator<<(std::ostream& out, const Scanned& s) {
    char bits[12];
    std::snprintf(bits, sizeof bits, "%08x", unsigned(s.bits));
    return out << (s.ok ? "read " : "failed ") << s.used << " characters, bits " << bits;
}

Scanned scanWord(const std::string& word, bool (*scan)(const Text&, size_t&, float*)) {
    Text text;
    text.data = reinterpret_cast<const unsigned char*>(word.data());
    text.size = word.size();
    size_t used = 0;
    float value = 0;
    bool ok = scan(text, used, &value);
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return {ok, used, bits};
}

#ifdef __GLIBC__
// What the GNU C library's fscanf("%f") makes of the word.
Scanned glibcScan(const std::string& word) {
    FILE* stream = fmemopen(const_cast<char*>(word.data()), word.size(), "r");
    float value = 0;
    bool ok = stream && std::fscanf(stream, "%f", &value) == 1;
    size_t used = stream ? size_t(std::ftell(stream)) : 0;
    if (stream)
        std::fclose(stream);
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return {ok, used, bits};
}
#endif

// Odd and broken numbers read as the GNU C library's "%f" reads them, on
// every system: the same value to the bit, and as many characters taken, also
// when the conversion fails. On Linux the table and a sweep over every short
// word of the characters numbers are made of are compared with the C library
// itself; elsewhere the table stands for it.
TEST(TextScan, OddNumbersReadAsTheGnuCLibraryReadsThem) {
    const Scanned fails = {false, 0, 0};
    auto failsAfter = [&](size_t used) { return Scanned{false, used, 0}; };
    auto reads = [](size_t used, uint32_t bits) { return Scanned{true, used, bits}; };
    const std::pair<const char*, Scanned> cases[] = {
        // Exponents and points without digits.
        {"1e", reads(2, 0x3f800000)},
        {"1e+", reads(3, 0x3f800000)},
        {"5e-x", reads(3, 0x40a00000)},
        {"1e1e", reads(3, 0x41200000)},
        {"1.2.3", reads(3, 0x3f99999a)},
        {".", failsAfter(1)},
        {"-.e", failsAfter(2)},
        {"-", failsAfter(1)},
        {"+x", failsAfter(1)},
        {"", fails},
        // Hexadecimal, correctly rounded.
        {"0x", failsAfter(2)},
        {"-0x", failsAfter(3)},
        {"0xp", failsAfter(2)},
        {"0x.", reads(3, 0)},
        {"00x1", reads(2, 0)},
        {"0x1p", reads(4, 0x3f800000)},
        {"0x1.8p1", reads(7, 0x40400000)},
        {"0X1P-2", reads(6, 0x3e800000)},
        {"0x1e5", reads(5, 0x43f28000)},
        {"0x1.000001p0", reads(12, 0x3f800000)},
        {"0x1.0000011p0", reads(13, 0x3f800001)},
        {"0xffffffffffp0", reads(14, 0x53800000)},
        {"0x1.ffffffp127", reads(14, 0x7f800000)},
        // Infinities and NaN in any case; a letter that breaks one off is
        // taken with it.
        {"nan", reads(3, 0x7fc00000)},
        {"nan(abc)", reads(3, 0x7fc00000)},
        {"-NaN", reads(4, 0xffc00000)},
        {"na", failsAfter(2)},
        {"nax", failsAfter(3)},
        {"infx", reads(3, 0x7f800000)},
        {"+inf", reads(4, 0x7f800000)},
        {"-Infinity", reads(9, 0xff800000)},
        {"infin", failsAfter(5)},
        {"infinx", failsAfter(6)},
        // Beyond the float range, and below it.
        {"1e40", reads(4, 0x7f800000)},
        {"-1e99999999999999999999", reads(23, 0xff800000)},
        {"3.4028236e38", reads(12, 0x7f800000)},
        {"1e-46", reads(5, 0)},
        {"-1e-50", reads(6, 0x80000000)},
        {"7.0064923216240862e-46", reads(22, 1)},
        {"0x1p-150", reads(8, 0)},
        {"0x.8p-148", reads(9, 1)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scanWord(c.first, scanFloatSlowly), c.second) << c.first;
        EXPECT_EQ(scanWord(c.first, scanFloat), c.second) << c.first;
#ifdef __GLIBC__
        EXPECT_EQ(glibcScan(c.first), c.second) << c.first;
#endif
    }
    // A number ends with its word.
    Loaded l;
    load(l, "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0x1p1 1e+\t2.5.5\n");
    expectVec(l.object().pVertices[0], 2, 2.5f, -1);

#ifdef __GLIBC__
    // Every word of up to four characters of these, and longer words of
    // fewer: the slow path and the whole scan against the C library.
    std::vector<std::string> words;
    auto addWords = [&](const std::string& alphabet, size_t length) {
        std::vector<std::string> shorter = {""};
        for (size_t n = 0; n < length; n++) {
            std::vector<std::string> longer;
            for (const std::string& word : shorter)
                for (char c : alphabet)
                    longer.push_back(word + c);
            words.insert(words.end(), longer.begin(), longer.end());
            shorter.swap(longer);
        }
    };
    addWords("01.eExXpP+-naiftyNI(g", 4);
    addWords("019.exp+-", 6);
    addWords("inftyx", 7);
    for (const std::string& word : words) {
        Scanned expected = glibcScan(word);
        ASSERT_EQ(scanWord(word, scanFloatSlowly), expected) << "'" << word << "'";
        ASSERT_EQ(scanWord(word, scanFloat), expected) << "'" << word << "'";
    }
    // Long decimal and hexadecimal numbers near the ends of the float range.
    std::mt19937 random(5);
    for (int i = 0; i < 20000; i++) {
        bool hex = random() % 2;
        std::string digits;
        for (int k = 1 + int(random() % 40); k > 0; k--)
            digits += hex ? "0123456789abcdefABCDEF"[random() % 22] : char('0' + random() % 10);
        if (random() % 2)
            digits.insert(random() % (digits.size() + 1), ".");
        std::string word = std::string(random() % 3 ? "" : "-") + (hex ? "0x" : "") + digits;
        int exponent = int(random() % 400) - 200;
        word += hex ? "p" + std::to_string(exponent) : "e" + std::to_string(exponent / 3);
        ASSERT_EQ(scanWord(word, scanFloatSlowly), glibcScan(word)) << word;
    }
#endif
}

// ---------------------------------------------------------------- bad input

// Objects whose first line hides "*GEOMOBJECT" beyond the 99 characters that
// a data pass throws away behind a number: every object's data passes would
// run through all the later objects.
std::string overlappingObjects(int count) {
    std::string text = "*MATERIAL_COUNT 1\n*MATERIAL\n*UVW_U_TILING 1\n*UVW_V_TILING 1\n";
    for (int i = 0; i < count; i++)
        text += "*MESH_VERTEX 0 1 2 3" + std::string(85, ' ') +
                "xxxxxx*GEOMOBJECT {\n"
                "*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_VERTEX 0 0 0 " +
                std::to_string(i) +
                "\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
                "*MESH_TVERT 0 1 1 0\n*MESH_FACE 0: A: 0 B: 1 C: 2\n*MESH_TFACE 0 0 0 0\n"
                "*MATERIAL_REF 0\n";
    return text;
}

// Every bad line is skipped or refused with one "FILE:LINE: what" message;
// damaged files keep what they hold.
TEST(AseReaderBadInput, SkippedWithFileAndLine) {
    std::string longName(400, 'n');
    std::string repeated = "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n";
    for (int i = 0; i < 10; i++)
        repeated += "*MESH_VERTEX 5 1 2 3\n";
    std::string small = kSmallModel;
    std::string cutOff = small.substr(0, small.find("\t\t\t*MESH_VERTEX    3"));
    struct Case {
        std::string text;
        std::vector<std::string> problems;
    };
    const Case cases[] = {
        // Indices outside their arrays.
        {"*GEOMOBJECT\n*MESH_NUMVERTEX 2\n*MESH_NUMFACES 1\n"
         "*MESH_VERTEX 0 1 1 1\n*MESH_VERTEX 70 1 1 1\n*MESH_VERTEX -1 1 1 1\n"
         "*MESH_FACE 1: A: 0 B: 1 C: 0\n*MESH_FACE 0: A: 0 B: 1 C: 9\n*MESH_TVERT 0 1 1\n",
         {"data\\robot.ase:5: *MESH_VERTEX index 70 outside 0..1, line skipped",
          "data\\robot.ase:6: *MESH_VERTEX index -1 outside",
          "data\\robot.ase:7: *MESH_FACE index 1 outside 0..0",
          "data\\robot.ase:9: *MESH_TVERT in an object without *MESH_NUMTVERTEX",
          "data\\robot.ase:8: triangle 0 names vertex 9 outside 0..1"}},
        // Counts the file cannot hold.
        {"\n*MATERIAL_COUNT 2000000000\n*GEOMOBJECT\n*MESH_NUMVERTEX 2000000000\n"
         "*MESH_NUMFACES -5\n*MESH_NUMTVERTEX 99999999999\n*MESH_VERTEX 0 1 2 3\n",
         {":2: *MATERIAL_COUNT 2000000000 is more than",
          ":4: *MESH_NUMVERTEX 2000000000 is more than", ":5: *MESH_NUMFACES -5 is negative",
          ":7: *MESH_VERTEX index 0 but *MESH_NUMVERTEX is 0, line skipped"}},
        // A material outside the list cannot scale texture vertices.
        {"*MATERIAL_COUNT 1\n*MATERIAL\n*UVW_U_TILING 1\n*GEOMOBJECT\n*MESH_NUMTVERTEX 1\n"
         "*MESH_TVERT 0 0.5 0.5\n*MATERIAL_REF 3\n",
         {":6: *MESH_TVERT lines of object 0 skipped: they are scaled by material 3"}},
        // Texts too long for their fields are cut.
        {"*MATERIAL_COUNT 1\n*MATERIAL\n*MATERIAL_NAME \"" + longName + "\"\n*" + longName + " x\n",
         {":3: quoted text of 401 characters cut to 254"}},
        // Repeated problems are counted, not listed.
        {repeated, {":3: *MESH_VERTEX index 5", ":5: *MESH_VERTEX index 5"}},
        // A file cut off keeps what it holds, with one line about the rest.
        {cutOff,
         {":27: the text ends inside object 0, with 3 of its 4 vertices, 0 of its 2 "
          "triangles; the rest are left empty"}},
        // Materials announced but missing are empty; two billion vertices
        // announced by a tiny file are not believed.
        {"*MATERIAL_COUNT 60\n*MATERIAL 0 {\n*BITMAP \"a.bmp\"\n}\n*GEOMOBJECT\n"
         "*MESH_NUMVERTEX 2000000000\n",
         {":1: *MATERIAL_COUNT 60, but the file holds 1 materials",
          ":6: *MESH_NUMVERTEX 2000000000 is more than a file of this size may ask for"}},
        // Overlapping objects are read as far as a budget of work allows.
        {overlappingObjects(100), {"objects or materials of this file overlap"}},
    };
    Loaded l[std::size(cases)];
    for (size_t i = 0; i < std::size(cases); i++) {
        load(l[i], cases[i].text, "data\\robot.ase");
        std::string problems = problemsOf(l[i]);
        for (const std::string& p : cases[i].problems)
            EXPECT_NE(problems.find(p), std::string::npos) << p << "\nin:\n" << problems;
    }
    EXPECT_EQ(l[0].object().pVertices[0].x, 1.0f);
    EXPECT_FALSE(l[0].object().hasTexture);
    // The broken triangle is left out of the normals: vertex 0 has no other.
    EXPECT_TRUE(std::isnan(l[0].object().pVertexNormals[0].x));
    const t3DObject& refused = l[1].object();
    EXPECT_EQ(Ints({l[1].model.materialCount, int(l[1].model.materials.size()), refused.vertexCount,
                    refused.faceCount, refused.texVertexCount}),
              Ints({0, 0, 0, 0, 0}));
    EXPECT_FALSE(l[2].object().hasTexture);
    EXPECT_EQ(l[2].object().pTexVertices[0].u, 0.0f);
    EXPECT_EQ(std::strlen(l[3].material().strMaterialName), 253u);
    ASSERT_EQ(l[4].reader.problems.size(), 5u) << problemsOf(l[4]);
    EXPECT_NE(l[4].reader.problems[3].find("7 further problems"), std::string::npos);
    EXPECT_NE(l[4].reader.problems[4].find(":12: the text ends inside object 0, with 0 of its 1"),
              std::string::npos);
    expectVec(l[5].object().pVertices[2], 0, 0, -1);
    EXPECT_EQ(l[5].model.materials.size(), 2u);
    EXPECT_STREQ(l[6].material().strBitmap, "a.bmp");
    EXPECT_EQ(Ints({l[6].model.materialCount, int(l[6].model.materials.size()),
                    l[6].material(59).strBitmap[0], l[6].object().vertexCount}),
              Ints({60, 60, 0, 0}));
    // Each overlapping object still holds its own lines.
    ASSERT_EQ(l[7].model.objectCount, 100);
    EXPECT_EQ(l[7].object(99).pVertices[0].y, 99.0f);
    EXPECT_EQ(l[7].object(99).pTexVertices[0].u, 1.0f);
}

// ---------------------------------------------------------------- files

std::string utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

bool loadFile(Loaded& l, const std::string& bytes) {
    std::string path = writeTemporary(bytes);
    bool ok = l.reader.loadModel(&l.model, path.c_str());
    std::remove(path.c_str());
    return ok;
}

unsigned int madeTextures = 0;
std::string texturePaths;
void fakeTextureMaker(const char* path, unsigned int* name) {
    texturePaths += std::string(path) + ";";
    *name = ++madeTextures;
}

TEST(AseReaderFiles, LoadModel) {
    tModel model;
    AseReader reader;
    EXPECT_FALSE(reader.loadModel(nullptr, "x"));
    EXPECT_FALSE(reader.loadModel(&model, nullptr));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.loadModel(&model, "no\\such\\robot.ase"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Unable to find or open the file: no\\such\\robot.ase");
    EXPECT_EQ(model.objectCount, 0);

    Loaded empty;
    EXPECT_TRUE(loadFile(empty, ""));
    EXPECT_EQ(empty.model.objectCount + empty.model.materialCount, 0);
    EXPECT_TRUE(empty.reader.problems.empty());

    // UTF-8 and UTF-16 files with a byte order mark read like plain text.
    Loaded plain;
    load(plain, kSmallModel);
    for (const std::string& bytes : {"\xEF\xBB\xBF" + std::string(kSmallModel),
                                     utf16(kSmallModel, false), utf16(kSmallModel, true)}) {
        Loaded l;
        ASSERT_TRUE(loadFile(l, bytes));
        std::string why;
        EXPECT_TRUE(sameModel(l.model, plain.model, &why)) << why;
    }

    // Textures only for the counted materials; the second has no bitmap.
    Loaded textured;
    textured.reader.textureMaker = fakeTextureMaker;
    texturePaths.clear();
    ASSERT_TRUE(loadFile(textured, std::string(kSmallModel) + "*MATERIAL\n*BITMAP \"late.bmp\"\n"));
    EXPECT_EQ(texturePaths, "data\\skin.bmp;");
    EXPECT_EQ(textured.material(0).textureId, madeTextures);
    EXPECT_EQ(textured.material(1).textureId, 0u);
}

// The dump reads the same on every system: NaN, infinities and the smallest
// numbers are written as the GNU C library writes them (a vertex without
// triangles has a normal of -nan).
TEST(AseReaderFiles, InspectorDumpFormat) {
    std::string path = writeTemporary("*MATERIAL_COUNT 1\n*MATERIAL\n*MATERIAL_NAME \"M\"\n"
                                      "*MATERIAL_DIFFUSE 0.1 0.2 0.3\n*UVW_U_TILING 2\n"
                                      "*GEOMOBJECT\n*MESH_NUMVERTEX 4\n*MESH_NUMFACES 1\n"
                                      "*MESH_NUMTVERTEX 1\n*MESH_VERTEX 1 1 0 0\n"
                                      "*MESH_VERTEX 2 0 -1 0\n*MESH_VERTEX 3 nan -inf 1e-45\n"
                                      "*MESH_FACE 0: A: 0 B: 1 C: 2\n*MESH_TFACE 0 0 0 0\n"
                                      "*MESH_TVERT 0 0.25 1\n");
    int status = -1;
    std::string output = inspect("--dump " + path, &status);
    std::remove(path.c_str());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "objects 1\nmaterials 1\n"
                      "material 0 name \"M\" bitmap \"\" diffuse 0.100000001 0.200000003 "
                      "0.300000012 specular 0 0 0 utiling 2 vtiling 0\n"
                      "object 0 vertices 4 faces 1 texvertices 1 material 0 textured 1\n"
                      "v 0 0 0 0\nv 1 1 0 -0\nv 2 0 0 1\nv 3 nan 1.40129846e-45 inf\n"
                      "n 0 -0 -1 -0\nn 1 -0 -1 -0\nn 2 -0 -1 -0\nn 3 -nan -nan -nan\n"
                      "t 0 0.5 0\nf 0 0 1 2 0 0 0\n");

    // The summary lists the objects, the materials and every problem.
    path = writeTemporary("*MATERIAL_COUNT 1\n*MATERIAL\n*BITMAP \"a.bmp\"\n*GEOMOBJECT\n"
                          "*MESH_NUMVERTEX 1\n*MESH_VERTEX 4 1 2 3\n");
    output = inspect(path, &status);
    std::remove(path.c_str());
    EXPECT_EQ(status, 0);
    for (const std::string& line :
         {std::string("object 0: 1 vertices, 0 faces, 0 texture vertices, material 0"),
          std::string("material 0 \"\": bitmap \"a.bmp\", tiling 0 x 0"),
          path + ":6: *MESH_VERTEX index 4 outside 0..0, line skipped"})
        EXPECT_NE(output.find(line), std::string::npos) << line << "\nin:\n" << output;

    // Exit codes: no file named, a file that cannot be read, a bad option.
    inspect(kQuiet, &status);
    EXPECT_NE(status, 0);
    inspect("/no/such/file", &status);
    EXPECT_EQ(status, 1);
    inspect(std::string("--bad x y") + kQuiet, &status);
    EXPECT_EQ(status, 2);
}

// ---------------------------------------------------------------- normals

// The text of one object with the given corners, in the program's axes,
// and triangles.
std::string meshText(std::initializer_list<Vec3> corners,
                     std::initializer_list<std::array<int, 3>> triangles) {
    auto str = [](auto n) { return std::to_string(n); };
    std::string text = "*GEOMOBJECT\n*MESH_NUMVERTEX " + str(corners.size()) + "\n*MESH_NUMFACES " +
                       str(triangles.size()) + "\n";
    int i = 0;
    for (Vec3 c : corners)
        text +=
            "*MESH_VERTEX " + str(i++) + " " + str(c.x) + " " + str(-c.z) + " " + str(c.y) + "\n";
    i = 0;
    for (const auto& t : triangles)
        text += "*MESH_FACE " + str(i++) + ": A: " + str(t[0]) + " B: " + str(t[1]) +
                " C: " + str(t[2]) + "\n";
    return text;
}

TEST(VertexNormals, AreaWeightedAndDegenerate) {
    Loaded weighted, degenerate;
    load(weighted,
         meshText({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}, {2, 0, 0}}, {{0, 1, 2}, {0, 3, 4}}));
    const Vec3* normal = weighted.object().pVertexNormals;
    expectVec(normal[1], 0, 0, 1);
    // (0, 0, 1) + (0, 4, 0): the larger triangle dominates.
    expectVec(normal[0], 0, 0.9701425f, 0.2425356f);

    // Vertex 0: a collinear triangle adds nothing, a triangle naming it twice
    // counts once. Vertex 3 has only a collinear triangle, vertex 4 only a
    // triangle of one point, vertices 6 and 7 two opposite triangles, vertex 5
    // none: all NaN.
    std::string text = meshText(
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {5, 5, 5}, {1, 1, 1}, {3, 3, 3}, {4, 3, 3}},
        {{0, 1, 2}, {0, 1, 3}, {0, 0, 2}, {1, 2, 0}, {4, 4, 4}, {6, 7, 2}, {7, 6, 2}});
    load(degenerate, text);
    normal = degenerate.object().pVertexNormals;
    expectVec(normal[0], 0, 0, 1);
    for (int v : {3, 4, 5, 6, 7})
        EXPECT_TRUE(std::isnan(normal[v].x)) << v;
    expectSameAsPlainReader(text);

    // A model whose objectCount is 0 stays unchanged, even when it holds an
    // object record: no normals are made for it.
    tModel none;
    none.objects.push_back(t3DObject());
    none.objects[0].vertexCount = 1;
    AseReader().computeVertexNormals(&none);
    EXPECT_EQ(none.objects[0].pVertexNormals, nullptr);
}

// ---------------------------------------------------------------- equivalence

// Random texts made of the format's lines, with the kinds of trouble the
// passes part on: long lines, numbers in odd forms and of every length and
// exponent, repeated and late count keywords, operands that run on to the
// next line, lines in odd orders, CRLF. In the line patterns %n is a number,
// %i an index, %c a count, %s a small count, %b a blank, %q an optional colon
// and %p a long run of padding.
std::string randomAse(std::mt19937& random) {
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto split = [](const std::string& all, char at) {
        std::vector<std::string> parts(1);
        for (char c : all)
            c == at ? parts.emplace_back() : parts.back() += c;
        return parts;
    };
    static const std::vector<std::string> odd =
        split("1e3 -0 +2.5 .5 7. 1e inf nan 0x1p-2 - x 1.2.3 3e-50 1e40 00012 1.5E-3 2e+2x 1e- "
              "4e5.5 1e1e1 0.3e 1.17549435e-38 3.4028236e38 "
              "0.000000000000000000000000000000000000000000001",
              ' ');
    static const std::vector<std::string> patterns =
        split("*GEOMOBJECT {|*MATERIAL_COUNT %s|*MATERIAL %s {|*MATERIAL_NAME \"Two words\"|"
              "*MATERIAL_NAME \"One\"|*MATERIAL_DIFFUSE %n%b%n%b%n|*MATERIAL_SPECULAR %n%b%n%b%n|"
              "*BITMAP \"maps\\a.bmp\"|*BITMAP \"maps\\a.bmp\"|*BITMAP noquote|*UVW_U_TILING %n|"
              "*UVW_V_TILING %n|*MESH_NUMFACES %c|*MESH_NUMTVERTEX %c|*MESH_NUMVERTEX %c|"
              "*MESH_NUMVERTEX %c|*MESH_VERTEX %i%b%n%b%n%b%n|*MESH_VERTEX %i%b%n%b%n%b%n|"
              "*MESH_TVERT %i%b%n%b%n%b0.0000|*MESH_TVERT %i%b%n%b%n%b0.0000|"
              "*MESH_FACE %i:    A: %i B: %i C: %i AB:    1 BC:    1 CA:    0\t *MESH_SMOOTHING 1 "
              "\t*MESH_MTLID 0|*MESH_FACE %i:    A: %i B: %i C: %i AB:    1 BC:    1 CA:    0|"
              "*MESH_TFACE %i%q%b%i%b%i%b%i|*MATERIAL_REF %s|*MATERIAL_REF %s.7|"
              "*MESH_VERTEXNORMAL 0\t0.0000\t0.0000\t-1.0000|*COMMENT %p *MESH_VERTEX 1 2 3 4|}|"
              "*MESH_VERTEX %i\n%n %n\n%n|*MESH_FACE %i: A: %i\nB: %i C: %i",
              '|');
    auto number = [&]() {
        char fixed[32];
        std::snprintf(fixed, sizeof fixed, "%.4f", (pick(20001) - 10000) / 1000.0);
        int kind = pick(8);
        return kind == 0  ? odd[size_t(pick(int(odd.size())))]
               : kind < 3 ? randomDecimal(random)
                          : std::string(fixed);
    };
    std::string text;
    for (int lines = 20 + pick(60); lines > 0; lines--) {
        std::string line(size_t(pick(4)), '\t');
        const std::string& pattern = patterns[size_t(pick(int(patterns.size())))];
        for (size_t k = 0; k < pattern.size(); k++) {
            char c = pattern[k] == '%' ? pattern[++k] : 0;
            line += c == 'n'   ? number()
                    : c == 'i' ? std::to_string(pick(12) - 1)
                    : c == 'c' ? std::to_string(pick(12))
                    : c == 's' ? std::to_string(pick(4))
                    : c == 'b' ? std::string(pick(4) ? "\t" : " ")
                    : c == 'q' ? std::string(pick(2) ? ":" : "")
                    : c == 'p' ? std::string(size_t(80 + pick(60)), 'c')
                               : std::string(1, pattern[k]);
        }
        text += line + (pick(5) ? "\n" : "\r\n");
    }
    return text;
}

TEST(AseReaderEquivalence, HandWrittenFiles) {
    std::string pad(120, ' '), xs(98, 'x');
    std::string zero("*GEOMOBJECT\n*MESH_NUMVERTEX 2\n*MESH_VERTEX\0junk 1 5 6 7\n", 56);
    const std::string texts[] = {
        kSmallModel,
        // Material reference behind the mesh, data before and between counts,
        // repeated counts, degenerate and repeated-corner triangles.
        "*MATERIAL_COUNT 1\n*MATERIAL\n*UVW_U_TILING 3\n*UVW_V_TILING 0.5\n"
        "*GEOMOBJECT\n*MESH_TVERT 0 1 1\n*MESH_NUMTVERTEX 2\n"
        "*MESH_VERTEX 0 1 2 3\n*MESH_NUMVERTEX 3\n*MESH_VERTEX 1 1 1 1\n"
        "*MESH_NUMFACES 2\n*MESH_FACE 0: A: 0 B: 1 C: 1\n"
        "*MESH_FACE 1: A: 0 B: 0 C: 0\n*MESH_NUMVERTEX 3\n"
        "*MESH_VERTEX 2 5 5 5\n*MESH_TVERT 1 2\n*MESH_TVERT 1 3 x\n"
        "*MESH_TVERT 1 4\n*MATERIAL_REF 0\n"
        "*GEOMOBJECT\n*MESH_NUMFACES 1\n*MESH_FACE 0: A: 0 B: 1 C: 2\n",
        // Long lines with keywords behind the discard; quoted texts with blanks.
        "*MATERIAL_COUNT 2\n*MATERIAL" + pad + "*MATERIAL_NAME \"x y\"\n" +
            "*MATERIAL\n*BITMAP \"a b.bmp\"\n*GEOMOBJECT\n*MESH_NUMVERTEX 2\n" +
            "*MESH_VERTEX 0 1 2 3" + pad + "*GEOMOBJECT\n" +
            "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1 2\r\n3\n",
        // Behind an unknown word at most 99 characters are thrown away; the
        // rest of a longer line is read on as words.
        "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*JUNK " + xs + " *MESH_VERTEX 0 1 2 3\n",
        "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*JUNK " + xs.substr(70) + " *MESH_VERTEX 0 1 2 3\n",
        // CRLF lines, a keyword only as a prefix, unknown keywords skipped
        // with their line, a count with a leading plus, odd number forms.
        "*GEOMOBJECT_LIST\r\n*GEOMOBJECT {\r\n\t*MESH_NUMVERTEX +2\r\n"
        "\t*MESH_VERTEX_LIST {\r\n\t\t*MESH_VERTEX 1 4.5 -2.25e1 0x1p2\r\n"
        "\t*MESH_VERTEXNORMAL 0 9 9 9\r\n\t*MESH_VERTEX 0 nan inf -inf\r\n}\r\n",
        // Words over 254 characters, and a zero byte that ends a keyword
        // early as it would in a C string.
        zero + "*" + std::string(300, 'y') + "\n*MESH_VERTEX 0 1 2 3 " + std::string(300, 'z') +
            "\n*MATERIAL_COUNT 1\n*MATERIAL\n*BITMAP \"" + std::string(300, 'b') + "\"\n",
    };
    for (const std::string& text : texts)
        expectSameAsPlainReader(text);
    Loaded l, longer, shorter;
    load(l, zero);
    EXPECT_EQ(l.object().pVertices[1].x, 5.0f);
    load(longer, texts[3]);
    EXPECT_EQ(longer.object().pVertices[0].x, 1.0f);
    load(shorter, texts[4]);
    EXPECT_EQ(shorter.object().pVertices[0].x, 0.0f);
}

// Generated files, then the small model cut short and with bytes overwritten.
TEST(AseReaderEquivalence, GeneratedTruncatedAndNoisyFiles) {
    std::mt19937 random(12345);
    for (int round = 0; round < 300 && !HasFailure(); round++)
        expectSameAsPlainReader(randomAse(random));
    std::string text = kSmallModel;
    for (size_t cut = 0; cut < text.size(); cut += 7)
        expectSameAsPlainReader(text.substr(0, cut));
    for (int round = 0; round < 50; round++) {
        std::string noisy = text;
        for (int k = 0; k < 20; k++)
            noisy[random() % noisy.size()] = char(random() % 256);
        expectSameAsPlainReader(noisy);
    }
}

// ---------------------------------------------------------------- block reader

struct Blocks {
    bool read = false;
    AseModel model;
    std::vector<std::string> problems;
    const AseObject& object(size_t i = 0) const { return model.objects.at(i); }
    const AseFace& face(size_t f, size_t i = 0) const { return object(i).faces.at(f); }
    std::string allProblems() const {
        std::string all;
        for (const std::string& line : problems)
            all += line + "\n";
        return all;
    }
};

// Every text is also read in pieces, down to a byte at a time, which must
// give the same model and problems as the whole text does.
Blocks readBlocks(const std::string& text, const char* name = "own.ase") {
    Blocks b;
    b.read = readAseBlocks(text.data(), text.size(), name, &b.model, &b.problems);
    for (size_t pieceBytes : {1, 7, 4096}) {
        Blocks p;
        p.read =
            readBlocksInPieces(text.data(), text.size(), name, &p.model, &p.problems, pieceBytes);
        std::string why;
        EXPECT_TRUE(p.read == b.read && p.problems == b.problems &&
                    sameAseModel(b.model, p.model, &why))
            << "read in pieces of " << pieceBytes << " bytes: " << why << "\n"
            << p.allProblems() << "against\n"
            << b.allProblems();
    }
    return b;
}

// One object: vertices in the file's axes, faces as "A B C" with their
// further words ("*MESH_SMOOTHING 1 *MESH_MTLID 0"), and the object's
// remaining text (normals, *NODE_TM).
std::string objectText(const std::vector<Vec3>& vertices,
                       const std::vector<std::pair<std::array<int, 3>, std::string>>& faces,
                       const std::string& rest = "", const std::string& objectRest = "") {
    auto str = [](auto n) { return std::to_string(n); };
    std::string text = "*GEOMOBJECT {\n\t*MESH {\n\t\t*MESH_NUMVERTEX " + str(vertices.size()) +
                       "\n\t\t*MESH_NUMFACES " + str(faces.size()) + "\n\t\t*MESH_VERTEX_LIST {\n";
    for (size_t i = 0; i < vertices.size(); i++)
        text += "\t\t\t*MESH_VERTEX " + str(i) + "\t" + str(vertices[i].x) + "\t" +
                str(vertices[i].y) + "\t" + str(vertices[i].z) + "\n";
    text += "\t\t}\n\t\t*MESH_FACE_LIST {\n";
    for (size_t i = 0; i < faces.size(); i++) {
        const std::array<int, 3>& c = faces[i].first;
        text += "\t\t\t*MESH_FACE " + str(i) + ": A: " + str(c[0]) + " B: " + str(c[1]) +
                " C: " + str(c[2]) + " AB: 1 BC: 1 CA: 0 " + faces[i].second + "\n";
    }
    return text + "\t\t}\n" + rest + "\t}\n" + objectRest + "}\n";
}

// A unit box of eight shared corners, two triangles a side, counter-clockwise
// seen from outside; side s (bottom, top, front, back, left, right) has
// smoothing[s].
std::string boxText(const std::array<std::string, 6>& smoothing, const std::string& rest = "") {
    static const int sides[6][2][3] = {{{0, 2, 1}, {0, 3, 2}}, {{4, 5, 6}, {4, 6, 7}},
                                       {{0, 1, 5}, {0, 5, 4}}, {{3, 7, 6}, {3, 6, 2}},
                                       {{0, 4, 7}, {0, 7, 3}}, {{1, 2, 6}, {1, 6, 5}}};
    std::vector<std::pair<std::array<int, 3>, std::string>> faces;
    for (int s = 0; s < 6; s++) {
        for (const int(&t)[3] : sides[s])
            faces.push_back({{t[0], t[1], t[2]}, smoothing[size_t(s)]});
    }
    return objectText(
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}},
        faces, rest);
}

void expectNear(Vec3 v, Vec3 w, const std::string& where) {
    EXPECT_NEAR(v.x, w.x, 1e-6) << where;
    EXPECT_NEAR(v.y, w.y, 1e-6) << where;
    EXPECT_NEAR(v.z, w.z, 1e-6) << where;
}

const float kRoot2 = 0.70710678f, kRoot3 = 0.57735027f;

// The exporter's own normals win, turned out of the object's space by its
// *NODE_TM rows, which may follow the mesh; a normal without a direction is
// not taken.
TEST(CornerNormals, FromTheFileTurnedByTheTransform) {
    std::string normals = "\t\t*MESH_NORMALS {\n\t\t\t*MESH_FACENORMAL 0 0 0 1\n"
                          "\t\t\t\t*MESH_VERTEXNORMAL 0 1 0 0\n\t\t\t\t*MESH_VERTEXNORMAL 1 0 0 2\n"
                          "\t\t\t\t*MESH_VERTEXNORMAL 2 0 0 0\n\t\t}\n";
    std::string tm = "\t*NODE_TM {\n\t\t*TM_ROW0 0 1 0\n\t\t*TM_ROW1 -1 0 0\n\t\t*TM_ROW2 0 0 1\n"
                     "\t\t*TM_ROW3 5 6 7\n\t}\n";
    std::string text =
        objectText({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{{0, 1, 2}, "*MESH_SMOOTHING 1"}}, normals);
    Blocks b = readBlocks(text.substr(0, text.size() - 2) + tm + "}\n");
    const AseFace& face = b.face(0);
    EXPECT_EQ(face.fileNormals, 3);
    // (1, 0, 0) turned 90 degrees about z; (0, 0, 2) made a unit vector.
    expectNear(face.normal[0], Vec3(0, 1, 0), "turned");
    expectNear(face.normal[1], Vec3(0, 0, 1), "scaled");
    // The zero normal falls back to the smoothing group.
    expectNear(face.normal[2], Vec3(0, 0, 1), "from smoothing");
    EXPECT_FLOAT_EQ(b.object().transform[3][2], 7);
    EXPECT_TRUE(b.problems.empty()) << b.allProblems();
}

TEST(CornerNormals, FromSmoothingGroups) {
    // A hard box, each side in a group of its own or in none: flat sides.
    const Vec3 sideNormal[6] = {{0, 0, -1}, {0, 0, 1},  {0, -1, 0},
                                {0, 1, 0},  {-1, 0, 0}, {1, 0, 0}};
    for (const std::array<std::string, 6>& groups :
         {std::array<std::string, 6>{"*MESH_SMOOTHING 2", "*MESH_SMOOTHING 3", "*MESH_SMOOTHING 4",
                                     "*MESH_SMOOTHING 5", "*MESH_SMOOTHING 6", "*MESH_SMOOTHING 7"},
          std::array<std::string, 6>{"*MESH_SMOOTHING 0", "", "*MESH_SMOOTHING 0",
                                     "*MESH_SMOOTHING", "", "*MESH_SMOOTHING 0"}}) {
        Blocks hard = readBlocks(boxText(groups));
        for (size_t f = 0; f < 12; f++) {
            for (int k = 0; k < 3; k++)
                expectNear(hard.face(f).normal[k], sideNormal[f / 2],
                           groups[0] + " face " + std::to_string(f));
        }
    }
    // A smooth box: the area-weighted sum of the faces at a corner, along the
    // diagonal where both triangles of every side meet.
    std::array<std::string, 6> one;
    one.fill("*MESH_SMOOTHING 1");
    Blocks smooth = readBlocks(boxText(one));
    expectNear(smooth.face(0).normal[0], Vec3(-kRoot3, -kRoot3, -kRoot3), "corner 0");
    expectNear(smooth.face(2).normal[2], Vec3(kRoot3, kRoot3, kRoot3), "corner 6");
    // Corner 1 is in one triangle of the bottom and the front, both of the right.
    float s6 = 1 / std::sqrt(6.0f);
    expectNear(smooth.face(0).normal[2], Vec3(2 * s6, -s6, -s6), "corner 1");

    // Three faces at the origin: A in group 1, B in groups 1 and 3, C in 3.
    // B blends with both; A and C only with B, and not with each other.
    Blocks fan = readBlocks(objectText({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                                       {{{0, 1, 2}, "*MESH_SMOOTHING 1"},
                                        {{0, 2, 3}, "*MESH_SMOOTHING 1,3"},
                                        {{0, 3, 1}, "*MESH_SMOOTHING 3"}}));
    expectNear(fan.face(0).normal[0], Vec3(kRoot2, 0, kRoot2), "A at the origin");
    expectNear(fan.face(1).normal[0], Vec3(kRoot3, kRoot3, kRoot3), "B at the origin");
    expectNear(fan.face(2).normal[0], Vec3(kRoot2, kRoot2, 0), "C at the origin");
    expectNear(fan.face(0).normal[1], Vec3(0, 0, 1), "A and C share no group");

    // Two faces of one group facing opposite ways take their own normals; a
    // face without area takes (0, 0, 1); an undrawable face is left alone.
    Blocks odd = readBlocks(objectText({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}},
                                       {{{0, 1, 2}, "*MESH_SMOOTHING 1"},
                                        {{0, 2, 1}, "*MESH_SMOOTHING 1"},
                                        {{0, 1, 3}, "*MESH_SMOOTHING 2"},
                                        {{0, 1, 9}, "*MESH_SMOOTHING 2"}}));
    expectNear(odd.face(0).normal[0], Vec3(0, 0, 1), "opposite, own");
    expectNear(odd.face(1).normal[0], Vec3(0, 0, -1), "opposite, own");
    expectNear(odd.face(2).normal[1], Vec3(0, 0, 1), "no area");
    EXPECT_FALSE(drawableFace(odd.object(), odd.face(3)));
}

// A crafted vertex shared by many faces, each of its own groups: matching
// them in pairs would cost the square of the faces; beyond a budget the sums
// are taken group by group, and every corner still gets its unit normal.
TEST(CornerNormals, VertexOfVeryManyFacesInDistinctGroups) {
    const int n = 20000;
    std::vector<Vec3> vertices(1, Vec3(0, 0, 0));
    std::vector<std::pair<std::array<int, 3>, std::string>> faces;
    for (int i = 0; i <= n; i++) {
        double a = 6.28318530718 * i / (n + 1);
        vertices.push_back(Vec3(float(std::cos(a)), float(std::sin(a)), 0));
    }
    for (int i = 0; i < n; i++) {
        std::string groups;
        for (int g = 0; g < 32; g++) {
            if ((i + 1) >> g & 1)
                groups += (groups.empty() ? "" : ",") + std::to_string(g + 1);
        }
        faces.push_back({{0, i + 1, i + 2}, "*MESH_SMOOTHING " + groups});
    }
    Blocks fan = readBlocks(objectText(vertices, faces));
    ASSERT_EQ(fan.object().faces.size(), size_t(n));
    EXPECT_EQ(fan.face(n - 1).smoothing, uint32_t(n));
    for (const AseFace& face : fan.object().faces) {
        for (const Vec3& normal : face.normal)
            ASSERT_NEAR(normal.z, 1, 1e-6);
    }
}

TEST(AseBlocks, MaterialsMapsAndSubMaterials) {
    Blocks b = readBlocks(
        "*3DSMAX_ASCIIEXPORT 200\n*COMMENT \"AsciiExport {\"\n*SCENE {\n\t*SCENE_FILENAME "
        "\"a.max\"\n}\n*MATERIAL_LIST {\n\t*MATERIAL_COUNT 2\n\t*MATERIAL 0 {\n"
        "\t\t*MATERIAL_NAME \"Wood and Stone\"\n\t\t*MATERIAL_DIFFUSE 0.5 0.25 1\n"
        "\t\t*MATERIAL_SPECULAR 0.9 0.8 0.7\n\t\t*MAP_DIFFUSE {\n\t\t\t*MAP_NAME \"Map #1\"\n"
        "\t\t\t*BITMAP \"C:\\My Maps\\old wood.png\"\n\t\t\t*UVW_U_OFFSET 0.5\n\t\t}\n"
        "\t\t*MAP_BUMP {\n\t\t\t*BITMAP \"C:\\maps\\bump.png\"\n\t\t\t*UVW_U_TILING 4\n\t\t}\n"
        "\t}\n\t*MATERIAL 1 {\n\t\t*MATERIAL_NAME \"Multi\"\n\t\t*NUMSUBMTLS 3\n"
        "\t\t*SUBMATERIAL 0 {\n\t\t\t*MATERIAL_NAME \"Red\"\n\t\t\t*MATERIAL_DIFFUSE 1 0 0\n"
        "\t\t\t*MAP_SPECULAR {\n\t\t\t\t*BITMAP \"gloss.png\"\n\t\t\t}\n"
        "\t\t\t*MAP_DIFFUSE {\n\t\t\t\t*MAP_CLASS \"Mask\"\n\t\t\t\t*MAP_GENERIC {\n"
        "\t\t\t\t\t*BITMAP \"inner.tga\"\n\t\t\t\t\t*UVW_U_TILING 3\n\t\t\t\t\t*UVW_V_TILING 2\n"
        "\t\t\t\t}\n\t\t\t}\n\t\t}\n\t\t*SUBMATERIAL 1 {\n\t\t\t*MATERIAL_NAME \"Green\"\n"
        "\t\t\t*SUBMATERIAL 0 {\n\t\t\t\t*MATERIAL_NAME \"Deep\"\n\t\t\t}\n\t\t}\n\t}\n}\n");
    ASSERT_EQ(b.model.materials.size(), 2u);
    const AseMaterial& wood = b.model.materials[0];
    EXPECT_EQ(wood.name, "Wood and Stone");
    // The diffuse map's bitmap, blanks kept, over the later bump map's; no
    // tiling keywords: tiling 1.
    EXPECT_EQ(wood.bitmap, "C:\\My Maps\\old wood.png");
    EXPECT_EQ(Floats({wood.diffuse[1], wood.specular[2], wood.uTiling, wood.vTiling}),
              Floats({0.25f, 0.7f, 1, 1}));
    const AseMaterial& multi = b.model.materials[1];
    ASSERT_EQ(multi.subMaterials.size(), 2u);
    const AseMaterial& red = multi.subMaterials[0];
    // A compound diffuse map without a bitmap of its own: its first inner map's.
    EXPECT_EQ(red.bitmap, "inner.tga");
    EXPECT_EQ(Floats({red.diffuse[0], red.uTiling, red.vTiling}), Floats({1, 3, 2}));
    ASSERT_EQ(multi.subMaterials[1].subMaterials.size(), 1u);
    EXPECT_EQ(multi.subMaterials[1].subMaterials[0].name, "Deep");
    ASSERT_EQ(b.problems.size(), 1u) << b.allProblems();
    EXPECT_NE(b.problems[0].find("own.ase:24: *NUMSUBMTLS 3, but the material holds 2"),
              std::string::npos)
        << b.problems[0];
}

// Objects inside groups are objects too; other objects, animation and other
// mapping channels are skipped whole.
TEST(AseBlocks, GroupsAndSkippedBlocks) {
    std::string mesh = objectText({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{{0, 1, 2}, ""}},
                                  "\t\t*MESH_NUMTVERTEX 1\n\t\t*MESH_TVERTLIST {\n"
                                  "\t\t\t*MESH_TVERT 0 0.25 0.5 0\n\t\t}\n"
                                  "\t\t*MESH_TFACELIST {\n\t\t\t*MESH_TFACE 0: 0 0 0\n\t\t}\n"
                                  "\t\t*MESH_MAPPINGCHANNEL 2 {\n\t\t\t*MESH_NUMTVERTEX 1\n"
                                  "\t\t\t*MESH_TVERTLIST {\n\t\t\t\t*MESH_TVERT 0 9 9 9\n"
                                  "\t\t\t}\n\t\t}\n");
    std::string animated = mesh.substr(0, mesh.size() - 2) +
                           "\t*MESH_ANIMATION {\n\t\t*MESH {\n\t\t\t*MESH_VERTEX_LIST {\n"
                           "\t\t\t\t*MESH_VERTEX 0 9 9 9\n\t\t\t}\n\t\t}\n\t}\n"
                           "\t*TM_ANIMATION {\n\t\t*CONTROL_POS_TRACK {\n\t\t}\n\t}\n"
                           "\t*MATERIAL_REF 0\n}\n";
    Blocks b = readBlocks("*HELPEROBJECT {\n\t*NODE_NAME \"{x}\"\n}\n*GROUP \"Outer\" {\n"
                          "\t*GROUP_TM {\n\t\t*TM_ROW3 9 9 9\n\t}\n\t*GROUP \"Inner\" {\n" +
                          animated + "\t}\n}\n*SHAPEOBJECT {\n\t*SHAPE_LINE 0 {\n\t}\n}\n" + mesh);
    ASSERT_EQ(b.model.objects.size(), 2u) << b.allProblems();
    for (const AseObject& o : b.model.objects) {
        EXPECT_EQ(Floats({o.vertices[0].x, o.vertices[2].z, o.texVertices[0].v}),
                  Floats({1, 9, 0.5f}));
        EXPECT_EQ(Ints(o.faces[0].texCorner, o.faces[0].texCorner + 3), Ints({0, 0, 0}));
    }
    EXPECT_EQ(Ints({b.object(0).materialRef, b.object(1).materialRef}), Ints({0, -1}));
    EXPECT_EQ(b.object(0).transform[3][0], 0.0f);
    EXPECT_TRUE(b.problems.empty()) << b.allProblems();
}

// Face lines as exporters vary them.
TEST(AseBlocks, FaceLinesOfEveryExporter) {
    struct Row {
        std::string line;
        Ints corners;
        uint32_t smoothing;
        int materialId;
        std::string problem;
    };
    const Row rows[] = {
        {"*MESH_FACE    0:    A:    1 B:    2 C:    3 AB:    1 BC:    1 CA:    0\t "
         "*MESH_SMOOTHING 1 \t*MESH_MTLID 4",
         {1, 2, 3},
         1,
         4,
         ""},
        {"*MESH_FACE 0:A:1 B:2 C:3 *MESH_SMOOTHING 1,3 *MESH_MTLID 2", {1, 2, 3}, 5, 2, ""},
        {"*MESH_FACE\t0 :\tA : 1\tB : 2\tC : 3\t*MESH_SMOOTHING 1, 32 *MESH_MTLID 1",
         {1, 2, 3},
         0x80000001u,
         1,
         ""},
        {"*MESH_FACE 0: A: 1 B: 2 C: 3 AB: 1 BC: 1 CA: 0\t *MESH_SMOOTHING \t*MESH_MTLID -4",
         {1, 2, 3},
         0,
         -4,
         ""},
        {"*MESH_FACE 0: A: 1 B: 2 C: 3 *MESH_SMOOTHING 0 *MESH_MTLID 0", {1, 2, 3}, 0, 0, ""},
        {"*MESH_FACE 0: A: 1 B: 2 C: 3\n*MESH_SMOOTHING 2\n*MESH_MTLID 7", {1, 2, 3}, 2, 7, ""},
        {"*MESH_FACE 0: A: 1 B: 2 C: 3 *MESH_SMOOTHING 2,33,-1 *MESH_MTLID 0",
         {1, 2, 3},
         2,
         0,
         "own.ase:5: smoothing group 33 outside 1..32, ignored"},
        {"*MESH_FACE 0: A: 1 B: 2 *MESH_MTLID 3",
         {-1, -1, -1},
         0,
         0,
         "own.ase:5: *MESH_FACE 0 without its corners A, B and C, line skipped"},
    };
    for (const Row& row : rows) {
        Blocks b = readBlocks("*GEOMOBJECT {\n*MESH {\n*MESH_NUMFACES 1\n*MESH_FACE_LIST {\n" +
                              row.line + "\n}\n}\n}\n");
        const AseFace& face = b.face(0);
        EXPECT_EQ(Ints(face.corner, face.corner + 3), row.corners) << row.line;
        EXPECT_EQ(face.smoothing, row.smoothing) << row.line;
        EXPECT_EQ(face.materialId, row.materialId) << row.line;
        std::string problems = b.allProblems();
        EXPECT_EQ(problems.find(row.problem), row.problem.empty() ? 0 : problems.find(row.problem))
            << row.line << "\n"
            << problems;
        EXPECT_NE(problems.find(row.problem), std::string::npos) << row.line << "\n" << problems;
    }
}

// A face's *MESH_MTLID picks sub-material (id mod n) of its object's material,
// at each level of nesting; a material without sub-materials serves all.
TEST(AseBlocks, SubMaterialByMaterialId) {
    AseModel model;
    model.materials.resize(2);
    model.materials[0].subMaterials.resize(3);
    for (int i = 0; i < 3; i++)
        model.materials[0].subMaterials[size_t(i)].name = "s" + std::to_string(i);
    model.materials[0].subMaterials[1].subMaterials.resize(2);
    model.materials[0].subMaterials[1].subMaterials[0].name = "s1.0";
    model.materials[0].subMaterials[1].subMaterials[1].name = "s1.1";
    model.materials[1].name = "plain";
    AseObject object;
    AseFace face;
    const std::pair<int, const char*> choices[] = {{0, "s0"},  {2, "s2"},   {5, "s2"},  {-1, "s2"},
                                                   {-3, "s0"}, {4, "s1.0"}, {7, "s1.1"}};
    object.materialRef = 0;
    for (const auto& choice : choices) {
        face.materialId = choice.first;
        const AseMaterial* m = faceMaterial(model, object, face);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->name, choice.second) << choice.first;
    }
    object.materialRef = 1;
    EXPECT_EQ(faceMaterial(model, object, face)->name, "plain");
    for (int ref : {-1, 2}) {
        object.materialRef = ref;
        EXPECT_EQ(faceMaterial(model, object, face), nullptr);
    }
}

// A file of the exporters' layout, small enough to cut everywhere.
std::string exporterFile() {
    return "*3DSMAX_ASCIIEXPORT\t200\n*MATERIAL_LIST {\n\t*MATERIAL_COUNT 1\n\t*MATERIAL 0 {\n"
           "\t\t*MATERIAL_NAME \"Skin\"\n\t\t*MATERIAL_DIFFUSE 0.5000\t0.2500\t1.0000\n"
           "\t\t*MAP_DIFFUSE {\n\t\t\t*BITMAP \"maps\\skin.png\"\n\t\t\t*UVW_U_TILING 2.0000\n"
           "\t\t\t*UVW_V_TILING 0.5000\n\t\t}\n\t}\n}\n" +
           objectText(
               {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
               {{{0, 1, 2}, "*MESH_SMOOTHING 1 *MESH_MTLID 0"},
                {{1, 3, 2}, "*MESH_SMOOTHING 1 *MESH_MTLID 1"}},
               "\t\t*MESH_NUMTVERTEX 2\n\t\t*MESH_TVERTLIST {\n\t\t\t*MESH_TVERT 0\t0.2500\t"
               "0.5000\t0.0000\n\t\t\t*MESH_TVERT 1\t1.0000\t0.7500\t0.0000\n\t\t}\n"
               "\t\t*MESH_NUMTVFACES 2\n\t\t*MESH_TFACELIST {\n\t\t\t*MESH_TFACE 0\t0\t1\t1\n"
               "\t\t\t*MESH_TFACE 1:\t1\t0\t1\n\t\t}\n"
               "\t\t*MESH_NORMALS {\n\t\t\t*MESH_FACENORMAL 0 0 0 1\n"
               "\t\t\t\t*MESH_VERTEXNORMAL 0 0 0 1\n\t\t}\n"
               "\t\t*MESH_NUMCVERTEX 2\n\t\t*MESH_CVERTLIST {\n\t\t\t*MESH_VERTCOL 0\t1.0000\t"
               "0.5000\t0.0000\n\t\t\t*MESH_VERTCOL 1\t0.0000\t0.2500\t1.0000\n\t\t}\n"
               "\t\t*MESH_NUMCVFACES 2\n\t\t*MESH_CFACELIST {\n\t\t\t*MESH_CFACE 0\t0\t1\t1\n"
               "\t\t\t*MESH_CFACE 1\t1\t1\t0\n\t\t}\n",
               "\t*MATERIAL_REF 0\n") +
           objectText({{5, 5, 5}, {6, 5, 5}, {5, 6, 5}}, {{{0, 1, 2}, ""}});
}

// Every bad line is skipped or refused with one "FILE:LINE: what" message;
// damaged files keep what they hold.
TEST(AseBlocksBadInput, SkippedWithFileAndLine) {
    std::string deep, braces(100000, '{');
    for (int i = 0; i < 40; i++)
        deep += "*SUBMATERIAL " + std::to_string(i) + " {\n";
    std::string file = exporterFile();
    struct Case {
        std::string text;
        std::vector<std::string> problems;
    };
    const Case cases[] = {
        {"*COMMENT }\n*GEOMOBJECT\n*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 2\n*MESH_NUMVERTEX 3\n"
         "*MESH_VERTEX_LIST {\n*MESH_VERTEX 5 1 2 3\n*MESH_VERTEX 1 1 2\n*MESH_VERTEX x\n}\n"
         "*MESH_TVERTLIST {\n*MESH_TVERT 0 1 1\n}\n}\n}\n",
         {"own.ase:1: a '}' that closes no block, ignored",
          "own.ase:2: *GEOMOBJECT without its '{', skipped",
          "own.ase:6: *MESH_NUMVERTEX repeated, ignored",
          "own.ase:8: *MESH_VERTEX index 5 outside 0..1, line skipped",
          "own.ase:9: *MESH_VERTEX 1 with 2 of its 3 numbers",
          "own.ase:10: *MESH_VERTEX without its index, line skipped",
          "own.ase:13: *MESH_TVERT before or without *MESH_NUMTVERTEX, line skipped",
          "own.ase:16: object 0 has only 1 of its 2 vertices; the rest are left empty"}},
        // Corners the object does not have.
        {"*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 2\n*MESH_NUMTVERTEX 1\n"
         "*MESH_FACE_LIST {\n*MESH_FACE 0: A: 0 B: 1 C: 9\n*MESH_FACE 1: A: 0 B: 1 C: 2\n}\n"
         "*MESH_TFACELIST {\n*MESH_TFACE 1 0 0 -4\n}\n}\n}\n",
         {"own.ase:7: face 0 names vertex 9 outside 0..2, not drawn",
          "own.ase:11: face 1 names texture vertex -4 outside 0..0, drawn without texture",
          "own.ase:14: object 0 has only 0 of its 3 vertices, 0 of its 1 texture vertices, 1 of "
          "its 2 texture faces; the rest are left empty"}},
        // Vertex colours: read as texture vertices and faces are.
        {"*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 2\n*MESH_NUMCVERTEX 2\n"
         "*MESH_CVERTLIST {\n*MESH_VERTCOL 0 1 0.5 0\n*MESH_VERTCOL 2 1 1 1\n*MESH_VERTCOL 1 "
         "0.25\n}\n*MESH_NUMCVFACES 2\n*MESH_CFACELIST {\n*MESH_CFACE 0 0 1 7\n*MESH_CFACE 1: 1 "
         "0\n}\n}\n}\n",
         {"own.ase:8: *MESH_VERTCOL index 2 outside 0..1, line skipped",
          "own.ase:9: *MESH_VERTCOL 1 with 1 of its 3 numbers",
          "own.ase:13: face 0 names colour vertex 7 outside 0..1, drawn without vertex colours",
          "own.ase:14: *MESH_CFACE 1 with 2 of its 3 corners, line skipped",
          "own.ase:17: object 0 has only 0 of its 3 vertices, 0 of its 2 faces, 1 of its 2 "
          "colour faces; the rest are left empty"}},
        // Counts a tiny file cannot hold.
        {"*MATERIAL_LIST {\n*MATERIAL_COUNT 2000000000\n*MATERIAL 3 {\n}\n}\n*GEOMOBJECT {\n"
         "*MESH {\n*MESH_NUMVERTEX 2000000000\n*MESH_NUMFACES -5\n*MESH_NUMTVERTEX 99999999999\n"
         "}\n}\n",
         {"own.ase:2: *MATERIAL_COUNT 2000000000 is more than a file of this size may ask for",
          "own.ase:3: *MATERIAL 3 outside the 0 materials of *MATERIAL_COUNT, skipped",
          "own.ase:8: *MESH_NUMVERTEX 2000000000 is more than",
          "own.ase:9: *MESH_NUMFACES -5 is negative, taken as 0",
          "own.ase:10: *MESH_NUMTVERTEX 1215752191 is more than"}},
        // Texts: an open quote runs to the line's end; long ones are cut.
        {"*GEOMOBJECT {\n*NODE_NAME \"Box \"01\"\n*NODE_NAME \"" + std::string(5000, 'n') +
             "\"\n*NODE_NAME \"open\r\n}\n",
         {"own.ase:3: quoted text of 5000 bytes cut to 4096",
          "own.ase:4: quoted text without its closing quote, taken to the end of the line"}},
        // Nesting deeper than the reader follows, and deep unknown braces.
        {"*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n" + deep + braces,
         {"own.ase:34: *SUBMATERIAL nested more than 32 blocks deep, skipped with all it holds",
          "own.ase:44: the text ends inside *SUBMATERIAL; the blocks left open are closed there"}},
        // Normals out of order.
        {"*GEOMOBJECT {\n*MESH {\n*MESH_NUMFACES 1\n*MESH_NORMALS {\n*MESH_VERTEXNORMAL 0 1 0 0\n"
         "*MESH_FACENORMAL 3 0 0 1\n*MESH_FACENORMAL 0 0 0 1\n*MESH_VERTEXNORMAL 0 1 0 0\n"
         "*MESH_VERTEXNORMAL 0 1 0 0\n*MESH_VERTEXNORMAL 0 1 0 0\n*MESH_VERTEXNORMAL 0 1 0 0\n"
         "}\n}\n}\n",
         {"own.ase:5: *MESH_VERTEXNORMAL before any *MESH_FACENORMAL, ignored",
          "own.ase:6: *MESH_FACENORMAL index 3 outside 0..0, line skipped",
          "own.ase:11: a fourth *MESH_VERTEXNORMAL for face 0, ignored",
          "own.ase:14: object 0 has only 0 of its 1 faces"}},
        // A file cut off inside a list keeps what it holds, with one line.
        {file.substr(0, file.find("*MESH_VERTEX 2")),
         {"own.ase:21: the text ends inside *MESH_VERTEX_LIST of object 0, with 2 of its 4 "
          "vertices, 0 of its 2 faces; the rest are left empty"}},
        // Keywords without their block where the text goes on after blank
        // lines, and where it ends.
        {"*COMMENT \"a\"\n*GEOMOBJECT\n\n\n*GROUP \"g\"\n\n*GEOMOBJECT",
         {"own.ase:2: *GEOMOBJECT without its '{', skipped",
          "own.ase:5: *GROUP without its '{', skipped",
          "own.ase:7: *GEOMOBJECT without its '{', skipped"}},
        // A material list without its '}' (a known exporter fault): closed
        // where an object or a group begins. Objects without *MATERIAL_REF
        // take material 0.
        {"*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*MAP_BUMP {\n}\n}\n"
         "*GEOMOBJECT {\n*NODE_NAME \"a\"\n}\n*GROUP \"g\" {\n*GEOMOBJECT {\n}\n}\n",
         {"own.ase:7: *GEOMOBJECT begins inside *MATERIAL_LIST, whose '}' is missing; the "
          "blocks left open are closed before it"}},
        // An object without its '}', and one whose skipped block lacks its
        // '}', followed by an object; a block keyword with a stray byte
        // before its brace still opens its block.
        {"*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 0 1 2 3\n"
         "*GEOMOBJECT {\n*TM_ANIMATION {\n\t*GEOMOBJECT {\n}\n*GROUP \"Inner\"\xC1 {\n"
         "*GEOMOBJECT x {\n*NODE_NAME \"d\"\n}\n}\n",
         {"own.ase:6: *GEOMOBJECT begins inside *GEOMOBJECT, whose '}' is missing",
          "own.ase:8: *GEOMOBJECT begins inside *GEOMOBJECT, whose '}' is missing"}},
        // Files that are no ASE model, binary (a sprite editor's) or text.
        {std::string("\x80\0\0\0\xE0\xA5\x01\0\x20\0", 10),
         {"own.ase is not an ASE model: it starts with binary data (80 00 00 00 e0 a5 01 00; "
          "a sprite editor's file, magic 0xA5E0)"}},
        {"\xEF\xBB\xBF\r\n  Name,Value\n*GEOMOBJECT {\n}\n",
         {"own.ase is not an ASE model: it starts with \"Name,Value\", not with a '*' keyword"}},
    };
    for (const Case& c : cases) {
        Blocks b = readBlocks(c.text);
        std::string problems = b.allProblems();
        for (const std::string& p : c.problems)
            EXPECT_NE(problems.find(p), std::string::npos) << p << "\nin:\n" << problems;
        EXPECT_EQ(b.problems.size(), c.problems.size()) << problems;
    }
    Blocks first = readBlocks(cases[0].text);
    ASSERT_EQ(first.model.objects.size(), 1u);
    EXPECT_EQ(Floats({first.object().vertices[1].x, first.object().vertices[1].z}), Floats({1, 0}));
    Blocks colors = readBlocks(cases[2].text);
    const AseObject& colored = colors.object();
    EXPECT_EQ(Floats({colored.colorVertices[0].y, colored.colorVertices[1].x}),
              Floats({0.5f, 0.25f}));
    // A colour face that names a colour vertex the object lacks colours none.
    EXPECT_EQ(Ints(colored.faces[0].colorCorner, colored.faces[0].colorCorner + 3),
              Ints({-1, -1, -1}));
    Blocks texts = readBlocks(cases[4].text);
    EXPECT_EQ(texts.object().name, "open");
    Blocks list = readBlocks(cases[std::size(cases) - 4].text);
    ASSERT_EQ(list.model.objects.size(), 2u);
    EXPECT_EQ(Ints({list.object(0).materialRef, list.object(1).materialRef}), Ints({0, 0}));
    Blocks objects = readBlocks(cases[std::size(cases) - 3].text);
    ASSERT_EQ(objects.model.objects.size(), 4u);
    EXPECT_EQ(objects.object(0).vertices[0].z, 3.0f);
    EXPECT_EQ(objects.object(3).name, "d");
    Blocks binary = readBlocks(cases[std::size(cases) - 2].text);
    EXPECT_FALSE(binary.read);
    EXPECT_TRUE(binary.model.objects.empty());
    Blocks nested = readBlocks(cases[5].text);
    const AseMaterial* m = &nested.model.materials.at(0);
    int depth = 0;
    for (; !m->subMaterials.empty(); m = &m->subMaterials[0])
        depth++;
    EXPECT_EQ(depth, 30);
}

// A real-looking file cut off anywhere keeps every vertex and face whose line
// is whole before the cut, and says once where its text ends.
TEST(AseBlocksBadInput, CutOffCopiesKeepWhatTheyHold) {
    std::string file = exporterFile();
    Blocks whole = readBlocks(file);
    ASSERT_TRUE(whole.problems.empty()) << whole.allProblems();
    // A UTF-16 copy reads the same.
    Blocks wide = readBlocks(utf16(file, true));
    EXPECT_EQ(wide.object(1).vertices[2].y, 6.0f);
    EXPECT_EQ(wide.face(1).texCorner[0], 1);
    for (size_t cut = 0; cut < file.size(); cut++) {
        Blocks b = readBlocks(file.substr(0, cut));
        size_t object = 0;
        for (size_t p = file.find("*GEOMOBJECT"); p < cut; p = file.find('\n', p) + 1) {
            size_t end = file.find('\n', p);
            object += file.compare(p, 11, "*GEOMOBJECT") == 0;
            size_t word = file.find_first_not_of('\t', p);
            if (end >= cut || object == 0 || b.model.objects.size() < object)
                continue;
            const AseObject& got = b.model.objects[object - 1];
            const AseObject& want = whole.model.objects[object - 1];
            if (file.compare(word, 13, "*MESH_VERTEX ") == 0) {
                int index = std::atoi(file.c_str() + word + 13);
                ASSERT_LT(size_t(index), got.vertices.size()) << cut;
                EXPECT_EQ(got.vertices[size_t(index)].x, want.vertices[size_t(index)].x) << cut;
            } else if (file.compare(word, 11, "*MESH_FACE ") == 0) {
                int index = std::atoi(file.c_str() + word + 11);
                ASSERT_LT(size_t(index), got.faces.size()) << cut;
                EXPECT_EQ(got.faces[size_t(index)].corner[2], want.faces[size_t(index)].corner[2]);
                EXPECT_EQ(got.faces[size_t(index)].smoothing, want.faces[size_t(index)].smoothing);
            } else if (file.compare(word, 14, "*MESH_VERTCOL ") == 0) {
                int index = std::atoi(file.c_str() + word + 14);
                ASSERT_LT(size_t(index), got.colorVertices.size()) << cut;
                EXPECT_EQ(got.colorVertices[size_t(index)].z, want.colorVertices[size_t(index)].z);
            } else if (file.compare(word, 12, "*MESH_CFACE ") == 0) {
                int index = std::atoi(file.c_str() + word + 12);
                EXPECT_TRUE(coloredFace(got, got.faces.at(size_t(index)))) << cut;
            }
        }
        int ends = 0;
        for (const std::string& line : b.problems)
            ends += line.find("the text ends inside") != std::string::npos;
        EXPECT_LE(ends, 1) << cut << "\n" << b.allProblems();
    }
}

// The fast number forms read exactly what the full scans read: random
// decimals of every form, and the exporters' four decimals across their range.
TEST(AseBlocks, ShortNumberFormsAgreeWithTheFullScans) {
    std::mt19937 random(7);
    const std::string after[] = {"\n", " ", "\t", "x", "e5", ".5", "5", ":", "*", "E", "}"};
    for (int i = 0; i < 120000; i++) {
        // Whole numbers and sixteenths, the exporters' four decimals at
        // random, random decimals of every form, then a sweep of the four
        // decimals across the exporters' range.
        char fixed[32];
        int m = (i - 20000) * 97 + int(random() % 97);
        if (i % 3 == 0)
            std::snprintf(fixed, sizeof fixed, "%d%s", int(random() % 200000) - 100000,
                          i % 2 ? ".0625" : "");
        else if (i % 3 == 1)
            std::snprintf(fixed, sizeof fixed, "%.4f", (int(random() % 2000001) - 1000000) / 1e3);
        else if (i >= 20000)
            std::snprintf(fixed, sizeof fixed, "%d.%04d", m / 10000, m % 10000);
        std::string number = i % 3 == 2 && i < 20000 ? randomDecimal(random) : fixed;
        std::string s = number + after[random() % std::size(after)];
        Text text = {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
        float fast = 0, full = 0;
        size_t p = 0;
        const unsigned char* end = scanShortDecimal(text.data, text.data + text.size, &fast);
        if (end) {
            ASSERT_TRUE(scanFloat(text, p, &full)) << s;
            ASSERT_EQ(std::memcmp(&fast, &full, sizeof fast), 0) << s;
            ASSERT_EQ(size_t(end - text.data), p) << s;
        }
        int fastInt = 0, fullInt = 0;
        p = 0;
        if (const unsigned char* e = scanShortInt(text.data, text.data + text.size, &fastInt)) {
            ASSERT_TRUE(scanInt(text, p, &fullInt)) << s;
            ASSERT_EQ(fastInt, fullInt) << s;
            ASSERT_EQ(size_t(e - text.data), p) << s;
        }
    }
}

// ---------------------------------------------------------------- both readers

// On a file both read whole, the robot's reader and the block reader agree.
void expectBothReadersAgree(const std::string& text, const std::string& what) {
    std::string why;
    ASSERT_TRUE(readAlikeByBothReaders(text.data(), text.size(), &why)) << what << ": " << why;
    Loaded robot;
    load(robot, text);
    Blocks blocks = readBlocks(text);
    EXPECT_TRUE(sameAsRobotReader(blocks.model, robot.model, &why)) << what << ": " << why;
    EXPECT_TRUE(blocks.problems.empty()) << what << ": " << blocks.allProblems();
}

// A quoted text left open takes the rest of its line with it, a '{' there
// included, for the block reader only: such files are not compared (a fuzz
// finding).
TEST(BothReaders, AnOpenQuoteIsNotReadAlike) {
    for (const char* text :
         {"*GEOMOBJECT {\n*NODE_NAME \"Sph*SCENE {\n}\n}\n",
          "*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*MATERIAL_NAME \"A\n}\n}\n"}) {
        std::string why;
        EXPECT_FALSE(readAlikeByBothReaders(text, std::strlen(text), &why)) << text;
        EXPECT_NE(why.find("a quoted text without its closing quote"), std::string::npos) << why;
    }
}

std::string readFile(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, f))
            bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

TEST(BothReaders, AgreeOnTheFilesOurScriptsWrite) {
    std::string scripts = std::string(ROBOT_SOURCE_DIR) + "/scripts/";
    expectBothReadersAgree(readFile(std::string(ROBOT_SOURCE_DIR) + "/data/robot.ase"),
                           "data/robot.ase");
#ifdef _WIN32
    // The scripts need the build machine's python; the Linux run covers them.
    GTEST_SKIP() << "the generator scripts run on the build machine only";
#else
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("model_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    std::string bench = (folder / "bench.ase").string(), robot = (folder / "y.ase").string();
    ASSERT_EQ(
        std::system(("python3 " + scripts + "gen_ase_bench.py --vertices 300 --objects 3 --out " +
                     bench + " >/dev/null")
                        .c_str()),
        0);
    ASSERT_EQ(std::system(("python3 " + scripts + "gen_robot_ase.py --up y --scale 40 " + robot +
                           " >/dev/null")
                              .c_str()),
              0);
    expectBothReadersAgree(readFile(bench), "gen_ase_bench.py");
    expectBothReadersAgree(readFile(robot), "gen_robot_ase.py --up y --scale 40");
    std::filesystem::remove_all(folder);
#endif
}

// The exporter layout with numbers of every form and length, CRLF lines and
// texts with blanks: every one such file is read alike.
TEST(BothReaders, AgreeOnNumbersOfEveryForm) {
    std::mt19937 random(2024);
    static const char* const odd[] = {"1e3",  "-0",    "+2.5",   "0x1p-2",
                                      "inf",  "nan",   "-inf",   "3e-50",
                                      "1e40", "00012", "1.5E-3", "1.17549435e-38"};
    auto number = [&]() {
        return random() % 4 == 0 ? std::string(odd[random() % std::size(odd)])
                                 : randomDecimal(random);
    };
    // The coordinates, normals and colours of the file, each line's
    // operands from the first that is not an index.
    const std::pair<std::string, size_t> numbered[] = {
        {"*MESH_VERTEX", 2},      {"*MESH_VERTEXNORMAL", 2}, {"*MESH_TVERT", 2},
        {"*MATERIAL_DIFFUSE", 1}, {"*UVW_U_TILING", 1},      {"*UVW_V_TILING", 1}};
    for (int round = 0; round < 200 && !HasFailure(); round++) {
        std::string text = exporterFile(), out;
        for (size_t p = 0, end; p < text.size(); p = end + 1) {
            end = text.find('\n', p);
            std::string line = text.substr(p, end - p);
            size_t start = std::min(line.find_first_not_of(" \t"), line.size());
            std::string keyword = line.substr(start, line.find_first_of(" \t", start) - start);
            size_t first = SIZE_MAX;
            for (const auto& n : numbered)
                first = keyword == n.first ? n.second : first;
            std::string rebuilt;
            size_t word = 0;
            for (size_t q = 0; q < line.size();) {
                size_t next = std::min(line.find_first_of(" \t", q), line.size());
                if (next == q) {
                    rebuilt += line[q++];
                    continue;
                }
                rebuilt +=
                    word++ >= first && word <= first + 3 ? number() : line.substr(q, next - q);
                q = next;
            }
            out += rebuilt + (round % 2 ? "\r\n" : "\n");
        }
        expectBothReadersAgree(out, out);
    }
}

TEST(AseBlocks, InspectorShowsWhatTheBlockReaderReads) {
    std::string path = writeTemporary(exporterFile());
    int status = -1;
    std::string output = inspect("--exporter " + path, &status);
    EXPECT_EQ(status, 0);
    for (const std::string& line :
         {std::string("2 objects, 1 materials, read as exporters mean it"),
          std::string("  object 0 \"\": 4 vertices, 2 faces (2 drawable), 2 texture vertices, "
                      "material 0"),
          std::string("    corner normals: 1 from the file, 5 from smoothing groups; 0 flat "
                      "faces; material ids 0 to 1"),
          std::string("  material 0 \"Skin\": diffuse 0.5 0.25 1, specular 0 0 0, bitmap "
                      "\"maps\\skin.png\", tiling 2 x 0.5"),
          std::string("    vertex colours: 2 colour vertices; 2 of the drawable faces coloured")})
        EXPECT_NE(output.find(line), std::string::npos) << line << "\nin:\n" << output;
    output = inspect("--exporter --dump " + path, &status);
    EXPECT_EQ(status, 0);
    for (const std::string& line :
         {std::string("f 1 1 3 2 1 0 1 smoothing 1 mtlid 1 colour 1 1 0\n"),
          std::string("n 0 0 file 0 0 1\n"), std::string("v 3 1 1 0\n"),
          std::string("c 1 0 0.25 1\n")})
        EXPECT_NE(output.find(line), std::string::npos) << line << "\nin:\n" << output;
    std::remove(path.c_str());
    inspect("--exporter /no/such/file", &status);
    EXPECT_EQ(status, 1);
    path = writeTemporary(std::string("\x20\0\0\0\xE0\xA5", 6));
    output = inspect("--exporter " + path, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find(" is not an ASE model: it starts with binary data"), std::string::npos)
        << output;
    std::remove(path.c_str());
    inspect(std::string("--exporter --bad x") + kQuiet, &status);
    EXPECT_EQ(status, 2);
}

} // namespace
