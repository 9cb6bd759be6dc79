#pragma once
// Test helper: an index file whose tags start empty, made by hand (index_image.h) and
// opened without a data file, so that the tag functions can be driven with raw keys; plus
// walks of a tag in both directions and the structural check of the whole file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "index_image.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/index4.h"
#include "xbase/index4check.h"
#include "xbase/tag4.h"

using TreeEntry = std::pair<std::string, uint32_t>;  // key bytes, record number

class TreeFile {
  public:
    // Tags named in `tags` (their entries are ignored: every tag starts empty). `numeric`
    // names the tags whose keys are ordered doubles.
    TreeFile(std::vector<IndexImageTag> tags, uint32_t records, int accessMode = 1,
             std::vector<std::string> numeric = {})
        : numeric_(std::move(numeric)), records_(records) {
        (void)env4init(&env, env4version);
        env.accessMode = int8_t(accessMode);
        env.lockAttempts = 1;
        for (IndexImageTag& t : tags) t.entries.clear();
        path = dir.file("tree.cdx");
        writeImage(path, buildIndexImage(tags, records).bytes);
        open();
    }
    ~TreeFile() {
        close();
        (void)env4release(&env);
    }
    TreeFile(const TreeFile&) = delete;
    TreeFile& operator=(const TreeFile&) = delete;

    void open() {
        file = index4fileOpen(&env, nullptr, path.c_str(), nullptr);
        ASSERT_NE(file, nullptr) << "open failed: " << env.errorCode;
        file->recordCount = records_;
        for (const std::string& name : numeric_) tag4fileSetType(tag(name.c_str()), 'N');
    }
    void close() {
        if (file != nullptr) {
            EXPECT_EQ(index4fileClose(file), 0);
        }
        file = nullptr;
    }
    void reopen() {
        close();
        open();
    }
    tag4file* tag(const char* name) { return index4fileTag(file, name); }
    bool isNumeric(const std::string& name) const {
        for (const std::string& n : numeric_)
            if (n == name) return true;
        return false;
    }

    // Writes everything back, then checks the whole file.
    index4checkReport check() {
        EXPECT_EQ(index4update(file), 0);
        index4checkOptions options;
        for (const std::string& name : numeric_) options.pads[name] = 0;
        index4checkReport report;
        EXPECT_EQ(index4checkFile(path.c_str(), &report, options), 0);
        return report;
    }

    env4 env{};
    TempDir dir;
    std::string path;
    index4file* file = nullptr;

  private:
    std::vector<std::string> numeric_;
    uint32_t records_;
};

inline std::string problemsOf(const index4checkReport& report) {
    std::string all;
    for (const std::string& p : report.problems) all += p + "\n";
    return all;
}

inline std::string keyText(const uint8_t* key, int length) {
    return std::string(reinterpret_cast<const char*>(key), size_t(length));
}

// Every entry of a tag in stored order, walked forward from the top (or backward from the
// bottom, given back in stored order). Stops after `limit` steps: a walk that runs on is a
// fault in itself.
inline std::vector<TreeEntry> walk(tag4file* tag, bool backward = false, size_t limit = 10000000) {
    std::vector<TreeEntry> out;
    const int32_t start = backward != (tag->descending != 0) ? tag4bottom(tag) : tag4top(tag);
    if (start != 0) return out;
    for (;;) {
        const uint8_t* key = tag4key(tag);
        if (key == nullptr) break;
        out.emplace_back(keyText(key, tag->keyLength), uint32_t(tag4recordNumber(tag)));
        if (out.size() > limit) break;
        if (tag4skip(tag, backward ? -1 : 1) != (backward ? -1 : 1)) break;
    }
    if (backward) std::reverse(out.begin(), out.end());
    return out;
}

inline std::vector<TreeEntry> entriesOf(const index4checkTag& tag) {
    std::vector<TreeEntry> out;
    for (const index4checkEntry& e : tag.entries) out.emplace_back(e.key, e.record);
    return out;
}

inline const index4checkTag* reportTag(const index4checkReport& report, const std::string& name) {
    for (const index4checkTag& t : report.tags)
        if (t.name == name) return &t;
    return nullptr;
}
