#include "ase_reader.h"

#include "file_access.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The reader behaves as if it made one pass over the file per item, each pass
// from the top: one for the object count, one for the material count, one per
// material, and per object one for its counts and one for each of its five data
// keywords. Every pass reads the first word of a line, acts on it and throws the
// rest of the line away, so a pass sees the file through its own keywords, and
// lines longer than the discard length can be split differently by different
// passes.
//
// To stay linear, all those passes run side by side in two sweeps over the
// text: each pass keeps its own position, and the passes that stand on the same
// word read it once and step together. On ordinary lines they all stay in step;
// where they part, each goes on alone, exactly as it would have. The only order
// between passes that matters is kept: an object's arrays must have their final
// size before its data lines land in them (checked; otherwise the object is read
// again pass after pass), and texture vertices are scaled by the tiling of the
// material the object refers to, which is only known at the end (their lines are
// kept and applied then, in file order).

namespace {

// At most this many characters of a line are thrown away behind a word that a
// pass does not handle; the rest of a longer line is read on as words.
constexpr size_t kDiscardLength = 99;
// Longest word or quoted text kept; longer ones are cut.
constexpr size_t kWordLimit = kTextSize - 1;
// A count is believed only when the object's text has at least this many
// bytes per element: no data line is shorter.
constexpr size_t kBytesPerElement = 8;
// Problems of one kind shown per object before the rest are only counted.
constexpr int kProblemsShown = 3;

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
};

struct KeywordName {
    const char* text;
    size_t length;
    Keyword keyword;
};

#define KEYWORD(text, keyword)                                                                     \
    { text, sizeof(text) - 1, keyword }
const KeywordName kKeywords[] = {
    KEYWORD("*GEOMOBJECT", kGeomObject),
    KEYWORD("*MATERIAL_COUNT", kMaterialCount),
    KEYWORD("*MATERIAL", kMaterial),
    KEYWORD("*MATERIAL_NAME", kMaterialName),
    KEYWORD("*MATERIAL_DIFFUSE", kMaterialDiffuse),
    KEYWORD("*MATERIAL_SPECULAR", kMaterialSpecular),
    KEYWORD("*BITMAP", kBitmap),
    KEYWORD("*UVW_U_TILING", kUTiling),
    KEYWORD("*UVW_V_TILING", kVTiling),
    KEYWORD("*MESH_NUMVERTEX", kNumVertex),
    KEYWORD("*MESH_NUMFACES", kNumFaces),
    KEYWORD("*MESH_NUMTVERTEX", kNumTVertex),
    KEYWORD("*MESH_VERTEX", kMeshVertex),
    KEYWORD("*MESH_TVERT", kMeshTVert),
    KEYWORD("*MESH_FACE", kMeshFace),
    KEYWORD("*MESH_TFACE", kMeshTFace),
    KEYWORD("*MATERIAL_REF", kMaterialRef),
};
#undef KEYWORD

const char* keywordText(Keyword keyword) {
    for (const KeywordName& name : kKeywords) {
        if (name.keyword == keyword)
            return name.text;
    }
    return "";
}

// White space as the C library sees it in the "C" locale.
struct BlankTable {
    bool blank[256] = {};
    // 1: white space, 2: the zero byte, 0: any other.
    unsigned char kind[256] = {};
    BlankTable() {
        for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
            blank[c] = true;
            kind[c] = 1;
        }
        kind[0] = 2;
    }
};
const BlankTable kBlanks;

inline bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The text being read: the mapped file, or its UTF-8 copy.
struct Text {
    const unsigned char* data = nullptr;
    size_t size = 0;

    size_t skipBlanks(size_t p) const {
        while (p < size && kBlanks.blank[data[p]])
            p++;
        return p;
    }
    size_t wordEnd(size_t p) const {
        while (p < size && !kBlanks.blank[data[p]])
            p++;
        return p;
    }
    // The same, telling whether the word holds a zero byte.
    size_t wordEnd(size_t p, bool* zero) const {
        unsigned char seen = 0;
#ifdef __SSE2__
        // Sixteen bytes at a time while they lie inside the text.
        const __m128i nine = _mm_set1_epi8(9), four = _mm_set1_epi8(4);
        const __m128i space = _mm_set1_epi8(' '), nul = _mm_setzero_si128();
        while (p + 16 <= size) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
            // Blank: ' ', or '\t' to '\r' (9 to 13).
            __m128i shifted = _mm_sub_epi8(bytes, nine);
            __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, four), shifted);
            unsigned blanks =
                unsigned(_mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, space))));
            unsigned zeros = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, nul)));
            if (blanks) {
                unsigned before = blanks & (0u - blanks);
                *zero = seen != 0 || (zeros & (before - 1)) != 0;
                return p + unsigned(__builtin_ctz(blanks));
            }
            seen |= zeros ? 2 : 0;
            p += 16;
        }
#endif
        while (p < size) {
            unsigned char kind = kBlanks.kind[data[p]];
            if (kind == 1)
                break;
            seen |= kind;
            p++;
        }
        *zero = seen != 0;
        return p;
    }
    // The rest of a line behind a word: up to and including the line break,
    // but never more than kDiscardLength characters.
    size_t discardLine(size_t p) const {
        size_t limit = p + std::min(kDiscardLength, size - p);
#ifdef __SSE2__
        // The rest of a line is short: sixteen bytes at a time, inline.
        const __m128i lineBreak = _mm_set1_epi8('\n');
        for (; p + 16 <= size && p < limit; p += 16) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
            unsigned found = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineBreak)));
            if (limit - p < 16)
                found &= (1u << (limit - p)) - 1;
            if (found)
                return p + unsigned(__builtin_ctz(found)) + 1;
        }
        if (p >= limit)
            return limit;
