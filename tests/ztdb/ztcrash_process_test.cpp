// Crash safety: a writer process changes a shared database (new records with short and long
// values, edits, more values, links, joining and leaving a set, deletions of values and of whole
// records) and, after each
// operation has returned, appends what it changed to a journal. It is ended at a random moment
// (SIGKILL) or at its Nth write, whole or cut in half; sometimes the maintenance that follows is
// ended the same way. Then the database is opened with verify and maintained (check, in some
// runs with pack): the checker must find it clean, every journalled record must hold exactly its
// committed values, except the records of the one operation in flight, and nothing else may
// have changed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "date_order_pin.h"
#include "maintenance_helpers.h"
#include "xbase/temp_dir.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kSet = 1003;      // first field Name, which the writer never uses: members "?"
constexpr uint32_t kShort = 1002;    // short values
constexpr uint32_t kLong = 1004;     // values over several chunks
constexpr uint32_t kLinks = 1005;    // links to other records' short values
constexpr uint32_t kTiedSet = 1006;  // first field Long: a member is tied to its long value
constexpr uint32_t kFirstWritten = 1100;

// One row of a record as the test compares it.
struct Entry {
    uint32_t type, position;
    bool link;
    std::string text;
    bool operator<(const Entry& o) const {
        return std::tie(type, position, link, text) < std::tie(o.type, o.position, o.link, o.text);
    }
    bool operator==(const Entry& o) const {
        return std::tie(type, position, link, text) == std::tie(o.type, o.position, o.link, o.text);
    }
};
using RecordState = std::set<Entry>;

std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string unhex(const std::string& s) {
    std::string out;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out += char(std::stoi(s.substr(i, 2), nullptr, 16));
    return out;
}

std::string serialize(const RecordState& state) {
    std::string out;
    for (const Entry& e : state)
        out += " " + std::to_string(e.type) + ":" + std::to_string(e.position) + ":" +
               (e.link ? "1" : "0") + ":" + hex(e.text);
    return out;
}

RecordState parse(std::istringstream& in) {
    RecordState state;
    for (std::string item; in >> item;) {
        std::istringstream parts(item);
        std::string t, p, l, x;
        std::getline(parts, t, ':');
        std::getline(parts, p, ':');
        std::getline(parts, l, ':');
        std::getline(parts, x, ':');
        state.insert({uint32_t(std::stoul(t)), uint32_t(std::stoul(p)), l == "1", unhex(x)});
    }
    return state;
}

// The sound starting database: the set, its field and the writer's fields.
std::string writeStart(const TempDir& dir) {
    dbcheck::Fixture fx;
    fx.counter(kFirstWritten);
    const uint32_t name = fx.field(1001, "Name");
    fx.field(kShort, "Short");
    const uint32_t longName = fx.field(kLong, "Long");
    fx.field(kLinks, "Ref");
    fx.set(kSet, "People", {name});
    fx.set(kTiedSet, "Readers", {longName});
    const std::string base = dir.file("db");
    EXPECT_TRUE(fx.write(base)) << fx.error;
    return base;
}

// ---- the writer ----

class Writer {
  public:
    Writer(ZTFile& file, const std::string& journal, uint32_t seed)
        : file_(file), journal_(journal, std::ios::app), random_(seed) {}

    // Runs up to n operations; false when one failed.
    bool run(int n) {
        for (int op = 1; op <= n; ++op)
            if (!step(op)) return false;
        return true;
    }

  private:
    uint32_t pick(uint32_t n) { return uint32_t(random_() % n); }
    std::string text(int op, bool isLong) {
        std::string t = "v" + std::to_string(op) + "x" + std::to_string(pick(100000));
        if (isLong) t += " " + std::string(60 + pick(120), char('a' + pick(26)));
        return t;
    }
    uint32_t lastPosition(uint32_t record, uint32_t type) {
        uint32_t last = 0;
        for (const Entry& e : model_[record])
            if (e.type == type) last = std::max(last, e.position);
        return last;
    }
    // Records whose rows link to the record's short value at position.
    std::set<uint32_t> linkersOf(uint32_t record, uint32_t position) {
        std::set<uint32_t> out;
        for (const auto& [linker, target] : links_)
            if (target == std::make_pair(record, position)) out.insert(linker.first);
        return out;
    }
    bool linked(uint32_t record) {
        for (const auto& [linker, target] : links_)
            if (target.first == record) return true;
        return false;
    }
    void begin(int op, const std::set<uint32_t>& records) {
        journal_ << "B " << op;
        for (uint32_t r : records) journal_ << " " << r;
        journal_ << std::endl;
    }
    void commit(int op, const std::set<uint32_t>& records) {
        for (uint32_t r : records) journal_ << "S " << r << serialize(model_[r]) << "\n";
        journal_ << "C " << op << std::endl;
    }
    bool rowAt(ZTRec& rec, uint32_t record, uint32_t type, uint32_t position) {
        return rec.seek(record, type, position, "") == 0 && rec.typeID == type &&
               rec.position == position;
    }
    bool step(int op);
    bool has(uint32_t record, uint32_t type, uint32_t position) {
        for (const Entry& e : model_[record])
            if (e.type == type && e.position == position) return true;
        return false;
    }
    // The record's entry of the type and position becomes `with` (none: removed).
    void replace(uint32_t record, uint32_t type, uint32_t position,
                 const std::optional<Entry>& with) {
        RecordState& state = model_[record];
        for (auto e = state.begin(); e != state.end(); ++e)
            if (e->type == type && e->position == position) {
                state.erase(e);
                break;
            }
        if (with) state.insert(*with);
    }

