#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Model text as the readers see it, and its numbers read the way the GNU C
// library's formatted input reads them in the "C" locale, so that every
// reader of model files gives the same floats to the last bit, on every
// system.

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

// "%d": white space, an optional sign, decimal digits. Like the GNU C library
// on 64-bit Linux, a value outside the range of a 64-bit long is held at its
// limit and then cut to int (also where long has 32 bits); a sign without
// digits is consumed and the conversion fails. On failure
// *value is untouched.
bool scanInt(const Text& text, size_t& p, int* value);

// "%f": white space, then a number, converted and consumed exactly as the GNU
// C library does it (hexadecimal, infinities and NaN included). A number never
// reaches past its word. On failure *value is untouched.
bool scanFloat(const Text& text, size_t& p, float* value);

// scanFloat's way for the forms its fast path leaves alone (exponents without
// digits, hexadecimal, infinities, NaN, broken numbers), and as good for any
// other: the GNU C library's "%f" to the character and to the bit, written
// out so that every system reads model files as Linux does. p must be at the
// start of a word.
bool scanFloatSlowly(const Text& text, size_t& p, float* value);

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
