// Result descriptions: queries, lists, marks and the transfer block, sound and damaged.
#include "ztdb/ztresult.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xbase/temp_dir.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztset.h"

namespace {

std::vector<uint32_t> toVector(const ZTArray<uint32_t>& a) {
    return std::vector<uint32_t>(a.data, a.data + a.size);
}

ZTArray<uint32_t> toArray(const std::vector<uint32_t>& v) {
    ZTArray<uint32_t> a;
    for (uint32_t x : v) a.append(x);
    return a;
}

// Every member, so that "unchanged" compares all of them.
struct Snapshot {
    ZTFile* file;
    std::string text;
    uint32_t sorting, set, first;
    bool option, explicitList, allMarked, adopt;
    std::vector<uint32_t> queryIDs, ids, marks, spare;

    explicit Snapshot(ZTResult& r)
        : file(r.getFile()),
          text(r.getText()),
          sorting(r.getSortingField()),
          set(r.getSetMember()),
          first(r.getSetFirstField()),
          option(r.getOption()),
          explicitList(r.hasIDList()),
          allMarked(r.isAllMarked()),
          adopt(r.isAdoptingLists()),
          queryIDs(toVector(r.getQueryIDs())),
          marks(toVector(r.getMarks())) {
        bool wasExplicit = r.hasIDList();
        ids = wasExplicit ? toVector(*r.getIDList()) : std::vector<uint32_t>{};
        if (!wasExplicit) spare = toVector(*r.getIDList());
    }
    bool operator==(const Snapshot&) const = default;
};

class ZTResultTest : public ::testing::Test {
  protected:
    TempDir dir;
    ZTFile file{dir.file("Notes").c_str()};
    ZTFile other{dir.file("notes").c_str()};

    // A result with every member away from its default.
    void fill(ZTResult& r) {
        ZTArray<uint32_t> sets = toArray({1002, 1004});
        r.setQuery("(1001)caf\xE9 (12)", 1001, 1002, 1003, true, &sets);
        ZTArray<uint32_t> ids = toArray({1010, 1011, 1012, 1013});
        r.setIDList(&ids);
        r.markRange(1011, 2);
    }

