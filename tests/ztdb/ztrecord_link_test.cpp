// Record links: directives, editing through a link, back values in another database, copies
// and set membership.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "assert_capture.h"
#include "ztdb/ztcache.h"
#include "ztdb/ztrecord.h"
#include "ztrecord_link_helpers.h"

using namespace recordtest;

namespace {

// ---- directives ----

// Record 7 holds a note; record 12 two zones.
struct DirectiveDatabase : PeopleDatabase {
    static constexpr uint32_t kSeven = 7;
    static constexpr uint32_t kTwelve = 12;
    DirectiveDatabase() {
        addValue(file, kSeven, kNotes, 1, "old");
        addValue(file, kTwelve, kZone, 1, "z1");
        addValue(file, kTwelve, kZone, 2, "z2");
    }
};

TEST(RecordDirectives, LinkToKeepAndPlainText) {
    DirectiveDatabase db;
    AssertCapture asserts;
    const struct {
        const char* text;
        bool result;
        bool linked;
        const char* shown;
    } cases[] = {
        {"##LINKTO:12,1005", true, true, "z1"},
        {"##LINKTO:12", false, false, "old"},
        {"##LINKTO:x,5", true, false, "old"},
        {"##LINKTO:12,0", true, false, "old"},
        {"##LINKTO:0,1005", true, false, "old"},
        {"##LINKTO:-12,1005", true, false, "old"},
        {"##LINKTO: 12,1005", true, false, "old"},
        {"##LINKTO:12,1005x", true, false, "old"},
        {"##LINKTO:99999999999999999999,1005", true, false, "old"},
        {"##LINKTO:7,1005", true, false, "old"},    // the record's own number
        {"##LINKTO:12,1003", false, false, "old"},  // record 12 has no such value
        {"##KEEP", true, false, "old"},
        {"##KEEPING", true, false, "old"},
        {"new", true, false, "new"},
    };
    for (const auto& c : cases) {
        ZTRecord r(&db.file, nullptr, nullptr, nullptr);
        r.read(DirectiveDatabase::kSeven);
        EXPECT_EQ(r.setValue(0, c.text, false), c.result) << c.text;
        EXPECT_EQ(r.isLink(0), c.linked) << c.text;
        EXPECT_STREQ(r.getText(0), c.shown) << c.text;
        EXPECT_EQ(r.getLinkID(0), c.linked ? DirectiveDatabase::kTwelve : 0u) << c.text;
    }
    // The same directive on record 12 itself changes nothing.
    ZTRecord twelve(&db.file, nullptr, nullptr, nullptr);
    twelve.read(DirectiveDatabase::kTwelve);
    EXPECT_TRUE(twelve.setValue(1, "##LINKTO:12,1005", false));
    EXPECT_FALSE(twelve.isLink(1));
    EXPECT_FALSE(twelve.isModified());
    EXPECT_FALSE(twelve.setValue(5, "x", false));
    EXPECT_EQ(twelve.getLastResult(), ZTRecord::kErrorRange);
    EXPECT_TRUE(asserts.reports().empty());
}

TEST(RecordDirectives, ALinkIsStoredKeptAndEndedByText) {
    DirectiveDatabase db;
    {
        ZTRecord r(&db.file, nullptr, nullptr, nullptr);
        r.read(DirectiveDatabase::kSeven);
        ASSERT_TRUE(r.setValue(0, "##LINKTO:12,1005", false));
        EXPECT_EQ(r.getLinkFieldID(0), kZone);
        ASSERT_EQ(r.write(nullptr), 1);
    }
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(DirectiveDatabase::kSeven);
    ASSERT_TRUE(r.isStoredLink(0));
    EXPECT_EQ(r.getLinkID(0), DirectiveDatabase::kTwelve);
    EXPECT_EQ(r.getLinkFieldID(0), kZone);
    EXPECT_STREQ(r.getText(0), "z1");
    // A value already holding its linked record is left as it is.
    ASSERT_NE(r.getLinkedRecord(0), nullptr);
    EXPECT_EQ(r.linkTo(0, DirectiveDatabase::kTwelve, kZone, 1, false), nullptr);

    EXPECT_TRUE(r.setValue(0, "##KEEP", false));
    EXPECT_TRUE(r.isLink(0));
    EXPECT_FALSE(r.isModified());

    // Read-only: the link stays and the linked record is not written; a plain value is.
    r.setReadOnlyCount(1);
    EXPECT_FALSE(r.setValue(0, "through", false));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorReadOnly);
    EXPECT_TRUE(r.isLink(0));
    EXPECT_STREQ(r.getText(0), "z1");
    EXPECT_FALSE(r.isModified());

