// Key maintenance against a model: every tag must always hold exactly what a multiset of
// (key, record) says, in that order, walked either way, and the file must stay sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "tree_file.h"
#include "xbase/values/key4.h"

namespace {

struct ModelTag {
    std::string name;
    int keyLength;
    bool numeric;
    std::vector<std::string> pool;  // the keys records draw from (many repeats)
};

std::string doubleKey(double v) {
    uint8_t key[8];
    key4fromDouble(key, v);
    return keyText(key, 8);
}

// Keys of one tag: shared prefixes, inner blanks, trailing pads, a few all-blank keys.
std::vector<std::string> keyPool(int keyLength, size_t distinct, std::mt19937& rng) {
    std::vector<std::string> pool;
    const std::string alphabet = "AAB CDEZ";
    for (size_t i = 0; i < distinct; i++) {
        std::string text;
        if (rng() % 3 != 0) text = std::string(size_t(keyLength / 2), 'M');
        const int extra = 1 + int(rng() % uint32_t(std::max(2, keyLength / 2)));
        for (int j = 0; j < extra; j++) text += alphabet[rng() % alphabet.size()];
        if (rng() % 50 == 0) text.clear();
        pool.push_back(padKey(text, keyLength));
    }
    return pool;
}

std::vector<std::string> numberPool(size_t distinct, std::mt19937& rng) {
    std::vector<std::string> pool = {doubleKey(0.0), doubleKey(-0.0), doubleKey(-1), doubleKey(1)};
    while (pool.size() < distinct)
        pool.push_back(doubleKey(double(int(rng() % 40001) - 20000) / 8));
    return pool;
}

class Model {
  public:
    Model(TreeFile& file, std::vector<ModelTag> tags) : file_(file), tags_(std::move(tags)) {
        sets_.resize(tags_.size());
        keys_.resize(tags_.size());
    }

    void insert(uint32_t record, std::mt19937& rng) {
        insertWith(record, [&](size_t i) { return tags_[i].pool[rng() % tags_[i].pool.size()]; });
    }

    // The key of each tag from keyOf(tag index).
    template <typename KeyOf>
    void insertWith(uint32_t record, KeyOf keyOf) {
        for (size_t i = 0; i < tags_.size(); i++) {
            const std::string key = keyOf(i);
            ASSERT_EQ(tag4addKey(tag(i), key.data(), int32_t(record), 0), 0)
                << tags_[i].name << " record " << record << " code " << file_.env.errorCode
                << " at " << file_.env.errorLocation;
            sets_[i].insert({key, record});
            keys_[i][record] = key;
        }
        live_.push_back(record);
    }

    void removeRandomHalf(std::mt19937& rng) {
        std::shuffle(live_.begin(), live_.end(), rng);
        const size_t keep = live_.size() / 2;
        for (size_t n = keep; n < live_.size(); n++) removeRecord(live_[n]);
        live_.resize(keep);
    }

    // The records inserted last go first.
    void removeLast(size_t n) {
        for (; n > 0 && !live_.empty(); n--) {
            removeRecord(live_.back());
            live_.pop_back();
        }
    }

    void removeAll() {
        for (uint32_t record : live_) removeRecord(record);
        live_.clear();
    }

    // Forward and backward walks equal the model; the checker finds the file sound and reads
    // the same entries.
    void verify(const char* phase, bool withIndexDump = false) {
        SCOPED_TRACE(phase);
        for (size_t i = 0; i < tags_.size(); i++) {
            SCOPED_TRACE(tags_[i].name);
            const std::vector<TreeEntry> expected(sets_[i].begin(), sets_[i].end());
            ASSERT_EQ(walk(tag(i)), expected);
            ASSERT_EQ(walk(tag(i), true), expected);
        }
        const index4checkReport report = file_.check();
        ASSERT_EQ(problemsOf(report), "");
        for (size_t i = 0; i < tags_.size(); i++) {
            const index4checkTag* t = reportTag(report, tags_[i].name);
            ASSERT_NE(t, nullptr);
            const std::vector<TreeEntry> expected(sets_[i].begin(), sets_[i].end());
            ASSERT_EQ(entriesOf(*t), expected);
            // Two-entry branches are kept full enough that the tree stays shallow.
            EXPECT_LE(t->levels, 24) << tags_[i].name;
            if (withIndexDump) {
                EXPECT_EQ(indexDumpDifference(file_.path, *t, tags_[i].numeric), "");
            }
        }
    }

