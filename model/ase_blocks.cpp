#include "ase_blocks.h"

#include "corner_normals.h"
#include "file_access.h"
#include "problem_log.h"
#include "text_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

// The file is read in one pass, by recursive descent: every block the reader
// knows has a small function that reads its keywords; every other block is
// skipped by counting braces, so that how deeply it nests costs nothing. A
// keyword's operands are read from its own line only. Blocks read by
// functions nest at most kMaxDepth deep, so that a crafted file cannot use up
// the stack.

namespace {

constexpr int kMaxDepth = 32;
// Longest quoted text kept; longer ones are cut.
constexpr size_t kTextLimit = 4096;

enum ProblemKind {
    kStrayBrace,
    kNoBlock,
    kTooDeep,
    kCountRefused,
    kCountRepeated,
    kNoArray,
    kIndexOutside,
    kOperandMissing,
    kSmoothingOutside,
    kTextCut,
    kQuoteOpen,
    kNormalOrder,
    kSubMaterials,
    kIncomplete,
    kProblemKinds
};

// The arrays of an object that counts size, and the texture corners of its
// faces, which have lines of their own.
enum ArrayKind { kVertices, kFaces, kTexVertices, kTexFaces };

// Classes of bytes for the scans below.
struct ByteClasses {
    // White space and the three characters that make up the block structure.
    bool wordEnd[256] = {};
    // White space other than the line break.
    bool inlineBlank[256] = {};
    // What ends a run of operands: the line break, braces and quotes.
    bool operandsEnd[256] = {};
    constexpr ByteClasses() {
        for (int c : {' ', '\t', '\v', '\f', '\r'})
            wordEnd[c] = inlineBlank[c] = true;
        for (int c : {'\n', '{', '}', '"'})
            wordEnd[c] = operandsEnd[c] = true;
    }
};
constexpr ByteClasses kBytes;

// Scans within a line are written for two cases: kBreakAhead, where a line
// break is known to follow, which stops every one of them, so that no bounds
// need checking, and the last line of a text that does not end in a break.
template <bool kBreakAhead> bool inText(const Text& text, size_t p) {
    return kBreakAhead || p < text.size;
}

template <bool kBreakAhead = false> size_t wordEnd(const Text& text, size_t p) {
    while (inText<kBreakAhead>(text, p) && !kBytes.wordEnd[text.data[p]])
        p++;
    return p;
}

// Blanks on the same line.
size_t skipInline(const Text& text, size_t p) {
    while (p < text.size && kBytes.inlineBlank[text.data[p]])
        p++;
    return p;
}

// Passes over the words of a line up to its end, a brace or a quote, or a word
// that starts with '*'.
template <bool kBreakAhead = false> size_t skipOperands(const Text& text, size_t p) {
    while (inText<kBreakAhead>(text, p)) {
        unsigned char c = text.data[p];
        if (kBytes.operandsEnd[c] || (c == '*' && p > 0 && kBytes.wordEnd[text.data[p - 1]]))
            return p;
        p++;
    }
    return p;
}

// Behind the quoted text whose opening quote is at p: its closing quote on the
// same line, else the line's end.
size_t quoteEnd(const Text& text, size_t p) {
    p++;
    while (p < text.size && text.data[p] != '"' && text.data[p] != '\n')
        p++;
    return p < text.size && text.data[p] == '"' ? p + 1 : p;
}

// Whether the N - 1 bytes at data are name's: compared eight at a time.
template <size_t N> bool sameBytes(const unsigned char* data, const char (&name)[N]) {
    size_t k = 0;
    for (; k + 8 <= N - 1; k += 8) {
        uint64_t a, b;
        std::memcpy(&a, data + k, 8);
        std::memcpy(&b, name + k, 8);
        if (a != b)
            return false;
    }
    for (; k < N - 1; k++) {
        if (data[k] != static_cast<unsigned char>(name[k]))
            return false;
    }
    return true;
}

// Whether the word at p is name.
template <size_t N> bool wordAt(const Text& text, size_t p, const char (&name)[N]) {
    return p + N - 1 <= text.size && sameBytes(text.data + p, name) &&
           (p + N - 1 == text.size || kBytes.wordEnd[text.data[p + N - 1]]);
}

template <size_t N> bool is(std::string_view word, const char (&name)[N]) {
    return word.size() == N - 1 &&
           sameBytes(reinterpret_cast<const unsigned char*>(word.data()), name);
}

template <size_t N> bool startsWith(std::string_view word, const char (&name)[N]) {
    return word.size() >= N - 1 &&
           sameBytes(reinterpret_cast<const unsigned char*>(word.data()), name);
}

// A keyword's operands, read from its own line: the cursor never passes the
// line's end. Blanks are skipped up to it, and from a character that is not
// blank a number never reaches past its word.
template <bool kBreakAhead = false> struct LineScan {
    const Text& text;
    const unsigned char* c;
    const unsigned char* end;

    LineScan(const Text& text, size_t p)
        : text(text), c(text.data + p), end(text.data + text.size) {}
    size_t at() const { return size_t(c - text.data); }
    bool more() const { return kBreakAhead || c < end; }
    bool ended() const { return !more() || *c == '\n'; }

    void skipBlanks() {
        while (more() && kBytes.inlineBlank[*c])
            c++;
    }
    // Takes ch behind blanks, when it is there.
    bool match(char ch) {
        skipBlanks();
        if (!more() || *c != static_cast<unsigned char>(ch))
            return false;
        c++;
        return true;
    }
    bool integer(int* value) {
        skipBlanks();
        if (ended())
            return false;
        if (const unsigned char* next = scanShortInt<kBreakAhead>(c, end, value)) {
            c = next;
            return true;
        }
        size_t p = at();
        bool read = scanInt(text, p, value);
        c = text.data + p;
        return read;
    }
    bool decimal(float* value) {
        skipBlanks();
        if (ended())
            return false;
        if (const unsigned char* next = scanShortDecimal<kBreakAhead>(c, end, value)) {
            c = next;
            return true;
        }
        size_t p = at();
        bool read = scanFloat(text, p, value);
        c = text.data + p;
        return read;
    }
    // Up to count numbers; tells how many were read.
    int decimals(float* values, int count) {
        for (int i = 0; i < count; i++) {
            if (!decimal(&values[i]))
                return i;
        }
        return count;
    }
    void skipOperands() { c = text.data + ::skipOperands<kBreakAhead>(text, at()); }
    template <size_t N> bool wordIs(const char (&name)[N]) const {
        return wordAt(text, at(), name);
    }
};

// The same for a single operand of a keyword that is not read often.
bool intOnLine(const Text& text, size_t& p, int* value) {
    LineScan<> scan(text, p);
    bool read = scan.integer(value);
    p = scan.at();
    return read;
}

bool floatOnLine(const Text& text, size_t& p, float* value) {
    LineScan<> scan(text, p);
    bool read = scan.decimal(value);
    p = scan.at();
    return read;
}

int floatsOnLine(const Text& text, size_t& p, float* values, int count) {
    LineScan<> scan(text, p);
    int read = scan.decimals(values, count);
    p = scan.at();
    return read;
}

// What the reader keeps of an object besides its record.
struct ObjectWork {
    size_t countAt[3] = {SIZE_MAX, SIZE_MAX, SIZE_MAX};
    long long stored[4] = {0, 0, 0, 0};
    bool meshRead = false;
    // File normals wait in their corners, in the object's space, until the
    // object is complete. Those of faces whose corners were not read yet
    // wait here.
    struct Normal {
        size_t face;
        int vertex;
        Vec3 normal;
    };
    std::vector<Normal> waiting;
};

struct Reader {
    Text text;
    // Positions before this one have a line break ahead of them.
    size_t breakAheadBefore = 0;
    AseModel* model = nullptr;
    ProblemLog log = newProblemLog(kProblemKinds);
    uint64_t budget = 0;
    int depth = 0;
    // The object being read, for the problem log; -1 outside objects.
    int object = -1;
    bool materialCountSeen = false;
    // The innermost block still open where the text ended; empty while it
    // has not ended inside a block.
    std::string_view endedIn;
    bool endReported = false;
};

std::string_view textAt(const Reader& r, size_t begin, size_t end) {
    return std::string_view(reinterpret_cast<const char*>(r.text.data) + begin, end - begin);
}

void textEnded(Reader& r, std::string_view block) {
    if (r.endedIn.empty())
        r.endedIn = block;
}

// Skips the rest of a block whose '{' is behind p, up to its matching '}';
// braces inside quoted texts do not count.
void skipBlock(Reader& r, size_t& p, std::string_view block) {
    const Text& text = r.text;
    size_t open = 1;
    while (p < text.size) {
        unsigned char c = text.data[p];
        if (c == '"') {
            p = quoteEnd(text, p);
            continue;
        }
        p++;
        if (c == '{') {
            open++;
        } else if (c == '}' && --open == 0) {
            return;
        }
    }
    textEnded(r, block);
}

// White space, line breaks included.
size_t skipSpace(const Text& text, size_t p) {
    while (p < text.size && (kBytes.inlineBlank[text.data[p]] || text.data[p] == '\n'))
        p++;
    return p;
}

// Reads one item of a block whose '{' is behind p: a keyword goes to
// handle(keyword, at, p), with p just behind it; words it leaves on the line
// are passed over, an anonymous block is skipped whole. False once the block
// has ended, at its '}' or at the end of the text. At the top level (block
// empty) a '}' closes nothing and is reported.
template <typename Handle>
bool readItem(Reader& r, size_t& p, std::string_view block, Handle& handle) {
    const Text& text = r.text;
    p = skipSpace(text, p);
    if (p >= text.size) {
        if (!block.empty())
            textEnded(r, block);
        return false;
    }
    unsigned char c = text.data[p];
    if (c == '*') {
        size_t at = p;
        p = p < r.breakAheadBefore ? wordEnd<true>(text, p + 1) : wordEnd(text, p + 1);
        handle(textAt(r, at, p), at, p);
    } else if (c == '}') {
        p++;
        if (!block.empty())
            return false;
        addProblem(r.log, -1, kStrayBrace, p - 1, "a '}' that closes no block, ignored");
    } else if (c == '{') {
        p++;
        skipBlock(r, p, "{");
    } else if (c == '"') {
        p = quoteEnd(text, p);
    } else {
        p = p < r.breakAheadBefore ? skipOperands<true>(text, p + 1) : skipOperands(text, p + 1);
    }
    return true;
}

// Reads the items of a block whose '{' is behind p, up to its '}' or the end of
// the text.
template <typename Handle>
void readBlock(Reader& r, size_t& p, std::string_view block, Handle handle) {
    while (readItem(r, p, block, handle)) {
    }
}

// A block of many lines of a few keywords: fast(p) reads such a line at p
// and tells whether it did; other items go to other(keyword, at, p), as in
// readBlock.
template <typename Fast, typename Other>
void readList(Reader& r, size_t& p, std::string_view block, Fast fast, Other other) {
    while (true) {
        p = skipSpace(r.text, p);
        if (!fast(p) && !readItem(r, p, block, other))
            return;
    }
}

// Reads the line at p when its keyword is the one given: line(at, p, ahead)
// with p just behind the keyword and ahead std::true_type or std::false_type
// for whether a line break follows, for it to pick its scans.
template <size_t N, typename Line>
bool lineOf(const Reader& r, size_t& p, const char (&keyword)[N], Line line) {
    if (!wordAt(r.text, p, keyword))
        return false;
    size_t at = p;
    p += N - 1;
    if (p < r.breakAheadBefore)
        line(at, p, std::true_type());
    else
        line(at, p, std::false_type());
    return true;
}

// The block that the keyword at [at, p) opens: its '{' must be the next thing
// in the text. read(p) reads it, unless it is nested too deeply, when it is
// skipped. False when it was not read.
template <typename Read>
bool readNested(Reader& r, size_t& p, std::string_view keyword, size_t at, Read read) {
    size_t q = r.text.skipBlanks(p);
    if (q >= r.text.size || r.text.data[q] != '{') {
        addProblem(r.log, r.object, kNoBlock, at, "%.*s without its '{', skipped",
                   int(keyword.size()), keyword.data());
        return false;
    }
    p = q + 1;
    if (r.depth >= kMaxDepth) {
        addProblem(r.log, r.object, kTooDeep, at,
                   "%.*s nested more than %d blocks deep, skipped with all it holds",
                   int(keyword.size()), keyword.data(), kMaxDepth);
        skipBlock(r, p, keyword);
        return false;
    }
    r.depth++;
    read(p);
    r.depth--;
    return true;
}

// Skips the block the keyword at [at, p) opens, if its '{' follows.
void skipNested(Reader& r, size_t& p, std::string_view keyword) {
    size_t q = r.text.skipBlanks(p);
    if (q < r.text.size && r.text.data[q] == '{') {
        p = q + 1;
        skipBlock(r, p, keyword);
    }
}

// The quoted text on the keyword's line: everything between the quotes,
// blanks included, backslashes as written. A text without its closing quote
// runs to the end of the line; one without an opening quote is its first word.
std::string readText(Reader& r, size_t& p, size_t at) {
    const Text& text = r.text;
    p = skipInline(text, p);
    size_t begin = p, end;
    if (p < text.size && text.data[p] == '"') {
        begin = ++p;
        while (p < text.size && text.data[p] != '"' && text.data[p] != '\n')
            p++;
        end = p;
        if (p < text.size && text.data[p] == '"') {
            p++;
        } else {
            addProblem(r.log, r.object, kQuoteOpen, at,
                       "quoted text without its closing quote, taken to the end of the line");
            if (end > begin && text.data[end - 1] == '\r')
                end--;
        }
    } else {
        end = p = p < text.size && text.data[p] == '*' ? p : wordEnd(text, p);
    }
    if (end - begin > kTextLimit) {
        addProblem(r.log, r.object, kTextCut, at, "quoted text of %zu bytes cut to %zu",
                   end - begin, kTextLimit);
        end = begin + kTextLimit;
    }
    return std::string(textAt(r, begin, end));
}

// Three numbers into values; those the line lacks keep theirs.
void readTriple(Reader& r, size_t& p, size_t at, std::string_view keyword, float* values) {
    float read[3];
    int got = floatsOnLine(r.text, p, read, 3);
    std::copy(read, read + got, values);
    if (got < 3)
        addProblem(r.log, r.object, kOperandMissing, at, "%.*s with %d of its 3 numbers",
                   int(keyword.size()), keyword.data(), got);
}

// Believes a count when the memory its records need fits in what is left of
// the file's budget; otherwise reports it and takes 0.
size_t believe(Reader& r, int count, uint64_t recordBytes, std::string_view what, size_t at) {
    if (count < 0) {
        addProblem(r.log, r.object, kCountRefused, at, "%.*s %d is negative, taken as 0",
                   int(what.size()), what.data(), count);
        return 0;
    }
    if (uint64_t(count) * recordBytes > r.budget) {
        addProblem(r.log, r.object, kCountRefused, at,
                   "%.*s %d is more than a file of this size may ask for, taken as 0",
                   int(what.size()), what.data(), count);
        return 0;
    }
    r.budget -= uint64_t(count) * recordBytes;
    return size_t(count);
}

// ---------------------------------------------------------------- materials

// What a map block gives: its bitmap and tiling.
struct MapRead {
    std::string bitmap;
    float uTiling = 1;
    float vTiling = 1;
};

// A map: its own *BITMAP and tiling. A compound map holds further maps; when
// it has no bitmap of its own, the first of them that has one stands for it.
MapRead readMap(Reader& r, size_t& p, std::string_view block) {
    MapRead own, nested;
    readBlock(r, p, block, [&](std::string_view keyword, size_t at, size_t& q) {
        if (is(keyword, "*BITMAP")) {
            own.bitmap = readText(r, q, at);
        } else if (is(keyword, "*UVW_U_TILING") || is(keyword, "*UVW_V_TILING")) {
            float* tiling = keyword[5] == 'U' ? &own.uTiling : &own.vTiling;
            if (!floatOnLine(r.text, q, tiling))
                addProblem(r.log, r.object, kOperandMissing, at, "%.*s without its number",
                           int(keyword.size()), keyword.data());
        } else if (startsWith(keyword, "*MAP_")) {
            size_t brace = r.text.skipBlanks(q);
            if (brace < r.text.size && r.text.data[brace] == '{')
                readNested(r, q, keyword, at, [&](size_t& s) {
                    MapRead inner = readMap(r, s, keyword);
                    if (nested.bitmap.empty())
                        nested = std::move(inner);
                });
        }
    });
    return own.bitmap.empty() && !nested.bitmap.empty() ? nested : own;
}

void readMaterial(Reader& r, size_t& p, AseMaterial& material, std::string_view block) {
    int declared = -1;
    size_t declaredAt = 0;
    bool diffuseRead = false;
    readBlock(r, p, block, [&](std::string_view keyword, size_t at, size_t& q) {
        if (is(keyword, "*MATERIAL_NAME")) {
            material.name = readText(r, q, at);
        } else if (is(keyword, "*MATERIAL_DIFFUSE")) {
            readTriple(r, q, at, keyword, material.diffuse);
        } else if (is(keyword, "*MATERIAL_SPECULAR")) {
            readTriple(r, q, at, keyword, material.specular);
        } else if (is(keyword, "*MAP_DIFFUSE")) {
            // The first diffuse map that gives a bitmap is the texture.
            readNested(r, q, keyword, at, [&](size_t& s) {
                MapRead map = readMap(r, s, keyword);
                if (diffuseRead || map.bitmap.empty())
                    return;
                diffuseRead = true;
                material.bitmap = std::move(map.bitmap);
                material.uTiling = map.uTiling;
                material.vTiling = map.vTiling;
            });
        } else if (is(keyword, "*NUMSUBMTLS")) {
            declaredAt = at;
            if (!intOnLine(r.text, q, &declared))
                declared = -1;
        } else if (is(keyword, "*SUBMATERIAL")) {
            // Sub-materials count in the order the file gives them; their
            // index is not needed.
            int index;
            intOnLine(r.text, q, &index);
            readNested(r, q, keyword, at, [&](size_t& s) {
                material.subMaterials.emplace_back();
                readMaterial(r, s, material.subMaterials.back(), keyword);
            });
        }
    });
    size_t present = material.subMaterials.size();
    if (declared >= 0 && size_t(declared) != present)
        addProblem(r.log, -1, kSubMaterials, declaredAt,
                   "*NUMSUBMTLS %d, but the material holds %zu *SUBMATERIAL blocks; its faces "
                   "choose among those",
                   declared, present);
}

void readMaterialList(Reader& r, size_t& p) {
    long long next = 0;
    std::vector<AseMaterial>& materials = r.model->materials;
    readBlock(r, p, "*MATERIAL_LIST", [&](std::string_view keyword, size_t at, size_t& q) {
        if (is(keyword, "*MATERIAL_COUNT")) {
            int count = 0;
            if (r.materialCountSeen) {
                addProblem(r.log, -1, kCountRepeated, at, "*MATERIAL_COUNT repeated, ignored");
            } else if (!intOnLine(r.text, q, &count)) {
                addProblem(r.log, -1, kOperandMissing, at, "*MATERIAL_COUNT without its number");
            } else {
                r.materialCountSeen = true;
                size_t n = believe(r, count, sizeof(AseMaterial), keyword, at);
                if (n > materials.size())
                    materials.resize(n);
            }
            return;
        }
        if (!is(keyword, "*MATERIAL"))
            return;
        // A material without an index is the one after the last.
        int index = 0;
        long long slot = intOnLine(r.text, q, &index) ? index : next;
        next = slot + 1;
        bool inside = slot >= 0 && size_t(slot) < materials.size();
        // Without a count the list holds the materials it gives.
        if (!inside && !r.materialCountSeen && slot >= 0 &&
            uint64_t(slot + 1 - (long long)materials.size()) * sizeof(AseMaterial) <= r.budget) {
            r.budget -= uint64_t(slot + 1 - (long long)materials.size()) * sizeof(AseMaterial);
            materials.resize(size_t(slot + 1));
            inside = true;
        }
        if (!inside) {
            addProblem(r.log, -1, kIndexOutside, at,
                       "*MATERIAL %lld outside the %zu materials of *MATERIAL_COUNT, skipped", slot,
                       materials.size());
            skipNested(r, q, keyword);
            return;
        }
        readNested(r, q, keyword, at,
                   [&](size_t& s) { readMaterial(r, s, materials[size_t(slot)], keyword); });
    });
}

// ---------------------------------------------------------------- meshes

const char* const kArrayNames[4] = {"vertices", "faces", "texture vertices", "texture faces"};
const char* const kCountKeywords[3] = {"*MESH_NUMVERTEX", "*MESH_NUMFACES", "*MESH_NUMTVERTEX"};

// A count keyword sizes its array once.
size_t readCount(Reader& r, ObjectWork& work, int array, size_t at, size_t& p) {
    std::string_view keyword = kCountKeywords[array];
    int count = 0;
    if (work.countAt[array] != SIZE_MAX) {
        addProblem(r.log, r.object, kCountRepeated, at, "%s repeated, ignored", keyword.data());
        return SIZE_MAX;
    }
    if (!intOnLine(r.text, p, &count)) {
        addProblem(r.log, r.object, kOperandMissing, at, "%s without its number", keyword.data());
        return SIZE_MAX;
    }
    work.countAt[array] = at;
    // Faces are counted with the vertex slots of their file normals.
    const uint64_t recordBytes[3] = {sizeof(Vec3), sizeof(AseFace) + 3 * sizeof(int), sizeof(Vec2)};
    return believe(r, count, recordBytes[array], keyword, at);
}

// Reports why index names no element of the array that a line of keyword
// fills (array: the one its count sizes).
bool reportNoElement(Reader& r, const ObjectWork& work, int array, size_t size, bool indexRead,
                     int index, const char* keyword, size_t at) {
    const char* count = kCountKeywords[array];
    if (work.countAt[array] == SIZE_MAX) {
        addProblem(r.log, r.object, kNoArray, at, "%s before or without %s, line skipped", keyword,
                   count);
        return false;
    }
    if (!indexRead) {
        addProblem(r.log, r.object, kOperandMissing, at, "%s without its index, line skipped",
                   keyword);
        return false;
    }
    if (index < 0 || size_t(index) >= size) {
        if (size > 0)
            addProblem(r.log, r.object, kIndexOutside, at,
                       "%s index %d outside 0..%zu, line skipped", keyword, index, size - 1);
        else
            addProblem(r.log, r.object, kIndexOutside, at, "%s index %d but %s is 0, line skipped",
                       keyword, index, count);
        return false;
    }
    return true;
}

// Whether index names an element of the array; reports the line otherwise.
inline bool elementExists(Reader& r, const ObjectWork& work, int array, size_t size, bool indexRead,
                          int index, const char* keyword, size_t at) {
    if (indexRead && index >= 0 && size_t(index) < size)
        return true;
    return reportNoElement(r, work, array, size, indexRead, index, keyword, at);
}

// Keywords a list does not know are passed over.
const auto kIgnore = [](std::string_view, size_t, size_t&) {};

template <bool kBreakAhead>
void readVertex(Reader& r, size_t at, size_t& p, AseObject& object, ObjectWork& work) {
    LineScan<kBreakAhead> line(r.text, p);
    int index = 0;
    bool indexRead = line.integer(&index);
    float values[3];
    int got = line.decimals(values, 3);
    p = line.at();
    if (!elementExists(r, work, kVertices, object.vertices.size(), indexRead, index, "*MESH_VERTEX",
                       at))
        return;
    Vec3& vertex = object.vertices[size_t(index)];
    float* xyz[3] = {&vertex.x, &vertex.y, &vertex.z};
    for (int k = 0; k < got; k++)
        *xyz[k] = values[k];
    if (got < 3)
        addProblem(r.log, r.object, kOperandMissing, at, "*MESH_VERTEX %d with %d of its 3 numbers",
                   index, got);
    work.stored[kVertices]++;
}

void readVertexList(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    auto fast = [&](size_t& q) {
        return lineOf(r, q, "*MESH_VERTEX", [&](size_t at, size_t& rest, auto ahead) {
            readVertex<decltype(ahead)::value>(r, at, rest, object, work);
        });
    };
    readList(r, p, "*MESH_VERTEX_LIST", fast, kIgnore);
}

// "*MESH_SMOOTHING 1,3": a list of group numbers, perhaps empty.
template <bool kBreakAhead> uint32_t readSmoothing(Reader& r, LineScan<kBreakAhead>& line) {
    size_t at = line.at();
    uint32_t groups = 0;
    while (true) {
        line.skipBlanks();
        if (line.ended() || !(isDigit(*line.c) || *line.c == '-' || *line.c == '+'))
            return groups;
        int group;
        if (!line.integer(&group))
            return groups;
        if (group >= 1 && group <= 32)
            groups |= uint32_t(1) << (group - 1);
        else if (group != 0)
            addProblem(r.log, r.object, kSmoothingOutside, at,
                       "smoothing group %d outside 1..32, ignored", group);
        if (!line.match(','))
            return groups;
    }
}

template <bool kBreakAhead>
void readMaterialId(Reader& r, LineScan<kBreakAhead>& line, AseFace* face) {
    int id;
    if (!line.integer(&id))
        addProblem(r.log, r.object, kOperandMissing, line.at(), "*MESH_MTLID without its number");
    else if (face)
        face->materialId = id;
}

// "*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_SMOOTHING 1 *MESH_MTLID 0",
// with or without blanks around the colons. The rest of the line is read
// here too; the face it names, or null, is left in *face for the smoothing
// and material id keywords that may follow on other lines.
template <bool kBreakAhead>
void readFace(Reader& r, size_t at, size_t& p, AseObject& object, ObjectWork& work,
              AseFace** face) {
    LineScan<kBreakAhead> line(r.text, p);
    *face = nullptr;
    int index = 0;
    bool indexRead = line.integer(&index);
    line.match(':');
    int corners[3];
    int got = 0;
    while (got < 3 && line.match(char('A' + got)) && line.match(':') && line.integer(&corners[got]))
        got++;
    p = line.at();
    if (!elementExists(r, work, kFaces, object.faces.size(), indexRead, index, "*MESH_FACE", at))
        return;
    if (got < 3) {
        addProblem(r.log, r.object, kOperandMissing, at,
                   "*MESH_FACE %d without its corners A, B and C, line skipped", index);
        return;
    }
    *face = &object.faces[size_t(index)];
    std::copy(corners, corners + 3, (*face)->corner);
    // Normals read for the face before are for the corners it had then.
    (*face)->fileNormals = 0;
    work.stored[kFaces]++;
    // The edge flags are passed over; the smoothing groups and the material
    // id are taken. Anything else is left to the list's reading.
    for (const char* edge : {"AB", "BC", "CA"}) {
        LineScan<kBreakAhead> flag = line;
        int value;
        if (!flag.match(edge[0]) || !flag.match(edge[1]) || !flag.match(':') ||
            !flag.integer(&value))
            break;
        line.c = flag.c;
    }
    while (true) {
        line.skipBlanks();
        if (line.ended() || kBytes.operandsEnd[*line.c])
            break;
        if (*line.c != '*') {
            line.c++;
            line.skipOperands();
        } else if (line.wordIs("*MESH_SMOOTHING")) {
            line.c += 15;
            (*face)->smoothing = readSmoothing(r, line);
        } else if (line.wordIs("*MESH_MTLID")) {
            line.c += 11;
            readMaterialId(r, line, *face);
        } else {
            break;
        }
    }
    p = line.at();
}

void readFaceList(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    AseFace* face = nullptr;
    auto fast = [&](size_t& q) {
        return lineOf(r, q, "*MESH_FACE", [&](size_t at, size_t& rest, auto ahead) {
            readFace<decltype(ahead)::value>(r, at, rest, object, work, &face);
        });
    };
    readList(r, p, "*MESH_FACE_LIST", fast, [&](std::string_view keyword, size_t, size_t& q) {
        LineScan<> line(r.text, q);
        if (is(keyword, "*MESH_SMOOTHING")) {
            uint32_t groups = readSmoothing(r, line);
            if (face)
                face->smoothing = groups;
        } else if (is(keyword, "*MESH_MTLID")) {
            readMaterialId(r, line, face);
        }
        q = line.at();
    });
}

template <bool kBreakAhead>
void readTexVertex(Reader& r, size_t at, size_t& p, AseObject& object, ObjectWork& work) {
    LineScan<kBreakAhead> line(r.text, p);
    int index = 0;
    bool indexRead = line.integer(&index);
    float values[2];
    int got = line.decimals(values, 2);
    p = line.at();
    if (!elementExists(r, work, kTexVertices, object.texVertices.size(), indexRead, index,
                       "*MESH_TVERT", at))
        return;
    Vec2& texVertex = object.texVertices[size_t(index)];
    if (got > 0)
        texVertex.u = values[0];
    if (got > 1)
        texVertex.v = values[1];
    else
        addProblem(r.log, r.object, kOperandMissing, at, "*MESH_TVERT %d with %d of its 2 numbers",
                   index, got);
    work.stored[kTexVertices]++;
}

void readTexVertexList(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    auto fast = [&](size_t& q) {
        return lineOf(r, q, "*MESH_TVERT", [&](size_t at, size_t& rest, auto ahead) {
            readTexVertex<decltype(ahead)::value>(r, at, rest, object, work);
        });
    };
    readList(r, p, "*MESH_TVERTLIST", fast, kIgnore);
}

// "*MESH_TFACE 3 4 5 6" or "*MESH_TFACE 3: 4 5 6": face 3's texture corners.
template <bool kBreakAhead>
void readTexFace(Reader& r, size_t at, size_t& p, AseObject& object, ObjectWork& work) {
    LineScan<kBreakAhead> line(r.text, p);
    int index = 0;
    bool indexRead = line.integer(&index);
    line.match(':');
    int corners[3];
    int got = 0;
    while (got < 3 && line.integer(&corners[got]))
        got++;
    p = line.at();
    if (!elementExists(r, work, kFaces, object.faces.size(), indexRead, index, "*MESH_TFACE", at))
        return;
    if (got < 3) {
        addProblem(r.log, r.object, kOperandMissing, at,
                   "*MESH_TFACE %d with %d of its 3 corners, line skipped", index, got);
        return;
    }
    std::copy(corners, corners + 3, object.faces[size_t(index)].texCorner);
    work.stored[kTexFaces]++;
}

void readTexFaceList(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    auto fast = [&](size_t& q) {
        return lineOf(r, q, "*MESH_TFACE", [&](size_t at, size_t& rest, auto ahead) {
            readTexFace<decltype(ahead)::value>(r, at, rest, object, work);
        });
    };
    readList(r, p, "*MESH_TFACELIST", fast, kIgnore);
}

// Where the normals of a *MESH_NORMALS block are going.
struct NormalsWork {
    // The face whose normals follow; -1 before the first face normal, -2
    // after one that names no face (already reported).
    long long face = -1;
    int slot = 0;
};

template <bool kBreakAhead>
void readVertexNormal(Reader& r, size_t at, size_t& p, AseObject& object, ObjectWork& work,
                      NormalsWork& normals) {
    LineScan<kBreakAhead> line(r.text, p);
    int vertex = 0;
    bool vertexRead = line.integer(&vertex);
    float n[3];
    int got = line.decimals(n, 3);
    p = line.at();
    long long face = normals.face;
    if (face < 0 || normals.slot >= 3 || !vertexRead || got < 3) {
        if (face == -1)
            addProblem(r.log, r.object, kNormalOrder, at,
                       "*MESH_VERTEXNORMAL before any *MESH_FACENORMAL, ignored");
        else if (face >= 0 && normals.slot >= 3)
            addProblem(r.log, r.object, kNormalOrder, at,
                       "a fourth *MESH_VERTEXNORMAL for face %lld, ignored", face);
        else if (face >= 0)
            addProblem(r.log, r.object, kOperandMissing, at,
                       "*MESH_VERTEXNORMAL without its vertex and 3 numbers, ignored");
        return;
    }
    normals.slot++;
    AseFace& target = object.faces[size_t(face)];
    if (target.corner[0] < 0 && target.corner[1] < 0 && target.corner[2] < 0) {
        work.waiting.push_back({size_t(face), vertex, Vec3(n[0], n[1], n[2])});
        return;
    }
    for (int k = 0; k < 3; k++) {
        if (target.corner[k] == vertex) {
            target.normal[k] = Vec3(n[0], n[1], n[2]);
            target.fileNormals |= uint8_t(1 << k);
        }
    }
}

// "*MESH_FACENORMAL f ..." followed by the "*MESH_VERTEXNORMAL v x y z" lines
// of face f's corners. The face normal itself is not needed.
void readNormals(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    NormalsWork normals;
    auto faceNormal = [&](size_t at, size_t& rest, auto ahead) {
        LineScan<decltype(ahead)::value> line(r.text, rest);
        int index = 0;
        bool indexRead = line.integer(&index);
        line.skipOperands();
        rest = line.at();
        normals.face = -2;
        if (elementExists(r, work, kFaces, object.faces.size(), indexRead, index,
                          "*MESH_FACENORMAL", at)) {
            normals.face = index;
            normals.slot = 0;
        }
    };
    auto fast = [&](size_t& q) {
        return lineOf(r, q, "*MESH_VERTEXNORMAL",
                      [&](size_t at, size_t& rest, auto ahead) {
                          readVertexNormal<decltype(ahead)::value>(r, at, rest, object, work,
                                                                   normals);
                      }) ||
               lineOf(r, q, "*MESH_FACENORMAL", faceNormal);
    };
    readList(r, p, "*MESH_NORMALS", fast, kIgnore);
}

void readMesh(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    readBlock(r, p, "*MESH", [&](std::string_view keyword, size_t at, size_t& q) {
        if (!startsWith(keyword, "*MESH_"))
            return;
        std::string_view name = keyword.substr(6);
        size_t count;
        if (is(name, "NUMVERTEX")) {
            if ((count = readCount(r, work, kVertices, at, q)) != SIZE_MAX)
                object.vertices.assign(count, Vec3(0, 0, 0));
        } else if (is(name, "NUMFACES")) {
            if ((count = readCount(r, work, kFaces, at, q)) != SIZE_MAX)
                object.faces.assign(count, AseFace());
        } else if (is(name, "NUMTVERTEX")) {
            if ((count = readCount(r, work, kTexVertices, at, q)) != SIZE_MAX)
                object.texVertices.assign(count, Vec2{0, 0});
        } else if (is(name, "VERTEX_LIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readVertexList(r, s, object, work); });
        } else if (is(name, "FACE_LIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readFaceList(r, s, object, work); });
        } else if (is(name, "TVERTLIST")) {
            readNested(r, q, keyword, at,
                       [&](size_t& s) { readTexVertexList(r, s, object, work); });
        } else if (is(name, "TFACELIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readTexFaceList(r, s, object, work); });
        } else if (is(name, "NORMALS")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readNormals(r, s, object, work); });
        }
        // Other mapping channels, vertex colours and the rest are skipped
        // with their blocks.
    });
}

// ---------------------------------------------------------------- objects

void readNodeTransform(Reader& r, size_t& p, AseObject& object) {
    readBlock(r, p, "*NODE_TM", [&](std::string_view keyword, size_t at, size_t& q) {
        if (keyword.size() == 8 && startsWith(keyword, "*TM_ROW") && keyword[7] >= '0' &&
            keyword[7] <= '3')
            readTriple(r, q, at, keyword, object.transform[keyword[7] - '0']);
    });
}

// The file normal of slot s, turned out of the object's space by its
// transform's rows and made a unit vector; false when that gives no direction.
bool turnNormal(const float (&rows)[4][3], Vec3 n, Vec3* turned) {
    double v[3];
    for (int k = 0; k < 3; k++)
        v[k] = double(n.x) * rows[0][k] + double(n.y) * rows[1][k] + double(n.z) * rows[2][k];
    double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 0) || !std::isfinite(length))
        return false;
    *turned = Vec3(float(v[0] / length), float(v[1] / length), float(v[2] / length));
    return true;
}

