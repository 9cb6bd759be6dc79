// The row cursor: packing, value chains (sizes, rewrites, pack, long values), releasing a
// value with its links, navigation in the three orders, renumbering and the record counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "date_order_pin.h"
#include "xbase/child_process.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztfilter.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kTown = 1001;
constexpr uint32_t kName = 1002;

// The live chunks of a chain in the checker's reading.
size_t liveChunks(const dbcheck::Report& report, uint32_t chain) {
    return size_t(std::count_if(
        report.chunks.begin(), report.chunks.end(),
        [&](const dbcheck::StoredChunk& c) { return c.chain == chain && !c.deleted; }));
}

TEST(ZTRecCursor, NewCursorsAndPacking) {
    NewDatabase db;
    ZTRec rec(&db.file);
    EXPECT_EQ(rec.position, ZTRec::kNoPosition);
    EXPECT_EQ(rec.flags, 1);
    EXPECT_EQ(rec.recordID, 0u);
    EXPECT_EQ(rec.rowKey(), nullptr);

    // A link row keeps its link bit whatever flags are packed; bit 0 is always set.
    uint32_t owner = addValue(db.file, 1010, kTown, 1, "Berlin");
    ASSERT_TRUE(addLink(db.file, 1011, kTown, 1, owner, 0x40));
    ASSERT_EQ(rec.seek(1011, kTown, 0, ""), 0);
    EXPECT_EQ(rec.flags, 0xC1);
    rec.flags = 0x02;
    rec.pack();
    EXPECT_EQ(rec.flags, 0x83);
    ASSERT_EQ(rec.seek(1010, kTown, 0, ""), 0);
    rec.flags = 0x40;
    rec.pack();
    EXPECT_EQ(rec.flags, 0x41);

    ZTRec copy;
    copy.copyFrom(rec);
    EXPECT_TRUE(copy.samePosition(rec));
    copy.position = 2;
    EXPECT_TRUE(copy.sameRecordAndType(rec));
    EXPECT_FALSE(copy.samePosition(rec));
}

// 29, 30 and 300 characters in chunks of 30 take 1, 2 and 11 chunks (the terminating zero
// counts) and read back byte for byte; so do texts with bytes 1, 2 and 255 inside and a
// 200,000-character value.
TEST(ZTRecChains, ValuesTakeTheirChunksAndReadBackWhole) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    std::string longValue;
    for (int i = 0; longValue.size() < 200000; ++i) longValue += "w\351rd" + std::to_string(i);
    longValue.resize(200000);
    const struct {
        std::string text;
        size_t chunks;
    } cases[] = {
        {std::string(29, 'a'), 1},
        {std::string(30, 'b'), 2},
        {std::string(300, 'c'), 11},
        {"", 1},
        {"x\001y\002z\377", 1},
        {"\002binary-looking", 1},
        {longValue, (200000 + 1 + 29) / 30},
    };
    std::map<uint32_t, size_t> expected;
    uint32_t record = 1010;
    for (const auto& c : cases) {
        uint32_t value = addValue(db.file, record++, kTown, 1, c.text);
        ASSERT_NE(value, 0u) << c.chunks;
        EXPECT_EQ(chainText(db.file, value), c.text) << c.chunks;
        expected[value] = c.chunks;
    }
    // A plain text loses its leading bytes 1, which would make it read as packed.
    uint32_t stripped = addValue(db.file, record++, kTown, 1, "\001\001plain");
    EXPECT_EQ(chainText(db.file, stripped), "plain");

    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
    for (const auto& [value, chunks] : expected) EXPECT_EQ(liveChunks(report, value), chunks);
    EXPECT_EQ(chainText(db.file, expected.rbegin()->first), longValue);
}

