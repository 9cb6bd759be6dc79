#include "ztdb/ztglobalmem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ztdb/ztassert.h"

ZTGlobalMem::ZTGlobalMem(uint32_t growStep) : growStep_(growStep) {
    attach(growStep);
}

ZTGlobalMem::ZTGlobalMem(uint32_t growStep, const void* bytes, uint32_t n) : growStep_(growStep) {
    attach(growStep, bytes, n);
}

ZTGlobalMem::~ZTGlobalMem() {
    freeBlock();
}

void ZTGlobalMem::freeBlock() {
    std::free(data_);
    data_ = nullptr;
    locked_ = false;
    size_ = filled_ = writePos_ = readPos_ = 0;
}

void ZTGlobalMem::attach(uint32_t growStep, const void* bytes, uint32_t n) {
    freeBlock();
    growStep_ = growStep;
    uint32_t wanted = bytes ? n : growStep;
    data_ = static_cast<unsigned char*>(std::malloc(std::max<size_t>(wanted, 1)));
    if (!data_) throw std::bad_alloc();
    if (bytes && n) std::memcpy(data_, bytes, n);
    size_ = wanted;
    filled_ = bytes ? n : 0;
    readFailed_ = false;
    locked_ = true;
}

void ZTGlobalMem::unlock() {
    locked_ = false;
}

std::vector<unsigned char> ZTGlobalMem::release() {
    std::vector<unsigned char> held;
    if (data_) held.assign(data_, data_ + filled_);
    freeBlock();
    return held;
}

bool ZTGlobalMem::accessible() {
    bool memPtr = locked_ && data_;
    return ZT_ASSERT(memPtr);
}

bool ZTGlobalMem::readable(uint32_t n) {
    if (!accessible()) return false;
    if (n > filled_ - readPos_) {
        readFailed_ = true;
        return false;
    }
    return true;
}

bool ZTGlobalMem::write(const void* bytes, uint32_t n) {
    if (!accessible()) return false;
    if (uint64_t(writePos_) + n > size_) {
        uint64_t grown = uint64_t(writePos_) + n + growStep_;
        if (grown > 0xFFFFFFFFu) return false;
        auto* fresh = static_cast<unsigned char*>(std::realloc(data_, size_t(grown)));
        if (!fresh) return false;  // the old block and its bytes stay
        data_ = fresh;
        size_ = uint32_t(grown);
    }
    if (n) std::memcpy(data_ + writePos_, bytes, n);
    writePos_ += n;
    filled_ = std::max(filled_, writePos_);
    return true;
}

bool ZTGlobalMem::read(void* bytes, uint32_t n) {
    if (!readable(n)) return false;
    if (n) std::memcpy(bytes, data_ + readPos_, n);
    readPos_ += n;
    return true;
}

const unsigned char* ZTGlobalMem::skip(uint32_t n) {
    if (!readable(n)) return nullptr;
    const unsigned char* at = data_ + readPos_;
    readPos_ += n;
    return at;
}

bool ZTGlobalMem::writeEnd() {
    const unsigned char zero = 0;
    return write(&zero, 1);
}

bool ZTGlobalMem::putULong(uint32_t v) {
    unsigned char bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return write(bytes, 4);
}

bool ZTGlobalMem::putInt(int32_t v) {
    return putULong(uint32_t(v));
}

uint32_t ZTGlobalMem::getULong() {
    unsigned char b[4];
    if (!read(b, 4)) return 0;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

int32_t ZTGlobalMem::getInt() {
    return int32_t(getULong());
}

bool ZTGlobalMem::putArray(const ZTArray<uint32_t>& items) {
    bool ok = putULong(items.size);
    for (uint32_t i = 0; ok && i < items.size; ++i) ok = putULong(items.data[i]);
    return ok;
}

bool ZTGlobalMem::getArray(ZTArray<uint32_t>* items) {
    items->clear();
    uint32_t count = getULong();
    if (readFailed_) return false;
    // A damaged count must not make us allocate for elements that are not there.
    if (count > (filled_ - readPos_) / 4) {
        readFailed_ = true;
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) items->add(getULong(), true);
    return true;
}

bool ZTGlobalMem::putString(const char* text) {
    if (!text) text = "";
    return write(text, uint32_t(std::strlen(text)) + 1);
}

bool ZTGlobalMem::putStr(const ZTStr& text) {
    return write(text.text, text.length + 1);
}

const char* ZTGlobalMem::getString() {
    if (!readable(0)) return nullptr;
    const void* end = std::memchr(data_ + readPos_, 0, filled_ - readPos_);
    if (!end) {
        readFailed_ = true;
        return nullptr;
    }
    const char* text = reinterpret_cast<const char*>(data_ + readPos_);
    readPos_ = uint32_t(static_cast<const unsigned char*>(end) - data_) + 1;
    return text;
}

bool ZTGlobalMem::getStr(ZTStr* out) {
    const char* text = getString();
    out->assign(text);
    return text != nullptr;
}
