#include "xbase/index/index4file.h"

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
#include "xbase/index/index4header.h"
#include "xbase/index/index4internal.h"
#include "xbase/index/tag4.h"
#include "xbase/record/table4file.h"
#include "xbase/record/table4format.h"
#include "xbase/values/collate4.h"

// The file layer of compound index files: opening (directory and tag headers), the free-
// node list, the change counter, the index lock and writing back. The bytes of the headers
// are index4header.cpp's, those of the nodes node4.cpp's.

namespace {

constexpr int32_t kMaxTags = 4096;  // a directory listing more is damaged

bool isNodeOffset(uint32_t offset, int32_t length) {
    return offset >= uint32_t(tag4headerSize) && offset % node4size == 0 &&
           int64_t(offset) + node4size <= int64_t(length);
}

template <typename Each>
void forEachTag(index4file* f, Each each) {
    if (f->directory != nullptr) each(f->directory);
    for (auto* t = static_cast<tag4file*>(list4first(&f->tags)); t != nullptr;
         t = static_cast<tag4file*>(list4next(&f->tags, t)))
        each(t);
}

int32_t readHeader(index4file* f, uint32_t offset, tag4header* out) {
    uint8_t bytes[tag4headerSize];
    const int32_t got = file4read(&f->file, int32_t(offset), bytes, tag4headerSize);
    if (got < 0) return got;
    if (got < tag4headerSize || tag4headerDecode(bytes, out) != 0)
        return error4raiseText(f->env, e4index, E4LOC(92301), f->file.name);
    return 0;
}

// Reads the tags listed in the directory, in its (name) order.
int32_t readTags(index4file* f) {
    tag4file* dir = f->directory;
    int32_t rc = tag4top(dir);
    if (rc < 0) return rc;
    std::vector<uint32_t> seen;
    while (tag4eof(dir) == 0) {
        const uint8_t* key = tag4key(dir);
        const int32_t record = tag4recordNumber(dir);
        if (key == nullptr || record < 0)
            return error4raiseText(f->env, e4index, E4LOC(92302), f->file.name);
        const auto offset = uint32_t(record);
        if (int(seen.size()) >= kMaxTags || offset % node4size != 0 ||
            offset < uint32_t(tag4headerSize) ||
            int64_t(offset) + tag4headerSize > int64_t(f->fileLength) ||
            std::find(seen.begin(), seen.end(), offset) != seen.end())
            return error4raiseText(f->env, e4index, E4LOC(92303), f->file.name);
        seen.push_back(offset);
        tag4header h;
        if ((rc = readHeader(f, offset, &h)) < 0) return rc;
        const std::string name(reinterpret_cast<const char*>(key), dir->keyLength);
        tag4file* t = tag4fileNew(f, h, offset, name.c_str());
        if (t == nullptr) return e4memory;
        if ((rc = index4fileAddTag(f, t)) < 0) return rc;
        rc = tag4skip(dir, 1);
        if (rc < 0) return rc;
        if (rc == 0) break;
    }
    return tag4releaseNodes(dir);
}

bool needsSystemLock(const index4file* f) {
    return f->file.accessMode == 0 && !f->file.isReadOnly && f->file.fd >= 0;
}

}  // namespace

index4file* index4fileNew(env4* env, table4file* data) {
    auto* f = static_cast<index4file*>(
        pool4allocCreate(env, &env->indexFilePool, env->memStartIndex, int32_t(sizeof(index4file)),
                         env->memExpandIndex, 0));
    if (f == nullptr) return nullptr;
    f->env = env;
    f->dataFile = data;
    f->file.kind = file4kindIndex;
    f->file.fd = -1;
    f->versionSeq = file4seqNone;
    return f;
}

void index4fileOpened(index4file* f) {
    f->file.owner = f;
    f->file.lastBytes = tag4headerPrefixSize;
    f->useCount = 1;
}

int32_t index4fileAddTag(index4file* f, tag4file* t) {
    if (list4add(&f->tags, t) == 0) return 0;
    tag4fileFree(t);
    return error4raise(f->env, e4info, E4LOC(92304));
}

void index4fileFree(index4file* f) {
    env4* env = f->env;
    while (auto* t = static_cast<tag4file*>(list4pop(&f->tags))) tag4fileFree(t);
    if (f->directory != nullptr) tag4fileFree(f->directory);
    f->directory = nullptr;
    if (file4isOpen(&f->file))
        (void)file4close(&f->file);  // given up (index4fileClose closes first)
    pool4free(env->indexFilePool, f);
}

