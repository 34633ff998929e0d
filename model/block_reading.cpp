#include "block_reading.h"

#include <algorithm>

namespace block_reading {

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

bool startsLine(const Text& text, size_t at) {
    while (at > 0 && kBytes.inlineBlank[text.data[at - 1]])
        at--;
    return at == 0 || text.data[at - 1] == '\n';
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
    if (closeTo < 0 || !startsLine(r.text, at))
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
        } else if (c == '\n' && watch) {
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
    size_t q = blockBrace(r.text, p);
    if (q != SIZE_MAX) {
        p = q + 1;
        skipBlock(r, p, keyword);
    }
}

size_t blockBrace(const Text& text, size_t p) {
    size_t q = text.skipBlanks(p);
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
