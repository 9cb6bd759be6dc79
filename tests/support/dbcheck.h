#pragma once
// The on-disk checker of a database: reads the four files of a database with its own code
// (the engine is not used; the table library only for the structural check of the index
// files) and reports each fault under the rule it breaks:
//   1  table headers: versions, fields, widths and the record count against the file length
//   2  rows: no zero byte in columns A to E, F has bit 0, a free row has A = 0 and '*'
//   3  value numbers: each live E has a readable chain and one owner row, an untied
//      membership row (0x41) owns a "?" chain, link rows point at an owned E
//   4  D is the key of the value's text; positions are unique per (A, B)
//   5  chunks: live ones belong to a referenced chain, free ones are A = 0 and '*'
//   6  the next-ID counter of record 51 is above every record ID
//   7  a member of a set has one tied membership row per value of the set's first field,
//      or one "?" row when it has none
//   8  index files: sound structure, the engine's tags, and every tag holding exactly the
//      keys made from the rows
// Keys of dates depend on the user's day/month order, which the caller gives.
#include <cstdint>
#include <string>
#include <vector>

namespace dbcheck {

struct Finding {
    int rule = 0;
    std::string text;
};

struct FieldLayout {
    std::string name;
    char type = 0;
    int length = 0;
    int decimals = 0;
    int offset = 0;  // in the record; the deletion byte is offset 0
};

struct TableLayout {
    bool found = false;
    std::string path;
    int version = 0;
    int headerLength = 0;
    int recordWidth = 0;
    int64_t count = 0;
    int64_t fileLength = 0;
    std::vector<FieldLayout> fields;
};

struct TagLayout {
    std::string name;
    std::string expression;
    int keyLength = 0;
    size_t entries = 0;
};

struct Layout {
    TableLayout rows, dictionary;
    std::string rowIndexPath, dictionaryIndexPath;
    std::vector<TagLayout> rowTags, dictionaryTags;
    int lenID = 0, lenKey = 0, lenChunk = 0;
};

// One row of the row table as stored, numbered from 1.
struct StoredRow {
    int32_t number = 0;
    bool deleted = false;
    uint32_t a = 0, b = 0, c = 0, e = 0;
    uint8_t f = 0;
    std::string d;
};

// One chunk of the dictionary table as stored, numbered from 1.
struct StoredChunk {
    int32_t number = 0;
    bool deleted = false;
    uint32_t chain = 0, seq = 0;
    std::string bytes;
};

struct Options {
    bool dayFirst = false;
    size_t maxFindings = 200;  // further findings are counted in one last line
};

struct Report {
    Layout layout;
    std::vector<StoredRow> rows;
    std::vector<StoredChunk> chunks;
    std::vector<Finding> findings;

    bool sound() const { return findings.empty(); }
    bool has(int rule) const;
    // The rules broken, each once, ascending.
    std::vector<int> rules() const;
    // One finding a line, "rule n: text".
    std::string text() const;
};

// base: the database's path without extension; each file is found by its extension in any
// letter case.
Report checkDatabase(const std::string& base, const Options& options = {});

// The path of base + "." + ext in whichever letter case exists (upper case when none does).
std::string findExtension(const std::string& base, const std::string& ext);

}  // namespace dbcheck
