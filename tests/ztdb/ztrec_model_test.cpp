// Random row operations against an in-memory model: new values, edits in place, shared values
// (link rows), deleted rows and deleted records, with long, accented, numeric and date texts and
// bytes 1 and 2 inside. Reads agree with the model after every step; every 500 steps the
// database is closed, checked on disk and opened again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "date_order_pin.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kFirstRecord = 1001;
constexpr uint32_t kRecords = 40;
constexpr uint32_t kFirstType = 1101;
constexpr uint32_t kTypes = 4;

struct ModelRow {
    uint32_t record, type, position;
    bool link;
    uint32_t value;  // the value number (for a link, its owner's)
};

// The texts a value may have.
std::string randomText(std::mt19937& rng) {
    static const char* const words[] = {"Berlin", "\311lan", "na\357ve", "\306ther", "Zo\353",
                                        "Oslo",   "\374ber", "abc",      "ABC",      "a-b c"};
    switch (rng() % 9) {
        case 0:
            return std::to_string(int(rng() % 20000) - 10000) + (rng() % 2 ? ".5" : "");
        case 1:
            return std::to_string(1 + rng() % 28) + "/" + std::to_string(1 + rng() % 12) + "/" +
                   std::to_string(1900 + rng() % 200);
        case 2: {  // long, across many chunks
            std::string t;
            size_t n = 30 + rng() % (rng() % 8 ? 300 : 3000);
            while (t.size() < n) t += words[rng() % 10] + std::string(" ");
            return t.substr(0, n);
        }
        case 3:
            return std::string("x\001y\002z") + words[rng() % 10];
        case 4:
            return std::string("\001\001") + words[rng() % 10];  // stored without the 1s
        case 5:
            return std::string("\002") + words[rng() % 10];
        case 6:
            return "";
        default:
            return std::string(words[rng() % 10]) + " " + std::to_string(rng() % 100);
    }
}

// What a text reads back as: a plain text loses its leading bytes 1.
std::string storedForm(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == 1) ++i;
    return text.substr(i);
}

class RowModel {
  public:
    RowModel(NewDatabase& db, uint32_t seed) : db_(db), rng_(seed) {}

    void step() {
        const unsigned op = rows_.empty() ? 0 : rng_() % 10;
        if (op < 4)
            addValue();
        else if (op < 6)
            edit();
        else if (op < 8)
            share();
        else if (op < 9)
            deleteRow();
        else
            deleteRecord();
    }

    // The rows of a record in record order agree with the model.
    void verifyRecord(uint32_t record) {
        std::vector<std::tuple<uint32_t, uint32_t, bool, uint32_t, std::string>> got, want;
        ZTRec rec(&db_.file);
        for (int r = rec.seek(record, 0, 0, ""); r == 0; r = rec.skip(1))
            got.emplace_back(rec.typeID, rec.position, rec.isLinkRow(), rec.valueID,
                             chainText(db_.file, rec.valueID));
        for (const ModelRow& m : rows_)
            if (m.record == record)
                want.emplace_back(m.type, m.position, m.link, m.value, texts_.at(m.value));
        std::sort(want.begin(), want.end());
        ASSERT_EQ(got, want) << "record " << record << " after step " << steps_;
    }

    void verifyAll() {
        for (uint32_t r = kFirstRecord; r < kFirstRecord + kRecords; ++r) verifyRecord(r);
        // Value order: exactly the model's rows of each type, keys ascending.
        for (uint32_t type = kFirstType; type < kFirstType + kTypes; ++type) {
            std::multiset<std::pair<uint32_t, uint32_t>> got, want;
            std::string last;
            for (const WalkedRow& w : typeWalk(db_.file, type)) {
                got.insert({w.record, w.position});
                ASSERT_LE(last, w.key) << "type " << type;
                last = w.key;
            }
            for (const ModelRow& m : rows_)
                if (m.type == type) want.insert({m.record, m.position});
            ASSERT_EQ(got, want) << "type " << type << " after step " << steps_;
        }
    }

    uint32_t steps_ = 0;
    uint32_t touched_ = 0;

  private:
    uint32_t nextPosition(uint32_t record, uint32_t type) const {
        uint32_t p = 0;
        for (const ModelRow& m : rows_)
            if (m.record == record && m.type == type) p = std::max(p, m.position);
        return p + 1;
    }

