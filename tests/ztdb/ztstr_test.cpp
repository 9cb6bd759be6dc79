#include "ztdb/ztstr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "assert_capture.h"

namespace {

std::string str(const ZTStr& s) {
    return std::string(s.text, s.length);
}

ZTStr make(const char* text) {
    ZTStr s;
    s.assign(text);
    return s;
}

const char ESC = 27;

TEST(ZTStrTest, EmptyStringsShareOneTextThatIsNeverFreed) {
    ZTStr a, b;
    EXPECT_EQ(a.text, b.text);
    ZTStr c = make("hello");
    EXPECT_NE(c.text, a.text);
    c.clear();
    EXPECT_EQ(c.text, a.text);
    EXPECT_EQ(c.length, 0u);
    EXPECT_EQ(c.slack, 0);
    c.assign("");
    EXPECT_EQ(c.text, a.text);
    // Operations that empty without clearing keep their own buffer.
    ZTStr d = make("abc");
    d.truncate(0);
    EXPECT_NE(d.text, a.text);
    EXPECT_STREQ(d.text, "");
    {
        ZTStr sized(16);
        EXPECT_NE(sized.text, a.text);
        EXPECT_EQ(sized.length, 0u);
        EXPECT_EQ(sized.slack, 0);
    }
    EXPECT_EQ(a.text[0], 0);
}

TEST(ZTStrTest, AppendingOneByOneReallocatesAtFirstAnd22nd) {
    ZTStr s;
    const char* previous = s.text;
    std::vector<int> reallocatedAt;
    for (int i = 1; i <= 25; ++i) {
        s.insert(ZTStr::kEnd, char('a' + i % 26));
        if (s.text != previous) reallocatedAt.push_back(i);
        previous = s.text;
    }
    EXPECT_EQ(reallocatedAt, (std::vector<int>{1, 22}));
    EXPECT_EQ(s.length, 25u);
    EXPECT_EQ(s.slack, 17);
    // assign makes an exact buffer.
    s.assign("xyz");
    EXPECT_EQ(s.slack, 0);
}

TEST(ZTStrTest, InsertAndErase) {
    ZTStr s = make("abcdefgh");
    EXPECT_EQ(s.erase(5, 3), 5u);
    EXPECT_EQ(str(s), "abcdefgh");
    s.erase(10, 12);
    EXPECT_EQ(str(s), "abcdefgh");
    s.erase(2, 100);
    EXPECT_EQ(str(s), "ab");
    EXPECT_EQ(s.slack, 6);  // removed characters become slack
    s.insert(1, "XY");      // fits the slack: moved in place
    EXPECT_EQ(str(s), "aXYb");
    EXPECT_EQ(s.slack, 4);
    s.insert(0, '\0');
    s.insert(0, static_cast<const char*>(nullptr));
    s.insert(0, "");
    EXPECT_EQ(str(s), "aXYb");
    s.insert(99, "!");
    EXPECT_EQ(str(s), "aXYb!");
    // Inserting a piece of the string's own text.
    s.insert(0, s.text + 1);
    EXPECT_EQ(str(s), "XYb!aXYb!");
}

TEST(ZTStrTest, AssignFromInsideItsOwnBuffer) {
    ZTStr s = make("prefix:value");
    s.assign(s.text + 7);
    EXPECT_EQ(str(s), "value");
    s.assign(s.text);
    EXPECT_EQ(str(s), "value");
}

TEST(ZTStrTest, Trims) {
    ZTStr s = make("ab \t  ");
    s.trimRight();
    EXPECT_EQ(str(s), "ab \t");
    s.trimRightSpace();
    EXPECT_EQ(str(s), "ab");
    s.assign("   ");
    s.trimRight();
    EXPECT_EQ(s.length, 0u);
}

TEST(ZTStrTest, RemoveCharAndReplaceAll) {
    ZTStr s = make("a-b--c");
    s.removeChar('-');
    EXPECT_EQ(str(s), "abc");
    s.removeChar('\0');
    EXPECT_EQ(str(s), "abc");

    s.assign("aaa");
    s.replaceAll("a", "aa");
    EXPECT_EQ(str(s), "aaaaaa");
    s.assign("one, two, three");
    s.replaceAll(", ", "");
    EXPECT_EQ(str(s), "onetwothree");
    s.replaceAll("", "x");
    s.replaceAll(nullptr, "x");
    EXPECT_EQ(str(s), "onetwothree");
    s.replaceAll("two", nullptr);
    EXPECT_EQ(str(s), "onethree");
}

TEST(ZTStrTest, EqualsAndCompare) {
    ZTStr s = make("abc");
    EXPECT_TRUE(s.equals("abc"));
    EXPECT_FALSE(s.equals("abd"));
    EXPECT_LT(s.compare("abd"), 0);
    EXPECT_GT(s.compare(nullptr), 0);
    ZTStr empty;
    EXPECT_TRUE(empty.equals(nullptr));
    EXPECT_EQ(empty.compare(""), 0);
}

TEST(ZTStrTest, ToIntFollowsStrtoulFor32Bits) {
    struct Case {
        const char* text;
        uint32_t value;
        bool notWhole;
    } cases[] = {
        {"12", 12, false},
        {"12x", 12, true},
        {"  42", 42, false},
        {"+7", 7, false},
        {"", 0, false},
        {"abc", 0, true},
        {"   ", 0, true},
        {"4294967295", 4294967295u, false},
        {"4294967296", 4294967295u, false},
        {"99999999999999999999", 4294967295u, false},
        {"-1", 4294967295u, false},
        {"-5", 4294967291u, false},
        {"12 ", 12, true},
    };
    for (const Case& c : cases) {
        bool notWhole = !c.notWhole;
        EXPECT_EQ(make(c.text).toInt(&notWhole), c.value) << c.text;
        EXPECT_EQ(notWhole, c.notWhole) << c.text;
    }
}

TEST(ZTStrTest, ToDoubleFollowsStrtodWithoutTheLocale) {
    struct Case {
        const char* text;
        double value;
        bool notWhole;
    } cases[] = {
        {"", 0.0, true},        {"3.5", 3.5, false},        {" -2.25", -2.25, false},
        {"+1e3", 1000, false},  {".5", 0.5, false},         {"1,5", 1.0, true},
        {"abc", 0.0, true},     {"--1", 0.0, true},         {"0x1A", 26.0, false},
        {"0xg", 0.0, true},     {"1e999", HUGE_VAL, false}, {"-1e999", -HUGE_VAL, false},
        {"1e-999", 0.0, false}, {"12abc", 12.0, true},
    };
    for (const Case& c : cases) {
        bool notWhole = !c.notWhole;
        EXPECT_EQ(make(c.text).toDouble(&notWhole), c.value) << c.text;
        EXPECT_EQ(notWhole, c.notWhole) << c.text;
    }
    EXPECT_TRUE(std::isnan(make("nan").toDouble()));
}

TEST(ZTStrTest, AssignFixedGivesShortDecimalText) {
    struct Case {
        double value;
        int decimals;
        const char* text;
    } cases[] = {
        {2.50, 2, "2.5"},
        {3.00, 2, "3"},
        {0.5, 2, ".5"},
        {-0.5, 2, "-.5"},
        {-12.345, 2, "-12.35"},  // 12.345 is stored just above the half
        {0.0, 2, "0"},
        {0.05, 2, ".05"},
        {0.000123, 14, ".000123"},
        {-0.000123, 14, "-.000123"},
        {0.001, 2, "0"},
        {-0.001, 2, "0"},
        {1234567.0, 0, "1234567"},
        {2.5, 0, "2"},
        {1e20, 2, "100000000000000000000"},
        {1.0 / 3.0, 14, ".33333333333333"},
    };
    ZTStr s;
    for (const Case& c : cases) {
        s.assignFixed(c.value, c.decimals);
        EXPECT_EQ(str(s), c.text) << c.value << " with " << c.decimals;
    }
}

TEST(ZTStrTest, AssignIntAndFormat) {
    ZTStr s;
    s.assignInt(4294967295u);
    EXPECT_EQ(str(s), "4294967295");
    s.assignInt(0);
    EXPECT_EQ(str(s), "0");

    s.format(10, "%s=%u", "n", 42u);
    EXPECT_EQ(str(s), "n=42");
    EXPECT_EQ(s.slack, 5 + 10 - 4);
    // A result longer than the caller allowed for is still complete and in bounds.
    std::string longText(5000, 'q');
    s.format(0, "<%s>", longText.c_str());
    EXPECT_EQ(s.length, 5002u);
    EXPECT_EQ(str(s), "<" + longText + ">");
    s.format(5, nullptr);
    EXPECT_EQ(s.length, 0u);
    s.format(5, "%s", "");
    EXPECT_EQ(s.length, 0u);
}

TEST(ZTStrTest, TaggedSections) {
    ZTStr s = make("Name");
    s.setTag('e', "x");
    EXPECT_EQ(str(s), std::string("Name") + ESC + "ex");
    s.setTag('e', "yz");
    EXPECT_EQ(str(s), std::string("Name") + ESC + "eyz");
    s.setTag(0, "New");
    EXPECT_EQ(str(s), std::string("New") + ESC + "eyz");
    ZTStr out;
    EXPECT_EQ(str(*s.getTag(0, &out)), "New");
    EXPECT_EQ(str(*s.getTag('e', &out)), "yz");
    EXPECT_EQ(str(*s.getTag('q', &out)), "");
    s.setTagInt('e', 0);
    EXPECT_EQ(str(s), "New");

    // Several sections; removing one in the middle keeps the others.
    s.setTag('a', "1");
    s.setTag('b', "2");
    s.setTag('c', "3");
    s.removeTag('b');
    EXPECT_EQ(str(s), std::string("New") + ESC + "a1" + ESC + "c3");
    s.removeTag(0);
    EXPECT_EQ(str(s), std::string() + ESC + "a1" + ESC + "c3");
    s.removeTag(0);  // no head: nothing
    EXPECT_EQ(s.length, 6u);
    EXPECT_TRUE(s.hasTag(0));  // the text is not empty, though the head is
    EXPECT_EQ(str(*s.getTag(0, &out)), "");
    EXPECT_TRUE(s.hasTag('c'));
    EXPECT_FALSE(s.hasTag('b'));
    EXPECT_FALSE(ZTStr().hasTag(0));

    // The result may go to the string itself.
    s.getTag('c', &s);
    EXPECT_EQ(str(s), "3");
}

TEST(ZTStrTest, TagValuesCannotCarryTheEscapeByte) {
    ZTStr s = make("Head");
    s.setTag('e', (std::string("a") + ESC + "ib").c_str());
    EXPECT_EQ(str(s), std::string("Head") + ESC + "eaib");
    EXPECT_FALSE(s.hasTag('i'));
    s.setTag(0, (std::string("x") + ESC + "y").c_str());
    EXPECT_EQ(str(s), std::string("xy") + ESC + "eaib");

    AssertCapture capture;
    s.setTag(ESC, "v");
    EXPECT_EQ(str(s), std::string("xy") + ESC + "eaib");
    EXPECT_EQ(capture.reports().size(), 1u);
}

TEST(ZTStrTest, TagIntegersAreUnsigned32BitBothWays) {
    ZTStr s = make("r");
    for (uint32_t v : {1u, 2147483647u, 2147483648u, 4294967295u}) {
        s.setTagInt('n', v);
        EXPECT_EQ(s.getTagInt('n'), v);
    }
    EXPECT_EQ(s.getTagInt('m'), 0u);
}

TEST(ZTStrTest, PathHelpersUseSlashAndKeepCase) {
    struct Case {
        const char* path;
        const char* stripped;
        const char* noExtension;
        const char* extension;
        const char* folder;
        const char* name;
    } cases[] = {
        {"/home/Ann/Data/Base.ZT2", "/home/Ann/Data/Base", "/home/Ann/Data/Base", "ZT2",
         "/home/Ann/Data", "Base.ZT2"},
        {"/d/base.zt", "/d/base", "/d/base", "zt", "/d", "base.zt"},
        {"/d/x.Ix2", "/d/x", "/d/x", "Ix2", "/d", "x.Ix2"},
        {"/d/x.ix", "/d/x", "/d/x", "ix", "/d", "x.ix"},
        {"/d.zt/file", "/d.zt/file", "/d.zt/file", "", "/d.zt", "file"},
        {"/d/a.b.c", "/d/a.b.c", "/d/a", "b.c", "/d", "a.b.c"},
        {"my.zt2.txt", "my.zt2.txt", "my", "zt2.txt", "", "my.zt2.txt"},
        {"c:base", "c:base", "c:base", "", "", "c:base"},
        {"/root.zt", "/root", "/root", "zt", "/", "root.zt"},
    };
    using Helper = void (ZTStr::*)();
    for (const Case& c : cases) {
        const std::pair<Helper, const char*> results[] = {
            {&ZTStr::stripDbExtension, c.stripped}, {&ZTStr::removeExtension, c.noExtension},
            {&ZTStr::keepExtension, c.extension},   {&ZTStr::keepFolder, c.folder},
            {&ZTStr::removeFolder, c.name},
        };
        for (const auto& [helper, expected] : results) {
            ZTStr s = make(c.path);
            (s.*helper)();
            EXPECT_EQ(str(s), expected) << c.path;
        }
    }
}

TEST(ZTStrTest, FindAnyOfTriesCharactersInListOrder) {
    ZTStr s = make("a;b,c");
    EXPECT_EQ(s.findAnyOf(",;"), 3);
    EXPECT_EQ(s.findAnyOf(";,"), 1);
    EXPECT_EQ(s.findAnyOf("xyz"), -1);
    EXPECT_EQ(s.findAnyOf(""), -1);
    EXPECT_EQ(ZTStr().findAnyOf("a"), -1);
}

TEST(ZTStrTest, CopiesAreIndependent) {
    ZTStr a = make("first");
    ZTStr b(a);
    b.insert(ZTStr::kEnd, "!");
    EXPECT_EQ(str(a), "first");
    EXPECT_EQ(str(b), "first!");
    a = b;
    EXPECT_EQ(str(a), "first!");
    a = a;
    EXPECT_EQ(str(a), "first!");
    ZTStr c(std::move(a));
    EXPECT_EQ(str(c), "first!");
    EXPECT_EQ(a.length, 0u);
}

}  // namespace
