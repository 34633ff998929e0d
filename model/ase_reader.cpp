#include "ase_reader.h"

#include "file_access.h"
#include "problem_log.h"
#include "text_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// The reader behaves as if it made one pass over the file per item, each pass
// from the top: one for the object count, one for the material count, one per
// material, and per object one for its counts and one for each of its five data
// keywords. Every pass reads the first word of a line, acts on it and throws the
// rest of the line away, so a pass sees the file through its own keywords, and
// lines longer than the discard length can be split differently by different
// passes.
//
// To stay linear, those passes run side by side in two sweeps over the text:
// each pass keeps its own position, and the passes that stand on the same word
// read it once and step together. On ordinary lines they all stay in step;
// where they part, each goes on alone, exactly as it would have.
//
// The first sweep finds the objects and materials, reads the materials, the
// material count, each object's counts and its material reference. Then the
// arrays are made, with their final sizes. The second sweep reads the vertices,
// texture vertices and triangles into them; the texture vertices can be scaled
// at once, since the materials and every object's material are known by then.

namespace {

// At most this many characters of a line are thrown away behind a word that a
// pass does not handle; the rest of a longer line is read on as words.
constexpr size_t kDiscardLength = 99;
// Longest word or quoted text kept; longer ones are cut.
constexpr size_t kWordLimit = kTextSize - 1;
// Passes that read on past the end of their object or material (a long line
// hid the word that ends it from them) would each run through the rest of the
// file. Together they may walk over the file a few times, a unit for each byte
// and each step.
uint64_t overlapBudget(size_t fileSize) {
    return 65536 + 8 * uint64_t(fileSize);
}

enum Keyword : unsigned char {
    kNone,
    kGeomObject,
    kMaterialCount,
    kMaterial,
    kMaterialName,
    kMaterialDiffuse,
    kMaterialSpecular,
    kBitmap,
    kUTiling,
    kVTiling,
    kNumVertex,
    kNumFaces,
    kNumTVertex,
    kMeshVertex,
    kMeshTVert,
    kMeshFace,
    kMeshTFace,
    kMaterialRef,
    kKeywords
};

// The keywords' texts, in the order of the enumeration.
constexpr std::string_view kKeywordNames[kKeywords] = {"",
                                                       "*GEOMOBJECT",
                                                       "*MATERIAL_COUNT",
                                                       "*MATERIAL",
                                                       "*MATERIAL_NAME",
                                                       "*MATERIAL_DIFFUSE",
                                                       "*MATERIAL_SPECULAR",
                                                       "*BITMAP",
                                                       "*UVW_U_TILING",
                                                       "*UVW_V_TILING",
                                                       "*MESH_NUMVERTEX",
                                                       "*MESH_NUMFACES",
                                                       "*MESH_NUMTVERTEX",
                                                       "*MESH_VERTEX",
                                                       "*MESH_TVERT",
                                                       "*MESH_FACE",
                                                       "*MESH_TFACE",
                                                       "*MATERIAL_REF"};
constexpr size_t kLongestKeyword = sizeof("*MATERIAL_SPECULAR") - 1;

const char* keywordText(Keyword keyword) {
    return kKeywordNames[keyword].data();
}

// The rest of a line behind a word: up to and including the line break, but
// never more than kDiscardLength characters.
size_t discardLine(const Text& text, size_t p) {
    size_t limit = p + std::min(kDiscardLength, text.size - p);
    const void* lineBreak = std::memchr(text.data + p, '\n', limit - p);
    if (lineBreak)
        return size_t(static_cast<const unsigned char*>(lineBreak) - text.data) + 1;
    return limit;
}

// The keyword a word is, compared as the C string it would be in a word
// buffer: cut at a zero byte.
Keyword classify(const unsigned char* word, size_t length) {
    if (word[0] != '*')
        return kNone;
    const void* zero = std::memchr(word, 0, std::min(length, kLongestKeyword + 1));
    if (zero)
        length = size_t(static_cast<const unsigned char*>(zero) - word);
    else if (length > kLongestKeyword)
        return kNone;
    std::string_view name(reinterpret_cast<const char*>(word), length);
    for (int k = kGeomObject; k < kKeywords; k++) {
        if (kKeywordNames[k] == name)
            return Keyword(k);
    }
    return kNone;
}

// Reads the word at begin: its end and its keyword.
Keyword readWord(const Text& text, size_t begin, size_t* end) {
    *end = text.wordEnd(begin);
    return classify(text.data + begin, *end - begin);
}
// "%d:": the colon is taken when it is there.
int scanIndex(const Text& text, size_t& p) {
    int index = 0;
    if (scanInt(text, p, &index))
        text.match(p, ':');
    return index;
}

// "\tA:\t%d B:\t%d C:\t%d": tells how many corners were read.
int scanCorners(const Text& text, size_t& p, int* corners) {
    const char labels[3] = {'A', 'B', 'C'};
    for (int k = 0; k < 3; k++) {
        p = text.skipBlanks(p);
        if (!text.match(p, labels[k]) || !text.match(p, ':') || !scanInt(text, p, &corners[k]))
            return k;
    }
    return 3;
}

// The passes. An object's data passes each want one keyword; all five data
// keywords are recognised by every one of them.
enum PassKind : unsigned char {
    kFindObjects,       // each "*GEOMOBJECT" starts an object, and its passes
    kFindMaterials,     // each "*MATERIAL" starts a material section, and its pass
    kFindMaterialCount, // the first "*MATERIAL_COUNT"
    kMaterialPass,      // one material section's keywords
    kCountsPass,        // one object's counts
    kDataPass,          // one object's data keyword
};

struct Pass {
    PassKind kind;
    Keyword wanted;      // for data passes
    int item;            // material section or object
    size_t pos;          // the next word starts here (or the text ends)
    uint32_t actedOn;    // keywords it does not throw the line away behind
    uint32_t passesOver; // those of them it reads nothing for
    bool done;
};

enum ProblemKind {
    kCountRefused,
    kNoArray,
    kIndexOutside,
    kMaterialOutside,
    kNoMaterial,
    kTextCut,
    kCornerOutside,
    kTexCornerOutside,
    kIncomplete,
    kProblemKinds
};

// The three arrays that counts create, in the order they are made, and the
// texture corners of the triangles, which have lines of their own.
enum ArrayKind { kVertices, kTriangles, kTexVertices, kTexTriangles };

// What the reader keeps of an object besides its record.
struct ObjectWork {
    size_t start = 0;      // just behind the object's "*GEOMOBJECT" word
    size_t end = SIZE_MAX; // where the next object's "*GEOMOBJECT" word starts
    // The last count keyword of each array, if there is one.
    size_t countAt[3] = {SIZE_MAX, SIZE_MAX, SIZE_MAX};
    // Data lines stored into each array.
    long long stored[4] = {0, 0, 0, 0};
};

} // namespace

