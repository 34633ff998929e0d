#include "ase_reader.h"
#include "ase_reference.h"
#include "records.h"
#include "vec3.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------- Vec3

void expectVec(Vec3 v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

TEST(Vec3, OperatorsAndGeometry) {
    expectVec(crossProduct(Vec3(1, 0, 0), Vec3(0, 1, 0)), 0, 0, 1);
    expectVec(crossProduct(Vec3(0, 1, 0), Vec3(1, 0, 0)), 0, 0, -1);
    expectVec(vectorBetween(Vec3(1, 2, 3), Vec3(4, 6, 8)), 3, 4, 5);
    EXPECT_FLOAT_EQ(magnitude(Vec3(3, 4, 5)), 7.0710678f);
    expectVec(normalize(Vec3(3, 0, 4)), 0.6f, 0, 0.8f);
    expectVec(Vec3(1, 2, 3) - Vec3(1, 1, 1), 0, 1, 2);
    expectVec(Vec3(1, 2, 3) * 2, 2, 4, 6);
    expectVec(Vec3(2, 4, 6) / 2, 1, 2, 3);
    EXPECT_FLOAT_EQ(dotProduct(Vec3(1, 2, 3), Vec3(4, 5, 6)), 32);
}

TEST(Vec3, DivisionByZeroGivesInfinityAndNaN) {
    Vec3 v = Vec3(1, 0, 0) / 0.0f;
    EXPECT_EQ(v.x, std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(v.y));
    EXPECT_TRUE(std::isnan(v.z));
    Vec3 n = normalize(Vec3(0, 0, 0));
    EXPECT_TRUE(std::isnan(n.x) && std::isnan(n.y) && std::isnan(n.z));
}

// The cross product keeps its products in double and rounds once: in float
// the product (1 + 2^-12)^2 would lose its last 2^-24 before the subtraction.
TEST(Vec3, CrossProductRoundsOnceAtTheEnd) {
    float a = 1.0f + std::ldexp(1.0f, -12);
    Vec3 c = crossProduct(Vec3(0, a, 1), Vec3(0, 1, a));
    EXPECT_EQ(c.x, std::ldexp(1.0f, -11) + std::ldexp(1.0f, -24));
    EXPECT_EQ(dotProduct(Vec3(a, 1, 0), Vec3(a, -1, 0)),
              std::ldexp(1.0f, -11) + std::ldexp(1.0f, -24));
}

// The sum of squares is rounded to float before the root: squares beyond
// the float range give infinity, squares below it give zero.
TEST(Vec3, MagnitudeRoundsTheSquaresToFloat) {
    EXPECT_EQ(magnitude(Vec3(1e20f, 0, 0)), std::numeric_limits<float>::infinity());
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

const char* kSmallModel = "*3DSMAX_ASCIIEXPORT\t200\n"
                          "*MATERIAL_LIST {\n"
                          "\t*MATERIAL_COUNT 2\n"
                          "\t*MATERIAL 0 {\n"
                          "\t\t*MATERIAL_NAME \"Skin\"\n"
                          "\t\t*MATERIAL_AMBIENT 0.1000\t0.1000\t0.1000\n"
                          "\t\t*MATERIAL_DIFFUSE 0.5000\t0.2500\t1.0000\n"
                          "\t\t*MATERIAL_SPECULAR 0.9000\t0.8000\t0.7000\n"
                          "\t\t*MAP_DIFFUSE {\n"
                          "\t\t\t*BITMAP \"data\\skin.bmp\"\n"
                          "\t\t\t*UVW_U_TILING 2.0000\n"
                          "\t\t\t*UVW_V_TILING 4.0000\n"
                          "\t\t}\n"
                          "\t}\n"
                          "\t*MATERIAL 1 {\n"
                          "\t\t*MATERIAL_NAME \"Metal\"\n"
                          "\t}\n"
                          "}\n"
                          "*GEOMOBJECT {\n"
                          "\t*NODE_NAME \"Body\"\n"
                          "\t*MESH {\n"
                          "\t\t*MESH_NUMVERTEX 4\n"
                          "\t\t*MESH_NUMFACES 2\n"
                          "\t\t*MESH_VERTEX_LIST {\n"
                          "\t\t\t*MESH_VERTEX    0\t0.0000\t0.0000\t0.0000\n"
                          "\t\t\t*MESH_VERTEX    1\t1.0000\t0.0000\t0.0000\n"
                          "\t\t\t*MESH_VERTEX    2\t0.0000\t1.0000\t0.0000\n"
                          "\t\t\t*MESH_VERTEX    3\t1.0000\t2.0000\t3.0000\n"
                          "\t\t}\n"
                          "\t\t*MESH_FACE_LIST {\n"
                          "\t\t\t*MESH_FACE    0:    A:    0 B:    1 C:    2 AB:    1 BC:    1 "
                          "CA:    0\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0\n"
                          "\t\t\t*MESH_FACE    1:    A:    1 B:    3 C:    2 AB:    1 BC:    1 "
                          "CA:    0\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0\n"
                          "\t\t}\n"
                          "\t\t*MESH_NUMTVERTEX 2\n"
                          "\t\t*MESH_TVERTLIST {\n"
                          "\t\t\t*MESH_TVERT 0\t0.5000\t0.2500\t0.0000\n"
                          "\t\t\t*MESH_TVERT 1\t0.2500\t0.5000\t0.0000\n"
                          "\t\t}\n"
                          "\t\t*MESH_NUMTVFACES 2\n"
                          "\t\t*MESH_TFACELIST {\n"
                          "\t\t\t*MESH_TFACE 0\t0\t1\t1\n"
                          "\t\t\t*MESH_TFACE 1:\t1\t0\t1\n"
                          "\t\t}\n"
                          "\t\t*MESH_NORMALS {\n"
                          "\t\t\t*MESH_FACENORMAL 0\t0.0000\t0.0000\t-1.0000\n"
                          "\t\t\t\t*MESH_VERTEXNORMAL 0\t0.0000\t0.0000\t-1.0000\n"
                          "\t\t}\n"
                          "\t}\n"
                          "\t*MATERIAL_REF 0\n"
                          "}\n";

// ---------------------------------------------------------------- reader

TEST(AseReader, ReadsMaterialsAndObjects) {
    Loaded l;
    load(l, kSmallModel);
    ASSERT_EQ(l.model.materialCount, 2);
    ASSERT_EQ(l.model.objectCount, 1);
    EXPECT_STREQ(l.material(0).strMaterialName, "Skin");
    EXPECT_STREQ(l.material(0).strBitmap, "data\\skin.bmp");
    EXPECT_FLOAT_EQ(l.material(0).diffuse[1], 0.25f);
    EXPECT_FLOAT_EQ(l.material(0).specular[2], 0.7f);
    EXPECT_EQ(l.material(0).uTiling, 2.0f);
    EXPECT_EQ(l.material(0).vTiling, 4.0f);
    EXPECT_STREQ(l.material(1).strMaterialName, "Metal");
    EXPECT_EQ(l.material(1).strBitmap[0], 0);

    const t3DObject& o = l.object();
    EXPECT_EQ(o.vertexCount, 4);
    EXPECT_EQ(o.faceCount, 2);
    EXPECT_EQ(o.texVertexCount, 2);
    EXPECT_TRUE(o.hasTexture);
    // The file's (1, 2, 3) becomes (1, 3, -2).
    expectVec(o.pVertices[3], 1, 3, -2);
    // (0.5, 0.25) scaled by the tiling (2, 4).
    EXPECT_EQ(o.pTexVertices[0].u, 1.0f);
    EXPECT_EQ(o.pTexVertices[0].v, 1.0f);
    EXPECT_EQ(o.pTriangles[1].vertexIndex[1], 3);
    EXPECT_EQ(o.pTriangles[0].texIndex[2], 1);
    EXPECT_EQ(o.pTriangles[1].texIndex[0], 1);
    EXPECT_TRUE(l.reader.problems.empty()) << problemsOf(l);
}

TEST(AseReader, MissingSectionsGiveZeros) {
    Loaded empty;
    load(empty, "");
    EXPECT_EQ(empty.model.objectCount, 0);
    EXPECT_TRUE(empty.model.objects.empty());

    // "*MATERIAL" sections without a count are not read; an announced
    // material the file lacks stays all zero.
    Loaded uncounted;
    load(uncounted, "*MATERIAL 0 {\n*MATERIAL_NAME \"A\"\n}\n");
    EXPECT_EQ(uncounted.model.materialCount, 0);
    Loaded missing;
    load(missing, "*MATERIAL_COUNT 2\n*MATERIAL 0 {\n*MATERIAL_NAME \"A\"\n}\n");
    ASSERT_EQ(missing.model.materials.size(), 2u);
    EXPECT_STREQ(missing.material(0).strMaterialName, "A");
    EXPECT_EQ(missing.material(1).strMaterialName[0], 0);
    EXPECT_EQ(missing.material(1).uTiling, 0.0f);

    // An object without counts has no arrays, material 0 and no texture.
    Loaded bare;
    load(bare, "*GEOMOBJECT {\n}\n");
    ASSERT_EQ(bare.model.objectCount, 1);
    EXPECT_EQ(bare.object().pVertices, nullptr);
    EXPECT_EQ(bare.object().pTexVertices, nullptr);
    EXPECT_EQ(bare.object().materialId, 0);
    EXPECT_FALSE(bare.object().hasTexture);
}

TEST(AseReader, OperandPatterns) {
    Loaded l;
    load(l, "*MATERIAL_COUNT 1\n*MATERIAL\n"
            "*MATERIAL_NAME \"Two words\"\n"
            "*BITMAP \"first.bmp\"\n*BITMAP \"second.bmp\"\n"
            "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 4\n*MESH_NUMTVERTEX 1\n"
            "*MESH_FACE 3: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
            "*MESH_TFACE 3 4 5 6\n*MESH_TFACE 2: 7 8 9\n"
            "*MESH_TVERT 0 0.5 0.25 0.0\n"
            "*MATERIAL_REF -0.9\n*MATERIAL_REF 5\n");
    // A quoted text with a blank keeps its first word less its last character.
    EXPECT_STREQ(l.material().strMaterialName, "Tw");
    EXPECT_STREQ(l.material().strBitmap, "second.bmp");
    const t3DObject& o = l.object();
    EXPECT_EQ(o.pTriangles[3].vertexIndex[2], 2);
    EXPECT_EQ(o.pTriangles[3].texIndex[0], 4);
    EXPECT_EQ(o.pTriangles[2].texIndex[2], 9);
    // The first "*MATERIAL_REF" counts, cut toward zero.
    EXPECT_EQ(o.materialId, 0);
    // No tiling keywords: tiling 0 makes every texture vertex (0, 0).
    EXPECT_EQ(o.pTexVertices[0].u, 0.0f);
    EXPECT_TRUE(o.hasTexture);
}

// Integers beyond the range of long are held at its limit and then cut to
// int, as the C library's "%d" does.
TEST(AseReader, HugeIntegersWrapLikeTheCLibrary) {
    std::string text = "*GEOMOBJECT\n*MESH_NUMFACES 1\n"
                       "*MESH_TFACE 0 4294967297 99999999999999999999 -99999999999999999999\n"
                       "*MESH_FACE 0: A: 18446744073709551617 B: 9223372036854775807 C: "
                       "-9223372036854775808\n";
    Loaded l;
    load(l, text);
    const int* tex = l.object().pTriangles[0].texIndex;
    EXPECT_EQ(tex[0], 1);
    EXPECT_EQ(tex[1], -1);
    EXPECT_EQ(tex[2], 0);
    expectSameAsPlainReader(text);
}

// Decimal numbers of every length and exponent convert to the float the C
// library's "%f" gives, to the last bit.
TEST(AseReader, NumbersRoundLikeTheCLibrary) {
    std::mt19937 random(99);
    const int count = 600;
    std::string text = "*GEOMOBJECT\n*MESH_NUMVERTEX " + std::to_string(count) + "\n";
    for (int i = 0; i < count; i++) {
        text += "*MESH_VERTEX " + std::to_string(i);
        for (int k = 0; k < 3; k++) {
            std::string digits;
            int length = 1 + int(random() % 25);
            for (int d = 0; d < length; d++)
                digits += char('0' + random() % 10);
            if (random() % 2)
                digits.insert(random() % digits.size() + 1, ".");
            if (random() % 3 == 0)
                digits += "e" + std::to_string(int(random() % 90) - 45);
            text += (random() % 2 ? " -" : " ") + digits;
        }
        text += "\n";
    }
    expectSameAsPlainReader(text);

    // Just above the midpoint between 1 and the next float: rounding through
    // double would land on the midpoint and then round down to 1.
    Loaded l;
    load(l, "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n"
            "*MESH_VERTEX 0 1.0000000596046447753906250000001 1 1\n");
    EXPECT_EQ(l.object().pVertices[0].x, std::nextafter(1.0f, 2.0f));
}

TEST(AseReader, LexicalRules) {
    Loaded l;
    // CRLF lines, a keyword only as a prefix, unknown keywords skipped with
    // their line, and a count operand with a leading plus.
    load(l, "*GEOMOBJECT_LIST\r\n*GEOMOBJECT {\r\n\t*MESH_NUMVERTEX +2\r\n"
            "\t*MESH_VERTEX_LIST {\r\n\t\t*MESH_VERTEX 1 4.5 -2.25e1 0x1p2\r\n"
            "\t*MESH_VERTEXNORMAL 0 9 9 9\r\n\t*MESH_VERTEX 0 nan inf -inf\r\n}\r\n");
    ASSERT_EQ(l.model.objectCount, 1);
    const t3DObject& o = l.object();
    ASSERT_EQ(o.vertexCount, 2);
    expectVec(o.pVertices[1], 4.5f, 4.0f, 22.5f);
    EXPECT_TRUE(std::isnan(o.pVertices[0].x));
    EXPECT_EQ(o.pVertices[0].y, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(o.pVertices[0].z, -std::numeric_limits<float>::infinity());
}

// Behind an unknown word at most 99 characters are thrown away; the rest of
// a longer line is read on as words.
TEST(AseReader, LongLinesAreReadOnAfterTheDiscard) {
    std::string pad(98, 'x');
    Loaded l;
    load(l, "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*JUNK " + pad + " *MESH_VERTEX 0 1 2 3\n");
    EXPECT_EQ(l.object().pVertices[0].x, 1.0f);
    Loaded shorter;
    load(shorter,
         "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n*JUNK " + pad.substr(70) + " *MESH_VERTEX 0 1 2 3\n");
    EXPECT_EQ(shorter.object().pVertices[0].x, 0.0f);
}

// ---------------------------------------------------------------- bad input

TEST(AseReaderBadInput, IndicesOutsideTheirArraysAreSkipped) {
    Loaded l;
    load(l,
         "*GEOMOBJECT\n*MESH_NUMVERTEX 2\n*MESH_NUMFACES 1\n"
         "*MESH_VERTEX 0 1 1 1\n*MESH_VERTEX 70 1 1 1\n*MESH_VERTEX -1 1 1 1\n"
         "*MESH_FACE 1: A: 0 B: 1 C: 0\n*MESH_FACE 0: A: 0 B: 1 C: 9\n"
         "*MESH_TVERT 0 1 1\n",
         "data\\robot.ase");
    EXPECT_EQ(l.object().pVertices[0].x, 1.0f);
    std::string problems = problemsOf(l);
    EXPECT_NE(problems.find("data\\robot.ase:5: *MESH_VERTEX index 70 outside 0..1, line skipped"),
              std::string::npos)
        << problems;
    EXPECT_NE(problems.find("robot.ase:6: *MESH_VERTEX index -1 outside"), std::string::npos);
    EXPECT_NE(problems.find(":7: *MESH_FACE index 1 outside 0..0"), std::string::npos);
    EXPECT_NE(problems.find(":9: *MESH_TVERT in an object without *MESH_NUMTVERTEX"),
              std::string::npos);
    EXPECT_NE(problems.find(":8: triangle 0 names vertex 9 outside 0..1"), std::string::npos);
    EXPECT_FALSE(l.object().hasTexture);
    // The broken triangle is left out of the normals: vertex 0 has no other.
    EXPECT_TRUE(std::isnan(l.object().pVertexNormals[0].x));
}

TEST(AseReaderBadInput, CountsTheFileCannotHoldAreRefused) {
    Loaded l;
    load(l, "\n*MATERIAL_COUNT 2000000000\n*GEOMOBJECT\n*MESH_NUMVERTEX 2000000000\n"
            "*MESH_NUMFACES -5\n*MESH_NUMTVERTEX 99999999999\n*MESH_VERTEX 0 1 2 3\n");
    EXPECT_EQ(l.model.materialCount, 0);
    EXPECT_TRUE(l.model.materials.empty());
    EXPECT_EQ(l.object().vertexCount, 0);
    EXPECT_EQ(l.object().faceCount, 0);
    EXPECT_EQ(l.object().texVertexCount, 0);
    std::string problems = problemsOf(l);
    EXPECT_NE(problems.find(":2: *MATERIAL_COUNT 2000000000 is more than"), std::string::npos)
        << problems;
    EXPECT_NE(problems.find(":4: *MESH_NUMVERTEX 2000000000 is more than"), std::string::npos);
    EXPECT_NE(problems.find(":5: *MESH_NUMFACES -5 is negative"), std::string::npos);
    EXPECT_NE(problems.find(":7: *MESH_VERTEX index 0 but *MESH_NUMVERTEX is 0, line skipped"),
              std::string::npos);
}

TEST(AseReaderBadInput, MaterialOutsideTheListSkipsTextureVertices) {
    Loaded l;
    load(l, "*MATERIAL_COUNT 1\n*MATERIAL\n*UVW_U_TILING 1\n*GEOMOBJECT\n*MESH_NUMTVERTEX 1\n"
            "*MESH_TVERT 0 0.5 0.5\n*MATERIAL_REF 3\n");
    EXPECT_FALSE(l.object().hasTexture);
    EXPECT_EQ(l.object().pTexVertices[0].u, 0.0f);
    EXPECT_NE(problemsOf(l).find(":6: *MESH_TVERT scaled by material 3"), std::string::npos)
        << problemsOf(l);
}

TEST(AseReaderBadInput, RepeatedProblemsAreCountedNotListed) {
    std::string text = "*GEOMOBJECT\n*MESH_NUMVERTEX 1\n";
    for (int i = 0; i < 10; i++)
        text += "*MESH_VERTEX 5 1 2 3\n";
    Loaded l;
    load(l, text);
    ASSERT_EQ(l.reader.problems.size(), 4u) << problemsOf(l);
    EXPECT_NE(l.reader.problems[3].find("7 further problems"), std::string::npos);
}

TEST(AseReaderBadInput, LongTextsAreCut) {
    std::string longName(400, 'n');
    Loaded l;
    load(l, "*MATERIAL_COUNT 1\n*MATERIAL\n*MATERIAL_NAME \"" + longName + "\"\n*" + longName +
                " x\n");
    EXPECT_EQ(std::strlen(l.material().strMaterialName), 253u);
    EXPECT_NE(problemsOf(l).find(":3: quoted text of 401 characters cut to 254"), std::string::npos)
        << problemsOf(l);
}

TEST(AseReaderBadInput, TruncatedAndBinaryInputDoesNotCrash) {
    std::string text = kSmallModel;
    std::mt19937 random(7);
    for (size_t cut = 0; cut < text.size(); cut += 7) {
        Loaded l;
        load(l, text.substr(0, cut));
    }
    for (int round = 0; round < 50; round++) {
        std::string noisy = text;
        for (int k = 0; k < 20; k++)
            noisy[random() % noisy.size()] = char(random() % 256);
        expectSameAsPlainReader(noisy);
    }
}

TEST(AseReaderBadInput, MissingFileIsReported) {
    tModel model;
    AseReader reader;
    EXPECT_FALSE(reader.loadModel(nullptr, "x"));
    EXPECT_FALSE(reader.loadModel(&model, nullptr));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.loadModel(&model, "no\\such\\robot.ase"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Unable to find or open the file: no\\such\\robot.ase");
    EXPECT_EQ(model.objectCount, 0);
}

// ---------------------------------------------------------------- files

std::string writeTemporary(const std::string& bytes) {
    char path[] = "/tmp/model_test_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
    return path;
}

std::string utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

TEST(AseReaderFiles, ByteOrderMarks) {
    Loaded plain;
    load(plain, kSmallModel);
    for (const std::string& bytes : {"\xEF\xBB\xBF" + std::string(kSmallModel),
                                     utf16(kSmallModel, false), utf16(kSmallModel, true)}) {
        Loaded l;
        std::string path = writeTemporary(bytes);
        l.reader.printProblems = false;
        ASSERT_TRUE(l.reader.loadModel(&l.model, path.c_str()));
        unlink(path.c_str());
        std::string why;
        EXPECT_TRUE(sameModel(l.model, plain.model, &why)) << why;
    }
}

TEST(AseReaderFiles, EmptyFileGivesAnEmptyModel) {
    std::string path = writeTemporary("");
    Loaded l;
    EXPECT_TRUE(l.reader.loadModel(&l.model, path.c_str()));
    unlink(path.c_str());
    EXPECT_EQ(l.model.objectCount, 0);
    EXPECT_EQ(l.model.materialCount, 0);
    EXPECT_TRUE(l.reader.problems.empty());
}

unsigned int madeTextures = 0;
std::string texturePaths;
void fakeTextureMaker(const char* path, unsigned int* name) {
    texturePaths += std::string(path) + ";";
    *name = ++madeTextures;
}

TEST(AseReaderFiles, TexturesForMaterialsWithBitmaps) {
    std::string path =
        writeTemporary(std::string(kSmallModel) + "*MATERIAL\n*BITMAP \"late.bmp\"\n");
    Loaded l;
    l.reader.textureMaker = fakeTextureMaker;
    texturePaths.clear();
    ASSERT_TRUE(l.reader.loadModel(&l.model, path.c_str()));
    unlink(path.c_str());
    // Only the counted materials; the second has no bitmap.
    EXPECT_EQ(texturePaths, "data\\skin.bmp;");
    EXPECT_EQ(l.material(0).textureId, madeTextures);
    EXPECT_EQ(l.material(1).textureId, 0u);
}

TEST(AseReaderFiles, InspectorDumpFormat) {
    std::string path = writeTemporary("*MATERIAL_COUNT 1\n*MATERIAL\n*MATERIAL_NAME \"M\"\n"
                                      "*MATERIAL_DIFFUSE 0.1 0.2 0.3\n*UVW_U_TILING 2\n"
                                      "*GEOMOBJECT\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n"
                                      "*MESH_NUMTVERTEX 1\n*MESH_VERTEX 1 1 0 0\n"
                                      "*MESH_VERTEX 2 0 -1 0\n"
                                      "*MESH_FACE 0: A: 0 B: 1 C: 2\n*MESH_TFACE 0 0 0 0\n"
                                      "*MESH_TVERT 0 0.25 1\n");
    std::string command = std::string(ASE_INSPECT) + " --dump " + path;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    unlink(path.c_str());
    EXPECT_EQ(output, "objects 1\n"
                      "materials 1\n"
                      "material 0 name \"M\" bitmap \"\" diffuse 0.100000001 0.200000003 "
                      "0.300000012 specular 0 0 0 utiling 2 vtiling 0\n"
                      "object 0 vertices 3 faces 1 texvertices 1 material 0 textured 1\n"
                      "v 0 0 0 0\n"
                      "v 1 1 0 -0\n"
                      "v 2 0 0 1\n"
                      "n 0 -0 -1 -0\n"
                      "n 1 -0 -1 -0\n"
                      "n 2 -0 -1 -0\n"
                      "t 0 0.5 0\n"
                      "f 0 0 1 2 0 0 0\n");

    // The summary lists the objects, the materials and every problem.
    path = writeTemporary("*MATERIAL_COUNT 1\n*MATERIAL\n*BITMAP \"a.bmp\"\n*GEOMOBJECT\n"
                          "*MESH_NUMVERTEX 1\n*MESH_VERTEX 4 1 2 3\n");
    pipe = popen((std::string(ASE_INSPECT) + " " + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    output.clear();
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    unlink(path.c_str());
    EXPECT_NE(output.find("object 0: 1 vertices, 0 faces, 0 texture vertices, material 0"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("material 0 \"\": bitmap \"a.bmp\", tiling 0 x 0"), std::string::npos);
    EXPECT_NE(output.find(path + ":6: *MESH_VERTEX index 4 outside 0..0, line skipped"),
              std::string::npos);

    EXPECT_NE(system((std::string(ASE_INSPECT) + " >/dev/null 2>&1").c_str()), 0);
    int status = system((std::string(ASE_INSPECT) + " /no/such/file >/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    status = system((std::string(ASE_INSPECT) + " --bad x y 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

// ---------------------------------------------------------------- normals

void addVertex(t3DObject& o, int i, Vec3 v) {
    o.pVertices[i] = v;
}

t3DObject meshObject(int vertices, std::initializer_list<std::array<int, 3>> triangles) {
    t3DObject o;
    std::memset(static_cast<void*>(&o), 0, sizeof o);
    o.vertexCount = vertices;
    o.pVertices = new Vec3[size_t(vertices)];
    o.faceCount = int(triangles.size());
    o.pTriangles = new tTriangle[triangles.size()]();
    int f = 0;
    for (const auto& t : triangles) {
        for (int k = 0; k < 3; k++)
            o.pTriangles[f].vertexIndex[k] = t[size_t(k)];
        f++;
    }
    return o;
}

TEST(VertexNormals, WeightedByTriangleArea) {
    tModel model;
    model.objects.push_back(meshObject(5, {{0, 1, 2}, {0, 3, 4}}));
    model.objectCount = 1;
    t3DObject& o = model.objects[0];
    addVertex(o, 0, Vec3(0, 0, 0));
    addVertex(o, 1, Vec3(1, 0, 0));
    addVertex(o, 2, Vec3(0, 1, 0));
    addVertex(o, 3, Vec3(0, 0, 2));
    addVertex(o, 4, Vec3(2, 0, 0));
    AseReader().computeVertexNormals(&model);
    expectVec(o.pVertexNormals[1], 0, 0, 1);
    // (0, 0, 1) + (0, 4, 0): the larger triangle dominates.
    expectVec(o.pVertexNormals[0], 0, 0.9701425f, 0.2425356f);
    releaseModelArrays(model);
}

TEST(VertexNormals, DegenerateTriangles) {
    tModel model;
    // Vertex 0: a collinear triangle adds nothing, a triangle naming it twice
    // counts once. Vertex 3 has only a collinear triangle, vertex 4 only a
    // triangle of one point, vertices 6 and 7 two opposite triangles, vertex 5
    // none: all NaN.
    model.objects.push_back(meshObject(
        8, {{0, 1, 2}, {0, 1, 3}, {0, 0, 2}, {1, 2, 0}, {4, 4, 4}, {6, 7, 2}, {7, 6, 2}}));
    model.objectCount = 1;
    t3DObject& o = model.objects[0];
    addVertex(o, 0, Vec3(0, 0, 0));
    addVertex(o, 1, Vec3(1, 0, 0));
    addVertex(o, 2, Vec3(0, 1, 0));
    addVertex(o, 3, Vec3(2, 0, 0));
    addVertex(o, 4, Vec3(5, 5, 5));
    addVertex(o, 5, Vec3(1, 1, 1));
    addVertex(o, 6, Vec3(3, 3, 3));
    addVertex(o, 7, Vec3(4, 3, 3));
    AseReader().computeVertexNormals(&model);
    expectVec(o.pVertexNormals[0], 0, 0, 1);
    for (int v : {3, 4, 5, 6, 7})
        EXPECT_TRUE(std::isnan(o.pVertexNormals[v].x)) << v;
    releaseModelArrays(model);

    tModel none;
    AseReader().computeVertexNormals(&none);
    EXPECT_TRUE(none.objects.empty());
}

// ---------------------------------------------------------------- equivalence

// Random texts made of the format's lines, with the kinds of trouble the
// passes part on: long lines, numbers in odd forms, repeated and late count
// keywords, lines in odd orders, CRLF.
std::string randomAse(std::mt19937& random) {
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto number = [&]() -> std::string {
        static const char* odd[] = {"1e3",
                                    "-0",
                                    "+2.5",
                                    ".5",
                                    "7.",
                                    "1e",
                                    "inf",
                                    "nan",
                                    "0x1p-2",
                                    "-",
                                    "x",
                                    "1.2.3",
                                    "3e-50",
                                    "1e40",
                                    "00012",
                                    "1.5E-3",
                                    "2e+2x",
                                    "1e-",
                                    "4e5.5",
                                    "1e1e1",
                                    "0.3e",
                                    "1.17549435e-38",
                                    "3.4028236e38",
                                    "0.000000000000000000000000000000000000000000001"};
        if (pick(8) == 0)
            return odd[pick(int(sizeof odd / sizeof *odd))];
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.4f", (pick(20001) - 10000) / 1000.0);
        return buffer;
    };
    auto index = [&]() { return std::to_string(pick(12) - 1); };
    auto blank = [&]() { return pick(4) ? std::string("\t") : std::string(" "); };
    std::string text;
    int lines = 20 + pick(60);
    for (int i = 0; i < lines; i++) {
        std::string line(size_t(pick(4)), '\t');
        switch (pick(22)) {
        case 0:
            line += "*GEOMOBJECT {";
            break;
        case 1:
            line += "*MATERIAL_COUNT " + std::to_string(pick(4));
            break;
        case 2:
            line += "*MATERIAL " + std::to_string(pick(3)) + " {";
            break;
        case 3:
            line += "*MATERIAL_NAME \"" + std::string(pick(2) ? "Two words\"" : "One\"");
            break;
        case 4:
            line += (pick(2) ? "*MATERIAL_DIFFUSE " : "*MATERIAL_SPECULAR ") + number() + blank() +
                    number() + blank() + number();
            break;
        case 5:
            line += "*BITMAP " + std::string(pick(3) ? "\"maps\\a.bmp\"" : "noquote");
            break;
        case 6:
            line += (pick(2) ? "*UVW_U_TILING " : "*UVW_V_TILING ") + number();
            break;
        case 7:
        case 8:
            line += (pick(3) == 0   ? "*MESH_NUMFACES "
                     : pick(2) == 0 ? "*MESH_NUMTVERTEX "
                                    : "*MESH_NUMVERTEX ") +
                    std::to_string(pick(12));
            break;
        case 9:
        case 10:
            line += "*MESH_VERTEX " + index() + blank() + number() + blank() + number() + blank() +
                    number();
            break;
        case 11:
        case 12:
            line += "*MESH_TVERT " + index() + blank() + number() + blank() + number() + blank() +
                    "0.0000";
            break;
        case 13:
        case 14:
            line += "*MESH_FACE " + index() + ":    A: " + index() + " B: " + index() +
                    " C: " + index() +
                    " AB:    1 BC:    1 CA:    0\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0";
            break;
        case 15:
            line += "*MESH_TFACE " + index() + (pick(2) ? ":" : "") + blank() + index() + blank() +
                    index() + blank() + index();
            break;
        case 16:
            line += "*MATERIAL_REF " + std::to_string(pick(3)) + (pick(2) ? ".7" : "");
            break;
        case 17:
            line += "*MESH_VERTEXNORMAL 0\t0.0000\t0.0000\t-1.0000";
            break;
        case 18:
            line += "*COMMENT " + std::string(size_t(80 + pick(60)), 'c') + " *MESH_VERTEX 1 2 3 4";
            break;
        case 19:
            line += "}";
            break;
        case 20:
            // Operands that run on to the next line.
            line += "*MESH_VERTEX " + index() + "\n" + number() + " " + number() + "\n" + number();
            break;
        default:
            line +=
                "*MESH_FACE " + index() + ": A: " + index() + "\nB: " + index() + " C: " + index();
            break;
        }
        text += line + (pick(5) ? "\n" : "\r\n");
    }
    return text;
}

TEST(AseReaderEquivalence, HandWrittenFiles) {
    expectSameAsPlainReader(kSmallModel);
    // Material reference behind the mesh, data before and between counts,
    // repeated counts, degenerate and repeated-corner triangles.
    expectSameAsPlainReader("*MATERIAL_COUNT 1\n*MATERIAL\n*UVW_U_TILING 3\n*UVW_V_TILING 0.5\n"
                            "*GEOMOBJECT\n*MESH_TVERT 0 1 1\n*MESH_NUMTVERTEX 2\n"
                            "*MESH_VERTEX 0 1 2 3\n*MESH_NUMVERTEX 3\n*MESH_VERTEX 1 1 1 1\n"
                            "*MESH_NUMFACES 2\n*MESH_FACE 0: A: 0 B: 1 C: 1\n"
                            "*MESH_FACE 1: A: 0 B: 0 C: 0\n*MESH_NUMVERTEX 3\n"
                            "*MESH_VERTEX 2 5 5 5\n*MESH_TVERT 1 2\n*MESH_TVERT 1 3 x\n"
                            "*MESH_TVERT 1 4\n*MATERIAL_REF 0\n"
                            "*GEOMOBJECT\n*MESH_NUMFACES 1\n*MESH_FACE 0: A: 0 B: 1 C: 2\n");
    // Long lines with keywords behind the discard; quoted texts with blanks.
    std::string pad(120, ' ');
    expectSameAsPlainReader("*MATERIAL_COUNT 2\n*MATERIAL" + pad +
                            "*MATERIAL_NAME \"x y\"\n"
                            "*MATERIAL\n*BITMAP \"a b.bmp\"\n*GEOMOBJECT\n*MESH_NUMVERTEX 2\n"
                            "*MESH_VERTEX 0 1 2 3" +
                            pad +
                            "*GEOMOBJECT\n"
                            "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1 2\r\n3\n");
    // Words over 254 characters, and a zero byte that ends a keyword early
    // as it would in a C string.
    std::string zero("*GEOMOBJECT\n*MESH_NUMVERTEX 2\n*MESH_VERTEX\0junk 1 5 6 7\n", 56);
    expectSameAsPlainReader(zero + "*" + std::string(300, 'y') + "\n*MESH_VERTEX 0 1 2 3 " +
                            std::string(300, 'z') +
                            "\n*MATERIAL_COUNT 1\n*MATERIAL\n"
                            "*BITMAP \"" +
                            std::string(300, 'b') + "\"\n");
    Loaded l;
    load(l, zero);
    EXPECT_EQ(l.object().pVertices[1].x, 5.0f);
}

TEST(AseReaderEquivalence, GeneratedFiles) {
    std::mt19937 random(12345);
    for (int round = 0; round < 300; round++) {
        std::string text = randomAse(random);
        expectSameAsPlainReader(text);
        if (HasFailure())
            break;
    }
}

} // namespace
