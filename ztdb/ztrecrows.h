#pragma once
// What the row cursor's source files share: the byte offsets of rows and chunks and
// base-255 digits in place. Only for ztrec*.cpp.
#include <algorithm>
#include <cstdint>

#include "ztdb/ztcodec.h"
#include "ztdb/ztfile.h"

namespace ztrows {

// A body result asking for the read to start again (another process changed what it read).
constexpr int kRetry = 99;
// Reads done again because others wrote meanwhile, before a read takes what it has.
constexpr int kMaxFreshReads = 3;
constexpr uint32_t kMaxSequence = 65024;         // two base-255 digits
constexpr uint32_t kMaxChain = 4228250624u;      // four base-255 digits: 255^4 - 1
constexpr int kMaxRowKey = 2 * 4 + 2 + 240 + 8;  // A + B + C + D and room for a high byte
constexpr char kLive = ' ';
constexpr char kDeleted = '*';

// Byte offsets of the columns in a row's record buffer (the deletion byte is 0).
struct RowColumns {
    int a, b, c, d, e, f;
    explicit RowColumns(const ZTFile* file) {
        const int id = file->getLenID(), key = file->getLenKey();
        a = 1;
        b = 1 + id;
        c = 1 + 2 * id;
        d = 3 + 2 * id;
        e = 3 + 2 * id + key;
        f = 7 + 2 * id + key;
    }
};

// Byte offsets of a chunk's columns.
constexpr int kChunkA = 1;
constexpr int kChunkB = 5;
constexpr int kChunkC = 7;

inline const unsigned char* bytes(const char* p) {
    return reinterpret_cast<const unsigned char*>(p);
}

inline void putDigits(char* out, uint32_t value, int n) {
    writeBase255(value, reinterpret_cast<unsigned char*>(out), n);
}

inline uint32_t digitsAt(const char* in, int n) {
    return readBase255(bytes(in), n);
}

// The key of chunk seq of a chain in the dictionary tag (A + B): 6 bytes.
constexpr int kChunkKey = 6;
inline void chunkKey(char* key, uint32_t chain, uint32_t seq) {
    putDigits(key, chain, 4);
    putDigits(key + 4, seq, 2);
}

// The largest number n base-255 digits hold.
inline uint32_t maxDigits(int n) {
    uint64_t v = 1;
    for (int i = 0; i < n; ++i) v *= 255;
    return uint32_t(std::min<uint64_t>(v - 1, 0xFFFFFFFFu));
}

// A plain value is stored without its leading bytes 1, so that it never reads as packed.
inline const char* plainText(const char* text) {
    if (!text) return "";
    while (*text == 1) ++text;
    return text;
}

// A failed library call outside any read bracket: the error must not block what follows.
inline bool dropError(ZTFile* file) {
    if (file->getReadDepth() == 0) (void)error4setCode(file->getEnv(), 0);
    return false;
}

}  // namespace ztrows