    r.setReadOnlyCount(0);
    EXPECT_TRUE(r.setValue(0, "own", false));
    EXPECT_FALSE(r.isLink(0));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, DirectiveDatabase::kTwelve, kZone),
              (std::vector<std::string>{"z1", "z2"}));
    const auto rows = rowsOf(db.file, DirectiveDatabase::kSeven, kNotes);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].flags & ZTAtomCache::kLinkFlag, 0);
    EXPECT_EQ(rows[0].text, "own");

    ZTRecord plain(&db.file, nullptr, nullptr, nullptr);
    plain.read(DirectiveDatabase::kTwelve);
    plain.setReadOnlyCount(2);
    EXPECT_TRUE(plain.setValue(1, "z9", false));
    EXPECT_STREQ(plain.getText(1), "z9");
    expectSound(db);
}

// ---- links within the database ----

TEST(RecordLinks, EditingThroughALinkChangesTheTarget) {
    LinkedPlace db;
    {
        // A second record linking to the same value.
        ZTRecord place(&db.file, kTown, nullptr, nullptr);
        place.read(LinkedPlace::kPlace);
        ZTRecord second(&db.file, nullptr, nullptr, nullptr);
        second.clear(true);
        const int i = second.insertValue(ZTRecord::kNoIndex, kTown, 3);
        ASSERT_EQ(second.linkToRecordValue(uint32_t(i), &place, 0, nullptr), 1);
        ASSERT_EQ(second.write(nullptr), 1);
        ASSERT_NE(second.getRecordNumber(), 0u);
    }
    ZTRecord visitor(&db.file, nullptr, nullptr, nullptr);
    visitor.read(LinkedPlace::kVisitor);
    const int town = visitor.indexOf(kTown, 0);
    ASSERT_GE(town, 0);
    ASSERT_TRUE(visitor.isLink(uint32_t(town)));
    ASSERT_TRUE(visitor.setText(uint32_t(town), "Lyon"));
    ASSERT_EQ(visitor.write(nullptr), 1);

    EXPECT_EQ(atomtest::ownTextsOf(db.file, LinkedPlace::kPlace, kTown),
              (std::vector<std::string>{"Lyon"}));
    ZTRecord again(&db.file, nullptr, nullptr, nullptr);
    again.read(LinkedPlace::kVisitor);
    EXPECT_TRUE(again.isStoredLink(uint32_t(town)));
    EXPECT_EQ(again.getLinkID(uint32_t(town)), LinkedPlace::kPlace);
    EXPECT_STREQ(again.getText(uint32_t(town)), "Lyon");
    // Every link to the value shows the new text.
    uint32_t linking = 0;
    for (const auto& row : typeWalk(db.file, kTown))
        if ((row.flags & ZTAtomCache::kLinkFlag) && row.record != LinkedPlace::kVisitor)
            linking = row.record;
    ASSERT_NE(linking, 0u);
    ZTRecord second(&db.file, nullptr, nullptr, nullptr);
    second.read(linking);
    EXPECT_STREQ(second.getText(0), "Lyon");
    EXPECT_TRUE(second.isLink(0));
    expectSound(db);
}

