// Record images between processes: a reader never sees half a write back, and a write back
// copes with another process deleting the record or the value it links to.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "date_order_pin.h"
#include "xbase/child_process.h"
#include "ztdb/ztrecord.h"
#include "ztrecord_helpers.h"

using namespace recordtest;

namespace {

// Waits a millisecond instead of the usual pause, so that the two processes take turns often.
bool shortWait(void*, int) {
    usleep(1000);
    return true;
}

// The reader takes the lock for each read, as a process does before it edits: it must find each
// write back whole, never the old value taken out without the new one in.
TEST(RecordProcesses, AReaderNeverSeesTheRecordWithoutEitherValue) {
    DateOrderPin pin(false);
    signal(SIGPIPE, SIG_IGN);
    PeopleDatabase db;
    addValue(db.file, kAnn, kTags, 1, "x");
    db.file.setLockWaitHook(shortWait, nullptr);

    Child reader([&](int in, int out) {
        ZTFile mine(db.base.c_str());
        if (mine.open(3, false) != 3) _exit(2);
        mine.setLockWaitHook(shortWait, nullptr);
        answer(out, 'r');
        uint32_t reads = 0, torn = 0;
        for (;;) {
            pollfd stop{in, POLLIN, 0};
            if (poll(&stop, 1, 0) > 0) break;
            if (!mine.lock(false)) _exit(3);
            ZTRecord r(&mine, nullptr, nullptr, nullptr);
            r.read(kAnn);
            bool seen = false;
            for (uint32_t i = 0; i < r.getValueCount(); ++i)
                if (r.getTypeID(i) == kTags) {
                    const std::string t = r.getText(i);
                    seen = seen || t == "x" || t == "y";
                }
            if (!mine.unlock()) _exit(3);
            ++reads;
            if (!seen) ++torn;
            usleep(200);
        }
        if (!writeValue(out, reads) || !writeValue(out, torn)) _exit(2);
    });
    ASSERT_EQ(reader.receive(), 'r');

    // Each write back takes the old value out and puts the other in as a new row.
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    for (int n = 0; n < 200; ++n) {
        r.read(kAnn);
        const int at = r.indexOf(kTags, 0);
        ASSERT_GE(at, 0);
        const std::string next = std::string(r.getText(uint32_t(at))) == "x" ? "y" : "x";
        ASSERT_TRUE(r.removeValue(uint32_t(at)));
        const int added = r.insertValue(ZTRecord::kNoIndex, kTags, 3);
        ASSERT_GE(added, 0);
        ASSERT_TRUE(r.setText(uint32_t(added), next.c_str()));
        ASSERT_EQ(r.write(nullptr), 1);
    }
    reader.send('s');
    const uint32_t reads = reader.receiveValue<uint32_t>(0);
    const uint32_t torn = reader.receiveValue<uint32_t>(~0u);
    EXPECT_GT(reads, 0u);
    EXPECT_EQ(torn, 0u) << "of " << reads << " reads";
    expectSound(db);
}

TEST(RecordProcesses, ARecordDeletedElsewhereDuringAnEditIsNotMadeAgain) {
    DateOrderPin pin(false);
    PeopleDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    ASSERT_EQ(r.getValueCount(), 4u);
    ASSERT_TRUE(r.setText(1, "Bergen"));
    ASSERT_TRUE(r.removeValue(2));
    const int at = r.insertValue(ZTRecord::kNoIndex, kTags, 3);
    ASSERT_TRUE(r.setText(uint32_t(at), "new"));

    {
        Child deleter([&](int, int out) {
            ZTFile mine(db.base.c_str());
            if (mine.open(3, false) != 3) _exit(2);
            answer(out, mine.deleteRecord(kAnn, nullptr) ? 'd' : 'f');
        });
        ASSERT_EQ(deleter.receive(), 'd');
    }

    ZTRefreshInfo ri;
    EXPECT_EQ(r.write(&ri), 0);
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRecordGone);
    EXPECT_TRUE(r.isModified());  // the edit is still there to be saved elsewhere
    EXPECT_EQ(rowCount(db.file, kAnn), 0u);
    EXPECT_EQ(ri.count(), 0u);
    expectSound(db);
}

// The visitor's linked Town is edited to "Lyon" (which edits the place) while another process
// deletes the place, or edits its Town to "Rome". A deleted target leaves the text as a plain
// value and a code; an edited one is written over and stays linked.
TEST(RecordProcesses, ALinkedValueChangedElsewhereLeavesTheTextAndACodeWhenGone) {
    struct Case {
        char action;  // 'd' delete the place, 'e' edit its Town
        bool broken;
        std::vector<std::string> placeTowns;
    };
    const Case cases[] = {{'d', true, {}}, {'e', false, {"Lyon"}}};
    for (const Case& c : cases) {
        DateOrderPin pin(false);
        LinkedPlace db;
        const uint32_t kPlace = LinkedPlace::kPlace, kVisitor = LinkedPlace::kVisitor;
        ZTRecord r(&db.file, nullptr, nullptr, nullptr);
        r.read(kVisitor);
        const int at = r.indexOf(kTown, 0);
        ASSERT_GE(at, 0);
        ASSERT_TRUE(r.isLink(uint32_t(at)));
        ASSERT_STREQ(r.getText(uint32_t(at)), "Paris");
        ASSERT_TRUE(r.setText(uint32_t(at), "Lyon"));
        EXPECT_TRUE(r.isModified());
        {
            Child other([&](int, int out) {
                ZTFile mine(db.base.c_str());
                if (mine.open(3, false) != 3) _exit(2);
                bool ok;
                if (c.action == 'd') {
                    ok = mine.deleteRecord(kPlace, nullptr);
                } else {
                    ZTRecord place(&mine, nullptr, nullptr, nullptr);
                    place.read(kPlace);
                    ok = place.setText(0, "Rome") && place.write(nullptr) == 1;
                }
                answer(out, ok ? 'k' : 'f');
            });
            ASSERT_EQ(other.receive(), 'k') << c.action;
        }

        EXPECT_EQ(r.write(nullptr), 1) << c.action;
        EXPECT_EQ((r.getLastResult() & ZTRecord::kResultLinkBroken) != 0, c.broken) << c.action;
        const std::vector<atomtest::Row> rows = atomtest::rowsOf(db.file, kVisitor, kTown);
        ASSERT_EQ(rows.size(), 1u) << c.action;
        EXPECT_EQ(rows[0].text, "Lyon") << c.action;
        EXPECT_EQ((rows[0].flags & ZTRec::kFlagLink) == 0, c.broken) << c.action;
        EXPECT_EQ(atomtest::ownTextsOf(db.file, kVisitor, kName), (std::vector<std::string>{"Eve"}));
        EXPECT_EQ(atomtest::ownTextsOf(db.file, kPlace, kTown), c.placeTowns) << c.action;
        expectSound(db);
    }
}

}  // namespace
