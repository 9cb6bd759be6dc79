#include "benchdb.h"

#include <cstring>
#include <memory>

#include "xbase/xbase.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztkey.h"

namespace qvbench {

namespace {

constexpr int kLenID = 3;
constexpr int kLenKey = 30;
constexpr int kLenChunk = 30;
constexpr uint32_t kNoPosition = 65024;
constexpr uint8_t kOwner = 0x01;
constexpr uint8_t kLink = 0x81;
constexpr uint8_t kTiedMember = 0xC1;

// SplitMix64: the draws of one record, from the seed and the record alone.
struct Draws {
    uint64_t state;
    Draws(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0)
        : state(seed * 0x9E3779B97F4A7C15ull ^ a * 0xBF58476D1CE4E5B9ull ^
                b * 0x94D049BB133111EBull ^ c * 0x2545F4914F6CDD1Dull) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return double(next() >> 11) / double(1ull << 53); }
    uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};

// Windows-1252 words, some with accented letters.
const char* const kFirst[] = {"Anna",     "\311mile",    "J\366rg", "Mar\355a", "Fran\347ois",
                              "Olav",     "S\370ren",    "Zo\353",  "Ingrid",   "Tom\341s",
                              "Chlo\351", "Luk\341\232", "Pedro",   "Ama\353l", "Bj\366rn"};
const char* const kLast[] = {"M\374ller", "Garc\355a", "Dupont",   "Nov\341k", "\330stergaard",
                             "Smith",     "Rossi",     "Kowalski", "L\363pez", "Andersson",
                             "Fischer",   "Bernard",   "Jensen",   "\334nal",  "Costa"};
const char* const kTowns[] = {"M\374nchen",   "K\370benhavn", "Z\374rich", "Lyon",
                              "S\343o Paulo", "Krak\363w",    "Malm\366",  "Porto",
                              "Gen\350ve",    "Reykjav\355k", "Oslo",      "Bern",
                              "Qu\351bec",    "Sevilla",      "Graz"};
const char* const kWords[] = {"caf\351", "order",   "paid",  "na\357ve", "draft",   "r\351sum\351",
                              "urgent",  "\374ber", "later", "cr\350me", "meeting", "note"};
const char* const kCountries[] = {"Deutschland",   "Danmark", "Espa\361a", "Fran\347a", "Norge",
                                  "\323sterreich", "Italia",  "Polska",    "Sverige",   "Portugal"};
const char* const kFieldNames[] = {"Name",  "Town", "Born",    "Amount",  "Notes",
                                   "Phone", "Tags", "Country", "Updated", "Score"};

template <size_t N>
const char* pick(const char* const (&list)[N], Draws& d) {
    return list[d.below(uint32_t(N))];
}

std::string twoDigits(uint32_t n) {
    return std::string(1, char('0' + n / 10 % 10)) + char('0' + n % 10);
}

// The row of the row table (deletion byte included).
void rowImage(char* r, uint32_t a, uint32_t b, uint32_t c, const std::string& key, uint32_t e,
              uint8_t f) {
    r[0] = ' ';
    writeBase255(a, reinterpret_cast<unsigned char*>(r + 1), kLenID);
    writeBase255(b, reinterpret_cast<unsigned char*>(r + 1 + kLenID), kLenID);
    writeBase255(c, reinterpret_cast<unsigned char*>(r + 1 + 2 * kLenID), 2);
    std::memcpy(r + 3 + 2 * kLenID, key.data(), kLenKey);
    writeBase255(e, reinterpret_cast<unsigned char*>(r + 3 + 2 * kLenID + kLenKey), 4);
    r[7 + 2 * kLenID + kLenKey] = char(f);
}

// Appends rows and chains to the tables of a database opened exclusive without indexes.
class BulkWriter {
  public:
    explicit BulkWriter(ZTFile& file) : file_(file) {}

    bool row(uint32_t a, uint32_t b, uint32_t c, const std::string& key, uint32_t e, uint8_t f) {
        table4* t = file_.getRowTable();
        if (table4beginAppend(t, 0) != 0) return false;
        rowImage(table4recordBuffer(t), a, b, c, key, e, f);
        return table4append(t) == 0;
    }

    // A new chain holding the text; its number, 0 on failure.
    uint32_t chain(const std::string& text) {
        const uint32_t number = next_++;
        table4* t = file_.getDictionaryTable();
        const size_t n = text.size() + 1;  // with the terminating zero
        for (size_t at = 0, seq = 0; at < n; at += kLenChunk, ++seq) {
            if (table4beginAppend(t, 0) != 0) return 0;
            char* r = table4recordBuffer(t);
            r[0] = ' ';
            writeBase255(number, reinterpret_cast<unsigned char*>(r + 1), 4);
            writeBase255(uint32_t(seq), reinterpret_cast<unsigned char*>(r + 5), 2);
            const size_t take = std::min(n - at, size_t(kLenChunk));
            std::memset(r + 7, 0, kLenChunk);
            std::memcpy(r + 7, text.c_str() + at, take);
            if (table4append(t) != 0) return 0;
        }
        return number;
    }

