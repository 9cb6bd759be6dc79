#include "xbase/file/journal4.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "xbase/core/bytes4.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"

// The journal file:
//
//   | offset | bytes | content                                                           |
//   |--------|-------|-------------------------------------------------------------------|
//   | 0      | 8     | "QVJRNL01"                                                        |
//   | 8      | 8     | checkpoint sequence: records up to it are in the files, synced    |
//   | 16     | 40    | boot id of the machine that wrote the records since, NUL-padded   |
//   | 504    | 8     | checksum of bytes 0..503                                          |
//   | 512    | 8     | "QVJAPPL1" (the applied mark, written without a sync)             |
//   | 520    | 8     | applied sequence: records up to it were written in place          |
//   | 528    | 8     | applied end: the journal offset after that record                 |
//   | 536    | 8     | checksum of bytes 512..535                                        |
//   | 1024   |       | records, each following the one before                            |
//
// The change sequence lives in a file of its own (its first 8 bytes, native order, only ever
// mapped): a mapped page of a file that every commit syncs would be written and faulted in
// again at every commit.
//
// A record:
//
//   | offset | bytes | content                                                           |
//   |--------|-------|-------------------------------------------------------------------|
//   | 0      | 4     | "QVJR"                                                            |
//   | 4      | 4     | entry count                                                       |
//   | 8      | 8     | sequence number (the one before plus one)                         |
//   | 16     | 4     | entry bytes                                                       |
//   | 20     | 4     | checksum kind: 0 serial (written by earlier builds), 1 four lanes |
//   | 24     |       | entries: slot (1), kind (1: write, 2: length), 0 (2), position   |
//   |        |       | (4), byte count or length (4), then a write's bytes               |
//   | end    | 8     | checksum of everything before it                                  |
//
// Integers are little-endian.

namespace {

constexpr char kHeaderMagic[8] = {'Q', 'V', 'J', 'R', 'N', 'L', '0', '1'};
constexpr char kMarkMagic[8] = {'Q', 'V', 'J', 'A', 'P', 'P', 'L', '1'};
constexpr char kRecordMagic[4] = {'Q', 'V', 'J', 'R'};
constexpr int32_t kMarkAt = 512;
constexpr int32_t kBootBytes = 40;
constexpr int32_t kRecordHead = 24;
constexpr int32_t kEntryHead = 12;
constexpr int8_t kWrite = 1;
constexpr int8_t kLength = 2;
constexpr int64_t kDefaultLimit = int64_t{4} << 20;
// A commit that moves the journal's length makes its sync write the file's metadata as well:
// the journal grows ahead of its records, by its length again up to this much at a time.
constexpr int64_t kGrowStep = int64_t{512} << 10;
// A record claiming more than this is damage, not a commit.
constexpr uint32_t kMaxRecordBytes = uint32_t{1} << 30;

// The journal's bytes are chars; the library's one set of little-endian codecs takes bytes.
uint8_t* u8(char* p) {
    return reinterpret_cast<uint8_t*>(p);
}
const uint8_t* u8(const char* p) {
    return reinterpret_cast<const uint8_t*>(p);
}
void put32(char* p, uint32_t v) {
    bytes4put32le(u8(p), v);
}
void put64(char* p, uint64_t v) {
    bytes4put64le(u8(p), v);
}
uint32_t get32(const char* p) {
    return bytes4get32le(u8(p));
}
uint64_t get64(const char* p) {
    return bytes4get64le(u8(p));
}

// Tells a torn or damaged header, mark or record from a whole one; not a defence against a
// forger. One serial multiply chain: records use it only as journals of earlier builds hold it.
uint64_t checksum(const char* p, size_t n) {
    uint64_t h = 0x6a09e667f3bcc909ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x9e3779b97f4a7c15ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ uint8_t(p[i])) * 0x100000001b3ull;
    return h ^ (h >> 32);
}

