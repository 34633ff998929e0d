#pragma once

#include "ase_model.h"
#include "file_access.h"
#include "problem_log.h"
#include "text_scan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// The mechanics of reading a model text by blocks: a block is
// "*KEYWORD ... { ... }", and the functions that read the blocks a reader
// knows hand each other the text through a Reader and a position. A keyword's
// operands are read from its own line only.

namespace block_reading {

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
    kCornerOutside,
    kOperandMissing,
    kSmoothingOutside,
    kTextCut,
    kQuoteOpen,
    kNormalOrder,
    kSubMaterials,
    kIncomplete,
    kUnclosed,
    kProblemKinds
};

// The arrays of an object that counts size, then the texture and colour
// corners of its faces, which have lines (and counts) of their own.
enum ArrayKind {
    kVertices,
    kFaces,
    kTexVertices,
    kColorVertices,
    kTexFaces,
    kColorFaces,
    kArrayKinds
};

// Classes of bytes for the scans below.
struct ByteClasses {
    // White space and the three characters that make up the block structure.
    bool wordEnd[256] = {};
    // White space other than the line break.
    bool inlineBlank[256] = {};
    // What ends a run of operands: the line break, braces and quotes.
    bool operandsEnd[256] = {};
    // White space, the line break included.
    bool space[256] = {};
    constexpr ByteClasses() {
        for (int c : {' ', '\t', '\v', '\f', '\r'})
            wordEnd[c] = inlineBlank[c] = space[c] = true;
        for (int c : {'\n', '{', '}', '"'})
            wordEnd[c] = operandsEnd[c] = true;
        space[int('\n')] = true;
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
inline size_t quoteEnd(const Text& text, size_t p) {
    p++;
    while (p < text.size && text.data[p] != '"' && text.data[p] != '\n')
        p++;
    return p < text.size && text.data[p] == '"' ? p + 1 : p;
}

// Whether the N - 1 bytes at data are name's: compared eight at a time, the
// last eight overlapping the others.
template <size_t N> bool sameBytes(const unsigned char* data, const char (&name)[N]) {
    constexpr size_t length = N - 1;
    if (length < 8) {
        for (size_t k = 0; k < length; k++) {
            if (data[k] != static_cast<unsigned char>(name[k]))
                return false;
        }
        return true;
    }
    for (size_t k = 0;; k += 8) {
        size_t at = k + 8 <= length ? k : length - 8;
        uint64_t a, b;
        std::memcpy(&a, data + at, 8);
        std::memcpy(&b, name + at, 8);
        if (a != b)
            return false;
        if (at + 8 == length)
            return true;
    }
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
    void skipOperands() { c = text.data + block_reading::skipOperands<kBreakAhead>(text, at()); }
    template <size_t N> bool wordIs(const char (&name)[N]) const {
        return wordAt(text, at(), name);
    }
};

// Blanks on the same line.
size_t skipInline(const Text& text, size_t p);

// A single operand of a keyword that is not read often, on its line.
bool intOnLine(const Text& text, size_t& p, int* value);
bool floatOnLine(const Text& text, size_t& p, float* value);
// Up to count numbers; tells how many were read.
int floatsOnLine(const Text& text, size_t& p, float* values, int count);

// Hands over the next bytes of a text: up to bytes of them into data; how
// many, 0 at its end.
using ReadPiece = size_t (*)(void* source, unsigned char* data, size_t bytes);

// A text read in pieces into memory that is used again and again. The reader
// sees whole lines of it at a time, at their offsets in the whole text: the
// Reader's text holds the bytes [lo, text.size), and moreText moves it on when
// the reading reaches its end. The line of a problem is worked out while its
// bytes are held.
struct TextPieces {
    ReadPiece read = nullptr;
    void* source = nullptr;
    // How much each read asks for.
    size_t pieceBytes = 0;
    // The bytes [lo, lo + filled) of the text; those from text.size on are
    // the start of a line whose end has not been read yet.
    std::vector<unsigned char> buffer;
    size_t lo = 0;
    size_t filled = 0;
    // read has given its last byte.
    bool ended = false;
    // The line breaks in [0, counted) of the text, and in [0, lo).
    size_t counted = 0;
    size_t breaksBeforeCounted = 0;
    size_t breaksBeforeLo = 0;
    // The problems logged before this one have their lines.
    size_t placed = 0;
};

struct Reader {
    Text text;
    // Positions before this one have a line break ahead of them.
    size_t breakAheadBefore = 0;
    // Where the text comes from when it is read in pieces; null when it is
    // whole in memory.
    TextPieces* pieces = nullptr;
    // Names of blocks taken from the text, kept for the messages that name
    // them once the text has moved on.
    std::set<std::string, std::less<>> names;
    AseModel* model = nullptr;
    ProblemLog log = newProblemLog(kProblemKinds);
    uint64_t budget = 0;
    int depth = 0;
    // The object being read, for the problem log; -1 outside objects.
    int object = -1;
    bool materialCountSeen = false;
    // The depths at which the open *MATERIAL_LIST and *GEOMOBJECT are read;
    // 0 while none is open.
    int listDepth = 0;
    int objectDepth = 0;
    // While blocks left open are being closed: the depth at which reading
    // goes on; -1 otherwise.
    int closeTo = -1;
    // The objects without a *MATERIAL_REF.
    std::vector<size_t> withoutMaterialRef;
    // The innermost block still open where the text ended; empty while it
    // has not ended inside a block.
    std::string_view endedIn;
    bool endReported = false;
};

inline std::string_view textAt(const Reader& r, size_t begin, size_t end) {
    return std::string_view(reinterpret_cast<const char*>(r.text.data) + begin, end - begin);
}

// Reads the next piece into the buffer; false when read had nothing more.
bool readPiece(TextPieces& s);

// Moves a text read in pieces on, when the reading has reached the end of
// what it holds: the bytes from keep on stay (and the one before, which
// scans look back at), the rest of the next line or lines is read. Offsets
// stay valid; views into the text (textAt) do not. False when there is
// nothing more: the text has ended, or is whole in memory.
bool moreText(Reader& r, size_t keep);

// The line (from 1) of the position at, which must still be held.
size_t lineAt(Reader& r, size_t at);

// Gives the problems logged so far their lines, for a text read in pieces.
void placeProblems(Reader& r);

// A name taken from the text, kept for as long as the Reader lives.
std::string_view keptName(Reader& r, std::string_view name);

inline void textEnded(Reader& r, std::string_view block) {
    if (r.endedIn.empty())
        r.endedIn = block;
}

// Skips the rest of a block whose '{' is behind p, up to its matching '}';
// braces inside quoted texts do not count.
void skipBlock(Reader& r, size_t& p, std::string_view block);

// Skips the block the keyword before p opens, if it has its '{'
// (blockBrace).
void skipNested(Reader& r, size_t& p, std::string_view keyword);

// Where the '{' of the block that the keyword at [at, p) opens stands: the
// next thing in the text, or else the last thing on the keyword's line,
// whatever stands between; SIZE_MAX when there is neither. The keyword stays
// held.
size_t blockBrace(Reader& r, size_t p, size_t at);

// Whether the keyword at `at` begins, at the start of its line, a block that
// cannot nest in the blocks open around it: an object or a group inside
// *MATERIAL_LIST, or a *GEOMOBJECT inside a *GEOMOBJECT. Exporters that lose
// a '}' write such files. If so, reports it once and has the blocks up to
// the list or the object closed before it (closeTo).
bool closesOpenBlocks(Reader& r, std::string_view keyword, size_t at);

// The quoted text on the keyword's line: everything between the quotes,
// blanks included, backslashes as written. A text without its closing quote
// runs to the end of the line; one without an opening quote is its first word.
std::string readText(Reader& r, size_t& p, size_t at);

// Three numbers into values; those the line lacks keep theirs.
void readTriple(Reader& r, size_t& p, size_t at, std::string_view keyword, float* values);

// Believes a count when the memory its records need fits in what is left of
// the file's budget; otherwise reports it and takes 0.
size_t believe(Reader& r, int count, uint64_t recordBytes, std::string_view what, size_t at);

// Room for count records of an array that a count sizes. A large array's
// memory is asked for in whole large pages, which the system then places on
// their boundaries, and marked for them before anything touches it; a
// smaller one that still spans many small pages has them all mapped at once
// (populatePages).
template <typename T> void reserveRecords(std::vector<T>& array, size_t count) {
    size_t bytes = count * sizeof(T);
    if (bytes < kLargePageBytes / 2) {
        array.reserve(count);
        populatePages(array.data(), bytes);
        return;
    }
    // The allocator adds a few bytes of its own before it asks the system.
    size_t whole = (bytes + 64 + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
    array.reserve((whole - 64) / sizeof(T));
    preferLargePages(array.data(), array.capacity() * sizeof(T));
}

// White space, line breaks included.
inline size_t skipSpace(const Text& text, size_t p) {
    while (p < text.size && kBytes.space[text.data[p]])
        p++;
    return p;
}

// The same in a text that may be read in pieces: behind it, the next thing
// is held in r.text, or the text has ended.
inline size_t skipSpace(Reader& r, size_t p) {
    while (true) {
        p = skipSpace(r.text, p);
        if (p < r.text.size || !moreText(r, p))
            return p;
    }
}

// Reads one item of a block whose '{' is behind p: a keyword goes to
// handle(keyword, at, p), with p just behind it; words it leaves on the line
// are passed over, an anonymous block is skipped whole. False once the block
// has ended, at its '}' or at the end of the text. At the top level (block
// empty) a '}' closes nothing and is reported.
template <typename Handle>
bool readItem(Reader& r, size_t& p, std::string_view block, Handle& handle) {
    if (r.closeTo >= 0) {
        if (r.depth > r.closeTo)
            return false;
        r.closeTo = -1;
    }
    const Text& text = r.text;
    p = skipSpace(r, p);
    if (p >= text.size) {
        if (!block.empty())
            textEnded(r, block);
        return false;
    }
    unsigned char c = text.data[p];
    if (c == '*') {
        size_t at = p;
        p = p < r.breakAheadBefore ? wordEnd<true>(text, p + 1) : wordEnd(text, p + 1);
        std::string_view keyword = textAt(r, at, p);
        if ((r.listDepth > 0 || r.objectDepth > 0) && closesOpenBlocks(r, keyword, at)) {
            p = at;
            return false;
        }
        handle(keyword, at, p);
    } else if (c == '}') {
        p++;
        if (!block.empty())
            return false;
        addProblem(r.log, -1, kStrayBrace, p - 1, "a '}' that closes no block, ignored");
    } else if (c == '{') {
        p++;
        skipBlock(r, p, "'{'");
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
        p = skipSpace(r, p);
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

// The block that the keyword at [at, p) opens, from its '{' (blockBrace).
// read(p) reads it, unless it is nested too deeply, when it is skipped. False
// when it was not read.
template <typename Read>
bool readNested(Reader& r, size_t& p, std::string_view keyword, size_t at, Read read) {
    size_t q = blockBrace(r, p, at);
    // A text read in pieces may have moved in memory meanwhile.
    keyword = textAt(r, at, at + keyword.size());
    if (q == SIZE_MAX) {
        addProblem(r.log, r.object, kNoBlock, at, "%.*s without its '{', skipped",
                   int(keyword.size()), keyword.data());
        return false;
    }
    p = q + 1;
    if (r.depth >= kMaxDepth) {
        addProblem(r.log, r.object, kTooDeep, at,
                   "%.*s nested more than %d blocks deep, skipped with all it holds",
                   int(keyword.size()), keyword.data(), kMaxDepth);
        skipBlock(r, p, keptName(r, keyword));
        return false;
    }
    r.depth++;
    read(p);
    r.depth--;
    return true;
}

} // namespace block_reading
