#include <cstring>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/expr/expr4.h"
#include "xbase/expr/expr4func.h"
#include "xbase/file/file4.h"
#include "xbase/record/table4file.h"
#include "xbase/values/collate4.h"
#include "xbase/values/date4.h"
#include "xbase/values/key4.h"

namespace {

// The evaluation state: one for the whole process, used only under the
// evaluator's lock.
expr4run& runState() {
    static expr4run* run = new expr4run{};  // lives as long as the lock
    return *run;
}

class EvalLock {
  public:
    EvalLock() { mem4evalLock(); }
    ~EvalLock() { mem4evalUnlock(); }
    EvalLock(const EvalLock&) = delete;
    EvalLock& operator=(const EvalLock&) = delete;
};

bool isNullIn(const expr4entry& e) {
    const field4* f = e.field;
    const char* rec = e.record != nullptr ? *e.record : nullptr;
    if (f == nullptr || !f->nullable || rec == nullptr || f->table == nullptr) return false;
    const table4* t = f->table;
    const field4& flags = t->fields[t->fieldCount - 1];
    int32_t byte = f->nullBit / 8;
    if (flags.type != '0' || byte >= flags.len) return false;
    return (static_cast<unsigned char>(rec[flags.offset + byte]) >> (f->nullBit % 8)) & 1;
}

bool anyFieldNull(const expression4* expr) {
    for (int32_t i = 0; i < expr->entryCount; ++i)
        if (isNullIn(expr->entries[i])) return true;
    return false;
}

// The handle the expression last read when it is still open, else any open
// handle of its data file.
table4* liveHandle(const expression4* expr) {
    list4* tables = &expr->env->tables;
    if (list4contains(tables, expr->table)) return expr->table;
    for (auto* t = static_cast<table4*>(list4first(tables)); t != nullptr;
         t = static_cast<table4*>(list4next(tables, t)))
        if (t->dataFile == expr->dataFile) return t;
    return nullptr;
}

bool isCandidate(const expr4tag* tag) {
    return tag != nullptr && (tag->options & expr4optionCandidate) != 0;
}

// Trailing NUL bytes (left by the trim functions) become blanks.
void blankTrailingNuls(char* text, int32_t len) {
    while (len > 0 && text[len - 1] == '\0') text[--len] = ' ';
}

int32_t convert(expression4* expr, char** value, int32_t len, char type, const expr4tag* tag) {
    env4* env = expr->env;
    if (tag == nullptr) tag = expr->tag;
    bool general = type == 'C' && tag != nullptr && tag->collation == expr4collationGeneral;
    bool prefix = expr->hasNullable && !isCandidate(tag);
    if (len < 0) return error4raise(env, e4info, E4LOC(91301));
    int64_t keyLen = type == 'C' ? (general ? 2 * int64_t{len} : len) : type == 'I' ? 4 : 8;
    if (type == 'L') keyLen = 1;
    // The key, its NUL, and room for a copy of a text to be collated.
    int64_t need = keyLen + 2 + (general ? len : 0);
    if (need > INT32_MAX - 64) return error4raise(env, e4info, E4LOC(91302));
    if (env->keyBufferLen < need) {
        int32_t rc =
            u4growBuffer(env, &env->keyBuffer, &env->keyBufferLen, static_cast<int32_t>(need + 16));
        if (rc < 0) return rc;
    }
    char* key = env->keyBuffer;
    auto* out = reinterpret_cast<uint8_t*>(key + (prefix ? 1 : 0));
    const char* v = *value;
    switch (type) {
        case 'C':
            if (general) {
                char* copy = key + keyLen + 2;
                std::memcpy(copy, v, len);
                if (expr->hasTrim) blankTrailingNuls(copy, len);
                int rc = collate4key(reinterpret_cast<const uint8_t*>(copy), len, tag->codePage,
                                     out, static_cast<int>(keyLen));
                if (rc < 0) return error4raise(env, e4info, E4LOC(91303));
                keyLen = rc;
            } else {
                std::memcpy(out, v, len);
                if (expr->hasTrim) blankTrailingNuls(reinterpret_cast<char*>(out), len);
            }
            break;
        case 'D':
            key4fromDouble(out, date4julian(v));
            break;
        case 'N':
            key4fromDouble(out, c4atodN(v, len));
            break;
        case 'n':
        case 'd': {
            double d;
            std::memcpy(&d, v, sizeof d);
            if (expr->hasCurrency) {
                if (key4fromCurrencyDouble(out, d) < 0)
                    return error4raise(env, e4width, E4LOC(91304));
            } else {
                key4fromDouble(out, d);
            }
            break;
        }
        case 'I': {
            int32_t i;
            std::memcpy(&i, v, sizeof i);
            key4fromInt(out, i);
            break;
        }
        case 'Y': {
            int64_t units;
            std::memcpy(&units, v, sizeof units);
            key4fromCurrency(out, units);
            break;
        }
        case 'T': {
            int32_t day, ms;
            std::memcpy(&day, v, 4);
            std::memcpy(&ms, v + 4, 4);
            key4fromDateTime(out, day, ms);
            break;
        }
        case 'L': {
            int32_t b;
            std::memcpy(&b, v, sizeof b);
            if (b != 0 && b != 1) return error4raise(env, e4info, E4LOC(91305));
            out[0] = b ? 'T' : 'F';
            break;
        }
        default:
            return error4raise(env, e4info, E4LOC(91306));
    }
    if (prefix) {
        // Null keys are all zero bytes and sort before every other key.
        if (anyFieldNull(expr))
            std::memset(key, 0, keyLen + 1);
        else
            key[0] = static_cast<char>(0x80);
        keyLen += 1;
    }
    if (keyLen >= env->keyBufferLen) return error4raise(env, e4info, E4LOC(91307));
    key[keyLen] = '\0';
    *value = key;
    return static_cast<int32_t>(keyLen);
}

// Keys of text fields joined by '+' (most index tags) are the fields' bytes side by side: built
// here without running the expression. kNotJoined when the expression or the tag needs more
// (collation, null prefix, a record not yet pointed at), which the full evaluation does.
constexpr int32_t kNotJoined = INT32_MIN;

int32_t joinedFieldsKey(expression4* expr, char** key, const expr4tag* tag) {
    if (!expr->fieldsJoined || expr->hasNullable) return kNotJoined;
    if (tag == nullptr) tag = expr->tag;
    if (tag != nullptr && tag->collation == expr4collationGeneral) return kNotJoined;
    env4* env = expr->env;
    if (error4pending(env)) return e4codeBase;
    for (int32_t i = 0; i < expr->entryCount; ++i) {
        const expr4entry& e = expr->entries[i];
        if (e.row != expr4rowJoin && (e.record == nullptr || *e.record == nullptr))
            return kNotJoined;
    }
    const int32_t len = expr->len;
    if (env->keyBufferLen < len + 2) {
        if (int32_t rc = u4growBuffer(env, &env->keyBuffer, &env->keyBufferLen, len + 18); rc < 0)
            return rc;
    }
    char* out = env->keyBuffer;
    int32_t at = 0;
    for (int32_t i = 0; i < expr->entryCount; ++i) {
        const expr4entry& e = expr->entries[i];
        if (e.row == expr4rowJoin) continue;
        std::memcpy(out + at, *e.record + e.param, size_t(e.len));
        at += e.len;
    }
    out[at] = '\0';
    *key = out;
    return at;
}

}  // namespace

