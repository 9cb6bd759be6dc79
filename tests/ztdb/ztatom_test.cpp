// The value cursor: write results, record and display order, value order, record walks, and
// binary values.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "date_order_pin.h"
#include "ztatom_helpers.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztset.h"

using namespace atomtest;

namespace {

constexpr uint32_t kF = 1001;  // a field
constexpr uint32_t kR = 1100;  // a record

struct AtomTest : ::testing::Test {
    DateOrderPin pin{false};
    NewDatabase db{3, false};
    ZTFile& file = db.file;
    void SetUp() override { ASSERT_TRUE(ZTRec(&file).setCounter(5000)); }
};

// An unsaved field list: the fields in order, the first `fixed` of them fixed.
void fillStructure(ZTSet* structure, std::initializer_list<uint32_t> fields, uint32_t fixed) {
    for (uint32_t f : fields) structure->insert(f, structure->size);
    structure->setFixedCount(fixed);
}

// ---- write ----

TEST_F(AtomTest, WriteResults) {
    ZTAtom a(&file, 0);
    EXPECT_EQ(a.write(kR, kF, 1, "alpha"), ZTAtom::kWriteAdded);
    EXPECT_EQ(a.write(kR, kF, 1, "alpha"), ZTAtom::kWriteStored);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"alpha"}));

    EXPECT_EQ(a.write(kR, kF, 1, "beta"), ZTAtom::kWriteChanged);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"beta"}));
    EXPECT_EQ(a.write(kR, kF, 2, "gamma", 0, true), ZTAtom::kWriteAdded);

    // The cursor's own value moves to a free position of its field.
    ASSERT_EQ(a.find(kR, kF, 1, "", nullptr, false), 0);
    ASSERT_EQ(a.write(kR, kF, 3, "beta"), ZTAtom::kWriteChanged);
    EXPECT_EQ(positionsOf(file, kR, kF), (std::vector<uint32_t>{2, 3}));
    ASSERT_EQ(a.write(kR, kF, 1, "beta"), ZTAtom::kWriteChanged);
    // A position that holds a value is written over: positions stay unique.
    ASSERT_EQ(a.write(kR, kF, 2, "beta"), ZTAtom::kWriteChanged);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"beta", "beta"}));
    ASSERT_EQ(a.write(kR, kF, 2, "gamma"), ZTAtom::kWriteChanged);
    // A cursor that is not on the row still writes over the value at the position.
    ZTAtom other(&file, 0);
    EXPECT_EQ(other.write(kR, kF, 1, "delta"), ZTAtom::kWriteChanged);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"delta", "gamma"}));

    EXPECT_EQ(a.write(kR, kF, 1, ""), ZTAtom::kWriteRemoved);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"gamma"}));

    EXPECT_EQ(a.write(0, kF, 1, "new record"), ZTAtom::kWriteCreated);
    EXPECT_GE(a.recordID, 1001u);
    EXPECT_NE(a.recordID, kR);
    EXPECT_EQ(ownTextsOf(file, a.recordID, kF), (std::vector<std::string>{"new record"}));

    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST_F(AtomTest, PositionedInsertShiftsTheLaterPositions) {
    ZTAtom a(&file, 0);
    for (uint32_t p : {1u, 2u, 3u, 5u})
        ASSERT_EQ(a.write(kR, kF, p, ("v" + std::to_string(p)).c_str(), 0, true), 2);
    ZTAtom ins(&file, ZTAtom::kModePositioned);
    EXPECT_EQ(ins.write(kR, kF, 2, "new", 0, true), ZTAtom::kWriteMoved);
    // 2 and 3 moved up; 5 was not in the run.
    std::vector<Row> rows = rowsOf(file, kR, kF);
    std::vector<std::pair<uint32_t, std::string>> got;
    for (const Row& r : rows) got.push_back({r.position, r.text});
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, std::string>>{
                       {1, "v1"}, {2, "new"}, {3, "v2"}, {4, "v3"}, {5, "v5"}}));
    // The no-renumber flag leaves the positions alone.
    EXPECT_EQ(ins.write(kR, kF, 6, "six", 0, true, true, true), ZTAtom::kWriteAdded);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST_F(AtomTest, AppendPosition) {
    ZTAtom a(&file, 0);
    EXPECT_EQ(a.write(kR, kF, ZTAtom::kAppend, "first"), 2);
    EXPECT_EQ(a.position, 1u);
    EXPECT_EQ(a.write(kR, kF, ZTAtom::kAppend, "second", 0, true), 2);
    EXPECT_EQ(a.position, 2u);
    EXPECT_EQ(a.write(kR, kF, 65024, "unplaced", 0, true), 2);
    EXPECT_EQ(a.write(kR, kF, ZTAtom::kAppend, "after it", 0, true), 2);
    EXPECT_EQ(a.position, 65024u);
    EXPECT_EQ(positionsOf(file, kR, kF), (std::vector<uint32_t>{1, 2, 65024, 65024}));
}

