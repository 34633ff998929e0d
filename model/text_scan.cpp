#include "text_scan.h"

#include "file_access.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

Text modelText(const unsigned char* bytes, size_t size, std::string* storage) {
    if (size >= 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        std::u16string units((size - 2) / 2, u'\0');
        for (size_t i = 0; i < units.size(); i++)
            units[i] = bytes[0] == 0xFE ? char16_t(bytes[2 + 2 * i] << 8 | bytes[3 + 2 * i])
                                        : char16_t(bytes[3 + 2 * i] << 8 | bytes[2 + 2 * i]);
        *storage = utf8FromUtf16(units.data(), units.size());
        bytes = reinterpret_cast<const unsigned char*>(storage->data());
        size = storage->size();
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        size -= 3;
    }
    Text text;
    text.data = bytes;
    text.size = size;
    return text;
}

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

namespace {

// "%f" through the C library itself, for the rare forms the fast path leaves
// alone (exponents, hexadecimal, infinities, NaN, broken numbers): its rules
// for how much of a broken number it consumes are kept exactly that way. A
// number never reaches past its word.
bool scanFloatSlowly(const Text& text, size_t& p, float* value) {
    size_t end = text.wordEnd(p);
    FILE* stream =
        end > p ? fmemopen(const_cast<unsigned char*>(text.data + p), end - p, "r") : nullptr;
    if (!stream)
        return false;
    float number = 0;
    int converted = std::fscanf(stream, "%f", &number);
    p += size_t(std::max(std::ftell(stream), 0L));
    std::fclose(stream);
    if (converted == 1)
        *value = number;
    return converted == 1;
}

} // namespace

// Plain numbers (sign, digits, fraction, exponent) are converted here,
// correctly rounded as the C library does.
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

uint64_t allocationBudget(size_t fileSize) {
    const uint64_t mebibyte = uint64_t(1) << 20;
    return std::min(mebibyte + 16384 * uint64_t(fileSize),
                    1024 * mebibyte + 4 * uint64_t(fileSize));
}