#endif
        const void* lineBreakAt = std::memchr(data + p, '\n', limit - p);
        if (lineBreakAt)
            return size_t(static_cast<const unsigned char*>(lineBreakAt) - data) + 1;
        return limit;
    }
    bool match(size_t& p, char c) const {
        if (p < size && data[p] == static_cast<unsigned char>(c)) {
            p++;
            return true;
        }
        return false;
    }
};

constexpr size_t kLongestKeyword = sizeof("*MATERIAL_SPECULAR") - 1;

// The keywords grouped by length, for a quick look-up.
struct KeywordsByLength {
    const KeywordName* names[kLongestKeyword + 1][4] = {};
    KeywordsByLength() {
        for (const KeywordName& name : kKeywords) {
            const KeywordName** slot = names[name.length];
            while (*slot)
                slot++;
            *slot = &name;
        }
    }
};
const KeywordsByLength kByLength;

// The keyword spelled by exactly these length characters, if any.
Keyword lookup(const unsigned char* word, size_t length) {
    for (const KeywordName* const* name = kByLength.names[length]; *name; name++) {
        if (word[length - 1] == static_cast<unsigned char>((*name)->text[length - 1]) &&
            std::memcmp(word, (*name)->text, length) == 0)
            return (*name)->keyword;
    }
    return kNone;
}

// A word is compared as the C string it would be in a word buffer: cut at the
// word limit and at a zero byte.
Keyword classify(const Text& text, size_t begin, size_t end, bool zero) {
    const unsigned char* word = text.data + begin;
    if (word[0] != '*')
        return kNone;
    size_t length = end - begin;
    if (length <= kLongestKeyword) {
        if (Keyword keyword = lookup(word, length))
            return keyword;
    }
    if (!zero)
        return kNone;
    // Only a zero byte right behind a keyword can still make it one.
    for (size_t cut = 2; cut <= kLongestKeyword && cut < length; cut++) {
        if (word[cut] == 0)
            return lookup(word, cut);
    }
    return kNone;
}

// Reads the word at begin: its end and its keyword.
Keyword readWord(const Text& text, size_t begin, size_t* end) {
    bool zero;
    *end = text.wordEnd(begin, &zero);
    return classify(text, begin, *end, zero);
}

// "%d": white space, an optional sign, decimal digits. Like the C library, a
// value outside the range of long is held at its limit and then cut to int;
// a sign without digits is consumed and the conversion fails.
bool scanInt(const Text& text, size_t& p, int* value) {
    p = text.skipBlanks(p);
    bool negative = false;
    if (p < text.size && (text.data[p] == '+' || text.data[p] == '-')) {
        negative = text.data[p] == '-';
        p++;
    }
    size_t digits = p;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    const uint64_t limit = uint64_t(1) << 63;
    while (p < text.size && isDigit(text.data[p])) {
        // Beyond 2^63 the value is held at the limit anyway; stop before
        // the multiplication could wrap.
        tooLarge = tooLarge || magnitude > limit / 10;
        if (!tooLarge) {
            magnitude = magnitude * 10 + uint64_t(text.data[p] - '0');
            tooLarge = magnitude > limit;
        }
        p++;
    }
    if (p == digits)
        return false;
    int64_t number;
    if (negative)
        number = tooLarge || magnitude >= limit ? INT64_MIN : -int64_t(magnitude);
    else
        number = tooLarge || magnitude >= limit ? INT64_MAX : int64_t(magnitude);
    *value = int(uint32_t(uint64_t(number)));
    return true;
}

// "%f" through the C library itself, for the rare forms the fast path leaves
// alone (exponents, hexadecimal, infinities, NaN, broken numbers): its rules
// for how much of a broken number it consumes are kept exactly that way. The
// window grows until the number ends inside it.
bool scanFloatSlowly(const Text& text, size_t& p, float* value) {
    size_t window = std::min<size_t>(64, text.size - p);
    while (true) {
        if (window == 0)
            return false;
        FILE* stream = fmemopen(const_cast<unsigned char*>(text.data + p), window, "r");
        if (!stream)
            return false;
        float number = 0;
        int converted = std::fscanf(stream, "%f", &number);
        long used = std::ftell(stream);
        std::fclose(stream);
        if (size_t(used) >= window && p + window < text.size) {
            window = std::min(window * 2, text.size - p);
            continue;
        }
        p += size_t(std::max(used, 0L));
        if (converted == 1)
            *value = number;
        return converted == 1;
    }
}