TEST_F(AtomTest, AnEmptyWriteRemovesOnlyTheTarget) {
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.write(kR, kF, 1, "keep me"), 2);
    ASSERT_EQ(a.write(kR + 1, kF, 1, "and me"), 2);
    // The cursor stands on record kR's row; emptying a target that has no row removes nothing.
    ASSERT_EQ(a.find(kR, kF, 0, "", nullptr, false), 0);
    EXPECT_EQ(a.write(kR + 2, kF, 1, ""), ZTAtom::kWriteRemoved);
    EXPECT_EQ(a.write(kR, kF, 2, ""), ZTAtom::kWriteRemoved);
    EXPECT_EQ(a.write(kR + 1, kF + 1, 1, ""), ZTAtom::kWriteRemoved);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"keep me"}));
    EXPECT_EQ(ownTextsOf(file, kR + 1, kF), (std::vector<std::string>{"and me"}));
    // Another record's value is written as its own, the cursor's row left alone.
    EXPECT_EQ(a.write(kR + 1, kF, 2, "more"), ZTAtom::kWriteAdded);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{"keep me"}));
}

TEST_F(AtomTest, BadWritesChangeNothing) {
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.write(kR, kF, 1, "there"), 2);
    const FilesState before = filesState(db.base);
    struct Case {
        uint32_t record, field, position;
    };
    for (const Case& c : {Case{kR, kF, 0}, Case{kR, kF, 65026}, Case{kR, 0, 1},
                          Case{kR, 0xFFFFFFFFu, 1}, Case{0xFFFFFFFFu, kF, 1}})
        EXPECT_EQ(a.write(c.record, c.field, c.position, "x"), ZTAtom::kWriteFailed)
            << c.record << " " << c.field << " " << c.position;
    EXPECT_TRUE(filesState(db.base) == before);
}

TEST_F(AtomTest, OddValuesAreStoredAsGiven) {
    ZTAtom a(&file, 0);
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c) high += char(c);
    const std::string big(100000, 'q');
    ASSERT_EQ(a.write(kR, kF, 1, high.c_str()), 2);
    ASSERT_EQ(a.write(kR, kF, 2, big.c_str(), 0, true), 2);
    EXPECT_EQ(ownTextsOf(file, kR, kF), (std::vector<std::string>{high, big}));
    ASSERT_EQ(a.find(kR, kF, 2, "", nullptr, false), 0);
    EXPECT_EQ(std::string(a.value.text), big);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST_F(AtomTest, SharedValuesAreLinkRows) {
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.write(kR, kF, 1, "owned"), 2);
    const uint32_t owned = a.valueID;
    EXPECT_EQ(a.write(kR + 1, kF + 1, 1, nullptr, owned), 2);
    EXPECT_TRUE(a.isLinkRow());
    EXPECT_EQ(a.linkRecord, kR);
    EXPECT_EQ(a.linkField, kF);
    EXPECT_EQ(std::string(a.value.text), "owned");
    ZTAtom owner(&file, ZTAtom::kModeKeysOnly);
    ASSERT_EQ(owner.findOwnerRow(owned), 0);
    EXPECT_EQ(owner.recordID, kR);
    EXPECT_EQ(owner.typeID, kF);
    EXPECT_EQ(owner.value.length, 0u);  // keys only
    EXPECT_EQ(owner.findOwnerRow(owned + 100), -1);
    EXPECT_EQ(a.write(kR + 1, kF + 1, 1, nullptr, owned), ZTAtom::kWriteStored);
    EXPECT_EQ(rowsOf(file, kR + 1, kF + 1).size(), 1u);
    // Editing the owner's text shows through the link.
    ASSERT_EQ(a.write(kR, kF, 1, "renamed"), ZTAtom::kWriteChanged);
    EXPECT_EQ(ownTextsOf(file, kR + 1, kF + 1), (std::vector<std::string>{"renamed"}));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// A write over the cursor's own value keeps its value number: a shorter text frees the chunks