struct AseReadState {
    Text text;
    std::string name;
    tModel* model = nullptr;
    // The passes of the running sweep; steps of the first sweep add more.
    std::deque<Pass> passes;
    std::vector<ObjectWork> objects;
    // What each material section holds, and where the next one starts.
    std::vector<tMaterialInfo> sections;
    std::vector<size_t> sectionEnds;
    int materialCount = 0;
    size_t materialCountAt = SIZE_MAX;
    uint64_t overlapLeft = 0;
    bool overlapStopped = false;
    ProblemLog log = newProblemLog(kProblemKinds);
};

namespace {

// " \"%s", less the word's last character (the closing quote). Without an
// opening quote and a word the field stays as it was.
void readQuotedText(AseReadState& state, char* field, size_t& p, size_t at) {
    const Text& text = state.text;
    p = text.skipBlanks(p);
    if (!text.match(p, '"'))
        return;
    p = text.skipBlanks(p);
    if (p >= text.size)
        return;
    size_t end = text.wordEnd(p);
    size_t length = end - p;
    // The word as a C string holds it: cut at the limit and at a zero byte.
    size_t kept = std::min(length, kWordLimit);
    if (const void* zero = std::memchr(text.data + p, 0, kept))
        kept = size_t(static_cast<const unsigned char*>(zero) - (text.data + p));
    kept -= kept > 0;
    std::memcpy(field, text.data + p, kept);
    field[kept] = 0;
    if (length > kWordLimit)
        addProblem(state.log, -1, kTextCut, at, "quoted text of %zu characters cut to %zu", length,
                   kWordLimit);
    p = end;
}

// " %f" into a value that starts at 0.
float readFloat(const Text& text, size_t& p) {
    float value = 0.0f;
    scanFloat(text, p, &value);
    return value;
}

void readMaterialKeyword(AseReadState& state, tMaterialInfo& material, Keyword keyword, size_t at,
                         size_t& p) {
    float values[3];
    switch (keyword) {
    case kMaterialDiffuse:
    case kMaterialSpecular: {
        float* colour = keyword == kMaterialDiffuse ? material.diffuse : material.specular;
        std::copy(values, values + scanAll(state.text, p, values, 3, scanFloat), colour);
        break;
    }
    case kBitmap:
        readQuotedText(state, material.strBitmap, p, at);
        break;
    case kMaterialName:
        readQuotedText(state, material.strMaterialName, p, at);
        break;
    case kUTiling:
        material.uTiling = readFloat(state.text, p);
        break;
    case kVTiling:
        material.vTiling = readFloat(state.text, p);
        break;
    default:
        break;
    }
}

int* countOf(t3DObject& object, int array) {
    return array == kVertices    ? &object.vertexCount
           : array == kTriangles ? &object.faceCount
                                 : &object.texVertexCount;
}

// "outside 0..N-1", or why there is no such range.
std::string outsideText(int count, Keyword countKeyword) {
    char text[64];
    if (count > 0)
        std::snprintf(text, sizeof text, "outside 0..%d", count - 1);
    else
        std::snprintf(text, sizeof text, "but %s is 0", keywordText(countKeyword));
    return text;
}

// Tells whether index names an element of the array that keyword's lines fill,
// and reports the line otherwise.
bool elementExists(AseReadState& state, int objectIndex, const void* elements, int array, int index,
                   Keyword keyword, size_t at) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    Keyword countKeyword = Keyword(kNumVertex + array);
    int count = *countOf(object, array);
    if (!elements) {
        addProblem(state.log, objectIndex, kNoArray, at, "%s in an object without %s, line skipped",
                   keywordText(keyword), keywordText(countKeyword));
        return false;
    }
    if (index < 0 || index >= count) {
        addProblem(state.log, objectIndex, kIndexOutside, at, "%s index %d %s, line skipped",
                   keywordText(keyword), index, outsideText(count, countKeyword).c_str());
        return false;
    }
    return true;
}

