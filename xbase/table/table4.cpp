#include "xbase/table/table4.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"
#include "xbase/index/tag4.h"
#include "xbase/record/table4format.h"
#include "xbase/table/index4.h"
#include "xbase/table/lock4.h"
#include "xbase/table/table4write.h"

namespace {

constexpr int32_t kMaxHeader = 65535;

// ---- creating -------------------------------------------------------------

struct FieldPlan {
    std::vector<table4descriptor> descriptors;
    int32_t width = 1;  // the deletion byte
    int32_t nullable = 0;
};

bool isExtended(int type) {
    return type == 'I' || type == 'T' || type == 'Y' || type == 'B' || type == 'X' || type == 'Z';
}

// Checks one requested field and adds its descriptor: 0 or the error.
int32_t planField(env4* env, const field4def& def, bool v30, FieldPlan& plan) {
    table4descriptor d{};
    std::string name = def.name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.size() > 10) name.resize(10);
    u4ncpy(d.name, name.c_str(), sizeof d.name);
    c4upper(d.name);
    if (d.name[0] == '\0') return error4raise(env, e4data, E4LOC(90701));
    for (const table4descriptor& other : plan.descriptors)
        if (std::strcmp(other.name, d.name) == 0)
            return error4raiseText(env, e4data, E4LOC(90702), d.name);
    int type = def.type;
    if (type == 'G' || type == 'M')
        return error4raiseText(env, e4notSupported, E4LOC(90703), d.name);
    if (type < 'A' || type > 'Z' || (isExtended(type) && !v30))
        return error4raiseText(env, e4data, E4LOC(90704), d.name);
    int32_t bytes = 0;
    d.type = static_cast<uint8_t>(type);
    switch (type) {
        case 'Z':
            d.type = 'C';
            d.flags = table4flagBinary;
            [[fallthrough]];
        case 'C':
            if (def.len == 0) return error4raiseText(env, e4data, E4LOC(90705), d.name);
            bytes = def.len;
            d.lenLow = static_cast<uint8_t>(def.len & 0xFF);
            d.lenHigh = static_cast<uint8_t>(def.len >> 8);
            break;
        case 'N':
        case 'F': {
            int32_t maxDec = def.len <= 2 ? 0 : std::min(def.len - 1, 19);
            if (def.len < 1 || def.len > 20 || def.dec < 0 || def.dec > maxDec)
                return error4raiseText(env, e4data, E4LOC(90706), d.name);
            bytes = def.len;
            d.lenLow = static_cast<uint8_t>(def.len);
            d.lenHigh = static_cast<uint8_t>(def.dec);
            break;
        }
        case 'D':
            bytes = 8;
            break;
        case 'L':
            bytes = 1;
            break;
        case 'I':
            bytes = 4;
            d.flags = table4flagBinary;
            break;
        case 'T':
            bytes = 8;
            d.flags = table4flagBinary;
            break;
        case 'Y':
            bytes = 8;
            d.lenHigh = 4;
            d.flags = table4flagBinary;
            break;
        case 'B':
            if (def.dec < 0 || def.dec > 255)
                return error4raiseText(env, e4data, E4LOC(90707), d.name);
            bytes = 8;
            d.lenHigh = static_cast<uint8_t>(def.dec);
            d.flags = table4flagBinary;
            break;
        case 'X':
            d.type = 'M';
            bytes = 4;
            d.flags = table4flagBinary;
            break;
        default:
            return error4raiseText(env, e4data, E4LOC(90708), d.name);
    }
    if (type != 'C' && type != 'Z') d.lenLow = static_cast<uint8_t>(bytes);
    if (v30 && def.nulls == field4nullable) {
        d.flags |= table4flagNullable;
        plan.nullable++;
    }
    d.offset = static_cast<uint16_t>(plan.width);
    plan.width += bytes;
    if (plan.width >= kMaxHeader) return error4raise(env, e4recordLen, E4LOC(90709));
    plan.descriptors.push_back(d);
    return 0;
}

