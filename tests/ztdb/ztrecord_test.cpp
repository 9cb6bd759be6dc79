// Record images: lazy loading in record order, edits written back and read again, new records,
// read-only and range errors, the view limit, and the field order.
#include "ztdb/ztrecord.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ztdb/ztfilter.h"
#include "ztrecord_helpers.h"

using namespace recordtest;
using Texts = std::vector<std::string>;

namespace {

// Notice flags of the item (file, record, field), 0 when it has none.
uint32_t noticeFlags(const ZTRefreshInfo& ri, ZTFile& file, uint32_t record, uint32_t field) {
    for (uint32_t i = 0; i < ri.count(); ++i)
        if (ri.getFileID(i) == file.getFileID() && ri.getRecordID(i) == record &&
            ri.getSubID(i) == field)
            return ri.getFlags(i);
    return 0;
}

TEST(RecordLoad, StructureFieldsFirstWithPlaceholdersThenOthersByIDReadLazily) {
    NewDatabase db;
    addValue(db.file, 1500, 300, 1, "three hundred");
    addValue(db.file, 1500, 5, 1, "five");
    addValue(db.file, 1500, 9, 1, "nine");
    ZTSet structure(&db.file, 0);
    structure.insert(9, 0);
    structure.insert(1, 1);
    structure.setFixedCount(2);

    ZTRecord r(&db.file, &structure, nullptr, nullptr);
    r.read(1500);
    EXPECT_STREQ(r.getText(1), "");
    EXPECT_EQ(r.getTypeID(1), 1u);
    EXPECT_EQ(r.getLoadedCount(), 2u);  // only what was asked for
    EXPECT_TRUE(r.hasMoreValues());

    // Rows changed after the first values were read show in the values read later.
    ZTFile other(db.base.c_str());
    ASSERT_EQ(other.open(3, false), 3u);
    ASSERT_TRUE(other.deleteValues(1500, 5, nullptr));
    EXPECT_EQ(typesOf(r), (std::vector<uint32_t>{9, 1, 300}));
    EXPECT_EQ(textsOf(r), (Texts{"nine", "", "three hundred"}));
    EXPECT_FALSE(r.isModified());  // a placeholder is no change

    ZTRecord all(&db.file, &structure, nullptr, nullptr);
    all.read(1500, false, false, true);  // no placeholders
    EXPECT_EQ(typesOf(all), (std::vector<uint32_t>{9, 300}));
}

TEST(RecordLoad, IndexLookupsFollowFieldRuns) {
    PeopleDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    EXPECT_EQ(r.indexOf(kNotes, 0), 2);
    EXPECT_EQ(r.indexOf(kNotes, 3), 3);
    EXPECT_EQ(r.indexOf(kTags, 0), -1);
    EXPECT_EQ(r.lastIndexOf(kNotes, 0), 3);
    EXPECT_EQ(r.lastIndexOf(kTown, 0), 1);
    EXPECT_EQ(r.getSequence(3), 1);
    EXPECT_EQ(r.getSequence(0), 0);
    EXPECT_EQ(r.indexOfFieldName("NOTES", 0), 2);
    EXPECT_EQ(r.indexOfFieldName("town", 2), -1);
}

// The end of a field's run is told from the stored rows without loading the value after it;
// a row another process added to the run after the image read its first value still counts.
TEST(RecordLoad, RunEndsByTheStoredRows) {
    NewDatabase db;
    addValue(db.file, 1500, 5, 1, "five");
    addValue(db.file, 1500, 9, 1, "nine");
    addValue(db.file, 1500, 9, 2, "nine again");
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(1500);
    EXPECT_EQ(r.lastIndexOf(5, 0), 0);
    EXPECT_EQ(r.getLoadedCount(), 1u);
    EXPECT_EQ(r.lastIndexOf(9, 0), 2);

    r.read(1500);
    EXPECT_EQ(r.indexOf(5, 0), 0);
    ZTFile other(db.base.c_str());
    ASSERT_EQ(other.open(3, false), 3u);
    ASSERT_NE(addValue(other, 1500, 5, 2, "five again"), 0u);
    EXPECT_EQ(r.lastIndexOf(5, 0), 1);
    EXPECT_EQ(textsOf(r), (Texts{"five", "five again", "nine", "nine again"}));
}

TEST(RecordRange, OutsideTheValuesAndBelowTheReadOnlyCountNothingChanges) {
    PeopleDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    r.setReadOnlyFields(1);
    EXPECT_EQ(r.getReadOnlyCount(), 1u);
    r.setReadOnlyFields(2);
    EXPECT_EQ(r.getReadOnlyCount(), 2u);  // Name and Town
    r.setReadOnlyFields(9);
    EXPECT_EQ(r.getReadOnlyCount(), 4u);  // fewer runs: every loaded value
    r.setReadOnlyFields(1);

    struct Case {
        const char* what;
        std::function<bool(ZTRecord&)> op;
        int32_t code;
    };
    const Case cases[] = {
        {"setText read-only", [](ZTRecord& x) { return x.setText(0, "Bo"); }, -2},
        {"remove read-only", [](ZTRecord& x) { return x.removeValue(0); }, -2},
        {"insert read-only", [](ZTRecord& x) { return x.insertValue(0, kName, 0) >= 0; }, -2},
        {"setText outside", [](ZTRecord& x) { return x.setText(4, "z"); }, -3},
        {"remove outside", [](ZTRecord& x) { return x.removeValue(7); }, -3},
        {"getText outside", [](ZTRecord& x) { return x.getText(4) != nullptr; }, -3},
        {"type outside", [](ZTRecord& x) { return x.getTypeID(4) != 0; }, -3},
    };
    for (const Case& c : cases) {
        r.setLastResult(0);
        EXPECT_FALSE(c.op(r)) << c.what;
        EXPECT_EQ(r.getLastResult(), c.code) << c.what;
        EXPECT_FALSE(r.isModified()) << c.what;
        EXPECT_EQ(textsOf(r), (Texts{"Ann", "Oslo", "a", "b"})) << c.what;
    }
    EXPECT_TRUE(r.isValueModified(4));
    EXPECT_EQ(storedTexts(db.file, &people, kAnn), (Texts{"Ann", "Oslo", "a", "b"}));
}

TEST(RecordEdit, ChangesRemovalsAndInsertsAreStoredAndAnnounced) {
    PeopleDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    ASSERT_TRUE(r.setText(1, "Bergen"));
    ASSERT_TRUE(r.removeValue(2));  // Notes "a"
    // Three values of a new field, each inserted at position 1.
    for (const char* t : {"t1", "t2", "t3"}) {
        const int at = r.insertValue(ZTRecord::kNoIndex, kTags, 3);
        ASSERT_GE(at, 0);
        ASSERT_TRUE(r.setText(uint32_t(at), t));
    }
    // A value between Notes "b" and ... a new Notes value before it.
    const int n = r.insertValue(2, kNotes, 0);
    ASSERT_EQ(n, 2);
    ASSERT_TRUE(r.setText(2, "before b"));
    EXPECT_TRUE(r.isModified());

    ZTRefreshInfo ri;
    EXPECT_EQ(r.write(&ri), 1);
    EXPECT_EQ(r.getLastResult() & ZTRecord::kResultStored, ZTRecord::kResultStored);
    EXPECT_FALSE(r.isModified());
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, kTown), (Texts{"Bergen"}));
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, kNotes), (Texts{"before b", "b"}));
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, kTags), (Texts{"t1", "t2", "t3"}));
    EXPECT_EQ(atomtest::positionsOf(db.file, kAnn, kTags), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(noticeFlags(ri, db.file, kAnn, kTown), ZTRefreshItem::kChanged);
    EXPECT_EQ(noticeFlags(ri, db.file, kAnn, kTags), ZTRefreshItem::kAdded);
    // Notes: one value removed, one added.
    EXPECT_EQ(noticeFlags(ri, db.file, kAnn, kNotes),
              ZTRefreshItem::kRemoved | ZTRefreshItem::kAdded);
    EXPECT_EQ(storedTexts(db.file, &people, kAnn),
              (Texts{"Ann", "Bergen", "before b", "b", "t1", "t2", "t3"}));
    expectSound(db);
}