// "%f": white space, then a decimal number. Plain numbers (sign, digits,
// fraction, exponent) are converted here, correctly rounded like the C
// library does.
bool scanFloat(const Text& text, size_t& p, float* value) {
    p = text.skipBlanks(p);
    size_t q = p;
    if (q < text.size && (text.data[q] == '+' || text.data[q] == '-'))
        q++;
    size_t digits = q;
    while (q < text.size && isDigit(text.data[q]))
        q++;
    bool plain = q > digits;
    if (plain && q < text.size && text.data[q] == '.') {
        size_t fraction = ++q;
        while (q < text.size && isDigit(text.data[q]))
            q++;
        plain = q > fraction;
    }
    if (plain && q < text.size && (text.data[q] == 'e' || text.data[q] == 'E')) {
        // An exponent needs a digit; "1e" or "1e+" alone goes the slow way.
        size_t sign = q + 1;
        if (sign < text.size && (text.data[sign] == '+' || text.data[sign] == '-'))
            sign++;
        size_t exponent = sign;
        while (exponent < text.size && isDigit(text.data[exponent]))
            exponent++;
        plain = exponent > sign;
        q = exponent;
    } else if (plain && q < text.size) {
        unsigned char next = text.data[q];
        plain = !(next == '.' || next == 'x' || next == 'X');
    }
    if (plain) {
        const char* first = reinterpret_cast<const char*>(text.data + p);
        if (*first == '+')
            first++;
        float number;
        std::from_chars_result result =
            std::from_chars(first, reinterpret_cast<const char*>(text.data + q), number);
        if (result.ec == std::errc() &&
            result.ptr == reinterpret_cast<const char*>(text.data + q)) {
            *value = number;
            p = q;
            return true;
        }
    }
    return scanFloatSlowly(text, p, value);
}

