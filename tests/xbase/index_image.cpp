#include "index_image.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "xbase/key4.h"
#include "xbase/node4.h"

namespace {

constexpr uint32_t kNone = uint32_t(node4none);

// Writes one tree from sorted keys the way a rebuild does: keys are appended to the current
// leaf; a leaf that cannot take the next key is written at the next free position and its
// last key goes up as a branch entry; a branch that reaches `fill` entries is written and
// passes its last entry up in turn. At the end the open node of every level is written,
// bottom-up, the top one as the root.
class TreeWriter {
  public:
    TreeWriter(std::vector<uint8_t>& image, uint32_t& next, int keyLength, uint8_t pad,
               const leaf4widths& widths, int fill, bool storeTrailingPads)
        : image_(image),
          next_(next),
          keyLength_(keyLength),
          pad_(pad),
          widths_(widths),
          fill_(fill),
          storeTrail_(storeTrailingPads) {
        levels_.emplace_back();
        leaf4view::format(levels_[0].node.data(), node4leaf, widths_);
    }

    void add(const std::string& key, uint32_t record) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
        const int trail = storeTrail_ ? leaf4trailCount(bytes, keyLength_, pad_) : 0;
        if (appendToLeaf(bytes, record, trail) == node4noRoom) {
            finishLeaf();
            leaf4view::format(levels_[0].node.data(), node4leaf, widths_);
            if (appendToLeaf(bytes, record, trail) != 0)
                throw std::logic_error("a key does not fit an empty leaf");
        }
        lastKey_ = key;
        lastRecord_ = record;
    }

    // Writes the open nodes; returns the root's offset and the number of levels.
    uint32_t finish(int* levels) {
        const bool single = levels_.size() == 1;
        uint32_t below = write(0, single ? node4rootLeaf : node4leaf);
        for (size_t level = 1; level < levels_.size(); level++) {
            if (branch(level).append(key(lastKey_), lastRecord_, below) != 0)
                throw std::logic_error("a branch has no room for its last child");
            below = write(level, level + 1 == levels_.size() ? node4rootBranch : node4branch);
        }
        // Sibling offsets, level by level, from the order the nodes were written in.
        for (const Level& level : levels_) {
            for (size_t j = 0; j < level.written.size(); j++) {
                node4header h = node4headerRead(&image_[level.written[j]]);
                h.left = j == 0 ? node4none : int32_t(level.written[j - 1]);
                h.right = j + 1 == level.written.size() ? node4none : int32_t(level.written[j + 1]);
                node4headerWrite(&image_[level.written[j]], h);
            }
        }
        *levels = int(levels_.size());
        return below;
    }

  private:
    struct Level {
        std::array<uint8_t, node4size> node{};
        std::vector<uint32_t> written;
    };

    const uint8_t* key(const std::string& k) const {
        return reinterpret_cast<const uint8_t*>(k.data());
    }

    int appendToLeaf(const uint8_t* key, uint32_t record, int trail) {
        leaf4view leaf;
        if (leaf.attach(levels_[0].node.data(), keyLength_, pad_) != 0)
            throw std::logic_error("the open leaf does not check");
        return leaf.append(key, record, trail);
    }

    branch4view branch(size_t level) {
        if (level == levels_.size()) {
            levels_.emplace_back();
            branch4view::format(levels_[level].node.data(), node4branch);
        }
        branch4view view;
        if (view.attach(levels_[level].node.data(), keyLength_) != 0)
            throw std::logic_error("the open branch does not check");
        return view;
    }

    uint32_t write(size_t level, uint16_t attribute) {
        Level& l = levels_[level];
        node4header h = node4headerRead(l.node.data());
        h.attribute = attribute;
        node4headerWrite(l.node.data(), h);
        const uint32_t at = next_;
        next_ += node4size;
        if (image_.size() < next_) image_.resize(next_);
        std::copy(l.node.begin(), l.node.end(), image_.begin() + at);
        l.written.push_back(at);
        return at;
    }

    void finishLeaf() {
        const uint32_t at = write(0, node4leaf);
        pushUp(1, lastKey_, lastRecord_, at);
    }

    void pushUp(size_t level, const std::string& k, uint32_t record, uint32_t child) {
        branch4view view = branch(level);
        if (view.append(key(k), record, child) != 0)
            throw std::logic_error("a branch has no room for a child");
        if (view.count() < fill_) return;
        const uint32_t at = write(level, node4branch);
        branch4view::format(levels_[level].node.data(), node4branch);
        pushUp(level + 1, k, record, at);
    }

    std::vector<uint8_t>& image_;
    uint32_t& next_;
    int keyLength_;
    uint8_t pad_;
    leaf4widths widths_;
    int fill_;
    bool storeTrail_;
    std::vector<Level> levels_;
    std::string lastKey_;
    uint32_t lastRecord_ = 0;
};