int32_t expr4setTable(expression4* expr, table4* table) {
    if (expr == nullptr || table == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(91310));
    if (table->dataFile != expr->dataFile) return error4raise(expr->env, e4parm, E4LOC(91311));
    if (table != expr->table) {
        for (int32_t i = 0; i < expr->entryCount; ++i) {
            expr4entry& e = expr->entries[i];
            if (e.field != nullptr && !e.ownTable) continue;
            if (e.field != nullptr) e.field = &table->fields[e.fieldNumber - 1];
            if (expr->tag == nullptr) e.record = &table->record;
        }
        expr->table = table;
    }
    expr->dataFile->currentRecord = table->record;
    return 0;
}

int32_t expr4evaluate(expression4* expr, char** result) {
    if (expr == nullptr || result == nullptr)
        return error4raise(expr != nullptr ? expr->env : nullptr, e4parmNull, E4LOC(91320));
    env4* env = expr->env;
    if (error4pending(env)) return e4codeBase;
    EvalLock lock;
    if (env->workBufferLen < expr->workLength) {
        // Only when someone replaced the buffer since the parse.
        int32_t rc = u4growBuffer(env, &env->workBuffer, &env->workBufferLen, expr->workLength + 1);
        if (rc < 0) return rc;
    }
    if (expr->tag != nullptr && expr->dataFile->currentRecord == nullptr) {
        table4* handle = liveHandle(expr);
        if (handle == nullptr) return error4raise(env, e4struct, E4LOC(91323));
        if (int32_t rc = expr4setTable(expr, handle); rc < 0) return rc;
    }
    expr4run& run = runState();
    run.depth = 0;
    run.error = 0;
    run.constants = expr->constants;
    run.expr = expr;
    run.base = env->workBuffer;
    for (int32_t i = 0; i < expr->entryCount && run.error == 0; ++i) {
        run.entry = &expr->entries[i];
        run.entry->routine(&run);
    }
    if (run.error != 0) return error4raise(env, run.error, E4LOC(91321));
    if (run.depth != 1) return error4raise(env, e4result, E4LOC(91322));
    *result = run.stack[0];
    return expr->len;
}

