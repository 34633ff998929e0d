#include "block_reading.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace block_reading {

namespace {

size_t countLineBreaks(const unsigned char* data, size_t size) {
    size_t count = 0, i = 0;
#ifdef __SSE2__
    // Sixteen bytes at a time: each break adds one to its byte's counter,
    // and the counters are summed before any of them can wrap.
    const __m128i lineBreak = _mm_set1_epi8('\n');
    while (size - i >= 16) {
        size_t blocks = std::min<size_t>((size - i) / 16, 255);
        __m128i counters = _mm_setzero_si128();
        for (size_t k = 0; k < blocks; k++, i += 16) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, lineBreak));
        }
        __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += size_t(_mm_cvtsi128_si32(sums)) + size_t(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; i < size; i++)
        count += data[i] == '\n';
    return count;
}

// The last line break in [from, to) of the buffer, behind it; 0 when there
// is none.
size_t behindLastBreak(const std::vector<unsigned char>& buffer, size_t from, size_t to) {
    for (size_t k = to; k > from; k--) {
        if (buffer[k - 1] == '\n')
            return k;
    }
    return 0;
}

// The buffer's bytes at their offsets in the whole text: held[p] is byte p.
const unsigned char* heldBytes(const TextPieces& s) {
    return reinterpret_cast<const unsigned char*>(reinterpret_cast<uintptr_t>(s.buffer.data()) -
                                                  uintptr_t(s.lo));
}

} // namespace

bool readPiece(TextPieces& s) {
    if (s.ended)
        return false;
    if (s.buffer.empty()) {
        // Room for a few pieces, in one large page where the system has them:
        // the pieces are read into the same memory again and again.
        reserveRecords(s.buffer, 4 * s.pieceBytes);
        s.buffer.resize(s.buffer.capacity());
    } else if (s.buffer.size() < s.filled + s.pieceBytes) {
        s.buffer.resize(std::max(s.filled + s.pieceBytes, 2 * s.buffer.size()));
    }
    size_t got = s.read(s.source, s.buffer.data() + s.filled, s.pieceBytes);
    s.ended = got == 0;
    s.filled += std::min(got, s.pieceBytes);
    return !s.ended;
}

bool moreText(Reader& r, size_t keep) {
    TextPieces* s = r.pieces;
    size_t shown = r.text.size;
    if (!s || (s->ended && shown == s->lo + s->filled))
        return false;
    placeProblems(r);
    // The bytes before the new start are let go, their line breaks counted.
    size_t lo = std::max(s->lo, std::min(keep, shown) - (keep > 0 ? 1 : 0));
    const unsigned char* held = heldBytes(*s);
    if (s->counted <= lo) {
        s->breaksBeforeLo =
            s->breaksBeforeCounted + countLineBreaks(held + s->counted, lo - s->counted);
    } else {
        s->breaksBeforeLo = s->breaksBeforeCounted - countLineBreaks(held + lo, s->counted - lo);
    }
    s->counted = lo;
    s->breaksBeforeCounted = s->breaksBeforeLo;
    // Kept from the same place again (a '{' looked for past many blank
    // lines), nothing moves.
    size_t drop = lo - s->lo;
    if (drop > 0)
        std::memmove(s->buffer.data(), s->buffer.data() + drop, s->filled - drop);
    s->filled -= drop;
    s->lo = lo;
    // Reads on until a line break stands behind what was shown, or the text
    // ends: the text shown ends behind its last line break.
    size_t searched = shown - lo, end = 0;
    while (true) {
        end = behindLastBreak(s->buffer, searched, s->filled);
        if (end > 0)
            break;
        searched = s->filled;
        if (s->ended) {
            end = s->filled;
            break;
        }
        readPiece(*s);
    }
    // Reading may have moved the buffer.
    r.text.data = heldBytes(*s);
    if (lo + end == shown)
        return false;
    r.text.size = lo + end;
    size_t behind = s->buffer[end - 1] == '\n' ? end : behindLastBreak(s->buffer, 0, end);
    r.breakAheadBefore = lo + behind;
    return true;
}

size_t lineAt(Reader& r, size_t at) {
    TextPieces& s = *r.pieces;
    const unsigned char* held = heldBytes(s);
    size_t end = r.text.size;
    // A problem at the very end of a text that ends in a line break is on
    // its last line, not on the empty one after it.
    if (at >= end) {
        at = end;
        if (s.ended && end == s.lo + s.filled && at > s.lo && held[at - 1] == '\n')
            at--;
    }
    at = std::max(at, s.lo);
    if (at < s.counted)
        return s.breaksBeforeLo + countLineBreaks(held + s.lo, at - s.lo) + 1;
    s.breaksBeforeCounted += countLineBreaks(held + s.counted, at - s.counted);
    s.counted = at;
    return s.breaksBeforeCounted + 1;
}