// A record's checksum: the same mixing in four independent lanes over 32-byte strides, so
// that the multiplies of a long record overlap instead of each waiting for the last.
uint64_t checksumLanes(const char* p, size_t n) {
    constexpr uint64_t k = 0x9e3779b97f4a7c15ull;
    uint64_t h[4] = {0x6a09e667f3bcc909ull ^ n, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull,
                     0xa54ff53a5f1d36f1ull};
    size_t i = 0;
    for (; i + 32 <= n; i += 32)
        for (int lane = 0; lane < 4; ++lane) {
            uint64_t w;
            std::memcpy(&w, p + i + 8 * lane, 8);
            h[lane] = (h[lane] ^ w) * k;
            h[lane] ^= h[lane] >> 29;
        }
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h[0] = (h[0] ^ w) * k;
        h[0] ^= h[0] >> 29;
    }
    for (; i < n; ++i) h[0] = (h[0] ^ uint8_t(p[i])) * 0x100000001b3ull;
    uint64_t r = h[0];
    for (int lane = 1; lane < 4; ++lane) {
        r = (r ^ h[lane]) * k;
        r ^= r >> 29;
    }
    return r ^ (r >> 32);
}

constexpr uint32_t kSerialChecksum = 0;
constexpr uint32_t kLaneChecksum = 1;

// The checksum a record's head names (false: a kind no build writes, so no record).
bool recordChecksum(const char* p, size_t n, uint64_t* sum) {
    const uint32_t kind = get32(p + 20);
    if (kind == kLaneChecksum)
        *sum = checksumLanes(p, n);
    else if (kind == kSerialChecksum)
        *sum = checksum(p, n);
    else
        return false;
    return true;
}

std::mutex bootLock;
std::string bootOverride;
std::string bootCached;

struct Header {
    uint64_t checkpointSeq = 0;
    char boot[kBootBytes] = {};
    bool valid = false;
    bool markValid = false;
    uint64_t appliedSeq = 0;
    int64_t appliedEnd = 0;
    bool empty = false;  // a journal file with nothing in it yet
};

// Reads both header sectors: 0 or an error.
int32_t readHeader(journal4* j, Header* h) {
    char bytes[journal4headerSize] = {};
    const int32_t got = file4readLow(&j->file, 0, bytes, journal4headerSize);
    if (got < 0) return got;
    if (error4code(j->env) < 0) return error4code(j->env);
    h->empty = got == 0;
    h->valid = got >= kMarkAt && std::memcmp(bytes, kHeaderMagic, 8) == 0 &&
               get64(bytes + 504) == checksum(bytes, 504);
    if (h->valid) {
        h->checkpointSeq = get64(bytes + 8);
        std::memcpy(h->boot, bytes + 16, kBootBytes);
        h->boot[kBootBytes - 1] = '\0';
    }
    const char* m = bytes + kMarkAt;
    h->markValid = h->valid && got >= kMarkAt + 32 && std::memcmp(m, kMarkMagic, 8) == 0 &&
                   get64(m + 24) == checksum(m, 24);
    if (h->markValid) {
        h->appliedSeq = get64(m + 8);
        h->appliedEnd = int64_t(get64(m + 16));
        // A mark older than the checkpoint, or pointing anywhere odd, says nothing.
        if (h->appliedSeq < h->checkpointSeq || h->appliedEnd < journal4headerSize ||
            h->appliedEnd > INT32_MAX)
            h->markValid = false;
    }
    return 0;
}

void encodeMark(char* m, uint64_t seq, int64_t end) {
    std::memcpy(m, kMarkMagic, 8);
    put64(m + 8, seq);
    put64(m + 16, uint64_t(end));
    put64(m + 24, checksum(m, 24));
}

int32_t writeMark(journal4* j) {
    char m[32];
    encodeMark(m, j->seq, j->end);
    return file4write(&j->file, kMarkAt, m, sizeof m);
}

int32_t syncJournal(journal4* j) {
    if (fdatasync(j->file.fd) != 0)
        return error4raiseText(j->env, e4bufFlush, E4LOC(90950), j->file.name);
    return 0;
}

// A record read back from the journal.
struct Record {
    uint64_t seq = 0;
    int64_t next = 0;  // journal offset after it
    std::vector<char> bytes;
};

// True when a record of sequence `expect` seems to start at `at` (its checksum unchecked).
bool recordStarts(journal4* j, int64_t at, uint64_t expect, char* head) {
    if (at + kRecordHead > INT32_MAX) return false;
    if (file4readLow(&j->file, int32_t(at), head, kRecordHead) != kRecordHead) return false;
    return std::memcmp(head, kRecordMagic, 4) == 0 && get64(head + 8) == expect;
}

