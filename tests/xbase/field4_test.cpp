#include "xbase/record/field4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "env_fixture.h"
#include "table_helpers.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/record/table4access.h"
#include "xbase/table/table4.h"

namespace {

// A 0x30 table with a field of each kind; NICK, CNT and every Pn may be null,
// NAME and NOTE may not, so the null bits are numbered apart from the fields.
const field4def kFields[] = {{"NAME", 'C', 5, 0, 0},
                             {"NICK", 'C', 4, 0, field4nullable},
                             {"WIDE", 'C', 300, 0, 0},
                             {"CODE", 'Z', 3, 0, 0},
                             {"AMOUNT", 'N', 6, 2, 0},
                             {"RATE", 'F', 7, 3, 0},
                             {"BORN", 'D', 0, 0, 0},
                             {"OK", 'L', 0, 0, 0},
                             {"CNT", 'I', 0, 0, field4nullable},
                             {"STAMP", 'T', 0, 0, 0},
                             {"MONEY", 'Y', 0, 0, 0},
                             {"RATIO", 'B', 0, 2, 0},
                             {"NOTE", 'X', 0, 0, 0},
                             {"P1", 'C', 1, 0, field4nullable},
                             {"P2", 'C', 1, 0, field4nullable},
                             {"P3", 'C', 1, 0, field4nullable},
                             {"P4", 'C', 1, 0, field4nullable},
                             {"P5", 'C', 1, 0, field4nullable},
                             {"P6", 'C', 1, 0, field4nullable},
                             {"P7", 'C', 1, 0, field4nullable},
                             {nullptr, 0, 0, 0, 0}};

class FieldAccess : public EnvFixture {
  protected:
    void SetUp() override {
        EnvFixture::SetUp();
        env.compatibility = 30;
        t = table4create(&env, dir.file("people").c_str(), kFields, nullptr);
        ASSERT_NE(t, nullptr);
    }
    field4* field(const char* name) {
        field4* f = fieldNamed(t, name);
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    std::string bytes(const char* name) {
        field4* f = field(name);
        return std::string(t->record + f->offset, f->len);
    }
    std::string record() const { return std::string(t->record, t->dataFile->recordLen); }
    // Sets every null bit of the record.
    void allNull() {
        field4* flags = &t->fields[t->fieldCount - 1];
        std::memset(t->record + flags->offset, 0xFF, flags->len);
    }
    std::vector<std::string> nullFields() {
        std::vector<std::string> out;
        for (int32_t i = 1; i <= table4fieldCount(t); ++i)
            if (field4isNull(table4field(t, i)) == 1) out.push_back(field4name(table4field(t, i)));
        return out;
    }

    table4* t = nullptr;
};

TEST_F(FieldAccess, AssignPadsWithBlanksAndCutsAtTheFieldLength) {
    struct Case {
        const char* field;
        const char* text;
        std::string stored;
    } cases[] = {
        {"NAME", "ABC", "ABC  "},   {"NAME", "ABCDEFG", "ABCDE"}, {"NAME", "", "     "},
        {"NAME", "ABCDE", "ABCDE"}, {"CODE", "xy", "xy "},        {"AMOUNT", "12.5", "12.5  "},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(table4blank(t), 0);
        std::string before = record();
        t->recordChanged = 0;
        EXPECT_EQ(field4assign(field(c.field), c.text), 0) << c.field << " " << c.text;
        EXPECT_EQ(bytes(c.field), c.stored) << c.field << " " << c.text;
        EXPECT_TRUE(t->recordChanged) << c.field;
        // Only the field's own bytes change.
        field4* f = field(c.field);
        std::string after = record();
        after.replace(f->offset, f->len, before.substr(f->offset, f->len));
        EXPECT_EQ(after, before) << c.field;
    }
}

TEST_F(FieldAccess, AssignBytesTakesCountedBytesAndRefusesAMissingSource) {
    field4* name = field("NAME");
    EXPECT_EQ(field4assignBytes(name, "A\0B", 3), 0);
    EXPECT_EQ(bytes("NAME"), std::string("A\0B  ", 5));
    EXPECT_EQ(field4assignBytes(name, "LONGER TEXT", 11), 0);
    EXPECT_EQ(bytes("NAME"), "LONGE");

    // A null source with bytes to copy changes nothing; with none it blanks.
    EXPECT_EQ(field4assignBytes(name, nullptr, 2), e4parmNull);
    EXPECT_EQ(bytes("NAME"), "LONGE");
    error4setCode(&env, 0);
    EXPECT_EQ(field4assignBytes(name, "xy", -1), e4parm);
    error4setCode(&env, 0);
    EXPECT_EQ(field4assignBytes(name, nullptr, 0), 0);
    EXPECT_EQ(bytes("NAME"), "     ");

    // Another field's bytes of the same record may be the source.
    ASSERT_EQ(field4assign(field("NICK"), "Bo"), 0);
    EXPECT_EQ(field4assignBytes(name, field4pointer(field("NICK")), 4), 0);
    EXPECT_EQ(bytes("NAME"), "Bo   ");
}

TEST_F(FieldAccess, BlankZeroesBinaryFieldsAndBlanksTheOthers) {
    struct Case {
        const char* field;
        char fill;
    } cases[] = {{"NAME", ' '},   {"WIDE", ' '},   {"CODE", '\0'},  {"AMOUNT", ' '},
                 {"RATE", ' '},   {"BORN", ' '},   {"OK", ' '},     {"CNT", '\0'},
                 {"STAMP", '\0'}, {"MONEY", '\0'}, {"RATIO", '\0'}, {"NOTE", ' '}};
    for (const Case& c : cases) {
        field4* f = field(c.field);
        std::memset(t->record + f->offset, 'x', f->len);
        t->recordChanged = 0;
        EXPECT_EQ(field4blank(f), 0);
        EXPECT_EQ(bytes(c.field), std::string(f->len, c.fill)) << c.field;
        EXPECT_TRUE(t->recordChanged) << c.field;
    }
}

TEST_F(FieldAccess, StringAndCopyStringGiveTerminatedCopies) {
    ASSERT_EQ(field4assign(field("NAME"), "Ann"), 0);
    ASSERT_EQ(field4assign(field("NICK"), "Annie"), 0);
    const char* s = field4string(field("NAME"));
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "Ann  ");
    EXPECT_NE(s, field4pointer(field("NAME")));  // a copy, not the record

