// Text import: the header (fields, sub-columns, matched names, the set and its name), data
// lines (several values, links into other sets, bad input) and publishing every 100th line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztdb/ztset.h"
#include "ztvalue_helpers.h"

namespace {

constexpr uint32_t kSetName = 9;

std::string fieldName(ZTFile& file, uint32_t field) {
    ZTStr name;
    file.findFieldName(field, &name);
    return name.text;
}

std::vector<std::string> fieldNames(ZTFile& file, const ZTSet& fields) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < fields.size; ++i) names.push_back(fieldName(file, fields[i]));
    return names;
}

TEST(ZTFileImport, HeaderMakesFieldsAndSet) {
    NewDatabase db;
    const uint32_t existing = db.file.addField("Name");
    ZTSet fields(&db.file, 0);
    ZTRefreshInfo info;
    const uint32_t set =
        db.file.prepareImport("Club", "NAME|alias\tTown\tName\t", &fields, true, true, &info);
    ASSERT_NE(set, 0u);
    ZTStr setName;
    ASSERT_TRUE(db.file.getSetName(set, &setName));
    EXPECT_STREQ(setName.text, "Club");
    // Sub-columns make no field; a name folding like a field's takes it; a repeated name and an
    // empty one take the set's name and the column number.
    EXPECT_EQ(fieldNames(db.file, fields),
              (std::vector<std::string>{"Name", "Town", "Club_03", "Club_04"}));
    EXPECT_EQ(fields[0], existing);
    EXPECT_EQ(fields.getID(), set);
    EXPECT_NE(info.find(&db.file, set), ZTRefreshInfo::kNone);
    ZTSet stored(&db.file, set);
    ASSERT_TRUE(stored.load());
    EXPECT_EQ(std::vector<uint32_t>(stored.data, stored.data + stored.size),
              std::vector<uint32_t>(fields.data, fields.data + fields.size));

    // Without matching, every column takes the set's name and its number; without a set, only
    // the number.
    ZTSet plain(&db.file, 0);
    const uint32_t second =
        db.file.prepareImport("Club", "Name\tTown", &plain, false, true, nullptr);
    ASSERT_NE(second, 0u);
    ASSERT_TRUE(db.file.getSetName(second, &setName));
    EXPECT_STREQ(setName.text, "Club02");
    EXPECT_EQ(fieldNames(db.file, plain), (std::vector<std::string>{"Club02_01", "Club02_02"}));
    ZTSet bare(&db.file, 0);
    EXPECT_EQ(db.file.prepareImport("Club", "a\tb", &bare, false, false, nullptr), 0u);
    EXPECT_EQ(fieldNames(db.file, bare), (std::vector<std::string>{"_01", "_02"}));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// A fallback name that is itself already a column of this list gives the column a new field.
TEST(ZTFileImport, FallbackNameAlreadyInTheList) {
    NewDatabase db;
    ZTSet fields(&db.file, 0);
    ASSERT_NE(db.file.prepareImport("S", "S_02\tS_02", &fields, true, true, nullptr), 0u);
    EXPECT_EQ(fieldNames(db.file, fields), (std::vector<std::string>{"S_02", "S_02 2"}));
}

TEST(ZTFileImport, SetNamesGoOnPastNinetyNine) {
    NewDatabase db;
    uint32_t id = 0;
    ASSERT_EQ(db.file.storeSetName(&id, "Imp"), 2);
    for (int n = 2; n <= 98; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "Imp%02d", n);
        id = 0;
        ASSERT_EQ(db.file.storeSetName(&id, name), 2) << name;
    }
    ZTStr name;
    ZTSet first(&db.file, 0);
    const uint32_t ninetyNine = db.file.prepareImport("Imp", "A\tB", &first, true, true, nullptr);
    ASSERT_TRUE(db.file.getSetName(ninetyNine, &name));
    EXPECT_STREQ(name.text, "Imp99");
    // Every name up to Imp99 taken: the next import makes Imp100 and leaves Imp99's list alone.
    ZTSet second(&db.file, 0);
    const uint32_t hundred = db.file.prepareImport("Imp", "C", &second, true, true, nullptr);
    ASSERT_NE(hundred, 0u);
    EXPECT_NE(hundred, ninetyNine);
    ASSERT_TRUE(db.file.getSetName(hundred, &name));
    EXPECT_STREQ(name.text, "Imp100");
    ZTSet still(&db.file, ninetyNine);
    ASSERT_TRUE(still.load());
    EXPECT_EQ(fieldNames(db.file, still), (std::vector<std::string>{"A", "B"}));
}

