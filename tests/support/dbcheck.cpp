#include "dbcheck.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "dbkeys.h"
#include "xbase/xbase.h"

namespace dbcheck {

bool Report::has(int rule) const {
    for (const Finding& f : findings)
        if (f.rule == rule) return true;
    return false;
}

std::vector<int> Report::rules() const {
    std::set<int> s;
    for (const Finding& f : findings) s.insert(f.rule);
    return {s.begin(), s.end()};
}

std::string Report::text() const {
    std::string out;
    for (const Finding& f : findings)
        out += "rule " + std::to_string(f.rule) + ": " + f.text + "\n";
    return out;
}

std::string findExtension(const std::string& base, const std::string& ext) {
    std::string upper = base + "." + ext;
    struct stat st {};
    if (stat(upper.c_str(), &st) == 0) return upper;
    size_t slash = base.rfind('/');
    std::string folder = slash == std::string::npos ? "." : base.substr(0, slash + 1);
    std::string name = (slash == std::string::npos ? base : base.substr(slash + 1)) + ".";
    if (DIR* d = opendir(folder.c_str())) {
        std::string found;
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() == name.size() + ext.size() && n.compare(0, name.size(), name) == 0 &&
                strcasecmp(n.c_str() + name.size(), ext.c_str()) == 0) {
                found = (slash == std::string::npos ? "" : folder) + n;
                break;
            }
        }
        closedir(d);
        if (!found.empty()) return found;
    }
    return upper;
}

namespace {

// A field the checker expects: its name (empty: any name starting with 'C') and widths.
struct Expected {
    const char* name;
    int minWidth, maxWidth;
};

class Checker {
  public:
    Checker(const std::string& base, const Options& options) : base_(base), options_(options) {}

    Report run() {
        if (readRowTable() && readDictionary()) {
            checkRows();
            readChains();
            checkValues();
            checkChunks();
            checkCounter();
            checkMembers();
        }
        checkIndex(findExtension(base_, "IX"), true);
        checkIndex(findExtension(base_, "IX2"), false);
        if (dropped_ > 0)
            report_.findings.push_back({0, std::to_string(dropped_) + " more findings"});
        return std::move(report_);
    }

  private:
    void add(int rule, const std::string& text) {
        if (report_.findings.size() < options_.maxFindings)
            report_.findings.push_back({rule, text});
        else
            ++dropped_;
    }

