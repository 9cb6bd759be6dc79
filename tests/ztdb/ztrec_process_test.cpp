// Rows between processes: a reader walks a field in value order again and again, without a
// lock, while another process appends values to it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>

#include "date_order_pin.h"
#include "writer_child.h"
#include "xbase/child_process.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kField = 1001;

std::string valueText(uint32_t n) {
    // Spread over the order, some of them long enough to take several chunks.
    std::string text = std::to_string((n * 7919u) % 10007u) + " v" + std::to_string(n);
    if (n % 5 == 0) text += std::string(40 + n % 50, 'x');
    return text;
}

// A pass over the field: its rows, or -1 when a read failed, a key went backwards or a value did
// not read back as its key says.
int walkField(ZTFile& file) {
    ZTRec rec(&file);
    std::string last;
    int rows = 0;
    char key[64];
    for (int r = rec.seekInType(kField, "", false, false, false); r == 0;
         r = rec.skipInType(1, false, false)) {
        const char* d = rec.rowKey();
        if (!d) return -1;
        std::string now(d, 30);
        if (now < last) return -1;
        last = now;
        ZTStr text;
        if (!rec.readChain(rec.valueID, &text)) return -1;
        file.makeKey(text.text, key, false, false, false, false);
        if (std::memcmp(key, d, 30) != 0) return -1;
        if (++rows > 100000) return -1;  // a pass that never ends
    }
    return rec.readFailed() ? -1 : rows;
}

TEST(ZTRecProcesses, AReaderWalksAFieldWhileAWriterAppends) {
    DateOrderPin pin(false);
    signal(SIGPIPE, SIG_IGN);  // a writer that stopped early is reported, not fatal
    NewDatabase db(3, true);
    ASSERT_TRUE(ZTRec(&db.file).setCounter(100000));
    constexpr uint32_t kFirst = 200;
    for (uint32_t n = 0; n < kFirst; ++n)
        ASSERT_NE(addValue(db.file, 1001 + n, kField, 1, valueText(n)), 0u);

    // The writer appends until told to stop, then reports how many it wrote.
    Child writer([&](int in, int out) {
        writeUntilStopped(db.base, in, out, 20000, [&](ZTFile& mine, uint32_t written) {
            const uint32_t n = kFirst + written;
            return addValue(mine, 1001 + n, kField, 1, valueText(n)) != 0;
        });
    });
    ASSERT_EQ(writer.receive(), 'r');

    int passes = 0, passesWhileWriting = 0, last = int(kFirst);
    const auto start = std::chrono::steady_clock::now();
    while (passesWhileWriting < 20 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
        const int rows = walkField(db.file);
        ASSERT_GE(rows, last) << "pass " << passes;
        if (rows > int(kFirst)) ++passesWhileWriting;
        last = rows;
        ++passes;
    }
    writer.send('s');
    const uint32_t written = writer.receiveValue<uint32_t>(0);
    EXPECT_GE(passesWhileWriting, 20);
    EXPECT_GT(written, 0u);
    EXPECT_EQ(walkField(db.file), int(kFirst + written));
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

}  // namespace