void check(int rc, const char* what) {
    if (rc != 0) throw std::runtime_error(std::string(what) + " failed: " + std::to_string(rc));
}

uint32_t writeTree(std::vector<uint8_t>& image, uint32_t& next, int keyLength, uint8_t pad,
                   uint32_t records, int fill, bool storeTrail,
                   std::vector<index4checkEntry> entries, int* levels) {
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.key != b.key ? a.key < b.key : a.record < b.record;
    });
    leaf4widths widths;
    check(leaf4widthsFor(keyLength, records, leaf4start::rebuilt, &widths), "leaf widths");
    TreeWriter writer(image, next, keyLength, pad, widths, fill, storeTrail);
    for (const index4checkEntry& e : entries) {
        if (int(e.key.size()) != keyLength) throw std::invalid_argument("key of the wrong length");
        writer.add(e.key, e.record);
    }
    return writer.finish(levels);
}

}  // namespace

std::string padKey(const std::string& text, int length, char pad) {
    std::string key = text.substr(0, size_t(length));
    key.resize(size_t(length), pad);
    return key;
}

IndexImage buildIndexImage(const std::vector<IndexImageTag>& tags, uint32_t records) {
    IndexImage out;
    const auto tagCount = uint32_t(tags.size());
    int fill = branch4capacity(10);
    for (const IndexImageTag& t : tags) fill = std::min(fill, branch4capacity(t.keyLength));

    uint32_t next = (tagCount + 1) * tag4headerSize;
    out.bytes.assign(next, 0);

    std::vector<index4checkEntry> names;
    for (uint32_t k = 0; k < tagCount; k++)
        names.push_back({padKey(tags[k].name, 10), (k + 1) * tag4headerSize});
    int directoryLevels = 0;
    out.directoryRoot = writeTree(out.bytes, next, 10, ' ', tagCount * tag4headerSize, fill, true,
                                  names, &directoryLevels);
    for (const IndexImageTag& t : tags) {
        int levels = 0;
        out.roots.push_back(writeTree(out.bytes, next, t.keyLength, t.pad, records, fill,
                                      t.storeTrailingPads, t.entries, &levels));
        out.levels.push_back(levels);
    }

    check(tag4headerEncode(tag4headerDirectory(out.directoryRoot), out.bytes.data()),
          "directory header");
    for (uint32_t k = 0; k < tagCount; k++) {
        const IndexImageTag& t = tags[k];
        tag4header h;
        h.root = out.roots[k];
        h.keyLength = uint16_t(t.keyLength);
        h.options = uint8_t(t.options | (t.filter.empty() ? 0 : tag4optFilter));
        h.general = t.general;
        h.descending = t.descending;
        h.expression = t.expression;
        h.filter = t.filter;
        check(tag4headerEncode(h, out.bytes.data() + (k + 1) * tag4headerSize), "tag header");
    }
    return out;
}

std::string runIndexDump(const std::string& path, const std::string& tag, const std::string& type) {
    // The only independent check of index files: a missing reader fails the check that
    // needed it, never skips it.
    if (access("/usr/bin/index_dump", X_OK) != 0)
        return "/usr/bin/index_dump is missing (scripts/install-deps installs it)";
    // The arguments are the test's own temporary paths and tag names: no shell quoting
    // beyond single quotes is needed.
    std::string command = "/usr/bin/index_dump -type=" + type + " '" + path + "'";
    if (!tag.empty()) command += " '" + tag + "'";
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "index_dump could not be started";
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string indexDumpDifference(const std::string& path, const index4checkTag& tag, bool numeric) {
    std::vector<std::string> dumped;
    std::istringstream in(runIndexDump(path, tag.name, numeric ? "num" : "char"));
    for (std::string line; std::getline(in, line);) dumped.push_back(line);
    if (dumped.size() != tag.entries.size())
        return tag.name + ": index_dump lists " + std::to_string(dumped.size()) +
               " entries, the file holds " + std::to_string(tag.entries.size());
    for (size_t i = 0; i < dumped.size(); i++) {
        const std::string& line = dumped[i];
        const index4checkEntry& e = tag.entries[i];
        const size_t space = line.rfind(' ');
        const std::string where = tag.name + " entry " + std::to_string(i) + ": \"" + line + "\"";
        if (space == std::string::npos) return where + " has no record number";
        if (std::strtoul(line.c_str() + space + 1, nullptr, 10) != e.record)
            return where + ", expected record " + std::to_string(e.record);
        if (numeric) {
            uint8_t key[8];
            key4fromDouble(key, std::strtod(line.substr(0, space).c_str(), nullptr));
            if (std::string(reinterpret_cast<char*>(key), 8) != e.key) return where + ": other key";
        } else {
            std::string expected = e.key;
            while (!expected.empty() && expected.back() == ' ') expected.pop_back();
            if (line.substr(0, space) != expected) return where + ", expected \"" + expected + "\"";
        }
    }
    return "";
}
