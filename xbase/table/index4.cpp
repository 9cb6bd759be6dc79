#include "xbase/table/index4.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/expr/expr4.h"
#include "xbase/file/file4.h"
#include "xbase/index/index4build.h"
#include "xbase/index/index4internal.h"
#include "xbase/index/sort4.h"
#include "xbase/index/tag4.h"
#include "xbase/record/table4format.h"
#include "xbase/table/lock4.h"
#include "xbase/table/table4.h"
#include "xbase/table/table4write.h"

// Index files of tables: create (building every tag from the records), open (sharing one
// open file between the handles of an environment), close and rebuild. The tags' key
// expressions are parsed against the table and must give keys of the length each header
// records; the file layer below (index4file.cpp) trusts nothing else either.

namespace {

// With the default extension when the name has none (always for the production index,
// named after its data file).
int32_t indexPath(env4* env, const char* name, bool force, std::string* path) {
    return u4pathWithExt(env, name, env->indexExtension[0] != '\0' ? env->indexExtension : "cdx",
                         force, *path);
}

index4file* openFor(table4file* data, const u4identity& id) {
    if (!id.found) return nullptr;
    for (auto* f = static_cast<index4file*>(list4first(&data->indexFiles)); f != nullptr;
         f = static_cast<index4file*>(list4next(&data->indexFiles, f)))
        if (f->file.device == id.device && f->file.inode == id.inode) return f;
    return nullptr;
}

bool handleHas(table4* t, index4file* f) {
    for (auto* i = static_cast<index4*>(list4first(&t->indexes)); i != nullptr;
         i = static_cast<index4*>(list4next(&t->indexes, i)))
        if (i->indexFile == f) return true;
    return false;
}

template <typename Each>
void forEachTag(index4file* f, Each each) {
    for (auto* t = static_cast<tag4file*>(list4first(&f->tags)); t != nullptr;
         t = static_cast<tag4file*>(list4next(&f->tags, t)))
        each(t);
}

bool isDirectoryLike(const tag4file* t) {
    return (t->options & tag4optDirectory) != 0;
}

// The duplicate-key code a handle gets at open.
int16_t openCode(const env4* env, const tag4file* t) {
    if (t->options & tag4optCandidate)
        return env->uniqueDefault == tag4uniqueError ? tag4candidateError : tag4candidateRefuse;
    if (t->options & tag4optUnique) return int16_t(env->uniqueDefault);
    return 0;
}

// Parses a tag's expressions against the table. `creating` reports a bad definition as
// -350 (and sets the key length), opening a key length that disagrees with the header as
// -310.
int32_t parseTag(tag4file* t, table4* table, bool creating) {
    env4* env = table->env;
    const char* file = t->indexFile->file.name;
    t->expr = expr4parse(table, t->exprText, &t->exprTag);
    if (t->expr == nullptr) {
        if (error4pending(env)) return env->errorCode;
        return error4raiseText(env, creating ? e4memory : e4index, E4LOC(92401), t->alias, file);
    }
    const int32_t length = expr4keyLength(t->expr);
    if (creating) {
        // A key that no leaf could hold is refused now, not at every later write.
        if (length < 1 || length > tag4maxKeyLength)
            return error4raiseText(env, e4tagInfo, E4LOC(92402), t->alias, t->exprText);
        t->keyLength = uint16_t(length);
    } else if (length != t->keyLength) {
        return error4raiseText(env, e4index, E4LOC(92403), t->alias, file);
    }
    tag4fileSetType(t, t->expr->type);
    if (t->filterText != nullptr && t->filterText[0] != '\0') {
        t->filter = expr4parse(table, t->filterText, &t->exprTag);
        if (t->filter == nullptr) {
            if (error4pending(env)) return env->errorCode;
            return error4raiseText(env, creating ? e4memory : e4index, E4LOC(92404), t->alias,
                                   file);
        }
        if (t->filter->type != 'L')
            return error4raiseText(env, creating ? e4tagInfo : e4index, E4LOC(92405), t->alias,
                                   file);
    }
    const table4file* data = table->dataFile;
    t->noTrail = data->version != '0' && env->compatibility == 26 && t->filter != nullptr;
    return 0;
}

// A handle on an open file for a table, with a tag4 for every tag.
index4* makeHandle(table4* table, index4file* f, const char* alias) {
    env4* env = table->env;
    auto* index = static_cast<index4*>(pool4allocCreate(
        env, &env->indexPool, env->memStartIndex, int32_t(sizeof(index4)), env->memExpandIndex, 0));
    if (index == nullptr) return nullptr;
    index->table = table;
    index->env = env;
    index->indexFile = f;
    u4ncpy(index->alias, alias, sizeof index->alias);
    c4upper(index->alias);
    int32_t failed = 0;  // e4memory, or e4info for a list that refused an element
    forEachTag(f, [&](tag4file* t) {
        if (failed) return;
        auto* tag = static_cast<tag4*>(pool4allocCreate(
            env, &env->tagPool, env->memStartTag, int32_t(sizeof(tag4)), env->memExpandTag, 0));
        if (tag == nullptr) {
            failed = e4memory;
            return;
        }
        tag->index = index;
        tag->tagFile = t;
        tag->errUnique = openCode(env, t);
        if (list4add(&index->tags, tag) < 0) {
            pool4free(env->tagPool, tag);
            failed = e4info;
        }
    });
    if (failed == 0 && list4add(&table->indexes, index) < 0) failed = e4info;
    if (failed) {
        while (auto* tag = static_cast<tag4*>(list4pop(&index->tags))) pool4free(env->tagPool, tag);
        pool4free(env->indexPool, index);
        if (failed == e4memory)
            error4raise(env, e4memory, E4LOC(92410));
        else
            error4raise(env, e4info, E4LOC(92411));
        return nullptr;
    }
    return index;
}

// Joins a data file's list of index files, so that the table's locks cover it: 0, or -910
// when the list refuses it (the file would be written without its lock).
int32_t attach(table4file* data, index4file* f) {
    if (list4add(&data->indexFiles, f) < 0) return error4raise(f->env, e4info, E4LOC(92412));
    return 0;
}

bool readyFor(table4* table, int32_t location) {
    if (table == nullptr || table->dataFile == nullptr) {
        error4raise(table != nullptr ? table->env : nullptr, e4parmNull, location);
        return false;
    }
    return !error4pending(table->env);
}

std::string indexAlias(table4* table, const char* name) {
    return name != nullptr ? std::string(name) : std::string(table->alias);
}

// One tag of a definition list as a header, or -350.
int32_t defineTag(env4* env, const tag4def& def, tag4header* h, std::string* name) {
    static const int16_t codes[] = {0,
                                    tag4uniqueError,
                                    tag4uniqueRefuse,
                                    tag4uniqueKeep,
                                    tag4candidateRefuse,
                                    tag4candidateError};
    if (std::find(std::begin(codes), std::end(codes), def.unique) == std::end(codes))
        return error4raiseText(env, e4tagInfo, E4LOC(92420), def.name);
    if (def.descending != 0 && def.descending != tag4descendingCode)
        return error4raiseText(env, e4tagInfo, E4LOC(92421), def.name);
    if (def.expression == nullptr || def.expression[0] == '\0')
        return error4raiseText(env, e4tagInfo, E4LOC(92422), def.name);
    const char* filter = def.filter != nullptr ? def.filter : "";
    if (std::strlen(def.expression) > size_t(tag4maxExpressionLength) ||
        std::strlen(filter) > size_t(tag4maxExpressionLength))
        return error4raiseText(env, e4tagInfo, E4LOC(92423), def.name);
    char cut[tag4nameLength + 1];
    u4ncpy(cut, def.name, sizeof cut);
    c4trimN(cut, sizeof cut);
    c4upper(cut);
    if (cut[0] == '\0') return error4raiseText(env, e4tagInfo, E4LOC(92424), def.name);
    *name = cut;
    h->keyLength = 1;  // until the expression gives it
    h->options = tag4optCompact | tag4optCompound;
    if (def.unique == tag4candidateRefuse || def.unique == tag4candidateError)
        h->options |= tag4optCandidate;
    else if (def.unique != 0)
        h->options |= tag4optUnique;
    if (filter[0] != '\0') h->options |= tag4optFilter;
    h->general = env->collation == 1;
    h->descending = def.descending != 0;
    h->expression = def.expression;
    h->filter = filter;
    return 0;
}

int32_t closeShared(index4file* f) {
    if (--f->useCount > 0) return 0;
    if (f->dataFile != nullptr && list4contains(&f->dataFile->indexFiles, f))
        (void)list4remove(&f->dataFile->indexFiles, f);
    return index4fileClose(f);
}

// ---- rebuilding from the records ----

struct Rebuild {
    index4* index;
    table4* table;
    int32_t count;
};

int32_t keysOfRecords(tag4file* t, sort4* sort, void* context) {
    auto* r = static_cast<Rebuild*>(context);
    table4* table = r->table;
    table4file* data = table->dataFile;
    env4* env = table->env;
    int32_t rc = expr4setTable(t->expr, table);
    if (rc == 0 && t->filter != nullptr) rc = expr4setTable(t->filter, table);
    if (rc < 0) return rc;
    std::vector<char> buffer(size_t(std::max(env->memSizeSortBuffer, 1024)) / 1024 * 1024);
    file4seqReader reader;
    file4seqReadInit(&reader, &data->file, data->headerLen, buffer.data(), int32_t(buffer.size()));
    for (int32_t record = 1; record <= r->count; record++) {
        if ((rc = file4seqReadAll(&reader, table->record, data->recordLen)) < 0) return rc;
        if (t->filter != nullptr) {
            const int32_t keep = expr4true(t->filter);
            if (keep < 0) return keep;
            if (keep == 0) continue;
        }
        char* key = nullptr;
        const int32_t length = expr4key(t->expr, &key, &t->exprTag);
        if (length < 0) return length;
        if (length != t->keyLength) return error4raiseText(env, e4index, E4LOC(92430), t->alias);
        if ((rc = sort4put(sort, record, key, nullptr)) < 0) return rc;
    }
    return 0;
}

int16_t codeOfHandle(tag4file* t, void* context) {
    auto* r = static_cast<Rebuild*>(context);
    for (auto* tag = static_cast<tag4*>(list4first(&r->index->tags)); tag != nullptr;
         tag = static_cast<tag4*>(list4next(&r->index->tags, tag)))
        if (tag->tagFile == t) return tag4uniqueCode(tag);
    return openCode(t->env, t);
}

// The table has no current record after a rebuild: its buffer is blank again.
void blankRecord(table4* t) {
    const table4file* data = t->dataFile;
    if (t->blankRecord != nullptr)
        std::memcpy(t->record, t->blankRecord, data->recordLen);
    else
        std::memset(t->record, ' ', data->recordLen);
    t->recNum = -1;
}

// Points a tag's expressions at the table of its handle.
int32_t bindTag(tag4* tag) {
    tag4file* t = tag->tagFile;
    if (t->expr == nullptr) return error4raiseText(t->env, e4struct, E4LOC(92440), t->alias);
    table4* table = tag->index->table;
    int32_t rc = expr4setTable(t->expr, table);
    if (rc == 0 && t->filter != nullptr) rc = expr4setTable(t->filter, table);
    return rc;
}

int32_t recordKey(tag4* tag, char** key) {
    tag4file* t = tag->tagFile;
    const int32_t length = expr4key(t->expr, key, &t->exprTag);
    if (length < 0) return length;
    if (length != t->keyLength) return error4raiseText(t->env, e4index, E4LOC(92441), t->alias);
    return length;
}

}  // namespace

