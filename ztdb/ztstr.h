#pragma once

#include <cstdint>

// ZTStr: the engine's growable zero-terminated byte string, one byte per character
// (Windows-1252). `text` is never null; an empty string that owns no buffer points at one shared
// static empty text that is never written or freed. `slack` counts spare bytes after the
// terminating zero; it is 8 bits wide and may understate the room, never overstate it. A growing
// insert leaves 20 spare bytes so that repeated appends are cheap; `assign` makes an exact
// buffer; removing characters never shrinks the buffer.
//
// The text may hold any byte but 0, including 27, which separates tagged sections: the head
// (tag 0), then for each section byte 27, a non-zero tag byte and the value, which runs to the
// next 27 or the end. Values never contain 27.
//
// `text`, `length` and `slack` are read directly by users; only the member functions change them.
class ZTStr {
  public:
    static constexpr char kTagEscape = 27;
    // Any position at or past the end appends.
    static constexpr unsigned kEnd = 0xFFFFFFFFu;

    uint8_t slack;
    char* text;
    uint32_t length;

    // Capacity 0: the shared empty text. Otherwise an empty text in a buffer of that many bytes.
    explicit ZTStr(int capacity = 0);
    ZTStr(const ZTStr& other);
    ZTStr(ZTStr&& other) noexcept;
    ZTStr& operator=(const ZTStr& other);
    ZTStr& operator=(ZTStr&& other) noexcept;
    virtual ~ZTStr();

    // Copies s (null or empty: the shared empty text). s may point into this string's own text.
    void assign(const char* s);
    void assignInt(uint32_t v);
    // v rounded to `decimals` places (0 to 17), trailing zeros and a bare point removed, no
    // leading zero before the point: 2.50 -> "2.5", 3.0 -> "3", 0.5 -> ".5", 0.05 -> ".05".
    void assignFixed(double v, int decimals);

    // Unsigned decimal value as strtoul with base 10 gives it, for a 32-bit unsigned long
    // (leading white space and a sign allowed, overflow gives 4294967295). notWhole: characters
    // remain after the number (false for an empty text).
    uint32_t toInt(bool* notWhole = nullptr) const;
    // Floating value as strtod gives it, independent of the locale. notWhole: characters remain
    // after the number, or the text is empty.
    double toDouble(bool* notWhole = nullptr) const;

    // Inserts at pos (past the end appends). A zero c, or a null or empty s, does nothing.
    void insert(unsigned pos, char c);
    void insert(unsigned pos, const char* s);
    // Removes [a, b); b past the end counts as the end. Returns a.
    unsigned erase(unsigned a, unsigned b);
    void truncate(unsigned pos);
    void trimRight();       // trailing blanks (32)
    void trimRightSpace();  // trailing bytes 1 to 32
    // Search folding in place (foldSearchChars); bytes listed in keep stay as they are.
    void fold(const char* keep);
    void removeChar(char c);
    // Replaces every occurrence of find, left to right; a replacement is never searched again.
    void replaceAll(const char* find, const char* repl);
    bool equals(const char* s) const;  // null counts as empty
    int compare(const char* s) const;  // strcmp; null counts as empty

    // Tagged sections (tag 0 is the head).
    void removeTag(char tag);
    // Replaces the section; an empty value only removes it. Bytes 27 inside the value are left
    // out (they would split it into false sections). Tag 27 is a programming error.
    void setTag(char tag, const char* value);
    void setTag(char tag, const ZTStr& value);
    // Unsigned decimal form; 0 only removes the section.
    void setTagInt(char tag, uint32_t v);
    // out gets the section's value (empty when absent); returns out. out may be this string.
    ZTStr* getTag(char tag, ZTStr* out) const;
    // Unsigned value of the section as setTagInt writes it; 0 when absent.
    uint32_t getTagInt(char tag) const;
    // Tag 0: the text is not empty. Otherwise some byte 27 is followed by the tag.
    bool hasTag(char tag) const;

    // Path helpers: '/' separates folders, letter case is kept.
    // Removes one trailing database extension (".zt2", ".zt", ".ix2", ".ix", any case).
    void stripDbExtension();
    // The extension starts at the first '.' after the last '/'.
    void removeExtension();
    void keepExtension();
    // Cuts at the last '/' (the root folder stays "/"); without '/', becomes empty.
    void keepFolder();
    // Removes everything up to and including the last '/'.
    void removeFolder();

    // Tries the characters of chars in their own order; the position of the first one that occurs
    // at all (not the earliest over all of them), -1 when none does.
    int findAnyOf(const char* chars) const;

    void clear();
    // printf-style formatting (bounded: the text is never cut or overrun). extra is a hint of how
    // much longer than fmt the result gets; the buffer is at least strlen(fmt) + extra + 1 bytes.
    void format(unsigned extra, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  private:
    bool isShared() const;
    void assignBytes(const char* s, uint32_t n);
    void insertBytes(unsigned pos, const char* s, uint32_t n);
    void cutTail(uint32_t newLength);
    void addSlack(uint32_t removed);
    int findSection(char tag) const;
    uint32_t sectionEnd(uint32_t start) const;
    uint32_t headEnd() const;
};