TEST(RecordLinks, LinkToValueTakesThatValueOfItsRun) {
    PeopleDatabase db;
    ZTRecord ann(&db.file, nullptr, nullptr, nullptr);
    ann.read(kAnn);
    const int b = ann.indexOf(kNotes, 0) + 1;
    ASSERT_STREQ(ann.getText(uint32_t(b)), "b");

    ZTRecord other(&db.file, nullptr, nullptr, nullptr);
    other.clear(true);
    const int i = other.insertValue(ZTRecord::kNoIndex, kNotes, 3);
    // A new record: a link to another record's value of the field.
    ASSERT_NE(other.linkToValue(uint32_t(i), &ann, uint32_t(b), false), nullptr);
    EXPECT_STREQ(other.getText(uint32_t(i)), "b");
    EXPECT_EQ(other.getLinkID(uint32_t(i)), kAnn);
    ASSERT_EQ(other.write(nullptr), 1);
    const auto rows = rowsOf(db.file, other.getRecordNumber(), kNotes);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, "b");
    EXPECT_NE(rows[0].flags & ZTAtomCache::kLinkFlag, 0);

    // Link keys lead back to the value they share.
    EXPECT_EQ(ann.indexOfLinkKey(rows[0].value, kNotes), b);
    EXPECT_EQ(ann.indexOfLinkKey(rows[0].value, kTown), -1);

    // setLink: value j must belong to the field; an empty placeholder is nothing to link to.
    ZTRecord third(&db.file, nullptr, nullptr, nullptr);
    third.clear(true);
    const int k = third.insertValue(ZTRecord::kNoIndex, kTags, 3);
    EXPECT_EQ(third.setLink(uint32_t(k), kAnn, kTown, 5, "x"), 0);
    EXPECT_EQ(third.setLink(uint32_t(k), kAnn, kTags, 0, nullptr), 0);
    EXPECT_EQ(third.setLink(uint32_t(k), kAnn, kNotes, 1, "b"), 1);
    EXPECT_STREQ(third.getText(uint32_t(k)), "b");
    EXPECT_EQ(third.clearLink(uint32_t(k)), 1);
    EXPECT_FALSE(third.isLink(uint32_t(k)));
    expectSound(db);
}

TEST(RecordLinks, ANewTargetValueIsMadeInTheLinkedRecord) {
    LinkedPlace db;
    ZTRecord ann(&db.file, nullptr, nullptr, nullptr);
    ann.read(kAnn);
    const uint32_t i = uint32_t(ann.indexOf(kNotes, 0));
    ZTSubRecord* sub = ann.linkTo(i, LinkedPlace::kPlace, kZone, 0, true);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(ann.getLinkedRecord(i), sub);
    EXPECT_STREQ(ann.getText(i), "a");
    ASSERT_EQ(ann.write(nullptr), 1);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, LinkedPlace::kPlace, kZone),
              std::vector<std::string>{"a"});
    const auto rows = rowsOf(db.file, kAnn, kNotes);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value, rowsOf(db.file, LinkedPlace::kPlace, kZone)[0].value);
    EXPECT_NE(rows[0].flags & ZTAtomCache::kLinkFlag, 0);
    EXPECT_EQ(rows[1].text, "b");
    expectSound(db);
}

TEST(RecordLinks, ErrorCodesOfTheLinkOperations) {
    LinkedPlace db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(LinkedPlace::kVisitor);
    const uint32_t town = uint32_t(r.indexOf(kTown, 0));
    const uint32_t name = uint32_t(r.indexOf(kName, 0));
    EXPECT_FALSE(r.setBackLink(town, 1300, 1400, 1, 35, 0));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorIsLink);
    ASSERT_TRUE(r.setBackLink(name, 1300, 1400, 1, 35, 0));
    EXPECT_TRUE(r.hasExternalLink(name));
    EXPECT_EQ(r.getValueTagInt(name, 'r'), 1400u);
    EXPECT_FALSE(r.setBackLink(name, 1300, 1401, 1, 35, 0));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorHasExternalLink);
    EXPECT_FALSE(r.unlinkExternal(name));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorNotLinked);
    EXPECT_FALSE(r.unlinkExternal(town));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorNoExternalLink);
    EXPECT_TRUE(r.removeBackLink(name));
    EXPECT_STREQ(r.getText(name), "");
    EXPECT_FALSE(r.removeBackLink(name));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorNoExternalLink);
    EXPECT_FALSE(r.unlink(40));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRange);
    EXPECT_EQ(r.getLinkedRecord(40), nullptr);
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRange);
    r.setReadOnlyCount(r.getValueCount());
    EXPECT_EQ(r.clearLink(town), 0);
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorReadOnly);
    EXPECT_TRUE(r.isLink(town));
    ZTSubRecord* sub = r.getLinkedRecord(town);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->getRecordNumber(), LinkedPlace::kPlace);
    EXPECT_EQ(sub->unavailable(), 0);
    EXPECT_EQ(sub->getLastResult(), ZTRecord::kErrorSubRecord);
}

// ---- copies ----