// Reads the record at `at`: true when whole, with the expected sequence and a sound checksum.
// Records of an earlier round of the journal lie past the last one: their sequence is lower.
bool readRecord(journal4* j, int64_t at, int64_t length, uint64_t expect, Record* r) {
    char head[kRecordHead];
    if (at + kRecordHead + 8 > length || !recordStarts(j, at, expect, head)) return false;
    const uint32_t payload = get32(head + 16);
    if (payload > kMaxRecordBytes || at + kRecordHead + payload + 8 > length) return false;
    r->bytes.resize(size_t(kRecordHead) + payload + 8);
    const int32_t n = int32_t(r->bytes.size());
    if (file4readLow(&j->file, int32_t(at), r->bytes.data(), n) != n) return false;
    uint64_t sum = 0;
    if (!recordChecksum(r->bytes.data(), size_t(kRecordHead) + payload, &sum) ||
        get64(r->bytes.data() + kRecordHead + payload) != sum)
        return false;
    r->seq = expect;
    r->next = at + n;
    return true;
}

bool writeAllAt(int fd, const char* p, int64_t n, int64_t pos) {
    while (n > 0) {
        const ssize_t put = pwrite(fd, p, size_t(n), off_t(pos));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= put;
        pos += put;
    }
    return true;
}

// Writes a record's entries into the files through descriptors of the replay's own.
bool replayRecord(const Record& r, const int* fds) {
    const char* p = r.bytes.data() + kRecordHead;
    const char* end = r.bytes.data() + r.bytes.size() - 8;
    for (uint32_t left = get32(r.bytes.data() + 4); left > 0; --left) {
        if (end - p < kEntryHead) return false;
        const int slot = uint8_t(p[0]);
        const int kind = uint8_t(p[1]);
        const uint32_t pos = get32(p + 4), n = get32(p + 8);
        p += kEntryHead;
        if (slot >= journal4slots || fds[slot] < 0) return false;
        if (kind == kWrite) {
            if (uint64_t(end - p) < n || !writeAllAt(fds[slot], p, n, pos)) return false;
            p += n;
        } else if (kind != kLength || ftruncate(fds[slot], off_t(n)) != 0) {
            return false;
        }
    }
    return true;
}

// Syncs every file of the journal by name (a sync through any descriptor of a file covers
// what every process wrote to it).
bool syncFiles(journal4* j) {
    bool ok = true;
    for (const char* name : j->names) {
        if (name == nullptr) continue;
        const int fd = ::open(name, O_RDWR | O_CLOEXEC);
        ok = fd >= 0 && fsync(fd) == 0 && ok;
        if (fd >= 0) ::close(fd);
    }
    return ok;
}

// Writes a fresh header (the checkpoint) and the mark and syncs the journal. The records stay
// (their sequence numbers are now stale): the next round overwrites them, so that appending
// rarely moves the file's length, which would make each sync a sync of metadata as well. A
// journal far past its limit (a large spill), or one whose sequence starts again, is cut.
int32_t resetJournal(journal4* j, bool cut) {
    char bytes[journal4headerSize] = {};
    std::memcpy(bytes, kHeaderMagic, 8);
    put64(bytes + 8, j->seq);
    std::strncpy(bytes + 16, journal4bootId(), kBootBytes - 1);
    put64(bytes + 504, checksum(bytes, 504));
    encodeMark(bytes + kMarkAt, j->seq, journal4headerSize);
    int32_t rc = file4write(&j->file, 0, bytes, journal4headerSize);
    if (rc == 0 && (cut || j->end > 2 * j->limit)) {
        j->length = -1;
        rc = file4setLength(&j->file, journal4headerSize);
        if (rc == 0) j->length = journal4headerSize;
    }
    if (rc == 0) rc = syncJournal(j);
    if (rc < 0) return rc;
    j->checkpointSeq = j->seq;
    j->end = journal4headerSize;
    j->commits = 0;
    return 0;
}

// Local file systems only: a page mapped shared over a network file system does not see the
// stores of another machine, whose readers would then trust what they hold forever.
bool localFileSystem(int fd) {
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<uint64_t>(fs.f_type)) {
        case 0xEF53:      // ext2, ext3, ext4
        case 0x58465342:  // xfs
        case 0x9123683E:  // btrfs
        case 0x01021994:  // tmpfs
        case 0xF2F52010:  // f2fs
        case 0x2FC12FC1:  // zfs
        case 0x794C7630:  // overlayfs
            return true;
        default:
            return false;
    }
}

