#pragma once
// Small utilities of the table library: bounded text copies, case and trim,
// POSIX path pieces, waiting, and locale-independent number text.
//
// Paths are native POSIX paths: '/' separates folders, case is kept, names are
// never upper-cased for file access. Number text never depends on the C
// locale: a point is always '.'.
#include <cstdint>
#include <string>

struct env4;

// Copies at most n - 1 characters of `from` and terminates; returns the count.
// n below 1 is -930.
int32_t u4ncpy(char* to, const char* from, int32_t n);
void c4upper(char* text);
void c4lower(char* text);
// Within the first n bytes: cuts at the first NUL and clears trailing blanks.
void c4trimN(char* text, int32_t n);
// Letters, digits and underscore.
[[nodiscard]] int u4isIdentChar(int c);

// Absolute form of `name` with "." and ".." resolved (case kept). A ".." above
// the root is -1420, a null name -935. Raised in `env`.
[[nodiscard]] int32_t u4fullPath(env4* env, const char* name, std::string& out);
// Trailing blanks removed; when the last path piece has no extension (or when
// `force`), "." and at most three characters of `ext` are appended (a leading
// '.' of `ext` is skipped).
std::string u4nameExt(const char* name, const char* ext, bool force);
// The file-name piece of a path, with or without folder and extension.
std::string u4namePiece(const char* path, bool withFolder, bool withExt);
// Folder and name with exactly one '/' between them.
std::string u4nameJoin(const char* folder, const char* name);
// Extension of the last path piece without its '.', empty when none.
std::string u4nameExtOf(const char* path);
// Identity of an existing file (device and inode), so that two paths of one file are
// told to be the same; found is false when there is no such file.
struct u4identity {
    bool found = false;
    uint64_t device = 0, inode = 0;
};
u4identity u4identify(const std::string& path);
// Full path of `name` with the extension `ext` (lower case) added when the name has none,
// or in place of its own when `force`: the upper-case form of it is taken when only that
// file exists.
[[nodiscard]] int32_t u4pathWithExt(env4* env, const char* name, const char* ext, bool force,
                                    std::string& out);

// Replaces *buffer (of *length bytes) by one of newLength bytes holding the
// old contents; -920 when memory runs out.
[[nodiscard]] int32_t u4growBuffer(env4* env, char** buffer, int32_t* length, int32_t newLength);
// Library memory; when it fails while block buffers run, the buffers are
// suspended, the allocation tried once more and the buffers started again.
[[nodiscard]] void* u4allocAgain(env4* env, int32_t size);

// Waits n hundredths of a second (monotonic clock).
void u4delayHundredth(int32_t n);
// Today as years since 1900, month, day.
void u4today(unsigned char out[3]);
// Value of an environment variable or null; `required` makes a missing one -910.
const char* u4getEnv(env4* env, const char* name, int required);
[[nodiscard]] int u4remove(const char* path);
[[nodiscard]] int u4rename(const char* from, const char* to);
// Floor of log2; 0 for 0 and 1.
[[nodiscard]] int32_t u4log2(uint32_t n);

// Text to double: leading blanks skipped, at most 40 characters, an optional
// sign, digits, '.' and digits; anything else ends the number.
[[nodiscard]] double c4atod(const char* text);
// The same on the first n bytes.
[[nodiscard]] double c4atodN(const char* text, int32_t n);
// Integer of the first n bytes (blanks, sign, digits; clamped to 32 bits).
[[nodiscard]] int32_t c4atoiN(const char* text, int32_t n);
// Fixed text of `value` in exactly `width` bytes (1 to 128, not terminated)
// with `decimals` (0 to 15, below width): right-aligned, '-' before the first
// digit, "0" before the point. A number that does not fit fills the width
// with '*' and gives -440; other arguments are -930.
[[nodiscard]] int32_t c4dtoa(double value, char* out, int32_t width, int32_t decimals);
// Integer text in |n| bytes (not terminated). n > 0: blanks before the digits
// and '-' in the last of them; n < 0: leading zeros and no sign. A number (or
// sign) that does not fit fills the width with '*'.
void c4ltoa(int32_t value, char* out, int32_t n);
// Each byte replaced by its two's complement (descending keys).
void c4negateBytes(unsigned char* bytes, int32_t length);
// Numeric key text in place: leading blanks become '0'; a leading '-' becomes
// '0' and every byte c after it becomes 92 - c, so negative numbers sort below
// positive ones in reverse order.
void c4numKey(char* text, int32_t length);
// Copies `picture` to `out` and, for each letter of `templ` (such as
// "CCYYMMDD"), puts the matching character of `source` at the next position of
// that letter in the picture.
void c4pictureMerge(char* out, const char* picture, const char* source, const char* templ);