TEST(ZTFileImport, ColumnsPastTheLimitAreCounted) {
    NewDatabase db;
    std::string header;
    for (int c = 1; c <= 105; ++c) header += (c > 1 ? "\t" : "") + ("C" + std::to_string(c));
    ZTSet fields(&db.file, 0);
    uint32_t dropped = 0;
    ASSERT_NE(db.file.prepareImport("Wide", header.c_str(), &fields, true, true, nullptr, &dropped),
              0u);
    EXPECT_EQ(fields.size, 100u);
    EXPECT_EQ(dropped, 5u);
    EXPECT_EQ(fieldName(db.file, fields[99]), "C100");
    // A line of 105 values writes the first 100.
    std::string line;
    for (int c = 1; c <= 105; ++c) line += (c > 1 ? "\t" : "") + ("v" + std::to_string(c));
    const uint32_t record = db.file.importRecord(line.c_str(), &fields, fields.getID(), 0, nullptr);
    ASSERT_NE(record, 0u);
    EXPECT_EQ(typesOf(db.file, record).size(), 101u);  // 100 values and the membership row
    EXPECT_EQ(textsOf(db.file, record, fields[99]), (std::vector<std::string>{"v100"}));
}

class ZTFileImportLines : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(set = db.file.prepareImport("People", "Name|x\tTown\tNote", &fields, true, true,
                                              nullptr),
                  0u);
    }
    NewDatabase db;
    ZTSet fields{&db.file, 0};
    uint32_t set = 0;
};

