// A long locked check gives the lock up every 2 seconds: another process gets it, writes, and
// what it wrote survives the rest of the check.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

#include "date_order_pin.h"
#include "maintenance_helpers.h"
#include "xbase/child_process.h"
#include "ztrec_helpers.h"

namespace {

// Tells the writer to go at the first report of the check, then slows the check down (10 ms a
// unit) until the writer says it wrote, so that the check outlasts a few of its yields.
struct Pacer {
    Child* writer;
    int reports = 0;
    bool sent = false;
    bool wroteDuringCheck = false;
    static uint32_t callback(uint32_t code, uintptr_t, uintptr_t, void* context) {
        auto* self = static_cast<Pacer*>(context);
        if (code != kZTCodeProgress || ++self->reports < 2) return 0;  // 1: the tag rebuild
        if (!self->sent) {
            self->writer->send('g');
            self->sent = true;
        }
        if (!self->wroteDuringCheck) {
            if (self->writer->ready()) {
                self->wroteDuringCheck = self->writer->receive() == 'w';
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return 0;
    }
};

}  // namespace

TEST(ZTMaintenanceProcesses, AnotherProcessWritesDuringALongCheckAndItsRowsSurvive) {
    DateOrderPin pin(false);
    TempDir dir;
    const std::string base = writePackable(dir, 600);
    Child writer([&](int in, int out) {
        ZTFile file(base.c_str());
        if (file.open(3, false) != 3) _exit(2);
        answer(out, 'r');
        if (await(in) != 'g') _exit(2);
        // Waits for the lock the check holds, a try every 100 ms.
        if (addValue(file, 1004, 1002, 1, "written meanwhile") == 0) _exit(3);
        answer(out, 'w');
        (void)await(in);
    });
    ASSERT_EQ(writer.receive(), 'r');
    Pacer pacer{&writer};
    {
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
        ZTMaintenance job(&file, false, false, true, false, 1);
        ASSERT_TRUE(job.start(&Pacer::callback, &pacer));
        EXPECT_FALSE(job.hasFailed());
    }
    EXPECT_TRUE(pacer.wroteDuringCheck);
    writer.send('e');
    const dbcheck::Report after = dbcheck::checkDatabase(base);
    EXPECT_TRUE(after.sound()) << after.text();
    const auto rows = rowsOf(after, 1004, 1002);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(textOf(after, rows.back().e), "written meanwhile");
}