// Maps the sequence file's first page when it is that long: true when mapped (or already).
bool mapPage(journal4* j) {
    if (j->page != nullptr) return true;
    struct stat st {};
    if (j->seqFd < 0 || fstat(j->seqFd, &st) != 0 || st.st_size < journal4seqSize ||
        !localFileSystem(j->seqFd))
        return false;
    const int prot = j->seqWritable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* page = mmap(nullptr, journal4seqSize, prot, MAP_SHARED, j->seqFd, 0);
    if (page == MAP_FAILED) return false;
    j->page = page;
    j->changes.word = static_cast<uint64_t*>(page);
    j->changes.writing = 0;
    j->changes.sound = file4seqNone;
    return true;
}

// Under the lock: maps the sequence, making its file long enough first (it only ever grows,
// and only under the lock). 0 or an error: a writer without it may not write in place.
int32_t mapUnderLock(journal4* j) {
    if (j->page != nullptr && j->seqWritable) return 0;
    if (j->seqName == nullptr) return error4raise(j->env, e4memory, E4LOC(90963));
    if (j->seqFd < 0) {
        j->seqFd = ::open(j->seqName, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        j->seqWritable = j->seqFd >= 0;
        // None can be made here (a folder that takes no new file): nobody has one to trust.
        struct stat st {};
        if (j->seqFd < 0 && lstat(j->seqName, &st) != 0 && errno == ENOENT) return 0;
    }
    // On a network file system nobody maps it (a page there does not see other machines).
    if (j->seqFd >= 0 && !localFileSystem(j->seqFd)) return 0;
    struct stat st {};
    if (!j->seqWritable || fstat(j->seqFd, &st) != 0 ||
        (st.st_size < journal4seqSize && ftruncate(j->seqFd, journal4seqSize) != 0) || !mapPage(j))
        return error4raiseText(j->env, e4open, E4LOC(90961), j->seqName);
    return 0;
}

// Under the lock, once the files are sound: a sequence left odd belongs to a writer that died
// in its in-place writes (writers hold the lock while it is odd) and is made even.
void settleSequence(journal4* j) {
    if (j->changes.word == nullptr || j->changes.writing) return;
    const uint64_t v = std::atomic_ref<uint64_t>(*j->changes.word).load(std::memory_order_acquire);
    if ((v & 1) == 0) return;
    j->changes.writing = 1;
    j->changes.follow = 0;
    file4seqEnd(&j->changes);
}

// Under the lock, the files sound and the header read: the sequence mapped and settled, the
// journal ready for spans. 0 or the mapping's error.
int32_t becomeReady(journal4* j) {
    if (int32_t rc = mapUnderLock(j)) return rc;
    settleSequence(j);
    j->ready = 1;
    return 0;
}

// Opens the sequence file beside the journal: made by a writer, only opened by a reader.
void openSequence(journal4* j, const char* name, bool reader) {
    j->seqFd = -1;
    j->seqWritable = 0;
    const int32_t len = int32_t(std::strlen(name)) + 1;
    j->seqName = static_cast<char*>(mem4alloc(len));
    if (j->seqName == nullptr) return;
    std::memcpy(j->seqName, name, size_t(len));
    if (!reader) j->seqFd = ::open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    j->seqWritable = j->seqFd >= 0;
    if (j->seqFd < 0) j->seqFd = ::open(name, O_RDONLY | O_CLOEXEC);
    (void)mapPage(j);
}

}  // namespace

// The held writes of a span, kept as the journal record they will be committed as: the
// record's head (filled in at the commit), then each entry's head and a write's bytes. The
// commit adds the checksum and writes the buffer as it stands; the in-place writes and the
// reads of the span take the bytes from it.
struct journal4held {
    struct Entry {
        int8_t slot;
        int8_t kind;
        int32_t pos;
        int32_t n;
        size_t at;  // of the entry's bytes in record
    };
    std::vector<Entry> entries;
    std::vector<char> record = std::vector<char>(kRecordHead);
    int64_t ends[journal4slots] = {};

    // Keeps the buffers' memory: the next span reuses it.
    void clear() {
        entries.clear();
        record.resize(kRecordHead);
        std::fill(std::begin(ends), std::end(ends), 0);
    }
    // The bytes held so far, entry heads included.
    int64_t size() const { return int64_t(record.size()) - kRecordHead; }
};

const char* journal4bootId() {
    std::lock_guard<std::mutex> hold(bootLock);
    if (!bootOverride.empty()) return bootOverride.c_str();
    if (bootCached.empty()) {
        char id[kBootBytes] = {};
        const int fd = ::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
        ssize_t got = fd >= 0 ? read(fd, id, sizeof id - 1) : -1;
        if (fd >= 0) ::close(fd);
        while (got > 0 && (id[got - 1] == '\n' || id[got - 1] == ' ')) --got;
        // Without a boot id every open counts as a new boot: always safe, only slower.
        bootCached = got > 0 ? std::string(id, size_t(got)) : "unknown";
    }
    return bootCached.c_str();
}

