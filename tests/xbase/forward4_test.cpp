// Every forwarding entry gives the result and leaves the effect of the call
// it forwards to: each case runs once directly and once forwarded, each time
// in a fresh world, and the two accounts must be the same.
#include "xbase/forward4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "table_helpers.h"
#include "temp_dir.h"
#include "xbase/date4.h"
#include "xbase/field4.h"
#include "xbase/table4access.h"
#include "xbase/table4nav.h"
#include "xbase/table4write.h"

namespace {

const field4def kFields[] = {{"NAME", 'C', 6, 0, field4nullable},
                             {"BORN", 'D', 0, 0, 0},
                             {"CODE", 'Z', 3, 0, 0},
                             {"RATE", 'F', 6, 2, 0},
                             {nullptr, 0, 0, 0, 0}};

// An environment with the table "people" (0x30, two records) on record 2,
// whose NAME is null.
struct World {
    World() {
        (void)env4init(&env, env4version);
        env.compatibility = 30;
        env.accessMode = 1;
        t = table4create(&env, dir.file("people").c_str(), kFields, nullptr);
        if (t == nullptr) return;
        std::string first = blankRecord(t);
        putField(t, first, "NAME", "Ann");
        appendRaw(t, first);
        std::string second = blankRecord(t);
        putField(t, second, "BORN", "20240315");
        putField(t, second, "CODE", "xyz");
        putNull(t, second, "NAME");
        second[0] = '*';
        appendRaw(t, second);
        std::memcpy(t->record, second.data(), second.size());
        t->recNum = 2;
    }
    ~World() {
        env.errorCode = 0;
        (void)env4closeAll(&env);
        (void)env4release(&env);
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    field4* field(int n) { return &t->fields[n - 1]; }
    // What a call may have changed.
    std::string state() const {
        std::string s = "error " + std::to_string(env.errorCode) + ", tables " +
                        std::to_string(env.tables.nLink) + ", buffering " +
                        std::to_string(env.buffer.running);
        if (t != nullptr && list4contains(&env.tables, t))
            s += ", changed " + std::to_string(t->recordChanged) + ", record [" +
                 std::string(t->record, t->dataFile->recordLen) + "]";
        return s;
    }
    // Where a returned pointer points, and the text there.
    std::string at(const void* p) const {
        if (p == nullptr) return "null";
        auto c = static_cast<const char*>(p);
        auto fields = reinterpret_cast<const char*>(t->fields);
        if (c >= t->record && c < t->record + t->dataFile->recordLen)
            return "record+" + std::to_string(c - t->record);
        if (c >= fields && c < fields + sizeof(field4) * t->fieldCount)
            return "fields+" + std::to_string(c - fields) + " '" + c + "'";
        if (c == env.workBuffer) return "work '" + std::string(c) + "'";
        return "elsewhere";
    }
    // A table handle by its alias and shape.
    static std::string handle(const table4* h) {
        if (h == nullptr) return "null";
        return std::string(h->alias) + " fields " + std::to_string(h->fieldCount) + " width " +
               std::to_string(h->dataFile->recordLen);
    }

    TempDir dir;
    env4 env;
    table4* t = nullptr;
};

using Call = std::string (*)(World& w, bool forward);

struct Case {
    const char* entry;
    Call call;
    std::string expected;  // what the direct call gives; checked as well
};

const field4def kOther[] = {{"CITY", 'C', 9, 0, 0}, {nullptr, 0, 0, 0, 0}};
const field4def kBadType[] = {{"CITY", 'Q', 9, 0, 0}, {nullptr, 0, 0, 0, 0}};

// The result with the record number and count it leaves.
std::string moved(table4* t, int32_t rc) {
    return std::to_string(rc) + " record " + std::to_string(t->recNum) + " of " +
           std::to_string(table4recordCount(t));
}

const Case kCases[] = {
    {"table4appendForward",
     [](World& w, bool fw) {
         return moved(w.t, fw ? table4appendForward(w.t) : table4append(w.t));
     },
     "0 record 3 of 3"},
    {"table4beginAppendForward",
     [](World& w, bool fw) {
         return moved(w.t, fw ? table4beginAppendForward(w.t, 7) : table4beginAppend(w.t, 7));
     },
     "0 record 0 of 2"},
    {"table4skipForward",
     [](World& w, bool fw) {
         std::string back = moved(w.t, fw ? table4skipForward(w.t, -1) : table4skip(w.t, -1));
         return back + " / " + moved(w.t, fw ? table4skipForward(w.t, 5) : table4skip(w.t, 5));
     },
     "0 record 1 of 2 / 3 record 3 of 2"},
    {"table4goTopForward",
     [](World& w, bool fw) { return moved(w.t, fw ? table4goTopForward(w.t) : table4goTop(w.t)); },
     "0 record 1 of 2"},
    {"table4blankForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? table4blankForward(w.t) : table4blank(w.t));
     },
     "0"},
    {"table4closeForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? table4closeForward(w.t) : table4close(w.t));
     },
     "0"},
    {"table4createForward",
     [](World& w, bool fw) {
         std::string name = w.dir.file("places");
         table4* h = fw ? table4createForward(&w.env, name.c_str(), kOther, nullptr)
                        : table4create(&w.env, name.c_str(), kOther, nullptr);
         return World::handle(h);
     },
     "PLACES fields 1 width 10"},
    {"table4createForward refused",
     [](World& w, bool fw) {
         std::string name = w.dir.file("bad");
         table4* h = fw ? table4createForward(&w.env, name.c_str(), kBadType, nullptr)
                        : table4create(&w.env, name.c_str(), kBadType, nullptr);
         return World::handle(h);
     },
     "null"},
    {"table4isDeletedForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? table4isDeletedForward(w.t) : table4isDeleted(w.t));
     },
     "1"},
    {"table4fieldForward",
     [](World& w, bool fw) {
         return w.at(fw ? table4fieldForward(w.t, 2) : table4field(w.t, 2)) + " / " +
                w.at(fw ? table4fieldForward(w.t, 5) : table4field(w.t, 5));
     },
     "fields+" + std::to_string(sizeof(field4)) + " 'BORN' / null"},
    {"env4initForward",
     [](World&, bool fw) {
         env4 other;
         int32_t rc = fw ? env4initForward(&other) : env4init(&other, env4version);
         std::string s = std::to_string(rc) + " live " + std::to_string(env4isLive(&other)) +
                         " errGo " + std::to_string(other.errGo);
         (void)env4release(&other);
         return s;
     },
     "0 live 1 errGo 1"},
    {"table4fieldCountForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? table4fieldCountForward(w.t) : table4fieldCount(w.t));
     },
     "4"},
    {"table4openForward",
     [](World& w, bool fw) {
         std::string name = w.dir.file("people");
         w.env.singleOpen = 0;
         table4* h =
             fw ? table4openForward(&w.env, name.c_str()) : table4open(&w.env, name.c_str());
         std::string missing = w.dir.file("missing");
         table4* none =
             fw ? table4openForward(&w.env, missing.c_str()) : table4open(&w.env, missing.c_str());
         return World::handle(h) + " / " + World::handle(none);
     },
     "PEOPLE fields 5 width 25 / null"},
    {"buffer4startForward",
     [](World& w, bool fw) {
         w.env.buffer.blocked = 0;
         return std::to_string(fw ? buffer4startForward(&w.env) : buffer4start(&w.env));
     },
     "0"},
    {"buffer4suspendForward",
     [](World& w, bool fw) {
         w.env.buffer.blocked = 0;
         (void)buffer4start(&w.env);
         return std::to_string(fw ? buffer4suspendForward(&w.env) : buffer4suspend(&w.env));
     },
     "0"},
    {"table4recordCountForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? table4recordCountForward(w.t) : table4recordCount(w.t));
     },
     "2"},
    {"date4applyPictureForward",
     [](World&, bool fw) {
         char out[16];
         int32_t rc = fw ? date4applyPictureForward("20240315", out, "DD/MM/CCYY")
                         : date4applyPicture("20240315", out, "DD/MM/CCYY");
         return std::to_string(rc) + " " + out;
     },
     "0 15/03/2024"},
    {"field4assignForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? field4assignForward(w.field(1), "Zed")
                                  : field4assign(w.field(1), "Zed"));
     },
     "0"},
    {"field4nameForward",
     [](World& w, bool fw) {
         return w.at(fw ? field4nameForward(w.field(3)) : field4name(w.field(3)));
     },
     "fields+" + std::to_string(2 * sizeof(field4)) + " 'CODE'"},
    {"field4setTextForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? field4setTextForward(w.field(4), "1.5")
                                  : field4setText(w.field(4), "1.5")) +
                " " +
                std::to_string(fw ? field4setTextForward(w.field(1), nullptr)
                                  : field4setText(w.field(1), nullptr));
     },
     "0 0"},
    {"field4releaseTextForward",
     [](World& w, bool fw) {
         return std::to_string(fw ? field4releaseTextForward(w.field(1))
                                  : field4releaseText(w.field(1)));
     },
     "0"},
    {"field4textPointerForward",
     [](World& w, bool fw) {
         return w.at(fw ? field4textPointerForward(w.field(2)) : field4textPointer(w.field(2)));
     },
     "work '20240315'"},
    {"field4pointerForward",
     [](World& w, bool fw) {
         return w.at(fw ? field4pointerForward(w.field(3)) : field4pointer(w.field(3)));
     },
     "record+15"},
    {"field4stringForward",
     [](World& w, bool fw) {
         return w.at(fw ? field4stringForward(w.field(3)) : field4string(w.field(3)));
     },
     "work 'xyz'"},
    {"field4typeForward",
     [](World& w, bool fw) {
         return std::string(1, fw ? field4typeForward(w.field(3)) : field4type(w.field(3))) +
                std::string(1, fw ? field4typeForward(w.field(4)) : field4type(w.field(4)));
     },
     "ZN"},
};

TEST(Forwarding, EachEntryGivesTheResultAndEffectOfItsTarget) {
    for (const Case& c : kCases) {
        World direct, forwarded;
        ASSERT_NE(direct.t, nullptr);
        ASSERT_NE(forwarded.t, nullptr);
        std::string want = c.call(direct, false);
        std::string got = c.call(forwarded, true);
        EXPECT_EQ(want, c.expected) << c.entry;
        EXPECT_EQ(got, want) << c.entry;
        EXPECT_EQ(forwarded.state(), direct.state()) << c.entry;
    }
}

}  // namespace
