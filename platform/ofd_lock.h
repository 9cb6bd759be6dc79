#pragma once
// Byte-range locks that belong to one open file description.
//
// Classic fcntl record locks belong to the process: closing any descriptor of
// a file drops every lock the process holds on it, and two handles of one
// process never exclude each other. Open-file-description locks (F_OFD_*)
// belong to the descriptor's open file description instead, so every handle
// opened with its own open() call locks against every other one, in this
// process or another.
#include <cstdint>

namespace qv {

enum class OfdResult { ok, busy, failed };

// Tries once to lock [start, start + length); exclusive needs a descriptor
// open for writing, shared one open for reading. busy: another description
// holds a conflicting lock. failed: the system refused for another reason
// (errno says why).
OfdResult ofdTryLock(int fd, int64_t start, int64_t length, bool exclusive);

// Waits until [start, start + length) can be locked, then locks it; true on success. The wait
// ends when the holding description is closed, which also happens when its process dies.
bool ofdLockWait(int fd, int64_t start, int64_t length, bool exclusive);

// Releases [start, start + length) held by this description; true on success.
bool ofdUnlock(int fd, int64_t start, int64_t length);

// True when another open file description holds a lock on the range that
// would conflict with an exclusive lock (that is, any lock at all). Locks of
// this description are not counted. False also when the test itself fails.
bool ofdHeldByOther(int fd, int64_t start, int64_t length);

}  // namespace qv
