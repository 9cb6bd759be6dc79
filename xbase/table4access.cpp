#include "xbase/table4access.h"

#include <climits>
#include <cstring>
#include <string>

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/table4.h"
#include "xbase/table4format.h"
#include "xbase/util4.h"

namespace {

constexpr int32_t kAliasMax = 32;
constexpr size_t kFieldNameMax = 255;

// 0 when `t` is a handle on an open data file, else the error raised.
int32_t usable(const table4* t, error4span<2> location) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, location.at<0>());
    if (t->dataFile == nullptr) return error4raise(t->env, e4struct, location.at<1>());
    return 0;
}

std::string upper(std::string text) {
    c4upper(text.data());
    return text;
}

}  // namespace

const char* table4alias(const table4* t) {
    if (t == nullptr) {
        error4raise(nullptr, e4parmNull, E4LOC(93301));
        return nullptr;
    }
    return t->alias;
}

int32_t table4setAlias(table4* t, const char* text) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93302));
    if (text == nullptr) return error4raise(t->env, e4parmNull, E4LOC(93303));
    u4ncpy(t->alias, text, kAliasMax + 1);
    c4upper(t->alias);
    return 0;
}

int32_t table4blank(table4* t) {
    if (int32_t rc = usable(t, E4LOC(93304)); rc != 0) return rc;
    if (error4pending(t->env)) return e4codeBase;
    int32_t width = t->dataFile->recordLen;
    if (t->blankRecord != nullptr)
        std::memcpy(t->record, t->blankRecord, width);
    else
        std::memset(t->record, ' ', width);
    t->recordChanged = 1;
    return 0;
}

int32_t table4isBof(const table4* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93306));
    if (error4pending(t->env)) return e4codeBase;
    return t->bof != 0;
}

int32_t table4isEof(const table4* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93307));
    if (error4pending(t->env)) return e4codeBase;
    return t->eof != 0;
}

int32_t table4isDeleted(const table4* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93308));
    return t->record != nullptr && t->record[0] == '*';
}

int32_t table4fieldCount(const table4* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93309));
    int32_t n = t->fieldCount;
    if (n > 0 && t->fields[n - 1].type == '0') --n;
    return n;
}

int32_t table4recordCount(table4* t) {
    if (int32_t rc = usable(t, E4LOC(93310)); rc != 0) return rc;
    return table4recordCountLow(t->dataFile, t->lockOwner);
}

int32_t table4recordNumber(const table4* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(93312));
    return t->recNum;
}

char* table4recordBuffer(table4* t) {
    if (t == nullptr) {
        error4raise(nullptr, e4parmNull, E4LOC(93313));
        return nullptr;
    }
    return t->record;
}

int32_t table4recordPosition(table4* t, int32_t n) {
    if (int32_t rc = usable(t, E4LOC(93314)); rc != 0) return rc;
    const table4file* tf = t->dataFile;
    int64_t pos = tf->headerLen + (int64_t{n} - 1) * tf->recordLen;
    if (n < 1 || pos > INT32_MAX) return error4raise(t->env, e4parm, E4LOC(93316));
    return static_cast<int32_t>(pos);
}

int32_t table4recordWidth(const table4* t) {
    if (int32_t rc = usable(t, E4LOC(93317)); rc != 0) return rc;
    return t->dataFile->recordLen;
}

field4* table4field(table4* t, int32_t n) {
    if (t == nullptr) {
        error4raise(nullptr, e4parmNull, E4LOC(93319));
        return nullptr;
    }
    if (n < 1 || n > table4fieldCount(t)) {
        error4raise(t->env, e4parm, E4LOC(93320));
        return nullptr;
    }
    return &t->fields[n - 1];
}

field4* table4fieldByName(table4* t, const char* name) {
    if (t == nullptr || name == nullptr) {
        error4raise(t != nullptr ? t->env : nullptr, e4parmNull, E4LOC(93321));
        return nullptr;
    }
    if (error4pending(t->env)) return nullptr;
    std::string wanted(name, strnlen(name, kFieldNameMax));
    size_t begin = wanted.find_first_not_of(' ');
    size_t end = wanted.find_last_not_of(' ');
    wanted =
        begin == std::string::npos ? std::string() : upper(wanted.substr(begin, end - begin + 1));
    int32_t count = table4fieldCount(t);
    for (int32_t i = 0; i < count; ++i)
        if (wanted == t->fields[i].name) return &t->fields[i];
    if (t->env->errFieldName) error4raiseText(t->env, e4fieldName, E4LOC(93322), wanted.c_str());
    return nullptr;
}

table4* env4tableByAlias(env4* env, const char* alias, int byName) {
    if (env == nullptr || alias == nullptr) {
        error4raise(env, e4parmNull, E4LOC(93323));
        return nullptr;
    }
    if (!env4isLive(env)) {
        error4raise(env, e4info, E4LOC(93324));
        return nullptr;
    }
    if (error4pending(env)) return nullptr;
    std::string wanted = upper(alias);
    // The file the alias names as a path: paths keep their case.
    const table4file* named = byName ? table4fileFind(env, alias) : nullptr;
    if (error4pending(env)) return nullptr;
    table4* found = nullptr;
    for (auto* t = static_cast<table4*>(list4first(&env->tables)); t != nullptr;
         t = static_cast<table4*>(list4next(&env->tables, t))) {
        if (wanted != t->alias && (named == nullptr || t->dataFile != named)) continue;
        if (found != nullptr) {
            error4raiseText(env, e4info, E4LOC(93325), wanted.c_str());
            return nullptr;
        }
        found = t;
    }
    return found;
}