// A value of 5 chunks rewritten with 1, then with 5 again: every chunk written is live, the
// surplus became free rows, so pack removes nothing the value needs.
TEST(ZTRecChains, RewritesLeaveNothingThatPackRemoves) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    const std::string five(140, 'f'), one = "short", fiveAgain(145, 'g');
    uint32_t value = addValue(db.file, 1010, kTown, 1, five);
    uint32_t other = addValue(db.file, 1011, kTown, 1, std::string(100, 'o'));
    ASSERT_NE(value, 0u);
    for (const std::string& text : {one, fiveAgain}) {
        ZTRec rec(&db.file);
        ASSERT_EQ(rec.seek(1010, kTown, 1, ""), 0);
        ASSERT_TRUE(rec.writeValue(text.c_str()));
        EXPECT_EQ(rec.valueID, value);  // the row keeps its chain
        EXPECT_EQ(chainText(db.file, value), text);
    }
    dbcheck::Report before = db.check();
    EXPECT_TRUE(before.sound()) << before.text();
    EXPECT_EQ(liveChunks(before, value), 5u);
    ASSERT_TRUE(db.file.pack());
    EXPECT_EQ(chainText(db.file, value), fiveAgain);
    EXPECT_EQ(chainText(db.file, other), std::string(100, 'o'));
    dbcheck::Report after = db.check();
    EXPECT_TRUE(after.sound()) << after.text();
    EXPECT_EQ(liveChunks(after, value), 5u);
}

// A new value takes the chunks that a released value left free before the dictionary grows,
// and a chain number given again after its chain was released holds only its new text.
TEST(ZTRecChains, NewValuesTakeFreedChunksFirst) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    ASSERT_NE(addValue(db.file, 1010, kTown, 1, "Oslo"), 0u);
    const uint32_t released = addValue(db.file, 1011, kTown, 1, std::string(80, 'q'));  // 3
    ZTRec rec(&db.file);
    ASSERT_EQ(rec.seek(1011, kTown, 1, ""), 0);
    ASSERT_TRUE(rec.deleteRow());
    const size_t chunksBefore = db.check().chunks.size();

    const struct {
        uint32_t record;
        std::string text;
        size_t chunks;
    } cases[] = {{1020, std::string(40, 'n'), 2}, {1021, "x", 1}, {1022, std::string(50, 'z'), 2}};
    std::map<uint32_t, const std::string*> written;
    for (const auto& c : cases) {
        const uint32_t value = addValue(db.file, c.record, kTown, 1, c.text);
        ASSERT_NE(value, 0u);
        written[value] = &c.text;
    }
    EXPECT_EQ(written.begin()->first, released);  // the highest number is given again
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
    EXPECT_EQ(report.chunks.size(), chunksBefore + 2);  // 3 freed, 5 needed
    size_t i = 0;
    for (const auto& [value, text] : written) {
        EXPECT_EQ(chainText(db.file, value), *text);
        EXPECT_EQ(liveChunks(report, value), cases[i++].chunks);
    }
}

// Many values written under one lock: every one gets a number of its own and keeps its text,
// whether the lock began with a rewrite of an old chain (the record counter, a value), freed the
// highest chain, or freed a chain it had just given.
TEST(ZTRecChains, NumbersGivenUnderOneLockStayUnique) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    std::map<uint32_t, std::string> texts;
    const uint32_t old = addValue(db.file, 1010, kTown, 1, "Oslo");
    const uint32_t highest = addValue(db.file, 1011, kTown, 1, std::string(80, 'q'));
    ASSERT_GT(highest, old);
    for (uint32_t span = 0; span < 3; ++span) {
        ASSERT_TRUE(db.file.lock(false));
        ZTRec rec(&db.file);
        ASSERT_TRUE(rec.setCounter(6000 + span));
        ASSERT_EQ(rec.seek(1010, kTown, 1, ""), 0);
        texts[old] = "Oslo " + std::to_string(span);
        ASSERT_TRUE(rec.writeValue(texts[old].c_str()));
        if (span == 1) {
            ASSERT_EQ(rec.seek(1011, kTown, 1, ""), 0);
            ASSERT_TRUE(rec.deleteRow());
        }
        for (uint32_t i = 0; i < 4; ++i) {
            const uint32_t record = 1100 + span * 10 + i;
            const std::string text = std::string(10 + 15 * i, char('a' + i)) + std::to_string(span);
            const uint32_t value = addValue(db.file, record, kTown, 1, text);
            ASSERT_NE(value, 0u);
            EXPECT_TRUE(texts.emplace(value, text).second) << "number " << value << " given twice";
            if (span == 2 && i == 1) {
                ASSERT_EQ(rec.seek(record, kTown, 1, ""), 0);
                ASSERT_TRUE(rec.deleteRow());
                texts.erase(value);
            }
        }
        ASSERT_TRUE(db.file.unlock());
    }
    for (const auto& [value, text] : texts) EXPECT_EQ(chainText(db.file, value), text) << value;
    EXPECT_EQ(ZTRec(&db.file).getCounter(), 6002u);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// What a handle learns of where chains lie keeps its size however high the chains go; a guess
