#include "xbase/index4check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "xbase/error4.h"
#include "xbase/node4.h"

namespace {

// Deeper than any tree a 4 GiB file can hold even with two entries per branch.
constexpr int kMaxDepth = 40;
constexpr uint8_t kBlank = 0x20;

std::string printable(const std::string& key) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const unsigned char c : key) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += char(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out + "\"";
}

std::string at(uint32_t offset) {
    return std::to_string(offset);
}

// A bounded list of problems: past the limit they are only counted.
class Problems {
  public:
    explicit Problems(size_t limit) : limit_(limit) {}
    void add(std::string text) {
        if (list_.size() < limit_)
            list_.push_back(std::move(text));
        else
            overflow_++;
    }
    size_t count() const { return list_.size() + overflow_; }
    std::vector<std::string> take() {
        if (overflow_ > 0)
            list_.push_back("... and " + std::to_string(overflow_) + " more problems");
        return std::move(list_);
    }

  private:
    size_t limit_;
    std::vector<std::string> list_;
    size_t overflow_ = 0;
};

struct Walk {
    explicit Walk(size_t limit) : problems(limit) {}
    Problems problems;
    std::vector<index4checkEntry> entries;
    std::vector<uint32_t> nodes;
    int levels = 0;
};

// Walks one tree from its root, depth first, without touching anything outside the image.
class TagWalker {
  public:
    TagWalker(const uint8_t* data, size_t size, int keyLength, uint8_t pad, bool unique,
              size_t limit)
        : data_(data),
          size_(size),
          keyLength_(keyLength),
          pad_(pad),
          unique_(unique),
          walk_(limit) {}

    Walk run(uint32_t root) {
        const Summary top = visit(root, 0, true);
        walk_.levels = top.height + 1;
        checkSiblings();
        return std::move(walk_);
    }

  private:
    struct Summary {
        bool known = false;  // the node has a last entry
        std::string lastKey;
        uint32_t lastRecord = 0;
        int height = -1;  // 0 for a leaf; -1 when unknown
    };
    struct LevelNode {
        uint32_t offset;
        int32_t left, right;
    };

    void problem(std::string text) { walk_.problems.add(std::move(text)); }

    void addEntry(const uint8_t* key, uint32_t record, uint32_t leaf, int i) {
        index4checkEntry e{std::string(reinterpret_cast<const char*>(key), size_t(keyLength_)),
                           record};
        if (!walk_.entries.empty()) {
            const index4checkEntry& prev = walk_.entries.back();
            const int c = std::memcmp(prev.key.data(), e.key.data(), size_t(keyLength_));
            const std::string where = "leaf " + at(leaf) + " entry " + std::to_string(i) + ": ";
            if (c > 0 || (c == 0 && prev.record >= e.record))
                problem(where + "key " + printable(e.key) + " record " + at(record) +
                        " is not after key " + printable(prev.key) + " record " + at(prev.record));
            else if (c == 0 && unique_)
                problem(where + "key " + printable(e.key) + " is repeated in a unique tag");
        }
        walk_.entries.push_back(std::move(e));
    }

    Summary visit(uint32_t offset, int depth, bool isRoot) {
        Summary s;
        if (depth >= kMaxDepth) {
            problem("node " + at(offset) + " lies deeper than " + std::to_string(kMaxDepth) +
                    " levels");
            return s;
        }
        if (offset % node4size != 0 || offset < uint32_t(tag4headerSize) ||
            uint64_t(offset) + node4size > size_) {
            problem("node offset " + at(offset) + " is not a node of the file");
            return s;
        }
        if (!seen_.insert(offset).second) {
            problem("node " + at(offset) + " is reached more than once");
            return s;
        }
        walk_.nodes.push_back(offset);
        uint8_t node[node4size];
        std::memcpy(node, data_ + offset, node4size);
        const node4header h = node4headerRead(node);
        if (node4headerCheck(h) != 0) {
            problem("node " + at(offset) + " has attribute " + std::to_string(h.attribute));
            return s;
        }
        const bool leaf = node4isLeaf(h.attribute);
        const bool rootAttribute = h.attribute == node4rootBranch || h.attribute == node4rootLeaf;
        if (rootAttribute != isRoot)
            problem("node " + at(offset) + " has attribute " + std::to_string(h.attribute) +
                    (isRoot ? " but is the root" : " but is not the root"));
        if (levels_.size() <= size_t(depth)) levels_.resize(size_t(depth) + 1);
        levels_[size_t(depth)].push_back({offset, h.left, h.right});
        return leaf ? visitLeaf(node, offset, isRoot) : visitBranch(node, offset, depth);
    }