TEST(RecordEdit, RemovingAStoredValueDeletesItsRowAndAnnouncesIt) {
    PeopleDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    ASSERT_TRUE(r.removeValue(3));  // Notes "b"
    ZTRefreshInfo ri;
    EXPECT_EQ(r.write(&ri), 1);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, kNotes), (Texts{"a"}));
    EXPECT_EQ(noticeFlags(ri, db.file, kAnn, kNotes), ZTRefreshItem::kRemoved);
    expectSound(db);
}

TEST(RecordEdit, EditsThatEndWhereTheyStartedWriteNothing) {
    PeopleDatabase db;
    ZTSet people = db.people();
    const FilesState before = filesState(db.base);

    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    // Back to the stored text: not modified once the values are asked.
    ASSERT_TRUE(r.setText(0, "Anna"));
    ASSERT_TRUE(r.setText(0, "Ann"));
    EXPECT_FALSE(r.isModified());
    EXPECT_FALSE(r.isValueModified(0));
    EXPECT_EQ(r.write(nullptr), 0);

    // A new value removed again leaves nothing to delete.
    const int at = r.insertValue(ZTRecord::kNoIndex, kTags, 3);
    ASSERT_GE(at, 0);
    ASSERT_TRUE(r.setText(uint32_t(at), "gone"));
    ASSERT_TRUE(r.removeValue(uint32_t(at)));
    ZTRefreshInfo ri;
    r.write(&ri);
    EXPECT_EQ(noticeFlags(ri, db.file, kAnn, kTags), 0u);
    EXPECT_EQ(filesState(db.base), before);
}