// it no longer fills, a change of case alone or of the whole text shows through the link, and
// a link row written with a text gets a chain of its own, leaving the owner's as it was.
TEST_F(AtomTest, WritesOverTheOwnChain) {
    ZTAtom a(&file, ZTAtom::kModePositioned);
    ASSERT_EQ(a.write(kR, kF, 1, std::string(140, 'l').c_str()), ZTAtom::kWriteAdded);
    const uint32_t owned = a.valueID;
    ZTAtom link(&file, ZTAtom::kModePositioned);
    ASSERT_EQ(link.write(kR + 1, kF, 1, nullptr, owned), ZTAtom::kWriteAdded);
    const std::string texts[] = {"short", "SHORT", "Short, then long enough for two chunks"};
    for (const std::string& text : texts) {
        ASSERT_EQ(a.write(kR, kF, 1, text.c_str()), ZTAtom::kWriteChanged) << text;
        EXPECT_EQ(a.valueID, owned) << text;
        EXPECT_EQ(ownTextsOf(file, kR + 1, kF), std::vector<std::string>{text});
        dbcheck::Report report = db.check();
        EXPECT_TRUE(report.sound()) << text << "\n" << report.text();
    }
    ASSERT_EQ(link.write(kR + 1, kF, 1, "apart"), ZTAtom::kWriteChanged);
    EXPECT_FALSE(link.isLinkRow());
    EXPECT_NE(link.valueID, owned);
    EXPECT_EQ(ownTextsOf(file, kR, kF), std::vector<std::string>{texts[2]});
    EXPECT_EQ(ownTextsOf(file, kR + 1, kF), std::vector<std::string>{"apart"});
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// ---- record order ----

TEST_F(AtomTest, FindSkipsLinksWithoutOwnerThatValueOrderKeeps) {
    ASSERT_TRUE(addLink(file, kR, kF, 1, 4000));  // value 4000 has no owner
    ZTAtom a(&file, 0);
    EXPECT_EQ(a.find(kR, kF, 0, "", nullptr, false), -1);
    ASSERT_EQ(a.findValue(kF, "", false, false, false, 0), 0);
    EXPECT_EQ(a.recordID, kR);
    EXPECT_EQ(a.linkRecord, 0u);
    // Without link resolution the row is taken as it stands.
    ZTAtom raw(&file, ZTAtom::kModeNoLinks);
    EXPECT_EQ(raw.find(kR, kF, 0, "", nullptr, true), 0);
}

TEST_F(AtomTest, PlaceholdersForFixedFields) {
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.write(kR, 10, 1, "ten"), 2);
    ZTSet structure(&file, 0);
    fillStructure(&structure, {10, 11, 12}, 2);
    EXPECT_EQ(a.find(kR, 10, 0, "", &structure, false), 0);
    EXPECT_EQ(std::string(a.value.text), "ten");
    EXPECT_EQ(a.find(kR, 11, 0, "", &structure, false), 0);
    EXPECT_EQ(a.recordID, kR);
    EXPECT_EQ(a.typeID, 11u);
    EXPECT_EQ(a.value.length, 0u);
    EXPECT_EQ(a.find(kR, 12, 0, "", &structure, false), -1);
    EXPECT_EQ(a.find(kR, 11, 0, "", nullptr, false), -1);
    EXPECT_EQ(a.find(0, 11, 0, "", &structure, false), 0);
    EXPECT_EQ(a.find(0, 11, 0, "", nullptr, false), -1);
}