    Summary visitLeaf(uint8_t* node, uint32_t offset, bool isRoot) {
        Summary s;
        leaf4view view;
        std::string why;
        if (view.attach(node, keyLength_, pad_, &why) != 0) {
            problem("leaf " + at(offset) + ": " + why);
            return s;
        }
        s.height = 0;
        if (view.count() == 0 && !isRoot) problem("leaf " + at(offset) + " is empty");
        int previousTrail = 0;
        bool padReported = false;
        for (int i = 0; i < view.count(); i++) {
            leaf4entry e;
            const uint8_t* key = nullptr;
            (void)view.entry(i, &e);
            (void)view.key(i, &key);
            if (i > 0 && e.dup > keyLength_ - previousTrail && !padReported) {
                problem("leaf " + at(offset) + " entry " + std::to_string(i) +
                        ": duplicate count " + std::to_string(e.dup) +
                        " reaches into the previous key's trailing pad bytes");
                padReported = true;
            }
            previousTrail = e.trail;
            addEntry(key, e.record, offset, i);
            s.known = true;
            s.lastKey.assign(reinterpret_cast<const char*>(key), size_t(keyLength_));
            s.lastRecord = e.record;
        }
        return s;
    }

    Summary visitBranch(uint8_t* node, uint32_t offset, int depth) {
        Summary s;
        branch4view view;
        if (view.attach(node, keyLength_) != 0) {
            problem("branch " + at(offset) + " holds " +
                    std::to_string(node4headerRead(node).count) + " entries, at most " +
                    std::to_string(branch4capacity(keyLength_)) + " fit");
            return s;
        }
        if (view.count() == 0) problem("branch " + at(offset) + " has no entries");
        int childHeight = -1;
        for (int i = 0; i < view.count(); i++) {
            const uint32_t child = view.child(i);
            const Summary c = visit(child, depth + 1, false);
            if (c.height >= 0) {
                if (childHeight < 0)
                    childHeight = c.height;
                else if (c.height != childHeight)
                    problem("branch " + at(offset) + ": its children stand at different levels");
            }
            const std::string key(reinterpret_cast<const char*>(view.key(i)), size_t(keyLength_));
            if (c.known && (c.lastKey != key || c.lastRecord != view.record(i)))
                problem("branch " + at(offset) + " entry " + std::to_string(i) + " (key " +
                        printable(key) + " record " + at(view.record(i)) +
                        ") is not the last entry of child " + at(child) + " (key " +
                        printable(c.lastKey) + " record " + at(c.lastRecord) + ")");
        }
        if (childHeight >= 0) s.height = childHeight + 1;
        if (view.count() > 0) {
            s.known = true;
            s.lastKey.assign(reinterpret_cast<const char*>(view.key(view.count() - 1)),
                             size_t(keyLength_));
            s.lastRecord = view.record(view.count() - 1);
        }
        return s;
    }