void readVertex(AseReadState& state, int objectIndex, size_t at, size_t& p) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    int index = 0;
    scanInt(state.text, p, &index);
    float values[3];
    int got = scanAll(state.text, p, values, 3, scanFloat);
    if (!elementExists(state, objectIndex, object.pVertices, kVertices, index, kMeshVertex, at))
        return;
    state.objects[size_t(objectIndex)].stored[kVertices]++;
    // The file's second axis becomes the negated third, its third the second.
    Vec3& vertex = object.pVertices[index];
    if (got > 0)
        vertex.x = values[0];
    if (got > 1)
        vertex.z = -values[1];
    if (got > 2)
        vertex.y = values[2];
}

// The texture vertex is scaled by the tiling of the object's material. A line
// that leaves a coordinate unread scales its earlier value once more, as
// reading in place does.
void readTexVertex(AseReadState& state, int objectIndex, size_t at, size_t& p) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    int index = 0;
    scanInt(state.text, p, &index);
    float values[2];
    int got = scanAll(state.text, p, values, 2, scanFloat);
    if (!elementExists(state, objectIndex, object.pTexVertices, kTexVertices, index, kMeshTVert,
                       at))
        return;
    const std::vector<tMaterialInfo>& materials = state.model->materials;
    if (object.materialId < 0 || object.materialId >= int(materials.size())) {
        // Files without a material list are common: one line per object,
        // counted for the whole file.
        if (problemCount(state.log, objectIndex, kNoMaterial)++ == 0)
            addProblem(state.log, -1, kNoMaterial, at,
                       "*MESH_TVERT lines of object %d skipped: they are scaled by material %d, "
                       "which the file does not list (%zu materials)",
                       objectIndex, object.materialId, materials.size());
        return;
    }
    state.objects[size_t(objectIndex)].stored[kTexVertices]++;
    const tMaterialInfo& material = materials[size_t(object.materialId)];
    Vec2& texVertex = object.pTexVertices[index];
    if (got > 0)
        texVertex.u = values[0];
    if (got > 1)
        texVertex.v = values[1];
    texVertex.u = texVertex.u * material.uTiling;
    texVertex.v = texVertex.v * material.vTiling;
    object.hasTexture = true;
}

