#pragma once
// Test helpers for the record layer: a table of people with three tags (a
// character tag, a numeric tag and a unique character tag), rows put through
// the field calls and appended, and the tags as the structural checker reads
// them from disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "error_capture.h"
#include "temp_dir.h"
#include "tree_file.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/index4.h"
#include "xbase/index4check.h"
#include "xbase/table4.h"
#include "xbase/table4access.h"
#include "xbase/table4nav.h"
#include "xbase/table4write.h"
#include "xbase/util4.h"

struct Person {
    std::string name;
    double amount = 0;
    std::string code;
    std::string note;
    bool operator==(const Person&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Person& p) {
    return out << "{" << p.name << ", " << p.amount << ", " << p.code << ", " << p.note << "}";
}

inline const field4def kPeopleFields[] = {{"NAME", 'C', 12, 0, 0},
                                          {"AMOUNT", 'N', 9, 2, 0},
                                          {"CODE", 'C', 6, 0, field4nullable},
                                          {"NOTE", 'C', 8, 0, 0},
                                          {nullptr, 0, 0, 0, 0}};

// CODE refuses duplicates with result 20.
inline const tag4def kPeopleTags[] = {{"NAME", "UPPER(NAME)", nullptr, 0, 0},
                                      {"AMOUNT", "AMOUNT", nullptr, 0, 0},
                                      {"CODE", "CODE", nullptr, 20, 0},
                                      {nullptr, nullptr, nullptr, 0, 0}};

inline std::string amountText(double amount) {
    char text[10];
    (void)c4dtoa(amount, text, 9, 2);
    return std::string(text, 9);
}

// Puts a person into the record buffer through the field calls.
inline void putPerson(table4* t, const Person& p) {
    ASSERT_EQ(field4assign(table4fieldByName(t, "NAME"), p.name.c_str()), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "AMOUNT"), amountText(p.amount).c_str()), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "CODE"), p.code.c_str()), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "NOTE"), p.note.c_str()), 0);
}

inline std::string trimmed(const char* bytes, int32_t n) {
    std::string s(bytes, size_t(n));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// The person in the record buffer.
inline Person personOf(table4* t) {
    auto text = [&](const char* name) {
        field4* f = table4fieldByName(t, name);
        return trimmed(field4pointer(f), field4length(f));
    };
    field4* amount = table4fieldByName(t, "AMOUNT");
    return Person{text("NAME"), c4atodN(field4pointer(amount), field4length(amount)), text("CODE"),
                  text("NOTE")};
}

// Appends a person as a live record: 0, 20 or the error.
inline int32_t appendPerson(table4* t, const Person& p) {
    int32_t rc = table4beginAppend(t, 0);
    if (rc == 0) rc = table4blank(t);
    if (rc != 0) return rc;
    putPerson(t, p);
    return table4append(t);
}

inline std::string indexPath(table4* t) {
    auto* index = static_cast<index4*>(list4first(&t->indexes));
    return index != nullptr ? index->indexFile->file.name : std::string();
}

// The tags as stored on disk (write everything back first), with the problems
// the checker finds.
inline index4checkReport checkIndex(const std::string& path) {
    index4checkReport report;
    index4checkOptions options;
    options.pads["AMOUNT"] = 0;
    EXPECT_EQ(index4checkFile(path.c_str(), &report, options), 0);
    return report;
}

// One tag's entries, each as "key|record" with the key's trailing blanks cut
// (numeric keys as the number they order).
inline std::vector<std::string> tagEntries(const index4checkReport& report, const char* tag) {
    std::vector<std::string> out;
    const index4checkTag* t = reportTag(report, tag);
    if (t == nullptr) return out;
    for (const index4checkEntry& e : t->entries) {
        std::string key = e.key;
        if (std::string(tag) == "AMOUNT") {
            // Ordered double: top bit set for values >= 0, all bits inverted below.
            uint8_t b[8];
            for (int i = 0; i < 8; ++i) b[i] = uint8_t(key[size_t(i)]);
            if (b[0] & 0x80)
                b[0] &= 0x7F;
            else
                for (uint8_t& x : b) x = uint8_t(~x);
            uint64_t bits = 0;
            for (uint8_t x : b) bits = bits << 8 | x;
            double v;
            std::memcpy(&v, &bits, 8);
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", v);
            key = text;
        } else {
            key.erase(key.find_last_not_of(' ') + 1);
        }
        out.push_back(key + "|" + std::to_string(e.record));
    }
    return out;
}

class PeopleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(env4init(&env, env4version), 0);
        env.lockAttempts = 1;
    }
    void TearDown() override {
        file4failWrite(0, 0);
        env.errorCode = 0;
        (void)env4closeAll(&env);
        EXPECT_EQ(env4release(&env), 0);
    }

    // Creates the table with its production index and opens it in `accessMode`.
    table4* create(const char* name = "people", int8_t accessMode = 1, bool v30 = false) {
        env.compatibility = v30 ? 30 : 0;
        env.accessMode = accessMode;
        table4* t = table4create(&env, dir.file(name).c_str(), kPeopleFields, kPeopleTags);
        EXPECT_NE(t, nullptr) << env.errorCode;
        return t;
    }
    // Opens another handle (or the first) in `accessMode`.
    table4* open(const char* name = "people", int8_t accessMode = 0) {
        env.accessMode = accessMode;
        env.singleOpen = 0;
        table4* t = table4open(&env, dir.file(name).c_str());
        EXPECT_NE(t, nullptr) << env.errorCode;
        return t;
    }
    int32_t clearError() { return error4setCode(&env, 0); }

    env4 env;
    TempDir dir;
    ErrorCapture errors;
};
