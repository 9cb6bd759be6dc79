// Pack and tag rebuilds that survive a kill, the copy they keep while they work, and the check
// of the tables against their records before maintenance walks them.
//
// The table library packs and rebuilds tags in place: a process killed in the middle leaves records
// moved down over others and a header that still counts the old records. So before packing, the
// four files are copied whole into one file beside them, synced, and renamed to its final name
// (base +
// ".ZTPACK"), so that the copy exists only when complete:
//
//   | offset | width  | content                                               |
//   |--------|--------|-------------------------------------------------------|
//   | 0      | 8      | "QVPACK1\n"                                           |
//   | 8      | 4 x 8  | lengths of .ZT, .IX, .ZT2 and .IX2, little-endian      |
//   | 40     | ...    | the bytes of the four files, in that order            |
//
// The packer holds the counted lock (and the dictionary's) from before the copy is made until
// the packed files are flushed and the copy is removed. Whoever finds the copy while holding
// those locks (or the database exclusive) therefore knows its packer is gone, and writes the
// copy back over the four files in place (so every process that has them open sees the
// restored bytes) before anything else reads or writes under the lock. A kill during that
// restore leaves the copy for the next one. Renaming new files over the old ones instead would
// leave other processes writing into files nobody opens any more.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "platform/atomic_file.h"
#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"