// Reads up to count floats separated by white space ("%f %f %f") and tells
// how many were read; reading stops at the first that fails.
int scanFloats(const Text& text, size_t& p, float* values, int count) {
    for (int i = 0; i < count; i++) {
        if (!scanFloat(text, p, &values[i]))
            return i;
    }
    return count;
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

// "%d %d %d".
int scanInts(const Text& text, size_t& p, int* values, int count) {
    for (int i = 0; i < count; i++) {
        if (!scanInt(text, p, &values[i]))
            return i;
    }
    return count;
}

// Turns a UTF-16 text (after its byte order mark) into UTF-8. A lone
// surrogate becomes U+FFFD; an odd last byte is dropped.
std::string utf16ToUtf8(const unsigned char* data, size_t size, bool bigEndian) {
    std::string out;
    out.reserve(size / 2 + size / 8);
    auto unit = [&](size_t i) {
        return bigEndian ? unsigned(data[i] << 8 | data[i + 1])
                         : unsigned(data[i + 1] << 8 | data[i]);
    };
    for (size_t i = 0; i + 1 < size; i += 2) {
        unsigned code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < size) {
            unsigned low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18);
            out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// The passes. An object's data passes each want one keyword; all five data
// keywords are recognised by every one of them.
enum PassKind : unsigned char {
    kFindObjects,       // counts "*GEOMOBJECT" words and notes where objects start
    kFindMaterials,     // notes where the "*MATERIAL" sections start
    kFindMaterialCount, // the first "*MATERIAL_COUNT"
    kMaterialPass,      // one material's keywords
    kCountsPass,        // one object's counts and arrays
    kDataPass,          // one object's data keyword
};

struct Pass {
    PassKind kind;
    Keyword wanted; // for data passes
    int item;       // material or object index
    size_t pos;     // the next word starts here (or the text ends)
    bool done;
    uint32_t actedOn; // keywords the pass acts on, filled when it joins
};

// Where a problem is told among the others: materials first, then object by
// object, each in the order of the passes that found them.
enum ProblemStage { kStageModel, kStageCounts, kStageData, kStageCheck };

enum ProblemKind {
    kCountRefused,
    kNoArray,
    kIndexOutside,
    kMaterialOutside,
    kTextCut,
    kCornerOutside,
    kTexCornerOutside,
    kProblemKinds
};

struct Problem {
    int object; // -1: not tied to an object
    int stage;
    int kind;
    size_t at; // byte offset of the line
    std::string text;
};

// A "*MESH_TVERT" line as read; it is stored and scaled once the object's
// material is known.
struct TexVertexLine {
    int index;
    int parsed;
    float value[2];
    size_t at;
};

struct ObjectWork {
    size_t start = 0;   // just behind the object's "*GEOMOBJECT" word
    size_t spanEnd = 0; // the next object's start, or the end of the text
    bool readAgain = false;
    bool vertexLineSeen = false;
    bool triangleLineSeen = false;
    std::vector<TexVertexLine> texVertexLines;
};

} // namespace

struct AseReadState {
    Text text;
    std::string name;
    tModel* model = nullptr;
    // Passes of one object run side by side and check their order.
    bool sideBySide = false;
    std::vector<size_t> objectStarts;
    std::vector<size_t> materialStarts;
    int materialCount = 0;
    size_t materialCountAt = 0;
    std::vector<ObjectWork> work;
    std::vector<Problem> problems;

    void problem(int object, int stage, int kind, size_t at, std::string text) {
        problems.push_back({object, stage, kind, at, std::move(text)});
    }
};

namespace {

std::string format(const char* pattern, long long a, long long b = 0, long long c = 0) {
    char buffer[300];
    std::snprintf(buffer, sizeof buffer, pattern, a, b, c);
    return buffer;
}

// " \"%s", less the word's last character (the closing quote). Without an
// opening quote and a word the field stays as it was.
void readQuotedText(AseReadState& state, char* field, size_t& p, int object, size_t at) {
    const Text& text = state.text;
    p = text.skipBlanks(p);
    if (!text.match(p, '"'))
        return;
    p = text.skipBlanks(p);
    if (p >= text.size)
        return;
    size_t end = text.wordEnd(p);
    size_t length = end - p;
    char word[kTextSize];
    size_t kept = std::min(length, kWordLimit);
    std::memcpy(word, text.data + p, kept);
    word[kept] = 0;
    size_t used = std::strlen(word);
    if (used > 0)
        word[used - 1] = 0;
    std::memcpy(field, word, std::strlen(word) + 1);
    if (length > kWordLimit)
        state.problem(object, kStageModel, kTextCut, at,
                      format("quoted text of %lld characters cut to %lld", (long long)length,
                             (long long)kWordLimit));
    p = end;
}

// " %f" into a value that starts at 0.
float readFloat(const Text& text, size_t& p) {
    float value = 0.0f;
    scanFloat(text, p, &value);
    return value;
}

void readMaterialKeyword(AseReadState& state, Pass& pass, Keyword keyword, size_t at, size_t& p) {
    tMaterialInfo& material = state.model->materials[size_t(pass.item)];
    float values[3];
    int got;
    switch (keyword) {
    case kMaterialDiffuse:
    case kMaterialSpecular: {
        float* colour = keyword == kMaterialDiffuse ? material.diffuse : material.specular;
        got = scanFloats(state.text, p, values, 3);
        std::copy(values, values + got, colour);
        break;
    }
    case kBitmap:
        readQuotedText(state, material.strBitmap, p, -1, at);
        break;
    case kMaterialName:
        readQuotedText(state, material.strMaterialName, p, -1, at);
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

// A count keyword: the count is read into its field (a count that cannot be
// read keeps the field's value) and a cleared array of that size replaces the
// earlier one. A count the object's text could not back is taken as 0.
void readObjectCount(AseReadState& state, int objectIndex, Keyword keyword, size_t at, size_t& p) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    ObjectWork& work = state.work[size_t(objectIndex)];
    int* count = keyword == kNumVertex  ? &object.vertexCount
                 : keyword == kNumFaces ? &object.faceCount
                                        : &object.texVertexCount;
    scanInt(state.text, p, count);
    size_t span = work.spanEnd - work.start;
    if (*count < 0 || size_t(*count) > span / kBytesPerElement) {
        state.problem(objectIndex, kStageCounts, kCountRefused, at,
                      keywordText(keyword) +
                          format(*count < 0 ? " %lld is negative, taken as 0"
                                            : " %lld is more than the object's text could hold, "
                                              "taken as 0",
                                 *count));
        *count = 0;
    }
    size_t n = size_t(*count);
    if (keyword == kNumVertex) {
        if (state.sideBySide && work.vertexLineSeen)
            work.readAgain = true;
        delete[] object.pVertices;
        object.pVertices = new Vec3[n];
        std::memset(static_cast<void*>(object.pVertices), 0, n * sizeof(Vec3));
    } else if (keyword == kNumFaces) {
        if (state.sideBySide && work.triangleLineSeen)
            work.readAgain = true;
        delete[] object.pTriangles;
        object.pTriangles = new tTriangle[n]();
    } else {
        delete[] object.pTexVertices;
        object.pTexVertices = new Vec2[n]();
        // Usually one line per texture vertex follows.
        if (work.texVertexLines.capacity() < n)
            work.texVertexLines.reserve(n);
    }
}

// "outside 0..N-1", or why there is no such range.
std::string outsideText(int count, Keyword countKeyword) {
    if (count > 0)
        return format("outside 0..%lld", count - 1);
    return std::string("but ") + keywordText(countKeyword) + " is 0";
}

// Tells whether index names an element of an array of count elements, and
// reports the line otherwise.
bool elementExists(AseReadState& state, int objectIndex, const void* array, int count, int index,
                   Keyword keyword, Keyword countKeyword, size_t at) {
    if (!array) {
        state.problem(objectIndex, kStageData, kNoArray, at,
                      std::string(keywordText(keyword)) + " in an object without " +
                          keywordText(countKeyword) + ", line skipped");
        return false;
    }
    if (index < 0 || index >= count) {
        state.problem(objectIndex, kStageData, kIndexOutside, at,
                      std::string(keywordText(keyword)) + format(" index %lld ", index) +
                          outsideText(count, countKeyword) + ", line skipped");
        return false;
    }
    return true;
}

void readVertex(AseReadState& state, int objectIndex, size_t at, size_t& p) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    state.work[size_t(objectIndex)].vertexLineSeen = true;
    int index = 0;
    scanInt(state.text, p, &index);
    float values[3];
    int got = scanFloats(state.text, p, values, 3);
    if (!elementExists(state, objectIndex, object.pVertices, object.vertexCount, index, kMeshVertex,
                       kNumVertex, at))
        return;
    // The file's second axis becomes the negated third, its third the second.
    Vec3& vertex = object.pVertices[index];
    if (got > 0)
        vertex.x = values[0];
    if (got > 1)
        vertex.z = -values[1];
    if (got > 2)
        vertex.y = values[2];
}

void readTexVertex(AseReadState& state, int objectIndex, size_t at, size_t& p) {
    TexVertexLine line = {0, 0, {0, 0}, at};
    scanInt(state.text, p, &line.index);
    line.parsed = scanFloats(state.text, p, line.value, 2);
    state.work[size_t(objectIndex)].texVertexLines.push_back(line);
}

// Stores the texture vertices as their lines came, each line scaled by the
// tiling of the object's material. A line that leaves a coordinate unread
// scales its earlier value once more, as reading in place would.
void storeTexVertices(AseReadState& state, int objectIndex) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    ObjectWork& work = state.work[size_t(objectIndex)];
    for (const TexVertexLine& line : work.texVertexLines) {
        if (!elementExists(state, objectIndex, object.pTexVertices, object.texVertexCount,
                           line.index, kMeshTVert, kNumTVertex, line.at))
            continue;
        if (object.materialId < 0 || object.materialId >= int(state.model->materials.size())) {
            state.problem(objectIndex, kStageData, kMaterialOutside, line.at,
                          format("*MESH_TVERT scaled by material %lld, which the file does not "
                                 "list (%lld materials), line skipped",
                                 object.materialId, (long long)state.model->materials.size()));
            continue;
        }
        const tMaterialInfo& material = state.model->materials[size_t(object.materialId)];
        Vec2& texVertex = object.pTexVertices[line.index];
        if (line.parsed > 0)
            texVertex.u = line.value[0];
        if (line.parsed > 1)
            texVertex.v = line.value[1];
        texVertex.u = texVertex.u * material.uTiling;
        texVertex.v = texVertex.v * material.vTiling;
        object.hasTexture = true;
    }
    work.texVertexLines.clear();
    work.texVertexLines.shrink_to_fit();
}

void readFace(AseReadState& state, int objectIndex, size_t at, size_t& p, bool corners) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    state.work[size_t(objectIndex)].triangleLineSeen = true;
    int index = scanIndex(state.text, p);
    int values[3];
    int got = corners ? scanCorners(state.text, p, values) : scanInts(state.text, p, values, 3);
    if (!elementExists(state, objectIndex, object.pTriangles, object.faceCount, index,
                       corners ? kMeshFace : kMeshTFace, kNumFaces, at))
        return;
    tTriangle& triangle = object.pTriangles[index];
    std::copy(values, values + got, corners ? triangle.vertexIndex : triangle.texIndex);
}