    // An owner row with a new chain: its value number, 0 on failure.
    uint32_t value(uint32_t a, uint32_t b, uint32_t c, const std::string& text,
                   uint8_t f = kOwner) {
        const uint32_t e = chain(text);
        return e != 0 && row(a, b, c, benchKey(text), e, f) ? e : 0;
    }

  private:
    ZTFile& file_;
    uint32_t next_ = 1;
};

}  // namespace

std::string benchKey(const std::string& text) {
    static const ZTKeyLengths lengths = ZTKeyLengths::forKeyLength(kLenKey);
    char key[kLenKey + 1];
    makeKey(lengths, text.c_str(), key, true, false, false, false);
    return std::string(key, kLenKey);
}

BenchGenerator::BenchGenerator(const BenchOptions& options) : options_(options) {
    if (options_.fields > 10) options_.fields = 10;
    if (options_.fields == 0) options_.fields = 1;
    if (options_.sets == 0) options_.sets = 1;
}

std::string BenchGenerator::fieldName(uint32_t i) const {
    if (i < options_.fields) return kFieldNames[i];
    // Unique names, with accents and mixed case, that no used field takes.
    Draws d(options_.seed, 0xF1E1D, i);
    return std::string(pick(kWords, d)) + " " + pick(kTowns, d) + " " + std::to_string(i);
}

std::string BenchGenerator::setName(uint32_t k) const {
    return "Set " + std::string(kCountries[k % 10]) + " " + std::to_string(k + 1);
}

std::string BenchGenerator::valueText(uint32_t field, uint32_t index, uint32_t position,
                                      uint64_t draw) const {
    Draws d(draw, field, index, position);
    switch (field) {
        case 0:
            return std::string(pick(kFirst, d)) + " " + pick(kLast, d) + " " +
                   std::to_string(d.below(1000));
        case 1:
            return pick(kTowns, d);
        case 2:
            return std::to_string(1920 + d.below(90)) + "/" + twoDigits(1 + d.below(12)) + "/" +
                   twoDigits(1 + d.below(28)) + " 00:00:00";
        case 3:
            return std::to_string(d.below(100000)) + "." + twoDigits(d.below(100));
        case 4: {  // notes over several chunks
            std::string t;
            const size_t n = 20 + d.below(130);
            while (t.size() < n) t += std::string(pick(kWords, d)) + " ";
            return t.substr(0, n);
        }
        case 5:
            return "+" + std::to_string(10 + d.below(89)) + " " + std::to_string(d.below(1000)) +
                   " " + std::to_string(1000000 + d.below(9000000));
        case 6:
            return pick(kWords, d);
        case 7:
            return pick(kCountries, d);
        case 8:
            return std::to_string(2000 + d.below(25)) + "/" + twoDigits(1 + d.below(12)) + "/" +
                   twoDigits(1 + d.below(28)) + " " + twoDigits(d.below(24)) + ":" +
                   twoDigits(d.below(60)) + ":" + twoDigits(d.below(60));
        default:
            return std::to_string(d.below(1001));
    }
}

std::string BenchGenerator::nameOf(uint32_t index) const {
    return valueText(0, index, 1, options_.seed);
}

BenchRecord BenchGenerator::record(uint32_t index) const {
    BenchRecord rec;
    rec.id = recordID(index);
    rec.set = setID(index % options_.sets);
    Draws d(options_.seed, index, 0xABCDEF);
    for (uint32_t f = 0; f < options_.fields; ++f) {
        if (f != 0 && d.unit() >= options_.presence) continue;
        const uint32_t n = d.unit() < options_.multiValued ? 2 + d.below(2) : 1;
        for (uint32_t p = 1; p <= n; ++p) {
            const bool mayLink =
                options_.linkingFields == 0 || (options_.linkingFields >> f & 1) != 0;
            if (f != 0 && index > 0 && d.unit() < options_.links && mayLink) {
                const uint32_t target = d.below(index);
                rec.values.push_back({f, p, nameOf(target), recordID(target)});
            } else {
                const uint64_t draw = f == 0 && p == 1 ? options_.seed : d.next();
                rec.values.push_back({f, p, valueText(f, index, p, draw), 0});
            }
        }
    }
    return rec;
}

std::string BenchGenerator::importLine(const BenchRecord& record) const {
    std::string line;
    uint32_t field = 0;
    for (const BenchValue& v : record.values) {
        while (field < v.field) {
            line += '\t';
            ++field;
        }
        if (v.position > 1) line += '|';
        if (v.linkRecord) line += '>';
        line += v.text;
    }
    return line;
}