// takes the offset record - chain in proportion between the learned pairs either side, and a
// long run of misses forgets them all.
TEST(ZTRecChains, ChainGuessesStayBounded) {
    ZTChainGuess g;
    EXPECT_EQ(g.guess(5), 0);
    g.learn(100, 150);
    g.learn(200, 350);
    EXPECT_EQ(g.guess(150), 250);
    EXPECT_EQ(g.guess(90), 140);
    EXPECT_EQ(g.guess(230), 380);
    const size_t bytes = g.memoryBytes();
    EXPECT_LE(bytes, size_t(256) << 10);
    for (uint32_t chain = 1000; chain < 2000000000u; chain += 999983) g.learn(chain, chain + 5);
    EXPECT_EQ(g.memoryBytes(), bytes);
    for (uint32_t chain : {2000u, 123456789u, 1999999999u}) EXPECT_EQ(g.guess(chain), chain + 5);
    for (uint32_t i = 0; i < ZTChainGuess::kMissesToForget; ++i) g.miss();
    EXPECT_EQ(g.guess(123456789u), 0);
}

// Reads outside the lock look for a chain's first chunk where the handle has learned chains
// lie before they ask the dictionary index. On a fresh database of values of one to four chunks
// nearly every guess lands, and a chain read before is found at once. Chains rewritten longer,
// released, given again in freed records and then packed by another handle move under what
// the reader learned: its guesses miss, and every text still reads right.
TEST(ZTRecChains, ReadsFindFirstChunksWhereTheHandleGuesses) {
    NewDatabase db;
    std::map<uint32_t, std::string> texts;
    std::vector<uint32_t> records;
    for (uint32_t i = 0; i < 200; ++i) {
        const size_t length = i % 7 == 0 ? 100 : i % 3 == 0 ? 40 : 8;
        const std::string text = std::to_string(i) + std::string(length, char('a' + i % 26));
        const uint32_t value = addValue(db.file, 1010 + i, kTown, 1, text);
        ASSERT_NE(value, 0u);
        texts[value] = text;
        records.push_back(1010 + i);
    }
    ZTChainGuess& guess = db.file.chainGuess();
    auto readAll = [&] {
        for (const auto& [value, text] : texts) EXPECT_EQ(chainText(db.file, value), text) << value;
    };
    readAll();
    EXPECT_GT(guess.hits(), 150u);
    EXPECT_LT(guess.misses(), 20u);
    const uint64_t missesAfterFirst = guess.misses();
    readAll();
    EXPECT_EQ(guess.misses(), missesAfterFirst);

    ZTFile other(db.base.c_str());
    ASSERT_EQ(other.open(3, false), 3u);
    auto change = [&](size_t i, bool rewrite) {
        ZTRec rec(&other);
        ASSERT_EQ(rec.seek(records[i], kTown, 1, ""), 0);
        const uint32_t value = rec.valueID;
        ASSERT_TRUE(other.lock(false));
        if (rewrite) {
            texts[value] = std::string(90, 'L') + std::to_string(i);
            EXPECT_TRUE(rec.writeValue(texts[value].c_str()));
        } else {
            EXPECT_TRUE(rec.deleteRow());
            texts.erase(value);
        }
        ASSERT_TRUE(other.unlock());
    };
    for (size_t i = 0; i < records.size(); i += 10) change(i, true);
    for (uint32_t i = 0; i < 20; ++i) {
        const std::string text = "new " + std::to_string(i);
        const uint32_t value = addValue(other, 2000 + i, kTown, 1, text);
        ASSERT_NE(value, 0u);
        texts[value] = text;
    }
    // Released last, the chunks stay free until the pack takes them out.
    for (size_t i = 5; i < records.size(); i += 10) change(i, false);
    readAll();
    ASSERT_TRUE(other.pack());
    const uint64_t missesBeforePack = guess.misses();
    readAll();
    EXPECT_GT(guess.misses(), missesBeforePack);  // the pack moved what was learned
    readAll();
    other.close();
}

