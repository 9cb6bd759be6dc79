#pragma once

// Test helper: builds compound index file images by hand with the node codecs, bottom-up
// and each node written once, in the layout a rebuild gives (directory header at 0, tag k's
// header at k x 1024, the directory's tree and then each tag's tree from the first unit
// after the headers). Also runs the independent reader index_dump over a file, and writes
// images to files.

#include <cstdint>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "xbase/index4check.h"
#include "xbase/index4header.h"

struct IndexImageTag {
    std::string name;  // at most 10 characters, upper case
    std::string expression = "KEY";
    std::string filter;  // non-empty adds option 8
    int keyLength = 10;
    uint8_t pad = ' ';
    uint8_t options = tag4optCompact | tag4optCompound;  // add unique or candidate here
    bool general = false;
    bool descending = false;
    bool storeTrailingPads = true;  // false writes every trailing count as 0
    // The keys (keyLength bytes each) in any order: the builder sorts them by key, then
    // by record number, as the rebuild's sort does.
    std::vector<index4checkEntry> entries;
};

struct IndexImage {
    std::vector<uint8_t> bytes;
    uint32_t directoryRoot = 0;
    std::vector<uint32_t> roots;  // per tag, in the order given
    std::vector<int> levels;      // per tag
};

// `records` is the data file's record count (it sets the leaves' record-number widths).
// Branch nodes are filled to the smallest branch capacity over all tags and the directory,
// as the rebuild does.
IndexImage buildIndexImage(const std::vector<IndexImageTag>& tags, uint32_t records);

// The two tags of the smallest example file: NAME on UPPER(LAST), 20 bytes, then CITY on
// CITY, 15 bytes (an empty table gives a 4,608-byte file).
inline std::vector<IndexImageTag> nameCityTags() {
    IndexImageTag name, city;
    name.name = "NAME";
    name.expression = "UPPER(LAST)";
    name.keyLength = 20;
    city.name = "CITY";
    city.expression = "CITY";
    city.keyLength = 15;
    return {name, city};
}

// Writes an image to a file (in a TempDir, for instance).
inline void writeImage(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeWhole(path, std::string(bytes.begin(), bytes.end()));
}

// A key of `length` bytes: the text, padded with `pad`.
std::string padKey(const std::string& text, int length, char pad = ' ');

// Runs /usr/bin/index_dump (type "char" or "num") over a tag of a .cdx file and returns its
// output; without a tag name it lists the tags. A reader that is missing or cannot be run
// gives a line saying so, which no expected listing matches.
std::string runIndexDump(const std::string& path, const std::string& tag, const std::string& type);

// Walks one tag of a file in index_dump ("num" for numeric keys given as ordered doubles,
// else "char") and compares it line by line with the entries the checker read: "" when
// they agree, else the first difference in words.
std::string indexDumpDifference(const std::string& path, const index4checkTag& tag, bool numeric);
