#include "ase_blocks.h"

#include "ase_mesh_blocks.h"
#include "block_reading.h"
#include "corner_normals.h"
#include "file_access.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

// The file is read in one pass, by recursive descent: every block the reader
// knows has a small function that reads its keywords; every other block is
// skipped by counting braces, so that how deeply it nests costs nothing. A
// keyword's operands are read from its own line only. Blocks read by
// functions nest at most kMaxDepth deep, so that a crafted file cannot use up
// the stack.

namespace block_reading {

namespace {

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
            std::string_view name = keptName(r, keyword);
            if (blockBrace(r, q, at) != SIZE_MAX)
                readNested(r, q, keyword, at, [&](size_t& s) {
                    MapRead inner = readMap(r, s, name);
                    if (nested.bitmap.empty())
                        nested = std::move(inner);
                });
        }
    });
    return own.bitmap.empty() && !nested.bitmap.empty() ? nested : own;
}

void readMaterial(Reader& r, size_t& p, AseMaterial& material, std::string_view block) {
    int declared = -1;
    size_t declaredAt = 0, declaredLine = 0;
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
                MapRead map = readMap(r, s, "*MAP_DIFFUSE");
                if (diffuseRead || map.bitmap.empty())
                    return;
                diffuseRead = true;
                material.bitmap = std::move(map.bitmap);
                material.uTiling = map.uTiling;
                material.vTiling = map.vTiling;
            });
        } else if (is(keyword, "*NUMSUBMTLS")) {
            declaredAt = at;
            // Its line may be let go before the sub-materials are counted.
            declaredLine = r.pieces ? lineAt(r, at) : 0;
            if (!intOnLine(r.text, q, &declared))
                declared = -1;
        } else if (is(keyword, "*SUBMATERIAL")) {
            // Sub-materials count in the order the file gives them; their
            // index is not needed.
            int index;
            intOnLine(r.text, q, &index);
            readNested(r, q, keyword, at, [&](size_t& s) {
                material.subMaterials.emplace_back();
                readMaterial(r, s, material.subMaterials.back(), "*SUBMATERIAL");
            });
        }
    });
    size_t present = material.subMaterials.size();
    if (declared >= 0 && size_t(declared) != present) {
        size_t logged = r.log.shown.size();
        addProblem(r.log, -1, kSubMaterials, declaredAt,
                   "*NUMSUBMTLS %d, but the material holds %zu *SUBMATERIAL blocks; its faces "
                   "choose among those",
                   declared, present);
        if (r.log.shown.size() > logged)
            r.log.shown.back().line = declaredLine;
    }
}

void readMaterialList(Reader& r, size_t& p) {
    r.listDepth = r.depth;
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
                   [&](size_t& s) { readMaterial(r, s, materials[size_t(slot)], "*MATERIAL"); });
    });
    r.listDepth = 0;
}

void readNodeTransform(Reader& r, size_t& p, AseObject& object) {
    readBlock(r, p, "*NODE_TM", [&](std::string_view keyword, size_t at, size_t& q) {
        if (keyword.size() == 8 && startsWith(keyword, "*TM_ROW") && keyword[7] >= '0' &&
            keyword[7] <= '3')
            readTriple(r, q, at, keyword, object.transform[keyword[7] - '0']);
    });
}

void readGeomObject(Reader& r, size_t& p) {
    std::vector<AseObject>& objects = r.model->objects;
    objects.emplace_back();
    AseObject& object = objects.back();
    r.object = int(objects.size() - 1);
    r.objectDepth = r.depth;
    ObjectWork work;
    bool materialRefRead = false;
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
            if (floatOnLine(r.text, q, &value) && value >= -2147483648.0f &&
                value < 2147483648.0f) {
                object.materialRef = int(value);
                materialRefRead = true;
            } else
                addProblem(r.log, r.object, kOperandMissing, at,
                           "*MATERIAL_REF without a material number, ignored");
        }
    });
    finishObject(r, object, work, p > 0 ? p - 1 : 0);
    if (!materialRefRead)
        r.withoutMaterialRef.push_back(size_t(r.object));
    r.object = -1;
    r.objectDepth = 0;
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
    // An object that names no material takes the first, as the game engines
    // and level editors that load these files give it.
    if (!r.model->materials.empty()) {
        for (size_t object : r.withoutMaterialRef)
            r.model->objects[object].materialRef = 0;
    }
}

} // namespace

} // namespace block_reading

using namespace block_reading;

