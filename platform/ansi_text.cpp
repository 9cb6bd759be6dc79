#include "platform/ansi_text.h"

namespace qv {
namespace {

// Code points of the bytes 0x80 to 0x9F. The five bytes that Windows-1252
// leaves undefined map to the C1 control of the same value, as the system
// conversion does, so that no byte is lost.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool decodeUtf8(std::string_view s, std::size_t& pos, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(pos);
    int extra;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        ++pos;
        return true;
    } else if ((b0 & 0xE0) == 0xC0) {
        extra = 1, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, min = 0x10000, cp = b0 & 0x07;
    } else {
        return false;
    }
    if (pos + extra >= s.size()) return false;
    for (int i = 1; i <= extra; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    pos += extra + 1;
    return true;
}

char32_t ansiToCodePoint(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? kHigh[byte - 0x80] : byte;
}

int codePointToAnsi(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == cp) return 0x80 + i;
    return -1;
}

std::string ansiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() + ansi.size() / 4);
    for (char c : ansi) appendUtf8(out, ansiToCodePoint(static_cast<unsigned char>(c)));
    return out;
}

std::optional<std::string> utf8ToAnsi(std::string_view utf8, std::size_t* badOffset) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t start = pos;
        char32_t cp;
        int b = decodeUtf8(utf8, pos, cp) ? codePointToAnsi(cp) : -1;
        if (b < 0) {
            if (badOffset) *badOffset = start;
            return std::nullopt;
        }
        out += static_cast<char>(b);
    }
    return out;
}

}  // namespace qv
