#include "xbase/file/file4.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/share_mode.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/file/buffer4.h"
#include "xbase/file/journal4.h"

namespace {

int32_t openErrorCode(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return e4fileFind;
        case EMFILE:
        case ENFILE:
            return e4numFiles;
        case EACCES:
        case EPERM:
        case EROFS:
            return e4permiss;
        default:
            return e4open;
    }
}

bool validMode(int mode) {
    return mode >= 0 && mode <= 2;
}

int32_t keepName(file4* f, const char* name, int copyName) {
    if (!copyName) {
        f->name = const_cast<char*>(name);
        f->nameOwned = 0;
        return 0;
    }
    int32_t len = static_cast<int32_t>(std::strlen(name)) + 1;
    f->name = static_cast<char*>(u4allocAgain(f->env, len));
    if (f->name == nullptr) return e4memory;
    std::memcpy(f->name, name, len);
    f->nameOwned = 1;
    return 0;
}

void resetRecord(file4* f, int8_t kind);

// Settles identity, flags and buffering of a file whose descriptor is open.
int32_t finishOpen(file4* f, env4* env, const char* name, int copyName) {
    struct stat st {};
    if (fstat(f->fd, &st) == 0) {
        f->device = st.st_dev;
        f->inode = st.st_ino;
    }
    f->env = env;
    f->onDisk = 1;
    f->len = -1;
    f->diskEnd = -1;
    // Whatever made or changed the file before this handle: the first flush syncs it all.
    f->unsynced = 1;
    f->lengthUnsynced = 1;
    f->syncedLength = -1;
    if (f->kind == 0) f->kind = file4kindOther;
    bool shared = f->accessMode == 0;
    f->readAhead = env->readAhead > 0 || (env->readAhead < 0 && (f->isReadOnly || !shared));
    f->writeBehindWanted = env->writeBehind > 0 || (env->writeBehind < 0 && f->accessMode == 1);
    if (name != nullptr && keepName(f, name, copyName) < 0) {
        close(f->fd);
        f->fd = -1;
        return error4raise(env, e4memory, E4LOC(90601));
    }
    if (list4add(&env->files, f) < 0) {
        // Unlisted, the buffer would never write it back or let it go: refuse the file.
        close(f->fd);
        if (f->isTemp && f->name != nullptr) unlink(f->name);
        if (f->nameOwned) mem4free(f->name);
        resetRecord(f, f->kind);
        return error4raise(env, e4info, E4LOC(90602));
    }
    if (buffer4running(env)) buffer4attach(env, f);
    return 0;
}

void resetRecord(file4* f, int8_t kind) {
    std::memset(f, 0, sizeof *f);
    f->fd = -1;
    f->len = -1;
    f->diskEnd = -1;
    f->syncedLength = -1;
    f->kind = kind;
}

int takeShareMode(int fd, bool writable, int mode) {
    qv::ShareResult r = qv::shareAcquire(fd, writable, static_cast<qv::ShareMode>(mode));
    if (r == qv::ShareResult::ok) return 0;
    return r == qv::ShareResult::conflict ? e4access : e4open;
}

