#include "xbase/field4.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/table4.h"
#include "xbase/table4format.h"
#include "xbase/util4.h"

namespace {

// 0 when `f` belongs to a handle of an environment, else the error raised.
int32_t attached(const field4* f, error4span<2> location) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, location.at<0>());
    if (f->table == nullptr || f->table->env == nullptr)
        return error4raise(nullptr, e4struct, location.at<1>());
    return 0;
}

// As `attached`, and no error pending: the field may be written now.
int32_t writable(const field4* f, error4span<2> location) {
    int32_t rc = attached(f, location);
    if (rc != 0) return rc;
    return error4pending(f->table->env) ? e4codeBase : 0;
}

// Where the null bit of a nullable field lies in its handle's record. The
// bits live in the table's last field, which must be `_NullFlags` and long
// enough (-200).
int32_t nullSlot(const field4* f, char** byte, unsigned char* mask) {
    table4* t = f->table;
    const field4* flags = t->fieldCount > 0 ? &t->fields[t->fieldCount - 1] : nullptr;
    if (flags == nullptr || flags->type != '0' || f->nullBit < 0 ||
        int32_t{flags->len} * 8 <= f->nullBit)
        return error4raiseText(t->env, e4data, E4LOC(93201),
                               t->dataFile != nullptr ? t->dataFile->name : t->alias);
    *byte = t->record + flags->offset + f->nullBit / 8;
    *mask = static_cast<unsigned char>(1u << (f->nullBit % 8));
    return 0;
}

// Clears the null bit and marks the record changed: every write of a field's
// bytes goes through here, so that no written value stays hidden behind a
// null bit or is skipped by the write-back.
char* beginWrite(field4* f) {
    table4* t = f->table;
    if (f->nullable) {
        char* byte = nullptr;
        unsigned char mask = 0;
        if (nullSlot(f, &byte, &mask) < 0) return nullptr;
        *byte = static_cast<char>(static_cast<unsigned char>(*byte) & ~mask);
    }
    t->recordChanged = 1;
    return t->record + f->offset;
}

// True for a memo-type field stored with the binary flag (type X as created).
bool binaryMemo(const field4* f) {
    const table4* t = f->table;
    if (t == nullptr || t->dataFile == nullptr || t->dataFile->version != table4version30)
        return false;
    const table4file* tf = t->dataFile;
    std::ptrdiff_t index = f - t->fields;
    if (index < 0 || index >= t->fieldCount ||
        (index + 1) * table4descriptorSize > tf->fieldBytesLen)
        return false;
    table4descriptor d;
    table4descriptorDecode(tf->fieldBytes + index * table4descriptorSize, d);
    return (d.flags & table4flagBinary) != 0;
}

}  // namespace

const char* field4name(const field4* f) {
    if (f == nullptr) {
        error4raise(nullptr, e4parmNull, E4LOC(93210));
        return nullptr;
    }
    return f->name;
}

char field4type(const field4* f) {
    if (f == nullptr) {
        error4raise(nullptr, e4parmNull, E4LOC(93211));
        return 0;
    }
    switch (f->type) {
        case 'C':
            return f->kind == field4kindBinary ? 'Z' : 'C';
        case 'F':
            return 'N';
        case 'M':
            return binaryMemo(f) ? 'X' : 'M';
        default:
            return static_cast<char>(f->type);
    }
}

int32_t field4length(const field4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93212));
    return f->len;
}

const char* field4pointer(const field4* f) {
    if (attached(f, E4LOC(93213)) != 0) return nullptr;
    return f->table->record + f->offset;
}

char* field4writePointer(field4* f) {
    if (writable(f, E4LOC(93215)) != 0) return nullptr;
    return beginWrite(f);
}

int32_t field4assign(field4* f, const char* text) {
    int32_t rc = writable(f, E4LOC(93217));
    if (rc != 0) return rc;
    if (text == nullptr) return error4raise(f->table->env, e4parmNull, E4LOC(93219));
    return field4assignBytes(f, text, static_cast<int32_t>(strnlen(text, f->len)));
}

int32_t field4assignBytes(field4* f, const char* bytes, int32_t n) {
    int32_t rc = writable(f, E4LOC(93220));
    if (rc != 0) return rc;
    env4* env = f->table->env;
    if (n < 0) return error4raise(env, e4parm, E4LOC(93222));
    if (bytes == nullptr && n > 0) return error4raise(env, e4parmNull, E4LOC(93223));
    char* to = beginWrite(f);
    if (to == nullptr) return env->errorCode;
    int32_t copied = std::min<int32_t>(n, f->len);
    // The bytes may come from the record itself (another field's pointer).
    if (copied > 0) std::memmove(to, bytes, copied);
    std::memset(to + copied, ' ', f->len - copied);
    return 0;
}

int32_t field4blank(field4* f) {
    int32_t rc = writable(f, E4LOC(93224));
    if (rc != 0) return rc;
    char* to = beginWrite(f);
    if (to == nullptr) return f->table->env->errorCode;
    std::memset(to, f->kind == field4kindBinary ? 0 : ' ', f->len);
    return 0;
}

const char* field4string(const field4* f) {
    if (attached(f, E4LOC(93226)) != 0) return nullptr;
    env4* env = f->table->env;
    if (env->workBufferLen < f->len + 1 &&
        u4growBuffer(env, &env->workBuffer, &env->workBufferLen, f->len + 1) < 0)
        return nullptr;
    std::memcpy(env->workBuffer, f->table->record + f->offset, f->len);
    env->workBuffer[f->len] = '\0';
    return env->workBuffer;
}

int32_t field4copyString(const field4* f, char* buffer, int32_t size) {
    int32_t rc = attached(f, E4LOC(93228));
    if (rc != 0) return rc;
    env4* env = f->table->env;
    if (buffer == nullptr) return error4raise(env, e4parmNull, E4LOC(93230));
    if (size < 1) return error4raise(env, e4parm, E4LOC(93231));
    int32_t n = std::min<int32_t>(size - 1, f->len);
    std::memcpy(buffer, f->table->record + f->offset, n);
    buffer[n] = '\0';
    return n;
}

int32_t field4setText(field4* f, const char* text) {
    if (text == nullptr) text = "";
    return field4assignBytes(f, text, static_cast<int32_t>(std::strlen(text)));
}

const char* field4textPointer(const field4* f) {
    // A bare pointer into the record would run on into the next fields for a
    // caller reading text up to a NUL.
    return field4string(f);
}

int32_t field4releaseText(field4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93232));
    return 0;
}

int32_t field4isNull(const field4* f) {
    int32_t rc = attached(f, E4LOC(93233));
    if (rc != 0) return rc;
    if (!f->nullable) return 0;
    char* byte = nullptr;
    unsigned char mask = 0;
    rc = nullSlot(f, &byte, &mask);
    if (rc < 0) return rc;
    return (static_cast<unsigned char>(*byte) & mask) != 0;
}