// ---- handles ----

index4* index4open(table4* table, const char* name) {
    if (!readyFor(table, E4LOC(92450))) return nullptr;
    env4* env = table->env;
    table4file* data = table->dataFile;
    const std::string alias = indexAlias(table, name);
    if (alias.size() > size_t(index4nameMax)) {
        error4raiseText(env, e4name, E4LOC(92451), alias.c_str());
        return nullptr;
    }
    std::string path;
    if (indexPath(env, name != nullptr ? name : data->name, name == nullptr, &path) < 0)
        return nullptr;
    if (index4file* shared = openFor(data, u4identify(path))) {
        if (handleHas(table, shared)) {
            error4raiseText(env, e4instance, E4LOC(92452), path.c_str());
            return nullptr;
        }
        index4* index = makeHandle(table, shared, alias.c_str());
        if (index != nullptr) shared->useCount++;
        return index;
    }
    index4file* f = index4fileOpen(env, data, path.c_str(), alias.c_str());
    if (f == nullptr) return nullptr;
    int32_t rc = 0;
    forEachTag(f, [&](tag4file* t) {
        if (rc == 0 && !isDirectoryLike(t)) rc = parseTag(t, table, false);
    });
    if (rc < 0) {
        index4fileFree(f);
        return nullptr;
    }
    if (attach(data, f) < 0) {
        index4fileFree(f);
        return nullptr;
    }
    index4* index = makeHandle(table, f, alias.c_str());
    if (index == nullptr) {
        (void)list4remove(&data->indexFiles, f);
        index4fileFree(f);
        return nullptr;
    }
    return index;
}