// An edit reaches the keys of the rows that link to the value, so they sort with it.
TEST(ZTRecChains, EditsMoveTheLinksKeys) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    uint32_t value = addValue(db.file, 1010, kTown, 1, "Berlin");
    ASSERT_TRUE(addLink(db.file, 1011, kName, 1, value));
    ZTRec rec(&db.file);
    ASSERT_EQ(rec.seek(1010, kTown, 1, ""), 0);
    ASSERT_TRUE(rec.writeValue("Zurich"));
    std::vector<WalkedRow> names = typeWalk(db.file, kName);
    ASSERT_EQ(names.size(), 1u);
    char key[64];
    db.file.makeKey("Zurich", key, false, false, false, false);
    EXPECT_EQ(names[0].key, std::string(key, 30));
    EXPECT_EQ(chainText(db.file, names[0].value), "Zurich");
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// Deleting the owner of a value frees its chain and makes every row that linked to it a free
// row: no walk meets them, and the rows are reused.
TEST(ZTRecRows, DeletingAnOwnerClearsItsLinksAndChunks) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    uint32_t value = addValue(db.file, 1010, kTown, 1, std::string(70, 'q'));
    uint32_t kept = addValue(db.file, 1010, kTown, 2, "Oslo");
    ASSERT_TRUE(addLink(db.file, 1011, kTown, 1, value));
    ASSERT_TRUE(addLink(db.file, 1012, kName, 1, value));
    ASSERT_TRUE(addLink(db.file, 1013, kTown, 1, kept));
    ASSERT_EQ(typeWalk(db.file, kTown).size(), 4u);

    ZTRec rec(&db.file);
    ASSERT_EQ(rec.seek(1010, kTown, 1, ""), 0);
    ASSERT_EQ(rec.valueID, value);
    ASSERT_TRUE(rec.deleteRow());
    for (uint32_t type : {kTown, kName})
        for (const WalkedRow& row : typeWalk(db.file, type))
            EXPECT_NE(row.value, value) << "record " << row.record << " shows a ghost value";
    EXPECT_EQ(typeWalk(db.file, kTown).size(), 2u);
    EXPECT_TRUE(typeWalk(db.file, kName).empty());
    EXPECT_EQ(rec.findOwner(value), -1);
    EXPECT_EQ(chainText(db.file, kept), "Oslo");

    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
    EXPECT_EQ(liveChunks(report, value), 0u);
    size_t freeRows = size_t(std::count_if(report.rows.begin(), report.rows.end(),
                                           [](const auto& r) { return r.a == 0 && r.deleted; }));
    EXPECT_EQ(freeRows, 3u);

    // New rows take the free rows before the table grows.
    const size_t rowsBefore = report.rows.size();
    for (uint32_t r = 1020; r < 1023; ++r) ASSERT_NE(addValue(db.file, r, kTown, 1, "new"), 0u);
    dbcheck::Report reused = db.check();
    EXPECT_EQ(reused.rows.size(), rowsBefore);
    EXPECT_TRUE(reused.sound()) << reused.text();

    // Deleting a link row releases nothing.
    ASSERT_EQ(rec.seek(1013, kTown, 1, ""), 0);
    ASSERT_TRUE(rec.deleteRow());
    EXPECT_EQ(chainText(db.file, kept), "Oslo");
    EXPECT_EQ(rec.findOwner(kept), 0);
    EXPECT_EQ(rec.recordID, 1010u);
}

// A small database for navigation: two fields, a link, a membership row.
class ZTRecNavigation : public ::testing::Test {
  protected:
    void SetUp() override {
        dbcheck::Fixture fx;
        fx.counter(2000);
        fx.field(kTown, "Town");
        fx.field(kName, "Name");
        berlin_ = fx.value(1010, kTown, 1, "Berlin");
        fx.value(1010, kTown, 2, "Paris");
        fx.value(1010, kName, 1, "Alice");
        fx.link(1011, kTown, 1, berlin_);
        fx.value(1011, kName, 1, "Bob");
        fx.value(1012, kTown, 1, "Amsterdam");
        fx.value(1012, kTown, 3, "Zagreb");
        base_ = dir_.file("nav");
        ASSERT_TRUE(fx.write(base_)) << fx.error;
        file_.setName(base_.c_str());
        ASSERT_EQ(file_.open(3, true), 3u);
    }

    TempDir dir_;
    std::string base_;
    ZTFile file_{nullptr};
    uint32_t berlin_ = 0;
};