std::string tempFolder() {
    for (const char* var : {"TEMP", "TMP", "TMPDIR"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') return value;
    }
    return "/tmp";
}

// Makes a fresh temporary file; its name goes to *name (library memory).
int makeTempFile(env4* env, char** name) {
    std::string pattern = u4nameJoin(tempFolder().c_str(), "qvXXXXXX.tmp");
    int fd = mkostemps(pattern.data(), 4, O_CLOEXEC);
    if (fd < 0) return -1;
    *name = static_cast<char*>(u4allocAgain(env, static_cast<int32_t>(pattern.size()) + 1));
    if (*name == nullptr) {
        unlink(pattern.c_str());
        close(fd);
        return -1;
    }
    std::memcpy(*name, pattern.c_str(), pattern.size() + 1);
    return fd;
}

int32_t createTemp(file4* f, env4* env) {
    f->env = env;
    f->isTemp = 1;
    f->accessMode = 1;
    f->kind = file4kindOther;
    if (buffer4running(env)) {
        // Lives in the buffer until a block must reach the disk.
        f->onDisk = 0;
        f->len = 0;
        f->readAhead = 1;
        f->writeBehindWanted = 1;
        if (list4add(&env->files, f) < 0) return error4raise(env, e4info, E4LOC(90612));
        buffer4attach(env, f);
        return 0;
    }
    char* name = nullptr;
    int fd = makeTempFile(env, &name);
    if (fd < 0) return error4raise(env, e4create, E4LOC(90610));
    takeShareMode(fd, true, 1);
    f->fd = fd;
    f->nameOwned = 1;
    f->name = name;
    return finishOpen(f, env, nullptr, 0);
}

int32_t quietOrRaise(env4* env, int32_t code, int location, const char* name, bool raise,
                     int32_t quiet) {
    if (!raise) {
        env->errorCode = quiet;
        return quiet;
    }
    return error4raiseText(env, code, location, name);
}

// The injected write failure (file4failWrite): writes of files of failKind still to pass
// before the one that fails.
std::atomic<bool> failArmed{false};
std::atomic<int8_t> failKind{0};
std::atomic<int32_t> failCountdown{0};

// The process ends at the chosen write instead of failing it (file4exitAtWrite), after writing
// all of it (0) or its first half (1).
std::atomic<int> failEnds{-1};

// True when this write is the one to fail.
bool injectedFailure(const file4* f) {
    if (!failArmed.load(std::memory_order_relaxed)) return false;
    int8_t kind = failKind.load();
    if (kind != 0 && kind != f->kind) return false;
    if (failCountdown.fetch_sub(1) != 1) return false;
    failArmed.store(false);
    return true;
}

// The write of a process told to end there: written (whole or half), then the process ends as a
// kill would end it, with nothing flushed or closed.
void endAtWrite(const file4* f, int32_t pos, const char* in, int32_t n) {
    int32_t done = 0;
    if (failEnds.load() == 1) n /= 2;
    while (done < n) {
        ssize_t put = pwrite(f->fd, in + done, n - done, off_t{pos} + done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<int32_t>(put);
    }
    _exit(file4exitCode);
}

}  // namespace

void file4failWrite(int8_t kind, int32_t nth) {
    failArmed.store(false);
    failEnds.store(-1);
    failKind.store(kind);
    failCountdown.store(nth);
    failArmed.store(nth > 0);
}

void file4exitAtWrite(int8_t kind, int32_t nth, bool half) {
    file4failWrite(kind, nth);
    failEnds.store(nth > 0 ? (half ? 1 : 0) : -1);
}

bool file4isOpen(const file4* f) {
    return f != nullptr && (f->fd >= 0 || (f->isTemp && !f->onDisk && f->env != nullptr));
}

int32_t file4tempToDisk(file4* f) {
    if (f->onDisk) return 0;
    char* name = nullptr;
    int fd = makeTempFile(f->env, &name);
    if (fd < 0) return error4raise(f->env, e4create, E4LOC(90611));
    takeShareMode(fd, true, 1);
    f->fd = fd;
    f->name = name;
    f->nameOwned = 1;
    f->onDisk = 1;
    return 0;
}

int32_t file4open(file4* f, env4* env, const char* name, int copyName) {
    if (f == nullptr || env == nullptr) return error4raise(env, e4parmNull, E4LOC(90620));
    if (error4pending(env)) return e4codeBase;
    resetRecord(f, f->kind);
    if (name == nullptr) return error4raise(env, e4parmNull, E4LOC(90621));
    buffer4autoStart(env);
    if (!validMode(env->accessMode)) return error4raiseText(env, e4open, E4LOC(90622), name);
    // A file without write permission bits (the read-only attribute), or one
    // we may not write (ownership, read-only mount), opens for reading.
    struct stat attributes {};
    bool readOnly = env->readOnly == 1 ||
                    (stat(name, &attributes) == 0 && (attributes.st_mode & 0222) == 0) ||
                    access(name, W_OK) != 0;
    int fd = open(name, (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    int32_t code = 0;
    if (fd < 0) {
        code = openErrorCode(errno);
    } else {
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            code = e4open;
        else
            code = takeShareMode(fd, !readOnly, env->accessMode);
        if (code < 0) close(fd);
    }
    if (code < 0) return quietOrRaise(env, code, E4LOC(90623), name, env->errOpen != 0, r4noOpen);
    f->fd = fd;
    f->isReadOnly = readOnly;
    f->accessMode = env->accessMode;
    return finishOpen(f, env, name, copyName);
}

int32_t file4create(file4* f, env4* env, const char* name, int copyName) {
    if (f == nullptr || env == nullptr) return error4raise(env, e4parmNull, E4LOC(90630));
    if (error4pending(env)) return e4codeBase;
    resetRecord(f, f->kind);
    buffer4autoStart(env);
    if (name == nullptr) return createTemp(f, env);
    bool refused = !validMode(env->accessMode);
    int fd = -1;
    if (!refused && env->safety) {
        fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 && takeShareMode(fd, true, env->accessMode) < 0) {
            unlink(name);  // ours, made a moment ago, and another opener got in first
            close(fd);
            fd = -1;
        }
        refused = fd < 0;
    } else if (!refused) {
        // Replacing: the file is taken exclusively before it is emptied, so a
        // file anybody has open is never replaced.
        fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        struct stat st {};
        refused = fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                  takeShareMode(fd, true, 1) < 0 || ftruncate(fd, 0) != 0;
        if (!refused && env->accessMode != 1) {
            qv::shareRelease(fd);
            refused = takeShareMode(fd, true, env->accessMode) < 0;
        }
    }
    if (refused) {
        if (fd >= 0) close(fd);
        return quietOrRaise(env, e4create, E4LOC(90631), name, env->errCreate != 0, r4noCreate);
    }
    f->fd = fd;
    f->accessMode = env->accessMode;
    return finishOpen(f, env, name, copyName);
}

int32_t file4close(file4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90640));
    env4* env = f->env;
    if (!file4isOpen(f) || env == nullptr) {
        resetRecord(f, 0);
        return 0;
    }
    // Writes held for a commit are committed before the handle goes; a failed commit's error
    // stays pending.
    if (f->journal != nullptr) (void)journal4forget(f);
    if (f->bufferKind != 0 && buffer4detach(f, f->isTemp != 0) < 0) {
        // The held data could not be written: keep going, the error stays.
        (void)buffer4detach(f, true);  // discarding cannot fail
    }
    if (f->fd >= 0 && close(f->fd) != 0 && !f->isTemp)
        error4raiseText(env, e4write, E4LOC(90641), f->name);
    if (f->isTemp && f->onDisk && f->name != nullptr) unlink(f->name);
    if (f->nameOwned) mem4free(f->name);
    if (list4contains(&env->files, f)) (void)list4remove(&env->files, f);
    resetRecord(f, 0);
    return env->errorCode < 0 ? -1 : 0;
}

