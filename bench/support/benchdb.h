#pragma once
// Seeded databases for the benchmarks: records of free-form values (texts with accents, numbers,
// dates, long notes), several values in some fields, records in sets, and values that link to
// other records. Each record is made from the seed and its index alone, so a benchmark can
// draw any record again (to ask for it, or to check what it read) without holding them all.
//
// The same records go into a database of the engine (bulk: the tables written without their
// indexes, which are built at the end) and into SQLite:
//
//   rows(record INTEGER, field INTEGER, position INTEGER, value TEXT, key BLOB)
//     index rows_record (record, field, position), index rows_value (field, key, record)
//   names(id INTEGER PRIMARY KEY, name TEXT)    index names_name (name COLLATE NOCASE)
//
// where key is the engine's index key of the value and names holds the fields' names.
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvbench {

struct BenchOptions {
    uint32_t seed = 1;
    uint32_t records = 1000000;
    uint32_t fields = 10;          // fields the records use (at most 10); the first is a name
    uint32_t extraFieldNames = 0;  // more field records, named but unused
    uint32_t sets = 3;             // every record belongs to one
    double presence = 0.8;         // chance that a record has a value of a field (the first: 1)
    double multiValued = 0.2;      // chance that a field present holds 2 or 3 values
    double links = 0.05;           // share of values that link to an earlier record's name
    uint32_t linkingFields = 0;    // bit f: field f may link (0: every field but the first)
};

struct BenchValue {
    uint32_t field;
    uint32_t position;    // from 1 within the field
    std::string text;     // Windows-1252; for a link, the linked value's text
    uint32_t linkRecord;  // 0, or the record whose first name value this value links to
};

struct BenchRecord {
    uint32_t id;
    uint32_t set;                    // the set's record ID
    std::vector<BenchValue> values;  // by field, then position
};

class BenchGenerator {
  public:
    explicit BenchGenerator(const BenchOptions& options);

    const BenchOptions& options() const { return options_; }
    // Field i (0 .. fields + extraFieldNames - 1): its record ID and name.
    uint32_t fieldID(uint32_t i) const { return 1001 + i; }
    std::string fieldName(uint32_t i) const;
    uint32_t fieldCount() const { return options_.fields + options_.extraFieldNames; }
    uint32_t setID(uint32_t k) const { return 1001 + fieldCount() + k; }
    std::string setName(uint32_t k) const;
    // Record index 0 .. records - 1.
    uint32_t recordID(uint32_t index) const { return 1001 + fieldCount() + options_.sets + index; }
    BenchRecord record(uint32_t index) const;
    // The first value of the first field of a record: what links point at.
    std::string nameOf(uint32_t index) const;
    // A line of the record for a text import: fields in order joined by TAB, several values of
    // a field by '|', a link as '>' and the linked name.
    std::string importLine(const BenchRecord& record) const;

  private:
    std::string valueText(uint32_t field, uint32_t index, uint32_t position, uint64_t draw) const;
    BenchOptions options_;
};

// Writes the four files of a database at base (which must not exist). False with a reason.
bool writeBenchDatabase(const BenchGenerator& gen, const std::string& base, std::string* error);

// Creates the tables above in an open SQLite database and fills them, in one transaction.
bool writeBenchSqlite(const BenchGenerator& gen, sqlite3* db, std::string* error);

// The index key (30 bytes) that the engine gives a value in a database of key length 30.
std::string benchKey(const std::string& text);

}  // namespace qvbench
