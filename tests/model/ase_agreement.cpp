#include "ase_agreement.h"

#include "ase_blocks.h"
#include "text_scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using std::string_view;

// The words the robot's reader acts on: anywhere but at the start of a line
// they could be read differently by the two readers.
const std::set<string_view> kRobotKeywords = {
    "*GEOMOBJECT",       "*MATERIAL_COUNT",    "*MATERIAL",      "*MATERIAL_NAME",
    "*MATERIAL_DIFFUSE", "*MATERIAL_SPECULAR", "*BITMAP",        "*UVW_U_TILING",
    "*UVW_V_TILING",     "*MESH_NUMVERTEX",    "*MESH_NUMFACES", "*MESH_NUMTVERTEX",
    "*MESH_VERTEX",      "*MESH_TVERT",        "*MESH_FACE",     "*MESH_TFACE",
    "*MATERIAL_REF"};

// Keywords that must stand in one kind of block ("" is the top level), and
// those that open a block.
const std::map<string_view, std::set<string_view>> kParents = {
    {"*GEOMOBJECT", {"", "*GROUP"}},
    {"*GROUP", {"", "*GROUP"}},
    {"*MATERIAL_LIST", {""}},
    {"*MATERIAL_COUNT", {"*MATERIAL_LIST"}},
    {"*MATERIAL", {"*MATERIAL_LIST"}},
    {"*MATERIAL_DIFFUSE", {"*MATERIAL"}},
    {"*MATERIAL_SPECULAR", {"*MATERIAL"}},
    {"*MAP_DIFFUSE", {"*MATERIAL"}},
    {"*MATERIAL_REF", {"*GEOMOBJECT"}},
    {"*NODE_TM", {"*GEOMOBJECT", "*GROUP"}},
    {"*MESH", {"*GEOMOBJECT"}},
    {"*MESH_NUMVERTEX", {"*MESH"}},
    {"*MESH_NUMFACES", {"*MESH"}},
    {"*MESH_NUMTVERTEX", {"*MESH"}},
    {"*MESH_VERTEX_LIST", {"*MESH"}},
    {"*MESH_FACE_LIST", {"*MESH"}},
    {"*MESH_TVERTLIST", {"*MESH"}},
    {"*MESH_TFACELIST", {"*MESH"}},
    {"*MESH_NORMALS", {"*MESH"}},
    {"*MESH_VERTEX", {"*MESH_VERTEX_LIST"}},
    {"*MESH_FACE", {"*MESH_FACE_LIST"}},
    {"*MESH_TVERT", {"*MESH_TVERTLIST"}},
    {"*MESH_TFACE", {"*MESH_TFACELIST"}},
};
const std::set<string_view> kPlainBlocks = {
    "*GEOMOBJECT",     "*MATERIAL_LIST",  "*MESH",          "*MESH_VERTEX_LIST",
    "*MESH_FACE_LIST", "*MESH_TVERTLIST", "*MESH_TFACELIST"};
const std::set<string_view> kRefused = {"*SUBMATERIAL", "*NUMSUBMTLS"};

struct Word {
    size_t begin, end;
};

// The parts of one mesh that must come in order.
struct MeshOrder {
    bool count[3] = {false, false, false};
    bool list[4] = {false, false, false, false};
};

struct Checker {
    Text text;
    std::string* why;
    std::vector<string_view> open;
    uint64_t countRecords = 0;
    int materialCount = -1;
    int materials = 0;
    bool materialList = false;
    bool meshInObject = false;
    MeshOrder mesh;

    string_view at(Word w) const {
        return string_view(reinterpret_cast<const char*>(text.data) + w.begin, w.end - w.begin);
    }
    bool fail(const std::string& reason, size_t line) {
        *why = "line " + std::to_string(line) + ": " + reason;
        return false;
    }
    // The whole word read by scan.
    template <typename T> bool clean(Word w, bool (*scan)(const Text&, size_t&, T*)) const {
        size_t p = w.begin;
        T value;
        return scan(text, p, &value) && p == w.end;
    }
    bool cleanIndex(Word w, bool colonAllowed) const {
        if (clean(w, scanInt))
            return true;
        Word less = {w.begin, w.end - 1};
        return colonAllowed && w.end - w.begin > 1 && text.data[w.end - 1] == ':' &&
               clean(less, scanInt);
    }
    int intOf(Word w) const {
        size_t p = w.begin;
        int value = 0;
        scanInt(text, p, &value);
        return value;
    }

