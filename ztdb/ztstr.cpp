#include "ztdb/ztstr.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "ztdb/ztassert.h"
#include "ztdb/ztnames.h"

namespace {

// Shared by every empty string that owns no buffer; never written.
char gEmptyText[1] = {0};

// Spare bytes left after a growing insert, so that the next appends need no allocation.
constexpr uint32_t kGrowSlack = 20;

char* allocText(size_t bytes) {
    if (bytes > 0xFFFFFFFFu) throw std::bad_alloc();
    char* p = static_cast<char*>(std::malloc(bytes));
    if (!p) throw std::bad_alloc();
    return p;
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// strtoul(s, &end, 10) for a 32-bit unsigned long, without the locale.
uint32_t parseUnsigned(const char* s, const char** end) {
    const char* p = s;
    while (isCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!isDigit(*p)) {
        *end = s;  // no conversion
        return 0;
    }
    uint64_t v = 0;
    bool overflow = false;
    for (; isDigit(*p); ++p) {
        v = v * 10 + uint64_t(*p - '0');
        if (v > 0xFFFFFFFFu) {
            overflow = true;
            v = 0xFFFFFFFFu;
        }
    }
    *end = p;
    if (overflow) return 0xFFFFFFFFu;
    return negative ? uint32_t(0u - uint32_t(v)) : uint32_t(v);
}

// Rough decimal exponent of the number text [b, e), enough to tell overflow from underflow.
long decimalMagnitude(const char* b, const char* e) {
    long intDigits = 0, leadingFractionZeros = 0;
    bool seenNonZero = false, inFraction = false;
    const char* p = b;
    for (; p < e && (isDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            inFraction = true;
        } else if (!inFraction) {
            if (*p != '0' || seenNonZero) {
                seenNonZero = true;
                ++intDigits;
            }
        } else if (!seenNonZero) {
            if (*p == '0')
                ++leadingFractionZeros;
            else
                seenNonZero = true;
        }
    }
    long mag = intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1);
    if (p < e && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negExp = false;
        if (p < e && (*p == '+' || *p == '-')) negExp = *p++ == '-';
        long ex = 0;
        for (; p < e && isDigit(*p); ++p) ex = std::min(ex * 10 + (*p - '0'), 100000L);
        mag += negExp ? -ex : ex;
    }
    return mag;
}

// strtod(s, &end) without the locale: white space, sign, decimal or hexadecimal forms,
// infinity and NaN; out-of-range values give +-HUGE_VAL or 0 as strtod does.
double parseDouble(const char* s, const char** end) {
    const char* p = s;
    while (isCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    *end = s;
    if (*p == '+' || *p == '-') return 0.0;  // one sign only
    const char* last = p + std::strlen(p);
    double v = 0.0;
    std::from_chars_result r{};
    bool hex = false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && p[2] != '+' && p[2] != '-') {
        r = std::from_chars(p + 2, last, v, std::chars_format::hex);
        hex = r.ec != std::errc::invalid_argument;
    }
    if (!hex) r = std::from_chars(p, last, v, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) return 0.0;
    if (r.ec == std::errc::result_out_of_range) {
        bool overflow;
        if (hex) {
            const char* x = std::find_if(p, r.ptr, [](char c) { return c == 'p' || c == 'P'; });
            overflow = !(x + 1 < r.ptr && x[1] == '-');
        } else {
            overflow = decimalMagnitude(p, r.ptr) > 0;
        }
        v = overflow ? HUGE_VAL : 0.0;
    }
    *end = r.ptr;
    return negative ? -v : v;
}

}  // namespace

ZTStr::ZTStr(int capacity) : slack(0), text(gEmptyText), length(0) {
    if (capacity > 0) {
        text = allocText(size_t(capacity));
        text[0] = 0;
    }
}

ZTStr::ZTStr(const ZTStr& other) : ZTStr(0) {
    assignBytes(other.text, other.length);
}