    void checkSiblings() {
        for (size_t d = 0; d < levels_.size(); d++) {
            const std::vector<LevelNode>& level = levels_[d];
            for (size_t j = 0; j < level.size(); j++) {
                const int32_t left = j == 0 ? node4none : int32_t(level[j - 1].offset);
                const int32_t right =
                    j + 1 == level.size() ? node4none : int32_t(level[j + 1].offset);
                const std::string where =
                    "level " + std::to_string(d) + ": node " + at(level[j].offset);
                if (level[j].left != left)
                    problem(where + " has left sibling " + std::to_string(level[j].left) +
                            ", expected " + std::to_string(left));
                if (level[j].right != right)
                    problem(where + " has right sibling " + std::to_string(level[j].right) +
                            ", expected " + std::to_string(right));
            }
        }
    }

    const uint8_t* data_;
    size_t size_;
    int keyLength_;
    uint8_t pad_;
    bool unique_;
    Walk walk_;
    std::unordered_set<uint32_t> seen_;
    std::vector<std::vector<LevelNode>> levels_;
};

class Checker {
  public:
    Checker(const uint8_t* data, size_t size, const index4checkOptions& options,
            index4checkReport* report)
        : data_(data),
          size_(size),
          options_(options),
          report_(report),
          problems_(options.maxProblems) {}

    void run() {
        if (size_ < size_t(tag4headerSize)) {
            problems_.add("the file has " + std::to_string(size_) +
                          " bytes, fewer than a directory header");
            return finish();
        }
        if (size_ > 0xFFFFFFFFu) {
            problems_.add("the file is larger than 32-bit offsets reach");
            return finish();
        }
        if (size_ % node4size != 0)
            problems_.add("the file length " + std::to_string(size_) + " is not a multiple of 512");
        owners_.assign(size_ / node4size, -1);

        tag4header directory;
        const int rc = tag4headerDecode(data_, &directory);
        if (rc != 0) {
            problems_.add("directory header: not a readable header (" + std::to_string(rc) + ")");
            return finish();
        }
        claim(0, 2, owner("the directory header"));
        if ((directory.options & tag4optCompound) != 0) {
            checkDirectory(directory);
        } else {
            checkTag("", 0, directory);
        }
        checkFreeList(directory.freeHead);
        checkAccounting();
        finish();
    }

  private:
    int owner(std::string name) {
        ownerNames_.push_back(std::move(name));
        return int(ownerNames_.size()) - 1;
    }

    void claim(uint32_t offset, int units, int id) {
        for (int u = 0; u < units; u++) {
            const size_t unit = offset / node4size + size_t(u);
            if (unit >= owners_.size()) continue;  // the node's own check reports it
            if (owners_[unit] >= 0)
                problems_.add("offset " + at(uint32_t(unit * node4size)) + " belongs to " +
                              ownerNames_[size_t(owners_[unit])] + " and to " +
                              ownerNames_[size_t(id)]);
            else
                owners_[unit] = id;
        }
    }

    void merge(Walk& walk, const std::string& label, int id) {
        for (std::string& p : walk.problems.take()) problems_.add(label + ": " + p);
        for (const uint32_t node : walk.nodes) claim(node, 1, id);
    }

    void checkDirectory(const tag4header& directory) {
        if (directory.keyLength != 10)
            problems_.add("the directory has key length " + std::to_string(directory.keyLength));
        Walk walk = TagWalker(data_, size_, directory.keyLength, kBlank, true, options_.maxProblems)
                        .run(directory.root);
        merge(walk, "directory", owner("the directory"));
        report_->directory = walk.entries;
        for (const index4checkEntry& e : walk.entries) {
            std::string name = e.key;
            while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
            const uint32_t offset = e.record;
            if (offset % node4size != 0 || offset < uint32_t(tag4headerSize) ||
                uint64_t(offset) + tag4headerSize > size_) {
                problems_.add("tag " + name + ": the directory points at " + at(offset) +
                              ", which is not a header of the file");
                continue;
            }
            tag4header header;
            const int rc = tag4headerDecode(data_ + offset, &header);
            claim(offset, 2, owner("the header of tag " + name));
            if (rc != 0) {
                problems_.add("tag " + name + ": the header at " + at(offset) +
                              " is not readable (" + std::to_string(rc) + ")");
                continue;
            }
            checkTag(name, offset, header);
        }
    }