void placeProblems(Reader& r) {
    if (!r.pieces)
        return;
    std::vector<ProblemLog::Entry>& shown = r.log.shown;
    for (size_t i = r.pieces->placed; i < shown.size(); i++) {
        if (!shown[i].hidden && shown[i].line == 0)
            shown[i].line = lineAt(r, shown[i].at);
    }
    r.pieces->placed = shown.size();
}

std::string_view keptName(Reader& r, std::string_view name) {
    auto kept = r.names.find(name);
    if (kept == r.names.end())
        kept = r.names.emplace(name).first;
    return *kept;
}

size_t skipInline(const Text& text, size_t p) {
    while (p < text.size && kBytes.inlineBlank[text.data[p]])
        p++;
    return p;
}

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

namespace {

bool startsLine(const Reader& r, size_t at) {
    // Of a text read in pieces, the bytes before lo are no longer held; the
    // one at lo ends a line or stands before the reading.
    size_t held = r.pieces ? r.pieces->lo : 0;
    while (at > held && kBytes.inlineBlank[r.text.data[at - 1]])
        at--;
    return at == 0 || (at > held && r.text.data[at - 1] == '\n');
}

} // namespace

bool closesOpenBlocks(Reader& r, std::string_view keyword, size_t at) {
    int closeTo = -1;
    const char* inside = "";
    if (r.objectDepth > 0 && is(keyword, "*GEOMOBJECT")) {
        closeTo = r.objectDepth - 1;
        inside = "*GEOMOBJECT";
    } else if (r.listDepth > 0 && (is(keyword, "*GEOMOBJECT") || is(keyword, "*HELPEROBJECT") ||
                                   is(keyword, "*SHAPEOBJECT") || is(keyword, "*CAMERAOBJECT") ||
                                   is(keyword, "*LIGHTOBJECT") || is(keyword, "*GROUP"))) {
        closeTo = r.listDepth - 1;
        inside = "*MATERIAL_LIST";
    }
    if (closeTo < 0 || !startsLine(r, at))
        return false;
    r.closeTo = closeTo;
    addProblem(r.log, -1, kUnclosed, at,
               "%.*s begins inside %s, whose '}' is missing; the blocks left open are closed "
               "before it",
               int(keyword.size()), keyword.data(), inside);
    return true;
}

void skipBlock(Reader& r, size_t& p, std::string_view block) {
    const Text& text = r.text;
    // Inside a material list or an object, a line may begin what closes them.
    bool watch = r.listDepth > 0 || r.objectDepth > 0;
    size_t open = 1;
    while (p < text.size || moreText(r, p)) {
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
        } else if (c == '\n' && watch) {
            if (p == text.size)
                moreText(r, p);
            size_t at = skipInline(text, p);
            if (at < text.size && text.data[at] == '*') {
                size_t end = wordEnd(text, at + 1);
                if (closesOpenBlocks(r, textAt(r, at, end), at)) {
                    p = at;
                    return;
                }
            }
        }
    }
    textEnded(r, block);
}

void skipNested(Reader& r, size_t& p, std::string_view keyword) {
    std::string_view name = keptName(r, keyword);
    size_t q = blockBrace(r, p, p);
    if (q != SIZE_MAX) {
        p = q + 1;
        skipBlock(r, p, name);
    }
}

size_t blockBrace(Reader& r, size_t p, size_t at) {
    const Text& text = r.text;
    size_t q = p;
    while (true) {
        q = text.skipBlanks(q);
        if (q < text.size || !moreText(r, at))
            break;
    }
    if (q < text.size && text.data[q] == '{')
        return q;
    if (p >= text.size)
        return SIZE_MAX;
    const void* lineBreak = std::memchr(text.data + p, '\n', text.size - p);
    size_t end =
        lineBreak ? size_t(static_cast<const unsigned char*>(lineBreak) - text.data) : text.size;
    while (end > p && isBlank(text.data[end - 1]))
        end--;
    return end > p && text.data[end - 1] == '{' ? end - 1 : SIZE_MAX;
}

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

void readTriple(Reader& r, size_t& p, size_t at, std::string_view keyword, float* values) {
    float read[3];
    int got = floatsOnLine(r.text, p, read, 3);
    std::copy(read, read + got, values);
    if (got < 3)
        addProblem(r.log, r.object, kOperandMissing, at, "%.*s with %d of its 3 numbers",
                   int(keyword.size()), keyword.data(), got);
}

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

} // namespace block_reading