uint32_t index4recordCount(index4file* f) {
    if (f->dataFile == nullptr) return f->recordCount;
    const int32_t n = table4recordCountLow(f->dataFile, f->dataFile->appendLockOwner);
    return n > 0 ? uint32_t(n) : 0;
}

index4file* index4fileOpen(env4* env, table4file* data, const char* path, const char* tagName) {
    if (env == nullptr || path == nullptr) {
        error4raise(env, e4parmNull, E4LOC(92320));
        return nullptr;
    }
    if (error4pending(env)) return nullptr;
    if (std::strlen(path) > size_t(index4nameMax)) {
        error4raiseText(env, e4name, E4LOC(92321), path);
        return nullptr;
    }
    index4file* f = index4fileNew(env, data);
    if (f == nullptr) return nullptr;
    if (file4open(&f->file, env, path, 1) != 0) {
        pool4free(env->indexFilePool, f);
        return nullptr;
    }
    index4fileOpened(f);
    f->fileLength = file4length(&f->file);
    tag4header h;
    if (f->fileLength < 0 || readHeader(f, 0, &h) < 0) {
        index4fileFree(f);
        return nullptr;
    }
    f->versionOld = f->version = h.changeCounter;
    f->freeHead = h.freeHead;
    f->compound = (h.options & tag4optCompound) != 0;
    if (!f->compound) {
        // A single-tag file: its header is the only tag.
        if (tagName == nullptr || *tagName == '\0') {
            error4raiseText(env, e4index, E4LOC(92322), path);
            index4fileFree(f);
            return nullptr;
        }
        tag4file* t = tag4fileNew(f, h, 0, tagName);
        if (t == nullptr || index4fileAddTag(f, t) < 0) {
            index4fileFree(f);
            return nullptr;
        }
        return f;
    }
    const std::string name = u4namePiece(path, false, false);
    f->directory = tag4fileNew(f, h, 0, name.c_str());
    if (f->directory == nullptr || readTags(f) < 0) {
        index4fileFree(f);
        return nullptr;
    }
    return f;
}

int32_t index4fileClose(index4file* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92330));
    env4* env = f->env;
    return error4aside(env, [&](int32_t pending) {
        // Whatever happens, closing goes on: lock waits are unbounded for the duration.
        const int32_t attempts = env->lockAttempts;
        env->lockAttempts = -1;
        int32_t rc = index4update(f);
        const int32_t unlocked = index4unlock(f, 0);
        if (rc == 0) rc = unlocked;
        env->lockAttempts = attempts;
        if (rc < 0) env->errorCode = 0;
        // Blocks held back by write-behind reach the disk as the file closes: a failure
        // there fails the close.
        const int32_t closed = file4close(&f->file) < 0 ? env->errorCode : 0;
        if (rc == 0) rc = closed;
        index4fileFree(f);
        return pending != 0 ? pending : rc;
    });
}

tag4file* index4fileTag(index4file* f, const char* name) {
    if (f == nullptr || name == nullptr) return nullptr;
    char wanted[tag4nameLength + 1];
    u4ncpy(wanted, name, sizeof wanted);
    c4trimN(wanted, sizeof wanted);
    c4upper(wanted);
    for (auto* t = static_cast<tag4file*>(list4first(&f->tags)); t != nullptr;
         t = static_cast<tag4file*>(list4next(&f->tags, t)))
        if (std::strcmp(t->alias, wanted) == 0) return t;
    return nullptr;
}

// ---- nodes and the change counter ----

void index4versionAdvance(index4file* f) {
    if (f->version == f->versionOld) f->version = f->versionOld + 1;
}

int32_t index4extend(index4file* f) {
    env4* env = f->env;
    if (error4pending(env)) return e4codeBase;
    if (f->version == f->versionOld)
        return error4raiseText(env, e4index, E4LOC(92340), f->file.name);
    if (f->freeHead == 0) {
        // Past the end, on a node boundary even when the file's length is not.
        const int64_t at = (int64_t(f->fileLength) + node4size - 1) / node4size * node4size;
        if (at + node4size > INT32_MAX)
            return error4raiseText(env, e4index, E4LOC(92341), f->file.name);
        f->fileLength = int32_t(at + node4size);
        return int32_t(at);
    }
    const uint32_t head = f->freeHead;
    bool held = false;
    forEachTag(f, [&](tag4file* t) { held = held || tag4holdsNode(t, int32_t(head)); });
    // A free list that leads outside the file or into a node in use is damage: reusing
    // such a node would overwrite live keys.
    if (!isNodeOffset(head, f->fileLength) || held)
        return error4raiseText(env, e4index, E4LOC(92342), f->file.name);
    bytes4slice link = node4freeLinkSlice();
    const int32_t got = file4read(&f->file, int32_t(head) + link.offset, link.bytes, link.size);
    if (got < 0) return got;
    if (got == 0) return error4raiseText(env, e4index, E4LOC(92343), f->file.name);
    if (got < link.size)
        return error4raiseText(env, e4read, E4LOC(92344), f->file.name, "index4extend");
    const uint32_t next = node4decodeFreeLink(link);
    if (next == head || (next != 0 && !isNodeOffset(next, f->fileLength)))
        return error4raiseText(env, e4index, E4LOC(92345), f->file.name);
    f->freeHead = next;
    return int32_t(head);
}