    bool operands(const std::vector<Word>& words, string_view keyword, size_t line) {
        auto need = [&](size_t count) {
            return words.size() >= count + 1 || fail("too few operands", line);
        };
        if (keyword == "*MESH_VERTEX" || keyword == "*MESH_TVERT") {
            size_t floats = keyword == "*MESH_VERTEX" ? 3 : 2;
            if (!need(1 + floats) || !cleanIndex(words[1], false))
                return fail("bad operands", line);
            for (size_t k = 2; k < 2 + floats; k++) {
                if (!clean(words[k], scanFloat))
                    return fail("a number not read whole", line);
            }
        } else if (keyword == "*MESH_FACE") {
            if (!need(7) || !cleanIndex(words[1], true) || at(words[2]) != "A:" ||
                at(words[4]) != "B:" || at(words[6]) != "C:" || !clean(words[3], scanInt) ||
                !clean(words[5], scanInt) || !clean(words[7], scanInt))
                return fail("a face line of another form", line);
        } else if (keyword == "*MESH_TFACE") {
            if (!need(4) || !cleanIndex(words[1], true) || !clean(words[2], scanInt) ||
                !clean(words[3], scanInt) || !clean(words[4], scanInt))
                return fail("a texture face line of another form", line);
        } else if (keyword == "*MATERIAL_DIFFUSE" || keyword == "*MATERIAL_SPECULAR") {
            if (!need(3))
                return false;
            for (size_t k = 1; k < 4; k++) {
                if (!clean(words[k], scanFloat))
                    return fail("a colour not read whole", line);
            }
        }
        return true;
    }

    // Counts: believed by both readers, sizing their arrays before the lines
    // that fill them.
    bool counts(const std::vector<Word>& words, string_view keyword, size_t line) {
        int array = keyword == "*MESH_NUMVERTEX"    ? 0
                    : keyword == "*MESH_NUMFACES"   ? 1
                    : keyword == "*MESH_NUMTVERTEX" ? 2
                    : keyword == "*MATERIAL_COUNT"  ? 3
                                                    : -1;
        if (array < 0)
            return true;
        if (words.size() < 2 || !clean(words[1], scanInt) || intOf(words[1]) < 0)
            return fail("a count not read whole", line);
        countRecords += uint64_t(intOf(words[1]));
        if (array == 3) {
            if (materialCount >= 0 || materials > 0)
                return fail("a second or late *MATERIAL_COUNT", line);
            materialCount = intOf(words[1]);
            return true;
        }
        // Faces size the texture faces too.
        bool late = mesh.count[array] || mesh.list[array] || (array == 1 && mesh.list[3]);
        mesh.count[array] = true;
        return !late || fail("a repeated or late count", line);
    }

    bool keywordLine(const std::vector<Word>& words, size_t line) {
        string_view keyword = at(words[0]);
        string_view parent = open.empty() ? "" : open.back();
        if (kRefused.count(keyword))
            return fail("sub-materials", line);
        auto parents = kParents.find(keyword);
        if (parents != kParents.end() && !parents->second.count(parent))
            return fail(std::string(keyword) + " inside " + std::string(parent), line);
        for (size_t k = 1; k < words.size(); k++) {
            if (kRobotKeywords.count(at(words[k])))
                return fail("a keyword behind the first word", line);
        }
        if (!operands(words, keyword, line) || !counts(words, keyword, line))
            return false;
        static const string_view lists[4] = {"*MESH_VERTEX_LIST", "*MESH_FACE_LIST",
                                             "*MESH_TVERTLIST", "*MESH_TFACELIST"};
        for (int k = 0; k < 4; k++)
            mesh.list[k] = mesh.list[k] || keyword == lists[k];
        bool opens = at(words.back()) == "{";
        bool block = kPlainBlocks.count(keyword) || keyword == "*MATERIAL" || keyword == "*GROUP";
        if (block && !opens)
            return fail(std::string(keyword) + " without its block", line);
        if (!opens)
            return true;
        if (kPlainBlocks.count(keyword) && words.size() != 2)
            return fail("words between a block's keyword and its '{'", line);
        if (keyword == "*MATERIAL") {
            if (words.size() != 3 || !clean(words[1], scanInt) || intOf(words[1]) != materials ||
                materialCount < 0)
                return fail("a material out of order or before the count", line);
            materials++;
        }
        if (keyword == "*GROUP" && words.size() > 3)
            return fail("a group name of several words", line);
        if (keyword == "*MATERIAL_LIST" && std::exchange(materialList, true))
            return fail("a second material list", line);
        if (keyword == "*GEOMOBJECT")
            meshInObject = false;
        if (keyword == "*MESH") {
            if (std::exchange(meshInObject, true))
                return fail("a second mesh in one object", line);
            mesh = MeshOrder();
        }
        if (open.size() >= 16)
            return fail("blocks nested deeply", line);
        open.push_back(keyword);
        return true;
    }

