#pragma once
// Test helpers for locks: the byte ranges the system shows as locked on a
// file (from /proc/locks), and data files of either lock scheme.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/share_mode.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/table4.h"

struct LockRange {
    int64_t first, last;  // inclusive, as /proc/locks shows them
    bool operator==(const LockRange& o) const { return first == o.first && last == o.last; }
    bool operator<(const LockRange& o) const { return first < o.first; }
};

inline std::ostream& operator<<(std::ostream& out, const LockRange& r) {
    return out << std::hex << "[0x" << r.first << ", 0x" << r.last << "]" << std::dec;
}

// One reading of /proc/locks, the entries on inode `inode`.
inline std::vector<LockRange> readLocksOn(const std::string& inode) {
    std::vector<LockRange> out;
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, kind, mode, access, pid, where, first, last;
        fields >> id >> kind;
        if (kind == "->") continue;  // a waiter, not a holder
        fields >> mode >> access >> pid >> where >> first >> last;
        if (where.size() < inode.size() ||
            where.compare(where.size() - inode.size(), inode.size(), inode) != 0)
            continue;
        LockRange r{std::stoll(first), last == "EOF" ? INT64_MAX : std::stoll(last)};
        if (r.first < qv::kShareMarkerBase) out.push_back(r);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The byte-range locks held on `path` by anybody, share-mode markers left out.
// The system hands /proc/locks out a page at a time, and locks that other
// processes take or drop between two pages shift the lines, so one reading
// may show a line twice or miss it: the file is read until two readings agree.
inline std::vector<LockRange> systemLocks(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    const std::string inode = ":" + std::to_string(st.st_ino);
    std::vector<LockRange> last = readLocksOn(inode);
    for (int tries = 0; tries < 20; ++tries) {
        std::vector<LockRange> again = readLocksOn(inode);
        if (again == last) break;
        last = std::move(again);
    }
    return last;
}

// Two fields: a plain file gets a 97-byte header and 20-byte records.
inline const field4def kLockFields[] = {
    {"NAME", 'C', 10, 0, 0}, {"AMOUNT", 'N', 9, 0, 0}, {nullptr, 0, 0, 0, 0}};

// Makes a data file with no records: version 0x30 when `v30`, and `flags` as
// its header flags byte. Returns its path.
inline std::string makeLockTable(const TempDir& dir, const char* name, bool v30,
                                 uint8_t flags = 0) {
    std::string path = dir.file(name);
    env4 env;
    (void)env4init(&env, env4version);
    env.compatibility = v30 ? 30 : 0;
    if (table4* t = table4create(&env, path.c_str(), kLockFields, nullptr)) (void)table4close(t);
    (void)env4release(&env);
    if (flags != 0) {
        std::string bytes = readWhole(path);
        bytes[28] = static_cast<char>(flags);
        writeWhole(path, bytes);
    }
    return path;
}

// An environment for lock tests (production indexes are not opened) and a
// folder for their files.
class LockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(env4init(&env, env4version), 0);
        env.autoOpen = 0;
    }
    void TearDown() override {
        env.errorCode = 0;
        (void)env4closeAll(&env);
        EXPECT_EQ(env4release(&env), 0);
    }
    env4 env;
    TempDir dir;
};