ZTStr::ZTStr(ZTStr&& other) noexcept : slack(other.slack), text(other.text), length(other.length) {
    other.text = gEmptyText;
    other.length = 0;
    other.slack = 0;
}

ZTStr& ZTStr::operator=(const ZTStr& other) {
    if (this != &other) assignBytes(other.text, other.length);
    return *this;
}

ZTStr& ZTStr::operator=(ZTStr&& other) noexcept {
    if (this != &other) {
        clear();
        std::swap(slack, other.slack);
        std::swap(text, other.text);
        std::swap(length, other.length);
    }
    return *this;
}

ZTStr::~ZTStr() {
    if (!isShared()) std::free(text);
}

bool ZTStr::isShared() const {
    return text == gEmptyText;
}

void ZTStr::clear() {
    if (!isShared()) std::free(text);
    text = gEmptyText;
    length = 0;
    slack = 0;
}

// Exact buffer for n bytes of s; s may lie inside this string's own buffer.
void ZTStr::assignBytes(const char* s, uint32_t n) {
    if (s == text && n == length) return;
    if (!s || n == 0) {
        clear();
        return;
    }
    char* fresh = allocText(size_t(n) + 1);
    std::memcpy(fresh, s, n);  // read before the old buffer goes
    fresh[n] = 0;
    clear();
    text = fresh;
    length = n;
}

void ZTStr::assign(const char* s) {
    if (s == text) return;
    assignBytes(s, s ? uint32_t(std::strlen(s)) : 0);
}

void ZTStr::assignInt(uint32_t v) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    assignBytes(buf, uint32_t(r.ptr - buf));
}

void ZTStr::assignFixed(double v, int decimals) {
    if (std::isnan(v)) {
        assign("nan");
        return;
    }
    if (std::isinf(v)) {
        assign(v < 0 ? "-inf" : "inf");
        return;
    }
    // Rounded like fcvt (exact decimal expansion of the binary value), at most 17 decimals.
    decimals = std::clamp(decimals, 0, 17);
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, decimals);
    std::string digits(buf, r.ptr);
    // No leading zero before the point, no trailing zeros after it, no bare point.
    size_t firstNonZero = digits.find_first_not_of('0');
    digits.erase(0, std::min(firstNonZero, digits.find('.')));
    if (digits.find('.') != std::string::npos) {
        digits.erase(digits.find_last_not_of('0') + 1);
        if (digits.back() == '.') digits.pop_back();
    }
    // A value that rounds to zero reads "0", without a sign.
    if (digits.empty()) {
        assign("0");
        return;
    }
    if (v < 0) digits.insert(0, 1, '-');
    assignBytes(digits.data(), uint32_t(digits.size()));
}

uint32_t ZTStr::toInt(bool* notWhole) const {
    const char* end;
    uint32_t v = parseUnsigned(text, &end);
    if (notWhole) *notWhole = *end != 0;
    return v;
}

double ZTStr::toDouble(bool* notWhole) const {
    const char* end;
    double v = parseDouble(text, &end);
    if (notWhole) *notWhole = length == 0 || *end != 0;
    return v;
}

void ZTStr::addSlack(uint32_t removed) {
    slack = uint8_t(slack + removed);
}

void ZTStr::cutTail(uint32_t newLength) {
    if (newLength >= length) return;
    addSlack(length - newLength);
    length = newLength;
    text[length] = 0;
}

void ZTStr::insertBytes(unsigned pos, const char* s, uint32_t n) {
    if (n == 0) return;
    if (pos > length) pos = length;
    if (n > slack) {
        char* fresh = allocText(size_t(length) + n + 1 + kGrowSlack);
        std::memcpy(fresh, text, pos);
        std::memcpy(fresh + pos, s, n);
        std::memcpy(fresh + pos + n, text + pos, length - pos + 1);
        if (!isShared()) std::free(text);
        text = fresh;
        slack = kGrowSlack;
    } else {
        std::memmove(text + pos + n, text + pos, length - pos + 1);
        std::memcpy(text + pos, s, n);
        slack = uint8_t(slack - n);
    }
    length += n;
}