  private:
    tag4file* tag(size_t i) { return file_.tag(tags_[i].name.c_str()); }

    void removeRecord(uint32_t record) {
        for (size_t i = 0; i < tags_.size(); i++) {
            const std::string key = keys_[i][record];
            ASSERT_EQ(tag4removeKey(tag(i), key.data(), int32_t(record)), 0)
                << tags_[i].name << " record " << record;
            sets_[i].erase(sets_[i].find({key, record}));
            keys_[i].erase(record);
        }
    }

    TreeFile& file_;
    std::vector<ModelTag> tags_;
    std::vector<std::multiset<TreeEntry>> sets_;
    std::vector<std::map<uint32_t, std::string>> keys_;  // per tag: record -> key
    std::vector<uint32_t> live_;
};

std::vector<IndexImageTag> imagesOf(const std::vector<ModelTag>& tags) {
    std::vector<IndexImageTag> images;
    for (const ModelTag& t : tags) {
        IndexImageTag image;
        image.name = t.name;
        image.keyLength = t.keyLength;
        image.pad = t.numeric ? 0 : ' ';
        images.push_back(image);
    }
    return images;
}

void modelRun(uint32_t count, int accessMode, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<ModelTag> tags = {
        {"SHORT", 5, false, keyPool(5, count / 8 + 2, rng)},
        {"MIDDLE", 38, false, keyPool(38, count / 6 + 2, rng)},
        {"LONG", 240, false, keyPool(240, count / 10 + 2, rng)},
        {"AMOUNT", 8, true, numberPool(count / 10 + 4, rng)},
    };
    TreeFile file(imagesOf(tags), count, accessMode, {"AMOUNT"});
    if (accessMode == 0) {
        ASSERT_EQ(index4lock(file.file, 1), 0);
    }
    Model model(file, tags);
    uint32_t record = 0;
    while (record < count) model.insert(++record, rng);
    model.verify("inserted");
    model.removeRandomHalf(rng);
    model.verify("half removed");
    while (record < count + count / 2) model.insert(++record, rng);
    model.verify("inserted again", true);
    if (accessMode == 0) {
        ASSERT_EQ(index4unlock(file.file, 1), 0);
    }
    file.reopen();
    if (accessMode == 0) {
        ASSERT_EQ(index4lock(file.file, 1), 0);
    }
    model.verify("reopened");
}

// Keys added mostly in order, as record numbers and new value numbers are: past the last entry
// (equal keys by record number, keys alike but for their trailing pads), with now and then a
// key that goes back into the tree and the last entries removed again.
void appendRun(uint32_t count, int accessMode, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<ModelTag> tags = {
        {"SHORT", 5, false, keyPool(5, count / 8 + 2, rng)},
        {"MIDDLE", 38, false, keyPool(38, count / 6 + 2, rng)},
        {"AMOUNT", 8, true, numberPool(count / 10 + 4, rng)},
    };
    for (ModelTag& t : tags) std::sort(t.pool.begin(), t.pool.end());
    TreeFile file(imagesOf(tags), count, accessMode, {"AMOUNT"});
    if (accessMode == 0) {
        ASSERT_EQ(index4lock(file.file, 1), 0);
    }
    Model model(file, tags);
    for (uint32_t record = 1; record <= count; record++) {
        const bool back = rng() % 20 == 0;
        model.insertWith(record, [&](size_t i) {
            const std::vector<std::string>& pool = tags[i].pool;
            return pool[back ? rng() % pool.size() : size_t(record) * pool.size() / (count + 1)];
        });
        if (record % 97 == 0) model.removeLast(3);
    }
    model.verify("appended", true);
    if (accessMode == 0) {
        ASSERT_EQ(index4unlock(file.file, 1), 0);
    }
}

TEST(TagModel, KeysAddedInOrderFollowTheModel) {
    appendRun(20000, 1, 4);
    appendRun(3000, 0, 5);
}

TEST(TagModel, ExclusiveFileFollowsTheModel) {
    modelRun(20000, 1, 1);
}

TEST(TagModel, SharedFileUnderTheLockFollowsTheModel) {
    modelRun(3000, 0, 2);
}

TEST(TagModel, LONG_HundredThousandRecordsFollowTheModel) {
    modelRun(100000, 1, 3);
}

}  // namespace
