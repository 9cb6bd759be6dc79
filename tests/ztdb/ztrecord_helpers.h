#pragma once
// Test helpers for record images: a small database of named fields, a set and a record, and
// an image's values read out whole.
#include <string>
#include <vector>

#include "ztatom_helpers.h"
#include "ztdb/ztrecord.h"
#include "ztdb/ztset.h"

namespace recordtest {

constexpr uint32_t kName = 1001;
constexpr uint32_t kTown = 1002;
constexpr uint32_t kNotes = 1003;
constexpr uint32_t kTags = 1004;
constexpr uint32_t kZone = 1005;
constexpr uint32_t kPeople = 1100;
constexpr uint32_t kAnn = 1200;

// Next record ID 2000; fields Name, Town, Notes, Tags, Zone; set People of (Name, Town), both
// fixed; record Ann: Name "Ann", Town "Oslo", Notes "a" and "b", a member of People.
struct PeopleDatabase : NewDatabase {
    uint32_t nameValue[6] = {};

    PeopleDatabase() {
        EXPECT_TRUE(ZTRec(&file).setCounter(2000));
        const char* names[] = {"Name", "Town", "Notes", "Tags", "Zone"};
        for (uint32_t k = 0; k < 5; ++k)
            nameValue[k + 1] = atomtest::makeField(file, kName + k, names[k]);
        atomtest::makeSet(file, kPeople, "People", {nameValue[1], nameValue[2]});
        addValue(file, kAnn, kName, 1, "Ann");
        addValue(file, kAnn, kTown, 1, "Oslo");
        addValue(file, kAnn, kNotes, 1, "a");
        addValue(file, kAnn, kNotes, 2, "b");
        EXPECT_TRUE(file.addToSet(kAnn, kPeople, true));
    }

    // The set's stored field list.
    ZTSet people() {
        ZTSet s(&file, kPeople);
        EXPECT_TRUE(s.load());
        return s;
    }
};

// Visitor 1501's Town is a link to place 1500's Town "Paris"; Visitor's Name is "Eve".
struct LinkedPlace : PeopleDatabase {
    static constexpr uint32_t kPlace = 1500;
    static constexpr uint32_t kVisitor = 1501;
    LinkedPlace() {
        const uint32_t paris = addValue(file, kPlace, kTown, 1, "Paris");
        EXPECT_TRUE(addLink(file, kVisitor, kTown, 1, paris));
        addValue(file, kVisitor, kName, 1, "Eve");
    }
};

inline void expectSound(NewDatabase& db) {
    const dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// Every value of the image: field IDs and texts in record order.
inline std::vector<uint32_t> typesOf(ZTRecord& r) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < r.getValueCount(); ++i) out.push_back(r.getTypeID(i));
    return out;
}

inline std::vector<std::string> textsOf(ZTRecord& r) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < r.getValueCount(); ++i) out.push_back(r.getText(i));
    return out;
}

// A fresh image of the stored record.
inline std::vector<std::string> storedTexts(ZTFile& file, const ZTSet* structure, uint32_t record) {
    ZTRecord fresh(&file, structure, nullptr, nullptr);
    fresh.read(record);
    return textsOf(fresh);
}

// Every row of the record (all types, membership rows too).
inline size_t rowCount(ZTFile& file, uint32_t record) {
    size_t n = 0;
    ZTRec rec(&file);
    for (int r = rec.seek(record, 0, 0, ""); r == 0 && rec.recordID == record; r = rec.skip(1)) ++n;
    return n;
}

}  // namespace recordtest