    // Reads a whole data file and checks its header; the records are left in bytes_.
    bool readTable(const std::string& ext, TableLayout& t, std::string& bytes) {
        t.path = findExtension(base_, ext);
        std::ifstream in(t.path, std::ios::binary);
        if (!in) {
            add(1, t.path + ": missing or unreadable");
            return false;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        t.found = true;
        t.fileLength = int64_t(bytes.size());
        auto u8 = [&](size_t at) { return unsigned((unsigned char)bytes[at]); };
        if (bytes.size() < 32) {
            add(1, t.path + ": shorter than a header");
            return false;
        }
        t.version = int(u8(0));
        t.count = int64_t(u8(4) | u8(5) << 8 | u8(6) << 16 | uint64_t(u8(7)) << 24);
        t.headerLength = int(u8(8) | u8(9) << 8);
        t.recordWidth = int(u8(10) | u8(11) << 8);
        if (t.version != 3) add(1, t.path + ": version " + std::to_string(t.version));
        int offset = 1;
        size_t at = 32;
        for (; at + 32 <= bytes.size() && u8(at) != 0x0D; at += 32) {
            FieldLayout f;
            f.name = std::string(bytes.data() + at, 11).c_str();
            f.type = bytes[at + 11];
            f.length = int(u8(at + 16));
            f.decimals = int(u8(at + 17));
            f.offset = offset;
            offset += f.length;
            t.fields.push_back(f);
        }
        if (at >= bytes.size() || u8(at) != 0x0D) {
            add(1, t.path + ": no end of the field descriptors");
            return false;
        }
        if (t.headerLength != int(32 * (t.fields.size() + 1) + 1))
            add(1, t.path + ": header length " + std::to_string(t.headerLength) + " for " +
                       std::to_string(t.fields.size()) + " fields");
        if (t.recordWidth != offset) {
            add(1, t.path + ": record width " + std::to_string(t.recordWidth) +
                       ", the fields make " + std::to_string(offset));
            return false;
        }
        if (t.headerLength < 33 || t.fileLength < t.headerLength) {
            add(1, t.path + ": file shorter than its header");
            return false;
        }
        int64_t whole = (t.fileLength - t.headerLength) / t.recordWidth;
        int64_t rest = (t.fileLength - t.headerLength) % t.recordWidth;
        if (whole != t.count || rest > 1)
            add(1, t.path + ": count " + std::to_string(t.count) + ", the file holds " +
                       std::to_string(whole) + " records and " + std::to_string(rest) +
                       " bytes more");
        return true;
    }

    bool checkFields(const TableLayout& t, const std::vector<Expected>& expected) {
        bool ok = t.fields.size() == expected.size();
        for (size_t i = 0; ok && i < expected.size(); ++i) {
            const FieldLayout& f = t.fields[i];
            bool nameOk = expected[i].name[0] == '\0' ? (!f.name.empty() && f.name[0] == 'C')
                                                      : f.name == expected[i].name;
            ok = nameOk && f.type == 'C' && f.decimals == 0 && f.length >= expected[i].minWidth &&
                 f.length <= expected[i].maxWidth;
        }
        if (!ok) add(1, t.path + ": not the fields of this kind of table");
        return ok;
    }

    // Each whole record that the header counts, numbered from 1.
    template <typename Fn>
    static void forEachRecord(const TableLayout& t, const std::string& bytes, Fn fn) {
        const int64_t n = std::min(t.count, (t.fileLength - t.headerLength) / t.recordWidth);
        const auto* first = reinterpret_cast<const unsigned char*>(bytes.data()) + t.headerLength;
        for (int64_t i = 0; i < n; ++i) fn(int32_t(i + 1), first + i * t.recordWidth);
    }

    bool readRowTable() {
        TableLayout& t = report_.layout.rows;
        if (!readTable("ZT", t, rowBytes_)) return false;
        if (!checkFields(
                t,
                {{"A", 3, 4}, {"B", 3, 4}, {"C", 2, 2}, {"D", 20, 240}, {"E", 4, 4}, {"F", 1, 1}}))
            return false;
        if (t.fields[0].length != t.fields[1].length) {
            add(1, t.path + ": fields A and B differ in width");
            return false;
        }
        lenID_ = report_.layout.lenID = t.fields[0].length;
        lenKey_ = report_.layout.lenKey = t.fields[3].length;
        forEachRecord(t, rowBytes_, [&](int32_t number, const unsigned char* r) {
            StoredRow row;
            row.number = number;
            row.deleted = r[0] == '*';
            row.a = readDigits(r + 1, lenID_);
            row.b = readDigits(r + 1 + lenID_, lenID_);
            row.c = readDigits(r + 1 + 2 * lenID_, 2);
            row.d.assign(reinterpret_cast<const char*>(r) + 3 + 2 * lenID_, size_t(lenKey_));
            row.e = readDigits(r + 3 + 2 * lenID_ + lenKey_, 4);
            row.f = r[7 + 2 * lenID_ + lenKey_];
            rowRaw_.emplace_back(reinterpret_cast<const char*>(r), size_t(t.recordWidth));
            report_.rows.push_back(row);
        });
        return true;
    }

    bool readDictionary() {
        TableLayout& t = report_.layout.dictionary;
        if (!readTable("ZT2", t, chunkBytes_)) return false;
        if (!checkFields(t, {{"A", 4, 4}, {"B", 2, 2}, {"", 5, 255}})) return false;
        const std::string& name = t.fields[2].name;
        if (name.size() > 1 && name.find_first_not_of("0123456789", 1) != std::string::npos)
            add(1, t.path + ": third field named " + name);
        lenChunk_ = report_.layout.lenChunk = t.fields[2].length;
        forEachRecord(t, chunkBytes_, [&](int32_t number, const unsigned char* r) {
            StoredChunk c;
            c.number = number;
            c.deleted = r[0] == '*';
            c.chain = readDigits(r + 1, 4);
            c.seq = readDigits(r + 5, 2);
            c.bytes.assign(reinterpret_cast<const char*>(r) + 7, size_t(lenChunk_));
            if (std::memchr(r + 1, 0, 6) != nullptr)
                add(5, "chunk " + std::to_string(c.number) + ": a zero byte in A or B");
            report_.chunks.push_back(c);
        });
        return true;
    }

    static bool live(const StoredRow& r) { return !r.deleted && r.a != 0; }

    std::string rowName(const StoredRow& r) {
        return "row " + std::to_string(r.number) + " (" + std::to_string(r.a) + ", " +
               std::to_string(r.b) + ", " + std::to_string(r.c) + ")";
    }

    void checkRows() {
        for (size_t i = 0; i < report_.rows.size(); ++i) {
            const StoredRow& r = report_.rows[i];
            const std::string& raw = rowRaw_[i];
            if (raw.find('\0', 1) < size_t(7 + 2 * lenID_ + lenKey_))
                add(2, rowName(r) + ": a zero byte in columns A to E");
            if ((r.f & 1) == 0) add(2, rowName(r) + ": flag byte without bit 0");
            if (r.deleted != (r.a == 0))
                add(2, rowName(r) + (r.deleted ? ": deleted with a record ID"
                                               : ": record ID 0 on a live row"));
        }
    }

    // Reads every chain of the dictionary: the live chunks by chain and sequence.
    void readChains() {
        for (const StoredChunk& c : report_.chunks) {
            if (c.deleted || c.chain == 0) continue;
            auto& seqs = chunksOf_[c.chain];
            if (seqs.count(c.seq))
                add(5, "chunk " + std::to_string(c.number) + ": chain " + std::to_string(c.chain) +
                           " has sequence " + std::to_string(c.seq) + " twice");
            seqs[c.seq] = &c;
        }
    }

    // The value text of a chain; false when the chain cannot be read whole.
    bool chainText(uint32_t chain, std::string* text, uint32_t* lastSeq) {
        text->clear();
        auto it = chunksOf_.find(chain);
        if (it == chunksOf_.end()) return false;
        std::string stored;
        for (uint32_t s = 0;; ++s) {
            auto c = it->second.find(s);
            if (c == it->second.end()) return false;
            size_t zero = c->second->bytes.find('\0');
            stored += c->second->bytes.substr(0, zero);
            *lastSeq = s;
            if (zero != std::string::npos) break;
        }
        if (!stored.empty() && stored[0] == 1) return unpackText(stored, text);
        *text = stored;
        return true;
    }

    void checkValues() {
        std::map<uint32_t, int> owners;
        for (const StoredRow& r : report_.rows)
            if (live(r) && !(r.f & 0x80)) owners[r.e]++;
        std::set<uint32_t> reported;
        std::map<std::pair<uint32_t, uint32_t>, std::set<uint32_t>> positions;
        KeyShape shape = KeyShape::of(lenKey_);
        for (const StoredRow& r : report_.rows) {
            if (!live(r)) continue;
            if (r.c != 65024 && !positions[{r.a, r.b}].insert(r.c).second)
                add(4, rowName(r) + ": position taken twice");
            if (r.e == 0) {
                add(3, rowName(r) + ": no value number");
                continue;
            }
            referenced_.insert(r.e);
            std::string text;
            uint32_t last = 0;
            bool readable = chainText(r.e, &text, &last);
            if (readable) chainEnd_[r.e] = last;
            if (reported.insert(r.e).second) {
                if (!readable) add(3, "value " + std::to_string(r.e) + ": chain unreadable");
                if (owners[r.e] > 1)
                    add(3, "value " + std::to_string(r.e) + ": " + std::to_string(owners[r.e]) +
                               " owner rows");
            }
            if ((r.f & 0x80) && owners[r.e] == 0)
                add(3, rowName(r) + ": link to value " + std::to_string(r.e) + " without owner");
            if ((r.f & 0xC0) == 0x40 && readable && text != "?")
                add(3, rowName(r) + ": untied membership row whose value is not \"?\"");
            if (readable && r.d != valueKey(shape, text, options_.dayFirst))
                add(4, rowName(r) + ": D is not the key of the value");
        }
    }

    void checkChunks() {
        for (const StoredChunk& c : report_.chunks) {
            std::string name = "chunk " + std::to_string(c.number) + " (chain " +
                               std::to_string(c.chain) + ", " + std::to_string(c.seq) + ")";
            if (c.chain == 0) {
                if (!c.deleted) add(5, name + ": free but not deleted");
                continue;
            }
            auto end = chainEnd_.find(c.chain);
            bool referenced = referenced_.count(c.chain) != 0;
            if (c.deleted) {
                // A shorter rewrite leaves its surplus chunks deleted behind the chain's end.
                if (!referenced || end == chainEnd_.end() || c.seq <= end->second)
                    add(5, name + ": deleted without being freed");
            } else if (!referenced) {
                add(5, name + ": belongs to no value");
            } else if (end != chainEnd_.end() && c.seq > end->second) {
                add(5, name + ": live past the end of its chain");
            }
        }
    }

    void checkCounter() {
        uint32_t highest = 0, counter = 0;
        bool any = false;
        for (const StoredRow& r : report_.rows) {
            if (!live(r)) continue;
            any = true;
            highest = std::max(highest, r.a);
            if (r.a == 51 && r.b == 2 && !(r.f & 0xC0)) {
                std::string text;
                uint32_t last;
                if (chainText(r.e, &text, &last))
                    counter = uint32_t(std::strtoul(text.c_str(), nullptr, 10));
            }
        }
        if (any && counter <= highest)
            add(6, "next record ID " + std::to_string(counter) + " is not above record " +
                       std::to_string(highest));
    }

    void checkMembers() {
        std::map<uint32_t, uint32_t> ownerOf;  // value number -> record of its owner row
        std::map<std::pair<uint32_t, uint32_t>, std::vector<const StoredRow*>> byRecordAndType;
        std::map<uint32_t, std::set<uint32_t>> members;  // set -> records
        for (const StoredRow& r : report_.rows) {
            if (!live(r)) continue;
            if (!(r.f & 0x80)) ownerOf.emplace(r.e, r.a);
            byRecordAndType[{r.a, r.b}].push_back(&r);
            if (r.f & 0x40) members[r.b].insert(r.a);
        }
        auto rowsOf = [&](uint32_t record, uint32_t type) {
            auto it = byRecordAndType.find({record, type});
            return it == byRecordAndType.end() ? std::vector<const StoredRow*>{} : it->second;
        };
        for (const auto& [set, records] : members) {
            const StoredRow* first = nullptr;  // the set's first field-list entry
            for (const StoredRow* r : rowsOf(set, 1))
                if ((r->f & 0x80) && (first == nullptr || r->c < first->c)) first = r;
            auto owner = first ? ownerOf.find(first->e) : ownerOf.end();
            if (owner == ownerOf.end()) {
                add(7, "set " + std::to_string(set) + ": members but no first field");
                continue;
            }
            const uint32_t field = owner->second;
            for (uint32_t record : records) {
                std::multiset<uint32_t> values, tied;
                for (const StoredRow* r : rowsOf(record, field))
                    if (!(r->f & 0x40)) values.insert(r->e);
                size_t untied = 0;
                for (const StoredRow* m : rowsOf(record, set)) {
                    if (!(m->f & 0x40)) continue;
                    if (m->f & 0x80)
                        tied.insert(m->e);
                    else
                        ++untied;
                }
                bool right = values.empty() ? (untied == 1 && tied.empty())
                                            : (untied == 0 && tied == values);
                if (!right)
                    add(7, "record " + std::to_string(record) + " in set " + std::to_string(set) +
                               ": " + std::to_string(tied.size()) + " tied and " +
                               std::to_string(untied) + " untied rows for " +
                               std::to_string(values.size()) + " values of field " +
                               std::to_string(field));
            }
        }
    }

    // Every tag of one index file against the keys made from the rows (or chunks).
    void checkIndex(const std::string& path, bool rowIndex) {
        Layout& layout = report_.layout;
        (rowIndex ? layout.rowIndexPath : layout.dictionaryIndexPath) = path;
        index4checkOptions options;
        const std::vector<std::string> names =
            rowIndex ? std::vector<std::string>{"ZTW1", "ZTW2", "ZTW3"}
                     : std::vector<std::string>{"ZTWC1"};
        for (const std::string& n : names) options.pads[n] = ' ';
        index4checkReport check;
        if (index4checkFile(path.c_str(), &check, options) != 0) {
            add(8, path + ": missing or unreadable");
            return;
        }
        for (const std::string& p : check.problems) add(8, path + ": " + p);
        std::vector<TagLayout>& tags = rowIndex ? layout.rowTags : layout.dictionaryTags;
        for (const index4checkTag& t : check.tags)
            tags.push_back({t.name, t.header.expression, t.header.keyLength, t.entries.size()});
        const bool haveRows = rowIndex ? lenID_ > 0 : lenChunk_ > 0;
        const std::vector<std::string> expressions =
            rowIndex ? std::vector<std::string>{"B+D+E+F", "A+B+C+D", "E+F"}
                     : std::vector<std::string>{"A+B"};
        for (size_t i = 0; i < names.size(); ++i) {
            const index4checkTag* tag = nullptr;
            for (const index4checkTag& t : check.tags)
                if (t.name == names[i]) tag = &t;
            if (tag == nullptr) {
                add(8, path + ": no tag " + names[i]);
                continue;
            }
            if (strcasecmp(tag->header.expression.c_str(), expressions[i].c_str()) != 0 ||
                !tag->header.filter.empty() || tag->header.descending ||
                (tag->header.options & tag4optUnique))
                add(8, path + ": tag " + names[i] + " is not \"" + expressions[i] + "\"");
            if (haveRows) compareTag(path, *tag, rowIndex ? int(i) : 3);
        }
    }

    // The key of row or chunk n (from 1) in tag kind k: 0 ZTW1, 1 ZTW2, 2 ZTW3, 3 ZTWC1.
    std::string keyOf(size_t n, int k) {
        if (k == 3) {
            const char* r = chunkBytes_.data() + report_.layout.dictionary.headerLength +
                            (n - 1) * size_t(report_.layout.dictionary.recordWidth);
            return std::string(r + 1, 6);
        }
        const std::string& raw = rowRaw_[n - 1];
        const size_t id = size_t(lenID_), key = size_t(lenKey_);
        std::string a = raw.substr(1, id), b = raw.substr(1 + id, id),
                    c = raw.substr(1 + 2 * id, 2);
        std::string d = raw.substr(3 + 2 * id, key), e = raw.substr(3 + 2 * id + key, 4);
        std::string f = raw.substr(7 + 2 * id + key, 1);
        return k == 0 ? b + d + e + f : k == 1 ? a + b + c + d : e + f;
    }

    void compareTag(const std::string& path, const index4checkTag& tag, int kind) {
        std::multiset<std::pair<std::string, uint32_t>> expected, held;
        size_t n = kind == 3 ? report_.chunks.size() : report_.rows.size();
        for (size_t i = 1; i <= n; ++i) expected.insert({keyOf(i, kind), uint32_t(i)});
        for (const index4checkEntry& e : tag.entries) held.insert({e.key, e.record});
        std::vector<std::pair<std::string, uint32_t>> missing, extra;
        std::set_difference(expected.begin(), expected.end(), held.begin(), held.end(),
                            std::back_inserter(missing));
        std::set_difference(held.begin(), held.end(), expected.begin(), expected.end(),
                            std::back_inserter(extra));
        if (!missing.empty())
            add(8, path + ": tag " + tag.name + " lacks " + std::to_string(missing.size()) +
                       " keys, the first of record " + std::to_string(missing[0].second));
        if (!extra.empty())
            add(8, path + ": tag " + tag.name + " holds " + std::to_string(extra.size()) +
                       " keys of no row, the first for record " + std::to_string(extra[0].second));
    }

    std::string base_;
    Options options_;
    Report report_;
    size_t dropped_ = 0;
    std::string rowBytes_, chunkBytes_;
    std::vector<std::string> rowRaw_;
    int lenID_ = 0, lenKey_ = 0, lenChunk_ = 0;
    std::map<uint32_t, std::map<uint32_t, const StoredChunk*>> chunksOf_;
    std::map<uint32_t, uint32_t> chainEnd_;  // last sequence of each readable chain
    std::set<uint32_t> referenced_;          // value numbers of live rows
};

}  // namespace

Report checkDatabase(const std::string& base, const Options& options) {
    return Checker(base, options).run();
}

}  // namespace dbcheck
