#include "xbase/values/currency4.h"

#include <cstring>

#include "xbase/core/bytes4.h"

int64_t currency4get(const currency4* value) {
    return static_cast<int64_t>(bytes4get64le(value->bytes));
}

void currency4put(currency4* value, int64_t units) {
    bytes4put64le(value->bytes, static_cast<uint64_t>(units));
}

int32_t currency4compare(const currency4* a, const currency4* b) {
    int64_t x = currency4get(a), y = currency4get(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t currency4add(currency4* result, const currency4* a, const currency4* b) {
    int64_t sum;
    if (__builtin_add_overflow(currency4get(a), currency4get(b), &sum)) return -1;
    currency4put(result, sum);
    return 0;
}

int32_t currency4multiply(currency4* result, const currency4* a, int16_t n) {
    int64_t product;
    if (__builtin_mul_overflow(currency4get(a), int64_t{n}, &product)) return -1;
    currency4put(result, product);
    return 0;
}

int32_t currency4divide(currency4* result, const currency4* a, int16_t n) {
    int64_t x = currency4get(a);
    if (n == 0 || (n == -1 && x == INT64_MIN)) return -1;
    currency4put(result, x / n);
    return 0;
}

int32_t currency4negate(currency4* result, const currency4* a) {
    int64_t x = currency4get(a);
    if (x == INT64_MIN) return -1;
    currency4put(result, -x);
    return 0;
}

int32_t currency4toText(char* buffer, int32_t size, const currency4* value, int32_t decimals) {
    if (buffer == nullptr || value == nullptr) return -1;
    if (decimals < 0 || decimals > 4) decimals = 4;
    int64_t v = currency4get(value);
    // The magnitude in unsigned arithmetic: the most negative value has no
    // signed counterpart.
    uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    char digits[20];
    int32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    while (count < 5) digits[count++] = '0';  // one integer digit before four decimals

    char text[24];
    int32_t length = 0;
    bool nonZero = false;
    for (int32_t i = count - 1; i >= 4 - decimals; --i) {
        if (i == 3) text[length++] = '.';
        text[length++] = digits[i];
        nonZero = nonZero || digits[i] != '0';
    }
    // "-0.00" would read as a sign without a value.
    bool minus = v < 0 && nonZero;
    if (length + (minus ? 1 : 0) + 1 > size) return -1;
    char* out = buffer;
    if (minus) *out++ = '-';
    std::memcpy(out, text, length);
    out[length] = '\0';
    return length + (minus ? 1 : 0);
}

int32_t currency4fromText(currency4* result, const char* text, int32_t length) {
    if (result == nullptr || text == nullptr || length < 0) return -1;
    int32_t end = 0;
    while (end < length && text[end] != '\0') ++end;
    int32_t i = 0;
    while (i < end && text[i] == ' ') ++i;
    bool negative = false;
    bool sign = i < end && (text[i] == '-' || text[i] == '+');
    if (sign) negative = text[i++] == '-';

    // Integer digits, then up to four decimals, build the value in 1/10000
    // units; the magnitude may reach 2^63 only for a negative value.
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    uint64_t integer = 0;
    int32_t digitCount = 0;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++digitCount) {
        if (integer > limit / 10) return -1;
        integer = integer * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    uint64_t fraction = 0;
    int32_t decimals = 0;
    bool point = i < end && text[i] == '.';
    if (point) {
        for (++i; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++decimals, ++digitCount) {
            if (decimals == 4) return -1;
            fraction = fraction * 10 + static_cast<uint64_t>(text[i] - '0');
        }
    }
    while (i < end && text[i] == ' ') ++i;
    if (i < end) return -1;
    if (digitCount == 0 && (sign || point)) return -1;  // a sign or point without digits
    for (; decimals < 4; ++decimals) fraction *= 10;
    if (integer > (limit - fraction) / 10000) return -1;
    uint64_t magnitude = integer * 10000 + fraction;
    currency4put(result,
                 negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude));
    return 0;
}