TEST_F(ZTFileImportLines, ValuesPositionsAndMembership) {
    ZTRefreshInfo info;
    const uint32_t r = db.file.importRecord("Ann|Anna\tOslo\tline\none", &fields, set, 0, &info);
    ASSERT_NE(r, 0u);
    EXPECT_EQ(textsOf(db.file, r, fields[0]), (std::vector<std::string>{"Ann", "Anna"}));
    EXPECT_EQ(rowsOf(db.file, r, fields[0])[1].position, 2u);
    EXPECT_EQ(rowsOf(db.file, r, fields[1])[0].position, 1u);
    EXPECT_EQ(textsOf(db.file, r, fields[2]), (std::vector<std::string>{"lineone"}));
    EXPECT_EQ(textsOf(db.file, r, set), (std::vector<std::string>{"Ann", "Anna"}));
    EXPECT_NE(info.find(&db.file, r), ZTRefreshInfo::kNone);

    const struct {
        const char* line;
        std::vector<std::vector<std::string>> values;  // per field
    } cases[] = {
        {"\tBergen", {{}, {"Bergen"}, {}}},           // empty columns write nothing
        {"A||C\t\t", {{"A", "C"}, {}, {}}},           // an empty value too
        {">Oslo\t>Oslo", {{">Oslo"}, {"Oslo"}, {}}},  // no set named like the field: text
        {"B\xe9\xa0\xff\tx\ty\tz\tw", {{"B\xe9\xa0\xff"}, {"x"}, {"y"}}},  // extra columns
    };
    for (const auto& c : cases) {
        const uint32_t rec = db.file.importRecord(c.line, &fields, set, 0, nullptr);
        ASSERT_NE(rec, 0u) << c.line;
        for (uint32_t f = 0; f < 3; ++f)
            EXPECT_EQ(textsOf(db.file, rec, fields[f]), c.values[f]) << c.line << " " << f;
        EXPECT_EQ(rowsOf(db.file, rec, set).size(), c.values[0].empty() ? 1u : c.values[0].size());
    }
    for (const char* nothing : {"", "\t\t", "|"})
        EXPECT_EQ(db.file.importRecord(nothing, &fields, set, 0, nullptr), 0u);
    // A long value.
    const std::string longValue(100000, 'q');
    const uint32_t big =
        db.file.importRecord(("Big\t" + longValue).c_str(), &fields, set, 0, nullptr);
    EXPECT_EQ(textsOf(db.file, big, fields[1]), std::vector<std::string>{longValue});
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// '>' in the Town column links to the record of that town in the set "Town".
TEST_F(ZTFileImportLines, LinksIntoTheSetNamedLikeTheField) {
    uint32_t towns = 0;
    ASSERT_EQ(db.file.storeSetName(&towns, "Town"), 2);
    const uint32_t city = db.file.addField("City");
    ZTSet townFields(&db.file, towns);
    townFields.insert(city, 0);
    ASSERT_TRUE(townFields.save(nullptr));
    ZTSet cityOnly(&db.file, 0);
    cityOnly.insert(city, 0);
    const uint32_t oslo = db.file.importRecord("Oslo", &cityOnly, towns, 0, nullptr);
    ASSERT_NE(oslo, 0u);
    const uint32_t osloValue = rowsOf(db.file, oslo, city)[0].value;

    const uint32_t ann = db.file.importRecord("Ann\t>Oslo", &fields, set, 0, nullptr);
    const std::vector<StoredValue> link = rowsOf(db.file, ann, fields[1]);
    ASSERT_EQ(link.size(), 1u);
    EXPECT_EQ(link[0].value, osloValue);
    EXPECT_TRUE(link[0].flags & ZTRec::kFlagLink);
    EXPECT_EQ(link[0].text, "Oslo");

    // A town not there yet is made in the set; a second line links to the same record.
    const uint32_t bob = db.file.importRecord("Bob\t>Rome|>Oslo", &fields, set, 0, nullptr);
    const uint32_t eve = db.file.importRecord("Eve\t>Rome", &fields, set, 0, nullptr);
    const std::vector<StoredValue> bobs = rowsOf(db.file, bob, fields[1]);
    ASSERT_EQ(bobs.size(), 2u);
    EXPECT_EQ(bobs[1].value, osloValue);
    EXPECT_EQ(rowsOf(db.file, eve, fields[1])[0].value, bobs[0].value);
    ZTRec owner(&db.file);
    ASSERT_EQ(owner.findOwner(bobs[0].value), 0);
    EXPECT_EQ(owner.typeID, city);
    EXPECT_EQ(textsOf(db.file, owner.recordID, towns), (std::vector<std::string>{"Rome"}));
    // In the first column '>' is text.
    const uint32_t odd = db.file.importRecord(">Oslo", &fields, set, 0, nullptr);
    EXPECT_EQ(textsOf(db.file, odd, fields[0]), (std::vector<std::string>{">Oslo"}));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// Exclusive: nothing but the import publishes. After the 100th line the files on disk hold
// the first 99 records, as a reader of its own finds them.
TEST(ZTFileImportFlush, EveryHundredthLinePublishes) {
    NewDatabase db(7);
    ZTSet fields(&db.file, 0);
    ASSERT_NE(db.file.prepareImport("Flush", "Name\tNumber", &fields, true, true, nullptr), 0u);
    for (int i = 0; i < 100; ++i) {
        const std::string line = "N" + std::to_string(i) + "\t" + std::to_string(i);
        ASSERT_NE(db.file.importRecord(line.c_str(), &fields, fields.getID(), 0, nullptr), 0u);
    }
    dbcheck::Report report = dbcheck::checkDatabase(db.base);
    size_t numbers = 0;
    for (const dbcheck::StoredRow& row : report.rows)
        if (!row.deleted && row.b == fields[1]) ++numbers;
    EXPECT_GE(numbers, 99u);
}

}  // namespace