void journal4setBootIdForTest(const char* id) {
    std::lock_guard<std::mutex> hold(bootLock);
    bootOverride = id != nullptr ? std::string(id).substr(0, kBootBytes - 1) : "";
}

int32_t journal4open(journal4* j, env4* env, const char* name, const char* seqName,
                     const char* const names[journal4slots]) {
    std::memset(j, 0, sizeof *j);
    j->changes.sound = file4seqNone;
    j->env = env;
    j->limit = kDefaultLimit;
    j->length = -1;
    j->file.kind = file4kindOther;
    const int8_t errOpen = int8_t(env->errOpen), errCreate = int8_t(env->errCreate),
                 safety = env->safety;
    env->errOpen = 0;
    env->errCreate = 0;
    env->safety = 1;
    int32_t rc = file4open(&j->file, env, name, 1);
    // Made by the first writer (never by a reader); another one may make it at the same moment.
    if (rc == r4noOpen && env->readOnly != 1) rc = file4create(&j->file, env, name, 1);
    if (rc == r4noCreate) rc = file4open(&j->file, env, name, 1);
    env->errOpen = errOpen;
    env->errCreate = errCreate;
    env->safety = safety;
    if (rc == 0 && (file4setReadAhead(&j->file, 0) != 0 || file4setWriteBehind(&j->file, 0) != 0))
        rc = error4code(env);
    if (rc != 0) {
        if (file4isOpen(&j->file)) (void)file4close(&j->file);
        if (rc > 0) rc = error4raiseText(env, e4open, E4LOC(90951), name);
        return rc;
    }
    j->held = new journal4held;
    j->open = 1;
    openSequence(j, seqName, env->readOnly == 1);
    for (int i = 0; i < journal4slots; ++i) {
        if (names[i] == nullptr) continue;
        const int32_t len = int32_t(std::strlen(names[i])) + 1;
        j->names[i] = static_cast<char*>(mem4alloc(len));
        if (j->names[i] == nullptr) {
            journal4close(j);
            return error4raise(env, e4memory, E4LOC(90952));
        }
        std::memcpy(j->names[i], names[i], size_t(len));
    }
    return 0;
}

void journal4close(journal4* j) {
    if (!j->open && j->held == nullptr) return;
    for (int i = 0; i < journal4slots; ++i) {
        journal4attach(j, i, nullptr);
        if (j->names[i] != nullptr) mem4free(j->names[i]);
        j->names[i] = nullptr;
    }
    delete j->held;
    j->held = nullptr;
    file4seqEnd(&j->changes);  // only ever open under the lock, which this handle still holds
    if (j->page != nullptr) munmap(j->page, journal4seqSize);
    j->page = nullptr;
    j->changes.word = nullptr;
    if (j->seqFd >= 0) ::close(j->seqFd);
    j->seqFd = -1;
    if (j->seqName != nullptr) mem4free(j->seqName);
    j->seqName = nullptr;
    if (j->open && file4isOpen(&j->file)) (void)file4close(&j->file);
    j->open = j->holding = j->ready = 0;
}

void journal4attach(journal4* j, int slot, file4* f) {
    if (slot < 0 || slot >= journal4slots) return;
    if (j->files[slot] != nullptr) j->files[slot]->journal = nullptr;
    j->files[slot] = f;
    if (f != nullptr) {
        f->journal = j;
        f->journalSlot = int8_t(slot);
    }
}

bool journal4mayNeedRecovery(journal4* j) {
    if (!j->open) return false;
    Header h;
    if (readHeader(j, &h) != 0) {
        (void)error4setCode(j->env, 0);
        return true;
    }
    if (h.empty) return false;  // made a moment ago, nothing in it yet
    char head[kRecordHead];
    return !h.valid || !h.markValid || std::strcmp(h.boot, journal4bootId()) != 0 ||
           h.appliedSeq > h.checkpointSeq || recordStarts(j, h.appliedEnd, h.appliedSeq + 1, head);
}

