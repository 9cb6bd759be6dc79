// Data files written here read the same in independent readers (the Debian
// Python packages dbf and dbfread), and their tables open here with the
// values they wrote.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "independent_readers.h"
#include "table_helpers.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/field4.h"
#include "xbase/table4access.h"
#include "xbase/util4.h"

namespace {

std::vector<std::string> dump(const char* reader, const std::string& table) {
    return pythonDump(reader, table);
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1)
        out.push_back(line.substr(at, bar - at));
    out.push_back(line.substr(at));
    return out;
}

// Days since 1970-01-01 of a civil date, and back.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string civilFromDays(int64_t z) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp + (mp < 10 ? 3 : -9);
    int64_t y = yoe + era * 400 + (m <= 2);
    char out[64];
    std::snprintf(out, sizeof out, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d));
    return out;
}

constexpr int64_t kJulian1970 = 2440588;

std::string shortest(double v) {
    char out[64];
    auto r = std::to_chars(out, out + sizeof out, v);
    std::string s(out, r.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

std::string numberText(double v, int32_t width, int32_t decimals) {
    std::string s(width, ' ');
    (void)c4dtoa(v, s.data(), width, decimals);
    return s;
}

// The value of a field of `record` in the dump's text form.
std::string fieldText(table4* t, const std::string& record, const field4& f) {
    if (f.nullable) {
        const field4& flags = t->fields[t->fieldCount - 1];
        if (record[flags.offset + f.nullBit / 8] & (1 << (f.nullBit % 8))) return "NULL";
    }
    std::string raw = record.substr(f.offset, f.len);
    auto trimmed = [&] {
        size_t end = raw.find_last_not_of(' ');
        size_t begin = raw.find_first_not_of(' ');
        return end == std::string::npos ? std::string() : raw.substr(begin, end - begin + 1);
    };
    switch (f.type) {
        case 'C':
            return raw.substr(0, raw.find_last_not_of(' ') + 1);
        case 'N':
        case 'F':
            if (trimmed().empty()) return "NULL";
            if (f.dec == 0 && f.type == 'N') return std::to_string(c4atoiN(raw.data(), f.len));
            return shortest(c4atodN(raw.data(), f.len));
        case 'D':
            if (trimmed().empty()) return "NULL";
            return raw.substr(0, 4) + "-" + raw.substr(4, 2) + "-" + raw.substr(6, 2);
        case 'L':
            return raw == "T" || raw == "t" || raw == "Y" || raw == "y" ? "T" : "F";
        case 'I': {
            int32_t v;
            std::memcpy(&v, raw.data(), 4);
            return std::to_string(v);
        }
        case 'B': {
            double v;
            std::memcpy(&v, raw.data(), 8);
            return shortest(v);
        }
        case 'Y': {
            int64_t v;
            std::memcpy(&v, raw.data(), 8);
            char out[40];
            std::snprintf(out, sizeof out, "%lld.%04lld", static_cast<long long>(v / 10000),
                          static_cast<long long>((v < 0 ? -v : v) % 10000));
            return out;
        }
        case 'T': {
            int32_t day, ms;
            std::memcpy(&day, raw.data(), 4);
            std::memcpy(&ms, raw.data() + 4, 4);
            if (day == 0) return "NULL";
            char time[48];
            std::snprintf(time, sizeof time, " %02d:%02d:%02d", ms / 3600000, ms / 60000 % 60,
                          ms / 1000 % 60);
            return civilFromDays(day - kJulian1970) + time;
        }
        default:
            return "?";
    }
}

std::vector<std::string> readAll(table4* t) {
    std::vector<std::string> lines;
    table4file* tf = t->dataFile;
    int32_t count = table4recordCountLow(tf, t->lockOwner);
    for (int32_t i = 0; i < count; ++i) {
        std::string record(tf->recordLen, '\0');
        if (file4readAll(&tf->file, tf->headerLen + i * tf->recordLen, record.data(),
                         tf->recordLen) != 0)
            break;
        std::string line;
        for (int32_t k = 0; k < t->fieldCount; ++k) {
            if (t->fields[k].type == '0') continue;
            if (!line.empty()) line += '|';
            line += fieldText(t, record, t->fields[k]);
        }
        lines.push_back(line);
    }
    return lines;
}

class Interop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(env4init(&env, env4version), 0);
        env.accessMode = 1;
    }
    void TearDown() override { EXPECT_EQ(env4release(&env), 0); }

    // Checks each reader's lines against `expected`; dbfread knows no nulls,
    // so it is held only to the values that are not null.
    void expectReaders(const std::string& table, const std::vector<std::string>& expected) {
        for (const char* reader : {"dbf", "dbfread"}) {
            std::vector<std::string> got = dump(reader, table);
            ASSERT_EQ(got.size(), expected.size()) << reader << ": " << (got.empty() ? "" : got[0]);
            for (size_t i = 0; i < got.size(); ++i) {
                if (std::string(reader) == "dbf") {
                    EXPECT_EQ(got[i], expected[i]) << reader;
                    continue;
                }
                std::vector<std::string> want = split(expected[i]), have = split(got[i]);
                ASSERT_EQ(have.size(), want.size()) << reader << ": " << got[i];
                for (size_t k = 0; k < want.size(); ++k) {
                    if (want[k] != "NULL") {
                        EXPECT_EQ(have[k], want[k]) << reader << " line " << i;
                    }
                }
            }
        }
    }
    env4 env;
    TempDir dir;
};

