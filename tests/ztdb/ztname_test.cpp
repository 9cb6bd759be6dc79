// Named records on real files: field lists and fixed counts of set definitions, names refused
// for being empty or taken (also by two processes at once), attributes, trash sets, the set
// attached to a field, and the field cache (its own and the database's).
#include "ztdb/ztname.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "assert_capture.h"
#include "xbase/child_process.h"
#include "ztdb/ztcache.h"
#include "ztvalue_helpers.h"

namespace {

constexpr uint32_t kFieldList = ZTNamedRecord::kFieldName;
constexpr uint32_t kSetName = ZTNamedRecord::kSetName;
constexpr uint32_t kFixed = ZTNamedRecord::kFixedCount;
constexpr uint32_t kTrash = ZTNamedRecord::kTrashSet;
constexpr uint32_t kTrashOf = ZTNamedRecord::kTrashOwner;
constexpr uint32_t kAttached = ZTNamedRecord::kAttachedSet;

// Fields 1001 Name, 1002 Town, 1003 Street, 1004 Phone, 1005 Mail, 1006 Note; set 1100 "People"
// shows the first five with two fixed, and records 2001 to 2003 are its members. Tests add rows
// before open().
struct Names {
    dbcheck::Fixture fx;
    uint32_t nameValue[6] = {};
    TempDir dir;
    std::string base;
    ZTFile file{nullptr};

