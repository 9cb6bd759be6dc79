// The value cursor between processes: a reader walks a field in value order, up and down,
// while another process writes new values into it through its own cursor.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <set>
#include <string>

#include "date_order_pin.h"
#include "writer_child.h"
#include "xbase/child_process.h"
#include "ztatom_helpers.h"

namespace {

constexpr uint32_t kField = 1001;
constexpr uint32_t kFirst = 300;

std::string valueText(uint32_t n) {
    std::string text = "w" + std::to_string((n * 7919u) % 10007u) + " " + std::to_string(n);
    if (n % 7 == 0) text += std::string(40 + n % 50, 'x');  // several chunks
    return text;
}

// One pass in the direction: the records met, or -1 when one was met twice, -2 when a text did
// not belong to its record, -3 when the keys went the wrong way, -4 when one of the first kFirst
// values was missed, -5 when a read failed.
int walk(ZTFile& file, int direction) {
    std::set<uint32_t> seen;
    std::string last;
    ZTAtom a(&file, 0);
    int r = direction > 0 ? a.findValue(kField, "", false, false, false, 0)
                          : a.findLastValue(kField, false);
    for (; r == 0; r = a.findNextValue(&a, direction, false)) {
        if (!seen.insert(a.recordID).second) return -1;
        if (a.value.text != valueText(a.recordID - 1001)) return -2;
        char key[64];
        file.makeKey(a.value.text, key, false, false, false, false);
        const std::string now(key, 30);
        if (!last.empty() && (direction > 0 ? now < last : now > last)) return -3;
        last = now;
    }
    for (uint32_t n = 0; n < kFirst; ++n)
        if (!seen.count(1001 + n)) return a.readFailed() ? -5 : -4;
    return int(seen.size());
}

TEST(AtomProcesses, ValueOrderWalksWhileAnotherProcessWrites) {
    DateOrderPin pin(false);
    signal(SIGPIPE, SIG_IGN);
    NewDatabase db(3, true);
    ASSERT_TRUE(ZTRec(&db.file).setCounter(100000));
    {
        ZTAtom w(&db.file, 0);
        for (uint32_t n = 0; n < kFirst; ++n)
            ASSERT_EQ(w.write(1001 + n, kField, 1, valueText(n).c_str(), 0, true), 2);
    }

    Child writer([&](int in, int out) {
        writeUntilStopped(db.base, in, out, 200000, [](ZTFile& mine, uint32_t written) {
            const uint32_t n = kFirst + written;
            return ZTAtom(&mine, 0).write(1001 + n, kField, 1, valueText(n).c_str(), 0, true) == 2;
        });
    });
    ASSERT_EQ(writer.receive(), 'r');

    int passes = 0, grown = 0;
    int last = int(kFirst);
    const auto start = std::chrono::steady_clock::now();
    // The time limit only guards against a hang: a loaded machine makes passes slower, not fewer.
    while (grown < 10 && std::chrono::steady_clock::now() - start < std::chrono::minutes(5)) {
        const int direction = passes % 2 ? -1 : 1;
        const int met = walk(db.file, direction);
        ASSERT_GE(met, last) << "pass " << passes << " direction " << direction;
        if (met > last) ++grown;
        last = met;
        ++passes;
    }
    writer.send('s');
    const uint32_t written = writer.receiveValue<uint32_t>(0);
    EXPECT_GE(grown, 10);
    EXPECT_GT(written, 0u);
    EXPECT_EQ(walk(db.file, 1), int(kFirst + written));
    EXPECT_EQ(walk(db.file, -1), int(kFirst + written));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// Link rows in a walk while another process adds values and links to them: a link met is
// resolved to its own owner or (while the other's write is under way) to none, never to another
// row; once the writer stops, every link resolves and every row is met once.
constexpr uint32_t kLinkOffset = 1000000;  // the link to the value of record r lies in r + 1000000

// The rows met in one pass up: -1 a record met twice, -2 a text not of its record, -3 a link
// resolved to a row that does not own it; with `resolved`, -4 a link left unresolved.
int walkLinks(ZTFile& file, bool resolved) {
    std::set<uint32_t> seen;
    ZTAtom a(&file, 0);
    for (int r = a.findValue(kField, "", false, false, false, 0); r == 0;
         r = a.findNextValue(&a, 1, false)) {
        if (!seen.insert(a.recordID).second) return -1;
        const bool link = a.recordID >= 1001 + kLinkOffset;
        const uint32_t owner = link ? a.recordID - kLinkOffset : a.recordID;
        if (a.value.text != valueText(owner - 1001)) return -2;
        if (link != a.isLinkRow()) return -3;
        if (link && a.linkRecord != 0 && (a.linkRecord != owner || a.linkField != kField))
            return -3;
        if (!link && a.linkRecord != 0) return -3;
        if (link && resolved && a.linkRecord == 0) return -4;
    }
    return int(seen.size());
}

TEST(AtomProcesses, LinksResolveToTheirOwnersWhileAnotherProcessAddsThem) {
    DateOrderPin pin(false);
    signal(SIGPIPE, SIG_IGN);
    NewDatabase db(3, true);
    ASSERT_TRUE(ZTRec(&db.file).setCounter(2 * kLinkOffset));
    auto addPair = [](ZTFile& file, uint32_t n) {
        ZTAtom w(&file, 0);
        if (w.write(1001 + n, kField, 1, valueText(n).c_str(), 0, true) != 2) return false;
        const uint32_t owned = w.valueID;
        return w.write(1001 + n + kLinkOffset, kField, 1, nullptr, owned) == 2 && w.isLinkRow();
    };
    constexpr uint32_t kPairs = 100;
    for (uint32_t n = 0; n < kPairs; ++n) ASSERT_TRUE(addPair(db.file, n));
    ASSERT_EQ(walkLinks(db.file, true), int(2 * kPairs));

    Child writer([&](int in, int out) {
        writeUntilStopped(db.base, in, out, 200000, [&](ZTFile& mine, uint32_t written) {
            return addPair(mine, kPairs + written);
        });
    });
    ASSERT_EQ(writer.receive(), 'r');
    int last = int(2 * kPairs), grown = 0;
    const auto start = std::chrono::steady_clock::now();
    while (grown < 5 && std::chrono::steady_clock::now() - start < std::chrono::minutes(5)) {
        const int met = walkLinks(db.file, false);
        ASSERT_GE(met, last);
        if (met > last) ++grown;
        last = met;
    }
    writer.send('s');
    const uint32_t written = writer.receiveValue<uint32_t>(0);
    EXPECT_GT(written, 0u);
    EXPECT_EQ(walkLinks(db.file, true), int(2 * (kPairs + written)));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// A walk goes on from the row it stands on only while that row is there: emptied by another
// cursor of this process or by another process, the next step ends the walk; a write
// elsewhere leaves the walk going.
TEST(AtomProcesses, AWalkStepChecksItsRowAfterAnyWrite) {
    DateOrderPin pin(false);
    signal(SIGPIPE, SIG_IGN);
    struct Case {
        const char* name;
        bool otherProcess;
        uint32_t field;  // the field the write empties
        int next;        // the step after it
    };
    const Case cases[] = {
        {"this process, the row", false, kField, -1},
        {"this process, elsewhere", false, kField + 1, 0},
        {"another process, the row", true, kField, -1},
        {"another process, elsewhere", true, kField + 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewDatabase db(3, false);
        {
            ZTAtom w(&db.file, 0);
            for (uint32_t n = 0; n < 4; ++n)
                for (uint32_t f : {kField, kField + 1})
                    ASSERT_EQ(w.write(1001 + n, f, 1, valueText(n).c_str(), 0, true), 2);
        }
        ZTAtom a(&db.file, 0);
        ASSERT_EQ(a.findValue(kField, "", false, false, false, 0), 0);
        ASSERT_EQ(a.findNextValue(&a, 1, false), 0);
        const uint32_t target = a.recordID;
        if (c.otherProcess) {
            Child child([&](int, int out) {
                ZTFile mine(db.base.c_str());
                if (mine.open(3, false) != 3) _exit(2);
                ZTAtom w(&mine, 0);
                answer(out, w.write(target, c.field, 1, "") == ZTAtom::kWriteRemoved ? 'y' : 'n');
                mine.close();
            });
            ASSERT_EQ(child.receive(), 'y');
        } else {
            ZTAtom w(&db.file, 0);
            ASSERT_EQ(w.write(target, c.field, 1, ""), ZTAtom::kWriteRemoved);
        }
        EXPECT_EQ(a.findNextValue(&a, 1, false), c.next);
        if (c.next == 0) {
            EXPECT_NE(a.recordID, target);
        }
    }
}

}  // namespace
