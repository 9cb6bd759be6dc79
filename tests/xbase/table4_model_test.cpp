// A table with three tags (character, numeric, unique character) driven by random
// operations and compared after each with an in-memory model: appends (some refused as
// duplicates), writes with and without key changes, deletes and recalls, skips, exact and
// partial seeks, top and bottom in every order. Every 1,000 operations the table is closed
// and opened again, the index file is checked whole and each tag is compared with the
// model, as read here and by index_dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index_image.h"
#include "people_table.h"
#include "xbase/tag4.h"

namespace {

const char* const kTagNames[] = {"", "NAME", "AMOUNT", "CODE"};  // 0: record order

struct Row {
    Person person;
    bool deleted = false;
};

struct Expect {
    int32_t rc;
    int32_t recNum;
    bool bof, eof;
};

// The table as the tests expect it: the rows, and each tag's entries as an ordered set of
// (key, record number), kept up to date as rows change.
class Model {
  public:
    std::vector<Row> rows;
    int32_t cur = -1;
    bool bof = false, eof = false;
    int tag = 0;  // index into kTagNames

    int32_t count() const { return int32_t(rows.size()); }

    static std::string upper(std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        return s;
    }
    static std::string padded(std::string s, size_t n) {
        s.resize(n, ' ');
        return s;
    }
    static double amountKey(double amount) { return c4atodN(amountText(amount).c_str(), 9); }
    // The key of a person in the character tag `which` (1 NAME, 3 CODE).
    static std::string keyOf(int which, const Person& p) {
        return which == 1 ? padded(upper(p.name), 12) : padded(p.code, 6);
    }

    void append(const Person& p) {
        rows.push_back({p, false});
        enter(count());
    }
    void change(int32_t r, const Person& p) {
        leave(r);
        rows[size_t(r - 1)].person = p;
        enter(r);
    }
    bool codeTaken(const std::string& code, int32_t except) const {
        auto it = text_[2].lower_bound({padded(code, 6), 0});
        for (; it != text_[2].end() && it->first == padded(code, 6); ++it)
            if (it->second != except) return true;
        return false;
    }
    // Record numbers in the order of tag `which` (0: record order).
    std::vector<int32_t> order(int which) const {
        std::vector<int32_t> out;
        if (which == 0)
            for (int32_t r = 1; r <= count(); ++r) out.push_back(r);
        else if (which == 2)
            for (const auto& e : amounts_) out.push_back(e.second);
        else
            for (const auto& e : text_[which == 1 ? 0 : 2]) out.push_back(e.second);
        return out;
    }

    Expect at(int32_t rc, int32_t r) {
        cur = r;
        bof = rc == r4bof;
        eof = false;
        return {rc, cur, bof, eof};
    }
    Expect atEof() {
        cur = count() + 1;
        eof = true;
        bof = count() == 0;
        return {r4eof, cur, bof, eof};
    }
    Expect top() {
        if (rows.empty()) return atEof();
        return at(0, recordAt(0));
    }
    Expect bottom() {
        if (rows.empty()) return atEof();
        return at(0, recordAt(count() - 1));
    }
    Expect skip(int32_t n) {
        if (rows.empty()) return atEof();
        int64_t pos;
        if (eof) {
            if (n >= 0) return {r4eof, cur, bof, eof};
            pos = count() - 1;
            n += 1;
        } else {
            // In a tag a skip of 0 stays as it is; in record order it reads the record again.
            if (n == 0 && tag != 0) return {0, cur, bof, eof};
            pos = rank(cur);
        }
        const int64_t target = pos + n;
        if (target >= count()) return atEof();
        if (target < 0) return at(r4bof, recordAt(0));
        return at(0, recordAt(target));
    }
    // A seek in the seek tag (the selected one, else AMOUNT: the first by name).
    Expect seek(const std::string& text) {
        const int which = tag != 0 ? tag : 2;
        if (which == 2) {
            const double v = c4atodN(text.c_str(), int32_t(text.size()));
            auto it = amounts_.lower_bound({v, 0});
            if (it == amounts_.end()) return atEof();
            return at(it->first == v ? 0 : r4after, it->second);
        }
        const auto& set = text_[which == 1 ? 0 : 2];
        auto it = set.lower_bound({text, 0});
        if (it == set.end()) return atEof();
        return at(it->first.compare(0, text.size(), text) == 0 ? 0 : r4after, it->second);
    }

  private:
    using TextSet = std::set<std::pair<std::string, int32_t>>;
    TextSet text_[3];  // NAME, unused, CODE
    std::set<std::pair<double, int32_t>> amounts_;

