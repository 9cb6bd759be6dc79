#include "xbase/core/util4.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"

int32_t u4ncpy(char* to, const char* from, int32_t n) {
    if (n < 1 || to == nullptr) return error4raise(nullptr, e4parm, E4LOC(94501));
    int32_t i = 0;
    if (from != nullptr)
        for (; i < n - 1 && from[i] != '\0'; ++i) to[i] = from[i];
    to[i] = '\0';
    return i;
}

// Names are compared in upper case. Only ASCII letters change, whatever the
// process locale is (the desktop layer sets one): a stored name must read the
// same on every machine.
void c4upper(char* text) {
    for (; text != nullptr && *text; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

void c4lower(char* text) {
    for (; text != nullptr && *text; ++text)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}

void c4trimN(char* text, int32_t n) {
    if (text == nullptr || n < 1) return;
    int32_t len = 0;
    while (len < n && text[len] != '\0') ++len;
    while (len > 0 && text[len - 1] == ' ') --len;
    if (len < n) text[len] = '\0';
}

int u4isIdentChar(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

int32_t u4fullPath(env4* env, const char* name, std::string& out) {
    if (name == nullptr) return error4raise(env, e4parmNull, E4LOC(94510));
    std::string path;
    if (name[0] != '/') {
        std::vector<char> cwd(256);
        while (getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) return error4raiseText(env, e4name, E4LOC(94511), name);
            cwd.resize(cwd.size() * 2);
        }
        path = cwd.data();
        path += '/';
    }
    path += name;
    std::vector<std::string> pieces;
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        std::string piece = path.substr(at, end - at);
        if (piece == "..") {
            if (pieces.empty()) return error4raiseText(env, e4name, E4LOC(94512), name);
            pieces.pop_back();
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(std::move(piece));
        }
        at = end + 1;
    }
    out.clear();
    for (const std::string& piece : pieces) out += '/' + piece;
    if (out.empty()) out = "/";
    return 0;
}

namespace {

// Position of the '.' that starts the last piece's extension, or npos. A
// name that begins with '.' (a hidden file) has no extension by that dot.
size_t extensionDot(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= start) return std::string::npos;
    return dot;
}

}  // namespace

std::string u4nameExt(const char* name, const char* ext, bool force) {
    std::string path = name == nullptr ? "" : name;
    while (!path.empty() && path.back() == ' ') path.pop_back();
    size_t dot = extensionDot(path);
    if (dot != std::string::npos) {
        if (!force) return path;
        path.erase(dot);
    }
    std::string e = ext == nullptr ? "" : ext;
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    if (e.size() > 3) e.resize(3);
    if (e.empty()) return path;
    return path + "." + e;
}

std::string u4namePiece(const char* path, bool withFolder, bool withExt) {
    std::string p = path == nullptr ? "" : path;
    if (!withExt) {
        size_t dot = extensionDot(p);
        if (dot != std::string::npos) p.erase(dot);
    }
    if (!withFolder) {
        size_t slash = p.rfind('/');
        if (slash != std::string::npos) p.erase(0, slash + 1);
    }
    return p;
}

std::string u4nameExtOf(const char* path) {
    std::string p = path == nullptr ? "" : path;
    size_t dot = extensionDot(p);
    return dot == std::string::npos ? std::string() : p.substr(dot + 1);
}

std::string u4nameJoin(const char* folder, const char* name) {
    std::string f = folder == nullptr ? "" : folder;
    std::string n = name == nullptr ? "" : name;
    while (!f.empty() && f.back() == '/') f.pop_back();
    size_t skip = 0;
    while (skip < n.size() && n[skip] == '/') ++skip;
    return f + "/" + n.substr(skip);
}

void u4delayHundredth(int32_t n) {
    if (n <= 0) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t{n} * 10);
    std::this_thread::sleep_until(deadline);
}

void u4today(unsigned char out[3]) {
    // Every append stamps the date: the local date is worked out once a second.
    thread_local time_t seen = -1;
    thread_local unsigned char date[3];
    const time_t now = time(nullptr);
    if (now != seen) {
        struct tm local {};
        localtime_r(&now, &local);
        date[0] = static_cast<unsigned char>(local.tm_year);
        date[1] = static_cast<unsigned char>(local.tm_mon + 1);
        date[2] = static_cast<unsigned char>(local.tm_mday);
        seen = now;
    }
    std::memcpy(out, date, 3);
}

const char* u4getEnv(env4* env, const char* name, int required) {
    const char* value = name == nullptr ? nullptr : std::getenv(name);
    if (value == nullptr && required) error4raiseText(env, e4info, E4LOC(94530), name);
    return value;
}

int u4remove(const char* path) {
    return path == nullptr ? -1 : unlink(path);
}

int u4rename(const char* from, const char* to) {
    return (from == nullptr || to == nullptr) ? -1 : std::rename(from, to);
}

int32_t u4log2(uint32_t n) {
    int32_t r = 0;
    while (n > 1) {
        n >>= 1;
        ++r;
    }
    return r;
}

double c4atod(const char* text) {
    if (text == nullptr) return 0.0;
    while (*text == ' ') ++text;
    // Only sign, digits and one point take part; the sign belongs to the
    // whole number, so "-0.5" is negative although its integer part is 0.
    char digits[48];
    int n = 0, taken = 0;
    bool point = false;
    if (*text == '-' || *text == '+') {
        if (*text == '-') digits[n++] = '-';
        ++text;
        ++taken;
    }
    for (; taken < 40 && *text; ++text, ++taken) {
        if (*text >= '0' && *text <= '9') {
            digits[n++] = *text;
        } else if (*text == '.' && !point) {
            point = true;
            digits[n++] = '.';
        } else {
            break;
        }
    }
    double value = 0.0;
    auto result = std::from_chars(digits, digits + n, value, std::chars_format::fixed);
    if (result.ec != std::errc()) return 0.0;  // no digits at all, such as "-" or "."
    return value;
}