// A new record's later values of a field still meet the field's earlier values, as for a
// stored record: a text the field holds already is dropped, its row moved to the later place.
TEST(RecordNew, LaterValuesOfAFieldMeetTheEarlierOnes) {
    PeopleDatabase db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.clear(true);
    const std::pair<uint32_t, const char*> values[] = {
        {kName, "Bob"},  {kTown, "Rome"}, {kNotes, "x"}, {kTown, "Oslo"},
        {kTown, "Rome"}, {kName, "Al"},   {kNotes, "x"}};
    for (const auto& [field, text] : values) {
        const int at = r.insertValue(ZTRecord::kNoIndex, field, 3);
        ASSERT_GE(at, 0);
        ASSERT_TRUE(r.setText(uint32_t(at), text));
    }
    ASSERT_EQ(r.write(nullptr), 1);
    const uint32_t bob = r.getRecordNumber();
    EXPECT_NE(r.getLastResult() & ZTRecord::kResultValueDropped, 0);
    const struct {
        uint32_t field;
        Texts texts;
        std::vector<uint32_t> positions;
    } expected[] = {
        {kName, {"Bob", "Al"}, {1, 2}}, {kTown, {"Oslo", "Rome"}, {2, 3}}, {kNotes, {"x"}, {2}}};
    for (const auto& e : expected) {
        EXPECT_EQ(atomtest::ownTextsOf(db.file, bob, e.field), e.texts) << e.field;
        EXPECT_EQ(atomtest::positionsOf(db.file, bob, e.field), e.positions) << e.field;
    }
    expectSound(db);
}

TEST(RecordNew, PlaceholdersAloneStoreNothingOneValueMakesAMember) {
    PeopleDatabase db;
    ZTSet people = db.people();
    const FilesState before = filesState(db.base);
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.clear();
    EXPECT_EQ(typesOf(r), (std::vector<uint32_t>{kName, kTown}));
    EXPECT_FALSE(r.isModified());
    EXPECT_EQ(r.write(nullptr), 0);
    EXPECT_EQ(r.getRecordNumber(), 0u);
    ZTRefreshInfo ri;
    EXPECT_EQ(r.writeBack(&ri, false), 1);
    EXPECT_EQ(r.getRecordNumber(), 0u);
    EXPECT_EQ(r.getLastResult(), ZTRecord::kResultNewStored);
    EXPECT_EQ(filesState(db.base), before);

    ASSERT_TRUE(r.setText(0, "Bob"));
    EXPECT_EQ(r.write(&ri), 1);
    const uint32_t bob = r.getRecordNumber();
    EXPECT_GE(bob, 1001u);
    EXPECT_NE(r.getLastResult() & ZTRecord::kResultNewStored, 0);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, bob, kName), (Texts{"Bob"}));
    EXPECT_TRUE(atomtest::ownTextsOf(db.file, bob, kTown).empty());  // the empty placeholder
    ZTArray<unsigned long> sets;
    db.file.getRecordSets(bob, &sets);
    EXPECT_GE(sets.find(kPeople), 0);
    EXPECT_EQ(noticeFlags(ri, db.file, bob, kName), ZTRefreshItem::kAdded);

    // A placeholder of a stored record given a text is stored as a new value.
    ZTRecord again(&db.file, &people, nullptr, nullptr);
    again.read(bob);
    ASSERT_TRUE(again.setText(1, "Rome"));
    EXPECT_EQ(again.write(nullptr), 1);
    EXPECT_EQ(storedTexts(db.file, &people, bob), (Texts{"Bob", "Rome"}));
    expectSound(db);
}