void file4seqBegin(file4seq* s) {
    if (s == nullptr || s->word == nullptr || s->writing) return;
    std::atomic_ref<uint64_t> word(*s->word);
    const uint64_t v = word.load(std::memory_order_relaxed);
    // Sequentially consistent: the store is visible before the write that follows it.
    if ((v & 1) == 0) word.store(v + 1, std::memory_order_seq_cst);
    s->follow = (v & 1) == 0 && v == s->sound;
    s->writing = 1;
}

void file4seqEnd(file4seq* s) {
    if (s == nullptr || s->word == nullptr || !s->writing) return;
    std::atomic_ref<uint64_t> word(*s->word);
    const uint64_t v = word.load(std::memory_order_relaxed);
    s->stored = (v | 1) + 1;
    word.store(s->stored, std::memory_order_seq_cst);
    s->sound = s->follow ? s->stored : file4seqNone;
    s->follow = 0;
    s->writing = 0;
}

void file4awaitWrite(file4* f, int32_t pos) {
    // A search for data takes the file's inode lock, which a write holds while it copies
    // its bytes in (ext4, btrfs, tmpfs); the answer itself is of no use here.
    if (f != nullptr && f->fd >= 0) (void)lseek(f->fd, off_t{pos}, SEEK_DATA);
}

int32_t file4readLow(file4* f, int32_t pos, void* buffer, int32_t n) {
    if (f == nullptr || buffer == nullptr || pos < 0 || n < 0)
        return error4raise(f == nullptr ? nullptr : f->env, e4parmNull, E4LOC(90650));
    if (error4pending(f->env)) return -1;
    return file4readDisk(f, pos, buffer, n);
}

int32_t file4readDisk(file4* f, int32_t pos, void* buffer, int32_t n) {
    if (f->fd < 0) return 0;
    int32_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < n) {
        ssize_t got = pread(f->fd, out + done, n - done, off_t{pos} + done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error4raiseText(f->env, e4read, E4LOC(90651), f->name);
            return 0;
        }
        if (got == 0) break;
        done += static_cast<int32_t>(got);
    }
    if (journal4holds(f)) done = journal4overlay(f, pos, buffer, n, done);
    return done;
}

