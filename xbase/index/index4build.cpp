#include "xbase/index/index4build.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/file/file4.h"
#include "xbase/index/index4file.h"
#include "xbase/index/index4header.h"
#include "xbase/index/sort4.h"
#include "xbase/index/tag4.h"

namespace {

// Writes one tree from keys in sorted order, the way the format's rebuild lays it out:
// keys go into the current leaf; a leaf that cannot take the next key is written at the
// next position and its last entry goes up as a branch entry; a branch that reaches
// `capacity` entries is written and passes its last entry up in turn. At the end the open
// node of every level is written bottom-up, the top one as the root. Left offsets are
// known when a node is written; right offsets are set afterwards from the order each
// level was written in.
class TreeWriter {
  public:
    TreeWriter(tag4file* tag, file4seqWriter* writer, int32_t* next, int capacity,
               const leaf4widths& widths)
        : tag_(tag), writer_(writer), next_(next), capacity_(capacity), widths_(widths) {
        levels_.emplace_back();
        leaf4view::format(levels_[0].node, node4leaf, widths_);
    }

    int32_t add(const uint8_t* key, uint32_t record) {
        const int K = tag_->keyLength;
        const int trail = tag_->noTrail ? 0 : leaf4trailCount(key, K, tag_->pad);
        int32_t rc = appendToLeaf(key, record, trail);
        if (rc == node4noRoom) {
            if ((rc = finishLeaf()) != 0) return rc;
            leaf4view::format(levels_[0].node, node4leaf, widths_);
            leafAttached_ = false;  // a new leaf, and the levels may have moved in memory
            rc = appendToLeaf(key, record, trail);
            if (rc == node4noRoom) rc = error4raise(tag_->env, e4info, E4LOC(92601));
        }
        if (rc != 0) return rc;
        lastKey_.assign(key, key + K);
        lastRecord_ = record;
        return 0;
    }

    // Writes the open nodes; *root is the root's offset.
    int32_t finish(uint32_t* root) {
        const bool single = levels_.size() == 1;
        int32_t below = 0;
        int32_t rc = write(0, single ? node4rootLeaf : node4leaf, &below);
        for (size_t level = 1; rc == 0 && level < levels_.size(); level++) {
            rc = appendToBranch(level, uint32_t(below));
            if (rc >= 0)
                rc = write(level, level + 1 == levels_.size() ? node4rootBranch : node4branch,
                           &below);
        }
        if (rc != 0) return rc;
        *root = uint32_t(below);
        return 0;
    }

    // The right offsets of every node but the last of each level.
    int32_t linkRight(file4* file) {
        for (const Level& level : levels_) {
            for (size_t j = 0; j + 1 < level.written.size(); j++) {
                const bytes4slice right = node4encodeRight(level.written[j + 1]);
                const int32_t rc =
                    file4write(file, level.written[j] + right.offset, right.bytes, right.size);
                if (rc < 0) return rc;
            }
        }
        return 0;
    }

  private:
    struct Level {
        uint8_t node[node4size];
        std::vector<int32_t> written;
    };

    // One view stays on the filling leaf: it keeps the last key it appended, so each append
    // compares with it directly instead of validating the leaf and rebuilding that key from
    // the leaf's first entry (which made filling a leaf quadratic in its entries). It is
    // attached again whenever the leaf was formatted anew.
    int32_t appendToLeaf(const uint8_t* key, uint32_t record, int trail) {
        if (!leafAttached_) {
            if (leaf_.attach(levels_[0].node, tag_->keyLength, tag_->pad) != 0)
                return error4raise(tag_->env, e4info, E4LOC(92602));
            leafAttached_ = true;
        }
        return leaf_.append(key, record, trail);
    }

    // Adds the last key written, over `child`, to the branch filling at `level`: the
    // branch's entry count, or -910 when it has no room (it is written once full).
    int32_t appendToBranch(size_t level, uint32_t child) {
        branch4view view;
        if (view.attach(levels_[level].node, tag_->keyLength) != 0 ||
            view.append(lastKey_.data(), lastRecord_, child) != 0)
            return error4raise(tag_->env, e4info, E4LOC(92603));
        return view.count();
    }

