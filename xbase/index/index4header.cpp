#include "xbase/index/index4header.h"

#include <cstring>

#include "xbase/core/bytes4.h"
#include "xbase/core/error4.h"
#include "xbase/index/node4.h"

// Header of a tag (1024 bytes), little-endian unless marked:
//
//   offset  size  field
//   ------  ----  -----------------------------------------------------------------
//        0     4  offset of the root node
//        4     4  head of the free-node list, 0 when empty (directory header only)
//        8     4  change counter, BIG-endian (directory header only)
//       12     2  key length
//       14     1  options: 1 unique, 4 candidate, 8 filter, 32 compact, 64 compound,
//                 128 tag directory
//       15     1  signature, 1
//       16   478  zero
//      494     8  collation name: "GENERAL" and a zero, or eight zeros
//      502     2  1 descending, 0 ascending
//      504     2  expression length with its zero (written, never read)
//      506     2  filter length with its zero; 1 without a filter
//      508     2  zero
//      510     2  expression length with its zero (at most 255)
//      512   512  expression text and zero, then the filter text and zero, then zeros

namespace {

constexpr int kRoot = 0, kFree = 4, kCounter = 8, kKeyLength = 12, kOptions = 14, kSignature = 15,
              kCollation = 494, kDescending = 502, kExprWritten = 504, kFilterLength = 506,
              kExprLength = 510, kTexts = 512;
constexpr int kTextArea = tag4headerSize - kTexts;
constexpr int kMaxTextLength = 255;  // with its zero: what the length fields allow
constexpr char kGeneral[8] = {'G', 'E', 'N', 'E', 'R', 'A', 'L', 0};
static_assert(kSignature + 1 == tag4headerPrefixSize);
static_assert(tag4maxExpressionLength + 1 == kMaxTextLength);

bool textWritable(const std::string& text) {
    return text.size() <= size_t(tag4maxExpressionLength) && text.find('\0') == std::string::npos;
}

// Reads a text of `length` bytes with its zero at `offset` of the text area; false when
// the length does not fit the area or the zero is not where the length says.
bool readText(const uint8_t* in, int offset, int length, std::string* out) {
    if (length < 1 || length > kMaxTextLength || offset + length > kTextArea) return false;
    const uint8_t* text = in + kTexts + offset;
    if (text[length - 1] != 0) return false;
    if (std::memchr(text, 0, size_t(length - 1)) != nullptr) return false;
    out->assign(reinterpret_cast<const char*>(text), size_t(length - 1));
    return true;
}

}  // namespace

tag4header tag4headerDirectory(uint32_t root) {
    tag4header h;
    h.root = root;
    h.keyLength = 10;
    h.options = tag4optCompact | tag4optCompound | tag4optDirectory;
    return h;
}

void tag4headerEncodePrefix(const tag4header& h, uint8_t out[tag4headerPrefixSize]) {
    bytes4put32le(out + kRoot, h.root);
    bytes4put32le(out + kFree, h.freeHead);
    bytes4put32be(out + kCounter, h.changeCounter);
    bytes4put16le(out + kKeyLength, h.keyLength);
    out[kOptions] = h.options;
    out[kSignature] = h.signature;
}

void tag4headerDecodePrefix(const uint8_t in[tag4headerPrefixSize], tag4header* out) {
    out->root = bytes4get32le(in + kRoot);
    out->freeHead = bytes4get32le(in + kFree);
    out->changeCounter = bytes4get32be(in + kCounter);
    out->keyLength = bytes4get16le(in + kKeyLength);
    out->options = in[kOptions];
    out->signature = in[kSignature];
}

bytes4slice tag4headerRootSlice() {
    return bytes4sliceOf(kRoot, kFree);
}

uint32_t tag4headerDecodeRoot(const bytes4slice& s) {
    return bytes4get32le(s.bytes);
}

bytes4slice tag4headerEncodeRoot(uint32_t root) {
    bytes4slice s = tag4headerRootSlice();
    bytes4put32le(s.bytes, root);
    return s;
}

bytes4slice tag4headerEncodeCounter(uint32_t freeHead, uint32_t changeCounter) {
    bytes4slice s = bytes4sliceOf(kFree, kKeyLength);
    bytes4put32le(s.bytes + (kFree - s.offset), freeHead);
    bytes4put32be(s.bytes + (kCounter - s.offset), changeCounter);
    return s;
}

int tag4headerEncode(const tag4header& h, uint8_t out[tag4headerSize]) {
    if (out == nullptr) return e4parmNull;
    if (h.keyLength < 1 || h.keyLength > tag4maxKeyLength) return e4parm;
    if ((h.options & tag4optCompact) == 0) return e4parm;
    if (!textWritable(h.expression) || !textWritable(h.filter)) return e4parm;
    if (((h.options & tag4optFilter) != 0) != !h.filter.empty()) return e4parm;

    std::memset(out, 0, tag4headerSize);
    tag4headerEncodePrefix(h, out);
    if (h.general) std::memcpy(out + kCollation, kGeneral, sizeof kGeneral);
    bytes4put16le(out + kDescending, h.descending ? 1 : 0);
    const auto exprLength = uint16_t(h.expression.size() + 1);
    bytes4put16le(out + kExprWritten, exprLength);
    bytes4put16le(out + kFilterLength, uint16_t(h.filter.empty() ? 1 : h.filter.size() + 1));
    bytes4put16le(out + kExprLength, exprLength);
    std::memcpy(out + kTexts, h.expression.data(), h.expression.size());
    if (!h.filter.empty()) std::memcpy(out + kTexts + exprLength, h.filter.data(), h.filter.size());
    return 0;
}

int tag4headerDecode(const uint8_t in[tag4headerSize], tag4header* out) {
    if (in == nullptr || out == nullptr) return e4parmNull;
    tag4header h;
    tag4headerDecodePrefix(in, &h);
    if (h.signature != 1 || (h.options & tag4optCompact) == 0) return e4index;
    if (h.keyLength < 1 || h.keyLength > tag4maxKeyLength) return e4index;
    // Nodes follow the headers, so no root can lie inside the first 1024 bytes.
    if (h.root < uint32_t(tag4headerSize) || h.root % node4size != 0) return e4index;

    static const uint8_t kNone[sizeof kGeneral] = {};
    if (std::memcmp(in + kCollation, kGeneral, sizeof kGeneral) == 0)
        h.general = true;
    else if (std::memcmp(in + kCollation, kNone, sizeof kNone) != 0)
        return e4index;
    const uint16_t descending = bytes4get16le(in + kDescending);
    if (descending > 1) return e4index;
    h.descending = descending == 1;

    // The directory carries no expression; writers differ on whether its length is 0 or 1.
    const int exprLength = bytes4get16le(in + kExprLength);
    const bool directory = (h.options & tag4optDirectory) != 0;
    if (!(directory && exprLength == 0) && !readText(in, 0, exprLength, &h.expression))
        return e4info;
    if ((h.options & tag4optFilter) != 0) {
        const int filterLength = bytes4get16le(in + kFilterLength);
        if (!readText(in, exprLength, filterLength, &h.filter) || h.filter.empty()) return e4info;
    }
    *out = std::move(h);
    return 0;
}
