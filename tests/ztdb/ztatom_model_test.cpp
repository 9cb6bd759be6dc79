// Seeded writes through the value cursor against an in-memory model of the records: after each
// phase the record, display and value orders and the sets' members agree with the model, and
// the database reopens sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "date_order_pin.h"
#include "ztatom_helpers.h"
#include "ztdb/ztset.h"

using namespace atomtest;

namespace {

using Pairs = std::multiset<std::pair<uint32_t, std::string>>;

constexpr uint32_t kFields[] = {2001, 2002, 2003, 2004};
constexpr uint32_t kSets[] = {3001, 3002};
constexpr uint32_t kFirstRecord = 1001;
constexpr uint32_t kRecords = 40;
constexpr uint32_t kMaxPosition = 12;

struct Model {
    struct Value {
        uint32_t id;  // the value's identity: a link carries its owner's
        bool link;
    };
    using Key = std::pair<uint32_t, uint32_t>;  // (record, field)
    std::map<Key, std::map<uint32_t, Value>> values;
    std::map<uint32_t, std::string> texts;  // id -> text
    std::map<uint32_t, std::set<uint32_t>> members;
    std::map<uint32_t, uint32_t> firstField;
    std::set<uint32_t> records;
    uint32_t nextID = 1;

    uint32_t newText(const std::string& text) {
        texts[nextID] = text;
        return nextID++;
    }
    void remove(const Key& key, uint32_t position) {
        const Value gone = values[key][position];
        values[key].erase(position);
        if (gone.link) return;
        // The links to a value go with it.
        for (auto& [k, byPosition] : values)
            for (auto it = byPosition.begin(); it != byPosition.end();)
                it = it->second.link && it->second.id == gone.id ? byPosition.erase(it)
                                                                 : std::next(it);
    }
    // Positions from p on, as far as they run without a gap, move up by one.
    void open(const Key& key, uint32_t p) {
        auto& byPosition = values[key];
        uint32_t end = p;
        while (byPosition.count(end)) ++end;
        for (uint32_t q = end; q-- > p;) {
            byPosition[q + 1] = byPosition[q];
            byPosition.erase(q);
        }
    }
    std::vector<std::string> ownTextsOf(uint32_t record, uint32_t field) const {
        std::vector<std::string> out;
        auto it = values.find({record, field});
        if (it != values.end())
            for (const auto& [p, v] : it->second) out.push_back(texts.at(v.id));
        return out;
    }
    Pairs membersOf(uint32_t set) const {
        Pairs out;
        auto it = members.find(set);
        if (it == members.end()) return out;
        for (uint32_t r : it->second) {
            std::vector<std::string> tied = ownTextsOf(r, firstField.at(set));
            if (tied.empty()) out.insert({r, "?"});
            for (const std::string& t : tied) out.insert({r, t});
        }
        return out;
    }
};

class AtomModel {
  public:
    AtomModel(NewDatabase& db, uint32_t seed) : db_(db), file_(db.file), rng_(seed) {}

    void setUp() {
        ASSERT_TRUE(ZTRec(&file_).setCounter(5000));
        for (uint32_t f : kFields) names_[f] = makeField(file_, f, "Field " + std::to_string(f));
        makeSet(file_, kSets[0], "First", {names_[kFields[0]], names_[kFields[2]]});
        makeSet(file_, kSets[1], "Second", {names_[kFields[1]]});
        model_.firstField[kSets[0]] = kFields[0];
        model_.firstField[kSets[1]] = kFields[1];
        for (uint32_t r = kFirstRecord; r < kFirstRecord + kRecords; ++r) model_.records.insert(r);
    }

    void step() {
        const uint32_t dice = rng_() % 100;
        if (dice < 25)
            add();
        else if (dice < 45)
            edit();
        else if (dice < 50)
            same();
        else if (dice < 64)
            remove();
        else if (dice < 74)
            insert();
        else if (dice < 82)
            link();
        else if (dice < 86)
            newRecord();
        else if (dice < 93)
            join();
        else if (dice < 97)
            leave();
        else
            changeFirstField();
    }

    void expectAgreement(const std::string& when) {
        SCOPED_TRACE(when);
        for (uint32_t r : model_.records) {
            expectRecordOrder(r);
            expectDisplayOrder(r);
        }
        for (uint32_t f : kFields) expectValueOrder(f);
        for (uint32_t s : kSets) {
            const std::vector<std::pair<uint32_t, std::string>> got = membersInOrder(file_, s);
            EXPECT_EQ(Pairs(got.begin(), got.end()), model_.membersOf(s)) << "set " << s;
        }
    }

    int failures = 0;

