#pragma once
// Currency values of the table library: 64-bit two's-complement integers
// counting 1/10000 units (four fixed decimals), stored least significant byte
// first as a field holds them. `currency4` has alignment 1, so a pointer into
// a record buffer may be used directly.
//
// The arithmetic never wraps: a result that 64 bits cannot hold is refused
// with -1 and the result is left unchanged. The range is
// -922337203685477.5808 to 922337203685477.5807.
#include <cstdint>

struct currency4 {
    unsigned char bytes[8];
};

[[nodiscard]] int64_t currency4get(const currency4* value);
void currency4put(currency4* value, int64_t units);

// -1, 0 or 1 by signed value.
[[nodiscard]] int32_t currency4compare(const currency4* a, const currency4* b);
// a + b; 0, or -1 on overflow.
[[nodiscard]] int32_t currency4add(currency4* result, const currency4* a, const currency4* b);
// a x n; 0, or -1 on overflow.
[[nodiscard]] int32_t currency4multiply(currency4* result, const currency4* a, int16_t n);
// a / n, truncated toward zero; 0, or -1 when n is 0 or the quotient overflows.
[[nodiscard]] int32_t currency4divide(currency4* result, const currency4* a, int16_t n);
// -a; 0, or -1 for the most negative value, which has no positive counterpart.
[[nodiscard]] int32_t currency4negate(currency4* result, const currency4* a);

// Writes the value as text with `decimals` of its four decimals (truncated; 0
// drops the point; below 0 or above 4 keeps all four), "-" in front of a
// negative value that shows a digit other than 0, and a terminating NUL.
// Returns the text's length, or -1 when text and NUL do not fit in `size`.
[[nodiscard]] int32_t currency4toText(char* buffer, int32_t size, const currency4* value,
                                      int32_t decimals);
// Reads at most `length` characters (a NUL ends the text sooner): blanks, an
// optional sign, digits with at most four after an optional point, trailing
// blanks. An empty or blank text is 0. Returns 0, or -1 for any other text,
// more than four decimals or a value beyond the range; then `result` is
// unchanged.
[[nodiscard]] int32_t currency4fromText(currency4* result, const char* text, int32_t length);