double c4atodN(const char* text, int32_t n) {
    char copy[50];
    if (text == nullptr || n < 1) return 0.0;
    if (n > 49) n = 49;
    int32_t i = 0;
    for (; i < n && text[i] != '\0'; ++i) copy[i] = text[i];
    copy[i] = '\0';
    return c4atod(copy);
}

int32_t c4atoiN(const char* text, int32_t n) {
    if (text == nullptr || n < 1) return 0;
    if (n > 127) n = 127;
    int32_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

namespace {

// Fixed text of |value| with `decimals` digits, rounded half away from zero
// on the shortest decimal form of the value (so 2.5 gives 3 and 1.005 gives
// 1.01, as a person reading the number expects). False when it cannot be
// written (not finite).
bool fixedDigits(double value, int32_t decimals, std::string& out) {
    if (!std::isfinite(value)) return false;
    char text[400];
    auto result =
        std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::fixed);
    if (result.ec != std::errc()) return false;
    std::string digits(text, result.ptr);
    size_t point = digits.find('.');
    std::string whole = point == std::string::npos ? digits : digits.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : digits.substr(point + 1);
    bool roundUp = fraction.size() > static_cast<size_t>(decimals) && fraction[decimals] >= '5';
    fraction.resize(decimals, '0');
    std::string all = whole + fraction;
    if (roundUp) {
        int i = static_cast<int>(all.size()) - 1;
        for (; i >= 0 && all[i] == '9'; --i) all[i] = '0';
        if (i >= 0)
            all[i]++;
        else
            all.insert(all.begin(), '1');
    }
    size_t wholeLen = all.size() - decimals;
    out = all.substr(0, wholeLen);
    if (out.empty()) out = "0";
    if (decimals > 0) out += "." + all.substr(wholeLen);
    if (value < 0 && out.find_first_not_of("0.") != std::string::npos) out.insert(0, "-");
    return true;
}

}  // namespace

int32_t c4dtoa(double value, char* out, int32_t width, int32_t decimals) {
    if (out == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(95101));
    if (width < 1 || width > 128 || decimals < 0 || decimals > 15 || decimals >= width)
        return error4raise(nullptr, e4parm, E4LOC(95102));
    std::string text;
    if (!fixedDigits(value, decimals, text) || text.size() > static_cast<size_t>(width)) {
        std::memset(out, '*', width);
        return error4raise(nullptr, e4width, E4LOC(95103));
    }
    int32_t len = static_cast<int32_t>(text.size());
    std::memset(out, ' ', width - len);
    std::memcpy(out + width - len, text.data(), len);
    return 0;
}

void c4ltoa(int32_t value, char* out, int32_t n) {
    if (out == nullptr || n == 0) return;
    bool zeros = n < 0;
    int32_t width = zeros ? -n : n;
    int64_t magnitude = value < 0 ? -int64_t{value} : int64_t{value};
    char digits[16];
    int32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    int32_t needed = count + ((!zeros && value < 0) ? 1 : 0);
    if (needed > width) {
        std::memset(out, '*', width);
        return;
    }
    std::memset(out, zeros ? '0' : ' ', width);
    for (int32_t i = 0; i < count; ++i) out[width - 1 - i] = digits[i];
    if (!zeros && value < 0) out[width - count - 1] = '-';
}

void c4negateBytes(unsigned char* bytes, int32_t length) {
    for (int32_t i = 0; bytes != nullptr && i < length; ++i)
        bytes[i] = static_cast<unsigned char>(-bytes[i]);
}

void c4numKey(char* text, int32_t length) {
    if (text == nullptr) return;
    int32_t i = 0;
    for (; i < length && text[i] == ' '; ++i) text[i] = '0';
    if (i < length && text[i] == '-') {
        text[i++] = '0';
        for (; i < length; ++i) text[i] = static_cast<char>(92 - text[i]);
    }
}

void c4pictureMerge(char* out, const char* picture, const char* source, const char* templ) {
    if (out == nullptr || picture == nullptr) return;
    size_t len = std::strlen(picture);
    std::memmove(out, picture, len + 1);
    if (source == nullptr || templ == nullptr) return;
    size_t sourceLen = std::strlen(source);
    size_t next[256] = {};  // per letter: where in the picture to look next
    for (size_t t = 0; templ[t] != '\0' && t < sourceLen; ++t) {
        auto letter = static_cast<unsigned char>(templ[t]);
        size_t& at = next[letter];
        while (at < len && static_cast<unsigned char>(picture[at]) != letter) ++at;
        if (at < len) out[at++] = source[t];
    }
}

u4identity u4identify(const std::string& path) {
    u4identity id;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        id.found = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    return id;
}

int32_t u4pathWithExt(env4* env, const char* name, const char* ext, bool force, std::string& out) {
    std::string full;
    const int32_t rc = u4fullPath(env, name, full);
    if (rc < 0) return rc;
    if (!force && !u4nameExtOf(full.c_str()).empty()) {
        out = full;
        return 0;
    }
    std::string lowerExt = ext, upperExt = ext;
    for (char& c : lowerExt) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    for (char& c : upperExt) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    const std::string lower = u4nameExt(full.c_str(), lowerExt.c_str(), force);
    const std::string upper = u4nameExt(full.c_str(), upperExt.c_str(), force);
    out = !u4identify(lower).found && u4identify(upper).found ? upper : lower;
    return 0;
}
