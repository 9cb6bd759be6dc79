// Back values between processes: two processes that link two databases both ways at once
// both finish, and every back value matches its link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "xbase/child_process.h"
#include "ztdb/ztrecord.h"
#include "ztrecord_link_helpers.h"

using namespace recordtest;

namespace {

constexpr uint32_t kRef = TwoDatabases::kRef;
constexpr int kRounds = 200;

// Links the record's first Tags value to the first and the second target in turn, n times; the
// number of steps that failed or skipped a back value.
int moveLinks(ZTFile& file, uint32_t record, uint32_t first, uint32_t second, int n) {
    int bad = 0;
    ZTRecord r(&file, nullptr, nullptr, nullptr);
    for (int k = 0; k < n; ++k) {
        r.read(record);
        int at = r.indexOf(kTags, 0);
        if (at < 0) {
            at = r.insertValue(ZTRecord::kNoIndex, kTags, 3);
        } else if (!r.removeBackLink(uint32_t(at))) {
            ++bad;
        }
        const uint32_t target = k % 2 ? second : first;
        if (!r.setBackLink(uint32_t(at), kRef, target, 1, 35, 0)) ++bad;
        if (r.write(nullptr) != 1 || (r.getLastResult() & ZTRecord::kResultBackLinkSkipped)) ++bad;
    }
    return bad;
}

TEST(RecordLinkProcesses, TwoDatabasesLinkedBothWaysAtOnce) {
    signal(SIGPIPE, SIG_IGN);
    // A's R links to S or S2 of B; B's Q links to T1 or T2 of A.
    TwoDatabases db;
    constexpr uint32_t kR = TwoDatabases::kR, kS1 = TwoDatabases::kS, kS2 = TwoDatabases::kS2;
    constexpr uint32_t kQ = 1500, kT1 = 1210, kT2 = 1211;
    for (uint32_t id : {kT1, kT2}) addValue(db.a, id, kName, 1, "a" + std::to_string(id));
    addValue(db.b, kQ, kName, 1, "Q");
    const std::string baseA = db.baseA, baseB = db.baseB;

    Child other([&](int in, int out) {
        ZTFile b(baseB.c_str());
        if (b.open(3, false) != 3) _exit(2);
        answer(out, 'r');
        if (await(in) != 'g') _exit(2);
        if (!writeValue(out, moveLinks(b, kQ, kT1, kT2, kRounds))) _exit(2);
    });
    ASSERT_EQ(other.receive(), 'r');
    ZTFile& a = db.a;
    other.send('g');
    EXPECT_EQ(moveLinks(a, kR, kS1, kS2, kRounds), 0);
    EXPECT_EQ(other.receiveValue<int>(-1), 0);

    // The last round linked to the second target: it holds the one back value, the first none.
    ZTFile& b = db.b;
    // Read what the other process wrote through fresh handles.
    for (ZTFile* f : {&a, &b}) ASSERT_EQ(f->open(3, false), 3u);
    EXPECT_EQ(textsOf(a, kR, kTags), std::vector<std::string>{externalText(kRef, kS2)});
    EXPECT_EQ(textsOf(b, kQ, kTags), std::vector<std::string>{externalText(kRef, kT2)});
    EXPECT_EQ(textsOf(b, kS2, 35), std::vector<std::string>{externalText(kRef, kR)});
    EXPECT_EQ(textsOf(a, kT2, 35), std::vector<std::string>{externalText(kRef, kQ)});
    EXPECT_TRUE(textsOf(b, kS1, 35).empty());
    EXPECT_TRUE(textsOf(a, kT1, 35).empty());
    db.expectBothSound();
}

}  // namespace
