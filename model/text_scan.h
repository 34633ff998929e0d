#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Model text as the readers see it, and its numbers read the way the C
// library's formatted input reads them in the "C" locale, so that every
// reader of model files gives the same floats to the last bit.

// The bytes being read. Every position is an offset into data; nothing is
// ever read at or past size.
struct Text {
    const unsigned char* data = nullptr;
    size_t size = 0;

    inline size_t skipBlanks(size_t p) const;
    // The end of the word that starts at p: the next white space or the end.
    inline size_t wordEnd(size_t p) const;
    // Takes c at p when it is there.
    bool match(size_t& p, char c) const {
        if (p < size && data[p] == static_cast<unsigned char>(c)) {
            p++;
            return true;
        }
        return false;
    }
};

// White space as the C library sees it in the "C" locale.
inline bool isBlank(unsigned char c) {
    return c == ' ' || unsigned(c - '\t') < 5;
}

inline bool isDigit(unsigned char c) {
    return unsigned(c - '0') < 10;
}

size_t Text::skipBlanks(size_t p) const {
    while (p < size && isBlank(data[p]))
        p++;
    return p;
}

size_t Text::wordEnd(size_t p) const {
    while (true) {
        // Words are mostly printable characters, all above the blank.
        while (p < size && data[p] > ' ')
            p++;
        if (p >= size || isBlank(data[p]))
            return p;
        p++;
    }
}

// A model file's bytes as the text to read: a UTF-16 file (told by its byte
// order mark) is converted to UTF-8 into *storage, a UTF-8 byte order mark is
// skipped, anything else is read as it stands.
Text modelText(const unsigned char* data, size_t size, std::string* storage);

// "%d": white space, an optional sign, decimal digits. Like the C library, a
// value outside the range of long is held at its limit and then cut to int;
// a sign without digits is consumed and the conversion fails. On failure
// *value is untouched.
bool scanInt(const Text& text, size_t& p, int* value);

// "%f": white space, then a number, converted and consumed exactly as the C
// library does it (hexadecimal, infinities and NaN included). A number never
// reaches past its word. On failure *value is untouched.
bool scanFloat(const Text& text, size_t& p, float* value);

// Fast forms of the two for the common numbers of model files, read from c,
// which must not be blank, up to end. They take only what they are sure of,
// with the same value and the same end as scanInt or scanFloat would give,
// and return that end; otherwise null, for the caller to ask those. With
// kBreakAhead the caller knows that a line break follows c in the text: it
// ends every number, so end is not needed.

// A byte that would make the digits before it part of a longer number or of
// another form: a digit, a point, an exponent or a hexadecimal mark.
struct NumberGoesOn {
    bool goesOn[256] = {};
    constexpr NumberGoesOn() {
        for (int c = '0'; c <= '9'; c++)
            goesOn[c] = true;
        for (int c : {'.', 'e', 'E', 'x', 'X'})
            goesOn[c] = true;
    }
};
constexpr NumberGoesOn kNumberGoesOn;

// "[sign]digits" of up to nine digits, followed by anything but a digit.
template <bool kBreakAhead = false>
inline const unsigned char* scanShortInt(const unsigned char* c, const unsigned char* end,
                                         int* value) {
    bool negative = (kBreakAhead || c < end) && *c == '-';
    if ((kBreakAhead || c < end) && (negative || *c == '+'))
        c++;
    const unsigned char* digits = c;
    unsigned number = 0;
    // More than nine digits can wrap; they are refused below.
    while ((kBreakAhead || c < end) && isDigit(*c))
        number = number * 10 + unsigned(*c++ - '0');
    if (c == digits || c - digits > 9)
        return nullptr;
    *value = negative ? -int(number) : int(number);
    return c;
}

// The four digits at c as their value, or -1 when they are not four digits.
inline int fourDigits(const unsigned char* c) {
    uint32_t four;
    std::memcpy(&four, c, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    four = __builtin_bswap32(four);
#endif
    // Each byte 0x30 to 0x39: its high half 3, and still 3 when 6 is added.
    if ((four & 0xF0F0F0F0u) != 0x30303030u || ((four + 0x06060606u) & 0xF0F0F0F0u) != 0x30303030u)
        return -1;
    four -= 0x30303030u;
    // Pairs of digits, then the pairs.
    four = (four * 10 + (four >> 8)) & 0x00FF00FFu;
    return int((four & 0xFFFF) * 100 + (four >> 16));
}

// "[sign]digits[.digits]" whose digits make an integer of at most 2^24, with
// at most ten behind the point, followed by none of the characters that
// would make it another form. That integer and the power of ten are exact
// floats, so one division rounds the number correctly, as the C library does.
template <bool kBreakAhead = false>
inline const unsigned char* scanShortDecimal(const unsigned char* c, const unsigned char* end,
                                             float* value) {
    static const float kPowersOfTen[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                           1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    bool negative = (kBreakAhead || c < end) && *c == '-';
    if ((kBreakAhead || c < end) && (negative || *c == '+'))
        c++;
    const unsigned char* digits = c;
    // More than eighteen digits can wrap; they are refused below.
    uint64_t mantissa = 0;
    while ((kBreakAhead || c < end) && isDigit(*c))
        mantissa = mantissa * 10 + unsigned(*c++ - '0');
    size_t whole = size_t(c - digits), decimals = 0;
    if (whole == 0)
        return nullptr;
    // Exporters write four decimals: then the value fits any check below.
    int four;
    if (whole <= 3 && end - c >= 6 && *c == '.' && (four = fourDigits(c + 1)) >= 0 &&
        !kNumberGoesOn.goesOn[c[5]]) {
        float number = float(mantissa * 10000 + unsigned(four)) / 1e4f;
        *value = negative ? -number : number;
        return c + 5;
    }
    if ((kBreakAhead || c < end) && *c == '.') {
        const unsigned char* fraction = ++c;
        while ((kBreakAhead || c < end) && isDigit(*c))
            mantissa = mantissa * 10 + unsigned(*c++ - '0');
        decimals = size_t(c - fraction);
        if (decimals == 0)
            return nullptr;
    }
    if ((kBreakAhead || c < end) && kNumberGoesOn.goesOn[*c])
        return nullptr;
    if (whole + decimals > 18 || mantissa > (uint64_t(1) << 24) || decimals > 10)
        return nullptr;
    float number = float(mantissa);
    if (decimals > 0)
        number /= kPowersOfTen[decimals];
    *value = negative ? -number : number;
    return c;
}

// Reads up to count numbers separated by white space ("%f %f %f", "%d %d %d")
// and tells how many were read; reading stops at the first that fails.
template <typename T>
int scanAll(const Text& text, size_t& p, T* values, int count,
            bool (*scan)(const Text&, size_t&, T*)) {
    for (int i = 0; i < count; i++) {
        if (!scan(text, p, &values[i]))
            return i;
    }
    return count;
}

// What the counts of a file may make a reader allocate for all its records:
// many times the file's size, so that a file cut off anywhere keeps what it
// holds, but never so much that a few bytes can ask for gigabytes.
uint64_t allocationBudget(size_t fileSize);
