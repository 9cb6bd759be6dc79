// Damaged databases: the row cursor, the record test and the value reads give a result on
// every damage the checker knows and on random damage to rows and chunks, never a crash or a
// read out of bounds (the sanitizers watch).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/dbdamage.h"
#include "ztdb/ztfilter.h"
#include "ztrec_helpers.h"

namespace {

const char* const kConditions[] = {"a",     "*e",         "\"Paris\"", "*\"wwww\"", "<m",
                                   ">b&<z", "a-ab",       "**par",     "#",         "-#",
                                   "5",     "\"unclosed", "**"};

// Every read and record test the cursor offers, over every row and type of the database, and a
// few writes. Walks are bounded: a damaged order must still end.
void exercise(ZTFile& file) {
    ZTRec rec(&file);
    std::set<uint32_t> records, types;
    ZTStr text;
    int steps = 0;
    for (int r = rec.goFirst(); r >= 0 && steps < 5000; r = rec.skip(1), ++steps) {
        records.insert(rec.recordID);
        types.insert(rec.typeID);
        ZTRec probe(&file);
        probe.copyFrom(rec);
        (void)probe.readChain(rec.valueID, &text);
        (void)probe.findValue(text.text, true);
        probe.copyFrom(rec);
        (void)probe.findValue(text.text, false);
        (void)probe.hasValue(rec.recordID, rec.typeID, rec.position, nullptr, rec.valueID,
                             rec.flags, true);
        (void)probe.findOwner(rec.valueID);
        (void)probe.isTruncatedTextKey(rec.rowKey());
    }
    EXPECT_LT(steps, 5000) << "a record-order walk that does not end";
    for (uint32_t type : types) {
        for (bool follow : {false, true}) {
            int n = 0;
            for (int r = rec.seekInType(type, "", follow, false, false); r == 0 && n < 5000;
                 r = rec.skipInType(1, follow, n % 3 == 0), ++n)
                (void)rec.readChain(rec.valueID, &text);
            EXPECT_LT(n, 5000) << "a value-order walk that does not end";
        }
        (void)rec.goLastOfType(type, true);
        (void)rec.typeFraction();
        for (uint32_t record : records) {
            for (const char* condition : kConditions) {
                CFilterElem elem(type, file.getKeyLengths());
                elem.parse(condition);
                (void)rec.testRecord(record, &elem, false);
            }
        }
    }
    for (uint32_t record : records) {
        (void)file.getValue(1, record ? record : 1, &text, true);
        (void)file.getNameLink(record);
        (void)file.isTrashSet(record);
    }
    (void)file.findName(1, "Name");
    (void)file.findName(9, "People");
    (void)file.findDatabaseRecord("/x/y", "ZT");
    (void)file.getChangeCount();
    if (!file.isReadOnly()) {
        // Writes on damaged rows give a result too.
        if (rec.seek(1006, 1001, 0, "") >= 0 && rec.recordID != 0) {
            (void)rec.writeValue("rewritten over damage");
            (void)rec.deleteRow();
        }
        (void)file.newRecordID();
        (void)addValue(file, 1007, 1002, 1, std::string(100, 'n'));
    }
}

// Opens the database exclusive (a damaged index fails at once instead of being waited out as
// another process's change) and exercises it when it is usable.
void openAndExercise(const std::string& base) {
    ZTFile file(base.c_str());
    const uint32_t word = file.open(7, true);
    if ((word & 2) != 0) exercise(file);
    file.close();
}

// Writes the sound database with the fault seeded and reads it.
void readEachFault(const std::vector<dbcheck::Seeded>& faults) {
    for (const dbcheck::Seeded& c : faults) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dbcheck::Sound s;
        if (c.before) c.before(s);
        std::string base = dir.file("db");
        ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        if (c.after) c.after(s, base);
        openAndExercise(base);
    }
}

TEST(ZTRecDamage, TheCheckersSeededFaults) {
    readEachFault(dbcheck::seededFaults());
}

