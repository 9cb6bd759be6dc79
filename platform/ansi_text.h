#pragma once
// Conversion between the stored text (single-byte Windows-1252, "ANSI") and
// UTF-8, the text of the desktop, of file names and of exchanged files.
// Stored bytes never change meaning: every one of the 256 byte values maps to
// one code point and back, so a value survives any number of round trips.
// A character that the code page cannot hold is refused, never dropped.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// UTF-8 text of an ANSI byte string. Never fails.
std::string ansiToUtf8(std::string_view ansi);

// ANSI bytes of a UTF-8 text, or nothing when the text is not valid UTF-8 or
// holds a character outside Windows-1252. When `badOffset` is given it
// receives the byte offset of the first offending character.
std::optional<std::string> utf8ToAnsi(std::string_view utf8, std::size_t* badOffset = nullptr);

// The code point of one ANSI byte, and the byte of a code point (-1 when the
// code page has none).
char32_t ansiToCodePoint(unsigned char byte);
int codePointToAnsi(char32_t cp);

// Appends the UTF-8 bytes of a code point (up to U+10FFFF).
void appendUtf8(std::string& out, char32_t cp);

// Decodes the UTF-8 sequence at pos into cp and moves pos past it; false, with pos unchanged,
// for a malformed, overlong or surrogate sequence.
bool decodeUtf8(std::string_view s, std::size_t& pos, char32_t& cp);

}  // namespace qv