TEST(RecordRefresh, ANoticeOfItsRecordReadsTheImageAgainUnlessModifiedOrItsOwn) {
    PeopleDatabase db;
    ZTSet people = db.people();
    ZTRecord shown(&db.file, &people, nullptr, nullptr),
        edited(&db.file, &people, nullptr, nullptr), writer(&db.file, &people, nullptr, nullptr);
    shown.read(kAnn);
    ASSERT_STREQ(shown.getText(1), "Oslo");
    edited.read(kAnn);
    ASSERT_EQ(edited.getValueCount(), 4u);
    ASSERT_TRUE(edited.setText(0, "Zed"));
    writer.read(kAnn);
    ASSERT_TRUE(writer.setText(1, "Rome"));
    ZTRefreshInfo ri;
    ASSERT_EQ(writer.write(&ri), 1);

    EXPECT_EQ(writer.dispatchRefresh(&ri, nullptr), 0);  // its own change
    EXPECT_NE(shown.dispatchRefresh(&ri, nullptr), 0);
    EXPECT_STREQ(shown.getText(1), "Rome");
    EXPECT_EQ(edited.dispatchRefresh(&ri, nullptr), 0);
    EXPECT_STREQ(edited.getText(0), "Zed");
    EXPECT_STREQ(edited.getText(1), "Oslo");  // kept as it was read
}

// ---- the view limit ----

struct LongRecord : PeopleDatabase {
    static constexpr uint32_t kLong = 1300;
    static constexpr uint32_t kCount = 1200;
    LongRecord() {
        EXPECT_TRUE(file.lock(false));
        addValue(file, kLong, kName, 1, "Long");
        for (uint32_t n = 1; n < kCount; ++n)
            addValue(file, kLong, kNotes, n, "n" + std::to_string(n));
        EXPECT_TRUE(file.unlock());
    }
};

TEST(RecordViewLimit, AViewShows500AndItsWriteBackKeepsEveryStoredValue) {
    LongRecord db;
    ZTSet people = db.people();
    ZTRecord view(&db.file, &people, nullptr, nullptr);
    view.read(LongRecord::kLong);
    EXPECT_EQ(view.getValueCount(), ZTRecord::kViewLimit);
    EXPECT_EQ(view.getText(ZTRecord::kViewLimit), nullptr);

    // Town is a placeholder (index 1): Notes "n2" is value 3.
    ASSERT_STREQ(view.getText(3), "n2");
    ASSERT_TRUE(view.setText(3, "edited"));
    EXPECT_EQ(view.write(nullptr), 1);
    Texts notes = atomtest::ownTextsOf(db.file, LongRecord::kLong, kNotes);
    ASSERT_EQ(notes.size(), LongRecord::kCount - 1);
    EXPECT_EQ(notes[1], "edited");
    EXPECT_EQ(notes.back(), "n1199");
    EXPECT_EQ(view.getValueCount(), ZTRecord::kViewLimit);

    // An insert shifts the positions of the whole run, past the limit too.
    const int at = view.insertValue(3, kNotes, 0);
    ASSERT_EQ(at, 3);
    ASSERT_TRUE(view.setText(3, "inserted"));
    EXPECT_EQ(view.write(nullptr), 1);
    notes = atomtest::ownTextsOf(db.file, LongRecord::kLong, kNotes);
    ASSERT_EQ(notes.size(), LongRecord::kCount);
    EXPECT_EQ(notes[1], "inserted");
    EXPECT_EQ(notes[2], "edited");
    EXPECT_EQ(notes.back(), "n1199");
    const std::vector<uint32_t> positions =
        atomtest::positionsOf(db.file, LongRecord::kLong, kNotes);
    for (size_t k = 1; k < positions.size(); ++k) ASSERT_LT(positions[k - 1], positions[k]);
    expectSound(db);
}