index4* index4create(table4* table, const char* name, const tag4def* defs) {
    if (!readyFor(table, E4LOC(92460))) return nullptr;
    env4* env = table->env;
    table4file* data = table->dataFile;
    if (defs == nullptr) {
        error4raise(env, e4parmNull, E4LOC(92461));
        return nullptr;
    }
    const bool production = name == nullptr;
    if (production && data->file.accessMode != 1) {
        error4raiseText(env, e4create, E4LOC(92462), data->name);
        return nullptr;
    }
    const std::string alias = indexAlias(table, name);
    std::string path;
    if (indexPath(env, production ? data->name : name, production, &path) < 0) return nullptr;
    if (alias.size() > size_t(index4nameMax) || path.size() > size_t(index4nameMax) ||
        openFor(data, u4identify(path)) != nullptr) {
        error4raiseText(env, e4name, E4LOC(92463), path.c_str());
        return nullptr;
    }
    // Check every definition before anything is made.
    std::vector<tag4header> headers;
    std::vector<std::string> names;
    for (const tag4def* def = defs; def->name != nullptr; ++def) {
        tag4header h;
        std::string tagName;
        if (defineTag(env, *def, &h, &tagName) < 0) return nullptr;
        if (std::find(names.begin(), names.end(), tagName) != names.end()) {
            error4raiseText(env, e4tagInfo, E4LOC(92464), tagName.c_str());
            return nullptr;
        }
        headers.push_back(h);
        names.push_back(tagName);
    }
    if (table4lockFile(table) != 0) {
        if (!error4pending(env)) error4raiseText(env, e4lock, E4LOC(92465), data->name);
        return nullptr;
    }

    index4file* f = index4fileNew(env, data);
    if (f == nullptr) return nullptr;
    if (file4create(&f->file, env, path.c_str(), 1) != 0) {
        index4fileFree(f);
        return nullptr;
    }
    index4fileOpened(f);
    f->compound = 1;
    f->fileLength = 0;
    const std::string fileName = u4namePiece(path.c_str(), false, false);
    f->directory = tag4fileNew(f, tag4headerDirectory(0), 0, fileName.c_str());
    bool ok = f->directory != nullptr;
    for (size_t i = 0; ok && i < headers.size(); i++) {
        tag4file* t = tag4fileNew(f, headers[i], 0, names[i].c_str());
        ok = t != nullptr && index4fileAddTag(f, t) == 0;
        if (ok) ok = parseTag(t, table, true) == 0;
    }
    index4* index = nullptr;
    if (ok) ok = attach(data, f) == 0;
    if (ok) {
        index = makeHandle(table, f, alias.c_str());
        ok = index != nullptr;
        if (!ok) (void)list4remove(&data->indexFiles, f);
    }
    if (!ok) {
        if (!error4pending(env)) error4raise(env, e4memory, E4LOC(92466));
        index4fileFree(f);
        unlink(path.c_str());  // ours, and incomplete
        return nullptr;
    }
    // The definitions' codes, not the environment's default.
    tag4* tag = static_cast<tag4*>(list4first(&index->tags));
    for (const tag4def* def = defs; tag != nullptr;
         ++def, tag = static_cast<tag4*>(list4next(&index->tags, tag)))
        tag->errUnique = def->unique;

    int32_t rc = index4reindex(index);
    if (rc == 0 && production) {
        data->flags |= table4flagProduction;
        const bytes4slice flags = table4headerEncodeFlags(data->flags);
        rc = file4write(&data->file, flags.offset, flags.bytes, flags.size);
    }
    if (rc != 0) {
        // A refused duplicate is the stored outcome 20; a lock still held elsewhere -50;
        // an error stays what it was.
        const int32_t code = rc == r4unique       ? r4unique
                             : rc == r4locked     ? e4lock
                             : env->errorCode < 0 ? env->errorCode
                                                  : rc;
        error4setCode(env, 0);
        (void)index4close(index);  // the error that stopped the creation is the one reported
        unlink(path.c_str());
        if (code == e4lock)
            error4raiseText(env, e4lock, E4LOC(92467), path.c_str());
        else
            env->errorCode = code;
        return nullptr;
    }
    return index;
}