// A zero byte written into byte `at` of the second row, with the indexes made to agree.
std::function<void(dbcheck::Sound&, const std::string&)> zeroByte(size_t at) {
    return [at](dbcheck::Sound&, const std::string& base) {
        std::string bytes = dbcheck::fileBytes(base + ".ZT");
        bytes[225 + 44 + at] = '\0';
        writeWhole(base + ".ZT", bytes);
        ASSERT_TRUE(ZTFile(base.c_str()).rebuildIndexes());
    };
}

// The faults the row layer reads past: zero bytes in the columns, value numbers of no chain or
// of another row's chain, chains without a zero byte or with a sequence twice, packed texts
// that do not decode.
TEST(ZTRecDamage, RowAndChainFaults) {
    auto chunksOf = [](uint32_t chain, const std::string& bytes) {
        return [chain, bytes](dbcheck::Sound& s) {
            for (auto& c : s.fx.chunks)
                if (c.chain == (chain ? chain : s.paris)) c.bytes = bytes;
        };
    };
    readEachFault({
        {"a zero byte in A", {}, nullptr, zeroByte(1)},
        {"a zero byte in B", {}, nullptr, zeroByte(4)},
        {"a zero byte in C", {}, nullptr, zeroByte(7)},
        {"a zero byte in E", {}, nullptr, zeroByte(39)},
        {"a value number of no chain",
         {},
         [](dbcheck::Sound& s) { s.fx.rows[2].e = 4000000; },
         nullptr},
        {"a chain without its zero byte", {}, chunksOf(0, std::string(30, 'P')), nullptr},
        {"a packed text that does not decode",
         {},
         chunksOf(0, std::string("\001\377\377\017\017", 5)),
         nullptr},
        {"a chunk sequence twice",
         {},
         [](dbcheck::Sound& s) {
             s.fx.chunks.push_back({s.longValue, 1, "dup", false});
         },
         nullptr},
        {"a value number owned by another row",
         {},
         [](dbcheck::Sound& s) { s.fx.rows[2].e = s.longValue; },
         nullptr},
    });
}

