// Packs and maintenance killed in the middle: a child process packs (or maintains) a database
// and ends at its Nth write, whole or cut in half, for many N up to a run that completes. The
// next opener (or a process that had the database open all along, at its next lock) finds every
// record as it was and the checker clean.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "date_order_pin.h"
#include "maintenance_helpers.h"
#include "xbase/child_process.h"
#include "xbase/temp_dir.h"
#include "ztrec_helpers.h"

namespace {

// What must survive: the live rows, and the text of every value they hold.
struct Content {
    std::multiset<RowImage> rows;
    std::multiset<std::string> texts;
    bool operator==(const Content& o) const { return rows == o.rows && texts == o.texts; }
};

Content contentOf(const dbcheck::Report& report) {
    Content c;
    for (const dbcheck::StoredRow& r : report.rows) {
        if (r.deleted || r.a == 0) continue;
        c.rows.insert(imageOf(r));
        if (!(r.f & 0x80)) c.texts.insert(textOf(report, r.e));
    }
    return c;
}

// Runs `work` in a child that ends at its nth write (half of it when asked): the child's exit
// code, file4exitCode when the write came, 0 when the work was done before it.
int runUntilWrite(const std::string& base, int nth, bool half,
                  const std::function<bool(ZTFile&)>& work) {
    const pid_t pid = fork();
    if (pid == 0) {
        ZTFile file(base.c_str());
        if (file.open(3, false) != 3) _exit(2);
        // Small transfers: many more writes at which to end.
        file.getEnv()->bufferGroupSize = 1024;
        file4exitAtWrite(0, nth, half);
        const bool ok = work(file);
        file4exitAtWrite(0, 0, false);
        _exit(ok ? 0 : 3);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Kills the work at write 1, 2, 3 ... (sparser further on) until a run completes; after each
// kill the database is opened with verify and compared, then maintained (check only) and
// compared again.
void killAtEveryWrite(const std::function<bool(ZTFile&)>& work) {
    DateOrderPin pin(false);
    bool completed = false;
    int kills = 0;
    for (int step = 0; !completed && step < 400; ++step) {
        // Each write whole and cut in half, then every few writes.
        const int nth = step < 40 ? step / 2 + 1 : 21 + (step - 40) * 3;
        const bool half = step % 2 == 1;
        SCOPED_TRACE("write " + std::to_string(nth) + (half ? " cut in half" : ""));
        TempDir dir;
        const std::string base = writePackable(dir, 400);
        const Content before = contentOf(dbcheck::checkDatabase(base));
        const int code = runUntilWrite(base, nth, half, work);
        ASSERT_TRUE(code == 0 || code == file4exitCode) << code;
        completed = code == 0;
        kills += code == file4exitCode;
        {
            ZTFile file(base.c_str());
            ASSERT_EQ(file.open(3, true) & 3, 3u);
            EXPECT_FALSE(file.hasPackCopy());
        }
        // Sound as soon as it is opened again, and so after a check as well.
        for (bool checked : {false, true}) {
            if (checked) {
                EXPECT_TRUE(maintain(base, false, true, false).started);
            }
            const dbcheck::Report after = dbcheck::checkDatabase(base);
            ASSERT_TRUE(after.sound()) << after.text();
            ASSERT_TRUE(contentOf(after) == before) << "records changed";
        }
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(kills, 10);
}

}  // namespace

TEST(ZTFilePackProcesses, APackKilledAtAnyWriteLosesNothing) {
    killAtEveryWrite([](ZTFile& file) { return file.pack(); });
}

TEST(ZTFilePackProcesses, MaintenanceKilledAtAnyWriteLosesNothing) {
    killAtEveryWrite([](ZTFile& file) {
        ZTMaintenance job(&file, false, true, true, false, 1);
        return job.start(nullptr, nullptr) && !job.hasFailed();
    });
}

// A process that had the database open while another's pack was killed puts the files back at
// its next lock, before its own write, and the write stays.
TEST(ZTFilePackProcesses, AnotherOpenerRestoresAtItsNextLock) {
    DateOrderPin pin(false);
    TempDir dir;
    const std::string base = writePackable(dir, 400);
    const Content before = contentOf(dbcheck::checkDatabase(base));
    ZTFile mine(base.c_str());
    ASSERT_EQ(mine.open(3, false), 3u);
    ASSERT_EQ(runUntilWrite(base, 6, true, [](ZTFile& f) { return f.pack(); }), file4exitCode);
    ASSERT_TRUE(mine.hasPackCopy());
    ASSERT_NE(addValue(mine, 1004, 1002, 2, "written after the kill"), 0u);
    EXPECT_FALSE(mine.hasPackCopy());
    mine.close();
    const dbcheck::Report after = dbcheck::checkDatabase(base);
    ASSERT_TRUE(after.sound()) << after.text();
    Content now = contentOf(after);
    EXPECT_EQ(now.rows.size(), before.rows.size() + 1);
    EXPECT_EQ(now.texts.count("written after the kill"), 1u);
}