    int32_t write(size_t level, uint16_t attribute, int32_t* at) {
        Level& l = levels_[level];
        node4header h = node4headerRead(l.node);
        h.attribute = attribute;
        h.left = l.written.empty() ? node4none : l.written.back();
        h.right = node4none;
        node4headerWrite(l.node, h);
        *at = *next_;
        const int32_t rc = file4seqWrite(writer_, l.node, node4size);
        if (rc < 0) return rc;
        *next_ += node4size;
        l.written.push_back(*at);
        return 0;
    }

    int32_t finishLeaf() {
        int32_t at = 0;
        const int32_t rc = write(0, node4leaf, &at);
        return rc != 0 ? rc : pushUp(1, at);
    }

    int32_t pushUp(size_t level, int32_t child) {
        if (level == levels_.size()) {
            levels_.emplace_back();
            branch4view::format(levels_[level].node, node4branch);
        }
        int32_t rc = appendToBranch(level, uint32_t(child));
        if (rc < 0) return rc;
        if (rc < capacity_) return 0;
        int32_t at = 0;
        rc = write(level, node4branch, &at);
        if (rc != 0) return rc;
        branch4view::format(levels_[level].node, node4branch);
        return pushUp(level + 1, at);
    }

    tag4file* tag_;
    file4seqWriter* writer_;
    int32_t* next_;
    int capacity_;
    leaf4widths widths_;
    std::vector<Level> levels_;
    std::vector<uint8_t> lastKey_;
    uint32_t lastRecord_ = 0;
    leaf4view leaf_;
    bool leafAttached_ = false;
};

template <typename Each>
void forEachTag(index4file* f, Each each) {
    for (auto* t = static_cast<tag4file*>(list4first(&f->tags)); t != nullptr;
         t = static_cast<tag4file*>(list4next(&f->tags, t)))
        each(t);
}

bool isUnique(const tag4file* t) {
    return (t->options & (tag4optUnique | tag4optCandidate)) != 0;
}

// Writes one tag's tree from its sort. 0, 20 or an error.
int32_t writeTree(tag4file* t, sort4* sort, file4seqWriter* w, int32_t* next, int capacity,
                  uint32_t records, int16_t code, TreeWriter** kept) {
    leaf4widths widths;
    if (leaf4widthsFor(t->keyLength, records, leaf4start::rebuilt, &widths) < 0)
        return error4raiseText(t->env, e4index, E4LOC(92610), t->alias);
    auto* writer = new TreeWriter(t, w, next, capacity, widths);
    *kept = writer;
    int32_t rc = sort4getInit(sort);
    std::vector<uint8_t> previous;
    while (rc == 0) {
        int32_t record = 0;
        void* key = nullptr;
        void* info = nullptr;
        rc = sort4get(sort, &record, &key, &info);
        if (rc != 0) break;
        const auto* k = static_cast<const uint8_t*>(key);
        if (isUnique(t) && !previous.empty() &&
            std::memcmp(previous.data(), k, t->keyLength) == 0) {
            if (code == tag4uniqueKeep) continue;
            if (code == tag4uniqueRefuse || code == tag4candidateRefuse) return r4unique;
            if (code != 0)
                return error4raiseText(t->env, e4unique, E4LOC(92611), t->alias,
                                       t->indexFile->file.name);
        }
        previous.assign(k, k + t->keyLength);
        rc = writer->add(k, uint32_t(record));
    }
    if (rc < 0) return rc;
    uint32_t root = 0;
    if ((rc = writer->finish(&root)) != 0) return rc;
    tag4setRoot(t, root);
    return 0;
}

int16_t directoryCode(tag4file*, void*) {
    return tag4uniqueError;
}

// The directory's keys: the tag names, blank-padded, with their header offsets.
int32_t directorySource(tag4file* dir, sort4* sort, void*) {
    index4file* f = dir->indexFile;
    int32_t rc = 0;
    forEachTag(f, [&](tag4file* t) {
        char name[tag4nameLength];
        std::memset(name, ' ', sizeof name);
        std::memcpy(name, t->alias, std::strlen(t->alias));
        if (rc == 0) rc = sort4put(sort, int32_t(t->headerOffset), name, nullptr);
    });
    return rc;
}

int32_t writeHeaders(index4file* f) {
    uint8_t bytes[tag4headerSize];
    auto headerOf = [&](tag4file* t, bool directory) {
        tag4header h;
        if (directory) {
            h = tag4headerDirectory(tag4root(t));
            h.freeHead = 0;
            h.changeCounter = f->version;
        } else {
            h.root = tag4root(t);
            h.keyLength = t->keyLength;
            h.options = t->options;
            h.general = t->general != 0;
            h.descending = t->descending != 0;
            h.expression = t->exprText != nullptr ? t->exprText : "";
            h.filter = t->filterText != nullptr ? t->filterText : "";
            if (t->headerOffset == 0) {
                h.freeHead = 0;
                h.changeCounter = f->version;
            }
        }
        return h;
    };
    // The header holding the change counter last: a reader that sees the new counter finds
    // the new tag headers.
    int32_t rc = 0;
    forEachTag(f, [&](tag4file* t) {
        if (rc != 0) return;
        rc = tag4headerEncode(headerOf(t, false), bytes);
        if (rc < 0) rc = error4raiseText(f->env, e4tagInfo, E4LOC(92620), t->alias);
        if (rc == 0) rc = file4write(&f->file, int32_t(t->headerOffset), bytes, tag4headerSize);
    });
    if (rc == 0 && f->directory != nullptr) {
        rc = tag4headerEncode(headerOf(f->directory, true), bytes);
        if (rc == 0) rc = file4write(&f->file, 0, bytes, tag4headerSize);
    }
    return rc;
}

}  // namespace