    Names() {
        fx.counter(3000);
        const char* names[] = {"Name", "Town", "Street", "Phone", "Mail", "Note"};
        for (uint32_t i = 0; i < 6; ++i) nameValue[i] = fx.field(1001 + i, names[i]);
        set(1100, "People", {1001, 1002, 1003, 1004, 1005});
        fx.value(1100, kFixed, 1, "2");
        const char* people[][2] = {{"Ann", "Oslo"}, {"Bob", "Rome"}, {"Cy", "Lima"}};
        for (uint32_t r = 0; r < 3; ++r) {
            fx.value(2001 + r, 1001, 1, people[r][0]);
            fx.value(2001 + r, 1002, 1, people[r][1]);
            fx.member(2001 + r, 1100);
        }
    }
    // A set named so showing the fields (1001 to 1006).
    void set(uint32_t id, const std::string& name, const std::vector<uint32_t>& fields) {
        std::vector<uint32_t> names;
        for (uint32_t f : fields) names.push_back(nameValue[f - 1001]);
        fx.set(id, name, names);
    }
    void open() {
        base = dir.file("names");
        ASSERT_TRUE(fx.write(base)) << fx.error;
        file.setName(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
    }
    std::string value(uint32_t type, uint32_t record) {
        ZTStr text;
        file.getValue(type, record, &text, false);
        return text.text;
    }
    // The stored field list and fixed count of a set.
    std::pair<std::vector<uint32_t>, uint32_t> stored(uint32_t setID) {
        ZTSet s(&file, setID);
        EXPECT_TRUE(s.load());
        return {std::vector<uint32_t>(s.data, s.data + s.size), s.getFixedCount()};
    }
    dbcheck::Report check() {
        file.close();
        dbcheck::Report report = dbcheck::checkDatabase(base);
        EXPECT_EQ(file.open(3, false), 3u);
        return report;
    }
};

std::vector<uint32_t> fieldsOf(ZTSetDef& def) {
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < def.getFieldCount(); ++i) ids.push_back(def.getFieldID(i));
    return ids;
}

// ---- set definitions: field list and fixed count ----

TEST(ZTSetDefFields, ReadsTheFieldListAndTheFixedCount) {
    Names db;
    // Attribute 44 counts only when it reads wholly as a number from 1 to the field count.
    const struct {
        const char* stored;
        uint32_t fixed;
    } cases[] = {{nullptr, 5}, {"2", 2}, {"5", 5},  {"1", 1},  {"0", 5},
                 {"abc", 5},   {"6", 5}, {"2x", 5}, {"-1", 5}, {"99999999999", 5}};
    uint32_t id = 1200;
    for (const auto& c : cases) {
        db.set(id, "Set " + std::to_string(id), {1001, 1002, 1003, 1004, 1005});
        if (c.stored) db.fx.value(id, kFixed, 1, c.stored);
        ++id;
    }
    db.open();

    ZTSetDef people(&db.file, db.file.getFieldCache());
    people.read(1100);
    EXPECT_STREQ(people.getName(), "People");
    EXPECT_EQ(fieldsOf(people), (std::vector<uint32_t>{1001, 1002, 1003, 1004, 1005}));
    EXPECT_STREQ(people.getFieldName(2), "Street");
    EXPECT_EQ(people.getFieldName(5), nullptr);
    EXPECT_EQ(people.getFieldID(5), 0u);

    id = 1200;
    for (const auto& c : cases) {
        ZTSetDef def(&db.file, db.file.getFieldCache());
        def.read(id++);
        EXPECT_EQ(def.getFixedCount(), c.fixed) << (c.stored ? c.stored : "none");
    }
}

TEST(ZTSetDefFields, TheFixedCountFollowsAddsAndRemoves) {
    Names db;
    db.set(1101, "All fixed", {1001, 1002, 1003, 1004, 1005});
    db.open();
    enum Op { kAdd, kRemoveAt };
    const struct {
        uint32_t set;
        Op op;
        int at;  // position of the added field (-1 appends), or index of the removed one
        uint32_t fixed;
        std::vector<uint32_t> fields;
    } cases[] = {
        {1100, kAdd, 1, 3, {1001, 1006, 1002, 1003, 1004, 1005}},
        {1100, kAdd, 2, 3, {1001, 1002, 1006, 1003, 1004, 1005}},
        {1100, kAdd, 4, 2, {1001, 1002, 1003, 1004, 1006, 1005}},
        {1100, kAdd, -1, 2, {1001, 1002, 1003, 1004, 1005, 1006}},
        {1100, kRemoveAt, 0, 1, {1002, 1003, 1004, 1005}},
        {1100, kRemoveAt, 1, 1, {1001, 1003, 1004, 1005}},
        {1100, kRemoveAt, 3, 2, {1001, 1002, 1003, 1005}},
        {1101, kAdd, -1, 6, {1001, 1002, 1003, 1004, 1005, 1006}},
        {1101, kAdd, 0, 6, {1006, 1001, 1002, 1003, 1004, 1005}},
        {1101, kRemoveAt, 4, 4, {1001, 1002, 1003, 1004}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.set << (c.op == kAdd ? " add at " : " remove at ") << c.at);
        ZTSetDef def(&db.file, db.file.getFieldCache());
        def.read(c.set);
        if (c.op == kAdd)
            ASSERT_TRUE(def.addField(1006, c.at));
        else
            ASSERT_TRUE(def.removeField(def.getFieldID(uint32_t(c.at))));
        EXPECT_EQ(def.getFixedCount(), c.fixed);
        EXPECT_EQ(fieldsOf(def), c.fields);
    }

    // Written, the list and the count reach the stored set.
    ZTSetDef def(&db.file, db.file.getFieldCache());
    def.read(1100);
    ASSERT_TRUE(def.addField(1006, 1));
    EXPECT_FALSE(def.addField(1006, 3));  // already there
    ZTRefreshInfo ri;
    EXPECT_EQ(def.write(&ri, nullptr, false), 1);
    EXPECT_EQ(db.stored(1100), std::make_pair(cases[0].fields, 3u));
    EXPECT_EQ(textsOf(db.file, 1100, kFixed), (std::vector<std::string>{"3"}));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTSetDefFields, AddingByNameReportsUnknownAndLinkedFields) {
    Names db;
    db.open();
    ZTSetDef def(&db.file, db.file.getFieldCache());
    def.read(1100);
    EXPECT_FALSE(def.addFieldByName("Nowhere", 0));
    EXPECT_EQ(def.getLastResult(), ZTNamedRecord::kErrorNoSuchName);
    EXPECT_FALSE(def.addFieldByName("TOWN", 0));
    EXPECT_EQ(def.getLastResult(), ZTNamedRecord::kErrorNameTaken);
    EXPECT_FALSE(def.isModified());
    ASSERT_TRUE(def.addFieldByName("note", 0));
    EXPECT_EQ(fieldsOf(def).front(), 1006u);
    EXPECT_EQ(def.getFixedCount(), 3u);
}

TEST(ZTSetDefFields, AssignFieldsRewritesTheStoredRows) {
    Names db;
    db.open();
    const std::vector<StoredValue> listBefore = rowsOf(db.file, 1100, kFieldList);

    // The same list with another fixed count: only the count changes.
    ZTSet same(&db.file, 1100);
    ASSERT_TRUE(same.load());
    same.setFixedCount(4);
    ZTSetDef def(&db.file, db.file.getFieldCache());
    def.assignFields(&same);
    EXPECT_EQ(def.getRecordNumber(), 1100u);
    EXPECT_EQ(def.write(nullptr, nullptr, false), 1);
    EXPECT_EQ(rowsOf(db.file, 1100, kFieldList), listBefore);
    EXPECT_EQ(db.stored(1100).second, 4u);

    // A new list whose first field differs: the rows follow and the members sort by Town.
    ZTSet other(&db.file, 1100);
    ASSERT_TRUE(other.load());
    other.clear();
    for (uint32_t f : {1002u, 1001u, 1006u}) other.insert(f, other.size);
    other.setFixedCount(1);
    ZTSetDef again(&db.file, db.file.getFieldCache());
    again.assignFields(&other);
    EXPECT_EQ(fieldsOf(again), (std::vector<uint32_t>{1002, 1001, 1006}));
    ZTRefreshInfo ri;
    EXPECT_EQ(again.write(&ri, nullptr, false), 1);
    EXPECT_NE(ri.find(&db.file, 1100), ZTRefreshInfo::kNone);
    EXPECT_EQ(db.stored(1100), std::make_pair(std::vector<uint32_t>{1002, 1001, 1006}, 1u));
    EXPECT_EQ(db.file.getSetFirstField(1100), 1002u);
    EXPECT_EQ(textsOf(db.file, 2002, 1100), (std::vector<std::string>{"Rome"}));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// Members sort by the set's first field: whichever way it changes, their ties follow.
TEST(ZTSetDefFields, MembersFollowTheFirstField) {
    Names db;
    db.open();
    ZTSetDef def(&db.file, db.file.getFieldCache());
    def.read(1100);
    ASSERT_TRUE(def.removeField(1001));  // Town becomes first, its value untouched
    EXPECT_EQ(def.write(nullptr, nullptr, false), 1);
    EXPECT_EQ(db.file.getSetFirstField(1100), 1002u);
    EXPECT_EQ(textsOf(db.file, 2001, 1100), (std::vector<std::string>{"Oslo"}));

    ASSERT_TRUE(def.addField(1001, 0));  // Name first again
    EXPECT_EQ(def.write(nullptr, nullptr, false), 1);
    EXPECT_EQ(textsOf(db.file, 2001, 1100), (std::vector<std::string>{"Ann"}));

    // Every field gone: the members leave, as they do from any set without a first field.
    for (uint32_t f = 1001; f <= 1005; ++f) ASSERT_TRUE(def.removeField(f)) << f;
    EXPECT_EQ(def.getFieldCount(), 0u);
    EXPECT_EQ(def.write(nullptr, nullptr, false), 1);
    EXPECT_TRUE(rowsOf(db.file, 1100, kFieldList).empty());
    EXPECT_TRUE(rowsOf(db.file, 2001, 1100).empty());
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// ---- names ----

TEST(ZTNamedRecordNames, ANameAnotherFieldHasIsRefusedOrMadeUnique) {
    Names db;
    db.open();
    for (const char* variant : {"Name", "NAME", "n\xC1me", "N-a.m e"}) {
        ZTField town(&db.file, db.file.getFieldCache());
        town.read(1002);
        ASSERT_EQ(town.setName(variant), 1) << variant;
        uint32_t existing = 0;
        EXPECT_EQ(town.write(nullptr, &existing, false), 0) << variant;
        EXPECT_EQ(town.getLastResult(), ZTNamedRecord::kErrorNameTaken) << variant;
        EXPECT_EQ(existing, 1001u) << variant;
        EXPECT_EQ(db.value(kFieldList, 1002), "Town");
    }

    // Made unique: the lowest free number from 2, and the next write stores it.
    // An image with a cache of its own: its write hands the notice to that cache only.
    ZTField town(&db.file, nullptr);
    town.read(1002);
    town.setName("Name");
    EXPECT_EQ(town.write(nullptr, nullptr, true), 0);
    EXPECT_STREQ(town.getName(), "Name 2");
    EXPECT_EQ(town.write(nullptr, nullptr, true), 1);
    EXPECT_EQ(db.value(kFieldList, 1002), "Name 2");
    ZTField street(&db.file, db.file.getFieldCache());
    street.read(1003);
    street.setName("name");
    EXPECT_EQ(street.write(nullptr, nullptr, true), 0);
    EXPECT_STREQ(street.getName(), "name 3");

    // A field keeps its own name in another spelling; its name is read-only to plain edits.
    // (This image makes a field cache of its own.)
    ZTField phone(&db.file, nullptr);
    EXPECT_TRUE(phone.isValid());
    phone.read(1004);
    EXPECT_FALSE(phone.setText(0, "Fax"));
    EXPECT_EQ(phone.getLastResult(), ZTRecord::kErrorReadOnly);
    phone.setName("PHONE");
    EXPECT_EQ(phone.write(nullptr, nullptr, false), 1);
    EXPECT_EQ(db.value(kFieldList, 1004), "PHONE");
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTNamedRecordNames, NamesThatFoldToNothingWriteNothing) {
    Names db;
    db.open();
    db.file.close();
    const FilesState before = filesState(db.base);
    ASSERT_EQ(db.file.open(3, false), 3u);
    for (const char* blank : {"", "   ", "\t", "-- . /"}) {
        ZTField created(&db.file, db.file.getFieldCache());
        created.clear();
        created.setName(blank);
        EXPECT_EQ(created.write(nullptr, nullptr, true), 0) << '"' << blank << '"';
        EXPECT_EQ(created.getLastResult(), ZTNamedRecord::kErrorEmptyName);
        EXPECT_TRUE(created.isNew());

        ZTField renamed(&db.file, db.file.getFieldCache());
        renamed.read(1002);
        renamed.setName(blank);
        EXPECT_EQ(renamed.write(nullptr, nullptr, false), 0) << '"' << blank << '"';
        EXPECT_EQ(renamed.getLastResult(), ZTNamedRecord::kErrorEmptyName);
    }
    // A new set with fields but no name is refused as well, through either write.
    ZTSetDef nameless(&db.file, db.file.getFieldCache());
    nameless.clear();
    ASSERT_TRUE(nameless.appendField(1001));
    ASSERT_TRUE(nameless.appendField(1002));
    EXPECT_EQ(nameless.write(nullptr, nullptr, false), 0);
    EXPECT_EQ(nameless.getLastResult(), ZTNamedRecord::kErrorEmptyName);
    ZTRecord& plain = nameless;
    EXPECT_EQ(plain.write(nullptr), 0);
    EXPECT_EQ(nameless.getLastResult(), ZTNamedRecord::kErrorEmptyName);
    db.file.close();
    EXPECT_TRUE(filesState(db.base) == before);
    ASSERT_EQ(db.file.open(3, false), 3u);

    // Named, the same set is stored with its list.
    nameless.setName("Contacts");
    ZTRefreshInfo ri;
    EXPECT_EQ(nameless.write(&ri, nullptr, false), 1);
    const uint32_t id = nameless.getRecordNumber();
    EXPECT_GE(id, 1001u);
    EXPECT_EQ(db.file.findSet("contacts"), id);
    EXPECT_EQ(db.stored(id), std::make_pair(std::vector<uint32_t>{1001, 1002}, 2u));
}

// Two processes name a new field alike at the same moment: one record gets the name, and the
// other writer is told its ID.
TEST(ZTNamedRecordNames, TwoProcessesAddingOneFieldNameMakeOneRecord) {
    Names db;
    db.open();
    constexpr int kNames = 30;
    auto adder = [&](int in, int out) {
        ZTFile mine(db.base.c_str());
        if (mine.open(3, false) != 3) _exit(2);
        (void)await(in);
        for (int n = 0; n < kNames; ++n) {
            ZTField field(&mine, mine.getFieldCache());
            field.clear();
            field.setName(("Shared " + std::to_string(n)).c_str());
            uint32_t existing = 0;
            uint32_t reply = 0;
            if (field.write(nullptr, &existing, false) == 1)
                reply = field.getRecordNumber();
            else if (field.getLastResult() == ZTNamedRecord::kErrorNameTaken)
                reply = existing;
            if (!writeValue(out, reply)) _exit(2);
        }
    };
    std::vector<uint32_t> a, b;
    {
        Child one(adder), two(adder);
        one.send('g');
        two.send('g');
        for (int n = 0; n < kNames; ++n) {
            a.push_back(one.receiveValue<uint32_t>(0));
            b.push_back(two.receiveValue<uint32_t>(0));
        }
    }
    db.file.refreshTables(true);
    for (int n = 0; n < kNames; ++n) {
        EXPECT_NE(a[size_t(n)], 0u) << n;
        EXPECT_EQ(a[size_t(n)], b[size_t(n)]) << n;
        EXPECT_EQ(db.file.findField(("shared " + std::to_string(n)).c_str()), a[size_t(n)]);
    }
    size_t names = 0;
    for (const WalkedRow& row : typeWalk(db.file, kFieldList)) names += (row.flags & 0x80) == 0;
    EXPECT_EQ(names, 6u + kNames);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// ---- attributes and link lists ----

TEST(ZTNamedRecordAttributes, AttributesStayOutsideTheFieldList) {
    Names db;
    db.open();
    ZTSetDef def(&db.file, db.file.getFieldCache());
    def.read(1100);
    EXPECT_TRUE(def.hasAttr(kFixed));
    EXPECT_STREQ(def.getAttr(kFixed), "2");
    EXPECT_EQ(def.getAttr(108), nullptr);
    EXPECT_EQ(def.getAttrInt(108), 0u);
    EXPECT_TRUE(def.setAttr(108, ""));  // empty is stored as "1"
    EXPECT_TRUE(def.setAttrInt(43, 7));
    EXPECT_TRUE(def.removeAttr(kFixed));
    EXPECT_FALSE(def.removeAttr(kFixed));
    EXPECT_STREQ(def.getAttr(108), "1");
    ZTArray<unsigned long> extra;
    EXPECT_EQ(def.getExtraFields(&extra, false), 2u);
    EXPECT_EQ(def.getFirstFreeIndex(), 6u);
    EXPECT_EQ(def.write(nullptr, nullptr, false), 1);

    EXPECT_EQ(db.value(108, 1100), "1");
    EXPECT_EQ(db.value(43, 1100), "7");
    EXPECT_TRUE(rowsOf(db.file, 1100, kFixed).empty());
    // The list itself is untouched, and now all fixed.
    EXPECT_EQ(db.stored(1100),
              std::make_pair(std::vector<uint32_t>{1001, 1002, 1003, 1004, 1005}, 5u));
    ZTSetDef read(&db.file, db.file.getFieldCache());
    read.read(1100);
    EXPECT_EQ(read.countValues(kFieldList), 5u);
    EXPECT_EQ(read.countValues(kSetName), 1u);
    EXPECT_EQ(read.countValues(999), 0u);
    EXPECT_EQ(read.getExtraFields(&extra, false), 2u);
    EXPECT_EQ(std::vector<unsigned long>(extra.data, extra.data + extra.size),
              (std::vector<unsigned long>{43, 108}));
    EXPECT_EQ(read.removeLink(kFieldList, 1006), 0);
    EXPECT_EQ(read.removeLink(kFieldList, 1003), 1);
    EXPECT_EQ(read.findValue(kFieldList, 1004, -1), 3);
    EXPECT_EQ(read.getTextAt(-1), nullptr);
    EXPECT_FALSE(read.setTextAt(-1, "x"));
}

// ---- trash sets ----

TEST(ZTSetDefTrash, TheTrashSetIsMadeOnceAndPointsBack) {
    Names db;
    db.set(1101, "People trash", {1001});  // takes the plain name
    db.open();
    ZTSetDef people(&db.file, db.file.getFieldCache());
    people.read(1100);
    const int32_t rows = db.file.getRowCount();
    EXPECT_EQ(people.getTrashID(false, nullptr, nullptr), 0u);
    EXPECT_EQ(db.file.getRowCount(), rows);

    ZTRefreshInfo ri;
    const uint32_t trash = people.getTrashID(true, "People trash", &ri);
    ASSERT_NE(trash, 0u);
    EXPECT_GE(trash, 1001u);
    EXPECT_EQ(db.value(kSetName, trash), "People trash 2");
    EXPECT_EQ(db.value(kTrashOf, trash), "1100");
    EXPECT_EQ(db.value(kTrash, 1100), std::to_string(trash));
    EXPECT_EQ(db.value(kTrash, trash), "");
    EXPECT_EQ(db.stored(trash), db.stored(1100));
    EXPECT_NE(ri.find(&db.file, trash), ZTRefreshInfo::kNone);
    EXPECT_NE(ri.find(&db.file, 1100), ZTRefreshInfo::kNone);

    // Asked again (also by a fresh image), the same set; a trash set has none of its own.
    const int32_t rowsWithTrash = db.file.getRowCount();
    EXPECT_EQ(people.getTrashID(true, "People trash", nullptr), trash);
    ZTSetDef fresh(&db.file, db.file.getFieldCache());
    fresh.read(1100);
    EXPECT_EQ(fresh.getTrashID(true, "People trash", nullptr), trash);
    ZTSetDef trashDef(&db.file, db.file.getFieldCache());
    trashDef.read(trash);
    EXPECT_EQ(trashDef.getTrashID(true, "Trash of trash", nullptr), 0u);
    EXPECT_EQ(trashDef.getTrashOwnerID(false, nullptr, nullptr), 1100u);
    EXPECT_EQ(db.file.getRowCount(), rowsWithTrash);
    EXPECT_EQ(db.file.findSet("Trash of trash"), 0u);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTSetDefTrash, AGarbageTrashAttributeCountsAsNone) {
    Names db;
    // 47 holding no number, a number of no record, of a field, or of a set without a name.
    const char* garbage[] = {"abc", "9999", "1001", "1300"};
    for (uint32_t i = 0; i < 4; ++i) {
        db.set(1200 + i, "Set " + std::to_string(i), {1001, 1002});
        db.fx.value(1200 + i, kTrash, 1, garbage[i]);
    }
    db.fx.link(1300, kFieldList, 1, db.nameValue[0]);
    db.open();
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(garbage[i]);
        ZTSetDef def(&db.file, db.file.getFieldCache());
        def.read(1200 + i);
        EXPECT_EQ(def.getTrashID(false, nullptr, nullptr), 0u);
        const uint32_t trash = def.getTrashID(true, "Trash", nullptr);
        ASSERT_NE(trash, 0u);
        EXPECT_EQ(db.value(kTrash, 1200 + i), std::to_string(trash));
        EXPECT_EQ(db.value(kTrashOf, trash), std::to_string(1200 + i));
    }
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// ---- the set attached to a field ----

TEST(ZTFieldSet, TheAttributeOrTheSetOfTheSameName) {
    Names db;
    db.set(1101, "Town", {1002, 1003});
    db.fx.value(1003, kAttached, 1, "1100");  // Street: People
    db.fx.value(1004, kAttached, 1, "abc");   // Phone: garbage
    db.fx.value(1005, kAttached, 1, "1002");  // Mail: a field, not a set
    db.fx.value(1006, kAttached, 1, "1101 ");
    db.open();
    const struct {
        uint32_t field;
        uint32_t set;
        uint32_t size;
    } cases[] = {{1001, 0, 0}, {1002, 1101, 2}, {1003, 1100, 5},
                 {1004, 0, 0}, {1005, 0, 0},    {1006, 0, 0}};
    for (const auto& c : cases) {
        ZTField field(&db.file, db.file.getFieldCache());
        field.read(c.field);
        ZTSet* set = field.getSet();
        EXPECT_EQ(set ? set->getID() : 0u, c.set) << c.field;
        if (set) {
            EXPECT_EQ(set->size, c.size) << c.field;
        }
        EXPECT_EQ(field.getSet(), set) << c.field;  // kept
    }
}

// ---- field caches ----

// Notes every field it reads.
class SpyFieldCache : public ZTFieldCache {
  public:
    using ZTFieldCache::ZTFieldCache;
    uint32_t count() const { return ids_.size; }
    std::vector<uint32_t> reads;

  protected:
    void readRecord(ZTField* image, uint32_t recordID) override {
        reads.push_back(recordID);
        ZTFieldCache::readRecord(image, recordID);
    }
};

TEST(ZTFieldCache, HoldsOneLessThanItsMaximumOldestOut) {
    dbcheck::Fixture fx;
    fx.counter(2000);
    for (uint32_t id = 1001; id <= 1100; ++id) fx.field(id, "F" + std::to_string(id));
    TempDir dir;
    const std::string base = dir.file("fields");
    ASSERT_TRUE(fx.write(base)) << fx.error;
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);

    SpyFieldCache cache(&file, 100);
    for (uint32_t id = 1001; id <= 1100; ++id)
        ASSERT_EQ(std::string(cache.getField(id)->getName()), "F" + std::to_string(id));
    EXPECT_EQ(cache.count(), 99u);
    EXPECT_EQ(cache.reads.size(), 100u);
    // Two requests of a held field read it once.
    EXPECT_STREQ(cache.getField(1050)->getName(), "F1050");
    EXPECT_STREQ(cache.getField(1050)->getName(), "F1050");
    EXPECT_EQ(cache.reads.size(), 100u);
    // The first one went and is read again.
    EXPECT_STREQ(cache.getField(1001)->getName(), "F1001");
    EXPECT_EQ(cache.reads.size(), 101u);
    EXPECT_EQ(cache.reads.back(), 1001u);
    EXPECT_EQ(cache.count(), 99u);

    // A copy holds copies of the same definitions.
    ZTFieldCache copy(&file, 2);
    copy = cache;
    EXPECT_STREQ(copy.getField(1050)->getName(), "F1050");
    EXPECT_NE(copy.getField(1050), cache.getField(1050));
    EXPECT_STREQ(copy.getField(1002)->getName(), "F1002");  // a miss of the copy alone
    EXPECT_EQ(cache.reads.size(), 101u);
}

TEST(ZTFieldCache, AMaximumOfOneIsRefused) {
    Names db;
    db.open();
    AssertCapture capture;
    ZTFieldCache cache(&db.file, 1);
    EXPECT_FALSE(cache.isValid());
    EXPECT_EQ(cache.getField(1001), nullptr);
    EXPECT_FALSE(AssertCapture::reports().empty());
}

// The database's own cache is made once and follows notices handed to the database.
TEST(ZTFieldCache, TheDatabaseCacheFollowsNotices) {
    Names db;
    db.open();
    ZTFieldCache* cache = db.file.getFieldCache();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(db.file.getFieldCache(), cache);
    EXPECT_STREQ(cache->getField(1002)->getName(), "Town");

    // An image with a cache of its own: its write hands the notice to that cache only.
    ZTField town(&db.file, nullptr);
    town.read(1002);
    town.setName("City");
    ZTRefreshInfo ri;
    ASSERT_EQ(town.write(&ri, nullptr, false), 1);
    EXPECT_NE(db.file.dispatchRefresh(&ri, nullptr), 0);
    EXPECT_STREQ(cache->getField(1002)->getName(), "City");
}

}  // namespace