    std::vector<unsigned char> blockOf(const ZTResult& r, const std::string& extra) {
        ZTGlobalMem mem(ZTResult::kBlockGrowStep);
        EXPECT_TRUE(r.writeGlobalMem(&mem, extra.data(), uint32_t(extra.size())));
        return mem.release();
    }
};

TEST_F(ZTResultTest, AFreshResultIsEmptyAndNotAWholeSet) {
    ZTResult r(&file, false);
    EXPECT_TRUE(r.isValid());
    EXPECT_STREQ(r.getText(), "");
    EXPECT_EQ(r.getSortingField() + r.getSetMember() + r.getSetFirstField(), 0u);
    EXPECT_FALSE(r.getOption() || r.hasIDList() || r.hasMarks() || r.isWholeSet());
    EXPECT_EQ(r.getIDList()->size + r.getQueryIDs().size + r.getMarkCount(), 0u);
    EXPECT_FALSE(ZTResult().isValid());
}

TEST_F(ZTResultTest, WholeSetNeedsTheSetInItsOwnOrderAndNothingElse) {
    ZTArray<uint32_t> sets = toArray({7});
    struct Case {
        const char* text;
        uint32_t sorting;
        uint32_t set;
        bool option;
        const ZTArray<uint32_t>* sets;
        bool whole;
    } cases[] = {
        {"", 0, 12, false, nullptr, true},   {"", 30, 12, false, nullptr, true},
        {"", 31, 12, false, nullptr, false}, {"", 0, 12, true, nullptr, false},
        {"", 0, 12, false, &sets, false},    {"x", 0, 12, false, nullptr, false},
        {"", 0, 0, false, nullptr, false},
    };
    for (const Case& c : cases) {
        ZTResult r(&file, false);
        r.setQuery(c.text, c.sorting, c.set, c.set ? 30 : 0, c.option, c.sets);
        EXPECT_EQ(r.isWholeSet(), c.whole) << c.text << " " << c.sorting << " " << c.set;
    }

    ZTSet fields(&file, 12);
    fields.insert(30, 0);
    fields.insert(31, 1);
    ZTResult r(&file, false);
    r.setQuery("", 30, &fields, false, nullptr);
    EXPECT_EQ(r.getSetMember(), 12u);
    EXPECT_EQ(r.getSetFirstField(), 30u);
    EXPECT_TRUE(r.isWholeSet());
    ZTSet empty(&file, 13);
    r.setQuery("", 0, &empty, false, nullptr);
    EXPECT_EQ(r.getSetFirstField(), 0u);
    r.setQuery("", 5, static_cast<const ZTSet*>(nullptr), false, nullptr);
    EXPECT_EQ(r.getSetMember() + r.getSetFirstField(), 0u);
}

TEST_F(ZTResultTest, ListsAreAdoptedOrKeptOnceAndOwned) {
    for (bool adopt : {false, true}) {
        ZTResult r(&file, adopt);
        {
            ZTArray<uint32_t> ids = toArray({5, 3, 5, 7});
            r.setIDList(&ids);
        }  // the caller's array is gone: the result keeps its own
        std::vector<uint32_t> want =
            adopt ? std::vector<uint32_t>{5, 3, 5, 7} : std::vector<uint32_t>{5, 3, 7};
        EXPECT_EQ(toVector(*r.getIDList()), want) << adopt;
        EXPECT_EQ(r.getIDCount(), want.size());
        EXPECT_EQ(r.getListID(1), 3u);
        EXPECT_EQ(r.getListID(uint32_t(want.size())), 0u);
    }
}

TEST_F(ZTResultTest, AStoredListIsNotExplicitAndTheSpareListIsLeftAlone) {
    ZTResult r(&file, false);
    r.getIDList()->append(900);  // not explicit: this is the spare list
    ZTArray<uint32_t> ids = toArray({5, 3});
    r.storeIDList(&ids);
    EXPECT_FALSE(r.hasIDList());
    EXPECT_EQ(r.getIDCount(), 0u);
    EXPECT_EQ(r.getListID(0), 0u);
    EXPECT_EQ(toVector(*r.getIDList()), std::vector<uint32_t>{900});
    r.markRange(3, 1);  // marks read the stored list as well
    EXPECT_EQ(toVector(r.getMarks()), std::vector<uint32_t>{3});

    r.setIDList(&ids);
    EXPECT_TRUE(r.hasIDList());
    r.setIDList(nullptr);
    EXPECT_FALSE(r.hasIDList());
    EXPECT_EQ(r.getIDList()->size, 1u);

    ZTResult copy(nullptr, false);
    copy.getIDList()->append(901);
    fill(r);
    copy.copy(r);
    r.reset(&file, false);
    copy.setIDList(nullptr);
    EXPECT_EQ(toVector(*copy.getIDList()), std::vector<uint32_t>{901});
    EXPECT_EQ(toVector(*r.getIDList()), std::vector<uint32_t>{900});
}

TEST_F(ZTResultTest, MarkRangeRunsFromTheStartIDToTheListEnd) {
    struct Case {
        uint32_t start, count;
        std::vector<uint32_t> marks;
    } cases[] = {
        {3, 10, {3, 7}}, {5, 2, {5, 3}}, {4, 1, {}}, {3, 0, {}}, {0, 5, {}}, {7, 0xFFFFFFFFu, {7}},
    };
    ZTResult r(&file, false);
    ZTArray<uint32_t> ids = toArray({5, 3, 7});
    r.setIDList(&ids);
    for (const Case& c : cases) {
        r.clearMarks(true);
        r.markRange(c.start, c.count);
        EXPECT_EQ(toVector(r.getMarks()), c.marks) << c.start << " " << c.count;
        EXPECT_FALSE(r.isAllMarked());
        EXPECT_EQ(r.getMarkedID(uint32_t(c.marks.size())), 0u);
    }
    r.clearMarks(true);
    EXPECT_TRUE(r.hasMarks());
}

TEST_F(ZTResultTest, CopyAndTransferCarryEveryMember) {
    ZTResult source(&file, true);
    fill(source);

    ZTResult copied(nullptr, false);
    copied.copy(source);
    EXPECT_EQ(Snapshot(copied), Snapshot(source));

    std::string extra("\x01\x00\x02", 3);
    std::vector<unsigned char> block = blockOf(source, extra);
    ZTStr path;
    ZTGlobalMem mem;
    mem.attach(block.data(), uint32_t(block.size()));
    ASSERT_TRUE(ZTResult::readGlobalMemPath(&mem, &path));
    EXPECT_STREQ(path.text, file.getFullPath());

    ZTResult read(nullptr, false);
    read.getIDList()->append(77);
    char got[3] = {};
    ASSERT_TRUE(read.readGlobalMem(&mem, &file, got, 3));
    EXPECT_EQ(std::string(got, 3), extra);
    Snapshot want(source);
    EXPECT_EQ(Snapshot(read), want);
    read.setIDList(nullptr);
    EXPECT_EQ(toVector(*read.getIDList()), std::vector<uint32_t>{77});

    // The same block read again (the reader starts at its first byte), without the extra bytes.
    ZTResult again(nullptr, false);
    ASSERT_TRUE(again.readGlobalMem(&mem, &file, nullptr, 0));
    EXPECT_EQ(Snapshot(again), want);

    // Flags written as any non-zero word read as set.
    ZTResult plain(&file, false);
    std::vector<unsigned char> flagged = blockOf(plain, "");
    size_t flagsAt = std::string(file.getFullPath()).size() + 1 + 1 + 12;
    flagged[flagsAt] = 0xFF;          // option
    flagged[flagsAt + 4 + 3] = 0x80;  // explicit, its high byte
    flagged[flagsAt + 8 + 1] = 0x01;  // all marked
    mem.attach(flagged.data(), uint32_t(flagged.size()));
    ASSERT_TRUE(again.readGlobalMem(&mem, &file, nullptr, 0));
    EXPECT_TRUE(again.getOption());
    EXPECT_TRUE(again.hasIDList());
    EXPECT_TRUE(again.isAllMarked());
    EXPECT_FALSE(again.isAdoptingLists());
}

TEST_F(ZTResultTest, AnotherDatabasesBlockIsRefused) {
    ZTResult source(&file, false);
    fill(source);
    ZTResult target(&other, false);
    fill(target);
    target.markRange(1013, 1);
    Snapshot before(target);

    ZTGlobalMem mem;
    std::vector<unsigned char> block = blockOf(source, "");
    mem.attach(block.data(), uint32_t(block.size()));
    // "Notes" and "notes" are two databases on this system.
    EXPECT_FALSE(target.readGlobalMem(&mem, &other, nullptr, 0));
    EXPECT_EQ(Snapshot(target), before);
    ZTFile unnamed;
    EXPECT_FALSE(target.readGlobalMem(&mem, &unnamed, nullptr, 0));
    EXPECT_FALSE(target.readGlobalMem(&mem, nullptr, nullptr, 0));
    EXPECT_EQ(Snapshot(target), before);

    // A path written with a table's extension still names the database.
    std::string withExtension = std::string(file.getFullPath()) + ".zt2";
    std::vector<unsigned char> renamed(withExtension.begin(), withExtension.end());
    size_t pathLength = std::string(file.getFullPath()).size();
    renamed.insert(renamed.end(), block.begin() + long(pathLength), block.end());
    mem.attach(renamed.data(), uint32_t(renamed.size()));
    EXPECT_TRUE(target.readGlobalMem(&mem, &file, nullptr, 0));
    EXPECT_EQ(target.getFile(), &file);
}

TEST_F(ZTResultTest, ADamagedBlockIsRefusedWithNothingChanged) {
    ZTResult source(&file, false);
    fill(source);
    const std::string extra = "XY";
    std::vector<unsigned char> good = blockOf(source, extra);
    size_t pathEnd = std::string(file.getFullPath()).size();
    size_t listsAt = pathEnd + 1 + std::string(source.getText()).size() + 1 + 7 * 4;

    auto setWord = [](std::vector<unsigned char>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    std::vector<std::vector<unsigned char>> damaged;
    for (size_t n = 0; n < good.size(); ++n)  // every truncation, extra bytes included
        damaged.emplace_back(good.begin(), good.begin() + long(n));
    for (uint32_t count : {3u, 1000u, 0x40000000u, 0xFFFFFFFFu}) {
        std::vector<unsigned char> b = good;
        setWord(b, listsAt, count);  // query set IDs: 2 stored
        damaged.push_back(b);
        b = good;
        setWord(b, listsAt + (1 + 2) * 4 + (1 + 4) * 4, count);  // marks: 2 stored
        damaged.push_back(b);
    }
    std::vector<unsigned char> noTerminator(good.begin(), good.begin() + long(pathEnd));
    damaged.push_back(noTerminator);

    ZTResult target(&file, true);
    ZTArray<uint32_t> ids = toArray({1, 2, 2});
    target.setIDList(&ids);
    target.markRange(2, 2);
    Snapshot before(target);
    for (const std::vector<unsigned char>& b : damaged) {
        ZTGlobalMem mem;
        mem.attach(b.data(), uint32_t(b.size()));
        char out[2] = {'-', '-'};
        EXPECT_FALSE(target.readGlobalMem(&mem, &file, out, 2)) << b.size();
        EXPECT_EQ(Snapshot(target), before) << b.size();
        EXPECT_EQ(std::string(out, 2), "--");
    }

    // Asking for more extra bytes than were written reads past the block.
    ZTGlobalMem mem;
    mem.attach(good.data(), uint32_t(good.size()));
    char out[3] = {};
    EXPECT_FALSE(target.readGlobalMem(&mem, &file, out, 3));
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(target.readGlobalMem(&mem, &file, out, 2));
}

TEST_F(ZTResultTest, ResultWithoutFileWritesNothing) {
    ZTResult r(nullptr, false);
    ZTGlobalMem mem(16);
    EXPECT_FALSE(r.writeGlobalMem(&mem, "x", 1));
    EXPECT_EQ(mem.filled(), 0u);
    ZTStr path;
    EXPECT_FALSE(ZTResult::readGlobalMemPath(&mem, &path));
}

}  // namespace