// Gives the corners the file normals that waited for their faces, and turns
// every file normal into the file's world space. A normal that then has no
// direction is not taken.
void placeFileNormals(AseObject& object, const ObjectWork& work) {
    for (const ObjectWork::Normal& waiting : work.waiting) {
        AseFace& face = object.faces[waiting.face];
        for (int k = 0; k < 3; k++) {
            if (face.corner[k] == waiting.vertex) {
                face.normal[k] = waiting.normal;
                face.fileNormals |= uint8_t(1 << k);
            }
        }
    }
    for (AseFace& face : object.faces) {
        for (int k = 0; face.fileNormals != 0 && k < 3; k++) {
            if (face.fileNormals >> k & 1 &&
                !turnNormal(object.transform, face.normal[k], &face.normal[k])) {
                face.fileNormals &= uint8_t(~(1 << k));
                face.normal[k] = Vec3(0, 0, 1);
            }
        }
    }
}

// Objects whose counts promise more than their lines give: one line each,
// at the end of the object, or where the text ends inside it.
void reportIncomplete(Reader& r, const AseObject& object, const ObjectWork& work, size_t end) {
    size_t counts[4] = {object.vertices.size(), object.faces.size(), object.texVertices.size(),
                        object.texVertices.empty() ? 0 : object.faces.size()};
    std::string missing;
    for (int array = kVertices; array <= kTexFaces; array++) {
        if (work.stored[array] >= (long long)counts[array])
            continue;
        missing += missing.empty() ? "" : ", ";
        missing += std::to_string(work.stored[array]) + " of its " + std::to_string(counts[array]) +
                   " " + kArrayNames[array];
    }
    if (!r.endedIn.empty()) {
        r.endReported = true;
        if (missing.empty())
            addProblem(r.log, r.object, kIncomplete, r.text.size,
                       "the text ends inside %.*s of object %d; the blocks left open are "
                       "closed there",
                       int(r.endedIn.size()), r.endedIn.data(), r.object);
        else
            addProblem(r.log, r.object, kIncomplete, r.text.size,
                       "the text ends inside %.*s of object %d, with %s; the rest are left "
                       "empty",
                       int(r.endedIn.size()), r.endedIn.data(), r.object, missing.c_str());
    } else if (!missing.empty()) {
        addProblem(r.log, r.object, kIncomplete, end,
                   "object %d has only %s; the rest are left empty", r.object, missing.c_str());
    }
}