    bool check() {
        size_t line = 0;
        for (size_t p = 0; p < text.size;) {
            line++;
            const void* lineBreak = std::memchr(text.data + p, '\n', text.size - p);
            size_t end = lineBreak
                             ? size_t(static_cast<const unsigned char*>(lineBreak) - text.data)
                             : text.size;
            std::vector<Word> words;
            for (size_t q = p; q < end;) {
                while (q < end && isBlank(text.data[q]))
                    q++;
                size_t begin = q;
                while (q < end && !isBlank(text.data[q]))
                    q++;
                if (q > begin)
                    words.push_back({begin, q});
            }
            // A long line is thrown away in parts by the robot's reader: a
            // '*' inside a word could then start one.
            bool longLine = !words.empty() && end + 1 - words[0].end > 90;
            // The block reader takes an open quoted text to the end of its
            // line, braces included; the robot's reader sees no quotes.
            if (std::count(text.data + p, text.data + end, '"') % 2 != 0)
                return fail("a quoted text without its closing quote", line);
            for (size_t q = p; q < end; q++) {
                unsigned char c = text.data[q];
                if (c == 0)
                    return fail("a zero byte", line);
                if (c == '*' && q > p && !isBlank(text.data[q - 1]) && longLine)
                    return fail("a long line with '*' inside a word", line);
                // Braces only as a block's last word or a line of its own.
                if (c != '{' && c != '}')
                    continue;
                bool word = words.back().begin == q && words.back().end == q + 1;
                if (!word || (c == '{') != (words.size() > 1))
                    return fail("a brace that is not a block's", line);
            }
            p = end + 1;
            if (words.empty())
                continue;
            string_view first = at(words[0]);
            if (first == "}") {
                if (open.empty())
                    return fail("a '}' that closes no block", line);
                open.pop_back();
                continue;
            }
            if (first[0] != '*')
                return fail("a line that starts with no keyword", line);
            if (!keywordLine(words, line))
                return false;
        }
        if (!open.empty())
            return fail("blocks left open", line);
        // Both readers then believe every count.
        if (countRecords * 600 > allocationBudget(text.size))
            return fail("counts beyond what the budget allows", line);
        return true;
    }
};

bool sameFloat(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

bool differ(std::string* why, const std::string& what) {
    *why = what;
    return false;
}

// Indices equal, or absent from the block model and zero in the robot's.
bool sameCorners(const int* blocks, const int* robot) {
    bool absent = blocks[0] == -1 && blocks[1] == -1 && blocks[2] == -1 && robot[0] == 0 &&
                  robot[1] == 0 && robot[2] == 0;
    return absent || (blocks[0] == robot[0] && blocks[1] == robot[1] && blocks[2] == robot[2]);
}

} // namespace

bool readAlikeByBothReaders(const char* data, size_t size, std::string* why) {
    std::string converted, reason;
    Checker checker;
    checker.text = modelText(reinterpret_cast<const unsigned char*>(data), size, &converted);
    checker.why = why ? why : &reason;
    return checker.check();
}

bool sameAsRobotReader(const AseModel& blocks, const tModel& robot, std::string* why) {
    std::string reason;
    why = why ? why : &reason;
    if (size_t(robot.objectCount) != blocks.objects.size())
        return differ(why, "object counts " + std::to_string(blocks.objects.size()) + " and " +
                               std::to_string(robot.objectCount));
    if (size_t(robot.materialCount) != blocks.materials.size())
        return differ(why, "material counts " + std::to_string(blocks.materials.size()) + " and " +
                               std::to_string(robot.materialCount));
    for (size_t i = 0; i < blocks.materials.size(); i++) {
        const AseMaterial& b = blocks.materials[i];
        const tMaterialInfo& r = robot.materials[i];
        for (int k = 0; k < 3; k++) {
            if (!sameFloat(b.diffuse[k], r.diffuse[k]) || !sameFloat(b.specular[k], r.specular[k]))
                return differ(why, "colours of material " + std::to_string(i));
        }
    }
    for (size_t i = 0; i < blocks.objects.size(); i++) {
        const AseObject& b = blocks.objects[i];
        const t3DObject& r = robot.objects[i];
        std::string object = "object " + std::to_string(i) + ": ";
        if (size_t(r.vertexCount) != b.vertices.size() || size_t(r.faceCount) != b.faces.size() ||
            size_t(r.texVertexCount) != b.texVertices.size())
            return differ(why, object + "counts");
        for (size_t v = 0; v < b.vertices.size(); v++) {
            // A vertex the file does not give is (0, 0, 0) in both, where
            // the robot's reader has not negated its zero.
            Vec3 p = b.vertices[v], q = r.pVertices[v];
            const Vec3 zero(0, 0, 0);
            if (std::memcmp(&p, &zero, sizeof p) == 0 && std::memcmp(&q, &zero, sizeof q) == 0)
                continue;
            if (!sameFloat(p.x, q.x) || !sameFloat(p.z, q.y) || !sameFloat(-p.y, q.z))
                return differ(why, object + "vertex " + std::to_string(v));
        }
        for (size_t f = 0; f < b.faces.size(); f++) {
            if (!sameCorners(b.faces[f].corner, r.pTriangles[f].vertexIndex) ||
                !sameCorners(b.faces[f].texCorner, r.pTriangles[f].texIndex))
                return differ(why, object + "face " + std::to_string(f));
        }
        if (!r.hasTexture)
            continue;
        const tMaterialInfo& m = robot.materials[size_t(r.materialId)];
        for (size_t t = 0; t < b.texVertices.size(); t++) {
            if (!sameFloat(b.texVertices[t].u * m.uTiling, r.pTexVertices[t].u) ||
                !sameFloat(b.texVertices[t].v * m.vTiling, r.pTexVertices[t].v))
                return differ(why, object + "texture vertex " + std::to_string(t));
        }
    }
    return true;
}