TEST_F(AtomTest, FindNextAndFindLastWalkAField) {
    ZTAtom w(&file, 0);
    for (uint32_t p = 1; p <= 4; ++p)
        ASSERT_EQ(w.write(kR, kF, p, ("v" + std::to_string(p)).c_str(), 0, true), 2);
    ASSERT_EQ(w.write(kR, kF + 1, 1, "next field"), 2);
    ZTAtom a(&file, 0);
    std::vector<uint32_t> forward, backward;
    for (int r = a.find(kR, kF, 0, "", nullptr, false); r == 0;
         r = a.findNext(&a, 1, nullptr, false))
        forward.push_back(a.position);
    for (int r = a.findLast(kR, kF, false, nullptr); r == 0; r = a.findNext(&a, -1, nullptr, false))
        backward.push_back(a.position);
    EXPECT_EQ(forward, (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(backward, (std::vector<uint32_t>{4, 3, 2, 1}));
    // A walk goes on after its row was removed under it.
    ASSERT_EQ(a.find(kR, kF, 2, "", nullptr, false), 0);
    ZTAtom gone(a);
    ASSERT_EQ(w.write(kR, kF, 2, ""), 0);
    EXPECT_EQ(gone.findNext(&gone, 1, nullptr, false), 0);
    EXPECT_EQ(gone.position, 3u);
    ZTAtom back(a);
    EXPECT_EQ(back.findNext(&back, -1, nullptr, false), 0);
    EXPECT_EQ(back.position, 1u);
}

struct Shown {
    uint32_t field;
    std::string text;
    bool operator==(const Shown& o) const { return field == o.field && text == o.text; }
};
std::ostream& operator<<(std::ostream& os, const Shown& s) {
    return os << s.field << ":" << s.text;
}

std::vector<Shown> displayWalk(ZTFile& file, uint32_t record, int direction, ZTSet* structure,
                               uint32_t low = 0, uint32_t high = 0xFFFFFFFFu,
                               const ZTArray<unsigned long>* only = nullptr,
                               const ZTArray<unsigned long>* except = nullptr,
                               bool noPlaceholders = false) {
    std::vector<Shown> shown;
    ZTAtom a(&file, 0);
    a.recordID = record;
    a.typeID = direction < 0 ? ZTAtom::kFieldSentinel : 0;
    for (int r = a.nextInRecord(&a, direction, structure, false, false, noPlaceholders, low, high,
                                only, except);
         r == 0 && shown.size() < 100; r = a.nextInRecord(&a, direction, structure, false, false,
                                                          noPlaceholders, low, high, only, except))
        shown.push_back({a.typeID, a.value.text});
    return shown;
}

TEST_F(AtomTest, DisplayOrderShowsTheStructureFirst) {
    ZTAtom w(&file, 0);
    ASSERT_EQ(w.write(kR, 300, 1, "f300"), 2);
    ASSERT_EQ(w.write(kR, 5, 1, "f5"), 2);
    ASSERT_EQ(w.write(kR, 1, 1, "f1"), 2);
    ASSERT_EQ(w.write(kR, 9, 1, "f9a"), 2);
    ASSERT_EQ(w.write(kR, 9, 2, "f9b", 0, true), 2);
    ASSERT_EQ(w.write(kR + 1, 7, 1, "other record"), 2);
    ZTSet structure(&file, 0);
    fillStructure(&structure, {9, 1}, 2);
    const std::vector<Shown> forward = displayWalk(file, kR, 1, &structure);
    EXPECT_EQ(forward,
              (std::vector<Shown>{{9, "f9a"}, {9, "f9b"}, {1, "f1"}, {5, "f5"}, {300, "f300"}}));
    const std::vector<Shown> backward = displayWalk(file, kR, -1, &structure);
    EXPECT_EQ(backward,
              (std::vector<Shown>{{300, "f300"}, {5, "f5"}, {1, "f1"}, {9, "f9b"}, {9, "f9a"}}));
    // Without a structure: field order.
    EXPECT_EQ(displayWalk(file, kR, 1, nullptr),
              (std::vector<Shown>{{1, "f1"}, {5, "f5"}, {9, "f9a"}, {9, "f9b"}, {300, "f300"}}));
}

TEST_F(AtomTest, DisplayOrderBoundsAndLists) {
    ZTAtom w(&file, 0);
    for (uint32_t f : {2u, 5u, 8u, 12u, 20u})
        ASSERT_EQ(w.write(kR, f, 1, ("f" + std::to_string(f)).c_str()), 2);
    ZTArray<unsigned long> only, except, none;
    only.add(20, true);
    only.add(2, true);
    except.add(8, true);
    struct Case {
        uint32_t low, high;
        const ZTArray<unsigned long>* only;
        const ZTArray<unsigned long>* except;
        std::vector<uint32_t> fields;
    };
    const Case cases[] = {
        {0, 0xFFFFFFFFu, nullptr, nullptr, {2, 5, 8, 12, 20}},
        {5, 12, nullptr, nullptr, {5, 8, 12}},
        {6, 11, nullptr, nullptr, {8}},
        {5, 12, nullptr, &except, {5, 12}},
        {5, 12, &only, nullptr, {2, 5, 8, 12, 20}},
        {5, 12, &only, &except, {2, 5, 12, 20}},
        {5, 12, &none, nullptr, {5, 8, 12}},
        {13, 19, nullptr, nullptr, {}},
    };
    for (const Case& c : cases) {
        for (int direction : {1, -1}) {
            std::vector<uint32_t> fields;
            for (const Shown& s :
                 displayWalk(file, kR, direction, nullptr, c.low, c.high, c.only, c.except))
                fields.push_back(s.field);
            std::vector<uint32_t> want = c.fields;
            if (direction < 0) want.assign(c.fields.rbegin(), c.fields.rend());
            EXPECT_EQ(fields, want) << c.low << ".." << c.high << " direction " << direction;
        }
    }
}

TEST_F(AtomTest, DisplayOrderPlaceholders) {
    ZTAtom w(&file, 0);
    ASSERT_EQ(w.write(kR, 30, 1, "x"), 2);
    ZTSet structure(&file, 0);
    fillStructure(&structure, {10, 20, 25}, 2);
    EXPECT_EQ(displayWalk(file, kR, 1, &structure),
              (std::vector<Shown>{{10, ""}, {20, ""}, {30, "x"}}));
    EXPECT_EQ(displayWalk(file, kR, -1, &structure),
              (std::vector<Shown>{{30, "x"}, {20, ""}, {10, ""}}));
    EXPECT_EQ(displayWalk(file, kR, 1, &structure, 0, 0xFFFFFFFFu, nullptr, nullptr, true),
              (std::vector<Shown>{{30, "x"}}));
    // A new record (ID 0) shows the placeholders alone.
    EXPECT_EQ(displayWalk(file, 0, 1, &structure), (std::vector<Shown>{{10, ""}, {20, ""}}));
}

// ---- value order ----

TEST_F(AtomTest, ValueOrderMeetsEveryValueOnceEachWay) {
    ZTAtom w(&file, 0);
    std::vector<std::string> texts = {"pear", "apple", "Apple", "fig", "42",
                                      "7",    "fig",   "kiwi",  "",    "Zebra"};
    for (size_t i = 0; i < texts.size(); ++i)
        if (!texts[i].empty()) {
            ASSERT_GE(w.write(1001 + uint32_t(i), kF, 1, texts[i].c_str()), 2);
        }
    ASSERT_EQ(w.write(kR, kF + 1, 1, "another field"), 2);
    std::vector<uint32_t> up, down;
    ZTAtom a(&file, 0);
    for (int r = a.findValue(kF, "", false, false, false, 0); r == 0;
         r = a.findNextValue(&a, 1, false))
        up.push_back(a.recordID);
    for (int r = a.findLastValue(kF, false); r == 0; r = a.findNextValue(&a, -1, false))
        down.push_back(a.recordID);
    ASSERT_EQ(up.size(), 9u);
    EXPECT_EQ(std::vector<uint32_t>(down.rbegin(), down.rend()), up);
    // Numbers first, then texts in letter order.
    ZTAtom first(&file, 0);
    ASSERT_EQ(first.findValue(kF, "", false, false, false, 0), 0);
    EXPECT_EQ(std::string(first.value.text), "7");
    // Exact: the key and the text.
    EXPECT_EQ(a.findValue(kF, "apple", true, false, false, 0), 0);
    EXPECT_EQ(std::string(a.value.text), "apple");
    EXPECT_EQ(a.findValue(kF, "APPLE", true, false, false, 0), -1);
    // After: past the values of that key.
    ASSERT_EQ(a.findValue(kF, "fig", false, false, true, 0), 0);
    EXPECT_EQ(std::string(a.value.text), "kiwi");
}

TEST_F(AtomTest, AnUpperBoundWalkMeetsEveryValueUnderIt) {
    ZTAtom w(&file, 0);
    uint32_t r = 1001;
    for (const char* t : {"la", "m", "mzzzz", "mzzz\xe9", "ma", "n", "na"})
        ASSERT_EQ(w.write(r++, kF, 1, t), 2);
    ZTFilter filter(file.getKeyLengths());
    filter.setCondition(kF, "<m");
    ZTAtom a(&file, 0);
    std::vector<std::string> down;
    for (int s = a.seekCondition(&filter, kF, false, 0, -1); s == 0;
         s = a.findNextValue(&a, -1, false))
        down.push_back(a.value.text);
    EXPECT_EQ(down, (std::vector<std::string>{"mzzzz", "mzzz\xe9", "ma", "m", "la"}));
    // Upwards from the lower bound.
    filter.setCondition(kF, ">ma");
    ASSERT_EQ(a.seekCondition(&filter, kF, false, 0, 1), 0);
    EXPECT_EQ(std::string(a.value.text), "ma");
}

TEST_F(AtomTest, RelativePositionInValueOrder) {
    ZTAtom w(&file, 0);
    for (uint32_t i = 0; i < 50; ++i)
        ASSERT_EQ(w.write(1001 + i, kF, 1, std::to_string(1000 + i).c_str()), 2);
    ZTAtom a(&file, ZTAtom::kModeRelative);
    ASSERT_EQ(a.findValue(kF, "1025", true, false, false, 0), 0);
    const double at = a.relativePosition;
    EXPECT_GT(at, 0.3);
    EXPECT_LT(at, 0.7);
    ZTAtom jump(&file, ZTAtom::kModeSeekFraction | ZTAtom::kModeRelative);
    jump.relativePosition = at;
    ASSERT_EQ(jump.findValue(kF, nullptr, false, false, false, 0), 0);
    EXPECT_NEAR(double(std::stoi(jump.value.text)), 1025.0, 1.0);
}

// ---- record walks ----

TEST_F(AtomTest, StepRecordAndGotoRelativeAgree) {
    ZTAtom w(&file, 0);
    std::vector<uint32_t> ids;
    std::mt19937 rng(7);
    for (uint32_t id = 1001; id <= 5000; ++id)
        if (id == 1001 || id == 5000 || rng() % 7 == 0) ids.push_back(id);
    for (uint32_t id : ids) ASSERT_EQ(w.write(id, kF, 1, "r"), 2);
    ASSERT_EQ(w.write(5, kF, 1, "predefined"), 2);
    ZTAtom a(&file, ZTAtom::kModeRelative);
    std::vector<uint32_t> seen;
    for (int r = a.stepRecord(5, 1); r == 0; r = a.stepRecord(a.recordID, 1)) {
        seen.push_back(a.recordID);
        ZTAtom back(&file, 0);
        ASSERT_EQ(back.gotoRelative(a.relativePosition), 0);
        EXPECT_EQ(back.recordID, a.recordID) << a.relativePosition;
    }
    EXPECT_EQ(seen, ids);
    std::vector<uint32_t> back;
    for (int r = a.stepRecord(0, -1); r == 0; r = a.stepRecord(a.recordID, -1))
        back.push_back(a.recordID);
    EXPECT_EQ(std::vector<uint32_t>(back.rbegin(), back.rend()), ids);
    EXPECT_EQ(a.stepRecord(ids[3], 0), 0);
    EXPECT_EQ(a.recordID, ids[3]);
    EXPECT_EQ(a.stepRecord(ids[3] + 1, 0), ids[4] == ids[3] + 1 ? 0 : -1);
}

TEST(AtomRecordWalk, ALoneRecordIsAtZero) {
    NewDatabase db(3, false);
    ASSERT_TRUE(ZTRec(&db.file).setCounter(2000));
    ZTAtom a(&db.file, ZTAtom::kModeRelative);
    ASSERT_EQ(a.write(1001, kF, 1, "only"), 2);
    a.relativePosition = 0.5;
    ASSERT_EQ(a.stepRecord(1000, 1), 0);
    EXPECT_EQ(a.recordID, 1001u);
    ASSERT_EQ(a.stepRecord(1001, 0), 0);
    EXPECT_EQ(a.relativePosition, 0.0);
    EXPECT_EQ(a.gotoRelative(0.9), 0);
    EXPECT_EQ(a.recordID, 1001u);
}

// ---- tests and helpers ----

TEST_F(AtomTest, RecordPasses) {
    ZTAtom w(&file, 0);
    ASSERT_EQ(w.write(kR, kF, 1, "red"), 2);
    ASSERT_EQ(w.write(kR, 124, 1, "x"), 2);
    ASSERT_EQ(w.write(kR, 121, 1, "\xc9mile"), 2);  // capital E acute
    ASSERT_EQ(w.write(kR + 1, kF, 1, "blue"), 2);
    ZTFilter filter(file.getKeyLengths());
    filter.setCondition(kF, "red");
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.find(kR, kF, 0, "", nullptr, false), 0);
    EXPECT_TRUE(a.recordPasses(0, &filter, nullptr));
    EXPECT_TRUE(a.recordPasses(0, nullptr, "\xe9MILE"));
    EXPECT_FALSE(a.recordPasses(0, nullptr, "emile"));
    EXPECT_FALSE(a.recordPasses(2000, nullptr, nullptr));
    ASSERT_EQ(a.find(kR + 1, kF, 0, "", nullptr, false), 0);
    EXPECT_FALSE(a.recordPasses(0, &filter, nullptr));
    EXPECT_TRUE(a.recordPasses(0, nullptr, "anyone"));  // no owner marker
}

TEST_F(AtomTest, FindOrAddFieldName) {
    ZTAtom a(&file, 0);
    uint32_t id = 0;
    EXPECT_EQ(a.findOrAddFieldName(0, "", &id), 0);
    EXPECT_EQ(id, 17u);
    EXPECT_EQ(a.findOrAddFieldName(0, nullptr, &id), 0);
    EXPECT_EQ(a.findOrAddFieldName(0, "Colour", &id), 2);
    const uint32_t colour = id;
    EXPECT_GE(colour, 1001u);
    EXPECT_EQ(a.findOrAddFieldName(0, "Colour", &id), 1);
    EXPECT_EQ(id, colour);
    EXPECT_EQ(a.findOrAddFieldName(colour, "Color", &id), 4);
    EXPECT_EQ(id, colour);
    EXPECT_EQ(ownTextsOf(file, colour, 1), (std::vector<std::string>{"Color"}));
}

// ---- binary values ----

TEST_F(AtomTest, BinaryValuesRoundTrip) {
    std::mt19937 rng(11);
    ZTBinaryAtom w(&file, 0);
    std::vector<uint32_t> lengths = {0, 1, 2, 255, 256, 4095, 40000};
    for (int i = 0; i < 5; ++i) lengths.push_back(rng() % 50000);
    uint32_t record = 1001;
    for (uint32_t n : lengths) {
        std::vector<unsigned char> bytes(n);
        for (auto& b : bytes) b = static_cast<unsigned char>(rng());
        ASSERT_GE(w.writeData(record, kF, 1, bytes.data(), n, true), 2) << n;
        ZTBinaryAtom r(&file, 0);
        if (n == 0) {
            EXPECT_EQ(r.find(record, kF, 0, "", nullptr, false), 0);
        } else {
            ASSERT_EQ(r.find(record, kF, 0, "", nullptr, false), 0) << n;
        }
        ASSERT_TRUE(r.readData()) << n;
        ASSERT_EQ(r.length, n);
        EXPECT_TRUE(n == 0 || std::memcmp(r.buffer, bytes.data(), n) == 0) << n;
        ++record;
    }
    // The longest value, 65,023 random bytes (most of which code in three halves), round-trips;
    // one byte more is refused and stores nothing.
    std::vector<unsigned char> longest(65024);
    for (auto& b : longest) b = static_cast<unsigned char>(rng());
    ASSERT_EQ(w.writeData(record, kF, 1, longest.data(), 65023, true), 2);
    ZTBinaryAtom r(&file, 0);
    ASSERT_EQ(r.find(record, kF, 0, "", nullptr, false), 0);
    ASSERT_TRUE(r.readData());
    ASSERT_EQ(r.length, 65023u);
    EXPECT_EQ(std::memcmp(r.buffer, longest.data(), 65023), 0);
    EXPECT_EQ(w.writeData(record + 1, kF, 1, longest.data(), 65024, true), ZTAtom::kWriteFailed);
    EXPECT_TRUE(rowsOf(file, record + 1, kF).empty());
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

}  // namespace