void ZTStr::insert(unsigned pos, char c) {
    if (c) insertBytes(pos, &c, 1);
}

void ZTStr::insert(unsigned pos, const char* s) {
    if (!s || !*s) return;
    if (s >= text && s <= text + length) {
        std::string copy(s);  // the in-place move could overwrite it
        insertBytes(pos, copy.data(), uint32_t(copy.size()));
    } else {
        insertBytes(pos, s, uint32_t(std::strlen(s)));
    }
}

unsigned ZTStr::erase(unsigned a, unsigned b) {
    if (a >= length || b <= a) return a;
    if (b > length) b = length;
    std::memmove(text + a, text + b, length - b + 1);
    addSlack(b - a);
    length -= b - a;
    return a;
}

void ZTStr::truncate(unsigned pos) {
    cutTail(pos);
}

void ZTStr::trimRight() {
    uint32_t n = length;
    while (n > 0 && text[n - 1] == ' ') --n;
    cutTail(n);
}

void ZTStr::trimRightSpace() {
    uint32_t n = length;
    while (n > 0 && uint8_t(text[n - 1]) >= 1 && uint8_t(text[n - 1]) <= 32) --n;
    cutTail(n);
}

void ZTStr::fold(const char* keep) {
    if (length == 0) return;  // never write the shared empty text
    foldSearchChars(text, keep);
    cutTail(uint32_t(std::strlen(text)));
}

void ZTStr::removeChar(char c) {
    if (!c || length == 0) return;
    uint32_t out = 0;
    for (uint32_t i = 0; i < length; ++i)
        if (text[i] != c) text[out++] = text[i];
    cutTail(out);
}

void ZTStr::replaceAll(const char* find, const char* repl) {
    if (!find || !*find || length == 0) return;
    std::string_view hay(text, length);
    size_t at = hay.find(find);
    if (at == std::string_view::npos) return;
    std::string_view needle(find), with(repl ? repl : "");
    std::string out;
    size_t from = 0;
    for (; at != std::string_view::npos; at = hay.find(needle, from)) {
        out.append(hay.substr(from, at - from)).append(with);
        from = at + needle.size();
    }
    out.append(hay.substr(from));
    assignBytes(out.data(), uint32_t(out.size()));
}

bool ZTStr::equals(const char* s) const {
    return std::strcmp(text, s ? s : "") == 0;
}

int ZTStr::compare(const char* s) const {
    return std::strcmp(text, s ? s : "");
}

// Index of the escape byte that opens the section of tag (not 0), or -1.
int ZTStr::findSection(char tag) const {
    for (uint32_t i = 0; i + 1 < length; ++i)
        if (text[i] == kTagEscape && text[i + 1] == tag) return int(i);
    return -1;
}

uint32_t ZTStr::sectionEnd(uint32_t start) const {
    const void* next = std::memchr(text + start + 2, kTagEscape, length - (start + 2));
    return next ? uint32_t(static_cast<const char*>(next) - text) : length;
}

uint32_t ZTStr::headEnd() const {
    const void* esc = std::memchr(text, kTagEscape, length);
    return esc ? uint32_t(static_cast<const char*>(esc) - text) : length;
}

void ZTStr::removeTag(char tag) {
    if (tag == 0) {
        erase(0, headEnd());
        return;
    }
    int start = findSection(tag);
    if (start >= 0) erase(unsigned(start), sectionEnd(unsigned(start)));
}

