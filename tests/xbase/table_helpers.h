#pragma once
// Test helpers for data files: field lists, and records put straight into a
// table opened exclusive (for checking the file format before the record
// writing layer exists on top of it).
#include <cstdint>
#include <cstring>
#include <string>

#include "xbase/core/env4.h"
#include "xbase/table/table4.h"

inline field4* fieldNamed(table4* t, const char* name) {
    for (int32_t i = 0; i < t->fieldCount; ++i)
        if (std::strcmp(t->fields[i].name, name) == 0) return &t->fields[i];
    return nullptr;
}

// A record of the table's width, blank (binary fields zeroed), not deleted.
inline std::string blankRecord(table4* t) {
    const table4file* tf = t->dataFile;
    if (t->blankRecord != nullptr) return std::string(t->blankRecord, tf->recordLen);
    return std::string(tf->recordLen, ' ');
}

inline void putField(table4* t, std::string& record, const char* name, const std::string& bytes) {
    field4* f = fieldNamed(t, name);
    std::string value = bytes;
    value.resize(f->len, f->kind == field4kindBinary ? '\0' : ' ');
    record.replace(f->offset, f->len, value);
}

inline void putNull(table4* t, std::string& record, const char* name) {
    field4* f = fieldNamed(t, name);
    field4* flags = &t->fields[t->fieldCount - 1];
    record[flags->offset + f->nullBit / 8] |= static_cast<char>(1 << (f->nullBit % 8));
}

template <typename T>
std::string rawBytes(T value) {
    std::string s(sizeof value, '\0');
    std::memcpy(s.data(), &value, sizeof value);
    return s;
}

// Appends a record at the end of a table held exclusive and counts it.
inline int32_t appendRaw(table4* t, const std::string& record) {
    table4file* tf = t->dataFile;
    int32_t n = table4recordCountLow(tf, t->lockOwner);
    if (n < 0) return n;
    int32_t pos = tf->headerLen + n * tf->recordLen;
    int32_t rc = file4write(&tf->file, pos, record.data(), tf->recordLen);
    if (rc == 0 && tf->version != 0x30) rc = file4write(&tf->file, pos + tf->recordLen, "\x1A", 1);
    if (rc < 0) return rc;
    tf->heldCount = n + 1;
    tf->countChanged = tf->dateChanged = tf->headerChanged = 1;
    return 0;
}
