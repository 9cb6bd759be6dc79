#pragma once

// The structural checker of a compound index file. It reads the file with plain POSIX
// reads (or takes an image in memory), so it checks files written by anyone, and it is
// safe on garbage: every offset is bounds-checked, descent depth is bounded, and cycles
// (in trees, sibling chains and the free list) are detected rather than followed.
//
// For each tag listed in the directory it checks: every branch entry equals the last key
// and record number of its child; sibling offsets agree on every level; leaf arithmetic is
// exact (free bytes = 488 - count x E - stored bytes); keys ascend (memcmp, equal keys by
// ascending record number, no equal keys in unique or candidate tags); no duplicate count
// reaches into the previous key's trailing pads; every node is reachable once. For the
// file: reachable nodes, free nodes and headers account for every 512-byte unit, and the
// free list has no cycle.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "xbase/index4header.h"

struct index4checkEntry {
    std::string key;  // the full key, K bytes
    uint32_t record = 0;
    bool operator==(const index4checkEntry&) const = default;
};

struct index4checkTag {
    std::string name;  // blanks removed; empty for a single-tag file
    uint32_t headerOffset = 0;
    tag4header header;
    uint8_t pad = 0;                        // pad byte the keys were rebuilt with
    int levels = 0;                         // 1 for a tag whose root is a leaf
    std::vector<index4checkEntry> entries;  // in stored (ascending) order
};

struct index4checkReport {
    std::vector<std::string> problems;  // empty when the file is sound
    std::vector<index4checkTag> tags;   // in directory order
    std::vector<index4checkEntry> directory;
    uint32_t freeNodes = 0;
};

struct index4checkOptions {
    // Pad byte of a tag's keys by tag name. A tag not listed gets 0 under the GENERAL
    // collation, and otherwise whichever of blank and 0 makes its tree consistent.
    std::map<std::string, uint8_t> pads;
    size_t maxProblems = 100;  // more are counted in one last line
};

// 0 when the file was examined (the report says whether it is sound); -935 for null
// arguments; -60 when the file cannot be opened, -70 when it cannot be read whole.
[[nodiscard]] int index4checkFile(const char* path, index4checkReport* report,
                                  const index4checkOptions& options = {});
[[nodiscard]] int index4checkImage(const uint8_t* data, size_t size, index4checkReport* report,
                                   const index4checkOptions& options = {});
