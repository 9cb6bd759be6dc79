// The record layer of data files: the record count, header writes, and
// finding an open data file.
#include "xbase/record/table4file.h"

#include <cstring>
#include <string>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"
#include "xbase/record/table4format.h"

namespace {

constexpr const char* kDefaultExtension = "dbf";

int32_t modeSetting(int32_t mode, int32_t setting) {
    return mode < 0 ? setting : mode;
}

}  // namespace

int32_t table4filePath(env4* env, const char* name, std::string& path) {
    return u4pathWithExt(env, name, kDefaultExtension, false, path);
}

table4file* table4fileOf(env4* env, const u4identity& id) {
    if (!id.found) return nullptr;
    for (auto* tf = static_cast<table4file*>(list4first(&env->dataFiles)); tf != nullptr;
         tf = static_cast<table4file*>(list4next(&env->dataFiles, tf)))
        if (tf->file.device == id.device && tf->file.inode == id.inode) return tf;
    return nullptr;
}

table4file* table4fileFind(env4* env, const char* name) {
    std::string path;
    if (table4filePath(env, name, path) < 0) return nullptr;
    return table4fileOf(env, u4identify(path));
}

bool table4fileHoldsCount(const table4file* data) {
    return data->appendLockOwner != 0 || data->fileLockOwner != 0 || data->file.accessMode != 0;
}

int32_t table4recordCountLow(table4file* data, int32_t owner) {
    if (data == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90770));
    env4* env = data->env;
    if (error4pending(env)) return e4codeBase;
    bool holds = table4fileHoldsCount(data);
    if (data->heldCount < 0) {
        // In a shared file the count is what other processes change: it is read
        // from the disk, never from a buffered block.
        bytes4slice piece = table4headerCountSlice();
        int32_t rc = 0;
        if (data->file.accessMode == 0 && data->file.fd >= 0) {
            const int32_t got = file4readLow(&data->file, piece.offset, piece.bytes, piece.size);
            rc = got < 0            ? got
                 : got < piece.size ? error4raiseText(env, e4read, E4LOC(90772), data->name)
                                    : 0;
        } else {
            rc = file4readAll(&data->file, piece.offset, piece.bytes, piece.size);
        }
        if (rc < 0) return rc;
        const int32_t count = table4headerDecodeCount(piece);
        if (count < 0) return error4raiseText(env, e4data, E4LOC(90771), data->name);
        data->headerCount = count;
        if (holds) data->heldCount = count;
        return count;
    }
    bool ownerHolds = data->file.accessMode != 0 || data->appendLockOwner == owner ||
                      data->fileLockOwner == owner;
    return ownerHolds ? data->heldCount : data->headerCount;
}

int32_t table4writeHeader(table4file* data, int withDate, int withCount) {
    if (data == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90780));
    env4* env = data->env;
    if (error4pending(env)) return e4codeBase;
    bool count = withCount && data->heldCount >= 0;
    if (count && !table4fileHoldsCount(data)) return error4raise(env, e4info, E4LOC(90781));
    table4header h{};
    h.version = data->version;
    std::memcpy(h.date, data->date, 3);
    h.count = count ? data->heldCount : data->headerCount;
    h.headerLen = data->headerLen;
    const bytes4slice piece = table4headerEncodeUpdate(h, withDate != 0, count);
    if (piece.size > 0) {
        const int32_t rc = file4write(&data->file, piece.offset, piece.bytes, piece.size);
        if (rc < 0) return rc;
    }
    if (count) data->headerCount = data->heldCount;
    data->headerChanged = data->dateChanged = data->countChanged = 0;
    return 0;
}

int32_t table4setReadAhead(table4* t, int mode) {
    if (t == nullptr || t->dataFile == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90790));
    if (error4pending(t->env)) return e4codeBase;
    file4* f = &t->dataFile->file;
    int32_t on = modeSetting(mode, t->env->readAhead);
    if (on < 0) on = f->isReadOnly || f->accessMode != 0;
    return file4setReadAhead(f, on);
}

int32_t table4setWriteBehind(table4* t, int mode) {
    if (t == nullptr || t->dataFile == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90791));
    if (error4pending(t->env)) return e4codeBase;
    file4* f = &t->dataFile->file;
    int32_t on = modeSetting(mode, t->env->writeBehind);
    if (on < 0) on = f->accessMode == 1;
    return file4setWriteBehind(f, on);
}