int32_t index4close(index4* index) {
    if (index == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92470));
    env4* env = index->env;
    table4* table = index->table;
    return error4aside(env, [&](int32_t pending) {
        // The table's changed record goes out while this file's tags still take its keys;
        // one that a unique tag refused (-340 pending) is not written.
        int32_t written = 0;
        if (pending == e4unique)
            table->recordChanged = 0;
        else if ((written = table4writeChanged(table, 0)) < 0)
            env->errorCode = 0;
        while (auto* tag = static_cast<tag4*>(list4pop(&index->tags))) {
            if (table->selectedTag == tag) table->selectedTag = nullptr;
            pool4free(env->tagPool, tag);
        }
        index4file* f = index->indexFile;
        int32_t rc = index4unlock(f, table->lockOwner);
        if (rc < 0) env->errorCode = 0;
        if (written < 0) rc = written;
        if (list4contains(&table->indexes, index)) (void)list4remove(&table->indexes, index);
        pool4free(env->indexPool, index);
        const int32_t closed = closeShared(f);
        if (rc == 0) rc = closed;
        return pending != 0 ? pending : rc;
    });
}

int32_t index4reindex(index4* index) {
    if (index == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92480));
    env4* env = index->env;
    if (error4pending(env)) return e4codeBase;
    table4* table = index->table;
    index4file* f = index->indexFile;
    int32_t rc = table4lockAll(table);
    if (rc != 0) return rc;
    Rebuild rebuild{index, table, table4recordCountLow(table->dataFile, table->lockOwner)};
    if (rebuild.count < 0) return rebuild.count;
    // Key lengths come from the expressions as they parse today.
    forEachTag(f, [&](tag4file* t) {
        if (rc != 0 || isDirectoryLike(t)) return;
        if (t->expr == nullptr) {
            rc = error4raiseText(env, e4struct, E4LOC(92481), t->alias);
            return;
        }
        const int32_t length = expr4keyLength(t->expr);
        if (length < 1 || length > tag4maxKeyLength)
            rc = error4raiseText(env, e4index, E4LOC(92482), t->alias);
        else
            t->keyLength = uint16_t(length);
    });
    if (rc == 0) rc = index4build(f, keysOfRecords, codeOfHandle, &rebuild);
    blankRecord(table);
    return rc;
}

