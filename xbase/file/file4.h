#pragma once
// File access: one `file4` per open file, positioned reads and writes,
// length, flush, temporary files, sequential readers and writers, and the
// block buffer that an environment may put under all its files.
//
// Every `file4` owns its own open file description, so its byte-range locks
// and share mode are its own. The share mode of an open comes from the
// environment's `accessMode`: 0 others may read and write, 1 nobody else may
// open the file, 2 others may only read. A conflicting open fails with -62.
//
// Block buffer (`buffer4start`): blocks of `blockSize` bytes (a multiple of
// the 512-byte sector) taken from group-sized pieces of memory. Files with
// read-ahead read through it; files with write-behind write into it and their
// changed blocks reach the disk in runs of consecutive blocks (at most one
// group per transfer) when flushed, dropped, closed, or when the block is
// needed for other data. Blocks are reused from five lists (data, a data
// file's first block, index, index branch nodes, other files), each with its
// own minimum count and age limits, so that branch nodes outlive the stream
// of data blocks and leaves. While buffered, a file's length lives
// in the record; `file4dropBuffers` forgets both blocks and length so that
// other processes' writes are read afresh, at a cost in proportion to the
// blocks the file has in the buffer, whatever the buffer's size.
#include <atomic>
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"

struct journal4;

// The change sequence of a database: one word in a small file beside the commit journal, whose
// page every process that opens the database shared maps (journal4.h). A writer makes it odd
// before its first in-place write to any of the database's files and even again after its
// last, each time a new value; nothing writes them in place otherwise. So a reader that loads an
// even value, reads the disk and finds the same value again read no byte of a write (the odd store
// comes before the write's system call), and a reader that finds the value at which it last checked
// its view knows nothing was written since. Any doubt (no word, odd) means the guarded reads.
struct file4seq {
    uint64_t* word;   // in the shared page; null: no sequence
    int8_t writing;   // this handle made it odd and owes the even store
    uint64_t stored;  // the value of this handle's last even store (its owner may set it too)
    // The value at which every block, node, length and header this handle holds of the
    // database's files was what the disk has (odd: none). Its owner sets it when it lets the
    // lock go; the handle's own stores carry it along while it stands.
    uint64_t sound;
    int8_t follow;  // the store owed moves `sound` with it
};
// The value a reader gets when there is no sequence: odd, so never trusted.
constexpr uint64_t file4seqNone = 1;

// Kinds of file, as the buffer tells them apart.
constexpr int8_t file4kindData = 1;
constexpr int8_t file4kindIndex = 2;
constexpr int8_t file4kindOther = 3;

constexpr int32_t file4sectorSize = 512;

struct file4 {
    link4 link;  // in env4::files while open
    int fd;      // -1 when closed, or for a temporary file not yet on disk
    env4* env;
    char* name;  // full name; owned when nameOwned
    int8_t nameOwned;
    int8_t isReadOnly;  // opened for reading only
    int8_t accessMode;  // 0 shared, 1 exclusive, 2 deny write
    int8_t isTemp;      // deleted when closed
    int8_t onDisk;      // 0: a temporary file living only in the buffer
    int8_t kind;        // file4kindData, file4kindIndex or file4kindOther
    int8_t bufferKind;  // kind while attached to a running buffer, else 0
    int8_t readAhead;   // reads go through the buffer
    int8_t writeBehindWanted;
    int8_t writeBehind;    // writes are held in the buffer
    int32_t len;           // cached length while buffered; -1 unknown
    int32_t diskEnd;       // buffered and written by no other process: no byte at or past
                           // it is on disk (so none need be read); -1 unknown
    int32_t hashOffset;    // block number added to spread files over the hash table
    double advanceRead;    // share of a group read ahead for this file (at most 1.0)
    int32_t advanceBytes;  // bytes this file likes read ahead (a data file: its record)
    void* owner;           // the table4file or index4file holding this file
    int32_t lastBytes;     // the file's first bytes reach the disk after every other changed
                           // byte (an index's root, free list and change counter: a reader that
                           // sees a new counter finds the nodes it stands for); 0: any order
    buffer4block* bufferBlocks;  // the blocks the buffer holds of this file, in no order
    int32_t bufferBlockCount;
    int32_t bufferChangedCount;  // of those, blocks changed since they were read or written
    uint64_t device;             // identity of the open file, for "already open" tests
    uint64_t inode;
    int8_t unsynced;        // this handle wrote since its last sync (or has never synced)
    int8_t lengthUnsynced;  // and the length may differ from what the last full sync stored
    int64_t syncedLength;   // the length at the last full sync; -1 unknown
    journal4* journal;      // holds this file's writes under its spans (journal4.h); or null
    int8_t journalSlot;
    file4seq* seq;  // the database's change sequence (held by its journal); or null
};