// "*MATERIAL_REF": a float cut toward zero. One no int can hold is skipped.
void readMaterialRef(AseReadState& state, int objectIndex, size_t at, size_t& p) {
    double value = readFloat(state.text, p);
    if (value >= -2147483648.0 && value < 2147483648.0) {
        state.model->objects[size_t(objectIndex)].materialId = int(value);
        return;
    }
    state.problem(objectIndex, kStageData, kMaterialOutside, at,
                  "*MATERIAL_REF value names no material, line skipped");
}

void readObjectKeyword(AseReadState& state, Pass& pass, Keyword keyword, size_t at, size_t& p) {
    switch (keyword) {
    case kMeshVertex:
        readVertex(state, pass.item, at, p);
        break;
    case kMeshTVert:
        readTexVertex(state, pass.item, at, p);
        break;
    case kMeshFace:
        readFace(state, pass.item, at, p, true);
        break;
    case kMeshTFace:
        readFace(state, pass.item, at, p, false);
        break;
    case kMaterialRef:
        readMaterialRef(state, pass.item, at, p);
        pass.done = true;
        break;
    default:
        break;
    }
}

bool isObjectDataKeyword(Keyword keyword) {
    return keyword == kMeshVertex || keyword == kMeshTVert || keyword == kMeshFace ||
           keyword == kMeshTFace || keyword == kMaterialRef;
}

// The keywords a pass acts on; on any other word it throws the line away.
uint32_t keywordsActedOn(const Pass& pass) {
    auto bit = [](Keyword keyword) { return uint32_t(1) << keyword; };
    switch (pass.kind) {
    case kFindObjects:
        return bit(kGeomObject);
    case kFindMaterials:
        return bit(kMaterial);
    case kFindMaterialCount:
        return bit(kMaterialCount);
    case kMaterialPass:
        return bit(kMaterial) | bit(kMaterialName) | bit(kMaterialDiffuse) |
               bit(kMaterialSpecular) | bit(kBitmap) | bit(kUTiling) | bit(kVTiling);
    case kCountsPass:
        return bit(kGeomObject) | bit(kNumVertex) | bit(kNumFaces) | bit(kNumTVertex);
    case kDataPass:
        return bit(kGeomObject) | bit(kMeshVertex) | bit(kMeshTVert) | bit(kMeshFace) |
               bit(kMeshTFace) | bit(kMaterialRef);
    }
    return 0;
}

// Where a pass that would read its next word at pos reads a word it acts
// on or the first word of a line: the words between, the rest of a line
// longer than the discard, are each read and their lines thrown away, as the
// pass would. Stopping at line starts keeps the passes in step.
size_t settle(const Text& text, size_t pos, uint32_t actedOn) {
    while (true) {
        bool lineStart = pos == 0 || text.data[pos - 1] == '\n';
        while (pos < text.size && kBlanks.blank[text.data[pos]]) {
            lineStart = lineStart || text.data[pos] == '\n';
            pos++;
        }
        if (pos >= text.size || lineStart)
            return pos;
        size_t end;
        if (actedOn >> readWord(text, pos, &end) & 1)
            return pos;
        pos = text.discardLine(end);
    }
}

// Settling is the same for every pass on one word that acts on the same
// keywords from the same place.
struct SettleCache {
    size_t from[4];
    uint32_t actedOn[4];
    size_t to[4];
    int used = 0;

    size_t settle(const Text& text, size_t pos, uint32_t acted) {
        for (int i = 0; i < used; i++) {
            if (from[i] == pos && actedOn[i] == acted)
                return to[i];
        }
        size_t result = ::settle(text, pos, acted);
        if (used < 4) {
            from[used] = pos;
            actedOn[used] = acted;
            to[used++] = result;
        }
        return result;
    }
};