  private:
    uint32_t anyRecord() {
        auto it = model_.records.begin();
        std::advance(it, rng_() % model_.records.size());
        return *it;
    }
    uint32_t anyField() { return kFields[rng_() % 4]; }
    std::string anyText() {
        static const char* const words[] = {"apple", "Apple", "b", "zeta", "\xe9lan", "M", "mz"};
        ++counter_;
        if (rng_() % 5 == 0) return std::to_string(counter_) + ".5";
        return std::string(words[rng_() % 7]) + " " + std::to_string(counter_);
    }
    // A position of (record, field) that holds no value; 0 when none is left.
    uint32_t freePosition(const Model::Key& key) {
        auto& byPosition = model_.values[key];
        for (int tries = 0; tries < 20; ++tries) {
            const uint32_t p = 1 + rng_() % kMaxPosition;
            if (!byPosition.count(p)) return p;
        }
        return 0;
    }
    // A value of the model: (record, field, position); false when there is none.
    bool anyValue(Model::Key* key, uint32_t* position, bool ownOnly) {
        std::vector<std::pair<Model::Key, uint32_t>> all;
        for (const auto& [k, byPosition] : model_.values)
            for (const auto& [p, v] : byPosition)
                if (!ownOnly || !v.link) all.push_back({k, p});
        if (all.empty()) return false;
        const auto& pick = all[rng_() % all.size()];
        *key = pick.first;
        *position = pick.second;
        return true;
    }
    void expectResult(int got, int want, const char* what) {
        EXPECT_EQ(got, want) << what << " at write " << counter_;
        if (got != want) ++failures;
    }

    void add() {
        const Model::Key key{anyRecord(), anyField()};
        const uint32_t p = freePosition(key);
        if (!p) return;
        const std::string text = anyText();
        ZTAtom a(&file_, 0);
        expectResult(a.write(key.first, key.second, p, text.c_str(), 0, true), 2, "add");
        model_.values[key][p] = {model_.newText(text), false};
    }
    void edit() {
        Model::Key key;
        uint32_t p;
        if (!anyValue(&key, &p, false)) return;
        const std::string text = anyText();
        ZTAtom a(&file_, 0);
        expectResult(a.write(key.first, key.second, p, text.c_str()), 4, "edit");
        Model::Value& v = model_.values[key][p];
        if (v.link)
            v = {model_.newText(text), false};
        else
            model_.texts[v.id] = text;
    }
    void same() {
        Model::Key key;
        uint32_t p;
        if (!anyValue(&key, &p, true)) return;
        const std::string text = model_.texts[model_.values[key][p].id];
        ZTAtom a(&file_, 0);
        expectResult(a.write(key.first, key.second, p, text.c_str()), 1, "same");
    }
    void remove() {
        Model::Key key;
        uint32_t p;
        if (!anyValue(&key, &p, false)) return;
        ZTAtom a(&file_, 0);
        expectResult(a.write(key.first, key.second, p, ""), 0, "remove");
        model_.remove(key, p);
    }
    void insert() {
        const Model::Key key{anyRecord(), anyField()};
        const auto& byPosition = model_.values[key];
        const uint32_t top = byPosition.empty() ? 1 : byPosition.rbegin()->first + 1;
        const uint32_t p = 1 + rng_() % std::min(top, 30u);
        const bool taken = byPosition.count(p) != 0;
        const std::string text = anyText();
        ZTAtom a(&file_, ZTAtom::kModePositioned);
        expectResult(a.write(key.first, key.second, p, text.c_str(), 0, true), taken ? 5 : 2,
                     "insert");
        if (taken) model_.open(key, p);
        model_.values[key][p] = {model_.newText(text), false};
    }
    void link() {
        Model::Key from;
        uint32_t fromPosition;
        if (!anyValue(&from, &fromPosition, true)) return;
        ZTAtom owner(&file_, 0);
        if (owner.find(from.first, from.second, fromPosition, "", nullptr, false) != 0 ||
            owner.position != fromPosition) {
            ADD_FAILURE() << "no owner at " << from.first << "/" << from.second << "/"
                          << fromPosition;
            ++failures;
            return;
        }
        const Model::Key key{anyRecord(), anyField()};
        const uint32_t p = freePosition(key);
        if (!p) return;
        ZTAtom a(&file_, 0);
        expectResult(a.write(key.first, key.second, p, nullptr, owner.valueID, true), 2, "link");
        model_.values[key][p] = {model_.values[from][fromPosition].id, true};
    }
    void newRecord() {
        const uint32_t f = anyField();
        const uint32_t set = rng_() % 2 ? kSets[rng_() % 2] : 0;
        const std::string text = anyText();
        ZTAtom a(&file_, 0);
        expectResult(a.write(0, f, 1, text.c_str(), 0, true, true, false, set), 3, "new record");
        if (a.recordID < 5000) return;
        model_.records.insert(a.recordID);
        model_.values[{a.recordID, f}][1] = {model_.newText(text), false};
        if (set) model_.members[set].insert(a.recordID);
    }
    void join() {
        const uint32_t r = anyRecord(), s = kSets[rng_() % 2];
        EXPECT_TRUE(file_.addToSet(r, s, true));
        model_.members[s].insert(r);
    }
    void leave() {
        const uint32_t r = anyRecord(), s = kSets[rng_() % 2];
        EXPECT_TRUE(file_.removeFromSet(r, s, nullptr));
        model_.members[s].erase(r);
    }
    void changeFirstField() {
        const uint32_t s = kSets[rng_() % 2];
        uint32_t f = anyField();
        if (f == model_.firstField[s]) return;
        ZTAtom entry(&file_, 0);
        expectResult(entry.write(s, 1, 1, nullptr, names_[f]), 4, "first field");
        EXPECT_TRUE(file_.rebuildSetTies(s, true));
        model_.firstField[s] = f;
    }

