#include "ztdb/ztkey.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "ztdb/ztcodec.h"
#include "ztdb/ztdatetime.h"
#include "ztdb/ztnames.h"
#include "ztdb/ztstr.h"

namespace {

constexpr unsigned char kNegativeMark = 17;
constexpr unsigned char kPositiveMark = 18;
constexpr unsigned char kDigitBase = 20;     // digit d as 20 + d
constexpr unsigned char kNegDigitBase = 29;  // digit d as 29 - d
constexpr unsigned char kTailBase = 17;
constexpr unsigned char kLowFill = 17;
constexpr unsigned char kHighFill = 255;
constexpr uint32_t kCaseLower = 16384;
constexpr uint32_t kCaseAccented = 32768;
constexpr int kDateIntegerDigits = 10;  // yyyyyymmdd before the point, hhmmss after it

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Codes of the letters a to z.
const uint8_t kLetterCodes[26] = {
    0x02, 0x31, 0x32, 0x33, 0x04, 0x51, 0x52, 0x53, 0x06, 0x71, 0x72, 0x73, 0x74,
    0x08, 0x09, 0xA1, 0xA2, 0x0B, 0x0C, 0x0D, 0x0E, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5,
};

// The text code of a byte, 0 when it has none.
uint8_t keyCode(unsigned char c) {
    if (isDigit(c)) return uint8_t(0x14 + (c - '0'));
    if (c >= 'a' && c <= 'z') return kLetterCodes[c - 'a'];
    if (c >= 'A' && c <= 'Z') return kLetterCodes[c - 'A'];
    if (c == 140 || c == 156 || c == 198 || c == 230) return kLetterCodes['e' - 'a'];
    if (c >= 192) return kLetterCodes[kFoldTable[c - 192] - 'a'];
    return 0;
}

bool isTwoNibbleStart(int nibble) {
    return nibble == 1 || nibble == 3 || nibble == 5 || nibble == 7 || nibble == 10 || nibble == 15;
}

// Fills key bytes with 4-bit codes, high half first, never past its end.
class KeyNibbles {
  public:
    KeyNibbles(unsigned char* key, int end) : key_(key), end_(end) {}
    void put(unsigned nibble) {
        if (pos_ < end_) {
            if (half_)
                key_[pos_] = uint8_t(key_[pos_] | nibble);
            else
                key_[pos_] = uint8_t(nibble << 4);
        }
        if (half_) ++pos_;
        half_ = !half_;
    }
    void putByte(unsigned char b) {
        if (pos_ < end_) key_[pos_] = b;
        ++pos_;
    }
    bool half() const { return half_; }
    int position() const { return pos_; }

  private:
    unsigned char* key_;
    int end_;
    int pos_ = 0;
    bool half_ = false;
};

// Reads the nibbles of a key of len bytes; 0 at the first zero byte and from len bytes on.
class KeyNibbleReader {
  public:
    KeyNibbleReader(const char* key, int len) : key_(reinterpret_cast<const unsigned char*>(key)) {
        limit_ = 0;
        while (limit_ < len && key_[limit_]) ++limit_;
    }
    int at(int index) const {
        if (index < 0 || index / 2 >= limit_) return 0;
        unsigned char b = key_[index / 2];
        return (index & 1) ? b & 15 : b >> 4;
    }

