#pragma once
// The environment: settings, the pending error and the state every table,
// file and buffer of one caller shares.
//
// The caller owns the record and initialises it in place with `env4init`
// (version 6300). One environment is used by one thread at a time; any number
// may be live in a process. The first live environment starts the library's
// memory module, the last `env4release` (env4release.h) resets it.
//
// Settings are plain fields: change them after `env4init` and before the call
// they should steer.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"

constexpr int32_t env4version = 6300;
constexpr int32_t env4liveMarker = 21121;

struct env4 {
    // Settings (defaults set by env4init).
    int32_t autoOpen;         // 1: open the production index with its data file
    int32_t createTemp;       // 1: create without a name makes a temporary file
    int32_t errCreate;        // 1: refused creation raises -20; 0: quiet 60
    int32_t errOpen;          // 1: failed open raises; 0: quiet 70
    int8_t safety;            // 1: never replace an existing file on create
    int32_t readOnly;         // 1: open every file for reading only
    int8_t accessMode;        // 0 shared, 1 exclusive, 2 others may only read
    int32_t singleOpen;       // 1: a second open of a data file is -69
    int32_t compatibility;    // 30: extended field types and header layout
    int32_t uniqueDefault;    // duplicate-key code of unique tags at open
    int32_t checkNodes;       // index nodes read from disk are checked
    int32_t collation;        // collation of new tags: 0 none, 1 GENERAL
    int32_t codePage;         // code page byte of new data files
    int32_t lockAttempts;     // attempts per lock; negative: forever, 0 counts as 1
    int32_t lockDelay;        // hundredths of a second between lock attempts
    int32_t unlockAuto;       // 0 never, 1 every table before a lock, 2 own table
    int8_t readLock;          // table4go locks each record it reads
    int32_t flushWrites;      // every direct write is flushed
    int32_t errFieldName;     // unknown field name raises -210
    int32_t errGo;            // going beyond the file raises -70 (else quiet 5)
    int32_t errTagName;       // unknown tag name raises -330
    int32_t readAhead;        // 1 on, 0 off, -1 on for read-only or unshared files
    int32_t writeBehind;      // 1 on, 0 off, -1 on for exclusive files
    int32_t bufferPercent;    // share of available memory taken by an automatic start
    int32_t bufferMemory;     // bytes of block-buffer memory
    int32_t blockSize;        // bytes per buffered block (rounded to the sector size)
    int32_t bufferGroupSize;  // bytes per read-ahead or write-behind transfer
    char dateFormat[20];      // picture of dates as text
    char indexExtension[4];   // extension of compound index files; empty: "cdx"
    // First and further counts of the record pools.
    int32_t memStartTable, memExpandTable;  // table handles
    int32_t memStartData, memExpandData;    // data-file records
    int32_t memStartIndex, memExpandIndex;  // index files and their handles
    int32_t memStartTag, memExpandTag;      // tags
    int32_t memStartLock, memExpandLock;    // lock requests
    int32_t memStartSort, memExpandSort;    // sort buffers
    int32_t memSizeSortBuffer;              // bytes of the sort's read buffer
    int32_t memSizeSortPool;                // bytes of each block of the sort's key pool

    // State.
    int32_t errorCode;      // 0, a positive outcome, or a pending negative error
    int32_t errorLocation;  // location of the last raised error
    int32_t initMarker;     // env4liveMarker while live
    int32_t openCounter;    // lock owner numbers of new table handles come from here
    list4 dataFiles;        // open table4file records
    list4 tables;           // open table4 handles
    list4 files;            // every open file4 (the block buffer attaches them)
    char* workBuffer;       // field text returned to callers and the key evaluator's work area
    int32_t workBufferLen;
    char* keyBuffer;  // keys built by the key evaluator, grown on demand
    int32_t keyBufferLen;
    pool4* tablePool;      // table4 handles
    pool4* dataFilePool;   // table4file records
    pool4* indexPool;      // index4 handles
    pool4* indexFilePool;  // index4file records
    pool4* tagPool;        // tag4 handles
    pool4* tagFilePool;    // tag4file records
    pool4* lockPool;       // lock4 entries
    list4 calcs;           // named calculations of the key language
    buffer4state* buffer;  // the block buffer (file4.h); null until first needed

    // The holder of the last refused lock, kept for diagnostics.
    int32_t lockHolderOwner;   // its lock owner number; 0 for another process
    char lockHolderAlias[33];  // its alias; empty for another process

    // Moves with every lock taken and every table handle opened: a caller that found its
    // handles holding nothing knows they still hold nothing while this stays where it was.
    uint64_t lockTakes;
};

// Zero-fills and initialises `env` (version must be 6300, else -1095 and the
// record is not live). Returns 0 or the error.
[[nodiscard]] int32_t env4init(env4* env, int32_t version);
[[nodiscard]] int32_t env4initForward(env4* env);

// True while `env` has been initialised and not released.
inline bool env4isLive(const env4* env) {
    return env != nullptr && env->initMarker == env4liveMarker;
}
