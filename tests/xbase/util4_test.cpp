#include "xbase/util4.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <string>

#include "error_capture.h"
#include "xbase/env4.h"

namespace {

std::string ltoa(int32_t value, int32_t n) {
    std::string out(n < 0 ? -n : n, '?');
    c4ltoa(value, out.data(), n);
    return out;
}

TEST(NumberText, IntegerToText) {
    struct Case {
        int32_t value, width;
        const char* text;
    } cases[] = {
        {-5, 3, " -5"},
        {1234, 3, "***"},
        {7, -3, "007"},
        {0, 3, "  0"},
        {-12, 3, "-12"},
        {-123, 3, "***"},
        {-7, -3, "007"},
        {42, 2, "42"},
        {5, 1, "5"},
        {-5, 1, "*"},
        {123456, 8, "  123456"},
        {INT32_MIN, 11, "-2147483648"},
        {INT32_MAX, -10, "2147483647"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ltoa(c.value, c.width), c.text) << c.value << " " << c.width;
}

TEST(NumberText, DoubleToFixedText) {
    ErrorCapture errors;
    struct Case {
        double value;
        int32_t width, decimals, rc;
        const char* text;
    } cases[] = {
        {3.14159, 6, 2, 0, "  3.14"},
        {1234567.0, 5, 0, e4width, "*****"},
        {0.5, 5, 2, 0, " 0.50"},
        {-0.5, 5, 2, 0, "-0.50"},
        {-0.001, 5, 2, 0, " 0.00"},
        {-12.345, 7, 2, 0, " -12.35"},
        {2.5, 3, 0, 0, "  3"},
        {99.999, 5, 2, e4width, "*****"},
        {1e300, 10, 2, e4width, "**********"},
        {NAN, 4, 1, e4width, "****"},
        {123.0, 3, 0, 0, "123"},
        {0.0, 1, 0, 0, "0"},
        {1.005, 6, 2, 0, "  1.01"},
        {-2.5, 3, 0, 0, " -3"},
        {9.995, 5, 2, 0, "10.00"},
        {0.125, 4, 2, 0, "0.13"},
    };
    for (const Case& c : cases) {
        std::string out(c.width, '?');
        EXPECT_EQ(c4dtoa(c.value, out.data(), c.width, c.decimals), c.rc) << c.value;
        EXPECT_EQ(out, c.text) << c.value;
    }
    char buf[200];
    EXPECT_EQ(c4dtoa(1.0, buf, 0, 0), e4parm);
    EXPECT_EQ(c4dtoa(1.0, buf, 129, 0), e4parm);
    EXPECT_EQ(c4dtoa(1.0, buf, 5, 5), e4parm);
    EXPECT_EQ(c4dtoa(1.0, buf, 40, 16), e4parm);
}

TEST(NumberText, TextToDouble) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"-0.5", -0.5},
        {" -.25", -0.25},
        {"12.5", 12.5},
        {"   42", 42.0},
        {"+3.75", 3.75},
        {"7.5abc", 7.5},
        {"1e5", 1.0},
        {"", 0.0},
        {"-", 0.0},
        {"abc", 0.0},
        {"123456789012345678", 123456789012345678.0},
        {"0.000000000123456789123", 0.000000000123456789123},
        {"-1234567890.0987654321", -1234567890.0987654321},
        {"1.2.3", 1.2},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(c4atod(c.text), c.value) << c.text;
    EXPECT_DOUBLE_EQ(c4atodN("  12.75XYZ", 6), 12.7);
    EXPECT_DOUBLE_EQ(c4atodN("  12.75XYZ", 10), 12.75);
    EXPECT_DOUBLE_EQ(c4atodN("3.5", 100), 3.5);
    EXPECT_EQ(c4atoiN("  -42abc", 8), -42);
    EXPECT_EQ(c4atoiN("12345", 3), 123);
    EXPECT_EQ(c4atoiN("99999999999", 11), INT32_MAX);
    EXPECT_EQ(c4atoiN("-99999999999", 12), INT32_MIN);
}