    ZTFile& file_;
    std::ofstream journal_;
    std::mt19937 random_;
    std::map<uint32_t, RecordState> model_;
    // (record, position of its link row) -> (record, position of the short value linked to)
    std::map<std::pair<uint32_t, uint32_t>, std::pair<uint32_t, uint32_t>> links_;
};

bool Writer::step(int op) {
    std::vector<uint32_t> records;
    for (const auto& [r, state] : model_) records.push_back(r);
    const uint32_t kind = records.size() < 3 ? 0 : pick(8);
    if (kind == 0) {
        // A new record: a short and a long value and its membership.
        if (!file_.lock(false)) return false;
        const uint32_t r = file_.newRecordID();
        if (r == 0) return false;
        begin(op, {r});
        const std::string s = text(op, false), l = text(op, true);
        bool ok = addValue(file_, r, kShort, 1, s) && addValue(file_, r, kLong, 1, l) &&
                  file_.addToSet(r, kSet, true);
        if (!file_.unlock() || !ok) return false;
        model_[r] = {
            {kShort, 1, false, s}, {kLong, 1, false, l}, {kSet, ZTRec::kNoPosition, false, "?"}};
        commit(op, {r});
        return true;
    }
    const uint32_t r = records[pick(uint32_t(records.size()))];
    std::set<uint32_t> touched{r};
    if (kind == 1 || kind == 2) {
        // An edit of a short or long value (a short one is seen by the records linking to it).
        const uint32_t type = kind == 1 ? kShort : kLong;
        const uint32_t position = 1 + pick(std::max<uint32_t>(lastPosition(r, type), 1));
        if (!has(r, type, position)) return true;
        if (type == kShort)
            for (uint32_t linker : linkersOf(r, position)) touched.insert(linker);
        begin(op, touched);
        const std::string t = text(op, kind == 2 ? pick(2) == 0 : false);
        if (!file_.lock(false)) return false;
        ZTRec rec(&file_);
        const bool ok = rowAt(rec, r, type, position) && rec.writeValue(t.c_str());
        if (!file_.unlock() || !ok) return false;
        replace(r, type, position, Entry{type, position, false, t});
        // A member of the tied set sees its long value's new text through its tie.
        if (type == kLong && position == 1 && has(r, kTiedSet, ZTRec::kNoPosition))
            replace(r, kTiedSet, ZTRec::kNoPosition, Entry{kTiedSet, ZTRec::kNoPosition, true, t});
        // The records linking to a short value see its new text.
        for (const auto& [from, target] : links_)
            if (type == kShort && target == std::make_pair(r, position))
                replace(from.first, kLinks, from.second, Entry{kLinks, from.second, true, t});
        commit(op, touched);
        return true;
    }
    if (kind == 3) {
        // Another short value at the next position.
        const uint32_t position = lastPosition(r, kShort) + 1;
        const std::string t = text(op, false);
        begin(op, touched);
        if (addValue(file_, r, kShort, position, t) == 0) return false;
        model_[r].insert({kShort, position, false, t});
        commit(op, touched);
        return true;
    }
    if (kind == 4) {
        // A link from r to another record's first short value.
        const uint32_t target = records[pick(uint32_t(records.size()))];
        if (target == r || lastPosition(target, kShort) == 0) return true;
        const uint32_t position = lastPosition(r, kLinks) + 1;
        std::string targetText;
        for (const Entry& e : model_[target])
            if (e.type == kShort && e.position == 1) targetText = e.text;
        begin(op, touched);
        if (!file_.lock(false)) return false;
        ZTRec rec(&file_);
        bool ok = rowAt(rec, target, kShort, 1);
        const uint32_t value = rec.valueID;
        ok = ok && file_.unlock() && addLink(file_, r, kLinks, position, value);
        if (!ok) return false;
        model_[r].insert({kLinks, position, true, targetText});
        links_[{r, position}] = {target, 1};
        commit(op, touched);
        return true;
    }
    if (kind == 5) {
        // The last short value (not the first, which links may point at) or the last link.
        const bool link = pick(2) == 0;
        const uint32_t type = link ? kLinks : kShort;
        const uint32_t position = lastPosition(r, type);
        if (position == 0 || (!link && (position == 1 || !linkersOf(r, position).empty())))
            return true;
        begin(op, touched);
        if (!file_.lock(false)) return false;
        ZTRec rec(&file_);
        const bool ok = rowAt(rec, r, type, position) && rec.deleteRow();
        if (!file_.unlock() || !ok) return false;
        replace(r, type, position, std::nullopt);
        if (link) links_.erase({r, position});
        commit(op, touched);
        return true;
    }
    if (kind == 6) {
        // Joins the tied set, or leaves it.
        const bool join = !has(r, kTiedSet, ZTRec::kNoPosition);
        begin(op, touched);
        if (!file_.addToSet(r, kTiedSet, join)) return false;
        if (join) {
            std::string longText;
            for (const Entry& e : model_[r])
                if (e.type == kLong && e.position == 1) longText = e.text;
            model_[r].insert({kTiedSet, ZTRec::kNoPosition, true, longText});
        } else {
            replace(r, kTiedSet, ZTRec::kNoPosition, std::nullopt);
        }
        commit(op, touched);
        return true;
    }
    // A whole record, when nothing links to it.
    if (linked(r)) return true;
    begin(op, touched);
    if (!file_.deleteRecord(r, nullptr)) return false;
    model_[r].clear();
    for (auto it = links_.begin(); it != links_.end();)
        it = it->first.first == r ? links_.erase(it) : std::next(it);
    commit(op, touched);
    model_.erase(r);
    return true;
}