TEST(RecordCopies, ANewCopyOfALongRecordStoresEveryTextAndLink) {
    LinkedPlace db;
    constexpr uint32_t kLong = 1600;
    for (uint32_t k = 0; k < 700; ++k)
        addValue(db.file, kLong, kNotes, k + 1, "n" + std::to_string(k));
    const uint32_t paris = rowsOf(db.file, LinkedPlace::kPlace, kTown)[0].value;
    ASSERT_TRUE(addLink(db.file, kLong, kTown, 1, paris));
    const auto before = typesOf(db.file, kLong);

    ZTRecord source(&db.file, nullptr, nullptr, nullptr);
    source.read(kLong);
    ASSERT_TRUE(source.loadValues(3));
    ZTRecord copy;
    copy.assign(source, true);
    EXPECT_EQ(copy.getRecordNumber(), 0u);
    ASSERT_EQ(copy.write(nullptr), 1);
    const uint32_t made = copy.getRecordNumber();
    ASSERT_NE(made, 0u);
    ASSERT_NE(made, kLong);

    EXPECT_EQ(textsOf(db.file, made, kNotes), textsOf(db.file, kLong, kNotes));
    EXPECT_EQ(textsOf(db.file, made, kNotes).size(), 700u);
    const auto link = rowsOf(db.file, made, kTown);
    ASSERT_EQ(link.size(), 1u);
    EXPECT_EQ(link[0].value, paris);
    EXPECT_NE(link[0].flags & ZTAtomCache::kLinkFlag, 0);
    EXPECT_EQ(typesOf(db.file, kLong), before);
    EXPECT_FALSE(source.isModified());
    expectSound(db);
}

// ---- set membership ----

TEST(RecordSets, AttachAndDetachWriteAtOnceAndRefuseANewRecord) {
    PeopleDatabase db;
    ZTRecord fresh(&db.file, nullptr, nullptr, nullptr);
    fresh.clear(true);
    fresh.setText(uint32_t(fresh.insertValue(ZTRecord::kNoIndex, kName, 1)), "Bob");
    ZTRefreshInfo ri;
    EXPECT_EQ(fresh.attachToSet(kPeople, &ri), -1);
    EXPECT_EQ(fresh.getLastResult(), ZTRecord::kErrorNotStored);
    EXPECT_EQ(fresh.detachFromSet(kPeople, &ri), -1);
    EXPECT_EQ(ri.count(), 0u);
    EXPECT_EQ(rowCount(db.file, 0), 0u);
    for (const auto& m : atomtest::membersInOrder(db.file, kPeople)) EXPECT_NE(m.first, 0u);

    ASSERT_EQ(fresh.write(nullptr), 1);
    const uint32_t bob = fresh.getRecordNumber();
    ASSERT_EQ(fresh.attachToSet(kPeople, &ri), 0);
    ASSERT_EQ(ri.count(), 1u);
    EXPECT_EQ(ri.getRecordID(0), bob);
    EXPECT_EQ(ri.getSubID(0), kPeople);
    EXPECT_EQ(ri.getFlags(0), ZTRefreshItem::kAdded);
    size_t rows = 0;
    for (const auto& m : atomtest::membersInOrder(db.file, kPeople)) rows += m.first == bob;
    EXPECT_EQ(rows, 1u);

    ZTRefreshInfo gone;
    ASSERT_EQ(fresh.detachFromSet(kPeople, &gone), 0);
    EXPECT_EQ(gone.getFlags(0), ZTRefreshItem::kRemoved);
    for (const auto& m : atomtest::membersInOrder(db.file, kPeople)) EXPECT_NE(m.first, bob);
    expectSound(db);
}

// ---- back values in another database ----

