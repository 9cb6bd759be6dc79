#pragma once

// Ordered key forms: numbers, dates, date-times and currency turned into byte strings whose
// unsigned byte order (memcmp) is their value order, so one byte comparison serves every
// tag. The forms are part of the index file format.
//
// - Double: the 8 IEEE bytes, most significant first; for a value >= 0 the top bit is set,
//   for a negative value every bit is inverted. -0.0 is keyed as 0.0 (the two compare
//   equal, so their keys must be equal). Every NaN gets one key, 0xFF 0xF8 and six zeros,
//   which sorts after +infinity: a record holding NaN stays indexable and findable.
// - 32-bit and 64-bit integers: big-endian with the sign bit flipped.
// - Currency: the 64-bit integer form of the value counted in 1/10000 units.
// - Date-time: the double form of day number + milliseconds / (24 x 3600 x 1000).

#include <cstdint>

inline constexpr int key4doubleLength = 8;
inline constexpr int key4intLength = 4;
inline constexpr int key4currencyLength = 8;

void key4fromDouble(uint8_t out[key4doubleLength], double value);
void key4fromInt(uint8_t out[key4intLength], int32_t value);
void key4fromCurrency(uint8_t out[key4currencyLength], int64_t tenThousandths);
void key4fromDateTime(uint8_t out[key4doubleLength], int32_t dayNumber, int32_t milliseconds);
// The currency form of `value` rounded to 4 decimals (the value as 20 characters of text with
// 4 decimals, read back as currency). A value without such a text or beyond the currency
// range (NaN, infinity, about 10^15 and above, -10^14 and below) is -440 and `out` is left
// unchanged: a key that does not fit its form is refused, never wrapped.
[[nodiscard]] int32_t key4fromCurrencyDouble(uint8_t out[key4currencyLength], double value);