TEST_F(ZTRecNavigation, RecordOrder) {
    ZTRec rec(&file_);
    // seek: 0 on the record, 1 on the next record, -1 past the end.
    EXPECT_EQ(rec.seek(1010, kTown, 0, ""), 0);
    EXPECT_EQ(rec.position, 1u);
    EXPECT_EQ(chainText(file_, rec.valueID), "Berlin");
    EXPECT_EQ(rec.seek(1010, kTown, 2, ""), 0);
    EXPECT_EQ(rec.position, 2u);
    EXPECT_EQ(rec.seek(1010, kName + 1, 0, ""), 1);
    EXPECT_EQ(rec.recordID, 1011u);
    EXPECT_EQ(file_.getLastStatus(), 1);
    EXPECT_EQ(rec.seek(5000, 1, 0, ""), -1);
    EXPECT_EQ(file_.getLastStatus(), -1);

    // skip: 0 within the record, 1 onto another, -1 past the end.
    ASSERT_EQ(rec.seek(1010, kTown, 0, ""), 0);
    EXPECT_EQ(rec.skip(1), 0);
    EXPECT_EQ(rec.position, 2u);
    EXPECT_EQ(rec.skip(2), 1);
    EXPECT_EQ(rec.recordID, 1011u);
    EXPECT_EQ(rec.goLast(), 0);
    EXPECT_EQ(rec.recordID, 1012u);
    EXPECT_EQ(rec.skip(1), -1);
    EXPECT_EQ(rec.goFirst(), 0);
    EXPECT_EQ(rec.recordID, 51u);

    // findValue: the row again, by position (exact) or by value number and key.
    ASSERT_EQ(rec.seek(1010, kTown, 2, ""), 0);
    ZTRec again(&file_);
    again.copyFrom(rec);
    EXPECT_EQ(again.findValue("Paris", true), 0);
    EXPECT_EQ(again.position, 2u);
    EXPECT_EQ(again.findValue("Paris", false), 0);
    EXPECT_EQ(again.position, 2u);
    again.copyFrom(rec);
    again.valueID += 100;  // gone: the walk stops on the next row
    EXPECT_EQ(again.findValue("Paris", false), 1);
    EXPECT_EQ(again.recordID, 1010u);
    EXPECT_EQ(again.typeID, kName);

    // hasValue: owners by text, links by value number, with and without the position.
    EXPECT_TRUE(rec.hasValue(1010, kTown, 2, "Paris", 0, 0, true));
    EXPECT_FALSE(rec.hasValue(1010, kTown, 1, "Paris", 0, 0, true));
    EXPECT_TRUE(rec.hasValue(1010, kTown, 0, "Paris", 0, 0, false));
    EXPECT_FALSE(rec.hasValue(1010, kTown, 0, "paris", 0, 0, false));
    EXPECT_TRUE(rec.hasValue(1011, kTown, 1, nullptr, berlin_, 0, true));
    EXPECT_FALSE(rec.hasValue(1010, kTown, 1, nullptr, berlin_, 0, true));  // the owner
}

