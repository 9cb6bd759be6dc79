#include "xbase/record/table4access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "env_fixture.h"
#include "table_helpers.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/record/field4.h"
#include "xbase/table/table4.h"

namespace {

const field4def kPlain[] = {{"NAME", 'C', 6, 0, 0}, {"CNT", 'N', 3, 0, 0}, {nullptr, 0, 0, 0, 0}};
const field4def kNullable[] = {{"NAME", 'C', 4, 0, field4nullable},
                               {"CNT", 'I', 0, 0, 0},
                               {"MONEY", 'Y', 0, 0, field4nullable},
                               {nullptr, 0, 0, 0, 0}};

class HandleAccess : public EnvFixture {
  protected:
    table4* create(const char* name, const field4def* defs, int compatibility = 0) {
        env.compatibility = compatibility;
        table4* t = table4create(&env, dir.file(name).c_str(), defs, nullptr);
        EXPECT_NE(t, nullptr) << name;
        return t;
    }
};

TEST_F(HandleAccess, FieldCountLeavesOutNullFlags) {
    table4* t = create("nulls", kNullable, 30);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->fieldCount, 4);  // with _NullFlags
    EXPECT_EQ(table4fieldCount(t), 3);
    EXPECT_STREQ(field4name(table4field(t, 1)), "NAME");
    EXPECT_STREQ(field4name(table4field(t, 3)), "MONEY");
    // The flags field is the library's own: out of reach by number and name.
    EXPECT_EQ(table4field(t, 4), nullptr);
    EXPECT_EQ(env.errorCode, e4parm);
    error4setCode(&env, 0);
    EXPECT_EQ(table4field(t, 0), nullptr);
    EXPECT_EQ(env.errorCode, e4parm);
    error4setCode(&env, 0);
    env.errFieldName = 0;
    EXPECT_EQ(table4fieldByName(t, "_NullFlags"), nullptr);

    table4* plain = create("plain", kPlain);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(table4fieldCount(plain), 2);
}

TEST_F(HandleAccess, FieldByNameIgnoresCaseAndSurroundingBlanks) {
    table4* t = create("people", kPlain);
    ASSERT_NE(t, nullptr);
    for (const char* name : {"NAME", "name ", "  Name  ", "nAmE"})
        EXPECT_EQ(table4fieldByName(t, name), &t->fields[0]) << "'" << name << "'";
    EXPECT_EQ(table4fieldByName(t, "cnt"), &t->fields[1]);
    std::string longName = "name" + std::string(300, ' ');  // blanks past the 255 read
    EXPECT_EQ(table4fieldByName(t, longName.c_str()), &t->fields[0]);

    EXPECT_EQ(table4fieldByName(t, "NAMES"), nullptr);
    EXPECT_EQ(env.errorCode, e4fieldName);
    // While that error is pending nothing is found.
    EXPECT_EQ(table4fieldByName(t, "NAME"), nullptr);
    error4setCode(&env, 0);
    env.errFieldName = 0;
    EXPECT_EQ(table4fieldByName(t, "NAMES"), nullptr);
    EXPECT_EQ(env.errorCode, 0);
    EXPECT_EQ(table4fieldByName(t, ""), nullptr);
}

TEST_F(HandleAccess, OnlyAStarMarksARecordDeleted) {
    table4* t = create("people", kPlain);
    ASSERT_NE(t, nullptr);
    struct Case {
        char byte;
        int32_t deleted;
    } cases[] = {{'*', 1}, {' ', 0}, {'#', 0}, {'D', 0}, {'\0', 0}, {'\x1A', 0}, {'\xFF', 0}};
    for (const Case& c : cases) {
        t->record[0] = c.byte;
        EXPECT_EQ(table4isDeleted(t), c.deleted) << static_cast<int>(c.byte);
    }
    EXPECT_EQ(env.errorCode, 0);
}

TEST_F(HandleAccess, BlankFillsFromTheTemplateAndMarksTheRecordChanged) {
    table4* plain = create("plain", kPlain);
    table4* nulls = create("nulls", kNullable, 30);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(nulls, nullptr);
    for (table4* t : {plain, nulls}) {
        int32_t width = table4recordWidth(t);
        std::memset(t->record, '*', width);
        t->recordChanged = 0;
        EXPECT_EQ(table4blank(t), 0);
        EXPECT_TRUE(t->recordChanged);
        EXPECT_EQ(table4isDeleted(t), 0);
        EXPECT_EQ(std::string(t->record, width), blankRecord(t));
    }
    // Binary fields and the null flags are zero in a 0x30 blank record.
    EXPECT_EQ(std::string(field4pointer(table4field(nulls, 2)), 4), std::string(4, '\0'));
    EXPECT_EQ(field4isNull(table4field(nulls, 1)), 0);
    EXPECT_EQ(std::string(plain->record, table4recordWidth(plain)), std::string(10, ' '));
}