    void expectRecordOrder(uint32_t r) {
        for (uint32_t f : kFields) {
            std::vector<std::string> got;
            ZTAtom a(&file_, 0);
            for (int x = a.find(r, f, 0, "", nullptr, false); x == 0 && got.size() < 100;
                 x = a.findNext(&a, 1, nullptr, false))
                got.push_back(a.value.text);
            EXPECT_EQ(got, model_.ownTextsOf(r, f)) << "record " << r << " field " << f;
        }
    }
    void expectDisplayOrder(uint32_t r) {
        // With the structure {field 3, field 1}: their values first, then the rest by field.
        ZTSet structure(&file_, 0);
        structure.insert(kFields[2], 0);
        structure.insert(kFields[0], 1);
        structure.setFixedCount(0);
        std::vector<std::string> want;
        for (uint32_t f : {kFields[2], kFields[0], kFields[1], kFields[3]})
            for (const std::string& t : model_.ownTextsOf(r, f)) want.push_back(t);
        for (int direction : {1, -1}) {
            std::vector<std::string> got;
            ZTAtom a(&file_, 0);
            a.recordID = r;
            a.typeID = direction > 0 ? 0 : ZTAtom::kFieldSentinel;
            for (int x = a.nextInRecord(&a, direction, &structure, false, false, false, 0,
                                        0xFFFFFFFFu, nullptr, nullptr);
                 x == 0 && got.size() < 200;
                 x = a.nextInRecord(&a, direction, &structure, false, false, false, 0, 0xFFFFFFFFu,
                                    nullptr, nullptr))
                got.push_back(a.value.text);
            if (direction < 0) std::reverse(got.begin(), got.end());
            EXPECT_EQ(got, want) << "record " << r << " direction " << direction;
        }
    }
    void expectValueOrder(uint32_t f) {
        Pairs want;
        for (const auto& [key, byPosition] : model_.values)
            if (key.second == f)
                for (const auto& [p, v] : byPosition) want.insert({key.first, model_.texts[v.id]});
        std::vector<std::pair<uint32_t, std::string>> up, down;
        std::string lastKey;
        ZTAtom a(&file_, 0);
        for (int x = a.findValue(f, "", false, false, false, 0); x == 0 && up.size() < 20000;
             x = a.findNextValue(&a, 1, false)) {
            char made[64];
            file_.makeKey(a.value.text, made, false, false, false, false);
            const std::string key(made, size_t(file_.getLenKey()));
            EXPECT_LE(lastKey, key);
            lastKey = key;
            up.push_back({a.recordID, a.value.text});
        }
        for (int x = a.findLastValue(f, false); x == 0 && down.size() < 20000;
             x = a.findNextValue(&a, -1, false))
            down.push_back({a.recordID, a.value.text});
        EXPECT_EQ(Pairs(up.begin(), up.end()), want) << "field " << f;
        std::reverse(down.begin(), down.end());
        EXPECT_EQ(down, up) << "field " << f;
    }

    NewDatabase& db_;
    ZTFile& file_;
    std::mt19937 rng_;
    Model model_;
    std::map<uint32_t, uint32_t> names_;  // field -> its name's value number
    uint32_t counter_ = 0;
};

TEST(AtomModel, SeededWritesAgreeWithTheModel) {
    DateOrderPin pin(false);
    // Opened exclusive: no sync per write, so that the many writes stay quick.
    NewDatabase db(7, false);
    AtomModel model(db, 20261211);
    model.setUp();
    for (int phase = 1; phase <= 10; ++phase) {
        for (int i = 0; i < 1000 && model.failures < 5; ++i) model.step();
        ASSERT_LT(model.failures, 5);
        model.expectAgreement("phase " + std::to_string(phase));
        dbcheck::Report report = db.check();  // closes, checks and reopens
        ASSERT_TRUE(report.sound()) << "phase " << phase << "\n" << report.text();
        model.expectAgreement("reopened after phase " + std::to_string(phase));
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
