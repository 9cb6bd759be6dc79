#include "xbase/table4.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "env_fixture.h"
#include "error_capture.h"
#include "table_helpers.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/util4.h"

namespace {

uint16_t at16(const std::string& b, size_t i) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[i]) | static_cast<uint8_t>(b[i + 1]) << 8);
}

class Table4 : public EnvFixture {};

const field4def kPlain[] = {{"NAME", 'C', 10, 0, 0},
                            {"AMOUNT", 'N', 5, 2, 0},
                            {"BORN", 'D', 0, 0, 0},
                            {"OK", 'L', 0, 0, 0},
                            {nullptr, 0, 0, 0, 0}};

TEST_F(Table4, APlainTableHasTheDocumentedBytes) {
    env.codePage = 3;
    table4* t = table4create(&env, path("people").c_str(), kPlain, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->dataFile->headerLen, 161);
    EXPECT_EQ(t->dataFile->recordLen, 25);
    EXPECT_STREQ(t->alias, "PEOPLE");
    EXPECT_EQ(t->recNum, -1);
    EXPECT_EQ(table4recordCountLow(t->dataFile, t->lockOwner), 0);
    EXPECT_EQ(table4close(t), 0);
    std::string b = readWhole(path("people.dbf"));
    ASSERT_EQ(b.size(), 162u);
    EXPECT_EQ(b[0], 0x03);
    unsigned char today[3];
    u4today(today);
    EXPECT_EQ(std::memcmp(b.data() + 1, today, 3), 0);
    EXPECT_EQ(b.substr(4, 4), std::string(4, '\0'));
    EXPECT_EQ(at16(b, 8), 161);
    EXPECT_EQ(at16(b, 10), 25);
    EXPECT_EQ(b[28], 0);
    EXPECT_EQ(b[29], 3);
    struct Expected {
        const char* name;
        char type;
        uint16_t offset;
        uint8_t len, dec;
    } fields[] = {{"NAME", 'C', 1, 10, 0},
                  {"AMOUNT", 'N', 11, 5, 2},
                  {"BORN", 'D', 16, 8, 0},
                  {"OK", 'L', 24, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        std::string d = b.substr(32 + 32 * i, 32);
        EXPECT_EQ(std::string(d.c_str()), fields[i].name);
        EXPECT_EQ(d.substr(std::strlen(fields[i].name), 11 - std::strlen(fields[i].name)),
                  std::string(11 - std::strlen(fields[i].name), '\0'));
        EXPECT_EQ(d[11], fields[i].type);
        EXPECT_EQ(at16(d, 12), fields[i].offset);
        EXPECT_EQ(static_cast<uint8_t>(d[16]), fields[i].len);
        EXPECT_EQ(static_cast<uint8_t>(d[17]), fields[i].dec);
        EXPECT_EQ(d.substr(18), std::string(14, '\0'));
    }
    EXPECT_EQ(b[160], 0x0D);
    EXPECT_EQ(b[161], 0x1A);
}

TEST_F(Table4, ALongCharacterFieldSplitsItsLengthOverTwoBytes) {
    const field4def defs[] = {{"MEMO", 'C', 300, 0, 0}, {nullptr, 0, 0, 0, 0}};
    table4* t = table4create(&env, path("long").c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fields[0].len, 300);
    (void)table4close(t);
    std::string b = readWhole(path("long.dbf"));
    EXPECT_EQ(static_cast<uint8_t>(b[32 + 16]), 0x2C);
    EXPECT_EQ(static_cast<uint8_t>(b[32 + 17]), 0x01);
    t = table4open(&env, path("long").c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fields[0].len, 300);
    EXPECT_EQ(t->dataFile->recordLen, 301);
    (void)table4close(t);
}

TEST_F(Table4, FieldDefinitionsAreChecked) {
    struct Case {
        const char* what;
        field4def def;
        int32_t compatibility, code;
    } cases[] = {
        {"N 2.1", {"X", 'N', 2, 1, 0}, 0, e4data},
        {"N 3.2", {"X", 'N', 3, 2, 0}, 0, 0},
        {"N 21", {"X", 'N', 21, 0, 0}, 0, e4data},
        {"N 0", {"X", 'N', 0, 0, 0}, 0, e4data},
        {"F 20.19", {"X", 'F', 20, 19, 0}, 0, 0},
        {"N negative decimals", {"X", 'N', 5, -1, 0}, 0, e4data},
        {"I without 30", {"X", 'I', 0, 0, 0}, 0, e4data},
        {"I with 30", {"X", 'I', 0, 0, 0}, 30, 0},
        {"M", {"X", 'M', 10, 0, 0}, 0, e4notSupported},
        {"G", {"X", 'G', 10, 0, 0}, 30, e4notSupported},
        {"lower-case c", {"X", 'c', 10, 0, 0}, 0, e4data},
        {"unknown letter", {"X", 'Q', 10, 0, 0}, 0, e4data},
        {"not a letter", {"X", '1', 10, 0, 0}, 0, e4data},
        {"C 0", {"X", 'C', 0, 0, 0}, 0, e4data},
        {"C 65534", {"X", 'C', 65534, 0, 0}, 0, e4recordLen},
        {"empty name", {"  ", 'C', 5, 0, 0}, 0, e4data},
    };
    int n = 0;
    for (const Case& c : cases) {
        env.compatibility = c.compatibility;
        const field4def defs[] = {c.def, {nullptr, 0, 0, 0, 0}};
        std::string name = path(("f" + std::to_string(n++)).c_str());
        table4* t = table4create(&env, name.c_str(), defs, nullptr);
        EXPECT_EQ(t != nullptr, c.code == 0) << c.what;
        EXPECT_EQ(env.errorCode, c.code) << c.what;
        if (t != nullptr)
            (void)table4close(t);
        else
            EXPECT_NE(access((name + ".dbf").c_str(), F_OK), 0) << c.what;  // nothing left behind
        env.errorCode = 0;
    }
}

TEST_F(Table4, ADescriptorListIsCheckedAsAWhole) {
    const field4def dup[] = {
        {"name", 'C', 5, 0, 0}, {"NAME ", 'N', 3, 0, 0}, {nullptr, 0, 0, 0, 0}};
    EXPECT_EQ(table4create(&env, path("dup").c_str(), dup, nullptr), nullptr);
    EXPECT_EQ(env.errorCode, e4data);
    env.errorCode = 0;
    const field4def none[] = {{nullptr, 0, 0, 0, 0}};
    EXPECT_EQ(table4create(&env, path("none").c_str(), none, nullptr), nullptr);
    EXPECT_EQ(env.errorCode, e4data);
    env.errorCode = 0;
    // Names are cut to ten characters, so these two collide.
    const field4def cut[] = {
        {"ABCDEFGHIJK", 'C', 5, 0, 0}, {"ABCDEFGHIJL", 'C', 5, 0, 0}, {nullptr, 0, 0, 0, 0}};
    EXPECT_EQ(table4create(&env, path("cut").c_str(), cut, nullptr), nullptr);
    EXPECT_EQ(env.errorCode, e4data);
    env.errorCode = 0;
    EXPECT_EQ(table4create(&env, nullptr, kPlain, nullptr), nullptr);  // createTemp is off
    EXPECT_EQ(env.errorCode, e4parmNull);
}

TEST_F(Table4, ANullableFieldMakesAVersion30File) {
    env.compatibility = 30;
    const field4def defs[] = {{"NICK", 'C', 5, 0, field4nullable}, {nullptr, 0, 0, 0, 0}};
    table4* t = table4create(&env, path("v30").c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fieldCount, 2);
    EXPECT_TRUE(t->fields[0].nullable);
    EXPECT_EQ(t->fields[0].nullBit, 0);
    EXPECT_EQ(t->fields[1].type, '0');
    (void)table4close(t);
    std::string b = readWhole(path("v30.dbf"));
    int32_t header = 32 * 3 + 1 + 263;
    ASSERT_EQ(b.size(), static_cast<size_t>(header));  // no 0x1A
    EXPECT_EQ(b[0], 0x30);
    EXPECT_EQ(at16(b, 8), header);
    EXPECT_EQ(at16(b, 10), 1 + 5 + 1);
    EXPECT_EQ(b[32 + 18], 0x02);
    EXPECT_EQ(std::string(b.c_str() + 64), "_NullFlags");
    EXPECT_EQ(b[64 + 11], '0');
    EXPECT_EQ(b[64 + 16], 1);
    EXPECT_EQ(b[64 + 18], 0x05);
    EXPECT_EQ(b[96], 0x0D);
    EXPECT_EQ(b.substr(97), std::string(263, '\0'));
    // The nulls marker means nothing in a plain table.
    env.compatibility = 0;
    t = table4create(&env, path("v03").c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fieldCount, 1);
    EXPECT_EQ(t->dataFile->version, 0x03);
    (void)table4close(t);
}

TEST_F(Table4, ExclusiveOpensCheckTheRecordCountAgainstTheLength) {
    table4* t = table4create(&env, path("n").c_str(), kPlain, nullptr);
    (void)table4close(t);
    std::string b = readWhole(path("n.dbf"));
    b.resize(161 + 3 * 25 + 1, ' ');
    b[4] = 4;  // the header claims four records
    writeWhole(path("n.dbf"), b);
    env.accessMode = 1;
    EXPECT_EQ(table4open(&env, path("n").c_str()), nullptr);
    EXPECT_EQ(env.errorCode, e4data);
    env.errorCode = 0;
    env.accessMode = 2;
    EXPECT_EQ(table4open(&env, path("n").c_str()), nullptr);
    env.errorCode = 0;
    env.accessMode = 0;
    t = table4open(&env, path("n").c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(table4recordCountLow(t->dataFile, t->lockOwner), 4);
    (void)table4close(t);
    EXPECT_EQ(readWhole(path("n.dbf")), b);  // looking changes nothing
}

TEST_F(Table4, ASecondOpenInOneEnvironmentFollowsSingleOpen) {
    (void)table4close(table4create(&env, path("s").c_str(), kPlain, nullptr));
    table4* a = table4open(&env, path("s").c_str());
    ASSERT_NE(a, nullptr);
    // Another path to the same file is the same file.
    ASSERT_EQ(symlink(path("s.dbf").c_str(), path("link.dbf").c_str()), 0);
    EXPECT_EQ(table4open(&env, path("link").c_str()), nullptr);
    EXPECT_EQ(env.errorCode, e4instance);
    env.errorCode = 0;
    env.singleOpen = 0;
    table4* b = table4open(&env, path("./s.dbf").c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->dataFile, a->dataFile);
    EXPECT_EQ(a->dataFile->useCount, 2);
    EXPECT_NE(a->lockOwner, b->lockOwner);
    env.accessMode = 1;  // the file is held shared: an exclusive handle cannot join
    EXPECT_EQ(table4open(&env, path("s").c_str()), nullptr);
    EXPECT_EQ(env.errorCode, e4access);
    env.errorCode = 0;
    EXPECT_EQ(table4close(a), 0);
    EXPECT_TRUE(file4isOpen(&b->dataFile->file));
    EXPECT_EQ(table4close(b), 0);
    EXPECT_EQ(env.dataFiles.nLink, 0);
}

TEST_F(Table4, EitherCaseOfTheDefaultExtensionOpens) {
    (void)table4close(table4create(&env, path("up").c_str(), kPlain, nullptr));
    ASSERT_EQ(rename(path("up.dbf").c_str(), path("UP.DBF").c_str()), 0);
    table4* t = table4open(&env, path("UP").c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->alias, "UP");
    (void)table4close(t);
    env.errOpen = 0;
    EXPECT_EQ(table4open(&env, path("missing").c_str()), nullptr);
    EXPECT_EQ(env.errorCode, r4noOpen);
}

TEST_F(Table4, CloseWritesTheCountAndDateOfAChangedTable) {
    env.accessMode = 1;
    table4* t = table4create(&env, path("c").c_str(), kPlain, nullptr);
    ASSERT_NE(t, nullptr);
    std::string r = blankRecord(t);
    putField(t, r, "NAME", "Ann");
    ASSERT_EQ(appendRaw(t, r), 0);
    ASSERT_EQ(appendRaw(t, r), 0);
    EXPECT_EQ(table4recordCountLow(t->dataFile, t->lockOwner), 2);
    EXPECT_EQ(table4close(t), 0);
    std::string b = readWhole(path("c.dbf"));
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b.size(), 161u + 2 * 25 + 1);
    EXPECT_EQ(b.back(), 0x1A);
    // A shared handle without the append lock may not write the count.
    env.accessMode = 0;
    t = table4open(&env, path("c").c_str());
    t->dataFile->heldCount = 5;
    EXPECT_EQ(table4writeHeader(t->dataFile, 1, 1), e4info);
    env.errorCode = 0;
    t->dataFile->heldCount = -1;
    (void)table4close(t);
    EXPECT_EQ(readWhole(path("c.dbf")), b);
}

TEST_F(Table4, CloseReturnsAndKeepsAPendingError) {
    table4* t = table4create(&env, path("e").c_str(), kPlain, nullptr);
    error4raise(&env, e4write, 80606);
    EXPECT_EQ(table4close(t), e4write);
    EXPECT_EQ(env.errorCode, e4write);
    EXPECT_EQ(env.tables.nLink, 0);
    EXPECT_EQ(env.dataFiles.nLink, 0);
}

TEST_F(Table4, ATemporaryTableIsMadeWithoutAName) {
    setenv("TEMP", dir.path().c_str(), 1);
    env.createTemp = 1;
    table4* t = table4create(&env, nullptr, kPlain, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(dir.entries().size(), 1u);
    EXPECT_EQ(t->dataFile->recordLen, 25);
    EXPECT_EQ(table4close(t), 0);
    EXPECT_TRUE(dir.entries().empty());
    unsetenv("TEMP");
}

TEST_F(Table4, ReleasingTheEnvironmentClosesItsTables) {
    (void)table4create(&env, path("a").c_str(), kPlain, nullptr);
    (void)table4create(&env, path("b").c_str(), kPlain, nullptr);
    EXPECT_EQ(env.tables.nLink, 2);
    EXPECT_EQ(env4closeAll(&env), 0);
    EXPECT_EQ(env.tables.nLink, 0);
    EXPECT_EQ(env.files.nLink, 0);
}

}  // namespace