TEST_F(Interop, PlainTablesWrittenHereReadTheSameInPython) {
    const field4def defs[] = {{"NAME", 'C', 10, 0, 0}, {"AMOUNT", 'N', 8, 2, 0},
                              {"WHOLE", 'N', 5, 0, 0}, {"RATE", 'F', 10, 3, 0},
                              {"BORN", 'D', 0, 0, 0},  {"OK", 'L', 0, 0, 0},
                              {nullptr, 0, 0, 0, 0}};
    std::string path = dir.file("plain.dbf");
    table4* t = table4create(&env, path.c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    struct Row {
        const char* name;
        double amount;
        int32_t whole;
        double rate;
        const char* born;
        const char* ok;
    } rows[] = {{"Ann", 12.5, 42, 3.125, "20240315", "T"},
                {"Bob", -3.25, -7, 0.0, "", "F"},
                {"Carla Long", 99999.99, 99999, -123.456, "19000101", "T"}};
    for (const Row& row : rows) {
        std::string r = blankRecord(t);
        putField(t, r, "NAME", row.name);
        putField(t, r, "AMOUNT", numberText(row.amount, 8, 2));
        std::string whole(5, ' ');
        c4ltoa(row.whole, whole.data(), 5);
        putField(t, r, "WHOLE", whole);
        putField(t, r, "RATE", numberText(row.rate, 10, 3));
        putField(t, r, "BORN", row.born);
        putField(t, r, "OK", row.ok);
        ASSERT_EQ(appendRaw(t, r), 0);
    }
    ASSERT_EQ(table4close(t), 0);
    std::vector<std::string> expected = {"Ann|12.5|42|3.125|2024-03-15|T",
                                         "Bob|-3.25|-7|0.0|NULL|F",
                                         "Carla Long|99999.99|99999|-123.456|1900-01-01|T"};
    expectReaders(path, expected);
    t = table4open(&env, path.c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(readAll(t), expected);
    (void)table4close(t);
}

TEST_F(Interop, Version30TablesWithEveryTypeAndNullsReadTheSameInPython) {
    env.compatibility = 30;
    // Every field may be null, so each reader numbers the null bits alike.
    const field4def defs[] = {
        {"NAME", 'C', 8, 0, field4nullable},  {"AMOUNT", 'N', 8, 2, field4nullable},
        {"RATE", 'F', 9, 4, field4nullable},  {"BORN", 'D', 0, 0, field4nullable},
        {"OK", 'L', 0, 0, field4nullable},    {"CNT", 'I', 0, 0, field4nullable},
        {"STAMP", 'T', 0, 0, field4nullable}, {"MONEY", 'Y', 0, 0, field4nullable},
        {"RATIO", 'B', 0, 3, field4nullable}, {nullptr, 0, 0, 0, 0}};
    std::string path = dir.file("v30.dbf");
    table4* t = table4create(&env, path.c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->dataFile->version, 0x30);
    int32_t stampDay = static_cast<int32_t>(daysFromCivil(2024, 3, 15) + kJulian1970);
    int32_t stampMs = (10 * 3600 + 20 * 60 + 30) * 1000;
    std::string full = blankRecord(t);
    putField(t, full, "NAME", "Ann");
    putField(t, full, "AMOUNT", numberText(-12.5, 8, 2));
    putField(t, full, "RATE", numberText(0.0625, 9, 4));
    putField(t, full, "BORN", "20240229");
    putField(t, full, "OK", "T");
    putField(t, full, "CNT", rawBytes<int32_t>(-70000));
    putField(t, full, "STAMP", rawBytes<int32_t>(stampDay) + rawBytes<int32_t>(stampMs));
    putField(t, full, "MONEY", rawBytes<int64_t>(123456));  // 12.3456
    putField(t, full, "RATIO", rawBytes<double>(-0.125));
    ASSERT_EQ(appendRaw(t, full), 0);
    std::string nulls = blankRecord(t);
    putField(t, nulls, "NAME", "Bob");
    for (const char* name : {"AMOUNT", "RATE", "BORN", "OK", "CNT", "STAMP", "MONEY", "RATIO"})
        putNull(t, nulls, name);
    ASSERT_EQ(appendRaw(t, nulls), 0);
    std::string some = full;
    putNull(t, some, "NAME");
    putNull(t, some, "MONEY");
    putField(t, some, "CNT", rawBytes<int32_t>(5));
    ASSERT_EQ(appendRaw(t, some), 0);
    ASSERT_EQ(table4close(t), 0);
    std::vector<std::string> expected = {
        "Ann|-12.5|0.0625|2024-02-29|T|-70000|2024-03-15 10:20:30|12.3456|-0.125",
        "Bob|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL",
        "NULL|-12.5|0.0625|2024-02-29|T|5|2024-03-15 10:20:30|NULL|-0.125"};
    expectReaders(path, expected);
    t = table4open(&env, path.c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(readAll(t), expected);
    (void)table4close(t);
}

TEST_F(Interop, TablesWrittenInPythonOpenWithTheirValues) {
    std::vector<std::string> made =
        runLines(kSystemPython + " " + QV_TEST_DATA_DIR + "/dbf_make.py " + dir.path() + " 2>&1");
    ASSERT_TRUE(made.empty()) << made[0];
    env.accessMode = 0;
    table4* plain = table4open(&env, dir.file("plain").c_str());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->dataFile->version, 0x03);
    EXPECT_EQ(readAll(plain), (std::vector<std::string>{"Zoe|1234.5|-17|1999-12-31|T",
                                                        "Max Power|-0.125|0|2024-02-29|F"}));
    EXPECT_EQ(dump("dbf", dir.file("plain.dbf")), readAll(plain));
    (void)table4close(plain);
    table4* vfp = table4open(&env, dir.file("vfp").c_str());
    ASSERT_NE(vfp, nullptr);
    EXPECT_EQ(vfp->dataFile->version, 0x30);
    EXPECT_EQ(readAll(vfp), (std::vector<std::string>{"Ann|-7|2024-03-15 10:20:30|12.5000|3.25",
                                                      "Bob|NULL|NULL|NULL|NULL"}));
    EXPECT_EQ(dump("dbf", dir.file("vfp.dbf")), readAll(vfp));
    (void)table4close(vfp);
}

TEST_F(Interop, ValuesWrittenThroughFieldsClearTheirNullBitsForPython) {
    env.compatibility = 30;
    // The nullable fields lead, where Python's dbf numbers the null bits as the
    // format does (it counts every field before a nullable one).
    const field4def defs[] = {{"NAME", 'C', 6, 0, field4nullable},
                              {"CNT", 'I', 0, 0, field4nullable},
                              {"MONEY", 'Y', 0, 0, field4nullable},
                              {"CITY", 'C', 6, 0, 0},
                              {nullptr, 0, 0, 0, 0}};
    std::string path = dir.file("nulls.dbf");
    table4* t = table4create(&env, path.c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    std::string null = blankRecord(t);
    for (const char* name : {"NAME", "CNT", "MONEY"}) putNull(t, null, name);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(appendRaw(t, null), 0);
    auto rewrite = [&](int32_t n, auto change) {
        table4file* tf = t->dataFile;
        int32_t pos = table4recordPosition(t, n);
        ASSERT_EQ(file4readAll(&tf->file, pos, t->record, tf->recordLen), 0);
        change();
        ASSERT_EQ(file4write(&tf->file, pos, t->record, tf->recordLen), 0);
    };
    field4* name = table4fieldByName(t, "name");
    field4* cnt = table4fieldByName(t, "cnt");
    field4* money = table4fieldByName(t, "money");
    field4* city = table4fieldByName(t, "city");
    rewrite(1, [&] {
        EXPECT_EQ(field4isNull(name), 1);
        EXPECT_EQ(field4assign(name, "Ann"), 0);
        EXPECT_EQ(field4assignBytes(cnt, rawBytes<int32_t>(7).data(), 4), 0);
        EXPECT_EQ(field4assign(city, "Rome"), 0);
    });
    rewrite(2, [&] {
        EXPECT_EQ(field4blank(money), 0);
        EXPECT_EQ(field4setText(name, "Bob"), 0);
    });
    rewrite(3, [&] { std::memcpy(field4writePointer(cnt), rawBytes<int32_t>(-3).data(), 4); });
    ASSERT_EQ(table4close(t), 0);
    EXPECT_EQ(dump("dbf", path),
              (std::vector<std::string>{"Ann|7|NULL|Rome", "Bob|NULL|0.0000|", "NULL|-3|NULL|"}));
}

}  // namespace