void readGeomObject(Reader& r, size_t& p) {
    std::vector<AseObject>& objects = r.model->objects;
    objects.emplace_back();
    AseObject& object = objects.back();
    r.object = int(objects.size() - 1);
    ObjectWork work;
    readBlock(r, p, "*GEOMOBJECT", [&](std::string_view keyword, size_t at, size_t& q) {
        if (is(keyword, "*NODE_NAME")) {
            object.name = readText(r, q, at);
        } else if (is(keyword, "*NODE_TM")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readNodeTransform(r, s, object); });
        } else if (is(keyword, "*MESH")) {
            if (work.meshRead) {
                addProblem(r.log, r.object, kCountRepeated, at,
                           "a second *MESH in object %d, skipped", r.object);
                skipNested(r, q, keyword);
                return;
            }
            work.meshRead =
                readNested(r, q, keyword, at, [&](size_t& s) { readMesh(r, s, object, work); });
        } else if (is(keyword, "*MATERIAL_REF")) {
            // Cut toward zero, as the robot's reader does.
            float value;
            if (floatOnLine(r.text, q, &value) && value >= -2147483648.0f && value < 2147483648.0f)
                object.materialRef = int(value);
            else
                addProblem(r.log, r.object, kOperandMissing, at,
                           "*MATERIAL_REF without a material number, ignored");
        }
    });
    placeFileNormals(object, work);
    reportIncomplete(r, object, work, p > 0 ? p - 1 : 0);
    r.object = -1;
}