int32_t index4freeNode(index4file* f, int32_t offset) {
    env4* env = f->env;
    if (error4pending(env)) return e4codeBase;
    if (offset < 0) return error4raise(env, e4parm, E4LOC(92350));
    forEachTag(f, [&](tag4file* t) { tag4blockDiscard(t, offset); });
    uint8_t node[node4size] = {};
    node4setFreeNext(node, f->freeHead);
    const int32_t rc = file4write(&f->file, offset, node, node4size);
    if (rc < 0) return rc;
    f->freeHead = uint32_t(offset);
    return 0;
}

int32_t index4versionWrite(index4file* f) {
    if (error4pending(f->env)) return e4codeBase;
    if (f->version == f->versionOld) return 0;
    const bytes4slice piece = tag4headerEncodeCounter(f->freeHead, f->version);
    const int32_t rc = file4write(&f->file, piece.offset, piece.bytes, piece.size);
    if (rc < 0) return rc;
    f->versionOld = f->version;
    return 0;
}

int32_t index4versionCheck(index4file* f, int adopt) {
    if (error4pending(f->env)) return e4codeBase;
    if (f->lockOwner != 0 || f->file.accessMode != 0) return 0;
    if (f->viewHeld && f->viewChecked) return 0;
    // Nothing written in place since the counter was last found where this process has it.
    const uint64_t before = file4seqLoad(&f->file);
    if ((before & 1) == 0 && before == f->versionSeq) {
        f->viewChecked = f->viewHeld;
        return 0;
    }
    uint8_t bytes[tag4headerPrefixSize];
    const int32_t got = file4readLow(&f->file, 0, bytes, sizeof bytes);
    if (got < 0) return got;
    if (got < int32_t(sizeof bytes))
        return error4raiseText(f->env, e4index, E4LOC(92360), f->file.name);
    tag4header h;
    tag4headerDecodePrefix(bytes, &h);
    if (h.changeCounter == f->versionOld) {
        f->viewChecked = f->viewHeld;
        f->versionSeq = file4seqSteady(&f->file, before) ? before : file4seqNone;
        return 0;
    }
    // A move that is not adopted stays to be seen by the next check.
    if (adopt) {
        f->versionOld = f->version = h.changeCounter;
        f->freeHead = h.freeHead;
        f->viewChecked = f->viewHeld;
        f->versionSeq = file4seqSteady(&f->file, before) ? before : file4seqNone;
    }
    return 1;
}

void index4viewHold(index4file* f, int hold) {
    if (f == nullptr) return;
    f->viewHeld = hold ? 1 : 0;
    f->viewChecked = 0;
}

void index4viewRecheck(index4file* f) {
    if (f == nullptr) return;
    f->viewChecked = 0;
    f->versionSeq = file4seqNone;  // read the counter, whatever the sequence says
}

int32_t index4fileForget(index4file* f) {
    int32_t rc = 0;
    forEachTag(f, [&](tag4file* t) {
        const int32_t r = tag4forget(t);
        if (rc == 0 && r < 0) rc = r;
    });
    return rc;
}

int32_t index4fileRefresh(index4file* f) {
    const int32_t rc = index4versionCheck(f, 1);
    if (rc != 1) return rc;
    const int32_t forgot = index4fileForget(f);
    if (forgot < 0) return forgot;
    const int32_t dropped = file4dropBuffers(&f->file);
    return dropped < 0 ? dropped : 1;
}

// ---- locking and writing back ----