// One step of one pass: the word [begin, end) with its keyword has been read.
// discarded caches the position behind the rest of the line, shared by every
// pass on this word that throws the line away.
void stepPass(AseReadState& state, Pass& pass, Keyword keyword, size_t begin, size_t end,
              size_t& discarded, SettleCache& cache) {
    const Text& text = state.text;
    size_t p = end;
    bool handled = false;
    switch (pass.kind) {
    case kFindObjects:
        if (keyword == kGeomObject) {
            state.objectStarts.push_back(end);
            handled = true;
        }
        break;
    case kFindMaterials:
        if (keyword == kMaterial) {
            state.materialStarts.push_back(end);
            handled = true;
        }
        break;
    case kFindMaterialCount:
        if (keyword == kMaterialCount) {
            state.materialCount = 0;
            state.materialCountAt = begin;
            scanInt(text, p, &state.materialCount);
            pass.done = true;
            return;
        }
        break;
    case kMaterialPass:
        if (keyword == kMaterial) {
            pass.done = true;
            return;
        }
        if (keyword >= kMaterialName && keyword <= kVTiling) {
            readMaterialKeyword(state, pass, keyword, begin, p);
            handled = true;
        }
        break;
    case kCountsPass:
        if (keyword == kGeomObject) {
            pass.done = true;
            return;
        }
        if (keyword == kNumVertex || keyword == kNumFaces || keyword == kNumTVertex) {
            readObjectCount(state, pass.item, keyword, begin, p);
            handled = true;
        }
        break;
    case kDataPass:
        if (keyword == kGeomObject) {
            pass.done = true;
            return;
        }
        if (isObjectDataKeyword(keyword)) {
            // A data keyword that this pass does not want is passed over
            // alone; its operands then come up as words of their own.
            if (keyword == pass.wanted)
                readObjectKeyword(state, pass, keyword, begin, p);
            handled = true;
        }
        break;
    }
    if (handled) {
        pass.pos = cache.settle(text, p, pass.actedOn);
        return;
    }
    if (discarded == SIZE_MAX)
        discarded = text.discardLine(end);
    pass.pos = cache.settle(text, discarded, pass.actedOn);
}

// Runs passes until each has met its end. passes must be in the order of
// their starting positions; a pass joins when the sweep reaches its start.
void runPasses(AseReadState& state, std::vector<Pass>& passes) {
    const Text& text = state.text;
    for (Pass& pass : passes)
        pass.pos = text.skipBlanks(pass.pos);
    std::vector<Pass*> active;
    size_t waiting = 0;
    uint32_t actedOn = 0;
    while (true) {
        size_t here = SIZE_MAX;
        bool together = true;
        for (const Pass* pass : active) {
            together = together && (here == SIZE_MAX || pass->pos == here);
            here = std::min(here, pass->pos);
        }
        size_t next = waiting < passes.size() ? passes[waiting].pos : SIZE_MAX;
        if (here == SIZE_MAX && next == SIZE_MAX)
            return;
        if (next <= here) {
            here = next;
            together = false;
            while (waiting < passes.size() && passes[waiting].pos == here) {
                passes[waiting].actedOn = keywordsActedOn(passes[waiting]);
                actedOn |= passes[waiting].actedOn;
                active.push_back(&passes[waiting++]);
            }
        }
        if (here >= text.size) {
            for (Pass* pass : active)
                pass->done = pass->done || pass->pos == here;
        } else {
            size_t end;
            Keyword keyword = readWord(text, here, &end);
            if (together) {
                // All passes stand on one word: lines that none of them acts
                // on are passed over at once, until the next pass joins.
                while (!(actedOn >> keyword & 1)) {
                    here = text.skipBlanks(text.discardLine(end));
                    if (here >= text.size || here >= next)
                        break;
                    keyword = readWord(text, here, &end);
                }
                for (Pass* pass : active)
                    pass->pos = here;
                if (here >= text.size || here >= next)
                    continue;
            }
            size_t discarded = SIZE_MAX;
            SettleCache cache;
            for (Pass* pass : active) {
                if (pass->pos == here)
                    stepPass(state, *pass, keyword, here, end, discarded, cache);
            }
        }
        size_t before = active.size();
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [](const Pass* pass) { return pass->done; }),
                     active.end());
        if (active.size() != before) {
            actedOn = 0;
            for (const Pass* pass : active)
                actedOn |= pass->actedOn;
        }
    }
}

const Keyword kDataKeywords[5] = {kMaterialRef, kMeshVertex, kMeshTVert, kMeshFace, kMeshTFace};

void addObjectPasses(std::vector<Pass>& passes, int objectIndex, size_t start) {
    passes.push_back({kCountsPass, kNone, objectIndex, start, false, 0});
    for (Keyword wanted : kDataKeywords)
        passes.push_back({kDataPass, wanted, objectIndex, start, false, 0});
}

