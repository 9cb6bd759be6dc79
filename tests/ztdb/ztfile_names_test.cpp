// Name writes: adding names (existing, case variants, blanks, unique suffixes, two processes at
// once), storing them, set names, and renaming names that fold alike.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "xbase/child_process.h"
#include "ztvalue_helpers.h"

namespace {

constexpr uint32_t kFieldName = 1;
constexpr uint32_t kSetName = 9;

std::string nameOf(ZTFile& file, uint32_t nameID, uint32_t record) {
    ZTStr name;
    file.getName(nameID, record, &name);
    return name.text;
}

TEST(ZTFileNameWrites, AddName) {
    NewDatabase db;
    const uint32_t town = db.file.addName(kFieldName, "Town", false);
    ASSERT_NE(town, 0u);
    EXPECT_EQ(db.file.getLastError(), 0);
    EXPECT_EQ(nameOf(db.file, kFieldName, town), "Town");
    EXPECT_EQ(textsOf(db.file, town, kFieldName), (std::vector<std::string>{"Town"}));

    // The same name or one folding alike gives the record and -1.
    for (const char* same : {"Town", "TOWN", "town", "T\364wn"}) {
        EXPECT_EQ(db.file.addName(kFieldName, same, false), town) << same;
        EXPECT_EQ(db.file.getLastError(), -1) << same;
    }
    // Names of another type are apart.
    const uint32_t set = db.file.addSet("Town");
    EXPECT_NE(set, town);
    EXPECT_EQ(db.file.findSet("town"), set);
    EXPECT_EQ(db.file.findField("town"), town);
    ZTStr setName;
    EXPECT_TRUE(db.file.getSetName(set, &setName));
    EXPECT_STREQ(setName.text, "Town");

    // A unique name takes the lowest free suffix.
    const uint32_t second = db.file.addName(kFieldName, "town", true);
    EXPECT_EQ(nameOf(db.file, kFieldName, second), "town 2");
    const uint32_t third = db.file.addName(kFieldName, "Town", true);
    EXPECT_EQ(nameOf(db.file, kFieldName, third), "Town 3");
    EXPECT_EQ(db.file.getLastError(), 0);

    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTFileNameWrites, NamesFoldingToNothingWriteNothing) {
    NewDatabase db;
    db.file.close();
    const FilesState before = filesState(db.base);
    ASSERT_EQ(db.file.open(3, false), 3u);
    for (const char* blank : std::vector<const char*>{"", "   ", "---", "\327", nullptr}) {
        EXPECT_EQ(db.file.addName(kFieldName, blank, false), 0u);
        EXPECT_EQ(db.file.getLastError(), -15);
        EXPECT_EQ(db.file.addName(kFieldName, blank, true), 0u);
        EXPECT_EQ(db.file.getLockDepth(), 0);
    }
    db.file.close();
    EXPECT_TRUE(filesState(db.base) == before);
}

TEST(ZTFileNameWrites, StoreName) {
    NewDatabase db;
    const uint32_t f = db.file.addField("Old");
    ASSERT_TRUE(db.file.storeName(kFieldName, f, "New"));
    EXPECT_EQ(rowsOf(db.file, f, kFieldName).size(), 1u);
    EXPECT_EQ(nameOf(db.file, kFieldName, f), "New");
    // A record without the name gets it at position 1.
    ASSERT_TRUE(db.file.storeName(kSetName, f, "As set"));
    ASSERT_EQ(rowsOf(db.file, f, kSetName).size(), 1u);
    EXPECT_EQ(rowsOf(db.file, f, kSetName)[0].position, 1u);
    EXPECT_EQ(db.file.findSet("as set"), f);
}

TEST(ZTFileNameWrites, StoreSetName) {
    NewDatabase db;
    uint32_t id = 0;
    EXPECT_EQ(db.file.storeSetName(&id, "People"), 2);
    const uint32_t people = id;
    ASSERT_NE(people, 0u);
    // Exactly this name exists: that set.
    id = 0;
    EXPECT_EQ(db.file.storeSetName(&id, "People"), 1);
    EXPECT_EQ(id, people);
    // A case variant is another exact name: a new set.
    id = 0;
    EXPECT_EQ(db.file.storeSetName(&id, "PEOPLE"), 2);
    EXPECT_NE(id, people);
    const uint32_t upper = id;
    // Renaming a set in place.
    id = people;
    EXPECT_EQ(db.file.storeSetName(&id, "Persons"), 4);
    EXPECT_EQ(id, people);
    EXPECT_EQ(nameOf(db.file, kSetName, people), "Persons");
    // A record that is no set is not named.
    const uint32_t field = db.file.addField("Age");
    id = field;
    EXPECT_EQ(db.file.storeSetName(&id, "Ages"), 0);
    EXPECT_TRUE(rowsOf(db.file, field, kSetName).empty());
    // An empty name deletes the set.
    id = upper;
    EXPECT_EQ(db.file.storeSetName(&id, ""), 0);
    EXPECT_TRUE(typesOf(db.file, upper).empty());
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTFileNameWrites, RenameDuplicateNames) {
    NewDatabase db;
    // Stored as written, so that the three fold alike.
    ASSERT_TRUE(db.file.lock(false));
    uint32_t ids[3];
    int i = 0;
    for (const char* n : {"Alpha", "ALPHA", "alpha"}) {
        ids[i] = db.file.newRecordID();
        ASSERT_NE(addValue(db.file, ids[i], kFieldName, 1, n), 0u);
        ++i;
    }
    ASSERT_TRUE(db.file.unlock());
    EXPECT_EQ(db.file.renameDuplicateNames(kFieldName), 2u);
    EXPECT_EQ(nameOf(db.file, kFieldName, ids[0]), "Alpha");
    EXPECT_EQ(nameOf(db.file, kFieldName, ids[1]), "ALPHA 2");
    EXPECT_EQ(nameOf(db.file, kFieldName, ids[2]), "alpha 3");
    EXPECT_EQ(db.file.renameDuplicateNames(kFieldName), 0u);
}

// 1500 names, every fifth repeated in another case: every repeat is renamed, wherever it
// stands in value order.
TEST(ZTFileNameWrites, RenameDuplicatesAmongManyNames) {
    NewDatabase db;
    ASSERT_TRUE(db.file.lock(false));
    uint32_t repeats = 0;
    for (uint32_t n = 0; n < 1500; ++n) {
        const std::string name = "Name " + std::to_string(n);
        ASSERT_NE(addValue(db.file, db.file.newRecordID(), kFieldName, 1, name), 0u);
        if (n % 5 == 0) {
            std::string upper = name;
            for (char& c : upper) c = char(toupper(c));
            ASSERT_NE(addValue(db.file, db.file.newRecordID(), kFieldName, 1, upper), 0u);
            ++repeats;
        }
    }
    ASSERT_TRUE(db.file.unlock());
    EXPECT_EQ(db.file.renameDuplicateNames(kFieldName), repeats);
    std::set<std::string> folded;
    size_t count = 0;
    for (const WalkedRow& row : typeWalk(db.file, kFieldName)) {
        ZTStr text;
        text.assign(chainText(db.file, row.value).c_str());
        text.fold(nullptr);
        folded.insert(text.text);
        ++count;
    }
    EXPECT_EQ(count, 1500u + repeats);
    EXPECT_EQ(folded.size(), count);
}

// Two processes add the same new name at once: one record has it.
TEST(ZTFileNameWrites, TwoProcessesAddOneName) {
    NewDatabase db;
    auto adder = [&](int in, int out) {
        ZTFile mine(db.base.c_str());
        if (mine.open(3, false) != 3) _exit(2);
        (void)await(in);
        for (int n = 0; n < 40; ++n) {
            const std::string name = "Shared " + std::to_string(n);
            if (!writeValue(out, mine.addName(kFieldName, name.c_str(), false))) _exit(2);
        }
    };
    std::vector<uint32_t> a, b;
    {
        Child one(adder), two(adder);
        one.send('g');
        two.send('g');
        for (int n = 0; n < 40; ++n) {
            a.push_back(one.receiveValue<uint32_t>(0));
            b.push_back(two.receiveValue<uint32_t>(0));
        }
    }
    for (int n = 0; n < 40; ++n) {
        EXPECT_NE(a[size_t(n)], 0u);
        EXPECT_EQ(a[size_t(n)], b[size_t(n)]) << n;
    }
    EXPECT_EQ(typeWalk(db.file, kFieldName).size(), 40u);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

}  // namespace