int32_t journal4recover(journal4* j) {
    if (!j->open) return 0;
    j->ready = 0;
    Header h;
    if (int32_t rc = readHeader(j, &h)) return rc;
    if (!h.valid) {
        // A journal never written, or one whose header is damaged: with no checkpoint to go
        // by no record in it can be told from a stale one, so none is used. The files are
        // synced first, which is all a checkpoint promises.
        if (!h.empty && !syncFiles(j))
            return error4raiseText(j->env, e4bufFlush, E4LOC(90953), j->file.name);
        j->seq = 0;
        if (int32_t rc = resetJournal(j, true)) return rc;
        if (int32_t rc = becomeReady(j)) return rc;
        return h.empty ? 0 : 2;
    }
    const bool sameBoot = std::strcmp(h.boot, journal4bootId()) == 0;
    // Another process's checkpoint may have cut the journal: its length is asked again.
    if (h.checkpointSeq != j->checkpointSeq) j->length = -1;
    j->checkpointSeq = h.checkpointSeq;
    char head[kRecordHead];
    if (sameBoot && h.markValid && !recordStarts(j, h.appliedEnd, h.appliedSeq + 1, head)) {
        j->seq = h.appliedSeq;
        j->end = h.appliedEnd;
        return becomeReady(j);
    }
    const int32_t length = file4length(&j->file);
    if (length < 0) return length;
    // After another boot the files may lack anything written since the checkpoint; otherwise
    // only what follows the last applied record may be missing.
    int64_t at = journal4headerSize;
    uint64_t seq = h.checkpointSeq;
    if (sameBoot && h.markValid) {
        at = h.appliedEnd;
        seq = h.appliedSeq;
    }
    int fds[journal4slots];
    std::fill(std::begin(fds), std::end(fds), -1);
    bool ok = true, replayed = false;
    for (;;) {
        Record r;
        if (!readRecord(j, at, length, seq + 1, &r)) break;
        if (!replayed) {
            // Readers elsewhere must not trust a read while the files are written, nor this
            // handle what it holds of them: the records are another writer's.
            if (mapUnderLock(j) != 0) {
                ok = false;
                break;
            }
            j->changes.sound = file4seqNone;
            file4seqBegin(&j->changes);
            for (int i = 0; i < journal4slots && ok; ++i)
                if (j->names[i] != nullptr) {
                    fds[i] = ::open(j->names[i], O_RDWR | O_CLOEXEC);
                    ok = fds[i] >= 0;
                }
        }
        replayed = true;
        if (!ok || !replayRecord(r, fds)) {
            ok = false;
            break;
        }
        at = r.next;
        seq = r.seq;
    }
    for (int fd : fds)
        if (fd >= 0) ::close(fd);
    if (error4code(j->env) < 0) return error4code(j->env);
    if (!ok) {
        // Left odd: whoever next recovers replays it whole and makes it even.
        j->changes.writing = 0;
        return error4raiseText(j->env, e4write, E4LOC(90954), j->file.name);
    }
    file4seqEnd(&j->changes);
    j->seq = seq;
    j->end = at;
    if (replayed || !sameBoot) {
        if (int32_t rc = journal4checkpoint(j)) return rc;
        if (int32_t rc = becomeReady(j)) return rc;
        return replayed ? 1 : 0;
    }
    // Only a torn record: it never became a commit; the next record goes in its place, and
    // until then it must not look like one that may be.
    const char zeros[kRecordHead] = {};
    int32_t rc = file4write(&j->file, int32_t(at), zeros, kRecordHead);
    if (rc == 0) rc = writeMark(j);
    if (rc < 0) return rc;
    return becomeReady(j);
}

int32_t journal4beginChange(journal4* j) {
    if (!j->open) return 0;
    // A rewrite or a restore in place leaves nothing this handle held to be trusted.
    j->changes.sound = file4seqNone;
    if (int32_t rc = mapUnderLock(j)) return rc;
    file4seqBegin(&j->changes);
    return 0;
}

void journal4endChange(journal4* j) {
    file4seqEnd(&j->changes);
}

bool journal4mapSequence(journal4* j) {
    return j->open && mapPage(j);
}

void journal4begin(journal4* j) {
    if (!j->open || !j->ready) return;
    j->held->clear();
    j->holding = 1;
}