int32_t expr4true(expression4* expr) {
    if (expr == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(91330));
    if (error4pending(expr->env)) return e4codeBase;
    if (expr->type != 'L') return error4raise(expr->env, e4result, E4LOC(91331));
    char* result = nullptr;
    int32_t rc = expr4evaluate(expr, &result);
    if (rc < 0) return rc;
    int32_t v;
    std::memcpy(&v, result, sizeof v);
    return v != 0;
}

int32_t expr4key(expression4* expr, char** key, const expr4tag* tag) {
    if (expr == nullptr || key == nullptr)
        return error4raise(expr != nullptr ? expr->env : nullptr, e4parmNull, E4LOC(91340));
    if (int32_t rc = joinedFieldsKey(expr, key, tag); rc != kNotJoined) return rc;
    char* value = nullptr;
    int32_t len = expr4evaluate(expr, &value);
    if (len < 0) return len;
    int32_t rc = convert(expr, &value, len, expr->type, tag);
    if (rc >= 0) *key = value;
    return rc;
}

int32_t expr4keyConvert(expression4* expr, char** value, int32_t len, char type,
                        const expr4tag* tag) {
    if (expr == nullptr || value == nullptr || *value == nullptr)
        return error4raise(expr != nullptr ? expr->env : nullptr, e4parmNull, E4LOC(91350));
    if (error4pending(expr->env)) return e4codeBase;
    return convert(expr, value, len, type, tag);
}

int32_t expr4isNull(const expression4* expr) {
    return expr != nullptr && expr->hasNullable && anyFieldNull(expr) ? 1 : 0;
}

int32_t expr4keyLength(const expression4* expr) {
    if (expr == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(91360));
    int32_t len;
    switch (expr->type) {
        case 'N':
        case 'D':
        case 'T':
        case 'Y':
        case 'n':
        case 'd':
            len = 8;
            break;
        case 'I':
            len = 4;
            break;
        case 'L':
            len = 1;
            break;
        default:
            len = expr->collation == expr4collationGeneral ? 2 * expr->len : expr->len;
    }
    if (expr->hasNullable && !isCandidate(expr->tag)) len += 1;
    return len;
}