TEST_F(ZTRecNavigation, ValueOrderAndOwners) {
    ZTRec rec(&file_);
    auto town = [&] { return std::string(chainText(file_, rec.valueID)); };
    ASSERT_EQ(rec.seekInType(kTown, "", false, false, false), 0);
    EXPECT_EQ(town(), "Amsterdam");
    std::vector<std::string> order{town()};
    while (rec.skipInType(1, false, false) == 0) order.push_back(town());
    EXPECT_EQ(order,
              (std::vector<std::string>{"Amsterdam", "Berlin", "Berlin", "Paris", "Zagreb"}));
    EXPECT_EQ(rec.typeID, kName);  // the row that ended the walk
    EXPECT_EQ(town(), "Alice");

    // Exact and high seeks; sameValue keeps to one key.
    ASSERT_EQ(rec.seekInType(kTown, "berlin", false, false, false), 0);
    EXPECT_EQ(town(), "Berlin");
    EXPECT_EQ(rec.seekInType(kTown, "berlin", false, false, true), -1);  // another key
    ASSERT_EQ(rec.seekInType(kTown, "Berlin", false, false, true), 0);
    EXPECT_EQ(rec.skipInType(1, false, true), 0);
    EXPECT_TRUE(rec.isLinkRow());
    EXPECT_EQ(rec.skipInType(1, false, true), -1);
    ASSERT_EQ(rec.seekInType(kTown, "Berlin", false, true, false), 0);
    EXPECT_EQ(town(), "Paris");
    EXPECT_EQ(rec.seekInType(kTown, "zz", false, false, false), -1);  // past the type

    // follow: the link row gives its owner, and the walk goes on from the link row.
    ASSERT_EQ(rec.seekInType(kTown, "Berlin", false, false, true), 0);
    ASSERT_EQ(rec.skipInType(1, true, false), 0);
    EXPECT_EQ(rec.recordID, 1010u);
    EXPECT_FALSE(rec.isLinkRow());
    ASSERT_EQ(rec.skipInType(1, true, false), 0);
    EXPECT_EQ(town(), "Paris");

    EXPECT_EQ(rec.goLastOfType(kTown, false), 0);
    EXPECT_EQ(town(), "Zagreb");
    EXPECT_EQ(rec.goLastOfType(kName, false), 0);
    EXPECT_EQ(town(), "Bob");
    EXPECT_EQ(rec.goLastOfType(3000, false), -1);
    double at = rec.typeFraction();
    EXPECT_GT(at, 0.5);
    EXPECT_LE(at, 1.0);
    EXPECT_EQ(rec.goToFraction(kTown, 0.0, false), -1);  // the first rows are of type 1
    EXPECT_EQ(rec.goToFraction(kTown, 0.5, false), 0);

    EXPECT_EQ(rec.findOwner(berlin_), 0);
    EXPECT_EQ(rec.recordID, 1010u);
    EXPECT_EQ(rec.findOwner(9999), -1);
    ASSERT_EQ(rec.seek(1011, kTown, 1, ""), 0);
    EXPECT_EQ(rec.followLink(), 0);
    EXPECT_EQ(rec.recordID, 1010u);
}

// A call that fails releases what it held: another process locks at once.
TEST_F(ZTRecNavigation, FailuresLeaveNoLock) {
    ZTRec rec(&file_);
    ZTStr text;
    EXPECT_EQ(rec.seek(9000, 1, 0, ""), -1);
    EXPECT_EQ(rec.seekInType(kTown, "zz", false, false, false), -1);
    EXPECT_EQ(rec.goLastOfType(3000, true), -1);
    EXPECT_EQ(rec.findOwner(9999), -1);
    EXPECT_FALSE(rec.readChain(9999, &text));
    EXPECT_FALSE(rec.renumber(1010, kTown, 7));
    CFilterElem elem(kTown, file_.getKeyLengths());
    elem.parse("*zzz");
    EXPECT_FALSE(rec.testRecord(1010, &elem, false));
    EXPECT_EQ(file_.getLockDepth(), 0);
    Child other([&](int, int out) {
        ZTFile mine(base_.c_str());
        int32_t got = mine.open(3, false) == 3 && mine.lock(true) ? 1 : 0;
        if (got) (void)mine.unlock();
        if (!writeValue(out, got)) _exit(2);
    });
    EXPECT_EQ(other.receiveValue<int32_t>(-1), 1);
}

// A read that found the tables holding nothing may skip the next release only while the
// library takes no lock: each kind it takes afterwards is still given back.
TEST_F(ZTRecNavigation, ReleasesLocksTakenAfterAQuietRead) {
    table4* rows = file_.getRowTable();
    table4* dict = file_.getDictionaryTable();
    const struct {
        const char* kind;
        table4* table;
        std::function<int32_t()> take;
    } takes[] = {
        {"record", rows, [&] { return table4lockRecord(rows, 1); }},
        {"append", dict, [&] { return table4lockAppend(dict); }},
        {"file", rows, [&] { return table4lockFile(rows); }},
        {"indexes", dict, [&] { return table4lockIndexes(dict->dataFile, dict->lockOwner); }},
    };
    ZTRec rec(&file_);
    for (const auto& t : takes) {
        ASSERT_EQ(rec.seekInType(kTown, "", false, false, false), 0) << t.kind;
        rec.unlockTables();  // nothing held: noted
        ASSERT_EQ(table4holdsLocks(rows) + table4holdsLocks(dict), 0) << t.kind;
        ASSERT_EQ(t.take(), 0) << t.kind;
        ASSERT_EQ(table4holdsLocks(t.table), 1) << t.kind;
        rec.unlockTables();
        EXPECT_EQ(table4holdsLocks(t.table), 0) << t.kind;
    }
}