namespace {

// Makes room for a record ending at `end`: the journal is extended with zeros, past the end,
// when `end` passes its length. Nothing committed lies past the last record, and zeros never
// read as a record. The record's sync then writes the extension and the new length; the
// commits that follow overwrite what is there and sync their data alone.
int32_t growFor(journal4* j, int64_t end) {
    if (end <= j->length) return 0;
    // Another process may have grown it since: asked only when the known length falls short.
    const int32_t now = file4length(&j->file);
    if (now < 0) return now;
    j->length = now;
    if (end <= now) return 0;
    const int64_t target =
        std::min<int64_t>(INT32_MAX, end + std::min(kGrowStep, std::max<int64_t>(now, 4096)));
    static const char zeros[64 << 10] = {};
    for (int64_t at = std::max<int64_t>(now, end); at < target;) {
        const int32_t n = int32_t(std::min<int64_t>(sizeof zeros, target - at));
        if (int32_t rc = file4write(&j->file, int32_t(at), zeros, n)) {
            j->length = -1;
            return rc;
        }
        at += n;
    }
    j->length = target;
    return 0;
}

// Writes the held entries in place, in the order they were made.
int32_t applyHeld(journal4* j) {
    journal4held& held = *j->held;
    for (const journal4held::Entry& e : held.entries) {
        file4* f = j->files[e.slot];
        if (f == nullptr) continue;
        if (e.kind == kWrite) {
            if (file4writeLow(f, e.pos, held.record.data() + e.at, e.n) != e.n)
                return error4raiseText(j->env, e4write, E4LOC(90955), f->name);
        } else {
            if (ftruncate(f->fd, e.pos) != 0)
                return error4raiseText(j->env, e4lenSet, E4LOC(90956), f->name);
            file4noteLength(f);
            if (f->diskEnd >= 0) f->diskEnd = e.pos;
        }
    }
    return 0;
}

}  // namespace

int32_t journal4commit(journal4* j) {
    if (!j->open || !j->holding || j->held->entries.empty()) return 0;
    if (error4pending(j->env)) return e4codeBase;
    journal4held& held = *j->held;
    const size_t payload = held.record.size() - kRecordHead;
    int32_t rc = 0;
    try {
        held.record.resize(held.record.size() + 8);
    } catch (const std::bad_alloc&) {
        rc = error4raise(j->env, e4memory, E4LOC(90960));
    }
    const int64_t at = j->end;
    if (rc == 0) {
        char* p = held.record.data();
        std::memcpy(p, kRecordMagic, 4);
        put32(p + 4, uint32_t(held.entries.size()));
        put64(p + 8, j->seq + 1);
        put32(p + 16, uint32_t(payload));
        put32(p + 20, kLaneChecksum);
        put64(p + kRecordHead + payload, checksumLanes(p, kRecordHead + payload));
        if (at + int64_t(held.record.size()) > INT32_MAX)
            rc = error4raise(j->env, e4write, E4LOC(90957));
    }
    if (rc == 0) rc = growFor(j, at + int64_t(held.record.size()));
    if (rc == 0)
        rc = file4write(&j->file, int32_t(at), held.record.data(), int32_t(held.record.size()));
    if (rc == 0) rc = syncJournal(j);
    if (rc != 0) {
        // Not committed: whatever of the record reached the journal must never count.
        held.clear();
        const int32_t code = error4setCode(j->env, 0);
        j->length = -1;
        if (file4setLength(&j->file, int32_t(at)) == 0) (void)syncJournal(j);
        (void)error4setCode(j->env, code);
        return rc;
    }
    ++j->seq;
    j->end = at + int64_t(held.record.size());
    ++j->commits;
    // Committed: the in-place writes follow, then the mark saying they were made. Readers
    // elsewhere see the sequence odd while they are made.
    j->holding = 0;
    file4seqBegin(&j->changes);
    rc = applyHeld(j);
    held.clear();
    j->holding = 1;
    if (rc < 0) {
        // Left odd, as by a writer that died here: replayed by whoever next takes the lock,
        // which then makes it even.
        j->changes.writing = 0;
        return rc;
    }
    file4seqEnd(&j->changes);
    if ((rc = writeMark(j)) < 0) return rc;
    if (j->end > j->limit) return journal4checkpoint(j);
    return 0;
}

void journal4discard(journal4* j) {
    if (j->held != nullptr) j->held->clear();
}

int32_t journal4end(journal4* j) {
    if (!j->open || !j->holding) return 0;
    const int32_t rc = journal4commit(j);
    j->held->clear();
    j->holding = 0;
    return rc;
}

int32_t journal4checkpoint(journal4* j) {
    if (!j->open) return 0;
    if (!syncFiles(j)) return error4raiseText(j->env, e4bufFlush, E4LOC(90958), j->file.name);
    return resetJournal(j, false);
}