int32_t planFields(env4* env, const field4def* defs, bool v30, const char* name, FieldPlan& plan) {
    for (const field4def* def = defs; def->name != nullptr; ++def) {
        int32_t rc = planField(env, *def, v30, plan);
        if (rc < 0) return rc;
    }
    // A table without fields could never be opened again.
    if (plan.descriptors.empty()) return error4raise(env, e4data, E4LOC(90710));
    if (plan.nullable > 0) {
        table4descriptor d{};
        u4ncpy(d.name, "_NullFlags", sizeof d.name);
        d.type = '0';
        d.lenLow = static_cast<uint8_t>((plan.nullable + 7) / 8);
        d.flags = table4flagSystem | table4flagBinary;
        d.offset = static_cast<uint16_t>(plan.width);
        plan.width += d.lenLow;
        plan.descriptors.push_back(d);
        if (plan.width >= kMaxHeader) return error4raise(env, e4recordLen, E4LOC(90711));
    }
    int64_t header = int64_t{table4descriptorSize} * (plan.descriptors.size() + 1) + 1 +
                     (v30 ? table4backlinkSize : 0);
    if (header + 1 >= kMaxHeader)
        return name != nullptr ? error4raiseText(env, e4create, E4LOC(90712), name)
                               : error4raise(env, e4recordLen, E4LOC(90713));
    return 0;
}

int32_t writeNewFile(env4* env, file4* f, const FieldPlan& plan, bool v30) {
    table4header h{};
    h.version = v30 ? table4version30 : table4version03;
    u4today(h.date);
    h.headerLen = static_cast<uint16_t>(table4descriptorSize * (plan.descriptors.size() + 1) + 1 +
                                        (v30 ? table4backlinkSize : 0));
    h.recordLen = static_cast<uint16_t>(plan.width);
    h.codePage = static_cast<uint8_t>(env->codePage);
    char buffer[2048];
    file4seqWriter w;
    file4seqWriteInit(&w, f, 0, buffer, sizeof buffer);
    unsigned char bytes[table4headerSize];
    table4headerEncode(h, bytes);
    int32_t rc = file4seqWrite(&w, bytes, table4headerSize);
    for (const table4descriptor& d : plan.descriptors) {
        if (rc < 0) break;
        table4descriptorEncode(d, bytes);
        rc = file4seqWrite(&w, bytes, table4descriptorSize);
    }
    char end[2] = {static_cast<char>(table4terminator), static_cast<char>(table4endOfFile)};
    if (rc == 0) rc = file4seqWrite(&w, end, v30 ? 1 : 2);
    if (rc == 0 && v30) rc = file4seqWriteRepeat(&w, table4backlinkSize, 0);
    if (rc == 0) rc = file4seqWriteFlush(&w);
    return rc;
}

// ---- opening --------------------------------------------------------------

struct FieldInfo {
    uint16_t len = 0, dec = 0;
    int8_t kind = field4kindOther;
    bool memo = false;
};

// Length, decimals and kind of a stored descriptor, or false when the type
// is not one this library reads in a file of this version.
bool describe(const table4descriptor& d, bool v30, FieldInfo& info) {
    int type = d.type >= 'a' && d.type <= 'z' ? d.type - 'a' + 'A' : d.type;
    info = FieldInfo{};
    switch (type) {
        case '0':
            if (!v30) return false;
            info.len = d.lenLow;
            info.kind = field4kindBinary;
            return true;
        case 'C':
            info.len = static_cast<uint16_t>(d.lenLow + 256 * d.lenHigh);
            break;
        case 'D':
        case 'L':
            info.len = d.lenLow;
            break;
        case 'G':
        case 'M':
            info.len = d.lenLow;
            info.memo = true;
            info.kind = field4kindMemo;
            break;
        case 'I':
            if (!v30) return false;
            info.len = d.lenLow;
            break;
        case 'F':
        case 'N':
            info.len = d.lenLow;
            info.dec = d.lenHigh;
            break;
        case 'T':
        case 'Y':
            if (!v30) return false;
            info.len = d.lenLow;
            info.dec = d.lenHigh;
            break;
        case 'B':
            info.len = d.lenLow;
            if (v30)
                info.dec = d.lenHigh;
            else
                info.memo = true;
            break;
        default:
            return false;
    }
    if (v30 && (d.flags & table4flagBinary) && info.kind == field4kindOther)
        info.kind = field4kindBinary;
    return true;
}