  private:
    const unsigned char* key_;
    int limit_;
};

// The text a value is typed and keyed by: its 'i' section when that is not empty.
const char* examinedText(const char* value, ZTStr* section) {
    if (value && getITag(value, section) && section->length) return section->text;
    return value;
}

bool isCheckNumber(const char* text) {
    uint64_t n = 0;
    int digits = 0;
    for (const char* p = text; *p && digits < 12; ++p) {
        if (!isDigit(uint8_t(*p))) continue;
        n = n * 10 + uint64_t(*p - '0');
        if (++digits == 5) n %= 97;  // the first five digits modulo 97, then seven more
    }
    uint64_t r = (n / 100) % 97;
    if (r == 0) r = 97;
    return r == n % 100;
}

void makeTextKey(const unsigned char* text, unsigned char* key, int len, bool noTail, bool high) {
    KeyNibbles nibbles(key, len);
    uint32_t caseWord = kCaseLower;
    int coded = 0, read = 0;
    for (const unsigned char* p = text; p && *p && nibbles.position() < len - 4; ++p) {
        ++read;
        unsigned char c = *p;
        uint8_t code = keyCode(c);
        if (!code) continue;
        bool capital = (c >= 'A' && c <= 'Z') || c == 140 || c == 198;
        bool accented = c >= 192 && c != 198 && c != 230;
        if (coded == 0) {
            if (capital) caseWord = 0;
            if (accented) caseWord = kCaseAccented;
        } else if (accented && coded <= 14) {
            caseWord += 1u << (14 - coded);
        }
        if (code > 15) nibbles.put(code >> 4);
        nibbles.put(code & 15);
        ++coded;
    }
    if (nibbles.half())
        nibbles.put(high ? 15 : 0);
    else
        nibbles.putByte(high ? 255 : 1);
    if (!noTail) {
        nibbles.putByte(uint8_t(std::min(read - coded, 238) + kTailBase));
        nibbles.putByte(uint8_t(caseWord / 239 + kTailBase));
        nibbles.putByte(uint8_t(caseWord % 239 + kTailBase));
    }
    for (int i = nibbles.position(); i < len; ++i) key[i] = high ? kHighFill : kLowFill;
}

void makeDigitKey(const ZTKeyLengths& lengths, const std::string& digits, int pointAt,
                  bool negative, bool high, unsigned char* key) {
    int len = lengths.lenKey;
    int shift = lengths.integerDigits + 1 - pointAt;
    size_t skipped = 0;
    if (shift < 1) {  // more integer digits than the key holds: keep the lowest ones
        skipped = size_t(1 - shift);
        shift = 1;
    }
    unsigned char zero = negative ? kNegDigitBase : kDigitBase;
    unsigned char fill = (high || negative) ? kNegDigitBase : kDigitBase;
    int i = 0;
    for (; i < shift && i < len; ++i) key[i] = zero;
    for (size_t d = skipped; d < digits.size() && i < len; ++d, ++i) key[i] = uint8_t(digits[d]);
    for (; i < len; ++i) key[i] = fill;
    key[0] = negative ? kNegativeMark : kPositiveMark;
}

}  // namespace

ZTKeyLengths ZTKeyLengths::forKeyLength(int32_t lenKey) {
    int32_t decimals = std::max(lenKey - 16, 3);
    return {lenKey, lenKey - decimals - 1, decimals};
}

int guessValueType(const ZTKeyLengths& lengths, const char* value) {
    ZTStr section;
    const char* text = examinedText(value, &section);
    if (!text || !*text) return kValueText;
    ZTDateTime date;
    if (date.parse(text)) return kValueDate;

    int integerDigits = 0, decimals = 0, blanksAfter = 0, flags = 3;
    bool begun = false;  // a digit, '.' or '-' came before
    for (const char* p = text; *p; ++p) {
        unsigned char c = *p;
        if (c == ' ') {
            if (begun) ++blanksAfter;
        } else if (c == '-') {
            if (begun) flags = 1;
            begun = true;
        } else if (c == '.') {
            if (decimals == 0)
                decimals = 1;
            else
                flags = 1;
            begun = true;
        } else if (c == '/') {
            flags = 1;
        } else if (isDigit(c)) {
            if (blanksAfter) flags = 1;
            if (decimals)
                ++decimals;
            else
                ++integerDigits;
            begun = true;
        } else {
            return kValueText;
        }
    }
    if (integerDigits > lengths.integerDigits || decimals > lengths.decimalDigits + 1)
        return kValueText;
    // A number needs a digit: "." and "-." are texts.
    if (integerDigits == 0 && decimals <= 1) return kValueText;
    if (integerDigits != 12) flags &= ~1;
    if ((flags & 1) && isCheckNumber(text)) return kValueCheckNumber;
    return (flags & 2) ? kValueNumber : kValueText;
}

