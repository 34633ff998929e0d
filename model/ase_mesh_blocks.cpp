#include "ase_mesh_blocks.h"

#include "corner_normals.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace block_reading {

namespace {

const char* const kArrayNames[kArrayKinds] = {
    "vertices", "faces", "texture vertices", "colour vertices", "texture faces", "colour faces"};
const char* const kCountKeywords[kArrayKinds] = {"*MESH_NUMVERTEX",  "*MESH_NUMFACES",
                                                 "*MESH_NUMTVERTEX", "*MESH_NUMCVERTEX",
                                                 "*MESH_NUMTVFACES", "*MESH_NUMCVFACES"};

// A count keyword sizes its array once. The texture and colour faces fill
// corners of the faces, so their counts size nothing and only tell how many
// lines to expect.
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
    // Vertices and faces are counted with what computing their corner
    // normals takes for them.
    const uint64_t recordBytes[kArrayKinds] = {sizeof(Vec3) + kCornerNormalBytesPerVertex,
                                               sizeof(AseFace) + kCornerNormalBytesPerFace,
                                               sizeof(Vec2),
                                               sizeof(Vec3),
                                               0,
                                               0};
    work.counted[array] = believe(r, count, recordBytes[array], keyword, at);
    return work.counted[array];
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

// A face whose corners name elements its object does not have is not drawn
// (or, for texture or colour corners, drawn without them); said once per
// line, where the count came before.
void reportCornersOutside(Reader& r, const ObjectWork& work, int array, size_t size,
                          const int* corners, int face, const char* what, size_t at) {
    for (int k = 0; k < 3; k++) {
        if (work.countAt[array] == SIZE_MAX || (corners[k] >= 0 && size_t(corners[k]) < size))
            continue;
        const char* result = array == kVertices      ? "not drawn"
                             : array == kTexVertices ? "drawn without texture"
                                                     : "drawn without vertex colours";
        if (size > 0)
            addProblem(r.log, r.object, kCornerOutside, at,
                       "face %d names %s %d outside 0..%zu, %s", face, what, corners[k], size - 1,
                       result);
        else
            addProblem(r.log, r.object, kCornerOutside, at, "face %d names %s %d but %s is 0, %s",
                       face, what, corners[k], kCountKeywords[array], result);
        return;
    }
}

// Keywords a list does not know are passed over.
const auto kIgnore = [](std::string_view, size_t, size_t&) {};

// "*MESH_VERTEX 3 x y z" or "*MESH_VERTCOL 3 r g b": element 3 of points,
// the array of kind array.
template <bool kBreakAhead>
void readPoint(Reader& r, size_t at, size_t& p, std::vector<Vec3>& points, int array,
               const char* keyword, ObjectWork& work) {
    LineScan<kBreakAhead> line(r.text, p);
    int index = 0;
    bool indexRead = line.integer(&index);
    float values[3];
    int got = line.decimals(values, 3);
    p = line.at();
    if (!elementExists(r, work, array, points.size(), indexRead, index, keyword, at))
        return;
    Vec3& point = points[size_t(index)];
    float* xyz[3] = {&point.x, &point.y, &point.z};
    for (int k = 0; k < got; k++)
        *xyz[k] = values[k];
    if (got < 3)
        addProblem(r.log, r.object, kOperandMissing, at, "%s %d with %d of its 3 numbers", keyword,
                   index, got);
    work.stored[array]++;
}

// *MESH_VERTEX_LIST or *MESH_CVERTLIST.
template <size_t N>
void readPointList(Reader& r, size_t& p, std::vector<Vec3>& points, int array,
                   const char (&keyword)[N], std::string_view block, ObjectWork& work) {
    auto fast = [&](size_t& q) {
        return lineOf(r, q, keyword, [&](size_t at, size_t& rest, auto ahead) {
            readPoint<decltype(ahead)::value>(r, at, rest, points, array, keyword, work);
        });
    };
    readList(r, p, block, fast, kIgnore);
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
    reportCornersOutside(r, work, kVertices, object.vertices.size(), corners, index, "vertex", at);
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

// The corners that a list of texture faces (*MESH_TFACE) or colour faces
// (*MESH_CFACE) gives the faces, and the array of elements they index.
struct CornerList {
    int list;
    int array;
    int (AseFace::*corners)[3];
    const char* element;
};
const CornerList kTexCorners = {kTexFaces, kTexVertices, &AseFace::texCorner, "texture vertex"};
const CornerList kColorCorners = {kColorFaces, kColorVertices, &AseFace::colorCorner,
                                  "colour vertex"};

// "*MESH_TFACE 3 4 5 6" or "*MESH_TFACE 3: 4 5 6": face 3's texture corners;
// the same for "*MESH_CFACE".
template <bool kBreakAhead>
void readCornerFace(Reader& r, size_t at, size_t& p, AseObject& object, ObjectWork& work,
                    const CornerList& kind, const char* keyword) {
    LineScan<kBreakAhead> line(r.text, p);
    int index = 0;
    bool indexRead = line.integer(&index);
    line.match(':');
    int corners[3];
    int got = 0;
    while (got < 3 && line.integer(&corners[got]))
        got++;
    p = line.at();
    if (!elementExists(r, work, kFaces, object.faces.size(), indexRead, index, keyword, at))
        return;
    if (got < 3) {
        addProblem(r.log, r.object, kOperandMissing, at,
                   "%s %d with %d of its 3 corners, line skipped", keyword, index, got);
        return;
    }
    std::copy(corners, corners + 3, object.faces[size_t(index)].*kind.corners);
    size_t elements =
        kind.array == kTexVertices ? object.texVertices.size() : object.colorVertices.size();
    reportCornersOutside(r, work, kind.array, elements, corners, index, kind.element, at);
    work.stored[kind.list]++;
}

// *MESH_TFACELIST or *MESH_CFACELIST.
template <size_t N>
void readCornerFaceList(Reader& r, size_t& p, AseObject& object, ObjectWork& work,
                        const CornerList& kind, const char (&keyword)[N], std::string_view block) {
    auto fast = [&](size_t& q) {
        return lineOf(r, q, keyword, [&](size_t at, size_t& rest, auto ahead) {
            readCornerFace<decltype(ahead)::value>(r, at, rest, object, work, kind, keyword);
        });
    };
    readList(r, p, block, fast, kIgnore);
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

// An object's transform rows as its file normals are turned by them.
struct NormalTurn {
    double rows[3][3];
    explicit NormalTurn(const float (&transform)[4][3]) {
        for (int i = 0; i < 3; i++) {
            for (int k = 0; k < 3; k++)
                rows[i][k] = transform[i][k];
        }
    }
    // The normal n turned out of the object's space and made a unit vector;
    // false when that gives no direction.
    bool apply(Vec3& n) const {
        double x = double(n.x) * rows[0][0] + double(n.y) * rows[1][0] + double(n.z) * rows[2][0];
        double y = double(n.x) * rows[0][1] + double(n.y) * rows[1][1] + double(n.z) * rows[2][1];
        double z = double(n.x) * rows[0][2] + double(n.y) * rows[1][2] + double(n.z) * rows[2][2];
        double length = std::sqrt(x * x + y * y + z * z);
        if (!(length > 0) || !std::isfinite(length))
            return false;
        double scale = 1 / length;
        n = Vec3(float(x * scale), float(y * scale), float(z * scale));
        return true;
    }
};

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
    const NormalTurn turn(object.transform);
    for (AseFace& face : object.faces) {
        uint8_t given = face.fileNormals;
        for (int k = 0; given != 0 && k < 3; k++) {
            if ((given >> k & 1) && !turn.apply(face.normal[k])) {
                face.fileNormals &= uint8_t(~(1 << k));
                face.normal[k] = Vec3(0, 0, 1);
            }
        }
    }
}

// How many lines of texture or colour faces (list) the object expects: as
// many as its count says, within its faces; without a count, one for each
// face once it has elements (of array) for them to index.
size_t expectedCornerFaces(const AseObject& object, const ObjectWork& work, int list,
                           size_t elements) {
    if (work.countAt[list] != SIZE_MAX)
        return std::min(work.counted[list], object.faces.size());
    return elements == 0 ? 0 : object.faces.size();
}

// Objects whose counts promise more than their lines give: one line each,
// at the end of the object, or where the text ends inside it.
void reportIncomplete(Reader& r, const AseObject& object, const ObjectWork& work, size_t end) {
    size_t counts[kArrayKinds] = {
        object.vertices.size(),
        object.faces.size(),
        object.texVertices.size(),
        object.colorVertices.size(),
        expectedCornerFaces(object, work, kTexFaces, object.texVertices.size()),
        expectedCornerFaces(object, work, kColorFaces, object.colorVertices.size())};
    std::string missing;
    for (int array = 0; array < kArrayKinds; array++) {
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

} // namespace

void readMesh(Reader& r, size_t& p, AseObject& object, ObjectWork& work) {
    readBlock(r, p, "*MESH", [&](std::string_view keyword, size_t at, size_t& q) {
        if (!startsWith(keyword, "*MESH_"))
            return;
        std::string_view name = keyword.substr(6);
        size_t count;
        if (is(name, "NUMVERTEX")) {
            if ((count = readCount(r, work, kVertices, at, q)) != SIZE_MAX) {
                reserveRecords(object.vertices, count);
                object.vertices.assign(count, Vec3(0, 0, 0));
            }
        } else if (is(name, "NUMFACES")) {
            if ((count = readCount(r, work, kFaces, at, q)) != SIZE_MAX) {
                reserveRecords(object.faces, count);
                object.faces.assign(count, AseFace());
            }
        } else if (is(name, "NUMTVERTEX")) {
            if ((count = readCount(r, work, kTexVertices, at, q)) != SIZE_MAX) {
                reserveRecords(object.texVertices, count);
                object.texVertices.assign(count, Vec2{0, 0});
            }
        } else if (is(name, "NUMCVERTEX")) {
            if ((count = readCount(r, work, kColorVertices, at, q)) != SIZE_MAX) {
                reserveRecords(object.colorVertices, count);
                object.colorVertices.assign(count, Vec3(0, 0, 0));
            }
        } else if (is(name, "NUMTVFACES")) {
            readCount(r, work, kTexFaces, at, q);
        } else if (is(name, "NUMCVFACES")) {
            readCount(r, work, kColorFaces, at, q);
        } else if (is(name, "VERTEX_LIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) {
                readPointList(r, s, object.vertices, kVertices, "*MESH_VERTEX", "*MESH_VERTEX_LIST",
                              work);
            });
        } else if (is(name, "FACE_LIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readFaceList(r, s, object, work); });
        } else if (is(name, "TVERTLIST")) {
            readNested(r, q, keyword, at,
                       [&](size_t& s) { readTexVertexList(r, s, object, work); });
        } else if (is(name, "TFACELIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) {
                readCornerFaceList(r, s, object, work, kTexCorners, "*MESH_TFACE",
                                   "*MESH_TFACELIST");
            });
        } else if (is(name, "CVERTLIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) {
                readPointList(r, s, object.colorVertices, kColorVertices, "*MESH_VERTCOL",
                              "*MESH_CVERTLIST", work);
            });
        } else if (is(name, "CFACELIST")) {
            readNested(r, q, keyword, at, [&](size_t& s) {
                readCornerFaceList(r, s, object, work, kColorCorners, "*MESH_CFACE",
                                   "*MESH_CFACELIST");
            });
        } else if (is(name, "NORMALS")) {
            readNested(r, q, keyword, at, [&](size_t& s) { readNormals(r, s, object, work); });
        }
        // Other mapping channels and the rest are skipped with their blocks.
    });
}

void finishObject(Reader& r, AseObject& object, const ObjectWork& work, size_t end) {
    placeFileNormals(object, work);
    // A face is coloured at all three corners or not at all: one whose
    // colour corners do not all name colour vertices (reported on its line)
    // keeps its material's colour.
    if (work.stored[kColorFaces] > 0) {
        for (AseFace& face : object.faces) {
            if (!coloredFace(object, face))
                std::fill(face.colorCorner, face.colorCorner + 3, -1);
        }
    }
    reportIncomplete(r, object, work, end);
}

} // namespace block_reading