namespace {

const char kCopyMagic[8] = {'Q', 'V', 'P', 'A', 'C', 'K', '1', '\n'};
constexpr size_t kCopyHeader = 40;
const char* const kCopiedFiles[4] = {"ZT", "IX", "ZT2", "IX2"};

bool writeAllAt(int fd, const char* data, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t put = pwrite(fd, data + done, n - done, off_t(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += size_t(put);
    }
    return true;
}

// n bytes from the start of in to offset at of out: in the kernel where the file system can,
// else through a buffer.
bool copyBytes(int in, int out, off_t at, uint64_t n) {
    off_t from = 0, to = at;
    while (uint64_t(from) < n) {
        const ssize_t moved = copy_file_range(in, &from, out, &to, size_t(n - uint64_t(from)), 0);
        if (moved > 0) continue;
        if (moved < 0 && errno == EINTR) continue;
        if (moved == 0) return false;  // the file is shorter than it was
        break;                         // not offered here: the buffer does it
    }
    static constexpr size_t kBuffer = 1 << 20;
    std::string buffer(kBuffer, '\0');
    while (uint64_t(from) < n) {
        const ssize_t got =
            pread(in, buffer.data(), size_t(std::min<uint64_t>(kBuffer, n - uint64_t(from))), from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = pwrite(out, buffer.data() + done, size_t(got - done), to + done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
        from += got;
        to += got;
    }
    return true;
}

void syncFolder(const std::string& path) {
    const int dir = ::open(qv::folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    (void)fsync(dir);  // the rename is made; a folder that cannot sync is no reason to stop
    ::close(dir);
}

// Temporaries of copies that a killed packer left behind; only called under the locks.
void removeStaleTemporaries(const std::string& copy) {
    const size_t slash = copy.rfind('/');
    const std::string folder = copy.substr(0, slash);
    const std::string stem = copy.substr(slash + 1) + qv::kTemporarySuffix;
    DIR* d = opendir(folder.empty() ? "/" : folder.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, stem.c_str(), stem.size()) == 0)
            (void)unlink((folder + "/" + e->d_name).c_str());
    closedir(d);
}

}  // namespace

std::string ZTFile::packCopyPath() const {
    return path_ + ".ZTPACK";
}

bool ZTFile::hasPackCopy() const {
    struct stat st {};
    return isValid() && lstat(packCopyPath().c_str(), &st) == 0;
}

int ZTFile::restorePackCopy() {
    const std::string copy = packCopyPath();
    std::string bytes;
    switch (qv::readFileBounded(copy, size_t(1) << 34, &bytes)) {
        case qv::ReadFileResult::missing:
            return 0;
        case qv::ReadFileResult::ok:
            break;
        default:
            return -1;
    }
    uint64_t lengths[4] = {};
    uint64_t total = kCopyHeader;
    if (bytes.size() < kCopyHeader || std::memcmp(bytes.data(), kCopyMagic, 8) != 0) return -1;
    for (int i = 0; i < 4; ++i) {
        for (int b = 7; b >= 0; --b)
            lengths[i] = lengths[i] << 8 | uint8_t(bytes[size_t(8 + 8 * i + b)]);
        total += lengths[i];
    }
    // A copy that is not whole is not used: the files it would replace may be the sound ones.
    if (total != bytes.size()) return -1;
    size_t at = kCopyHeader;
    for (int i = 0; i < 4; ++i) {
        const std::string path = tablePath(kCopiedFiles[i]);
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return -1;
        const bool ok = writeAllAt(fd, bytes.data() + at, size_t(lengths[i])) &&
                        ftruncate(fd, off_t(lengths[i])) == 0 && fsync(fd) == 0;
        ::close(fd);
        if (!ok) return -1;
        at += size_t(lengths[i]);
    }
    if (unlink(copy.c_str()) != 0) return -1;
    syncFolder(copy);
    return 1;
}

// Called at the first level of the counted lock, the row table's lock held.
bool ZTFile::restoreAfterKilledPack() {
    if (isReadOnly() || !hasPackCopy()) return true;
    if (!lockRetry(dictTable_, false)) return false;
    const int restored = beginChange() ? restorePackCopy() : -1;
    journal4endChange(&journal_);
    bool ok = restored >= 0;
    // What this process holds of any of the four files is older than what is there now.
    for (table4* t : {rowTable_, dictTable_})
        if (table4refresh(t) != 0) ok = false;
    if (!ok) takeError();
    if (table4unlock(dictTable_) != 0) {
        takeError();
        ok = false;
    }
    // Readers learn from the moved change counters that their view went stale.
    if (restored > 0) rowsChanged_ = dictionaryChanged_ = true;
    forgetDictionaryHints();
    return ok;
}

// The copy goes to a temporary beside its final name, file by file in the kernel (no pass
// through this process's memory), is synced, and only then takes its name.
bool ZTFile::writePackCopy() {
    const std::string copy = packCopyPath();
    std::string temporary = copy + qv::kTemporarySuffix + "XXXXXX";
    const int out = mkstemp(temporary.data());
    if (out < 0) return false;
    int in[4] = {-1, -1, -1, -1};
    uint64_t sizes[4] = {};
    char header[kCopyHeader] = {};
    std::memcpy(header, kCopyMagic, 8);
    bool ok = true;
    for (int i = 0; ok && i < 4; ++i) {
        in[i] = ::open(tablePath(kCopiedFiles[i]).c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        ok = in[i] >= 0 && fstat(in[i], &st) == 0;
        sizes[i] = ok ? uint64_t(st.st_size) : 0;
        for (int b = 0; b < 8; ++b) header[8 + 8 * i + b] = char(sizes[i] >> (8 * b));
    }
    ok = ok && writeAllAt(out, header, kCopyHeader);
    off_t at = off_t(kCopyHeader);
    for (int i = 0; ok && i < 4; ++i) {
        ok = copyBytes(in[i], out, at, sizes[i]);
        at += off_t(sizes[i]);
    }
    for (int fd : in)
        if (fd >= 0) ::close(fd);
    ok = ok && fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), copy.c_str()) == 0;
    if (!ok) {
        (void)unlink(temporary.c_str());
        return false;
    }
    syncFolder(copy);
    return true;
}

// Runs a rewrite of the files in place (under both locks) with the copy beside them: when the
// rewrite fails, or the process dies in it, the files go back to what the copy holds.
bool ZTFile::underCopy(const std::function<bool()>& rewrite) {
    // The copy is taken from the disk: everything written so far must be there. The rewrite
    // writes in place, under the copy's protection: the journal is emptied first, so that
    // nothing in it could be replayed over the rewritten files.
    bool ok = table4flush(rowTable_) == 0 && table4flush(dictTable_) == 0 && journalPause() &&
              beginChange();
    if (ok) {
        removeStaleTemporaries(packCopyPath());
        ok = writePackCopy();
    }
    const bool copied = ok;
    if (ok) ok = rewrite();
    if (ok) ok = table4flush(rowTable_) == 0 && table4flush(dictTable_) == 0;
    // Only rewritten files that reached the disk let the copy go.
    if (ok) {
        ok = unlink(packCopyPath().c_str()) == 0;
        syncFolder(packCopyPath());
    }
    if (!ok) {
        takeError();
        if (copied && hasPackCopy() && restorePackCopy() > 0)
            for (table4* t : {rowTable_, dictTable_})
                if (table4refresh(t) != 0) takeError();
    }
    rowsChanged_ = dictionaryChanged_ = true;
    forgetDictionaryHints();
    journal4endChange(&journal_);
    journalResume();
    return ok;
}

bool ZTFile::pack() {
    if (!isUsable() || isReadOnly() || !lock(false)) return false;
    bool ok = (isExclusive() || lockDictionary()) && underCopy([this] {
                  return table4pack(rowTable_) == 0 && table4pack(dictTable_) == 0;
              });
    if (!ok) takeError();
    return unlock() && ok;
}

bool ZTFile::countsAgree() {
    for (table4* t : {rowTable_, dictTable_}) {
        table4file* d = t->dataFile;
        const int32_t count =
            file4dropBuffers(&d->file) == 0 ? table4recordCountLow(d, t->lockOwner) : -1;
        const int32_t length = count >= 0 ? file4length(&d->file) : -1;
        if (count < 0 || length < 0) {
            takeError();
            return false;
        }
        if (length < d->headerLen || (length - d->headerLen) / d->recordLen != count) return false;
    }
    return true;
}

bool ZTFile::verifyTables() {
    if (!ZT_ASSERT(isUsable()) || isReadOnly()) return false;
    // Lengths first: an append cut short leaves records the count does not reach, or a count
    // that reaches past the records. The repair is the one of an open with verify, which runs
    // before the index files are open: the tables are opened again for it.
    if (!countsAgree()) {
        const uint32_t mode = openMode_ & 15;
        if (openLockCount_ > 0 || (open(mode, true) & 15) != mode || !countsAgree()) return false;
    }
    if (!lock(false)) return false;
    // Killed writers leave tag entries of records beyond the count and keys of contents whose
    // bytes never reached the table: every tag is made again from the records.
    bool ok = (isExclusive() || lockDictionary()) && underCopy([this] {
                  return table4reindex(rowTable_) == 0 && table4reindex(dictTable_) == 0;
              });
    if (!ok) takeError();
    ok = unlock() && ok;
    // The next-ID counter is checked against the records as an open with verify does.
    if (ok) checkIDCounter();
    return ok;
}
