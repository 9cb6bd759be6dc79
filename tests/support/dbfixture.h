#pragma once
// Builds the four files of a database from rows and chunks given by hand, in any state the
// test needs: sound databases made through the helpers below, broken ones by changing the
// rows, chunks or bytes afterwards. The tables are written with this builder's own code; the
// index files are built from the written tables by the table library.
#include <cstdint>
#include <string>
#include <vector>

namespace dbcheck {

struct FixtureRow {
    uint32_t a = 0, b = 0, c = 1, e = 0;
    uint8_t f = 1;
    bool deleted = false;
    std::string d;  // lenKey bytes (shorter is padded with 17)
};

struct FixtureChunk {
    uint32_t chain = 0, seq = 0;
    std::string bytes;  // lenChunk bytes (shorter is padded with zeros)
    bool deleted = false;
};

class Fixture {
  public:
    explicit Fixture(int lenID = 3, int lenKey = 30, int lenChunk = 30);

    int lenID, lenKey, lenChunk;
    std::string chunkField = "C600";
    bool dayFirst = false;  // the date order the keys are made in
    std::vector<FixtureRow> rows;
    std::vector<FixtureChunk> chunks;

    // A new chain holding text (stored uncompressed, with its terminating zero).
    uint32_t chain(const std::string& text);
    // The text of a chain as written (empty when there is none).
    std::string textOf(uint32_t chain) const;
    // The key of a text in this database's key length and date order.
    std::string keyOf(const std::string& text) const;

    // An owner row with a new chain: its value number.
    uint32_t value(uint32_t record, uint32_t type, uint32_t position, const std::string& text,
                   uint8_t flags = 1);
    // A link row to value number e (its D is the key of e's text).
    void link(uint32_t record, uint32_t type, uint32_t position, uint32_t e, uint8_t flags = 0x81);
    // A free row: A, B, E 0, deleted.
    void freeRow();
    // Record 51's next-ID counter.
    void counter(uint32_t next);
    // A field record named name; its name's value number.
    uint32_t field(uint32_t id, const std::string& name);
    // A set record named name whose field list links to the fields' name values.
    void set(uint32_t id, const std::string& name, const std::vector<uint32_t>& fieldNames);
    // Membership rows of record in set: tied to the record's values of the set's first field,
    // or one "?" row when it has none.
    void member(uint32_t record, uint32_t set);

    // Writes all four files (".ZT", ".IX", ".ZT2", ".IX2") at base; false with error set.
    bool write(const std::string& base);
    // Writes only the two tables, leaving the index files as they are.
    bool writeTables(const std::string& base);
    std::string error;

  private:
    uint32_t nextChain_ = 1;
};

// Raw edits of a written file.
bool setHeaderCount(const std::string& path, uint32_t count);
bool setFileLength(const std::string& path, int64_t length);
int64_t fileLength(const std::string& path);
std::string fileBytes(const std::string& path);

}  // namespace dbcheck