TEST(RecordBackValues, MadeMovedAndDroppedOnceEach) {
    TwoDatabases db;
    AssertCapture asserts;
    const std::string back = externalText(TwoDatabases::kRef, TwoDatabases::kR);
    ZTRecord r(&db.a, nullptr, nullptr, nullptr);
    r.read(TwoDatabases::kR);
    uint32_t i = TwoDatabases::tagsOf(r);
    ASSERT_TRUE(r.setBackLink(i, TwoDatabases::kRef, TwoDatabases::kS, 1, 35, 0));
    ZTRefreshInfo ri;
    ASSERT_EQ(r.write(&ri), 1);
    EXPECT_EQ(r.getLastResult() & ZTRecord::kResultBackLinkSkipped, 0);
    EXPECT_EQ(db.backValues(TwoDatabases::kS), std::vector<std::string>{back});
    EXPECT_NE(ri.find(&db.b, TwoDatabases::kS), ZTRefreshInfo::kNone);

    // Further write backs, also of a fresh image, add nothing.
    for (int n = 0; n < 3; ++n) {
        ZTRecord again(&db.a, nullptr, nullptr, nullptr);
        again.read(TwoDatabases::kR);
        again.setText(uint32_t(again.indexOf(kName, 0)), ("again " + std::to_string(n)).c_str());
        ASSERT_EQ(again.write(nullptr), 1);
        r.setText(uint32_t(r.indexOf(kName, 0)), ("r " + std::to_string(n)).c_str());
        ASSERT_EQ(r.writeBack(nullptr, false), 1);
    }
    EXPECT_EQ(db.backValues(TwoDatabases::kS), std::vector<std::string>{back});

    // Moving the link moves the back value.
    r.read(TwoDatabases::kR);
    i = TwoDatabases::tagsOf(r);
    ASSERT_TRUE(r.removeBackLink(i));
    ASSERT_TRUE(r.setBackLink(i, TwoDatabases::kRef, TwoDatabases::kS2, 1, 35, 0));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_TRUE(db.backValues(TwoDatabases::kS).empty());
    EXPECT_EQ(db.backValues(TwoDatabases::kS2), std::vector<std::string>{back});

    // Removing the value removes it.
    r.read(TwoDatabases::kR);
    ASSERT_TRUE(r.removeValue(TwoDatabases::tagsOf(r)));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_TRUE(db.backValues(TwoDatabases::kS2).empty());
    EXPECT_TRUE(asserts.reports().empty());
    db.expectBothSound();
}

TEST(RecordBackValues, WithinOneDatabase) {
    LinkedPlace db;
    AssertCapture asserts;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(kAnn);
    const uint32_t i = uint32_t(r.insertValue(ZTRecord::kNoIndex, kTags, 3));
    ASSERT_TRUE(r.setBackLink(i, ZTFileCache::kThisDatabase, LinkedPlace::kPlace, 1, 35, 0));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_EQ(r.getBackLinkResult(), 0);
    EXPECT_EQ(textsOf(db.file, LinkedPlace::kPlace, 35),
              std::vector<std::string>{externalText(ZTFileCache::kThisDatabase, kAnn)});
    r.read(kAnn);
    ASSERT_TRUE(r.removeValue(uint32_t(r.indexOf(kTags, 0))));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_TRUE(textsOf(db.file, LinkedPlace::kPlace, 35).empty());
    EXPECT_TRUE(asserts.reports().empty());
    expectSound(db);
}

TEST(RecordBackValues, ALoadedValueThatIsAlsoALinkIsLinkedAgain) {
    TwoDatabases db;
    AssertCapture asserts;
    // Two records of A whose Tags carry external links to S and S2; R links to the first.
    constexpr uint32_t kT = 1210, kT2 = 1211;
    const uint32_t toS =
        addValue(db.a, kT, kTags, 1, externalText(TwoDatabases::kRef, TwoDatabases::kS));
    addValue(db.a, kT2, kTags, 1, externalText(TwoDatabases::kRef, TwoDatabases::kS2));
    ASSERT_TRUE(addLink(db.a, TwoDatabases::kR, kTags, 1, toS));

    ZTRecord r(&db.a, nullptr, nullptr, nullptr);
    r.read(TwoDatabases::kR);
    const uint32_t i = uint32_t(r.indexOf(kTags, 0));
    ASSERT_TRUE(r.isStoredLink(i));
    ASSERT_TRUE(r.hasExternalLink(i));
    ASSERT_EQ(r.setLink(i, kT2, kTags, 0, nullptr), 1);
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_EQ(r.getLastResult() & ZTRecord::kResultBackLinkSkipped, 0);
    ZTStr expected(0);
    expected.assign(externalText(TwoDatabases::kRef, TwoDatabases::kR).c_str());
    expected.setTagInt('x', kT2);
    EXPECT_EQ(db.backValues(TwoDatabases::kS2), std::vector<std::string>{expected.text});
    EXPECT_TRUE(asserts.reports().empty());
    db.expectBothSound();
}