int32_t index4refresh(index4* index) {
    if (index == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92485));
    if (error4pending(index->env)) return e4codeBase;
    // Most calls find nothing changed: they take no copy of the position.
    const int32_t moved = index4versionCheck(index->indexFile, 0);
    if (moved <= 0) return moved;
    tag4* selected = index->table->selectedTag;
    tag4file* t = selected != nullptr && selected->index == index ? selected->tagFile : nullptr;
    std::vector<uint8_t> key;
    int32_t record = -2;
    if (t != nullptr) {
        record = tag4recordNumber(t);
        if (const uint8_t* at = tag4key(t)) key.assign(at, at + t->keyLength);
    }
    const int32_t changed = index4fileRefresh(index->indexFile);
    if (changed != 1 || t == nullptr || record == -2) return changed < 0 ? changed : 0;
    int32_t rc = 0;
    if (!key.empty())
        rc = tag4seekKeyRecord(t, key.data(), record, 0);
    else if (record == -1)
        rc = tag4goEof(t);
    return rc < 0 ? rc : 0;
}

tag4* index4tag(index4* index, const char* name) {
    if (index == nullptr || name == nullptr) return nullptr;
    tag4file* wanted = index4fileTag(index->indexFile, name);
    for (auto* tag = static_cast<tag4*>(list4first(&index->tags)); tag != nullptr;
         tag = static_cast<tag4*>(list4next(&index->tags, tag)))
        if (tag->tagFile == wanted) return tag;
    return nullptr;
}

// ---- keys of records ----

int32_t tag4exprKey(tag4* tag, const char** key) {
    if (tag == nullptr || key == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92490));
    if (error4pending(tag->tagFile->env)) return e4codeBase;
    int32_t rc = bindTag(tag);
    if (rc < 0) return rc;
    char* out = nullptr;
    rc = recordKey(tag, &out);
    if (rc >= 0) *key = out;
    return rc;
}

int32_t tag4addRecord(tag4* tag, int32_t record) {
    if (tag == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92491));
    tag4file* t = tag->tagFile;
    env4* env = t->env;
    if (error4pending(env)) return e4codeBase;
    int32_t rc = bindTag(tag);
    if (rc < 0) return rc;
    if (t->filter != nullptr) {
        rc = expr4true(t->filter);
        if (rc <= 0) return rc;
    }
    const int16_t code = tag4uniqueCode(tag);
    if ((code == tag4candidateError || code == tag4candidateRefuse) && expr4isNull(t->expr)) {
        if (code == tag4candidateRefuse) return r4unique;
        return error4raiseText(env, e4unique, E4LOC(92492), t->alias, t->indexFile->file.name);
    }
    char* key = nullptr;
    if ((rc = recordKey(tag, &key)) < 0) return rc;
    return tag4addKey(t, key, record, code);
}

int32_t tag4removeRecord(tag4* tag, int32_t record) {
    if (tag == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92493));
    if (error4pending(tag->tagFile->env)) return e4codeBase;
    int32_t rc = bindTag(tag);
    if (rc < 0) return rc;
    char* key = nullptr;
    if ((rc = recordKey(tag, &key)) < 0) return rc;
    return tag4removeKey(tag->tagFile, key, record);
}