// "*MESH_FACE" (corners) or "*MESH_TFACE". A triangle naming an element its
// object does not have is reported: the normals leave it out, and drawing
// skips it.
void readFace(AseReadState& state, int objectIndex, size_t at, size_t& p, bool corners) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    int index = scanIndex(state.text, p);
    int values[3];
    int got =
        corners ? scanCorners(state.text, p, values) : scanAll(state.text, p, values, 3, scanInt);
    if (!elementExists(state, objectIndex, object.pTriangles, kTriangles, index,
                       corners ? kMeshFace : kMeshTFace, at))
        return;
    tTriangle& triangle = object.pTriangles[index];
    int* target = corners ? triangle.vertexIndex : triangle.texIndex;
    std::copy(values, values + got, target);
    state.objects[size_t(objectIndex)].stored[corners ? kTriangles : kTexTriangles]++;
    if (!corners && !object.pTexVertices)
        return;
    int count = corners ? object.vertexCount : object.texVertexCount;
    for (int k = 0; k < 3; k++) {
        if (target[k] >= 0 && target[k] < count)
            continue;
        std::string outside = outsideText(count, corners ? kNumVertex : kNumTVertex);
        if (corners)
            addProblem(state.log, objectIndex, kCornerOutside, at,
                       "triangle %d names vertex %d %s, left out of the normals", index, target[k],
                       outside.c_str());
        else
            addProblem(state.log, objectIndex, kTexCornerOutside, at,
                       "triangle %d names texture vertex %d %s", index, target[k], outside.c_str());
        return;
    }
}

// "*MATERIAL_REF": a float cut toward zero. One no int can hold is skipped.
void readMaterialRef(AseReadState& state, int objectIndex, size_t at, size_t& p) {
    double value = readFloat(state.text, p);
    if (value >= -2147483648.0 && value < 2147483648.0)
        state.model->objects[size_t(objectIndex)].materialId = int(value);
    else
        addProblem(state.log, objectIndex, kMaterialOutside, at,
                   "*MATERIAL_REF value names no material, line skipped");
}

// A count keyword: the count is read into its field; a count that cannot be
// read keeps the field's value. The arrays are made once every count is known.
void readCount(AseReadState& state, int objectIndex, Keyword keyword, size_t at, size_t& p) {
    int array = keyword - kNumVertex;
    scanInt(state.text, p, countOf(state.model->objects[size_t(objectIndex)], array));
    state.objects[size_t(objectIndex)].countAt[array] = at;
}

constexpr uint32_t keywords(Keyword first, Keyword last) {
    return (uint32_t(2) << last) - (uint32_t(1) << first);
}
constexpr uint32_t kDataKeywords = keywords(kMeshVertex, kMaterialRef);

// The keywords each kind of pass acts on; on any other word it throws the
// line away. A data pass passes over the data keywords it does not want.
const uint32_t kActedOn[] = {
    keywords(kGeomObject, kGeomObject),                                     // kFindObjects
    keywords(kMaterial, kMaterial),                                         // kFindMaterials
    keywords(kMaterialCount, kMaterialCount),                               // kFindMaterialCount
    keywords(kMaterial, kVTiling),                                          // kMaterialPass
    keywords(kGeomObject, kGeomObject) | keywords(kNumVertex, kNumTVertex), // kCountsPass
    keywords(kGeomObject, kGeomObject) | kDataKeywords,                     // kDataPass
};

