#include "dbkeys.h"

#include <cstdio>
#include <cstring>

namespace dbcheck {

uint32_t readDigits(const unsigned char* in, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 255u + uint32_t(in[i] - 1);
    return v;
}

std::string digits(uint32_t value, int n) {
    std::string out(size_t(n), '\1');
    for (int i = n - 1; i >= 0; --i) {
        out[size_t(i)] = char(value % 255u + 1u);
        value /= 255u;
    }
    return out;
}

namespace {

const char kPackTable[] = " lnrstaeiou";  // codes 4 to 14

// Nibbles of a stored text, high half first. The terminating zero may be read (its nibbles
// are 0); anything past it is a damaged text.
class Nibbles {
  public:
    Nibbles(const std::string& s, size_t start) : s_(s), at_(start * 2) {}
    bool next(int* v) {
        size_t byte = at_ / 2;
        if (byte > s_.size()) return false;
        unsigned char b = byte < s_.size() ? (unsigned char)s_[byte] : 0;
        *v = (at_ % 2 == 0) ? b >> 4 : b & 15;
        ++at_;
        return true;
    }

  private:
    const std::string& s_;
    size_t at_;
};

// One character code of a packed text (not a repeat); false for codes 0 and 2.
bool character(Nibbles& in, int code, char* c) {
    int h, l;
    switch (code) {
        case 1:
            if (!in.next(&h) || !in.next(&l)) return false;
            *c = char(h << 4 | l);
            return true;
        case 3:
            if (!in.next(&h) || h > 9) return false;
            *c = char('0' + h);
            return true;
        case 15:
            *c = 0;
            return true;
        default:
            if (code < 4 || code > 14) return false;
            *c = kPackTable[code - 4];
            return true;
    }
}

}  // namespace

bool unpackText(const std::string& stored, std::string* out) {
    out->clear();
    if (stored.empty() || (unsigned char)stored[0] != 1) return false;
    if (stored.size() == 1) return true;
    size_t n = (unsigned char)stored[1];
    size_t pos = 2;
    if (n == 255) {
        if (stored.size() < 4) return false;
        n = readDigits((const unsigned char*)stored.data() + 2, 2);
        pos = 4;
    }
    Nibbles in(stored, pos);
    while (out->size() < n) {
        int code;
        if (!in.next(&code)) return false;
        size_t count = 1;
        if (code == 2) {
            int m;
            if (!in.next(&m) || !in.next(&code)) return false;
            count = size_t(m + 1) * 4;
        }
        char c;
        if (!character(in, code, &c) || out->size() + count > n) return false;
        out->append(count, c);
    }
    return true;
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number of one to six digits or 'x' ('x' anywhere makes it 0).
bool number(const char*& p, int* v) {
    int got = 0, value = 0;
    bool x = false;
    while (got < 6 && (isDigit(*p) || *p == 'x' || *p == 'X')) {
        if (isDigit(*p))
            value = value * 10 + (*p - '0');
        else
            x = true;
        ++p;
        ++got;
    }
    *v = x ? 0 : value;
    return got > 0;
}

bool isSeparator(char c) {
    return c == ' ' || c == '.' || c == ',' || c == ';';
}

const int kMonthDays[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

}  // namespace

bool parseDate(const std::string& text, bool dayFirst, DateValue* out) {
    const char* p = text.c_str();
    if (text.empty() || std::strchr("0123456789aAbB", *p) == nullptr) return false;
    bool era = false, bc = false;
    if (*p == 'a' || *p == 'A') {
        if ((p[1] != 'd' && p[1] != 'D') || p[2] != ' ') return false;
        era = true;
        p += 3;
    } else if (*p == 'b' || *p == 'B') {
        if ((p[1] != 'c' && p[1] != 'C') || p[2] != ' ') return false;
        era = bc = true;
        p += 3;
    }
    int slot[3] = {0, 0, 0};
    DateValue d;
    if (!number(p, &slot[0])) return false;
    bool hasTime = false;
    if (*p == ':') {
        d.hour = slot[0];
        slot[0] = 0;
        hasTime = true;
    } else {
        if (*p++ != '/' || !number(p, &slot[1]) || *p++ != '/' || !number(p, &slot[2]))
            return false;
        if (*p != 0) {
            if (!isSeparator(*p)) return false;
            while (isSeparator(*p)) ++p;
            if (*p != 0) {
                if (!number(p, &d.hour) || *p != ':') return false;
                hasTime = true;
            }
        }
    }
    if (hasTime) {
        ++p;  // the ':'
        if (!number(p, &d.minute)) return false;
        if (*p == ':') {
            ++p;
            if (!number(p, &d.second)) return false;
        } else if (*p != 0 && *p != ' ') {
            return false;
        }
    }
    while (*p == ' ') ++p;
    if (*p != 0) return false;
    if (d.hour >= 24 || d.minute >= 60 || d.second >= 60) return false;

    bool keep =
        slot[2] < 1752 && (era || slot[2] < 0 || slot[2] > 99 || slot[0] < 1 || slot[0] > 31);
    if (keep) {
        d.year = slot[0];
        d.month = slot[1];
        d.day = slot[2];
    } else {
        d.year = slot[2];
        d.day = dayFirst ? slot[0] : slot[1];
        d.month = dayFirst ? slot[1] : slot[0];
    }
    if (!era && (d.day != 0 || d.month != 0) && d.year >= 0 && d.year <= 99)
        d.year += d.year < 31 ? 2000 : 1900;
    if (bc) d.year = -d.year;
    bool early = d.year < 1752;
    if (d.month > 12 || d.month < (early ? 0 : 1)) return false;
    if (d.day < (early ? 0 : 1) || d.day > kMonthDays[d.month]) return false;
    *out = d;
    return true;
}

KeyShape KeyShape::of(int lenKey) {
    KeyShape s;
    s.lenKey = lenKey;
    s.decimalDigits = lenKey - 16 > 3 ? lenKey - 16 : 3;
    s.integerDigits = lenKey - s.decimalDigits - 1;
    return s;
}

namespace {

// The text a value is typed and keyed by: its 'i' section when not empty. Cut at a zero byte.
std::string typedText(const std::string& value) {
    std::string v = value.substr(0, value.find('\0'));
    size_t at = v.find("\x1bi");
    if (at != std::string::npos) {
        size_t end = v.find('\x1b', at + 2);
        std::string section = v.substr(at + 2, end == std::string::npos ? end : end - at - 2);
        if (!section.empty()) return section;
    }
    return v;
}

int classOf(const KeyShape& shape, const std::string& t, bool dayFirst) {
    if (t.empty()) return kText;
    DateValue date;
    if (parseDate(t, dayFirst, &date)) return kDate;
    int whole = 0, decimals = 0, blanksAfter = 0, flag = 3;
    bool seen = false;  // a digit, '.' or '-' came before
    for (char c : t) {
        if (c == ' ') {
            if (seen) ++blanksAfter;
        } else if (c == '-') {
            if (seen) flag = 1;
            seen = true;
        } else if (c == '.') {
            if (decimals == 0)
                decimals = 1;
            else
                flag = 1;
            seen = true;
        } else if (c == '/') {
            flag = 1;
        } else if (isDigit(c)) {
            if (blanksAfter != 0) flag = 1;
            if (decimals != 0)
                ++decimals;
            else
                ++whole;
            seen = true;
        } else {
            return kText;
        }
    }
    if (whole > shape.integerDigits || decimals > shape.decimalDigits + 1) return kText;
    if (whole == 0 && decimals <= 1) return kText;  // no digit at all: "." is no number
    if (whole != 12) flag &= ~1;
    if (flag & 1) {
        std::string ds;
        for (char c : t)
            if (isDigit(c)) ds += c;
        uint64_t n = std::stoull(ds.substr(0, 5)) % 97;
        n = n * 10000000ull + std::stoull(ds.substr(5, 7));
        uint64_t r = (n / 100) % 97;
        if (r == 0) r = 97;
        if (r == n % 100) return kCheckNumber;
    }
    return (flag == 2 || flag == 3) ? kNumber : kText;
}

// Number and date keys: digit codes placed so that the integer part ends at byte P.
std::string digitKey(const KeyShape& shape, const std::string& codes, int beforePoint,
                     bool negative) {
    const unsigned char zero = negative ? 29 : 20;
    std::string key(size_t(shape.lenKey), char(zero));
    int shift = shape.integerDigits + 1 - beforePoint;
    for (size_t i = 0; i < codes.size(); ++i) {
        long at = shift + long(i);
        if (at >= 0 && at < shape.lenKey) key[size_t(at)] = codes[i];
    }
    key[0] = char(negative ? 17 : 18);
    return key;
}

const unsigned char kLetters[26] = {0x02, 0x31, 0x32, 0x33, 0x04, 0x51, 0x52, 0x53, 0x06,
                                    0x71, 0x72, 0x73, 0x74, 0x08, 0x09, 0xA1, 0xA2, 0x0B,
                                    0x0C, 0x0D, 0x0E, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5};
const char kFold[] = "aaaaaaaceeeeiiiidnooooozzuuuuyzzaaaaaaaceeeeiiiidnooooozzuuuuyzy";

// 0 for a byte without a code.
unsigned codeOf(unsigned char c) {
    if (isDigit(char(c))) return 0x14u + (c - '0');
    if (c >= 'a' && c <= 'z') return kLetters[c - 'a'];
    if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
    if (c == 140 || c == 156 || c == 198 || c == 230) return kLetters['e' - 'a'];
    if (c >= 192) return kLetters[kFold[c - 192] - 'a'];
    return 0;
}

std::string textKey(const KeyShape& shape, const std::string& t) {
    const int L = shape.lenKey;
    std::string key;
    bool half = false;
    auto nibble = [&](unsigned v) {
        if (half)
            key.back() = char((unsigned char)key.back() | v);
        else
            key += char(v << 4);
        half = !half;
    };
    unsigned caseWord = 16384;
    int read = 0, coded = 0;
    for (unsigned char c : t) {
        if (int(key.size()) - (half ? 1 : 0) >= L - 4) break;
        ++read;
        unsigned code = codeOf(c);
        if (code == 0) continue;
        bool folded = c >= 192 && c != 198 && c != 230;
        if (coded == 0 && ((c >= 'A' && c <= 'Z') || c == 140 || c == 198)) caseWord = 0;
        if (folded) {
            if (coded == 0)
                caseWord = 32768;
            else if (coded <= 14)
                caseWord += 1u << (14 - coded);
        }
        ++coded;
        if (code > 15) nibble(code >> 4);
        nibble(code & 15);
    }
    if (half)
        half = false;  // the low half stays 0
    else
        key += char(1);
    int skipped = read - coded;
    if (skipped > 238) skipped = 238;
    key += char(skipped + 17);
    key += char(caseWord / 239 + 17);
    key += char(caseWord % 239 + 17);
    key.resize(size_t(L), char(17));
    return key;
}

}  // namespace

int valueClass(const KeyShape& shape, const std::string& value, bool dayFirst) {
    return classOf(shape, typedText(value), dayFirst);
}

std::string valueKey(const KeyShape& shape, const std::string& value, bool dayFirst) {
    if (!value.empty() && value[0] == 2) return std::string(size_t(shape.lenKey), char(255));
    std::string t = typedText(value);
    int cls = classOf(shape, t, dayFirst);
    if (cls == kNumber || cls == kCheckNumber) {
        std::string codes;
        bool negative = false;
        long point = -1;
        for (char c : t) {
            if (c == '-' && cls == kNumber) negative = true;
            if ((c == '.' || c == ',') && cls == kNumber) point = long(codes.size());
            if (isDigit(c)) codes += char(negative ? 29 - (c - '0') : 20 + (c - '0'));
        }
        int before = point < 0 ? int(codes.size()) : int(point);
        return digitKey(shape, codes, before, negative);
    }
    if (cls == kDate) {
        DateValue d;
        parseDate(t, dayFirst, &d);
        bool negative = d.year < 0;
        char text[40];
        std::snprintf(text, sizeof text, "%06d%02d%02d%02d%02d%02d", negative ? -d.year : d.year,
                      d.month, d.day, d.hour, d.minute, d.second);
        std::string codes;
        for (const char* p = text; *p; ++p)
            codes += char(negative ? 29 - (*p - '0') : 20 + (*p - '0'));
        return digitKey(shape, codes, 10, negative);
    }
    return textKey(shape, t);
}

}  // namespace dbcheck