// Reads one object the slow way, pass after pass: used when its lines came in
// an order that the side-by-side sweep cannot follow.
void readObjectAgain(AseReadState& state, int objectIndex) {
    t3DObject& object = state.model->objects[size_t(objectIndex)];
    delete[] object.pVertices;
    delete[] object.pTriangles;
    delete[] object.pTexVertices;
    std::memset(static_cast<void*>(&object), 0, sizeof object);
    ObjectWork& work = state.work[size_t(objectIndex)];
    work.texVertexLines.clear();
    state.problems.erase(
        std::remove_if(state.problems.begin(), state.problems.end(),
                       [&](const Problem& problem) { return problem.object == objectIndex; }),
        state.problems.end());
    std::vector<Pass> passes;
    addObjectPasses(passes, objectIndex, work.start);
    bool wasSideBySide = state.sideBySide;
    state.sideBySide = false;
    for (Pass& pass : passes) {
        std::vector<Pass> single(1, pass);
        runPasses(state, single);
    }
    state.sideBySide = wasSideBySide;
}

// Where the last data line of keyword with this index stands in the object,
// to point a message at; the object's first line when there is none.
size_t findDataLine(const AseReadState& state, int objectIndex, Keyword keyword, int index) {
    const Text& text = state.text;
    const ObjectWork& work = state.work[size_t(objectIndex)];
    const char* name = keywordText(keyword);
    size_t length = std::strlen(name);
    size_t found = work.start;
    for (size_t p = work.start; p + length <= work.spanEnd;) {
        const void* star = std::memchr(text.data + p, '*', work.spanEnd - p);
        if (!star)
            break;
        p = size_t(static_cast<const unsigned char*>(star) - text.data);
        size_t end = p + length;
        if (end < text.size && std::memcmp(text.data + p, name, length) == 0 &&
            kBlanks.blank[text.data[end]] && scanIndex(text, end) == index)
            found = p;
        p++;
    }
    return found;
}

// Triangles whose corners name elements the object does not have: they are
// left out of the normals, and drawing must not follow them.
void checkTriangles(AseReadState& state, int objectIndex) {
    const t3DObject& object = state.model->objects[size_t(objectIndex)];
    if (!object.pTriangles)
        return;
    // One corner triple of a triangle against its array; the first corner
    // outside it is reported, with the data line while few were shown.
    auto check = [&](int f, const int* corners, int count, Keyword dataKeyword,
                     Keyword countKeyword, int kind, const char* what, const char* tail,
                     int& reported) {
        for (int k = 0; k < 3; k++) {
            if (corners[k] >= 0 && corners[k] < count)
                continue;
            size_t at = reported++ < kProblemsShown
                            ? findDataLine(state, objectIndex, dataKeyword, f)
                            : state.work[size_t(objectIndex)].start;
            state.problem(objectIndex, kStageCheck, kind, at,
                          format(what, f, corners[k]) + outsideText(count, countKeyword) + tail);
            return;
        }
    };
    int reported[2] = {0, 0};
    for (int f = 0; f < object.faceCount; f++) {
        const tTriangle& triangle = object.pTriangles[f];
        check(f, triangle.vertexIndex, object.vertexCount, kMeshFace, kNumVertex, kCornerOutside,
              "triangle %lld names vertex %lld ", ", left out of the normals", reported[0]);
        if (object.hasTexture)
            check(f, triangle.texIndex, object.texVertexCount, kMeshTFace, kNumTVertex,
                  kTexCornerOutside, "triangle %lld names texture vertex %lld ", "", reported[1]);
    }
}

} // namespace

void AseReader::readModel(AseReadState& state, tModel* model) {
    const Text& text = state.text;
    state.model = model;

    // First sweep: where the objects and materials start, and the material
    // count (countObjects, readMaterialCount and the search step of
    // moveToObject and readMaterial).
    std::vector<Pass> finders = {{kFindObjects, kNone, 0, 0, false, 0},
                                 {kFindMaterials, kNone, 0, 0, false, 0},
                                 {kFindMaterialCount, kNone, 0, 0, false, 0}};
    runPasses(state, finders);

    int objectCount = int(std::min<size_t>(state.objectStarts.size(), INT32_MAX));
    int materialCount = state.materialCount;
    size_t believable = state.materialStarts.size() + text.size / 16 + 8;
    if (materialCount < 0 || size_t(materialCount) > believable) {
        state.problem(-1, kStageModel, kCountRefused, state.materialCountAt,
                      format(materialCount < 0 ? "*MATERIAL_COUNT %lld is negative, taken as 0"
                                               : "*MATERIAL_COUNT %lld is more than the file "
                                                 "could hold, taken as 0",
                             materialCount));
        materialCount = 0;
    }
    model->objectCount = objectCount;
    model->materialCount = materialCount;
    tMaterialInfo newMaterial;
    std::memset(static_cast<void*>(&newMaterial), 0, sizeof newMaterial);
    model->materials.assign(size_t(materialCount), newMaterial);
    t3DObject newObject;
    std::memset(static_cast<void*>(&newObject), 0, sizeof newObject);
    model->objects.assign(size_t(objectCount), newObject);

    state.work.resize(size_t(objectCount));
    for (int i = 0; i < objectCount; i++) {
        ObjectWork& work = state.work[size_t(i)];
        work.start = state.objectStarts[size_t(i)];
        work.spanEnd = i + 1 < objectCount ? state.objectStarts[size_t(i) + 1] : text.size;
    }

    // Second sweep: every material's pass and every object's six passes.
    std::vector<Pass> passes;
    int materialsPresent =
        int(std::min<size_t>(size_t(materialCount), state.materialStarts.size()));
    size_t nextMaterial = 0;
    auto addMaterialsBefore = [&](size_t limit) {
        while (int(nextMaterial) < materialsPresent &&
               state.materialStarts[nextMaterial] <= limit) {
            passes.push_back({kMaterialPass, kNone, int(nextMaterial),
                              state.materialStarts[nextMaterial], false, 0});
            nextMaterial++;
        }
    };
    for (int i = 0; i < objectCount; i++) {
        addMaterialsBefore(state.work[size_t(i)].start);
        addObjectPasses(passes, i, state.work[size_t(i)].start);
    }
    addMaterialsBefore(SIZE_MAX);
    state.sideBySide = true;
    runPasses(state, passes);
    state.sideBySide = false;

    for (int i = 0; i < objectCount; i++) {
        if (state.work[size_t(i)].readAgain)
            readObjectAgain(state, i);
        storeTexVertices(state, i);
        checkTriangles(state, i);
    }
}