Pass newPass(PassKind kind, Keyword wanted, int item, size_t pos) {
    uint32_t passesOver = kind == kDataPass ? kDataKeywords & ~keywords(wanted, wanted) : 0;
    return {kind, wanted, item, pos, kActedOn[kind], passesOver, false};
}

// A new object starts behind the "*GEOMOBJECT" word at [begin, end); the
// first sweep reads its counts and its material reference.
void addObject(AseReadState& state, size_t begin, size_t end) {
    if (!state.objects.empty())
        state.objects.back().end = begin;
    int index = int(state.objects.size());
    state.objects.emplace_back();
    state.objects.back().start = end;
    state.model->objects.push_back(t3DObject());
    size_t pos = state.text.skipBlanks(end);
    state.passes.push_back(newPass(kCountsPass, kNone, index, pos));
    state.passes.push_back(newPass(kDataPass, kMaterialRef, index, pos));
}

// A new material section starts behind the "*MATERIAL" word at [begin, end).
// Sections beyond the material count, once it is known, need not be read.
void addSection(AseReadState& state, size_t begin, size_t end) {
    if (!state.sectionEnds.empty())
        state.sectionEnds.back() = begin;
    int index = int(state.sections.size());
    if (state.materialCountAt != SIZE_MAX && index >= state.materialCount) {
        state.sectionEnds.push_back(SIZE_MAX);
        return;
    }
    state.sections.push_back(tMaterialInfo());
    state.sectionEnds.push_back(SIZE_MAX);
    state.passes.push_back(newPass(kMaterialPass, kNone, index, state.text.skipBlanks(end)));
}

// A pass that passes over the keyword ending at end reads its first operand
// as a word and throws the rest of the line away. Usually that lands it where
// throwing the line away behind the keyword does: when the operands start
// with no keyword and the line ends within the discard length. Then this is
// that place (discarded: the line thrown away behind the keyword); otherwise
// SIZE_MAX.
size_t plainLineEnd(const Text& text, size_t end, size_t discarded) {
    if (discarded < text.size && text.data[discarded - 1] != '\n')
        return SIZE_MAX;
    size_t q = end;
    while (q < discarded && isBlank(text.data[q]) && text.data[q] != '\n')
        q++;
    return q < discarded && text.data[q] == '*' ? SIZE_MAX : discarded;
}

// Where the text of a pass's section or object ends: a pass still going
// beyond it reads the text of others.
size_t spanEnd(const AseReadState& state, const Pass& pass) {
    if (pass.kind == kMaterialPass)
        return state.sectionEnds[size_t(pass.item)];
    if (pass.kind == kCountsPass || pass.kind == kDataPass)
        return state.objects[size_t(pass.item)].end;
    return SIZE_MAX;
}

// Where a pass that would read its next word at pos reads a word it acts
// on or the first word of a line: the words between, the rest of a line
// longer than the discard, are each read and their lines thrown away, as the
// pass would. Stopping at line starts keeps the passes in step.
size_t settle(const Text& text, size_t pos, uint32_t actedOn) {
    while (true) {
        bool lineStart = pos == 0 || text.data[pos - 1] == '\n';
        while (pos < text.size && isBlank(text.data[pos])) {
            lineStart = lineStart || text.data[pos] == '\n';
            pos++;
        }
        if (pos >= text.size || lineStart)
            return pos;
        size_t end;
        if (actedOn >> readWord(text, pos, &end) & 1)
            return pos;
        pos = discardLine(text, end);
    }
}

