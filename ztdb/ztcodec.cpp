#include "ztdb/ztcodec.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr unsigned char kKindText = 1;
constexpr unsigned char kKindBinary = 2;
constexpr char kTextTable[] = " lnrstaeiou";  // codes 4 to 14
constexpr int kFirstTableCode = 4;

// Writes 4-bit codes, high half first.
class NibbleOut {
  public:
    explicit NibbleOut(std::string& out) : out_(out) {}
    void put(unsigned nibble) {
        if (half_)
            out_.back() = char(uint8_t(out_.back()) | nibble);
        else
            out_.push_back(char(nibble << 4));
        half_ = !half_;
    }
    // Index of the byte being filled.
    size_t position() const { return out_.size() - (half_ ? 1 : 0); }
    // A last byte of 0 (a final zero nibble in a high half) is the terminator itself.
    void finish() {
        if (!out_.empty() && out_.back() == 0) out_.pop_back();
    }

  private:
    std::string& out_;
    bool half_ = false;
};

// Reads 4-bit codes from a zero-terminated form of len bytes. The high half of the terminator
// reads as 0; anything after it is out of the data (-1).
class NibbleIn {
  public:
    NibbleIn(const unsigned char* bytes, size_t len, size_t start)
        : bytes_(bytes), len_(len), index_(start * 2) {}
    int next() {
        if (index_ > len_ * 2) return -1;
        size_t at = index_ / 2;
        int v = at < len_ ? ((index_ & 1) ? bytes_[at] & 15 : bytes_[at] >> 4) : 0;
        ++index_;
        return v;
    }

  private:
    const unsigned char* bytes_;
    size_t len_;
    size_t index_;
};

void storePacked(std::string& encoded, NibbleOut& nibbles, ZTStr* out) {
    nibbles.finish();
    out->assign(encoded.c_str());  // no zero byte inside
}

uint32_t ratio(size_t storedLength, uint32_t n) {
    return n ? uint32_t((storedLength + 1) * 100 / n) : 100;
}