TEST(RecordViewLimit, ANewCopyStoresEveryValue) {
    LongRecord db;
    ZTSet people = db.people();
    ZTRecord view(&db.file, &people, nullptr, nullptr);
    view.read(LongRecord::kLong);
    ASSERT_EQ(view.getValueCount(), ZTRecord::kViewLimit);

    ZTRecord copy(&db.file, &people, nullptr, nullptr);
    copy.assign(view, true);
    EXPECT_EQ(copy.write(nullptr), 1);
    const uint32_t made = copy.getRecordNumber();
    ASSERT_NE(made, 0u);
    ASSERT_NE(made, LongRecord::kLong);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, made, kNotes),
              atomtest::ownTextsOf(db.file, LongRecord::kLong, kNotes));
    EXPECT_EQ(atomtest::ownTextsOf(db.file, made, kName), (Texts{"Long"}));
    EXPECT_EQ(view.getValueCount(), ZTRecord::kViewLimit);  // the view stays a view
}

// ---- field order ----

// Record 1400: Name, Town, Notes c1 c2 c3, Zone; People lists Name and Town, Name fixed.
struct OrderDatabase : PeopleDatabase {
    static constexpr uint32_t kRec = 1400;
    OrderDatabase() {
        addValue(file, kRec, kName, 1, "A");
        addValue(file, kRec, kTown, 1, "B");
        for (uint32_t n = 1; n <= 3; ++n) addValue(file, kRec, kNotes, n, "c" + std::to_string(n));
        addValue(file, kRec, kZone, 1, "Z");
        ZTSet s(&file, kPeople);
        EXPECT_TRUE(s.load());
        s.setFixedCount(1);
        EXPECT_TRUE(s.save(nullptr));
    }
};

TEST(RecordOrder, MovesNeverLandInsideAnotherFieldsRun) {
    struct Case {
        int32_t from, to;
        Texts order;
        int result;
    };
    // A B c1 c2 c3 Z at 0..5.
    const Case cases[] = {
        {0, 3, {"B", "A", "c1", "c2", "c3", "Z"}, 1},   // A to c2, going down: before the run
        {5, 3, {"A", "B", "c1", "c2", "c3", "Z"}, 5},   // Z to c2, going up: after the run
        {5, 2, {"A", "B", "Z", "c1", "c2", "c3"}, 2},   // Z to c1: before the run
        {3, 2, {"A", "B", "c2", "c1", "c3", "Z"}, 2},   // inside its own run: one value moves
        {2, -1, {"A", "B", "Z", "c1", "c2", "c3"}, 3},  // past the end: the whole run
    };
    for (const Case& c : cases) {
        OrderDatabase db;
        ZTSet people = db.people();
        ZTRecord r(&db.file, &people, nullptr, nullptr);
        r.read(OrderDatabase::kRec);
        ZTMoveRange range;
        EXPECT_EQ(r.moveValue(c.from, c.to, 0, &range), c.result) << c.from << "->" << c.to;
        EXPECT_EQ(textsOf(r), c.order) << c.from << "->" << c.to;
        EXPECT_EQ(r.write(nullptr), 1);
        EXPECT_EQ(storedTexts(db.file, &r.getStructure(), OrderDatabase::kRec), c.order)
            << c.from << "->" << c.to;
        expectSound(db);
    }
}