// One step of one pass: the word [begin, end) with its keyword has been read.
// discarded is the place behind the rest of the line, for the passes that
// throw it away.
void stepPass(AseReadState& state, Pass& pass, Keyword keyword, size_t begin, size_t end,
              size_t discarded) {
    size_t p = end;
    bool handled = pass.actedOn >> keyword & 1;
    switch (pass.kind) {
    case kFindObjects:
        if (handled)
            addObject(state, begin, end);
        break;
    case kFindMaterials:
        if (handled)
            addSection(state, begin, end);
        break;
    case kFindMaterialCount:
        if (handled) {
            state.materialCountAt = begin;
            scanInt(state.text, p, &state.materialCount);
            pass.done = true;
            return;
        }
        break;
    case kMaterialPass:
        if (keyword == kMaterial) {
            pass.done = true;
            return;
        }
        if (handled)
            readMaterialKeyword(state, state.sections[size_t(pass.item)], keyword, begin, p);
        break;
    case kCountsPass:
    case kDataPass:
        if (keyword == kGeomObject) {
            pass.done = true;
            return;
        }
        if (!handled) {
            break;
        } else if (pass.passesOver >> keyword & 1) {
            // Nothing is read for it; its operands come up as words.
            size_t lineEnd = plainLineEnd(state.text, end, discarded);
            p = lineEnd != SIZE_MAX ? lineEnd : end;
        } else if (keyword <= kNumTVertex) {
            readCount(state, pass.item, keyword, begin, p);
        } else if (keyword == kMeshVertex) {
            readVertex(state, pass.item, begin, p);
        } else if (keyword == kMeshTVert) {
            readTexVertex(state, pass.item, begin, p);
        } else if (keyword == kMeshFace || keyword == kMeshTFace) {
            readFace(state, pass.item, begin, p, keyword == kMeshFace);
        } else {
            readMaterialRef(state, pass.item, begin, p);
            pass.done = true;
            return;
        }
        break;
    }
    if (!handled)
        p = discarded;
    pass.pos = settle(state.text, p, pass.actedOn);
}

// After the steps on one word: passes that have read past their own text use
// up the overlap budget, one for every such pass and one for every byte it
// walked (walked: the bytes walked by those that stepped). Once it is spent,
// every such pass ends there.
void limitOverlaps(AseReadState& state, std::vector<Pass*>& active, size_t here, uint64_t walked) {
    uint64_t work = walked;
    for (const Pass* pass : active)
        work += !pass->done && pass->pos > spanEnd(state, *pass);
    if (work == 0)
        return;
    if (!state.overlapStopped && work > state.overlapLeft) {
        state.overlapStopped = true;
        addProblem(state.log, -1, kIncomplete, here,
                   "objects or materials of this file overlap (a line over %zu characters hides "
                   "where one begins), and reading them was cut short: the model may be incomplete",
                   kDiscardLength);
    }
    state.overlapLeft -= std::min(work, state.overlapLeft);
    if (!state.overlapStopped)
        return;
    for (Pass* pass : active)
        pass->done = pass->done || pass->pos > spanEnd(state, *pass);
}

