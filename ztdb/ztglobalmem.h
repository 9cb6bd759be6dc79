#pragma once

#include <cstdint>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztstr.h"

// ZTGlobalMem: a heap block with a write cursor and a read cursor, used to move records and result
// lists through the clipboard. Writing grows the block by the grow step; a grow that fails keeps
// the old block and what it held. Integers travel as 4 bytes, little-endian; texts with their
// terminating zero; arrays as a count and then their elements.
//
// The bytes read may come from another program's clipboard: every read is checked against the
// bytes the block holds. A read that would pass them reads nothing, returns its failure (false,
// null, 0) and marks the block (readFailed) so that a caller can test a whole sequence once.
// Reading or writing after unlock() is a programming error.
class ZTGlobalMem {
  public:
    // An empty block of growStep bytes.
    explicit ZTGlobalMem(uint32_t growStep = 1024);
    // A copy of the n bytes (a block received from elsewhere), all of them readable.
    ZTGlobalMem(uint32_t growStep, const void* bytes, uint32_t n);
    ~ZTGlobalMem();
    ZTGlobalMem(const ZTGlobalMem&) = delete;
    ZTGlobalMem& operator=(const ZTGlobalMem&) = delete;

    // Replaces the block: with bytes, a copy of the n bytes (all of them readable); without, an
    // empty block of growStep bytes. Both cursors go to 0.
    void attach(uint32_t growStep, const void* bytes = nullptr, uint32_t n = 0);
    void attach(const void* bytes, uint32_t n) { attach(growStep_, bytes, n); }

    // Ends access to the block (reads and writes are then programming errors).
    void unlock();
    // Hands the bytes held over (to the clipboard) and leaves no block.
    std::vector<unsigned char> release();

    bool write(const void* bytes, uint32_t n);
    bool read(void* bytes, uint32_t n);
    // The bytes at the read cursor, which moves n on; null when fewer than n remain.
    const unsigned char* skip(uint32_t n);
    bool writeEnd();  // one zero byte

    bool putULong(uint32_t v);
    bool putInt(int32_t v);
    uint32_t getULong();
    int32_t getInt();
    bool putArray(const ZTArray<uint32_t>& items);
    // Empties items, then appends what was stored; false (items empty) when the block ends first.
    bool getArray(ZTArray<uint32_t>* items);
    bool putString(const char* text);  // null writes an empty text
    bool putStr(const ZTStr& text);
    // The text at the read cursor, in place; null when no terminating zero is held.
    const char* getString();
    bool getStr(ZTStr* out);

    // Reads start again at the first byte, with no failure noted.
    void rewind() {
        readPos_ = 0;
        readFailed_ = false;
    }
    bool readFailed() const { return readFailed_; }
    uint32_t size() const { return size_; }
    uint32_t writePosition() const { return writePos_; }
    uint32_t readPosition() const { return readPos_; }
    // Bytes that hold data: what was attached or written.
    uint32_t filled() const { return filled_; }

  private:
    bool accessible();
    bool readable(uint32_t n);
    void freeBlock();

    bool locked_ = false;
    unsigned char* data_ = nullptr;
    uint32_t writePos_ = 0;
    uint32_t readPos_ = 0;
    uint32_t growStep_;
    uint32_t size_ = 0;
    uint32_t filled_ = 0;
    bool readFailed_ = false;
};