TEST(RecordOrder, FixedCountChangesReachTheStoredSet) {
    OrderDatabase db;
    ZTSet people = db.people();
    ASSERT_EQ(people.getFixedCount(), 1u);
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(OrderDatabase::kRec);
    EXPECT_EQ(r.getFieldState(1), ZTRecord::kStateStructure);
    EXPECT_EQ(r.setFieldState(1, ZTRecord::kStateFixed), ZTRecord::kStateFixed);
    EXPECT_TRUE(r.isFixedField(1));
    // Zone before Name, asked to be fixed: the structure gains it in front, and Notes, the last
    // field, stays listed after the fixed ones.
    ZTMoveRange range;
    EXPECT_EQ(r.moveValue(5, 0, ZTRecord::kStateFixed, &range), 0);
    EXPECT_EQ(range.count, 1);
    EXPECT_EQ(r.write(nullptr), 1);
    EXPECT_NE(r.getLastResult() & ZTRecord::kResultStructureSaved, 0);
    ZTSet stored = db.people();
    EXPECT_EQ(std::vector<uint32_t>(stored.data, stored.data + stored.size),
              (std::vector<uint32_t>{kZone, kName, kTown, kNotes}));
    EXPECT_EQ(stored.getFixedCount(), 3u);
    EXPECT_EQ(storedTexts(db.file, &stored, OrderDatabase::kRec),
              (Texts{"Z", "A", "B", "c1", "c2", "c3"}));
}

TEST(RecordOrder, LeavingTheStructureKeepsAFieldAboveTheNextFieldsID) {
    OrderDatabase db;
    ZTSet people = db.people();
    {
        // Town (1002) before Notes (1003): it may leave.
        ZTRecord r(&db.file, &people, nullptr, nullptr);
        r.read(OrderDatabase::kRec);
        EXPECT_EQ(r.setFieldState(1, ZTRecord::kStateOutside), ZTRecord::kStateOutside);
        EXPECT_EQ(r.write(nullptr), 1);
        ZTSet stored = db.people();
        EXPECT_EQ(std::vector<uint32_t>(stored.data, stored.data + stored.size),
                  (std::vector<uint32_t>{kName}));
    }
    {
        // Zone (1005) listed last, before Notes (1003): it cannot leave.
        ZTSet s(&db.file, kPeople);
        ASSERT_TRUE(s.load());
        s.insert(kTown, 1);
        s.insert(kZone, 2);
        s.setFixedCount(1);
        ASSERT_TRUE(s.save(nullptr));
        ZTRecord r(&db.file, &s, nullptr, nullptr);
        r.read(OrderDatabase::kRec);
        ASSERT_EQ(typesOf(r), (std::vector<uint32_t>{kName, kTown, kZone, kNotes, kNotes, kNotes}));
        EXPECT_EQ(r.setFieldState(2, ZTRecord::kStateOutside), ZTRecord::kStateStructure);
        EXPECT_FALSE(r.isStructureChanged());
    }
}

// Record 1300 of People: Name "Bo" and "Robert", Town "Rome", Notes "apple", "banana", "cherry",
// Tags "x"; record 1301: Name "Cy" only (its Town a placeholder).
struct ListedRecords : PeopleDatabase {
    static constexpr uint32_t kRec = 1300;
    static constexpr uint32_t kBare = 1301;
    ListedRecords() {
        addValue(file, kRec, kName, 1, "Bo");
        addValue(file, kRec, kName, 2, "Robert");
        addValue(file, kRec, kTown, 1, "Rome");
        addValue(file, kRec, kNotes, 1, "apple");
        addValue(file, kRec, kNotes, 2, "banana");
        addValue(file, kRec, kNotes, 3, "cherry");
        addValue(file, kRec, kTags, 1, "x");
        addValue(file, kBare, kName, 1, "Cy");
    }
};

// A list row's atom: the field and the text the row stands for.
ZTAtom rowAtom(ZTFile& file, uint32_t field, const char* text) {
    ZTAtom a(&file, 0);
    a.typeID = field;
    a.value.assign(text);
    return a;
}