namespace {

// Appends an entry's head and its `n` bytes to the held record: 0, or an error when memory
// runs out (then nothing of it is held).
int32_t appendEntry(file4* f, int8_t kind, int32_t pos, int32_t n, const void* data) {
    journal4held& held = *f->journal->held;
    const size_t start = held.record.size();
    const int32_t bytes = kind == kWrite ? n : 0;
    try {
        // The bytes first: an entry is never left pointing past them.
        held.record.resize(start + kEntryHead + size_t(bytes));
        held.entries.push_back({f->journalSlot, kind, pos, n, start + kEntryHead});
    } catch (const std::bad_alloc&) {
        held.record.resize(start);
        return error4raise(f->env, e4memory, E4LOC(90959));
    }
    char* p = held.record.data() + start;
    p[0] = char(f->journalSlot);
    p[1] = char(kind);
    p[2] = p[3] = 0;
    put32(p + 4, uint32_t(pos));
    put32(p + 8, uint32_t(n));
    if (bytes > 0) std::memcpy(p + kEntryHead, data, size_t(bytes));
    return 0;
}

// A write that starts within or right at the end of the span's last write, of the same file,
// and reaches at least as far, is folded into it: one entry and one in-place write instead of
// two. Written in place from its start, the folded image gives every byte its last value, and
// no byte of the earlier write comes after a byte of the later one, so the order that readers
// without the lock rely on (a file's change counter after what it covers) still holds.
// True when folded; false when it must be an entry of its own (or memory ran out: nothing
// changed then, and the entry of its own reports it).
bool foldIntoLast(file4* f, int32_t pos, const void* data, int32_t n) {
    journal4held& held = *f->journal->held;
    if (held.entries.empty()) return false;
    journal4held::Entry& e = held.entries.back();
    const int64_t end = int64_t{e.pos} + e.n;
    if (e.slot != f->journalSlot || e.kind != kWrite || pos < e.pos || pos > end ||
        int64_t{pos} + n < end)
        return false;
    const int32_t grown = int32_t(int64_t{pos} + n - e.pos);
    try {
        held.record.resize(e.at + size_t(grown));  // the last entry's bytes end the record
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(held.record.data() + e.at + (pos - e.pos), data, size_t(n));
    e.n = grown;
    put32(held.record.data() + e.at - kEntryHead + 8, uint32_t(grown));
    return true;
}

}  // namespace

int32_t journal4hold(file4* f, int32_t pos, const void* data, int32_t n) {
    journal4* j = f->journal;
    if (!foldIntoLast(f, pos, data, n))
        if (int32_t rc = appendEntry(f, kWrite, pos, n, data)) return rc;
    int64_t& heldEnd = j->held->ends[f->journalSlot];
    heldEnd = std::max(heldEnd, int64_t{pos} + n);
    if (j->held->size() > journal4holdLimit) return journal4commit(j);
    return 0;
}

int32_t journal4holdLength(file4* f, int32_t length) {
    journal4* j = f->journal;
    if (int32_t rc = appendEntry(f, kLength, length, length, nullptr)) return rc;
    // A held length would have to cut the held writes past it: committed at once instead.
    return journal4commit(j);
}

int32_t journal4overlay(const file4* f, int32_t pos, void* data, int32_t n, int32_t got) {
    const journal4held& held = *f->journal->held;
    const int64_t end = int64_t{pos} + n;
    auto* out = static_cast<char*>(data);
    for (const journal4held::Entry& e : held.entries) {
        if (e.slot != f->journalSlot || e.kind != kWrite) continue;
        const int64_t from = std::max<int64_t>(pos, e.pos);
        const int64_t to = std::min<int64_t>(end, int64_t{e.pos} + e.n);
        if (from >= to) continue;
        // Bytes between the disk's end and a held write past it read as zeros, as a file
        // extended by that write would give them.
        if (from - pos > got) std::memset(out + got, 0, size_t(from - pos - got));
        std::memcpy(out + (from - pos), held.record.data() + e.at + (from - e.pos),
                    size_t(to - from));
        got = std::max<int32_t>(got, int32_t(to - pos));
    }
    return got;
}

int64_t journal4heldEnd(const file4* f) {
    return f->journal->held->ends[f->journalSlot];
}

int32_t journal4forget(file4* f) {
    journal4* j = f->journal;
    int32_t rc = 0;
    if (j->holding) rc = journal4commit(j);
    journal4attach(j, f->journalSlot, nullptr);
    return rc;
}