void ZTStr::setTag(char tag, const char* value) {
    if (!ZT_ASSERT(tag != kTagEscape)) return;
    std::string clean;
    for (const char* p = value ? value : ""; *p; ++p)
        if (*p != kTagEscape) clean += *p;
    removeTag(tag);
    if (clean.empty()) return;
    if (tag == 0) {
        insertBytes(0, clean.data(), uint32_t(clean.size()));
    } else {
        clean.insert(0, {kTagEscape, tag});
        insertBytes(kEnd, clean.data(), uint32_t(clean.size()));
    }
}

void ZTStr::setTag(char tag, const ZTStr& value) {
    setTag(tag, value.text);
}

void ZTStr::setTagInt(char tag, uint32_t v) {
    if (v == 0) {
        removeTag(tag);
        return;
    }
    char buf[16];
    *std::to_chars(buf, buf + sizeof buf - 1, v).ptr = 0;
    setTag(tag, buf);
}

ZTStr* ZTStr::getTag(char tag, ZTStr* out) const {
    uint32_t from = 0, to = 0;
    if (tag == 0) {
        to = headEnd();
    } else if (int start = findSection(tag); start >= 0) {
        from = uint32_t(start) + 2;
        to = sectionEnd(uint32_t(start));
    }
    out->assignBytes(text + from, to - from);  // safe when out is this string
    return out;
}

uint32_t ZTStr::getTagInt(char tag) const {
    ZTStr value;
    getTag(tag, &value);
    const char* end;
    return parseUnsigned(value.text, &end);
}

bool ZTStr::hasTag(char tag) const {
    if (tag == 0) return length != 0;
    return findSection(tag) >= 0;
}

namespace {

// ASCII-only, so that no locale's case rules touch file names.
bool endsWithAsciiNoCase(const char* tail, const char* lowerExt, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != lowerExt[i]) return false;
    }
    return true;
}

}  // namespace

void ZTStr::stripDbExtension() {
    static const char* const kExtensions[] = {".zt2", ".zt", ".ix2", ".ix"};
    for (const char* ext : kExtensions) {
        uint32_t n = uint32_t(std::strlen(ext));
        if (length >= n && endsWithAsciiNoCase(text + length - n, ext, n)) {
            cutTail(length - n);
            return;
        }
    }
}

namespace {

// Position of the '.' that starts the extension: the first after the last '/'.
const char* extensionDot(const char* text) {
    const char* slash = std::strrchr(text, '/');
    return std::strchr(slash ? slash + 1 : text, '.');
}

}  // namespace

void ZTStr::removeExtension() {
    if (const char* dot = extensionDot(text)) cutTail(uint32_t(dot - text));
}

void ZTStr::keepExtension() {
    if (const char* dot = extensionDot(text))
        erase(0, uint32_t(dot - text) + 1);
    else
        cutTail(0);
}

void ZTStr::keepFolder() {
    const char* slash = std::strrchr(text, '/');
    if (!slash)
        cutTail(0);
    else
        cutTail(slash == text ? 1 : uint32_t(slash - text));
}

void ZTStr::removeFolder() {
    if (const char* slash = std::strrchr(text, '/')) erase(0, uint32_t(slash - text) + 1);
}

int ZTStr::findAnyOf(const char* chars) const {
    for (const char* c = chars ? chars : ""; *c; ++c)
        if (const void* at = std::memchr(text, *c, length))
            return int(static_cast<const char*>(at) - text);
    return -1;
}

void ZTStr::format(unsigned extra, const char* fmt, ...) {
    clear();
    if (!fmt || !*fmt) return;
    va_list args, measure;
    va_start(args, fmt);
    va_copy(measure, args);
    int needed = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (needed < 0) {
        va_end(args);
        return;
    }
    size_t room = std::max<size_t>(std::strlen(fmt) + extra, size_t(needed));
    char* fresh = allocText(room + 1);
    std::vsnprintf(fresh, room + 1, fmt, args);
    va_end(args);
    text = fresh;
    length = uint32_t(needed);
    slack = uint8_t(std::min<size_t>(room - size_t(needed), 255));
}
