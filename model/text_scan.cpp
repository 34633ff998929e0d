#include "text_scan.h"

#include "file_access.h"

#include <algorithm>
#include <charconv>
#include <limits>

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

unsigned char lower(unsigned char c) {
    return unsigned(c - 'A') < 26 ? c | 0x20 : c;
}

bool isHexDigit(unsigned char c) {
    return isDigit(c) || unsigned(lower(c) - 'a') < 6;
}

// The exponent after an 'e' or 'p' at *p, when digits follow it (with a
// sign perhaps); its value held within 10^15, beyond every float and every
// count of digits.
bool readExponent(const std::string& s, size_t* p, int64_t* exponent) {
    size_t q = *p + 1;
    bool negative = q < s.size() && s[q] == '-';
    if (q < s.size() && (s[q] == '-' || s[q] == '+'))
        q++;
    if (q >= s.size() || !isDigit(s[q]))
        return false;
    int64_t value = 0;
    for (; q < s.size() && isDigit(s[q]); q++)
        value = std::min<int64_t>(value * 10 + (s[q] - '0'), 1000000000000000);
    *exponent = negative ? -value : value;
    *p = q;
    return true;
}

// The number that starts number, as strtof converts it: the longest prefix
// that is a number counts, correctly rounded, beyond the float range
// infinity and below it zero. False when no prefix is a number. number is
// what the scanner took: a sign perhaps, then "nan", "inf", "infinity", or
// digits (hexadecimal after "0x"), a point and an exponent letter with a
// sign, in any order and number.
bool convertLikeStrtof(const std::string& number, float* value) {
    size_t p = 0;
    bool negative = number[0] == '-';
    if (number[0] == '-' || number[0] == '+')
        p++;
    float magnitude;
    unsigned char first = lower(static_cast<unsigned char>(number[p]));
    if (first == 'n' || first == 'i') {
        magnitude = first == 'n' ? std::numeric_limits<float>::quiet_NaN()
                                 : std::numeric_limits<float>::infinity();
    } else {
        bool hex = number.size() > p + 1 && number[p] == '0' && lower(number[p + 1]) == 'x';
        size_t digits = hex ? p + 2 : p;
        size_t q = digits;
        // Where the most significant digit stands against the point: the
        // sign of its power tells overflow from underflow.
        int64_t lead = 0;
        bool seenPoint = false, seenDigit = false, seenNonZero = false;
        for (; q < number.size(); q++) {
            unsigned char c = static_cast<unsigned char>(number[q]);
            if (c == '.' && !seenPoint) {
                seenPoint = true;
            } else if (hex ? isHexDigit(c) : isDigit(c)) {
                seenDigit = true;
                if (c != '0')
                    seenNonZero = true;
                if (seenNonZero && !seenPoint)
                    lead++;
                else if (!seenNonZero && seenPoint)
                    lead--;
            } else {
                break;
            }
        }
        if (!seenDigit) {
            // "0x" with no digit after it is the number 0 and an 'x'.
            if (!hex)
                return false;
            *value = negative ? -0.0f : 0.0f;
            return true;
        }
        int64_t exponent = 0;
        size_t end = q;
        if (q < number.size() && lower(number[q]) == (hex ? 'p' : 'e') &&
            readExponent(number, &q, &exponent))
            end = q;
        std::from_chars_result result =
            std::from_chars(number.data() + digits, number.data() + end, magnitude,
                            hex ? std::chars_format::hex : std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            int64_t power = hex ? 4 * lead + exponent : lead + exponent;
            magnitude = power > 0 ? std::numeric_limits<float>::infinity() : 0.0f;
        } else if (result.ec != std::errc()) {
            return false;
        }
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

} // namespace

// "%f" the way the GNU C library scans it, character by character: what it
// takes for a number before it converts anything decides how much of a
// broken number is consumed ("1e" and "1.2.3" give 1 and 1.2, "nax" and
// "0x" fail after three and two characters). The word ends the input.
bool scanFloatSlowly(const Text& text, size_t& p, float* value) {
    const size_t end = text.wordEnd(p);
    if (p >= end)
        return false;
    size_t q = p;
    // The next character, or -1 at the end of the word.
    auto next = [&]() -> int { return q < end ? text.data[q++] : -1; };
    auto fail = [&]() {
        p = q;
        return false;
    };
    std::string number;
    int c = next();
    bool sign = c == '-' || c == '+';
    if (sign) {
        number += char(c);
        if ((c = next()) < 0)
            return fail();
    }
    unsigned char first = lower(static_cast<unsigned char>(c));
    if (first == 'n' || first == 'i') {
        // "nan", "inf" or "infinity" in any case; a letter that breaks the
        // word off is consumed with it.
        number += char(c);
        for (const char* rest = first == 'n' ? "an" : "nf"; *rest; rest++) {
            c = next();
            if (c < 0 || lower(static_cast<unsigned char>(c)) != *rest)
                return fail();
            number += char(c);
        }
        if (first == 'i' && (c = next()) >= 0) {
            if (lower(static_cast<unsigned char>(c)) != 'i') {
                q--;
            } else {
                for (const char* rest = "nity"; *rest; rest++) {
                    c = next();
                    if (c < 0 || lower(static_cast<unsigned char>(c)) != *rest)
                        return fail();
                }
            }
        }
    } else {
        bool hex = false, gotDigit = false, gotDot = false, gotExponent = false;
        char exponentLetter = 'e';
        if (c == '0') {
            number += '0';
            c = next();
            if (c >= 0 && lower(static_cast<unsigned char>(c)) == 'x') {
                number += char(c);
                hex = true;
                exponentLetter = 'p';
                c = next();
            } else {
                gotDigit = true;
            }
        }
        while (true) {
            unsigned char u = static_cast<unsigned char>(c);
            if (c >= 0 && isDigit(u)) {
                number += char(c);
                gotDigit = true;
            } else if (c >= 0 && hex && !gotExponent && isHexDigit(u)) {
                number += char(c);
                gotDigit = true;
            } else if (gotExponent && number.back() == exponentLetter && (c == '-' || c == '+')) {
                number += char(c);
            } else if (c >= 0 && gotDigit && !gotExponent && lower(u) == exponentLetter) {
                number += exponentLetter;
                gotExponent = gotDot = true;
            } else if (c == '.' && !gotDot) {
                number += '.';
                gotDot = true;
            } else {
                // Not part of the number: left for the next read.
                if (c >= 0)
                    q--;
                break;
            }
            if ((c = next()) < 0)
                break;
        }
        // A sign alone, or "0x" alone, is not a number.
        if (number.size() == size_t(sign) || (hex && number.size() == 2 + size_t(sign)))
            return fail();
    }
    float converted;
    if (!convertLikeStrtof(number, &converted))
        return fail();
    p = q;
    *value = converted;
    return true;
}

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