    void enter(int32_t r) {
        const Person& p = rows[size_t(r - 1)].person;
        text_[0].insert({keyOf(1, p), r});
        text_[2].insert({keyOf(3, p), r});
        amounts_.insert({amountKey(p.amount), r});
    }
    void leave(int32_t r) {
        const Person& p = rows[size_t(r - 1)].person;
        text_[0].erase({keyOf(1, p), r});
        text_[2].erase({keyOf(3, p), r});
        amounts_.erase({amountKey(p.amount), r});
    }
    // The position of record r in the current order, and the record at a position;
    // steps are short, so walking the set is cheap enough.
    int64_t rank(int32_t r) const {
        if (tag == 0) return r - 1;
        const Person& p = rows[size_t(r - 1)].person;
        if (tag == 2)
            return std::distance(amounts_.begin(), amounts_.find({amountKey(p.amount), r}));
        const TextSet& set = text_[tag == 1 ? 0 : 2];
        return std::distance(set.begin(), set.find({keyOf(tag, p), r}));
    }
    int32_t recordAt(int64_t pos) const {
        if (tag == 0) return int32_t(pos + 1);
        if (tag == 2) return std::next(amounts_.begin(), pos)->second;
        return std::next(text_[tag == 1 ? 0 : 2].begin(), pos)->second;
    }
};

class TableModel : public PeopleTest {
  protected:
    std::mt19937 rng{20240601};

    int pick(int n) { return int(rng() % uint32_t(n)); }
    std::string randomText(const char* alphabet, int minLength, int maxLength) {
        const int n = minLength + pick(maxLength - minLength + 1);
        const size_t a = std::strlen(alphabet);
        std::string s;
        for (int i = 0; i < n; ++i) s += alphabet[pick(int(a))];
        return s;
    }
    Person randomPerson(const Model& m) {
        Person p;
        p.name = randomText("aBcDeF", 1, 6);
        p.amount = double(pick(100001) - 50000) / 100.0;
        // Now and then a code that another record holds already.
        if (!m.rows.empty() && pick(10) == 0)
            p.code = m.rows[size_t(pick(m.count()))].person.code;
        else
            p.code = randomText("ABCDEFGHJK0123456789", 5, 5);
        p.note = randomText("xyz", 0, 8);
        return p;
    }

    void compare(table4* t, const Model& m, const Expect& e, int32_t rc, int step,
                 const char* what) {
        SCOPED_TRACE(std::string(what) + " at step " + std::to_string(step));
        ASSERT_EQ(rc, e.rc);
        ASSERT_EQ(t->recNum, e.recNum);
        ASSERT_EQ(t->bof != 0, e.bof);
        ASSERT_EQ(t->eof != 0, e.eof);
        if (e.recNum >= 1 && e.recNum <= m.count() && rc != r4unique) {
            const Row& row = m.rows[size_t(e.recNum - 1)];
            ASSERT_EQ(personOf(t), row.person);
            ASSERT_EQ(table4isDeleted(t), row.deleted ? 1 : 0);
        }
    }

    // Close, open again, check the file whole and each tag against the model.
    table4* checkpoint(table4* t, Model& m, bool withIndexDump, int8_t accessMode) {
        EXPECT_EQ(table4close(t), 0);
        t = open("people", accessMode);
        if (t == nullptr) return nullptr;
        const std::string path = indexPath(t);
        const index4checkReport report = checkIndex(path);
        EXPECT_EQ(problemsOf(report), "");
        for (int which = 1; which <= 3; ++which) {
            const index4checkTag* tag = reportTag(report, kTagNames[which]);
            EXPECT_NE(tag, nullptr);
            if (tag == nullptr) continue;
            std::vector<int32_t> records;
            for (const index4checkEntry& e : tag->entries) records.push_back(int32_t(e.record));
            EXPECT_EQ(records, m.order(which)) << kTagNames[which];
            if (withIndexDump) {
                EXPECT_EQ(indexDumpDifference(path, *tag, which == 2), "");
            }
        }
        EXPECT_EQ(table4recordCount(t), m.count());
        // Carry on from the same place in the same order.
        table4selectTag(t, m.tag != 0 ? table4findTag(t, kTagNames[m.tag]) : nullptr);
        if (m.cur >= 1 && m.cur <= m.count() && !m.eof)
            EXPECT_EQ(table4go(t, m.cur), 0);
        else
            compare(t, m, m.top(), table4goTop(t), -1, "top after reopening");
        m.bof = false;
        return t;
    }