TEST(RecordBackValues, AnUnreachableDatabaseIsSkippedAndTheRecordStored) {
    enum Damage {
        kMissing,
        kUnreadable,
        kHeldElsewhere,
        kNoReference,
        kNoRecord,
        kOldPathAndCase,
        kOldPathBack,
        kCallerHoldsTheLock
    };
    for (Damage damage : {kMissing, kUnreadable, kHeldElsewhere, kNoReference, kNoRecord,
                          kOldPathAndCase, kOldPathBack, kCallerHoldsTheLock}) {
        SCOPED_TRACE(int(damage));
        TwoDatabases db;
        AssertCapture asserts;
        uint32_t target = TwoDatabases::kS;
        int32_t why = 0;
        std::unique_ptr<ZTFile> holder;
        switch (damage) {
            case kMissing:
                db.b.close();
                for (const char* ext : {"ZT", "IX", "ZT2", "IX2"})
                    std::remove(ZTFile::findTablePath(db.baseB, ext).c_str());
                why = ZTRecord::kBackLinkNoDatabase;
                break;
            case kUnreadable: {
                db.b.close();
                std::ofstream(ZTFile::findTablePath(db.baseB, "ZT"), std::ios::trunc) << "junk";
                why = ZTRecord::kBackLinkNoDatabase;
                break;
            }
            case kHeldElsewhere:
                // Another opener holds B for itself.
                db.b.close();
                holder = std::make_unique<ZTFile>(db.baseB.c_str());
                ASSERT_EQ(holder->open(7, false), 7u);
                why = ZTRecord::kBackLinkNoDatabase;
                break;
            case kNoReference:
                TwoDatabases::rewriteReference(db.b, nullptr);
                why = ZTRecord::kBackLinkUnknown;
                break;
            case kNoRecord:
                target = 1999;
                why = ZTRecord::kBackLinkNoRecord;
                break;
            case kOldPathAndCase:
                // An old reference: a Windows path in other letters, found by its file name in
                // this database's folder, and left as it is.
                TwoDatabases::rewriteReference(db.a, "C:\\DATA\\BETA.ZT");
                break;
            case kOldPathBack:
                // B knows A by an old reference only: that is the reference its back value names.
                TwoDatabases::rewriteReference(db.b, "d:\\old\\Alpha");
                break;
            case kCallerHoldsTheLock:
                // With A still locked, waiting for B could wait for ever: B is not waited for.
                ASSERT_TRUE(db.a.lock(false));
                why = ZTRecord::kBackLinkBusy;
                break;
        }
        ZTRecord r(&db.a, nullptr, nullptr, nullptr);
        r.read(TwoDatabases::kR);
        const uint32_t i = TwoDatabases::tagsOf(r);
        ASSERT_TRUE(r.setBackLink(i, TwoDatabases::kRef, target, 1, 35, 0));
        ASSERT_EQ(r.write(nullptr), 1);
        if (damage == kCallerHoldsTheLock) {
            EXPECT_TRUE(db.backValues(TwoDatabases::kS).empty());
            ASSERT_TRUE(db.a.unlock());
        }
        EXPECT_EQ(textsOf(db.a, TwoDatabases::kR, kTags),
                  std::vector<std::string>{externalText(TwoDatabases::kRef, target)});
        EXPECT_EQ(r.getBackLinkResult(), why);
        EXPECT_EQ((r.getLastResult() & ZTRecord::kResultBackLinkSkipped) != 0, why != 0);
        if (damage == kOldPathAndCase || damage == kOldPathBack) {
            EXPECT_EQ(db.backValues(TwoDatabases::kS),
                      std::vector<std::string>{externalText(TwoDatabases::kRef, TwoDatabases::kR)});
        }
        if (damage == kOldPathAndCase) {
            EXPECT_EQ(textsOf(db.a, TwoDatabases::kRef, 33),
                      std::vector<std::string>{"C:\\DATA\\BETA.ZT"});
        }
        EXPECT_TRUE(asserts.reports().empty());
        const dbcheck::Report report = dbcheck::checkDatabase(db.baseA);
        EXPECT_TRUE(report.sound()) << report.text();
    }
}

}  // namespace