int32_t file4read(file4* f, int32_t pos, void* buffer, int32_t n) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90655));
    if (error4pending(f->env)) return -1;
    if (pos < 0 || buffer == nullptr || n < 0) return error4raise(f->env, e4parmNull, E4LOC(90656));
    if (buffer4uses(f)) return buffer4read(f, pos, buffer, n);
    if (!f->onDisk) return 0;
    return file4readDisk(f, pos, buffer, n);
}

int32_t file4readSettled(file4* f, int32_t pos, void* buffer, int32_t n) {
    if (f == nullptr || buffer == nullptr || pos < 0 || !buffer4uses(f)) return 0;
    return buffer4readSettled(f, pos, buffer, n);
}

void file4settle(file4* f, int32_t pos, const void* buffer, int32_t n) {
    if (f != nullptr && buffer != nullptr && pos >= 0 && buffer4uses(f))
        buffer4settle(f, pos, buffer, n);
}

int32_t file4readAll(file4* f, int32_t pos, void* buffer, int32_t n) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90660));
    if (error4pending(f->env)) return e4codeBase;
    bool buffered = buffer4uses(f);
    if (!buffered && !f->onDisk) return error4raiseText(f->env, e4bufRead, E4LOC(90661), f->name);
    int32_t got = file4read(f, pos, buffer, n);
    if (got < 0) return got;
    if (got < n) {
        std::string where = std::to_string(pos), length = std::to_string(n);
        return error4raiseText(f->env, e4read, E4LOC(90662), f->name, where.c_str(),
                               buffered ? "file4readAll" : "file4readAllLow");
    }
    return 0;
}

int32_t file4writeLow(file4* f, int32_t pos, const void* buffer, int32_t n) {
    if (f == nullptr || buffer == nullptr || pos < 0 || n < 0)
        return error4raise(f == nullptr ? nullptr : f->env, e4parm, E4LOC(90670));
    if (f->fd < 0) return error4raiseText(f->env, e4write, E4LOC(90671), f->name);
    int32_t done = 0;
    auto* in = static_cast<const char*>(buffer);
    if (journal4holds(f)) {
        // Reaches the file when the span's commit is in the journal.
        if (journal4hold(f, pos, buffer, n) < 0) return 0;
        if (f->diskEnd >= 0) f->diskEnd = std::max(f->diskEnd, pos + n);
        return n;
    }
    // A write of a database's file outside a commit (a repair, a rewrite): readers stop trusting
    // single reads until the writer's bracket ends.
    file4seqBegin(f->seq);
    if (injectedFailure(f)) {
        if (failEnds.load() >= 0) endAtWrite(f, pos, in, n);
        n /= 2;
    }
    while (done < n) {
        ssize_t put = pwrite(f->fd, in + done, n - done, off_t{pos} + done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<int32_t>(put);
    }
    if (f->diskEnd >= 0) f->diskEnd = std::max(f->diskEnd, pos + done);
    if (done > 0) file4noteWrite(f, int64_t{pos} + done);
    return done;
}

int32_t file4write(file4* f, int32_t pos, const void* buffer, int32_t n) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90675));
    if (error4pending(f->env)) return e4codeBase;
    if (f->isReadOnly) return error4raiseText(f->env, e4write, E4LOC(90676), f->name);
    if (pos < 0 || n < 0 || (buffer == nullptr && n > 0) || int64_t{pos} + n > INT32_MAX)
        return error4raise(f->env, e4parm, E4LOC(90677));
    if (n == 0) return 0;
    if (f->writeBehind && f->bufferKind != 0) return buffer4write(f, pos, buffer, n);
    if (!f->onDisk && file4tempToDisk(f) < 0) return f->env->errorCode;
    int32_t put = file4writeLow(f, pos, buffer, n);
    if (put < 0) return put;
    if (put != n) return error4raiseText(f->env, e4write, E4LOC(90678), f->name);
    if (buffer4uses(f)) buffer4refreshRange(f, pos, buffer, n);
    if (f->env->flushWrites) return file4flush(f);
    return 0;
}