int32_t index4build(index4file* f, index4keySource source, index4codeOf code, void* context) {
    if (f == nullptr || source == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92630));
    env4* env = f->env;
    if (error4pending(env)) return e4codeBase;

    // Nothing cached survives: every node is written anew.
    int32_t rc = 0;
    int tags = 0;
    int capacity = branch4capacity(10);
    if (f->directory != nullptr) rc = tag4releaseNodes(f->directory);
    forEachTag(f, [&](tag4file* t) {
        if (rc == 0) rc = tag4releaseNodes(t);
        tags++;
        capacity = std::min(capacity, branch4capacity(t->keyLength));
        if (t->keyLength < 1 || t->keyLength > tag4maxKeyLength)
            rc = error4raiseText(env, e4index, E4LOC(92631), t->alias);
    });
    if (rc < 0) return rc;
    if (f->directory != nullptr) {
        int k = 1;
        forEachTag(f, [&](tag4file* t) { t->headerOffset = uint32_t(k++ * tag4headerSize); });
    }
    if (f->file.accessMode == 0) index4versionAdvance(f);

    std::vector<char> buffer(size_t(std::max(env->memSizeSortBuffer, 1024)) / 1024 * 1024);
    file4seqWriter w;
    int32_t next = f->directory != nullptr ? (tags + 1) * tag4headerSize : tag4headerSize;
    file4seqWriteInit(&w, &f->file, next, buffer.data(), int32_t(buffer.size()));
    std::vector<TreeWriter*> writers;

    auto buildOne = [&](tag4file* t, index4keySource from, int16_t dupCode, uint32_t records,
                        void* ctx) -> int32_t {
        sort4 sort;
        std::memset(&sort, 0, sizeof sort);
        int32_t r = sort4init(&sort, env, t->keyLength, 0);
        if (r == 0) r = from(t, &sort, ctx);
        TreeWriter* writer = nullptr;
        if (r == 0) r = writeTree(t, &sort, &w, &next, capacity, records, dupCode, &writer);
        if (writer != nullptr) writers.push_back(writer);
        sort4free(&sort);
        return r;
    };
    if (f->directory != nullptr)
        rc = buildOne(f->directory, directorySource, directoryCode(nullptr, nullptr),
                      uint32_t(tags * tag4headerSize), nullptr);
    const uint32_t records = index4recordCount(f);
    forEachTag(f, [&](tag4file* t) {
        if (rc == 0)
            rc = buildOne(t, source, code != nullptr ? code(t, context) : int16_t(0), records,
                          context);
    });
    if (rc == 0) rc = file4seqWriteFlush(&w);
    for (TreeWriter* writer : writers) {
        if (rc == 0) rc = writer->linkRight(&f->file);
        delete writer;
    }
    if (rc != 0) return rc;
    if ((rc = writeHeaders(f)) < 0) return rc;
    if ((rc = file4setLength(&f->file, next)) < 0) return rc;
    f->fileLength = next;
    f->freeHead = 0;
    f->versionOld = f->version;
    return 0;
}