    // `accessMode` 0 runs the table shared: every write and append locks, and the index
    // files are written whenever their locks go.
    void run(int operations, int dumpEvery, int8_t accessMode) {
        table4* t = create("people", accessMode);
        ASSERT_NE(t, nullptr);
        env.errGo = 0;
        env.uniqueDefault = r4unique;  // CODE refuses duplicates after reopening too
        Model m;
        for (int step = 0; step < operations; ++step) {
            // Operations that need a current record start from the top without one.
            const bool current = m.cur >= 1 && m.cur <= m.count() && !m.eof;
            int op = pick(100);
            if (!current && op >= 35 && op < 80) op = 90;
            if (m.rows.size() < 5) op = 0;
            if (op < 20) {  // append
                const Person p = randomPerson(m);
                const int32_t rc = appendPerson(t, p);
                Expect e;
                if (m.codeTaken(p.code, 0)) {
                    e = {r4unique, 0, false, false};
                    m.cur = 0;
                    m.bof = m.eof = false;
                } else {
                    m.append(p);
                    e = m.at(0, m.count());
                }
                compare(t, m, e, rc, step, "append");
                if (rc == r4unique) {
                    ASSERT_EQ(personOf(t), p);  // the buffer stays
                }
            } else if (op < 35) {  // select an order
                m.tag = pick(4);
                table4selectTag(t, m.tag != 0 ? table4findTag(t, kTagNames[m.tag]) : nullptr);
            } else if (op < 45) {  // write without a key change
                Person p = m.rows[size_t(m.cur - 1)].person;
                p.note = randomText("uvw", 1, 8);
                putPerson(t, p);
                const int32_t rc = table4write(t, -1, 0);
                m.change(m.cur, p);
                compare(t, m, {0, m.cur, m.bof, m.eof}, rc, step, "write");
            } else if (op < 55) {  // write with key changes
                const Person old = m.rows[size_t(m.cur - 1)].person;
                Person p = randomPerson(m);
                if (pick(3) == 0) p.code = old.code;
                putPerson(t, p);
                const int32_t rc = table4write(t, -1, 0);
                Expect e{0, m.cur, m.bof, m.eof};
                if (m.codeTaken(p.code, m.cur))
                    e.rc = r4unique;
                else
                    m.change(m.cur, p);
                compare(t, m, e, rc, step, "key write");
                if (rc == r4unique) {
                    ASSERT_EQ(personOf(t), old);  // the buffer is restored
                }
            } else if (op < 60) {  // delete or recall
                Row& row = m.rows[size_t(m.cur - 1)];
                row.deleted = !row.deleted;
                table4recordBuffer(t)[0] = row.deleted ? '*' : ' ';
                compare(t, m, {0, m.cur, m.bof, m.eof}, table4write(t, -1, 0), step, "delete");
            } else if (op < 80) {  // skip
                const int32_t n = pick(11) - 5;
                compare(t, m, m.skip(n), table4skip(t, n), step, "skip");
            } else if (op < 88) {  // seek an existing key, whole or in part
                const int which = m.tag != 0 ? m.tag : 2;
                const int32_t r = 1 + pick(m.count());
                std::string key;
                if (which == 2) {
                    key = amountText(m.rows[size_t(r - 1)].person.amount);
                } else {
                    key = Model::keyOf(which, m.rows[size_t(r - 1)].person);
                    key.erase(key.find_last_not_of(' ') + 1);
                    if (pick(2) == 0) key.resize(size_t(1 + pick(int(key.size()))));
                }
                compare(t, m, m.seek(key), table4seek(t, key.c_str()), step, "seek");
            } else if (op < 92) {  // seek anything
                const int which = m.tag != 0 ? m.tag : 2;
                std::string key = which == 2   ? amountText(double(pick(100001) - 50000) / 100.0)
                                  : which == 1 ? Model::upper(randomText("ABCDEFG", 0, 3))
                                               : randomText("ABCDEFGHJK0123456789", 0, 3);
                if (which == 2) key.erase(0, key.find_first_not_of(' '));
                compare(t, m, m.seek(key), table4seek(t, key.c_str()), step, "seek any");
            } else if (op < 96) {
                compare(t, m, m.top(), table4goTop(t), step, "top");
            } else {
                compare(t, m, m.bottom(), table4goBottom(t), step, "bottom");
            }
            if (::testing::Test::HasFatalFailure()) return;
            if ((step + 1) % 1000 == 0) {
                t = checkpoint(t, m, (step + 1) % dumpEvery == 0, accessMode);
                ASSERT_NE(t, nullptr);
            }
        }
    }
};

TEST_F(TableModel, RandomOperationsFollowTheModel) {
    run(50000, 1000, 1);
}

TEST_F(TableModel, SharedTableFollowsTheModel) {
    run(10000, 5000, 0);
}

TEST_F(TableModel, LONG_SharedTableFollowsTheModel) {
    run(50000, 1000, 0);
}

}  // namespace