// Checks the descriptors of a data file (record widths, types, null flags)
// and, when `fields` is given, fills one field4 per descriptor.
int32_t readFields(table4file* tf, field4* fields, table4* owner) {
    env4* env = tf->env;
    bool v30 = tf->version == table4version30;
    int32_t width = 1, nullable = 0, memo = 0;
    for (int32_t i = 0; i < tf->fieldCount; ++i) {
        table4descriptor d;
        table4descriptorDecode(tf->fieldBytes + i * table4descriptorSize, d);
        FieldInfo info;
        if (!describe(d, v30, info))
            return error4raiseText(env, e4data, E4LOC(90720), tf->name, d.name);
        if (info.memo) memo++;
        bool isNullable = v30 && (d.flags & table4flagNullable) && d.type != '0';
        if (fields != nullptr) {
            field4& f = fields[i];
            std::memcpy(f.name, d.name, sizeof f.name);
            c4upper(f.name);
            f.len = info.len;
            f.dec = info.dec;
            f.type = static_cast<uint16_t>(d.type >= 'a' && d.type <= 'z' ? d.type - 32 : d.type);
            f.offset = static_cast<uint16_t>(width);
            f.table = owner;
            f.kind = info.kind;
            f.nullable = isNullable;
            f.nullBit = static_cast<int16_t>(isNullable ? nullable : 0);
        }
        if (isNullable) nullable++;
        width += info.len;
    }
    // Fields must lie inside the record, or reading them would run past it.
    if (width > tf->recordLen) return error4raiseText(env, e4data, E4LOC(90721), tf->name);
    if (nullable > 0) {
        table4descriptor last;
        table4descriptorDecode(tf->fieldBytes + (tf->fieldCount - 1) * table4descriptorSize, last);
        if (last.type != '0' || last.lenLow * 8 < nullable)
            return error4raiseText(env, e4data, E4LOC(90722), tf->name);
    }
    tf->memoFieldCount = memo;
    return 0;
}

// Reads and checks the header and descriptors of an open data file.
int32_t loadDataFile(table4file* tf) {
    env4* env = tf->env;
    unsigned char bytes[table4headerSize];
    int32_t rc = file4readAll(&tf->file, 0, bytes, table4headerSize);
    if (rc < 0) return rc;
    table4header h;
    table4headerDecode(bytes, h);
    if (h.recordLen == 0 || h.count < 0 || h.headerLen <= table4headerSize)
        return error4raiseText(env, e4data, E4LOC(90730), tf->name);
    if (tf->file.accessMode == 1 || tf->file.accessMode == 2) {
        int32_t length = file4length(&tf->file);
        if (length < 0) return length;
        if ((length - int64_t{h.headerLen}) / h.recordLen != h.count)
            return error4raiseText(env, e4data, E4LOC(90731), tf->name);
    }
    tf->version = h.version;
    std::memcpy(tf->date, h.date, 3);
    tf->headerCount = h.count;
    tf->headerLen = h.headerLen;
    tf->recordLen = h.recordLen;
    tf->flags = h.flags;
    tf->codePage = h.codePage;
    tf->heldCount = -1;
    tf->file.advanceBytes = h.recordLen;
    int32_t n = h.headerLen - table4headerSize;
    auto* descriptors = static_cast<unsigned char*>(u4allocAgain(env, n));
    if (descriptors == nullptr) return e4memory;
    tf->fieldBytes = descriptors;
    tf->fieldBytesLen = n;
    int32_t got = file4read(&tf->file, table4headerSize, descriptors, n);
    if (got < 0) return got;
    if (got < n) return error4raiseText(env, e4data, E4LOC(90732), tf->name);
    int32_t count = -1;
    for (int32_t at = 0; at < n; at += table4descriptorSize) {
        if (descriptors[at] == table4terminator) {
            count = at / table4descriptorSize;
            break;
        }
    }
    if (count < 1) return error4raiseText(env, e4data, E4LOC(90733), tf->name);
    tf->fieldCount = count;
    return readFields(tf, nullptr, nullptr);
}

void freeDataFile(table4file* tf) {
    env4* env = tf->env;
    if (file4isOpen(&tf->file)) (void)file4close(&tf->file);  // a failed open or a failed load
    mem4free(tf->fieldBytes);
    if (list4contains(&env->dataFiles, tf)) (void)list4remove(&env->dataFiles, tf);
    pool4free(env->dataFilePool, tf);
}