bool writeBenchDatabase(const BenchGenerator& gen, const std::string& base, std::string* error) {
    {
        ZTFile made(base.c_str());
        if (!made.create(kLenID, kLenKey, kLenChunk)) {
            *error = base + ": cannot be created";
            return false;
        }
    }
    ZTFile file(base.c_str());
    if (file.open(5, false) != 5) {  // tables only, exclusive: no keys to keep
        *error = base + ": cannot be opened";
        return false;
    }
    env4* env = file.getEnv();
    env->bufferMemory = 16 << 20;
    bool ok = buffer4start(env) == 0;
    for (table4* t : {file.getRowTable(), file.getDictionaryTable()})
        ok = ok && table4setWriteBehind(t, 1) == 0;
    BulkWriter out(file);
    const BenchOptions& o = gen.options();
    const uint32_t lastID = gen.recordID(o.records);
    ok = ok && out.value(ZTFile::kSystemRecord, 2, 1, std::to_string(lastID)) != 0;
    std::vector<uint32_t> fieldChains(gen.fieldCount());
    for (uint32_t i = 0; ok && i < gen.fieldCount(); ++i)
        ok = (fieldChains[i] = out.value(gen.fieldID(i), 1, 1, gen.fieldName(i))) != 0;
    for (uint32_t k = 0; ok && k < o.sets; ++k) {
        ok = out.value(gen.setID(k), 9, 1, gen.setName(k)) != 0;
        // The first field of every set is the name; three more follow.
        for (uint32_t p = 0; ok && p < std::min<uint32_t>(4, o.fields); ++p) {
            const uint32_t f = p == 0 ? 0 : 1 + (k * 3 + p - 1) % (o.fields - 1);
            ok = out.row(gen.setID(k), 1, p + 1, benchKey(gen.fieldName(f)), fieldChains[f], kLink);
        }
    }
    std::vector<uint32_t> nameChains(o.records);
    for (uint32_t i = 0; ok && i < o.records; ++i) {
        const BenchRecord rec = gen.record(i);
        std::vector<std::pair<uint32_t, const std::string*>> names;
        for (const BenchValue& v : rec.values) {
            const uint32_t field = gen.fieldID(v.field);
            if (v.linkRecord) {
                const uint32_t target = v.linkRecord - gen.recordID(0);
                ok =
                    out.row(rec.id, field, v.position, benchKey(v.text), nameChains[target], kLink);
                continue;
            }
            const uint32_t e = out.value(rec.id, field, v.position, v.text);
            ok = ok && e != 0;
            if (v.field == 0) {
                if (v.position == 1) nameChains[i] = e;
                names.emplace_back(e, &v.text);
            }
        }
        // Membership rows, tied to the values of the set's first field.
        for (const auto& [e, text] : names)
            ok = ok && out.row(rec.id, rec.set, kNoPosition, benchKey(*text), e, kTiedMember);
    }
    file.close();
    if (ok && !file.rebuildIndexes()) ok = false;
    if (!ok) *error = base + ": writing the rows failed";
    return ok;
}

namespace {

bool exec(sqlite3* db, const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    *error = std::string(sql) + ": " + (message ? message : "failed");
    sqlite3_free(message);
    return false;
}

// A prepared statement, finalized at the end of its scope.
struct Statement {
    sqlite3_stmt* s = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
    ~Statement() { sqlite3_finalize(s); }
    bool run() { return s && sqlite3_step(s) == SQLITE_DONE && sqlite3_reset(s) == SQLITE_OK; }
};

}  // namespace

bool writeBenchSqlite(const BenchGenerator& gen, sqlite3* db, std::string* error) {
    if (!exec(db, "PRAGMA journal_mode=WAL", error) ||
        !exec(db,
              "CREATE TABLE rows(record INTEGER, field INTEGER, position INTEGER, value TEXT, "
              "key BLOB)",
              error) ||
        !exec(db, "CREATE TABLE names(id INTEGER PRIMARY KEY, name TEXT)", error) ||
        !exec(db, "BEGIN", error))
        return false;
    bool ok = true;
    {
        Statement name(db, "INSERT INTO names VALUES(?1, ?2)");
        for (uint32_t i = 0; ok && i < gen.fieldCount(); ++i) {
            const std::string text = gen.fieldName(i);
            sqlite3_bind_int64(name.s, 1, gen.fieldID(i));
            sqlite3_bind_text(name.s, 2, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
            ok = name.run();
        }
        Statement row(db, "INSERT INTO rows VALUES(?1, ?2, ?3, ?4, ?5)");
        for (uint32_t i = 0; ok && i < gen.options().records; ++i) {
            const BenchRecord rec = gen.record(i);
            for (const BenchValue& v : rec.values) {
                const std::string key = benchKey(v.text);
                sqlite3_bind_int64(row.s, 1, rec.id);
                sqlite3_bind_int64(row.s, 2, gen.fieldID(v.field));
                sqlite3_bind_int64(row.s, 3, v.position);
                sqlite3_bind_text(row.s, 4, v.text.c_str(), int(v.text.size()), SQLITE_STATIC);
                sqlite3_bind_blob(row.s, 5, key.data(), int(key.size()), SQLITE_STATIC);
                if (!(ok = row.run())) break;
            }
        }
        if (!ok) *error = std::string("inserting failed: ") + sqlite3_errmsg(db);
    }
    return ok && exec(db, "COMMIT", error) &&
           exec(db, "CREATE INDEX rows_record ON rows(record, field, position)", error) &&
           exec(db, "CREATE INDEX rows_value ON rows(field, key, record)", error) &&
           exec(db, "CREATE INDEX names_name ON names(name COLLATE NOCASE)", error);
}

}  // namespace qvbench