// The sequence as now (file4seqNone without one).
inline uint64_t file4seqLoad(const file4* f) {
    if (f->seq == nullptr || f->seq->word == nullptr) return file4seqNone;
    return std::atomic_ref<uint64_t>(*f->seq->word).load(std::memory_order_acquire);
}
// After reads of the disk that followed a load of `before`: true when none of them can have
// seen a byte of an in-place write (before was even and the sequence has not moved).
inline bool file4seqSteady(const file4* f, uint64_t before) {
    if ((before & 1) != 0) return false;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return file4seqLoad(f) == before;
}
// Under the lock, just taken: true when nobody wrote any of the database's files since this
// handle last found its view of them sound (so nothing it holds need be read again).
inline bool file4seqSound(const file4* f) {
    if (f->seq == nullptr || (f->seq->sound & 1) != 0) return false;
    return file4seqLoad(f) == f->seq->sound;
}
// The writer's side, under the lock that serialises writers: begin before the first in-place
// write (the sequence becomes odd; one left odd by a writer that died stays odd), end after the
// last (even, a value not seen before). Without a word both do nothing.
void file4seqBegin(file4seq* s);
void file4seqEnd(file4seq* s);

struct file4seqReader {
    file4* file;
    int32_t pos;  // file position of the next refill
    char* buffer;
    int32_t total;    // buffer size, a multiple of 1024 (0 reads directly)
    int32_t avail;    // bytes in the buffer
    int32_t working;  // of those, bytes not yet handed out
};

struct file4seqWriter {
    file4* file;
    int32_t pos;  // file position of the buffer's first byte
    char* buffer;
    int32_t total;  // buffer size, a multiple of 1024 (0 writes through)
    int32_t avail;  // bytes free in the buffer
};

// Opens an existing file: 0, 70 (quiet failure, errOpen 0) or an error.
[[nodiscard]] int32_t file4open(file4* f, env4* env, const char* name, int copyName);
// Creates a file (a temporary one when name is null): 0, 60 or an error.
[[nodiscard]] int32_t file4create(file4* f, env4* env, const char* name, int copyName);
// Closes (deleting a temporary file); 0, or -1 when an error is pending afterwards.
[[nodiscard]] int32_t file4close(file4* f);
bool file4isOpen(const file4* f);

// Reads from disk, past the buffer: bytes read (short at the end), -1 while an
// error is pending, or the error.
[[nodiscard]] int32_t file4readLow(file4* f, int32_t pos, void* buffer, int32_t n);
// file4readLow for the file layer's own reads, which checked the request and that no error is
// pending: bytes read, or 0 with the error raised.
[[nodiscard]] int32_t file4readDisk(file4* f, int32_t pos, void* buffer, int32_t n);
// Waits, where the file system lets a reader do so, until a write to the file that another
// process or thread has in progress ends.
void file4awaitWrite(file4* f, int32_t pos);
// Whole sectors within one buffered block that a reader without the lock read twice from
// the disk alike (file4settle): they stand for the disk until the block is dropped, refilled
// or written, as nodes a reader holds in memory do. file4readSettled copies them out and
// returns n, or returns 0 (nothing read) when the buffer does not hold them so; it never reads
// the disk. file4settle stores such bytes into the block when the buffer holds it.
[[nodiscard]] int32_t file4readSettled(file4* f, int32_t pos, void* buffer, int32_t n);
void file4settle(file4* f, int32_t pos, const void* buffer, int32_t n);
// Reads through the buffer when the file uses it.
[[nodiscard]] int32_t file4read(file4* f, int32_t pos, void* buffer, int32_t n);
// As file4read, but fewer than n bytes is -70.
[[nodiscard]] int32_t file4readAll(file4* f, int32_t pos, void* buffer, int32_t n);
// Writes to disk, past the buffer: bytes written.
[[nodiscard]] int32_t file4writeLow(file4* f, int32_t pos, const void* buffer, int32_t n);
// Writes all n bytes (into the buffer with write-behind): 0 or an error.
[[nodiscard]] int32_t file4write(file4* f, int32_t pos, const void* buffer, int32_t n);
[[nodiscard]] int32_t file4length(file4* f);
[[nodiscard]] int32_t file4setLength(file4* f, int32_t length);
[[nodiscard]] int32_t file4flush(file4* f);
// What the next flush must sync after a write that reached the disk up to `end`, or after the
// length was set. Every write of the descriptor goes through these.
void file4noteWrite(file4* f, int64_t end);
void file4noteLength(file4* f);
// Writes the file's changed blocks held by write-behind to disk, without asking
// the device to keep them (as file4flush does): 0 or the error.
[[nodiscard]] int32_t file4writeBack(file4* f);
[[nodiscard]] int32_t file4dropBuffers(file4* f);
// How many blocks the buffer holds of the file (0 when unbuffered).
int32_t file4bufferedBlocks(const file4* f);
// Gives a temporary file that so far lives in the buffer its real file: 0 or
// the error.
[[nodiscard]] int32_t file4tempToDisk(file4* f);