void freeHandle(table4* t) {
    env4* env = t->env;
    // Tag expressions must not go on reading a buffer that is about to be freed.
    if (table4file* tf = t->dataFile;
        tf != nullptr && tf->currentRecord != nullptr &&
        (tf->currentRecord == t->record || tf->currentRecord == t->recordOld))
        tf->currentRecord = nullptr;
    mem4free(t->record);
    mem4free(t->recordOld);
    mem4free(t->blankRecord);
    mem4free(t->fields);
    if (list4contains(&env->tables, t)) (void)list4remove(&env->tables, t);
    pool4free(env->tablePool, t);
}

// Makes a handle on a loaded data file (whose use count it takes).
table4* makeHandle(env4* env, table4file* tf) {
    auto* t = static_cast<table4*>(pool4allocCreate(env, &env->tablePool, env->memStartTable,
                                                    sizeof(table4), env->memExpandTable, 0));
    if (t == nullptr) return nullptr;
    t->env = env;
    int32_t width = tf->recordLen;
    t->record = static_cast<char*>(u4allocAgain(env, width + 1));
    t->recordOld = static_cast<char*>(u4allocAgain(env, width + 1));
    t->fields = static_cast<field4*>(
        u4allocAgain(env, static_cast<int32_t>(sizeof(field4)) * tf->fieldCount));
    bool v30 = tf->version == table4version30;
    if (v30) t->blankRecord = static_cast<char*>(u4allocAgain(env, width + 1));
    if (t->record == nullptr || t->recordOld == nullptr || t->fields == nullptr ||
        (v30 && t->blankRecord == nullptr) || readFields(tf, t->fields, t) < 0) {
        freeHandle(t);
        return nullptr;
    }
    t->dataFile = tf;
    t->fieldCount = tf->fieldCount;
    std::string alias = u4namePiece(tf->name, false, false);
    u4ncpy(t->alias, alias.c_str(), sizeof t->alias);
    c4upper(t->alias);
    std::memset(t->record, ' ', width);
    if (v30) {
        for (int32_t i = 0; i < t->fieldCount; ++i)
            if (t->fields[i].kind == field4kindBinary)
                std::memset(t->record + t->fields[i].offset, 0, t->fields[i].len);
        std::memcpy(t->blankRecord, t->record, width);
    }
    std::memcpy(t->recordOld, t->record, width);
    t->recNum = -1;
    t->recordOldNum = -1;
    t->codePage = tf->codePage;
    t->lockOwner = ++env->openCounter;
    env->lockTakes++;  // a handle nobody has asked about yet
    t->readOnly = tf->file.isReadOnly || env->readOnly != 0;
    if (list4add(&env->tables, t) < 0) {  // unlisted, no release would ever close it
        freeHandle(t);
        error4raise(env, e4info, E4LOC(90714));
        return nullptr;
    }
    tf->useCount++;
    return t;
}

table4file* newDataFile(env4* env) {
    auto* tf = static_cast<table4file*>(pool4allocCreate(
        env, &env->dataFilePool, env->memStartData, sizeof(table4file), env->memExpandData, 0));
    if (tf == nullptr) return nullptr;
    tf->env = env;
    tf->file.fd = -1;
    tf->file.kind = file4kindData;
    tf->heldCount = -1;
    return tf;
}

// Loads a data file whose file4 is open and makes its first handle.
table4* openLoaded(env4* env, table4file* tf) {
    tf->name = tf->file.name;
    // Unlisted, a second open of the file would not share this record (nor its locks).
    if (list4add(&env->dataFiles, tf) < 0) {
        freeDataFile(tf);
        error4raise(env, e4info, E4LOC(90715));
        return nullptr;
    }
    if (loadDataFile(tf) < 0) {
        freeDataFile(tf);
        return nullptr;
    }
    table4* t = makeHandle(env, tf);
    if (t == nullptr) freeDataFile(tf);
    return t;
}

int32_t closeDataFile(table4file* tf) {
    int32_t rc = 0;
    if (file4isOpen(&tf->file) && tf->headerChanged && !tf->file.isReadOnly) {
        // Outside any lock the header of a shared file goes straight to the disk: a
        // buffered block would carry the count as this process last read it.
        if (tf->file.accessMode == 0) rc = file4setWriteBehind(&tf->file, 0);
        if (tf->dateChanged) u4today(tf->date);
        if (rc == 0)
            rc = table4writeHeader(tf, tf->dateChanged,
                                   tf->countChanged && table4fileHoldsCount(tf));
    }
    int32_t closed = file4close(&tf->file);
    if (rc == 0 && closed < 0) rc = tf->env->errorCode;
    freeDataFile(tf);
    return rc;
}