int32_t file4length(file4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90680));
    if (error4pending(f->env)) return e4codeBase;
    bool buffered = buffer4uses(f);
    if (buffered && f->len >= 0) return f->len;
    if (!f->onDisk) return f->len < 0 ? 0 : f->len;
    struct stat st {};
    if (fstat(f->fd, &st) != 0 || st.st_size > INT32_MAX)
        return error4raiseText(f->env, e4len, E4LOC(90681), f->name);
    int64_t size = st.st_size;
    if (journal4holds(f)) size = std::max(size, journal4heldEnd(f));
    if (buffered) f->len = static_cast<int32_t>(size);
    return static_cast<int32_t>(size);
}

int32_t file4setLength(file4* f, int32_t length) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90685));
    // Only a pending error blocks; a stored outcome such as 60 does not.
    if (error4pending(f->env)) return e4codeBase;
    if (length < 0) return error4raise(f->env, e4parm, E4LOC(90686));
    if (f->isReadOnly) return error4raiseText(f->env, e4write, E4LOC(90687), f->name);
    if (buffer4uses(f)) buffer4setLength(f, length);
    if (!f->onDisk) {
        f->len = length;
        return 0;
    }
    if (journal4holds(f)) return journal4holdLength(f, length);
    file4seqBegin(f->seq);
    if (ftruncate(f->fd, length) != 0)
        return error4raiseText(f->env, e4lenSet, E4LOC(90688), f->name);
    file4noteLength(f);
    if (f->diskEnd >= 0) f->diskEnd = length;
    return 0;
}

int32_t file4flush(file4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90690));
    if (error4pending(f->env)) return e4codeBase;
    if (f->isReadOnly || !file4isOpen(f)) return 0;
    if (f->bufferKind != 0) {
        int32_t rc = buffer4writeBackFile(f);
        if (rc < 0) return rc;
    }
    if (!f->onDisk) return 0;        // a temporary file never needs to survive a crash
    if (journal4holds(f)) return 0;  // the span's commit syncs the journal instead
    // A file this handle left alone since its last sync has nothing of ours to sync. Bytes
    // within the length last synced in full need only the data (fdatasync); a length that may
    // have moved goes with the inode's other metadata (fsync).
    if (!f->unsynced) return 0;
    const bool full = f->lengthUnsynced || f->syncedLength < 0;
    if ((full ? fsync(f->fd) : fdatasync(f->fd)) != 0)
        return error4raiseText(f->env, e4bufFlush, E4LOC(90691), f->name);
    f->unsynced = 0;
    if (full) {
        struct stat st {};
        f->syncedLength = fstat(f->fd, &st) == 0 ? int64_t{st.st_size} : -1;
        f->lengthUnsynced = 0;
    }
    return 0;
}

void file4noteWrite(file4* f, int64_t end) {
    f->unsynced = 1;
    if (f->syncedLength < 0 || end > f->syncedLength) f->lengthUnsynced = 1;
}

void file4noteLength(file4* f) {
    f->unsynced = 1;
    f->lengthUnsynced = 1;
}

int32_t file4writeBack(file4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90693));
    if (error4pending(f->env)) return e4codeBase;
    if (f->bufferKind == 0 || !f->writeBehind) return 0;
    return buffer4writeBackFile(f);
}

int32_t file4dropBuffers(file4* f) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90695));
    if (error4pending(f->env)) return e4codeBase;
    if (f->bufferKind == 0 || f->accessMode == 1) return 0;
    int32_t rc = buffer4dropFile(f);
    if (rc < 0) return rc;
    f->len = -1;
    return 0;
}

int32_t file4bufferedBlocks(const file4* f) {
    return f != nullptr && f->bufferKind != 0 ? f->bufferBlockCount : 0;
}

int32_t file4setReadAhead(file4* f, int on) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90696));
    if (error4pending(f->env)) return e4codeBase;
    if (!on && f->bufferKind != 0 && !f->writeBehind) {
        int32_t rc = buffer4dropFile(f);
        if (rc < 0) return rc;
        f->len = -1;
    }
    f->readAhead = on ? 1 : 0;
    return 0;
}

int32_t file4setWriteBehind(file4* f, int on) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90697));
    if (error4pending(f->env)) return e4codeBase;
    f->writeBehindWanted = on ? 1 : 0;
    if (f->bufferKind == 0) return 0;
    if (!on && f->writeBehind) {
        int32_t rc = buffer4writeBackFile(f);
        if (rc < 0) return rc;
        if (!f->readAhead) {
            rc = buffer4dropFile(f);
            if (rc < 0) return rc;
            f->len = -1;
        }
    }
    f->writeBehind = f->writeBehindWanted;
    return 0;
}