int32_t index4lock(index4file* f, int32_t owner) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92370));
    env4* env = f->env;
    if (error4pending(env)) return e4codeBase;
    if (f->lockOwner != 0) return f->lockOwner == owner ? 0 : r4locked;
    if (!needsSystemLock(f)) {
        f->lockOwner = owner;
        env->lockTakes++;
        return 0;
    }
    int32_t rc = file4lock(&f->file, index4lockByte, 1);
    if (rc != 0) return rc;
    // What this process holds after the span may be what a failed commit never wrote: the
    // first check after it reads the counter whatever the sequence says.
    f->versionSeq = file4seqNone;
    // What a failed write-back left changed goes first, so that the counter read below is
    // the newest.
    if ((rc = file4writeBack(&f->file)) < 0) {
        (void)file4unlock(&f->file, index4lockByte, 1);  // the error that stopped it is reported
        return rc;
    }
    // Nobody wrote any file of the database since this handle last held its view of them
    // sound: the counter, free list and length it holds are the disk's.
    if (file4seqSound(&f->file)) {
        f->lockOwner = owner;
        env->lockTakes++;
        return 0;
    }
    // What others wrote is read afresh: the counter, the free list, the file's length, and,
    // when the counter moved, every tag's nodes and the buffered blocks. Every writer moves
    // the counter and puts it on disk after the nodes, so an unmoved counter proves that the
    // blocks this process read since it last saw that counter are what the disk holds. A
    // file of another length, or an empty one (being created), proves nothing.
    uint8_t bytes[tag4headerPrefixSize];
    const int32_t got = file4readLow(&f->file, 0, bytes, sizeof bytes);
    if (got < 0)
        rc = got;
    else if (got > 0 && got < int32_t(sizeof bytes))
        rc = error4raiseText(env, e4index, E4LOC(92371), f->file.name);
    tag4header h;
    if (got == int32_t(sizeof bytes)) tag4headerDecodePrefix(bytes, &h);
    const bool moved = got == 0 || h.changeCounter != f->versionOld;
    const int32_t lengthSeen = f->file.len;  // as the buffer last knew it; -1 unknown
    f->file.len = -1;
    int32_t length = rc == 0 ? file4length(&f->file) : 0;
    if (rc == 0 && length < 0) rc = length;
    if (rc == 0 && (moved || length != lengthSeen)) {
        rc = file4dropBuffers(&f->file);
        if (rc == 0 && got > 0 && moved) rc = index4fileForget(f);
        if (rc == 0) length = file4length(&f->file);
        if (rc == 0 && length < 0) rc = length;
    }
    if (rc == 0 && got > 0) {
        f->versionOld = f->version = h.changeCounter;
        f->freeHead = h.freeHead;
        f->fileLength = length;
    }
    if (rc != 0) {
        (void)file4unlock(&f->file, index4lockByte, 1);  // the error that stopped it is reported
        return rc;
    }
    f->lockOwner = owner;
    env->lockTakes++;
    return 0;
}

int32_t index4unlock(index4file* f, int32_t owner) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92375));
    if (f->lockOwner == 0 || (owner != 0 && owner != f->lockOwner)) return 0;
    const int32_t rc = index4update(f);
    const int32_t released = needsSystemLock(f) ? file4unlock(&f->file, index4lockByte, 1) : 0;
    f->lockOwner = 0;
    // Others may write from now on.
    f->viewChecked = 0;
    // Let go with a sound view that nobody has written past yet: the counter held is the one
    // on disk at that value of the sequence, and the next check need not read it while the
    // sequence stays there.
    if (rc >= 0 && released == 0 && file4seqSound(&f->file)) f->versionSeq = f->file.seq->sound;
    return rc < 0 ? rc : released;
}

int32_t index4update(index4file* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92380));
    if (error4pending(f->env)) return e4codeBase;
    if (f->file.isReadOnly) return 0;
    // Nodes first, the counter last: a reader that sees the new counter finds the new nodes.
    int32_t rc = 0;
    forEachTag(f, [&](tag4file* t) {
        if (rc == 0) rc = tag4flush(t);
    });
    if (rc == 0) rc = index4versionWrite(f);
    if (rc < 0) return rc;
    if (f->compound)
        forEachTag(f, [&](tag4file* t) {
            if (t != f->directory) tag4forgetRoot(t);
        });
    return 0;
}

int32_t index4flush(index4file* f) {
    const int32_t rc = index4update(f);
    if (rc < 0) return rc;
    return file4flush(&f->file);
}

int32_t index4isProduction(index4file* f) {
    if (f == nullptr || f->dataFile == nullptr) return 0;
    if ((f->dataFile->flags & table4flagProduction) == 0) return 0;
    return u4namePiece(f->file.name, true, false) == u4namePiece(f->dataFile->name, true, false)
               ? 1
               : 0;
}