TEST(RecordMatch, AFailingValueGivesWayToTheFieldsNextPassingValueElseStays) {
    ListedRecords db;
    ZTSet people = db.people();
    struct Case {
        const char* condition;
        Texts shown;
        uint32_t notesPosition;
    };
    const Case cases[] = {
        {"cherry", {"Bo", "Rome", "cherry", "x"}, 3},
        {"ban", {"Bo", "Rome", "banana", "x"}, 2},
        {"apple", {"Bo", "Rome", "apple", "x"}, 1},
        {"zzz", {"Bo", "Rome", "apple", "x"}, 1},  // none passes: the first stays
    };
    for (const Case& c : cases) {
        ZTFilter filter(db.file.getKeyLengths());
        filter.setCondition(kNotes, c.condition);
        ZTRecord r(&db.file, &people, nullptr, nullptr);
        r.read(ListedRecords::kRec, true);  // as a list reads: the first value of each field
        r.matchValues(3, &filter, nullptr);
        EXPECT_EQ(textsOf(r), c.shown) << c.condition;
        EXPECT_EQ(r.getValue(2)->position, c.notesPosition) << c.condition;
        EXPECT_FALSE(r.isModified()) << c.condition;
    }

    // The value shown in place of the first is that stored row: an edit rewrites it alone.
    ZTFilter filter(db.file.getKeyLengths());
    filter.setCondition(kNotes, "cherry");
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(ListedRecords::kRec, true);
    r.matchValues(2, &filter, nullptr);
    ASSERT_TRUE(r.setText(2, "CHERRY"));
    EXPECT_EQ(r.write(nullptr), 1);
    EXPECT_EQ(storedTexts(db.file, &people, ListedRecords::kRec),
              (Texts{"Bo", "Robert", "Rome", "apple", "banana", "CHERRY", "x"}));
    expectSound(db);
}

TEST(RecordMatch, TheRowsOwnFieldAndTheSetsFirstFieldMustHoldTheRowsTextExactly) {
    ListedRecords db;
    ZTSet people = db.people();
    ZTFilter filter(db.file.getKeyLengths());
    filter.setCondition(kTags, "zzz");  // fails "x", which has no other value to give way to
    struct Case {
        uint32_t field;
        const char* text;
        Texts shown;
    };
    const Case cases[] = {
        {kNotes, "banana", {"Bo", "Rome", "banana", "x"}},
        {kNotes, "BANANA", {"Bo", "Rome", "apple", "x"}},  // exactly: no value is "BANANA"
        {kNotes, "banan", {"Bo", "Rome", "apple", "x"}},
        {kPeople, "Robert", {"Robert", "Rome", "apple", "x"}},  // a row of the set: its name
        {kName, "Robert", {"Robert", "Rome", "apple", "x"}},
    };
    for (const Case& c : cases) {
        const ZTAtom row = rowAtom(db.file, c.field, c.text);
        ZTRecord r(&db.file, &people, nullptr, nullptr);
        r.read(ListedRecords::kRec, true);
        r.matchValues(3, &filter, &row);
        EXPECT_EQ(textsOf(r), c.shown) << c.field << " " << c.text;
    }
}

TEST(RecordMatch, OnlyValuesNotYetCheckedAreExaminedEmptyOnesPassAndAMissingOneIsOutOfRange) {
    ListedRecords db;
    ZTSet people = db.people();
    ZTFilter filter(db.file.getKeyLengths());
    filter.setCondition(kNotes, "cherry");
    filter.setCondition(kTown, "Paris");

    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(ListedRecords::kRec, true);
    r.matchValues(0, &filter, nullptr);
    EXPECT_EQ(r.getLoadedCount(), 1u);
    // Town fails and has no other value; Notes, loaded now, is examined from here on.
    r.matchValues(2, &filter, nullptr);
    EXPECT_EQ(textsOf(r), (Texts{"Bo", "Rome", "cherry", "x"}));
    // What was examined is not examined again, even under another condition.
    filter.setCondition(kNotes, "apple");
    r.matchValues(2, &filter, nullptr);
    EXPECT_STREQ(r.getText(2), "cherry");

    r.setLastResult(0);
    r.matchValues(9, &filter, nullptr);
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRange);
    EXPECT_EQ(textsOf(r), (Texts{"Bo", "Rome", "cherry", "x"}));

    // The placeholder of a fixed field without a value passes any condition.
    ZTRecord bare(&db.file, &people, nullptr, nullptr);
    bare.read(ListedRecords::kBare, true);
    bare.matchValues(1, &filter, nullptr);
    EXPECT_EQ(textsOf(bare), (Texts{"Cy", ""}));
    EXPECT_EQ(bare.getLastResult(), 0);

    // A new image has nothing stored to match.
    ZTRecord fresh(&db.file, &people, nullptr, nullptr);
    fresh.clear(false);
    fresh.matchValues(0, &filter, nullptr);
    EXPECT_EQ(fresh.getLastResult(), 0);
}

}  // namespace