TEST(ZTRecRows, RenumberOpensAPlace) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    for (uint32_t p = 1; p <= 3; ++p)
        ASSERT_NE(addValue(db.file, 1010, kTown, p, "v" + std::to_string(p)), 0u);
    ASSERT_NE(addValue(db.file, 1010, kTown, 6, "v6"), 0u);
    ASSERT_NE(addValue(db.file, 1011, kTown, 2, "other"), 0u);
    ZTRec rec(&db.file);
    EXPECT_TRUE(rec.renumber(1010, kTown, 2));
    std::map<uint32_t, std::string> positions;
    for (int r = rec.seek(1010, kTown, 0, ""); r == 0 && rec.typeID == kTown; r = rec.skip(1))
        positions[rec.position] = chainText(db.file, rec.valueID);
    EXPECT_EQ(positions,
              (std::map<uint32_t, std::string>{{1, "v1"}, {3, "v2"}, {4, "v3"}, {6, "v6"}}));
    EXPECT_FALSE(rec.renumber(1010, kTown, 2));  // free now
    EXPECT_FALSE(rec.renumber(1010, kTown, 65024));
    EXPECT_FALSE(rec.renumber(1010, kTown, 70000));
    EXPECT_TRUE(rec.renumber(1011, kTown, 2));
    ASSERT_EQ(rec.seek(1011, kTown, 0, ""), 0);
    EXPECT_EQ(rec.position, 3u);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTRecRows, CounterRoundTrip) {
    NewDatabase db;
    ZTRec rec(&db.file);
    EXPECT_EQ(rec.getCounter(), 0u);
    for (uint32_t n : {1002u, 7u, 4294967295u, 16581375u}) {
        ASSERT_TRUE(rec.setCounter(n));
        EXPECT_EQ(rec.getCounter(), n);
        EXPECT_EQ(db.file.getChangeCount(), n);
    }
    dbcheck::Report report = db.check();
    size_t counterRows =
        size_t(std::count_if(report.rows.begin(), report.rows.end(),
                             [](const auto& r) { return r.a == 51 && r.b == 2 && !r.deleted; }));
    EXPECT_EQ(counterRows, 1u);
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTRecRows, TruncatedTextKeys) {
    NewDatabase db;
    ZTRec rec(&db.file);
    const struct {
        std::string value;
        bool truncated;
    } cases[] = {
        {"short", false},    {std::string(40, 'b'), true},  {"12345", false},
        {"1/2/2003", false}, {std::string(100, '7'), true},  // too many digits for a number: a text
    };
    for (const auto& c : cases) {
        char key[64];
        db.file.makeKey(c.value.c_str(), key, true, false, false, false);
        EXPECT_EQ(rec.isTruncatedTextKey(key), c.truncated) << c.value;
    }
}

}  // namespace

namespace {

// The atom finds its row again by its value text and removes it; a row that is gone is not
// found, also when the walk stopped on another record.
TEST(ZTRecAtom, FindsAndRemovesItsRow) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    ASSERT_NE(addValue(db.file, 1010, kTown, 1, "Berlin"), 0u);
    ASSERT_NE(addValue(db.file, 1010, kTown, 2, "Paris"), 0u);
    ASSERT_NE(addValue(db.file, 1011, kTown, 1, "Rome"), 0u);
    ZTFileAtom atom(&db.file);
    ASSERT_EQ(atom.seek(1010, kTown, 2, ""), 0);
    ASSERT_TRUE(atom.readValue());
    EXPECT_STREQ(atom.value.text, "Paris");
    ZTFileAtom copy;
    copy.copyFrom(atom);
    EXPECT_EQ(copy.find(true), 0);
    EXPECT_EQ(copy.find(false), 0);
    EXPECT_EQ(copy.position, 2u);

    const uint32_t paris = atom.valueID;
    EXPECT_TRUE(atom.remove(true));
    EXPECT_EQ(db.file.getLastStatus(), 0);
    EXPECT_FALSE(copy.remove(true));  // gone: the walk ends on record 1011
    EXPECT_EQ(copy.find(false), -1);
    EXPECT_EQ(copy.recordID, 1011u);
    EXPECT_EQ(chainText(db.file, paris), "<unread>");

    atom.init(&db.file);
    EXPECT_EQ(atom.value.length, 0u);
    ASSERT_EQ(atom.seek(1010, kTown, 0, ""), 0);
    ASSERT_TRUE(atom.readValue());
    EXPECT_STREQ(atom.value.text, "Berlin");
    EXPECT_EQ(db.file.getLockDepth(), 0);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

}  // namespace