// ---- the test's side ----

struct Expected {
    std::map<uint32_t, RecordState> committed;
    std::set<uint32_t> inFlight;
};

Expected readJournal(const std::string& path) {
    Expected out;
    std::ifstream in(path);
    std::map<uint32_t, RecordState> pending;
    std::set<uint32_t> begun;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "B") {
            int op;
            words >> op;
            begun.clear();
            pending.clear();
            for (uint32_t r; words >> r;) begun.insert(r);
        } else if (tag == "S") {
            uint32_t r;
            words >> r;
            pending[r] = parse(words);
        } else if (tag == "C") {
            for (auto& [r, state] : pending) out.committed[r] = state;
            pending.clear();
            begun.clear();
        }
    }
    out.inFlight = begun;
    return out;
}

std::map<uint32_t, RecordState> recordsIn(const dbcheck::Report& report) {
    std::map<uint32_t, RecordState> out;
    for (const dbcheck::StoredRow& r : report.rows)
        if (!r.deleted && r.a >= kFirstWritten)
            out[r.a].insert({r.b, r.c, (r.f & 0x80) != 0, textOf(report, r.e)});
    return out;
}

// Runs body in a child that ends at its nth write (0: never) or, with killAfter, is killed that
// many microseconds after it started.
void runChild(int nth, bool half, int killAfter, const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (nth > 0) file4exitAtWrite(0, nth, half);
        body();
        _exit(0);
    }
    if (killAfter > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(killAfter));
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

void crashRuns(int runs, uint32_t seed) {
    DateOrderPin pin(false);
    std::mt19937 random(seed);
    for (int run = 0; run < runs; ++run) {
        const uint32_t runSeed = random();
        SCOPED_TRACE("run " + std::to_string(run) + " seed " + std::to_string(runSeed));
        TempDir dir;
        const std::string base = writeStart(dir);
        const std::string journal = dir.file("journal");
        const bool bySignal = run % 2 == 0;
        const int nth = bySignal ? 0 : 1 + int(random() % 600);
        runChild(nth, random() % 2 == 0, bySignal ? 2000 + int(random() % 300000) : 0, [&] {
            ZTFile file(base.c_str());
            if (file.open(3, false) != 3) _exit(2);
            Writer writer(file, journal, runSeed);
            _exit(writer.run(80) ? 0 : 3);
        });
        const bool pack = random() % 3 == 0;
        if (random() % 3 == 0) {
            // The maintenance is ended as well, at one of its writes.
            runChild(1 + int(random() % 200), random() % 2 == 0, 0, [&] {
                ZTFile file(base.c_str());
                if (file.open(3, true) & 2) {
                    ZTMaintenance job(&file, false, pack, true, false, 1);
                    (void)job.start(nullptr, nullptr);
                }
                _exit(0);
            });
        }
        {
            ZTFile file(base.c_str());
            ASSERT_NE(file.open(3, true) & 1, 0u);
        }
        const MaintenanceResult done = maintain(base, pack, true, false);
        ASSERT_TRUE(done.started);
        const dbcheck::Report after = dbcheck::checkDatabase(base);
        ASSERT_TRUE(after.sound()) << after.text();

        const Expected expected = readJournal(journal);
        const std::map<uint32_t, RecordState> actual = recordsIn(after);
        for (const auto& [r, state] : expected.committed) {
            if (expected.inFlight.count(r)) continue;
            auto it = actual.find(r);
            const RecordState found = it == actual.end() ? RecordState{} : it->second;
            EXPECT_TRUE(found == state) << "record " << r << ": stored" << serialize(found)
                                        << "\n  committed" << serialize(state);
        }
        for (const auto& [r, state] : actual)
            EXPECT_TRUE(expected.committed.count(r) || expected.inFlight.count(r))
                << "record " << r << " was never written";
    }
}

}  // namespace

TEST(ZTCrashProcesses, AWriterEndedAnywhereLosesNoCommittedValue) {
    crashRuns(16, 20261211);
}

TEST(ZTCrashProcesses, LONG_AWriterEndedAnywhereLosesNoCommittedValue) {
    crashRuns(400, 7);
}