// True when `env` may start a create or open: live and with no pending error.
bool readyToStart(env4* env, error4span<2> location) {
    if (env == nullptr) {
        error4raise(nullptr, e4parmNull, location.at<0>());
        return false;
    }
    if (!env4isLive(env)) {
        error4raise(env, e4info, location.at<1>());
        return false;
    }
    return !error4pending(env);
}

// A handle on a data file flagged as having a production index opens it too (autoOpen);
// a failure there fails the open.
table4* withProduction(env4* env, table4* t) {
    if (t == nullptr || !env->autoOpen || (t->dataFile->flags & table4flagProduction) == 0)
        return t;
    if (index4open(t, nullptr) != nullptr) return t;
    const int32_t code = env->errorCode;
    error4setCode(env, 0);
    (void)table4close(t);  // the failed index is what is reported
    env->errorCode = code;
    return nullptr;
}

// Closes every index handle of a table handle: the first error met, else 0.
int32_t closeIndexes(table4* t) {
    int32_t rc = 0;
    while (auto* index = static_cast<index4*>(list4first(&t->indexes))) {
        const int32_t closed = index4close(index);
        if (closed < 0) {
            if (rc == 0) rc = closed;
            t->env->errorCode = 0;
        }
        if (list4first(&t->indexes) == index) break;  // the list did not advance
    }
    return rc;
}

// Builds the production index of a data file just written at `path`: the file is opened
// exclusive without its index, the index made, the file closed again. 0 or the error.
int32_t createProduction(env4* env, const std::string& path, const tag4def* tags) {
    const int8_t access = env->accessMode;
    const int32_t autoOpen = env->autoOpen;
    env->accessMode = 1;
    env->autoOpen = 0;
    table4* t = table4open(env, path.c_str());
    int32_t rc = 0;
    if (t == nullptr) {
        rc = error4pending(env) ? env->errorCode : error4raise(env, e4open, E4LOC(90745));
    } else if (index4create(t, nullptr, tags) == nullptr) {
        rc = env->errorCode != 0 ? env->errorCode : e4create;
        error4setCode(env, 0);
    }
    env->accessMode = access;
    env->autoOpen = autoOpen;
    if (t == nullptr) return rc;
    const int32_t closed = table4close(t);
    if (rc == 0 && closed < 0) rc = closed;
    error4setCode(env, 0);
    return rc;
}

}  // namespace

table4* table4create(env4* env, const char* name, const field4def* fields, const tag4def* tags) {
    if (!readyToStart(env, E4LOC(90740))) return nullptr;
    if ((name == nullptr && !env->createTemp) || fields == nullptr) {
        error4raise(env, e4parmNull, E4LOC(90742));
        return nullptr;
    }
    const bool withTags = tags != nullptr && tags->name != nullptr;
    bool v30 = env->compatibility == 30;
    FieldPlan plan;
    if (planFields(env, fields, v30, name, plan) < 0) return nullptr;

    if (name == nullptr) {
        table4file* tf = newDataFile(env);
        if (tf == nullptr) return nullptr;
        if (file4create(&tf->file, env, nullptr, 0) != 0 || file4tempToDisk(&tf->file) < 0 ||
            writeNewFile(env, &tf->file, plan, v30) < 0) {
            if (file4isOpen(&tf->file)) (void)file4close(&tf->file);  // the first error stays
            pool4free(env->dataFilePool, tf);
            return nullptr;
        }
        table4* t = openLoaded(env, tf);
        if (t != nullptr && withTags && index4create(t, nullptr, tags) == nullptr) {
            const int32_t code = env->errorCode != 0 ? env->errorCode : e4create;
            error4setCode(env, 0);
            (void)table4close(t);  // the failed index is what is reported
            env->errorCode = code;
            return nullptr;
        }
        return t;
    }

    std::string path;
    if (table4filePath(env, name, path) < 0) return nullptr;
    if (table4fileOf(env, u4identify(path)) != nullptr) {
        if (env->errCreate)
            error4raiseText(env, e4create, E4LOC(90744), path.c_str());
        else
            env->errorCode = r4noCreate;
        return nullptr;
    }
    file4 f{};
    f.kind = file4kindData;
    int32_t readOnly = env->readOnly;
    env->readOnly = 0;
    int32_t rc = file4create(&f, env, path.c_str(), 1);
    env->readOnly = readOnly;
    if (rc != 0) return nullptr;
    rc = writeNewFile(env, &f, plan, v30);
    if (rc == 0) rc = file4flush(&f);
    const int32_t closed = file4close(&f);  // a file that does not close is not made either
    if (rc == 0 && closed < 0) rc = env->errorCode;
    if (rc < 0) {
        unlink(path.c_str());  // ours, and incomplete
        return nullptr;
    }
    if (!withTags) return table4open(env, path.c_str());
    rc = createProduction(env, path, tags);
    if (rc != 0) {
        unlink(path.c_str());  // ours: the table is not made without its index
        if (rc > 0)
            env->errorCode = rc;  // 20: a unique tag refused a key
        else
            error4raiseText(env, rc, E4LOC(90746), path.c_str());
        return nullptr;
    }
    const int32_t autoOpen = env->autoOpen;
    env->autoOpen = 1;
    table4* t = table4open(env, path.c_str());
    env->autoOpen = autoOpen;
    if (t == nullptr) return nullptr;
    // Each tag keeps its definition's duplicate-key code.
    auto* index = static_cast<index4*>(list4first(&t->indexes));
    for (const tag4def* def = tags; index != nullptr && def->name != nullptr; ++def) {
        tag4* tag = index4tag(index, def->name);
        if (tag == nullptr) {
            error4raiseText(env, e4name, E4LOC(90747), def->name);
            (void)table4close(t);  // gives back the error just raised
            return nullptr;
        }
        tag->errUnique = def->unique;
    }
    return t;
}