void readGroup(Reader& r, size_t& p) {
    readBlock(r, p, "*GROUP", [&](std::string_view keyword, size_t at, size_t& q) {
        if (is(keyword, "*GEOMOBJECT")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readGeomObject(r, s); });
        } else if (is(keyword, "*GROUP")) {
            readText(r, q, at);
            readNested(r, q, keyword, at, [&](size_t& s) { readGroup(r, s); });
        }
    });
}

void readFile(Reader& r) {
    size_t p = 0;
    readBlock(r, p, "", [&](std::string_view keyword, size_t at, size_t& q) {
        if (is(keyword, "*GEOMOBJECT")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readGeomObject(r, s); });
        } else if (is(keyword, "*GROUP")) {
            readText(r, q, at);
            readNested(r, q, keyword, at, [&](size_t& s) { readGroup(r, s); });
        } else if (is(keyword, "*MATERIAL_LIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readMaterialList(r, s); });
        }
    });
    if (!r.endedIn.empty() && !r.endReported)
        addProblem(r.log, -1, kIncomplete, r.text.size,
                   "the text ends inside %.*s; the blocks left open are closed there",
                   int(r.endedIn.size()), r.endedIn.data());
}

} // namespace

bool readAseBlocks(const char* data, size_t size, const char* name, AseModel* model,
                   std::vector<std::string>* problems) {
    if (!model || (!data && size > 0))
        return false;
    Reader r;
    std::string converted;
    r.text = modelText(reinterpret_cast<const unsigned char*>(data), size, &converted);
    r.budget = allocationBudget(r.text.size);
    for (size_t end = r.text.size; end > 0 && r.breakAheadBefore == 0; end--) {
        if (r.text.data[end - 1] == '\n')
            r.breakAheadBefore = end;
    }
    r.model = model;
    *model = AseModel();
    readFile(r);
    computeCornerNormals(*model);
    if (problems)
        *problems = problemLines(r.log, r.text, name ? name : "");
    return true;
}

bool loadAseBlocks(const char* path, AseModel* model, std::vector<std::string>* problems) {
    if (!path || !model)
        return false;
    MappedFile file;
    if (!mapFile(path, &file))
        return false;
    readAseBlocks(reinterpret_cast<const char*>(file.data), file.size, path, model, problems);
    unmapFile(&file);
    return true;
}