// Runs the passes in state.passes, which are in the order of their starting
// places, until each has met its end; a pass joins when the sweep reaches its
// start. Steps may add passes behind the others.
void sweep(AseReadState& state) {
    const Text& text = state.text;
    std::deque<Pass>& passes = state.passes;
    std::vector<Pass*> active;
    size_t joined = 0;
    // What the passes act on, and what they all only pass over.
    uint32_t actedOn = 0, passedOver = 0;
    auto regroup = [&]() {
        uint32_t reads = 0;
        actedOn = passedOver = 0;
        for (const Pass* pass : active) {
            actedOn |= pass->actedOn;
            passedOver |= pass->passesOver;
            reads |= pass->actedOn & ~pass->passesOver;
        }
        passedOver &= ~reads;
    };
    while (true) {
        size_t here = SIZE_MAX;
        bool together = true;
        for (const Pass* pass : active) {
            together = together && (here == SIZE_MAX || pass->pos == here);
            here = std::min(here, pass->pos);
        }
        while (joined < passes.size() && passes[joined].pos <= here) {
            Pass& pass = passes[joined++];
            together = together && (here == SIZE_MAX || pass.pos == here);
            here = pass.pos;
            active.push_back(&pass);
            regroup();
        }
        if (here == SIZE_MAX)
            return;
        size_t next = joined < passes.size() ? passes[joined].pos : SIZE_MAX;
        if (here >= text.size) {
            for (Pass* pass : active)
                pass->done = true;
        } else {
            size_t end;
            Keyword keyword = readWord(text, here, &end);
            size_t discarded = discardLine(text, end);
            // All passes stand on one word: lines that none of them acts on,
            // or that they all land behind alike, are passed over at once,
            // until the next pass joins.
            bool skipped = false;
            while (together && (!(actedOn >> keyword & 1) ||
                                (passedOver >> keyword & 1 &&
                                 plainLineEnd(text, end, discarded) != SIZE_MAX))) {
                skipped = true;
                here = text.skipBlanks(discarded);
                if (here >= text.size || here >= next)
                    break;
                keyword = readWord(text, here, &end);
                discarded = discardLine(text, end);
            }
            if (skipped) {
                for (Pass* pass : active)
                    pass->pos = here;
                if (here >= text.size || here >= next)
                    continue;
            }
            uint64_t walked = 0;
            for (Pass* pass : active) {
                if (pass->pos != here)
                    continue;
                stepPass(state, *pass, keyword, here, end, discarded);
                if (pass->pos > spanEnd(state, *pass))
                    walked += pass->pos - here;
            }
            limitOverlaps(state, active, here, walked);
        }
        size_t before = active.size();
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [](const Pass* pass) { return pass->done; }),
                     active.end());
        if (active.size() != before)
            regroup();
    }
}

// Believes a count when the memory its records need fits in what is left of
// the budget; otherwise reports it and takes 0.
int believe(AseReadState& state, int object, int count, uint64_t recordBytes, const char* what,
            size_t at, uint64_t& budget) {
    if (count < 0) {
        addProblem(state.log, object, kCountRefused, at, "%s %d is negative, taken as 0", what,
                   count);
        return 0;
    }
    if (uint64_t(count) * recordBytes > budget) {
        addProblem(state.log, object, kCountRefused, at,
                   "%s %d is more than a file of this size may ask for, taken as 0", what, count);
        return 0;
    }
    budget -= uint64_t(count) * recordBytes;
    return count;
}

template <typename T> T* clearedArray(int count) {
    T* array = new T[size_t(count)];
    std::memset(static_cast<void*>(array), 0, sizeof(T) * size_t(count));
    return array;
}

// Between the sweeps: the materials the count asks for, then every object's
// arrays in the order of the objects, with their final sizes.
void makeArrays(AseReadState& state) {
    tModel& model = *state.model;
    uint64_t budget = allocationBudget(state.text.size);
    int materialCount = believe(state, -1, state.materialCount, sizeof(tMaterialInfo),
                                "*MATERIAL_COUNT", state.materialCountAt, budget);
    int sections = int(state.sectionEnds.size());
    if (materialCount > sections)
        addProblem(state.log, -1, kIncomplete, state.materialCountAt,
                   "*MATERIAL_COUNT %d, but the file holds %d materials; the others are left empty",
                   materialCount, sections);
    model.materialCount = materialCount;
    state.sections.resize(size_t(materialCount), tMaterialInfo());
    model.materials = std::move(state.sections);

    // Vertices are counted with the normals they will get.
    const uint64_t recordBytes[3] = {2 * sizeof(Vec3), sizeof(tTriangle), sizeof(Vec2)};
    for (size_t i = 0; i < model.objects.size(); i++) {
        t3DObject& object = model.objects[i];
        const ObjectWork& work = state.objects[i];
        for (int array = kVertices; array <= kTexVertices; array++) {
            if (work.countAt[array] == SIZE_MAX)
                continue;
            int* count = countOf(object, array);
            *count = believe(state, int(i), *count, recordBytes[array],
                             keywordText(Keyword(kNumVertex + array)), work.countAt[array], budget);
            if (array == kVertices)
                object.pVertices = clearedArray<Vec3>(*count);
            else if (array == kTriangles)
                object.pTriangles = clearedArray<tTriangle>(*count);
            else
                object.pTexVertices = clearedArray<Vec2>(*count);
        }
    }
}