// Decodes the n groups of a kind-2 value into out (room for n bytes).
bool decodeBinaryGroups(const unsigned char* encoded, size_t len, uint32_t n, unsigned char* out) {
    NibbleIn in(encoded, len, 3);
    for (uint32_t i = 0; i < n; ++i) {
        int h = in.next();
        if (h <= 0) return false;  // out of data, or a code the encoder never writes
        if (h == 15) {
            out[i] = 0;
            continue;
        }
        int hi = h == 14 ? in.next() : h - 1;
        int lo = in.next();
        if (hi < 0 || lo < 0) return false;
        out[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

// The decoded length from a kind-2 header, or -1 when it is not one.
long binaryHeader(const unsigned char* encoded, size_t* len) {
    if (!encoded || encoded[0] != kKindBinary) return -1;
    *len = std::strlen(reinterpret_cast<const char*>(encoded));
    if (*len < 3) return -1;
    return long(decodeShort255(encoded + 1));
}

}  // namespace

void writeBase255(uint32_t value, unsigned char* out, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = uint8_t(value % 255 + 1);
        value /= 255;
    }
}

void encodeShort255(uint32_t value, unsigned char* out) {
    writeBase255(value, out, 2);
}

uint32_t decodeShort255(const unsigned char* in) {
    return readBase255(in, 2);
}

bool getITag(const char* text, ZTStr* out) {
    if (!text) return false;
    for (const char* p = text; *p; ++p) {
        if (p[0] == ZTStr::kTagEscape && p[1] == 'i') {
            const char* value = p + 2;
            const char* end = std::strchr(value, ZTStr::kTagEscape);
            std::string copy(value, end ? size_t(end - value) : std::strlen(value));
            out->assign(copy.c_str());
            return true;
        }
    }
    return false;
}

uint32_t packText(const unsigned char* data, uint32_t n, ZTStr* out) {
    if (n >= kMaxPackedLength || (!data && n)) return 0;
    if (n == 0) {
        out->assign("\x01");
        return 100;
    }
    // The packed form must stay within half as much again as the input.
    size_t room = std::min<size_t>(std::max<size_t>(size_t(n) * 3 / 2, 20), 65529);
    std::string encoded(1, char(kKindText));
    if (n <= 254) {
        encoded += char(n);
    } else {
        unsigned char length[2];
        encodeShort255(n, length);
        encoded += char(255);
        encoded.append(reinterpret_cast<char*>(length), 2);
    }
    NibbleOut nibbles(encoded);
    for (uint32_t i = 0; i < n; ++i) {
        unsigned char c = data[i];
        if (c < 128 && i + 1 < n && data[i + 1] == c) {
            uint32_t k = 1;
            while (k < 64 && i + k < n && data[i + k] == c) ++k;
            if (k >= 4) {
                uint32_t q = k / 4;
                nibbles.put(2);
                nibbles.put(q - 1);
                i += 4 * q - 1;  // the code below is the repeated character
            }
        }
        const char* inTable = c ? std::strchr(kTextTable, c) : nullptr;
        if (c == 0) {
            nibbles.put(15);
        } else if (c >= '0' && c <= '9') {
            nibbles.put(3);
            nibbles.put(c - '0');
        } else if (inTable) {
            nibbles.put(unsigned(kFirstTableCode + (inTable - kTextTable)));
        } else {
            nibbles.put(1);
            nibbles.put(c >> 4);
            nibbles.put(c & 15);
        }
        if (nibbles.position() + 3 >= room) return 0;
    }
    storePacked(encoded, nibbles, out);
    return ratio(out->length, n);
}

bool unpackText(const char* encodedText, std::vector<char>* out) {
    out->clear();
    const auto* encoded = reinterpret_cast<const unsigned char*>(encodedText);
    if (!encoded || encoded[0] != kKindText) return false;
    size_t len = std::strlen(encodedText);
    if (len == 1) return true;  // the empty value
    uint32_t n = encoded[1];
    size_t start = 2;
    if (n == 255) {
        if (len < 4) return false;
        n = decodeShort255(encoded + 2);
        start = 4;
    }
    std::vector<char> decoded;
    decoded.reserve(n);
    NibbleIn in(encoded, len, start);
    while (decoded.size() < n) {
        int code = in.next();
        size_t times = 1;
        if (code == 2) {
            int m = in.next();
            if (m < 0) return false;
            times = size_t(m + 1) * 4;
            code = in.next();
            if (code == 2) return false;  // a repeat of a repeat is never written
        }
        if (code <= 0) return false;  // a premature end
        int c;
        if (code == 1) {
            int hi = in.next(), lo = in.next();
            if (hi < 0 || lo < 0) return false;
            c = hi << 4 | lo;
        } else if (code == 3) {
            int d = in.next();
            if (d < 0 || d > 9) return false;
            c = '0' + d;
        } else if (code == 15) {
            c = 0;
        } else {
            c = uint8_t(kTextTable[code - kFirstTableCode]);
        }
        if (times > n - decoded.size()) return false;  // an overlong repeat
        decoded.insert(decoded.end(), times, char(c));
    }
    *out = std::move(decoded);
    return true;
}

uint32_t packBinary(const unsigned char* data, uint32_t n, ZTStr* out) {
    if (n >= kMaxPackedLength || (!data && n)) return 0;
    // Every byte codes in at most three halves, so this room always suffices: any bytes up to
    // the longest length are stored (a coded form capped near 64 KiB refused random data
    // longer than about 43,000 bytes).
    const size_t room = size_t(n) * 3 / 2 + 6;
    std::string encoded(1, char(kKindBinary));
    unsigned char length[2];
    encodeShort255(n, length);
    encoded.append(reinterpret_cast<char*>(length), 2);
    NibbleOut nibbles(encoded);
    for (uint32_t i = 0; i < n; ++i) {
        unsigned char c = data[i];
        if (c == 0) {
            nibbles.put(15);
        } else if (c >= 208) {
            nibbles.put(14);
            nibbles.put(c >> 4);
            nibbles.put(c & 15);
        } else {
            nibbles.put((c >> 4) + 1u);
            nibbles.put(c & 15);
        }
        if (nibbles.position() + 2 >= room) return 0;
    }
    storePacked(encoded, nibbles, out);
    return ratio(out->length, n);
}

bool unpackBinary(const unsigned char* encoded, std::vector<unsigned char>* out) {
    out->clear();
    size_t len = 0;
    long n = binaryHeader(encoded, &len);
    if (n < 0) return false;
    std::vector<unsigned char> decoded(size_t(n), 0);
    if (!decodeBinaryGroups(encoded, len, uint32_t(n), decoded.data())) return false;
    *out = std::move(decoded);
    return true;
}

bool unpackBinaryInto(const unsigned char* encoded, unsigned char* buffer, uint32_t capacity,
                      uint32_t* n) {
    *n = 0;
    size_t len = 0;
    long length = binaryHeader(encoded, &len);
    bool ok = length == 0;
    if (length > 0 && uint32_t(length) <= capacity &&
        decodeBinaryGroups(encoded, len, uint32_t(length), buffer)) {
        *n = uint32_t(length);
        return true;
    }
    if (buffer && capacity > 0) buffer[0] = 0;
    return ok;
}

uint32_t packedBinaryLength(const unsigned char* encoded) {
    size_t len = 0;
    long n = binaryHeader(encoded, &len);
    return n < 0 ? 0 : uint32_t(n);
}