void file4seqReadInit(file4seqReader* r, file4* f, int32_t pos, void* buffer, int32_t size);
[[nodiscard]] int32_t file4seqRead(file4seqReader* r, void* buffer, int32_t n);
[[nodiscard]] int32_t file4seqReadAll(file4seqReader* r, void* buffer, int32_t n);
void file4seqWriteInit(file4seqWriter* w, file4* f, int32_t pos, void* buffer, int32_t size);
[[nodiscard]] int32_t file4seqWrite(file4seqWriter* w, const void* buffer, int32_t n);
[[nodiscard]] int32_t file4seqWriteRepeat(file4seqWriter* w, int32_t n, char byte);
[[nodiscard]] int32_t file4seqWriteFlush(file4seqWriter* w);

// One byte-range lock on `f` (an open-file-description lock, exclusive) with
// retries as the environment's lockAttempts and lockDelay say: 0, 50 (still
// locked) or an error (-930 negative range, -50 refused by the system for
// another reason). A file opened read-only or not shared takes no system lock.
[[nodiscard]] int32_t file4lock(file4* f, int64_t position, int64_t length);
// Releases a range locked through `f`, writing back what write-behind holds of
// the file first, so that the next holder reads it: 0 or -110.
[[nodiscard]] int32_t file4unlock(file4* f, int64_t position, int64_t length);
// The release of file4unlock without its entry checks and without raising (the
// write-back is skipped while an error is pending): true when released.
bool file4unlockLow(file4* f, int64_t position, int64_t length);

// Starts the environment's block buffer with `bufferMemory` bytes: 0, -1 when
// not even one group can be had, or an error.
[[nodiscard]] int32_t buffer4start(env4* env);
// The memory a buffer started with the environment's settings takes beside its
// `bufferMemory` (block descriptors, the hash table, the transfer areas), at most,
// so that a caller can count the whole buffer in a memory budget.
int64_t buffer4overheadBytes(const env4* env);
// Writes back and frees every block, detaches every file and keeps buffering
// from starting by itself: 0 or -620 (nothing is freed then).
[[nodiscard]] int32_t buffer4suspend(env4* env);
// Frees whatever the buffer holds, its state included (releasing the environment).
void buffer4release(env4* env);
[[nodiscard]] int32_t buffer4startForward(env4* env);
[[nodiscard]] int32_t buffer4suspendForward(env4* env);

// Library memory (mem4alloc); when it runs out while the buffer runs, the buffer
// is suspended, the allocation tried once more and the buffer started again.
[[nodiscard]] void* u4allocAgain(env4* env, int32_t size);
// Replaces *buffer (of *length bytes) by one of newLength bytes holding the old
// contents, through u4allocAgain: 0, or -920 when memory runs out.
[[nodiscard]] int32_t u4growBuffer(env4* env, char** buffer, int32_t* length, int32_t newLength);

// Turns read-ahead or write-behind of one file on (1) or off (0); turning
// write-behind off writes the held blocks back first.
[[nodiscard]] int32_t file4setReadAhead(file4* f, int on);
[[nodiscard]] int32_t file4setWriteBehind(file4* f, int on);

// Test hook for the failure paths: from now on the nth write to disk (1: the next one) of a
// file of `kind` (0: any kind) writes the first half of its bytes and then fails, as a full
// or failing disk does. Only that one write fails; 0 disarms. One setting for the process;
// while disarmed it costs writes one test of a flag.
void file4failWrite(int8_t kind, int32_t nth);
// Test hook for crash safety: the nth write to disk of a file of `kind` (0: any kind) writes all
// of its bytes (half: the first half) and then ends the process at once with file4exitCode, as
// a kill between two writes (or in the middle of one) would. 0 disarms; file4failWrite resets it.
void file4exitAtWrite(int8_t kind, int32_t nth, bool half);
constexpr int file4exitCode = 86;