// A chain's chunks are read wherever their records lie, and a record counts as a chunk only
// when it says so itself: with the dictionary's records moved under an index left as it was,
// a read gives no text or its own, never another chain's.
TEST(ZTRecDamage, ChainsReadWhereverTheirChunksLie) {
    using Move = std::function<void(dbcheck::Sound&)>;
    struct Case {
        const char* name;
        Move move;
        bool indexLeftBehind;
    };
    auto swapFirstChunks = [](dbcheck::Sound& s) {
        size_t a = 0, b = 0;
        for (size_t i = 0; i < s.fx.chunks.size(); ++i) {
            if (s.fx.chunks[i].chain == s.paris && s.fx.chunks[i].seq == 0) a = i;
            if (s.fx.chunks[i].chain == s.longValue && s.fx.chunks[i].seq == 0) b = i;
        }
        std::swap(s.fx.chunks[a], s.fx.chunks[b]);
    };
    const Case cases[] = {
        {"chunks in reverse order",
         [](dbcheck::Sound& s) { std::reverse(s.fx.chunks.begin(), s.fx.chunks.end()); }, false},
        {"a chain's chunks apart",
         [](dbcheck::Sound& s) {
             auto& c = s.fx.chunks;
             auto second = std::find_if(c.begin(), c.end(), [&](const dbcheck::FixtureChunk& k) {
                 return k.chain == s.longValue && k.seq == 1;
             });
             std::rotate(second, second + 1, c.end());
         },
         false},
        {"records rotated under the index",
         [](dbcheck::Sound& s) {
             std::rotate(s.fx.chunks.begin(), s.fx.chunks.begin() + 1, s.fx.chunks.end());
         },
         true},
        {"two first chunks swapped under the index", swapFirstChunks, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dbcheck::Sound s;
        const std::string base = dir.file("db");
        std::map<uint32_t, std::string> texts;
        for (const dbcheck::FixtureChunk& k : s.fx.chunks) {
            const std::string text = s.fx.textOf(k.chain);
            if (k.chain != 0 && (text.empty() || text[0] != 1)) texts[k.chain] = text;
        }
        if (c.indexLeftBehind) {
            ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
            c.move(s);
            ASSERT_TRUE(s.fx.writeTables(base)) << s.fx.error;
        } else {
            c.move(s);
            ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        }
        ZTFile file(base.c_str());
        ASSERT_NE(file.open(15, false) & 2, 0u);  // read-only: nothing is rewritten
        for (const auto& [chain, text] : texts) {
            ZTRec rec(&file);
            ZTStr out;
            const bool read = rec.readChain(chain, &out);
            if (!c.indexLeftBehind) {
                EXPECT_TRUE(read) << chain;
                EXPECT_EQ(std::string(out.text), text) << chain;
            } else if (read) {
                EXPECT_EQ(std::string(out.text), text) << chain;
            }
        }
        file.close();
    }
}

// A lock-free read goes first to the record where the handle guesses a chain's first chunk
// lies, and takes it only when the record says itself that it is that chunk, live. Here the
// guess for one chain is made to land on a record that is not its chunk (the tables changed
// under the index): the read falls back to the index and gives the chain's own text, and the
// other chains still read right.
TEST(ZTRecDamage, GuessesThatLandWrongFallBack) {
    struct Case {
        const char* name;
        std::function<void(dbcheck::FixtureChunk&, uint32_t target)> damage;
        bool pastTheEnd;
        bool mustMiss;
    };
    const Case cases[] = {
        {"a freed chunk",
         [](dbcheck::FixtureChunk& c, uint32_t) {
             c = {0, 0, "", true};
         },
         false, true},
        {"another chain's chunk", [](dbcheck::FixtureChunk&, uint32_t) {}, false, false},
        {"a deleted record naming the chain",
         [](dbcheck::FixtureChunk& c, uint32_t target) {
             c = {target, 0, "Stale", true};
         },
         false, true},
        {"a record damaged to claim a chain far off",
         [](dbcheck::FixtureChunk& c, uint32_t) { c.chain = 4000000; }, false, true},
        {"a record damaged to claim the chain's second chunk",
         [](dbcheck::FixtureChunk& c, uint32_t target) {
             c = {target, 1, "tail", false};
         },
         false, false},
        {"past the end of the table", [](dbcheck::FixtureChunk&, uint32_t) {}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dbcheck::Sound s;
        const std::string base = dir.file("db");
        ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        // The first chunk of a short chain other than the one read.
        size_t victim = 0;
        while (victim < s.fx.chunks.size() &&
               (s.fx.chunks[victim].chain == s.paris || s.fx.chunks[victim].chain == 0 ||
                s.fx.chunks[victim].seq != 0 || s.fx.textOf(s.fx.chunks[victim].chain).empty()))
            ++victim;
        ASSERT_LT(victim, s.fx.chunks.size());
        const uint32_t victimChain = s.fx.chunks[victim].chain;
        std::map<uint32_t, std::string> texts;
        for (const dbcheck::FixtureChunk& k : s.fx.chunks) {
            const std::string text = s.fx.textOf(k.chain);
            if (k.chain != 0 && k.chain != victimChain && (text.empty() || text[0] != 1))
                texts[k.chain] = text;
        }
        c.damage(s.fx.chunks[victim], s.paris);
        ASSERT_TRUE(s.fx.writeTables(base)) << s.fx.error;

        ZTFile file(base.c_str());
        ASSERT_NE(file.open(15, false) & 2, 0u);  // read-only: nothing is rewritten
        ZTChainGuess& guess = file.chainGuess();
        guess.learn(s.paris, int32_t(c.pastTheEnd ? s.fx.chunks.size() + 3 : victim + 1));
        EXPECT_EQ(chainText(file, s.paris), "Paris");
        EXPECT_EQ(guess.hits() + guess.misses(), 1u);  // the guess was tried
        if (c.mustMiss) { EXPECT_EQ(guess.misses(), 1u); }
        for (const auto& [chain, text] : texts) EXPECT_EQ(chainText(file, chain), text) << chain;
        file.close();
    }
}

// A value's owner is found wherever its row lies, and a row counts as the owner only when it
// says so itself: with the rows moved under an index left as it was, a reader without the lock
// finds the very owner or none, never another row.
TEST(ZTRecDamage, OwnersFoundWhereverTheirRowsLie) {
    struct Case {
        const char* name;
        std::function<void(std::vector<dbcheck::FixtureRow>&)> move;
        bool indexLeftBehind;
    };
    const Case cases[] = {
        {"rows in reverse order", [](auto& rows) { std::reverse(rows.begin(), rows.end()); },
         false},
        {"rows rotated under the index",
         [](auto& rows) { std::rotate(rows.begin(), rows.begin() + 1, rows.end()); }, true},
        {"rows reversed under the index",
         [](auto& rows) { std::reverse(rows.begin(), rows.end()); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dbcheck::Sound s;
        const std::string base = dir.file("db");
        std::map<uint32_t, std::pair<uint32_t, uint32_t>> owners;  // value -> record, type
        uint32_t top = 0;
        for (const dbcheck::FixtureRow& row : s.fx.rows) {
            top = std::max(top, row.e);
            if (row.e != 0 && row.a != 0 && !row.deleted && !(row.f & ZTRec::kFlagLink))
                owners[row.e] = {row.a, row.b};
        }
        if (c.indexLeftBehind) {
            ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
            c.move(s.fx.rows);
            ASSERT_TRUE(s.fx.writeTables(base)) << s.fx.error;
        } else {
            c.move(s.fx.rows);
            ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        }
        for (uint32_t mode : {3u, 15u}) {  // shared, and read-only
            SCOPED_TRACE(mode);
            ZTFile file(base.c_str());
            ASSERT_NE(file.open(mode, false) & 2, 0u);
            for (uint32_t vid = 1; vid <= top + 2; ++vid) {
                ZTRec rec(&file);
                const int r = rec.findOwner(vid);
                const auto owner = owners.find(vid);
                if (r != 0) {
                    if (!c.indexLeftBehind) {
                        EXPECT_EQ(owner, owners.end()) << vid;
                    }
                    continue;
                }
                ASSERT_NE(owner, owners.end()) << vid;
                EXPECT_EQ(rec.valueID, vid);
                EXPECT_FALSE(rec.isLinkRow()) << vid;
                EXPECT_EQ(std::make_pair(rec.recordID, rec.typeID), owner->second) << vid;
            }
            file.close();
        }
    }
}

// Random bytes of rows and chunks changed, with the indexes rebuilt to agree or left behind.
void fuzzRows(int rounds, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        dbcheck::Sound s;
        std::string base = dir.file("db");
        ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        for (const char* ext : {"ZT", "ZT2"}) {
            const std::string path = base + "." + ext;
            std::string bytes = dbcheck::fileBytes(path);
            const size_t header = ext[2] ? 129 : 225;
            const int changes = int(rng() % 12);
            for (int k = 0; k < changes && bytes.size() > header + 1; ++k) {
                const size_t at = header + rng() % (bytes.size() - header - 1);
                bytes[at] = char(rng() % 4 == 0 ? 0 : rng());
            }
            writeWhole(path, bytes);
        }
        if (rng() % 2) (void)ZTFile(base.c_str()).rebuildIndexes();
        openAndExercise(base);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(ZTRecDamage, RandomDamageToRowsAndChunks) {
    fuzzRows(60, 21);
}

TEST(ZTRecDamage, LONG_RandomDamageToRowsAndChunks) {
    fuzzRows(3000, 22);
}

}  // namespace