void AseReader::reportProblems(AseReadState& state) {
    std::vector<Problem>& found = state.problems;
    std::stable_sort(found.begin(), found.end(), [](const Problem& a, const Problem& b) {
        if (a.object != b.object)
            return a.object < b.object;
        return a.stage < b.stage;
    });
    // Keep a few of each kind per object; count the rest.
    std::vector<Problem> shown;
    for (size_t i = 0; i < found.size();) {
        int object = found[i].object;
        int seen[kProblemKinds] = {};
        size_t j = i;
        for (; j < found.size() && found[j].object == object; j++) {
            if (seen[found[j].kind]++ < kProblemsShown)
                shown.push_back(found[j]);
        }
        for (int kind = 0; kind < kProblemKinds; kind++) {
            if (seen[kind] > kProblemsShown) {
                Problem tail = {object, kStageCheck, kind, SIZE_MAX, ""};
                tail.text =
                    format("%lld further problems like the one above", seen[kind] - kProblemsShown);
                if (object >= 0)
                    tail.text += format(" in object %lld", object);
                tail.text += " not shown";
                // Placed right behind the last shown one of its kind.
                size_t place = shown.size();
                for (size_t k = shown.size(); k-- > 0;) {
                    if (shown[k].object == object && shown[k].kind == kind) {
                        place = k + 1;
                        break;
                    }
                }
                shown.insert(shown.begin() + long(place), tail);
            }
        }
        i = j;
    }
    // Line numbers: one walk over the text, in the order of the offsets.
    std::vector<size_t> order(shown.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return shown[a].at < shown[b].at; });
    std::vector<long long> lines(shown.size());
    size_t counted = 0;
    long long line = 1;
    for (size_t i : order) {
        size_t at = std::min(shown[i].at, state.text.size);
        while (counted < at) {
            const void* lineBreak = std::memchr(state.text.data + counted, '\n', at - counted);
            if (!lineBreak) {
                counted = at;
                break;
            }
            line++;
            counted = size_t(static_cast<const unsigned char*>(lineBreak) - state.text.data) + 1;
        }
        lines[i] = line;
    }
    for (size_t i = 0; i < shown.size(); i++) {
        // A count of problems not shown stands for no one line.
        std::string where = shown[i].at == SIZE_MAX ? ": " : format(":%lld: ", lines[i]);
        std::string message = state.name + where + shown[i].text;
        if (printProblems)
            std::printf("%s\n", message.c_str());
        problems.push_back(message);
    }
}

namespace {

// A UTF-16 text (by its byte order mark) is read as its UTF-8 equivalent; a
// UTF-8 byte order mark is skipped.
bool needsConversion(const unsigned char* data, size_t size, bool* bigEndian) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        *bigEndian = false;
        return true;
    }
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        *bigEndian = true;
        return true;
    }
    return false;
}

void skipUtf8Mark(const unsigned char*& data, size_t& size) {
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        data += 3;
        size -= 3;
    }
}

} // namespace

bool AseReader::readModelFromMemory(tModel* model, const char* data, size_t size,
                                    const char* name) {
    if (!model || (!data && size > 0))
        return false;
    problems.clear();
    AseReadState state;
    state.name = name ? name : "";
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string converted;
    bool bigEndian = false;
    if (needsConversion(bytes, size, &bigEndian)) {
        converted = utf16ToUtf8(bytes + 2, size - 2, bigEndian);
        bytes = reinterpret_cast<const unsigned char*>(converted.data());
        size = converted.size();
    }
    skipUtf8Mark(bytes, size);
    state.text.data = bytes;
    state.text.size = size;
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
    const unsigned char* bytes = file.data;
    size_t size = file.size;
#ifdef MADV_POPULATE_READ
    // Every page is read: mapping them all at once is cheaper than one fault
    // per page.
    if (size > 0)
        madvise(const_cast<unsigned char*>(bytes), size, MADV_POPULATE_READ);
#endif
    std::string converted;
    bool bigEndian = false;
    if (needsConversion(bytes, size, &bigEndian)) {
        // The copy is all that is needed from here on.
        converted = utf16ToUtf8(bytes + 2, size - 2, bigEndian);
        unmapFile(&file);
        readModelFromMemory(model, converted.data(), converted.size(), path);
    } else {
        readModelFromMemory(model, reinterpret_cast<const char*>(bytes), size, path);
        unmapFile(&file);
    }
    if (textureMaker) {
        for (int i = 0; i < model->materialCount && i < int(model->materials.size()); i++) {
            tMaterialInfo& material = model->materials[size_t(i)];
            if (material.strBitmap[0])
                textureMaker(material.strBitmap, &material.textureId);
        }
    }
    return true;
}