void makeKey(const ZTKeyLengths& lengths, const char* value, char* keyOut, bool terminate,
             bool noTail, bool high, bool asText, int length) {
    auto* key = reinterpret_cast<unsigned char*>(keyOut);
    int len = lengths.lenKey;
    if (value && uint8_t(value[0]) == 2) {  // a packed binary value
        std::memset(key, kHighFill, size_t(len));
        if (terminate) key[len] = 0;
        return;
    }
    ZTStr section;
    const char* text = examinedText(value, &section);
    int kind = asText ? kValueText : guessValueType(lengths, text);

    std::string digits;
    int pointAt = -1;
    bool negative = false;
    if (kind == kValueNumber || kind == kValueCheckNumber) {
        for (const char* p = text; *p; ++p) {
            unsigned char c = *p;
            if (isDigit(c))
                digits += char(negative ? kNegDigitBase - (c - '0') : kDigitBase + (c - '0'));
            else if (kind == kValueNumber && c == '-')
                negative = true;
            else if (kind == kValueNumber && (c == '.' || c == ','))
                pointAt = int(digits.size());
        }
        if (pointAt < 0) pointAt = int(digits.size());
    } else if (kind == kValueDate) {
        ZTDateTime date;
        date.parse(text);
        negative = date.year < 0;
        // yyyyyymmddhhmmss
        const int32_t parts[6] = {negative ? -date.year : date.year,
                                  date.month,
                                  date.day,
                                  date.hour,
                                  date.minute,
                                  date.second};
        for (int i = 0; i < 6; ++i) {
            char buf[12];
            auto r = std::to_chars(buf, buf + sizeof buf, parts[i]);
            std::string number(size_t(std::max<long>((i == 0 ? 6 : 2) - (r.ptr - buf), 0)), '0');
            number.append(buf, r.ptr);
            for (char c : number)
                digits += char(negative ? kNegDigitBase - (c - '0') : kDigitBase + (c - '0'));
        }
        pointAt = kDateIntegerDigits;
    }

    if (kind == kValueText) {
        len = length ? length : lengths.lenKey;
        makeTextKey(reinterpret_cast<const unsigned char*>(text), key, len, noTail, high);
    } else {
        makeDigitKey(lengths, digits, pointAt, negative, high, key);
    }
    if (terminate) key[len] = 0;
}

bool isNumericKey(const char* key) {
    return key && (uint8_t(key[0]) == kNegativeMark || uint8_t(key[0]) == kPositiveMark);
}

bool matchKeyPattern(const ZTKeyLengths& lengths, const char* key, const char* pattern, int op) {
    int len = lengths.lenKey;
    if (op == '<') return std::strncmp(key, pattern, size_t(len)) <= 0;
    if (op == '>') return std::strncmp(key, pattern, size_t(len)) >= 0;
    KeyNibbleReader k(key, len), p(pattern, len);
    if (p.at(0) == 0) return true;
    if (op == 0) {
        for (int i = 0;; ++i) {
            if (p.at(i) == 0) return true;
            if (k.at(i) != p.at(i)) return false;
        }
    }
    int i = 0, j = 0, matchStart = -1;
    for (;;) {
        int kn = k.at(i);
        if (kn == 0) return false;  // the end mark, or the end of the key
        if (kn == p.at(j)) {
            if (matchStart < 0) matchStart = i;
            ++i;
            if (p.at(++j) == 0) return true;
        } else if (matchStart >= 0) {
            j = 0;
            i = matchStart + (isTwoNibbleStart(k.at(matchStart)) ? 2 : 1);
            matchStart = -1;
        } else {
            i += isTwoNibbleStart(kn) ? 2 : 1;
        }
    }
}