TEST_F(HandleAccess, RecordGeometryAndPosition) {
    env.accessMode = 1;
    table4* t = create("people", kPlain);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(table4recordWidth(t), 10);
    EXPECT_EQ(table4recordNumber(t), -1);
    EXPECT_EQ(table4recordBuffer(t), t->record);
    EXPECT_EQ(table4recordCount(t), 0);
    ASSERT_EQ(appendRaw(t, blankRecord(t)), 0);
    ASSERT_EQ(appendRaw(t, blankRecord(t)), 0);
    EXPECT_EQ(table4recordCount(t), 2);
    int32_t header = t->dataFile->headerLen;
    EXPECT_EQ(table4recordPosition(t, 1), header);
    EXPECT_EQ(table4recordPosition(t, 3), header + 20);
    EXPECT_EQ(table4recordPosition(t, 0), e4parm);
    error4setCode(&env, 0);
    EXPECT_EQ(table4recordPosition(t, -5), e4parm);
    error4setCode(&env, 0);
    // Past the 32-bit offsets the file layer takes.
    EXPECT_EQ(table4recordPosition(t, 0x7FFFFFFF), e4parm);
    error4setCode(&env, 0);
}

TEST_F(HandleAccess, FlagsAnswerThePendingError) {
    table4* t = create("people", kPlain);
    ASSERT_NE(t, nullptr);
    t->bof = 1;
    EXPECT_EQ(table4isBof(t), 1);
    EXPECT_EQ(table4isEof(t), 0);
    error4setCode(&env, e4read);
    EXPECT_EQ(table4isBof(t), e4codeBase);
    EXPECT_EQ(table4isEof(t), e4codeBase);
    EXPECT_EQ(env.errorCode, e4read);
}

TEST_F(HandleAccess, AliasIsCutAndUpperCased) {
    table4* t = create("people", kPlain);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(table4alias(t), "PEOPLE");
    EXPECT_EQ(table4setAlias(t, "friends"), 0);
    EXPECT_STREQ(table4alias(t), "FRIENDS");
    std::string longAlias(40, 'a');
    EXPECT_EQ(table4setAlias(t, longAlias.c_str()), 0);
    EXPECT_STREQ(table4alias(t), std::string(32, 'A').c_str());
    EXPECT_EQ(table4setAlias(t, nullptr), e4parmNull);
}

TEST_F(HandleAccess, TableByAliasAndByFileName) {
    table4* people = create("people", kPlain);
    table4* places = create("places", kPlain);
    ASSERT_NE(people, nullptr);
    ASSERT_NE(places, nullptr);
    EXPECT_EQ(env4tableByAlias(&env, "PEOPLE", 0), people);
    EXPECT_EQ(env4tableByAlias(&env, "places", 0), places);
    EXPECT_EQ(env4tableByAlias(&env, "nobody", 1), nullptr);
    EXPECT_EQ(env.errorCode, 0);

    // By name, the path finds the handle whatever its alias now is.
    ASSERT_EQ(table4setAlias(people, "folk"), 0);
    std::string path = dir.file("people");
    EXPECT_EQ(env4tableByAlias(&env, path.c_str(), 0), nullptr);
    EXPECT_EQ(env4tableByAlias(&env, path.c_str(), 1), people);
    EXPECT_EQ(env4tableByAlias(&env, (path + ".dbf").c_str(), 1), people);
    EXPECT_EQ(env4tableByAlias(&env, "FOLK", 1), people);

    // Two handles answering to one alias are ambiguous.
    ASSERT_EQ(table4setAlias(places, "FOLK"), 0);
    EXPECT_EQ(env4tableByAlias(&env, "folk", 0), nullptr);
    EXPECT_EQ(env.errorCode, e4info);
    EXPECT_EQ(env4tableByAlias(&env, "folk", 0), nullptr);  // pending: nothing
    error4setCode(&env, 0);
    ASSERT_EQ(table4setAlias(places, "PLACES"), 0);
    env.singleOpen = 0;
    table4* again = table4open(&env, path.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(env4tableByAlias(&env, path.c_str(), 1), nullptr);
    EXPECT_EQ(env.errorCode, e4info);
    error4setCode(&env, 0);
}

}  // namespace