namespace {

static_assert(sizeof(Vec3) == 3 * sizeof(float), "a Vec3 is its three floats");

// The bytes of each float, NaNs as they are.
template <size_t N> bool sameFloats(const float* a, const float* b) {
    return std::memcmp(a, b, N * sizeof(float)) == 0;
}

template <typename T, typename Same>
bool sameArray(const std::vector<T>& a, const std::vector<T>& b, Same same) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

bool sameMaterial(const AseMaterial& a, const AseMaterial& b) {
    return a.name == b.name && sameFloats<3>(a.diffuse, b.diffuse) &&
           sameFloats<3>(a.specular, b.specular) && a.bitmap == b.bitmap &&
           sameFloats<1>(&a.uTiling, &b.uTiling) && sameFloats<1>(&a.vTiling, &b.vTiling) &&
           sameArray(a.subMaterials, b.subMaterials, sameMaterial);
}

bool sameFace(const AseFace& a, const AseFace& b) {
    return std::equal(a.corner, a.corner + 3, b.corner) &&
           std::equal(a.texCorner, a.texCorner + 3, b.texCorner) &&
           std::equal(a.colorCorner, a.colorCorner + 3, b.colorCorner) &&
           a.smoothing == b.smoothing && a.materialId == b.materialId &&
           a.fileNormals == b.fileNormals && sameFloats<9>(&a.normal[0].x, &b.normal[0].x);
}

} // namespace

bool sameAseModel(const AseModel& a, const AseModel& b, std::string* why) {
    if (!sameArray(a.materials, b.materials, sameMaterial))
        return differ(why, "materials");
    if (a.objects.size() != b.objects.size())
        return differ(why, "object counts");
    auto sameVec3 = [](const Vec3& p, const Vec3& q) { return sameFloats<3>(&p.x, &q.x); };
    for (size_t i = 0; i < a.objects.size(); i++) {
        const AseObject& p = a.objects[i];
        const AseObject& q = b.objects[i];
        if (p.name != q.name || p.materialRef != q.materialRef ||
            !sameFloats<12>(&p.transform[0][0], &q.transform[0][0]) ||
            !sameArray(p.vertices, q.vertices, sameVec3) ||
            !sameArray(p.colorVertices, q.colorVertices, sameVec3) ||
            !sameArray(p.texVertices, q.texVertices,
                       [](const Vec2& s, const Vec2& t) { return sameFloats<2>(&s.u, &t.u); }) ||
            !sameArray(p.faces, q.faces, sameFace))
            return differ(why, "object " + std::to_string(i));
    }
    return true;
}

bool readBlocksInPieces(const char* data, size_t size, const char* name, AseModel* model,
                        std::vector<std::string>* problems, size_t pieceBytes) {
    struct Source {
        const char* data;
        size_t left;
        static size_t read(void* source, unsigned char* into, size_t bytes) {
            Source& s = *static_cast<Source*>(source);
            size_t n = std::min(bytes, s.left);
            std::memcpy(into, s.data, n);
            s.data += n;
            s.left -= n;
            return n;
        }
    } source{data, size};
    return readAseBlocksInPieces(Source::read, &source, size, name, model, problems, pieceBytes);
}