table4* table4open(env4* env, const char* name) {
    if (!readyToStart(env, E4LOC(90750))) return nullptr;
    if (name == nullptr) {
        error4raise(env, e4parmNull, E4LOC(90752));
        return nullptr;
    }
    std::string path;
    if (table4filePath(env, name, path) < 0) return nullptr;
    if (table4file* open = table4fileOf(env, u4identify(path))) {
        if (env->singleOpen) {
            error4raiseText(env, e4instance, E4LOC(90753), path.c_str());
            return nullptr;
        }
        int held = open->file.accessMode;
        bool fits = env->accessMode == 0 || (env->accessMode == 1 && held == 1) ||
                    (env->accessMode == 2 && (held == 1 || held == 2));
        if (!fits) {
            error4raiseText(env, e4access, E4LOC(90754), path.c_str());
            return nullptr;
        }
        return withProduction(env, makeHandle(env, open));
    }
    table4file* tf = newDataFile(env);
    if (tf == nullptr) return nullptr;
    if (file4open(&tf->file, env, path.c_str(), 1) != 0) {
        pool4free(env->dataFilePool, tf);
        return nullptr;
    }
    return withProduction(env, openLoaded(env, tf));
}

int32_t table4close(table4* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90760));
    env4* env = t->env;
    return error4aside(env, [&](int32_t pending) {
        int32_t rc = 0;
        if (table4file* tf = t->dataFile) {
            // A record that a unique tag refused (-340 pending) is not written back;
            // one that cannot be written is given up, and the error returned.
            if (pending == e4unique) t->recordChanged = 0;
            rc = table4writeChanged(t, 0);
            if (rc < 0) env->errorCode = 0;
            t->recordChanged = 0;
            const int32_t dropped = lock4dropHandle(t);
            if (dropped < 0) env->errorCode = 0;  // the file still closes; the error is returned
            if (rc == 0 || (rc > 0 && dropped < 0)) rc = dropped;
            const int32_t indexes = closeIndexes(t);
            if (rc == 0) rc = indexes;
            if (--tf->useCount == 0) {
                int32_t closed = closeDataFile(tf);
                t->dataFile = nullptr;  // gone back to its pool
                if (rc == 0) rc = closed;
            }
            if (rc < 0 && !pending) env->errorCode = rc;
        } else if (t->alias[0] != '\0') {
            rc = error4raise(env, e4struct, E4LOC(90761));
        }
        freeHandle(t);
        return pending != 0 ? pending : rc;
    });
}

table4* table4createForward(env4* env, const char* name, const field4def* fields,
                            const tag4def* tags) {
    return table4create(env, name, fields, tags);
}
table4* table4openForward(env4* env, const char* name) {
    return table4open(env, name);
}
int32_t table4closeForward(table4* t) {
    return table4close(t);
}