// Objects whose counts promise more than their lines give: one line each,
// at the end of the object's text, which for the last is where the file ends.
void reportIncompleteObjects(AseReadState& state) {
    static const char* const names[4] = {"vertices", "triangles", "texture vertices",
                                         "texture triangles"};
    for (size_t i = 0; i < state.objects.size(); i++) {
        const ObjectWork& work = state.objects[i];
        t3DObject& object = state.model->objects[i];
        std::string missing;
        for (int array = kVertices; array <= kTexTriangles; array++) {
            // Texture triangles go with texture vertices.
            int count = array < kTexTriangles       ? *countOf(object, array)
                        : object.texVertexCount > 0 ? object.faceCount
                                                    : 0;
            if (work.stored[array] >= count)
                continue;
            missing += missing.empty() ? "" : ", ";
            missing += std::to_string(work.stored[array]) + " of its " + std::to_string(count) +
                       " " + names[array];
        }
        if (missing.empty())
            continue;
        // The last object's text ends where the file does.
        if (i + 1 == state.objects.size())
            addProblem(state.log, int(i), kIncomplete, state.text.size,
                       "the text ends inside object %zu, with %s; the rest are left empty", i,
                       missing.c_str());
        else
            addProblem(state.log, int(i), kIncomplete, work.end,
                       "object %zu has only %s; the rest are left empty", i, missing.c_str());
    }
}

} // namespace

void AseReader::readModel(AseReadState& state, tModel* model) {
    state.model = model;
    state.overlapLeft = overlapBudget(state.text.size);
    // First sweep: objects and materials, the material count, each material,
    // each object's counts and material reference.
    for (PassKind finder : {kFindObjects, kFindMaterials, kFindMaterialCount})
        state.passes.push_back(newPass(finder, kNone, 0, state.text.skipBlanks(0)));
    sweep(state);
    model->objectCount = int(model->objects.size());
    makeArrays(state);

    // Second sweep: every object's vertices, texture vertices and triangles.
    state.passes.clear();
    for (int i = 0; i < model->objectCount; i++) {
        size_t start = state.text.skipBlanks(state.objects[size_t(i)].start);
        for (Keyword wanted : {kMeshVertex, kMeshTVert, kMeshFace, kMeshTFace})
            state.passes.push_back(newPass(kDataPass, wanted, i, start));
    }
    sweep(state);
    reportIncompleteObjects(state);
}

void AseReader::reportProblems(AseReadState& state) {
    for (std::string& message : problemLines(state.log, state.text, state.name)) {
        if (printProblems)
            std::printf("%s\n", message.c_str());
        problems.push_back(std::move(message));
    }
}

bool AseReader::readModelFromMemory(tModel* model, const char* data, size_t size,
                                    const char* name) {
    if (!model || (!data && size > 0))
        return false;
    problems.clear();
    AseReadState state;
    state.name = name ? name : "";
    // A UTF-16 text (by its byte order mark) is read as its UTF-8 equivalent;
    // a UTF-8 byte order mark is skipped.
    std::string converted;
    state.text = modelText(reinterpret_cast<const unsigned char*>(data), size, &converted);
    // A model read before is replaced.
    releaseModelArrays(*model);
    *model = tModel();
    readModel(state, model);
    computeVertexNormals(model);
    reportProblems(state);
    return true;
}

bool AseReader::loadModel(tModel* model, const char* path) {
    if (!model || !path)
        return false;
    MappedFile file;
    if (!mapFile(path, &file)) {
        char strMessage[kTextSize];
        std::snprintf(strMessage, sizeof strMessage, "Unable to find or open the file: %s", path);
        std::printf("%s", strMessage);
        return false;
    }
    readModelFromMemory(model, reinterpret_cast<const char*>(file.data), file.size, path);
    unmapFile(&file);
    if (textureMaker) {
        for (int i = 0; i < model->materialCount && i < int(model->materials.size()); i++) {
            tMaterialInfo& material = model->materials[size_t(i)];
            if (material.strBitmap[0])
                textureMaker(material.strBitmap, &material.textureId);
        }
    }
    return true;
}