TEST(NumberText, IgnoresTheLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"};
    const char* set = nullptr;
    for (const char* n : names)
        if ((set = std::setlocale(LC_NUMERIC, n)) != nullptr) break;
    EXPECT_DOUBLE_EQ(c4atod("1.5"), 1.5);
    char out[6];
    EXPECT_EQ(c4dtoa(1.25, out, 6, 2), 0);
    EXPECT_EQ(std::string(out, 6), "  1.25");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(NumberText, KeysAndBytes) {
    char key[] = "  -12.5";
    c4numKey(key, 7);
    EXPECT_EQ(std::string(key), std::string("000") + char(92 - '1') + char(92 - '2') +
                                    char(92 - '.') + char(92 - '5'));
    char a[] = "  -5", b[] = " -12", c[] = "   3";
    c4numKey(a, 4);
    c4numKey(b, 4);
    c4numKey(c, 4);
    EXPECT_LT(std::string(b), std::string(a));  // -12 < -5
    EXPECT_LT(std::string(a), std::string(c));  // -5 < 3
    unsigned char bytes[] = {0, 1, 0x80, 0xFF};
    c4negateBytes(bytes, 4);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0x80);
    EXPECT_EQ(bytes[3], 1);
    char picture[16];
    c4pictureMerge(picture, "MM/DD/YY", "20240315", "CCYYMMDD");
    EXPECT_STREQ(picture, "03/15/24");
    c4pictureMerge(picture, "CCYY-MM-DD", "20240315", "CCYYMMDD");
    EXPECT_STREQ(picture, "2024-03-15");
}

TEST(Text, CopyCaseAndTrim) {
    ErrorCapture errors;
    char buf[5];
    EXPECT_EQ(u4ncpy(buf, "abcdefg", 5), 4);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(u4ncpy(buf, "ab", 5), 2);
    EXPECT_EQ(u4ncpy(buf, "ab", 0), e4parm);
    char word[] = "Name_1 ";
    c4upper(word);
    EXPECT_STREQ(word, "NAME_1 ");
    c4trimN(word, 7);
    EXPECT_STREQ(word, "NAME_1");
    c4lower(word);
    EXPECT_STREQ(word, "name_1");
    char fixed[6] = {'a', 'b', ' ', ' ', ' ', ' '};
    c4trimN(fixed, 6);
    EXPECT_STREQ(fixed, "ab");
    EXPECT_TRUE(u4isIdentChar('_'));
    EXPECT_TRUE(u4isIdentChar('z'));
    EXPECT_FALSE(u4isIdentChar('-'));
    EXPECT_EQ(u4log2(0), 0);
    EXPECT_EQ(u4log2(1), 0);
    EXPECT_EQ(u4log2(1024), 10);
    EXPECT_EQ(u4log2(1023), 9);
}

TEST(Paths, FullPathResolvesDotsAndKeepsCase) {
    ErrorCapture errors;
    env4 env;
    ASSERT_EQ(env4init(&env, 6300), 0);
    std::string out;
    EXPECT_EQ(u4fullPath(&env, "/x/Y/../A.dbf", out), 0);
    EXPECT_EQ(out, "/x/A.dbf");
    EXPECT_EQ(u4fullPath(&env, "/x//./y/", out), 0);
    EXPECT_EQ(out, "/x/y");
    EXPECT_EQ(u4fullPath(&env, "a/./b", out), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(out, std::string(cwd == std::string("/") ? "" : cwd) + "/a/b");
    EXPECT_EQ(u4fullPath(&env, "/..", out), e4name);
    EXPECT_EQ(env.errorCode, e4name);
    env.errorCode = 0;
    (void)env4release(&env);
}

TEST(Paths, ExtensionsAndPieces) {
    EXPECT_EQ(u4nameExt("/d/people", "dbf", false), "/d/people.dbf");
    EXPECT_EQ(u4nameExt("/d/people  ", ".cdx", false), "/d/people.cdx");
    EXPECT_EQ(u4nameExt("/d/people.DBF", "dbf", false), "/d/people.DBF");
    EXPECT_EQ(u4nameExt("/d/people.dbf", "cdx", true), "/d/people.cdx");
    EXPECT_EQ(u4nameExt("/d.x/people", "dbfx", false), "/d.x/people.dbf");
    EXPECT_EQ(u4nameExt("/d/.hidden", "dbf", false), "/d/.hidden.dbf");
    EXPECT_EQ(u4namePiece("/d/people.dbf", false, false), "people");
    EXPECT_EQ(u4namePiece("/d/people.dbf", true, false), "/d/people");
    EXPECT_EQ(u4namePiece("/d/people.dbf", false, true), "people.dbf");
    EXPECT_EQ(u4nameExtOf("/d/people.Dbf"), "Dbf");
    EXPECT_EQ(u4nameExtOf("/d.x/people"), "");
    EXPECT_EQ(u4nameJoin("/d/", "/people.dbf"), "/d/people.dbf");
    EXPECT_EQ(u4nameJoin("/d", "people.dbf"), "/d/people.dbf");
}

}  // namespace