    ModelRow* pick(bool ownersOnly) {
        std::vector<ModelRow*> from;
        for (ModelRow& m : rows_)
            if (!ownersOnly || !m.link) from.push_back(&m);
        return from.empty() ? nullptr : from[rng_() % from.size()];
    }

    // Positions the cursor on the model row's row.
    void find(ZTRec& rec, const ModelRow& m) {
        ASSERT_EQ(rec.seek(m.record, m.type, m.position, ""), 0);
        ASSERT_EQ(rec.typeID, m.type);
        ASSERT_EQ(rec.position, m.position);
        ASSERT_EQ(rec.valueID, m.value);
    }

    void addValue() {
        const uint32_t record = kFirstRecord + rng_() % kRecords;
        const uint32_t type = kFirstType + rng_() % kTypes;
        const std::string text = randomText(rng_);
        const uint32_t position = nextPosition(record, type);
        const uint32_t value = ::addValue(db_.file, record, type, position, text);
        ASSERT_NE(value, 0u);
        ASSERT_EQ(texts_.count(value), 0u) << "value number " << value << " given twice";
        texts_[value] = storedForm(text);
        rows_.push_back({record, type, position, false, value});
        touched_ = record;
    }

    void edit() {
        ModelRow* m = pick(true);
        if (!m) return;
        ZTRec rec(&db_.file);
        find(rec, *m);
        const std::string text = randomText(rng_);
        ASSERT_TRUE(rec.writeValue(text.c_str()));
        ASSERT_EQ(rec.valueID, m->value);
        texts_[m->value] = storedForm(text);
        touched_ = m->record;
    }

    void share() {
        ModelRow* m = pick(true);
        if (!m) return;
        const uint32_t value = m->value;
        const uint32_t record = kFirstRecord + rng_() % kRecords;
        const uint32_t type = kFirstType + rng_() % kTypes;
        const uint32_t position = nextPosition(record, type);
        ASSERT_TRUE(addLink(db_.file, record, type, position, value));
        rows_.push_back({record, type, position, true, value});
        touched_ = record;
    }

    // The model's side of deleting a row: an owner takes its links with it.
    void forget(const ModelRow& gone) {
        const ModelRow m = gone;
        if (m.link) {
            rows_.erase(std::find_if(rows_.begin(), rows_.end(), [&](const ModelRow& r) {
                return r.record == m.record && r.type == m.type && r.position == m.position;
            }));
            return;
        }
        std::erase_if(rows_, [&](const ModelRow& r) { return r.value == m.value; });
        texts_.erase(m.value);
    }

    void deleteRow() {
        ModelRow* m = pick(false);
        if (!m) return;
        ZTRec rec(&db_.file);
        find(rec, *m);
        ASSERT_TRUE(rec.deleteRow());
        touched_ = m->record;
        forget(*m);
    }

    void deleteRecord() {
        const uint32_t record = kFirstRecord + rng_() % kRecords;
        ZTRec rec(&db_.file);
        while (rec.seek(record, 0, 0, "") == 0) {
            const ModelRow* m = nullptr;
            for (const ModelRow& r : rows_)
                if (r.record == record && r.type == rec.typeID && r.position == rec.position)
                    m = &r;
            ASSERT_NE(m, nullptr);
            ASSERT_TRUE(rec.deleteRow());
            forget(*m);
        }
        touched_ = record;
    }

    NewDatabase& db_;
    std::mt19937 rng_;
    std::vector<ModelRow> rows_;
    std::map<uint32_t, std::string> texts_;
};

void runModel(uint32_t steps, uint32_t seed) {
    DateOrderPin pin(true);
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(kFirstRecord + kRecords));
    RowModel model(db, seed);
    for (uint32_t i = 1; i <= steps; ++i) {
        model.steps_ = i;
        model.step();
        if (::testing::Test::HasFatalFailure()) return;
        model.verifyRecord(model.touched_);
        if (::testing::Test::HasFatalFailure()) return;
        if (i % 100 == 0) model.verifyAll();
        if (i % 500 == 0) {
            dbcheck::Report report = db.check(true);
            ASSERT_TRUE(report.sound()) << "step " << i << "\n" << report.text();
            model.verifyAll();
        }
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(ZTRecModel, RandomRowOperationsFollowTheModel) {
    runModel(2000, 11);
}

TEST(ZTRecModel, LONG_RandomRowOperationsFollowTheModel) {
    runModel(40000, 12);
}

}  // namespace