    void checkTag(const std::string& name, uint32_t headerOffset, const tag4header& header) {
        const bool unique = (header.options & (tag4optUnique | tag4optCandidate)) != 0;
        auto walkWith = [&](uint8_t pad) {
            return TagWalker(data_, size_, header.keyLength, pad, unique, options_.maxProblems)
                .run(header.root);
        };
        uint8_t pad = 0;
        const auto given = options_.pads.find(name);
        if (given != options_.pads.end())
            pad = given->second;
        else if (!header.general)
            pad = kBlank;
        Walk walk = walkWith(pad);
        if (given == options_.pads.end() && !header.general && walk.problems.count() > 0) {
            Walk zero = walkWith(0);
            if (zero.problems.count() < walk.problems.count()) {
                walk = std::move(zero);
                pad = 0;
            }
        }
        index4checkTag tag;
        tag.name = name;
        tag.headerOffset = headerOffset;
        tag.header = header;
        tag.pad = pad;
        tag.levels = walk.levels;
        tag.entries = std::move(walk.entries);
        merge(walk, name.empty() ? "tag" : "tag " + name, owner("tag " + name));
        report_->tags.push_back(std::move(tag));
    }

    void checkFreeList(uint32_t head) {
        const int id = owner("the free list");
        std::unordered_set<uint32_t> seen;
        for (uint32_t offset = head; offset != 0;) {
            if (offset % node4size != 0 || offset < uint32_t(tag4headerSize) ||
                uint64_t(offset) + node4size > size_) {
                problems_.add("free list: offset " + at(offset) + " is not a node of the file");
                return;
            }
            if (!seen.insert(offset).second) {
                problems_.add("free list: node " + at(offset) + " comes round again (a cycle)");
                return;
            }
            claim(offset, 1, id);
            report_->freeNodes++;
            offset = node4freeNext(data_ + offset);
        }
    }

    void checkAccounting() {
        size_t unowned = 0;
        size_t first = 0;
        for (size_t u = 0; u < owners_.size(); u++) {
            if (owners_[u] >= 0) continue;
            if (unowned++ == 0) first = u;
        }
        if (unowned > 0)
            problems_.add(std::to_string(unowned) +
                          " units of 512 bytes belong to no header, tree or free list (the "
                          "first at offset " +
                          at(uint32_t(first * node4size)) + ")");
    }

    void finish() { report_->problems = problems_.take(); }

    const uint8_t* data_;
    size_t size_;
    const index4checkOptions& options_;
    index4checkReport* report_;
    Problems problems_;
    std::vector<int> owners_;  // per 512-byte unit: index into ownerNames_, -1 for none
    std::vector<std::string> ownerNames_;
};

}  // namespace

int index4checkImage(const uint8_t* data, size_t size, index4checkReport* report,
                     const index4checkOptions& options) {
    if ((data == nullptr && size > 0) || report == nullptr) return e4parmNull;
    *report = index4checkReport{};
    Checker(data, size, options, report).run();
    return 0;
}

int index4checkFile(const char* path, index4checkReport* report,
                    const index4checkOptions& options) {
    if (path == nullptr || report == nullptr) return e4parmNull;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return e4open;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) {
        ::close(fd);
        return e4read;
    }
    if (uint64_t(st.st_size) > 0xFFFFFFFFu) {
        ::close(fd);
        *report = index4checkReport{};
        report->problems.push_back("the file is larger than 32-bit offsets reach");
        return 0;
    }
    std::vector<uint8_t> image(size_t(st.st_size));
    size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = ::pread(fd, image.data() + done, image.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    ::close(fd);
    if (done != image.size()) return e4read;
    return index4checkImage(image.data(), image.size(), report, options);
}
