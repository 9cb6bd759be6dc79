#pragma once
// The checker's own reading of the engine's stored encodings, written apart from the engine
// so that a fault in one is not repeated in the other: base-255 numbers, kind-1 packed text,
// the date parser that decides which values are dates, the value classes and the index key
// of a value. Nothing here includes the engine.
#include <cstdint>
#include <string>

namespace dbcheck {

// Base-255 digits, most significant first, each stored plus one.
uint32_t readDigits(const unsigned char* in, int n);
// The digits of value; a value too large loses its high part.
std::string digits(uint32_t value, int n);

// Decodes a kind-1 packed text (first byte 1, up to its zero byte). False for damaged bytes.
bool unpackText(const std::string& stored, std::string* out);

// A date or time as the parser reads it; the year is negative before the era.
struct DateValue {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// True when the whole text is a date or a time. dayFirst: the user's order puts the day first.
bool parseDate(const std::string& text, bool dayFirst, DateValue* out);

// The lengths of a database that its keys depend on.
struct KeyShape {
    int lenKey = 30;
    int integerDigits = 15;
    int decimalDigits = 14;
    static KeyShape of(int lenKey);
};

constexpr int kText = 0;
constexpr int kCheckNumber = 1;
constexpr int kNumber = 2;
constexpr int kDate = 4;

// The class of a value: its 'i' section when that is not empty, else the whole text.
int valueClass(const KeyShape& shape, const std::string& value, bool dayFirst);

// The stored key of a value: lenKey bytes, text keys with their three tail bytes.
std::string valueKey(const KeyShape& shape, const std::string& value, bool dayFirst);

}  // namespace dbcheck