namespace {

// Why text is no ASE model, or "" when it begins with a '*' keyword as every
// ASE file does (after white space). Binary data is told by control
// characters; a sprite editor's file of the same extension by its magic
// number after the file's size.
std::string notAseModel(const Text& text) {
    size_t p = skipSpace(text, 0);
    if (p < text.size && text.data[p] == '*')
        return "";
    if (text.size == 0)
        return "it is empty";
    if (p == text.size)
        return "it holds only white space";
    size_t end = std::min(text.size, p + 48);
    bool binary = false;
    for (size_t q = p; q < end && !binary; q++)
        binary = (text.data[q] < ' ' && !isBlank(text.data[q])) || text.data[q] == 0x7F;
    char shown[160];
    if (binary) {
        int n = std::snprintf(shown, sizeof shown, "it starts with binary data (");
        for (size_t q = 0; q < std::min<size_t>(text.size, 8); q++)
            n += std::snprintf(shown + n, sizeof shown - size_t(n), "%s%02x", q ? " " : "",
                               text.data[q]);
        std::snprintf(shown + n, sizeof shown - size_t(n), "%s)",
                      text.size >= 6 && text.data[4] == 0xE0 && text.data[5] == 0xA5
                          ? "; a sprite editor's file, magic 0xA5E0"
                      : text.size > 8 ? " ..."
                                      : "");
        return shown;
    }
    // Text: its first line, up to 40 bytes, as it stands.
    size_t lineEnd = p;
    while (lineEnd < text.size && lineEnd < p + 40 && text.data[lineEnd] != '\n' &&
           text.data[lineEnd] != '\r')
        lineEnd++;
    std::string line(reinterpret_cast<const char*>(text.data) + p, lineEnd - p);
    bool cut = lineEnd < text.size && text.data[lineEnd] != '\n' && text.data[lineEnd] != '\r';
    return "it starts with \"" + line + (cut ? "...\"" : "\"") + ", not with a '*' keyword";
}

} // namespace

namespace {

// Whether the text that starts with start is no ASE model; if so, empties
// *model and says why in *problems.
bool refused(const Text& start, const char* name, AseModel* model,
             std::vector<std::string>* problems) {
    *model = AseModel();
    std::string why = notAseModel(start);
    if (!why.empty() && problems)
        *problems = {std::string(name ? name : "") + " is not an ASE model: " + why};
    return !why.empty();
}

// Reads the text of r, whose memory budget it has, into *model.
void readModel(Reader& r, AseModel* model, const char* name, std::vector<std::string>* problems) {
    r.model = model;
    moreText(r, 0);
    readFile(r);
    computeCornerNormals(*model);
    placeProblems(r);
    if (problems)
        *problems = problemLines(r.log, r.text, name ? name : "");
}

} // namespace

bool readAseBlocks(const char* data, size_t size, const char* name, AseModel* model,
                   std::vector<std::string>* problems) {
    if (!model || (!data && size > 0))
        return false;
    Reader r;
    std::string converted;
    r.text = modelText(reinterpret_cast<const unsigned char*>(data), size, &converted);
    if (refused(r.text, name, model, problems))
        return false;
    r.budget = allocationBudget(r.text.size);
    for (size_t end = r.text.size; end > 0 && r.breakAheadBefore == 0; end--) {
        if (r.text.data[end - 1] == '\n')
            r.breakAheadBefore = end;
    }
    readModel(r, model, name, problems);
    return true;
}

namespace {

// A text read on until its start tells whether it is an ASE model: the
// first thing behind the white space with the bytes notAseModel looks at
// behind it, or the whole text. False when the white space goes on too long
// to tell that way.
bool readStart(TextPieces& s, size_t skip) {
    const size_t kLongestStart = size_t(1) << 20;
    size_t p = 0;
    while (true) {
        Text start;
        start.data = s.buffer.data() + skip;
        start.size = s.filled - skip;
        p = skipSpace(start, p);
        if (s.ended || (p < start.size && start.size >= p + 49 && start.size >= 9))
            return true;
        if (s.filled > kLongestStart)
            return false;
        readPiece(s);
    }
}

} // namespace

bool readAseBlocksInPieces(size_t (*read)(void* source, unsigned char* data, size_t bytes),
                           void* source, uint64_t size, const char* name, AseModel* model,
                           std::vector<std::string>* problems, size_t pieceBytes) {
    if (!model || !read)
        return false;
    TextPieces s;
    s.read = read;
    s.source = source;
    s.pieceBytes = std::max<size_t>(pieceBytes, 1);
    while (s.filled < 3 && readPiece(s)) {
    }
    const unsigned char* b = s.buffer.data();
    bool utf16 =
        s.filled >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF));
    size_t skip = !utf16 && s.filled >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
    // A UTF-16 text is converted whole, as is one that starts with more
    // white space than a piece.
    if (utf16 || !readStart(s, skip)) {
        while (readPiece(s)) {
        }
        return readAseBlocks(reinterpret_cast<const char*>(s.buffer.data()), s.filled, name, model,
                             problems);
    }
    Text start;
    start.data = s.buffer.data() + skip;
    start.size = s.filled - skip;
    if (refused(start, name, model, problems))
        return false;
    std::memmove(s.buffer.data(), s.buffer.data() + skip, s.filled - skip);
    s.filled -= skip;
    Reader r;
    r.pieces = &s;
    r.budget = allocationBudget(size > skip ? size_t(size - skip) : 0);
    readModel(r, model, name, problems);
    return true;
}

AseLoad loadAseBlocks(const char* path, AseModel* model, std::vector<std::string>* problems) {
    if (!path || !model)
        return AseLoad::cannotOpen;
    InputFile file;
    if (!openInputFile(path, &file))
        return AseLoad::cannotOpen;
    // Pieces that stay in the processor's cache while they are read.
    const size_t kPieceBytes = size_t(256) << 10;
    auto read = [](void* source, unsigned char* data, size_t bytes) {
        return readInput(static_cast<InputFile*>(source), data, bytes);
    };
    bool isModel =
        readAseBlocksInPieces(read, &file, file.size, path, model, problems, kPieceBytes);
    closeInputFile(&file);
    return isModel ? AseLoad::read : AseLoad::notAseModel;
}