    // The work buffer grows for a long field.
    std::string wide(300, 'w');
    ASSERT_EQ(field4assign(field("WIDE"), wide.c_str()), 0);
    s = field4string(field("WIDE"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), wide);

    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(field4copyString(field("NAME"), buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "Ann  ");
    EXPECT_EQ(field4copyString(field("NAME"), buffer, 3), 2);
    EXPECT_STREQ(buffer, "An");
    EXPECT_EQ(field4copyString(field("NAME"), buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(field4copyString(field("NAME"), buffer, 0), e4parm);
    error4setCode(&env, 0);
    EXPECT_EQ(field4copyString(field("NAME"), nullptr, 4), e4parmNull);
    error4setCode(&env, 0);

    // A memo-type field's text is its record bytes, terminated.
    ASSERT_EQ(field4assignBytes(field("NOTE"), "12345678", 8), 0);
    EXPECT_STREQ(field4textPointer(field("NOTE")), "1234");
    EXPECT_EQ(field4releaseText(field("NOTE")), 0);
}

TEST_F(FieldAccess, SetTextOfNullIsEmpty) {
    ASSERT_EQ(field4assign(field("NAME"), "Ann"), 0);
    EXPECT_EQ(field4setText(field("NAME"), nullptr), 0);
    EXPECT_EQ(bytes("NAME"), "     ");
    EXPECT_EQ(field4setText(field("BORN"), "20240229"), 0);
    EXPECT_EQ(bytes("BORN"), "20240229");
}

TEST_F(FieldAccess, NullBitsAreClearedByEveryWrite) {
    // Bits in field order among the nullable fields only: NICK 0, CNT 1,
    // P1 to P6 2 to 7, P7 bit 0 of the second byte.
    ASSERT_EQ(field("NICK")->nullBit, 0);
    ASSERT_EQ(field("CNT")->nullBit, 1);
    ASSERT_EQ(field("P7")->nullBit, 8);
    const std::vector<std::string> nullable = {"NICK", "CNT", "P1", "P2", "P3",
                                               "P4",   "P5",  "P6", "P7"};
    struct Op {
        const char* name;
        int32_t (*write)(field4*);
    } ops[] = {
        {"writePointer", [](field4* f) { return field4writePointer(f) != nullptr ? 0 : -1; }},
        {"assign", [](field4* f) { return field4assign(f, "1"); }},
        {"assignBytes", [](field4* f) { return field4assignBytes(f, "1", 1); }},
        {"blank", [](field4* f) { return field4blank(f); }},
        {"setText", [](field4* f) { return field4setText(f, "1"); }},
    };
    for (const Op& op : ops) {
        for (const std::string& name : nullable) {
            allNull();
            ASSERT_EQ(nullFields(), nullable);
            t->recordChanged = 0;
            ASSERT_EQ(op.write(field(name.c_str())), 0) << op.name << " " << name;
            EXPECT_EQ(field4isNull(field(name.c_str())), 0) << op.name << " " << name;
            EXPECT_TRUE(t->recordChanged) << op.name << " " << name;
            std::vector<std::string> rest = nullable;
            std::erase(rest, name);
            EXPECT_EQ(nullFields(), rest) << op.name << " " << name;
        }
        // A field that cannot be null leaves every bit alone.
        allNull();
        ASSERT_EQ(op.write(field("NAME")), 0) << op.name;
        EXPECT_EQ(nullFields(), nullable) << op.name;
    }
    allNull();
    ASSERT_EQ(table4blank(t), 0);
    EXPECT_TRUE(nullFields().empty());
}

TEST_F(FieldAccess, MissingOrShortNullFlagsAreDamage) {
    field4* flags = &t->fields[t->fieldCount - 1];
    field4* p7 = field("P7");
    flags->len = 1;  // bit 8 no longer fits
    EXPECT_EQ(field4isNull(p7), e4data);
    error4setCode(&env, 0);
    std::memset(t->record + p7->offset, 'x', 1);
    EXPECT_EQ(field4assign(p7, "y"), e4data);
    EXPECT_EQ(bytes("P7"), "x");
    error4setCode(&env, 0);
    flags->len = 2;
    flags->type = 'C';
    EXPECT_EQ(field4writePointer(field("NICK")), nullptr);
    EXPECT_EQ(env.errorCode, e4data);
    error4setCode(&env, 0);
    flags->type = '0';
}

TEST_F(FieldAccess, NothingIsWrittenWhileAnErrorIsPending) {
    ASSERT_EQ(field4assign(field("NAME"), "Ann"), 0);
    allNull();
    t->recordChanged = 0;
    std::string before = record();
    error4setCode(&env, e4read);
    EXPECT_EQ(field4assign(field("NICK"), "Bo"), e4codeBase);
    EXPECT_EQ(field4assignBytes(field("NICK"), "Bo", 2), e4codeBase);
    EXPECT_EQ(field4blank(field("NICK")), e4codeBase);
    EXPECT_EQ(field4setText(field("NICK"), "Bo"), e4codeBase);
    EXPECT_EQ(field4writePointer(field("NICK")), nullptr);
    EXPECT_EQ(table4blank(t), e4codeBase);
    EXPECT_EQ(record(), before);
    EXPECT_FALSE(t->recordChanged);
    EXPECT_EQ(env.errorCode, e4read);
    // Reading goes on.
    EXPECT_STREQ(field4string(t->fields), "Ann  ");
}

TEST_F(FieldAccess, AFieldWithoutATableIsRefused) {
    field4 loose{};
    loose.len = 3;
    EXPECT_EQ(field4assign(&loose, "abc"), e4struct);
    EXPECT_EQ(field4blank(&loose), e4struct);
    EXPECT_EQ(field4string(&loose), nullptr);
    EXPECT_EQ(field4isNull(&loose), e4struct);
    EXPECT_EQ(field4assign(nullptr, "abc"), e4parmNull);
    EXPECT_EQ(field4assign(field("NAME"), nullptr), e4parmNull);
    EXPECT_EQ(field4type(nullptr), 0);
    EXPECT_EQ(field4name(nullptr), nullptr);
}

TEST_F(FieldAccess, TypesAsCallersSeeThem) {
    struct Case {
        const char* field;
        char type;
        int32_t length;
    } cases[] = {{"NAME", 'C', 5},  {"WIDE", 'C', 300}, {"CODE", 'Z', 3},  {"AMOUNT", 'N', 6},
                 {"RATE", 'N', 7},  {"BORN", 'D', 8},   {"OK", 'L', 1},    {"CNT", 'I', 4},
                 {"STAMP", 'T', 8}, {"MONEY", 'Y', 8},  {"RATIO", 'B', 8}, {"NOTE", 'X', 4}};
    for (const Case& c : cases) {
        field4* f = field(c.field);
        EXPECT_EQ(field4type(f), c.type) << c.field;
        EXPECT_EQ(field4length(f), c.length) << c.field;
        EXPECT_STREQ(field4name(f), c.field);
    }
    EXPECT_EQ(field("CODE")->type, 'C');  // stored as C with the binary flag
    EXPECT_EQ(field("RATE")->type, 'F');
    EXPECT_EQ(field("NOTE")->type, 'M');
}

}  // namespace
