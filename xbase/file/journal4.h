#pragma once
// Commit journal: one synced record per commit in place of a sync of every file written.
//
// A journal serves a fixed set of files (slots). While a span is open (journal4begin), every
// write of an attached file is held in memory instead of reaching the file; reads and lengths
// of the file see the held bytes. journal4commit appends the held writes as one record to the
// journal file and syncs it (the commit point), then writes them in place in the order they
// were made, without a sync, and marks the record applied. A checkpoint syncs the files and
// empties the journal; it runs when the journal passes its limit and when asked.
//
// Whoever holds the lock that serialises writers recovers (journal4recover): a committed
// record not marked applied is written in place again, and after a restart of the machine
// (another boot id in the header) every record since the checkpoint is, since the in-place
// writes made without a sync may be lost while the marks survived. A torn or damaged record
// ends the journal: it never became a commit. Replay writes whole images, so it may run twice.
// Writes under a span must be ones that a kill at any point leaves sound: a spill (held bytes
// past journal4holdLimit) commits what is held so far as a record of its own.
//
// Beside the journal lies the database's change sequence (file4seq, file4.h): a file of one
// page that every handle of a shared open maps and nobody syncs. Commits and replays move it
// around their in-place writes. It is made long enough under the lock and never cut.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/file/file4.h"

constexpr int journal4slots = 4;
constexpr int32_t journal4headerSize = 1024;  // the header sector and the applied-mark sector
constexpr int32_t journal4seqSize = 4096;     // the sequence file's mapped page

struct journal4held;

struct journal4 {
    file4 file;  // the journal file, unbuffered
    env4* env;
    file4* files[journal4slots];  // the live handles of the slots (may be null)
    char* names[journal4slots];   // their names, for a replay (library memory)
    journal4held* held;           // writes of the open span not yet committed
    int8_t open;                  // the journal file is open
    int8_t holding;               // a span is open: writes of attached files are held
    int8_t ready;                 // the header was read under the lock: end and seq hold
    int64_t end;                  // where the next record goes
    uint64_t seq;                 // the sequence number of the last record
    uint64_t checkpointSeq;       // records up to it are in the files, synced
    int64_t limit;                // journal length past which a commit checkpoints
    int32_t commits;              // records this handle appended since its last checkpoint
    int seqFd;                    // the sequence file, -1 when it cannot be had
    int8_t seqWritable;           // opened for writing
    char* seqName;                // its name (library memory)
    void* page;                   // its mapped page, or null
    file4seq changes;             // the change sequence (word null while unmapped)
    int64_t length;               // the journal file's length as last seen, -1 unknown
};

// Opens (creating when missing) the journal `name`, and its change sequence `seqName`, for the
// files named in `names` (null for an unused slot): 0 or an error. A read-only environment
// opens those that are there, for the change sequence only.
[[nodiscard]] int32_t journal4open(journal4* j, env4* env, const char* name, const char* seqName,
                                   const char* const names[journal4slots]);
// Forgets held writes, detaches the files and closes the journal file.
void journal4close(journal4* j);
// Holds the writes of `f` under spans as slot `slot` (f null detaches the slot).
void journal4attach(journal4* j, int slot, file4* f);

// Without the lock, a hint: true when the journal may hold records not in place, or records
// of another boot. journal4recover decides under the lock.
bool journal4mayNeedRecovery(journal4* j);
// Under the lock: reads the header, replays what must be replayed (through handles of its own)
// and checkpoints after a replay. 0 nothing replayed, 1 replayed (the caller's view of the
// files is stale), or an error; a damaged header is reset after the files are synced (2).
[[nodiscard]] int32_t journal4recover(journal4* j);

// Under the lock, around in-place writes of the journal's files made outside a commit (a
// repair, a rewrite, a restore): readers stop trusting single reads of the disk from begin
// to end. begin maps the sequence when it is not yet: 0, or an error when it cannot be had
// (no write may then be made, since other handles may trust theirs).
[[nodiscard]] int32_t journal4beginChange(journal4* j);
void journal4endChange(journal4* j);
// Maps the change sequence where its file is long enough already, for a handle that may not
// take the lock (a reader): true when mapped.
bool journal4mapSequence(journal4* j);

// Under the lock, after journal4recover: holds writes of the attached files until commit.
void journal4begin(journal4* j);
// Commits the held writes (nothing held: nothing written): 0 or an error, when nothing of the
// held writes reached the files and the held writes are gone.
[[nodiscard]] int32_t journal4commit(journal4* j);
// Forgets the held writes: none of them reaches the files.
void journal4discard(journal4* j);
// Ends the span: held writes are committed first (0 or the commit's error).
[[nodiscard]] int32_t journal4end(journal4* j);
// Under the lock: syncs every file of the journal, then empties the journal and syncs that.
[[nodiscard]] int32_t journal4checkpoint(journal4* j);

// The file layer's side (file4.cpp): true when this write of `f` is held. Asked at every read
// and write of a file: inline.
inline bool journal4holds(const file4* f) {
    return f->journal != nullptr && f->journal->holding;
}
// Holds a write of `f` (journal4holds true): 0, or an error when memory runs out.
[[nodiscard]] int32_t journal4hold(file4* f, int32_t pos, const void* data, int32_t n);
// Holds a new length of `f` and commits at once: 0 or an error.
[[nodiscard]] int32_t journal4holdLength(file4* f, int32_t length);
// Lays held bytes of `f` over a read of `n` bytes at `pos` that got `got` bytes from the disk:
// the bytes the read covers now.
int32_t journal4overlay(const file4* f, int32_t pos, void* data, int32_t n, int32_t got);
// The end of the held writes of `f`, 0 when none.
int64_t journal4heldEnd(const file4* f);
// The file is about to close: its held writes are committed and its slot let go.
[[nodiscard]] int32_t journal4forget(file4* f);

// The machine's boot id, as the journal header records it; a test may pretend another boot.
const char* journal4bootId();
void journal4setBootIdForTest(const char* id);
// Held bytes past which a span commits what it holds as a record of its own.
constexpr int64_t journal4holdLimit = int64_t{8} << 20;
