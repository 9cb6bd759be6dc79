#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "error_capture.h"
#include "expr_fixture.h"
#include "xbase/expr/expr4.h"
#include "xbase/table/env4release.h"
#include "xbase/values/collate4.h"
#include "xbase/values/date4.h"
#include "xbase/values/key4.h"

namespace {

using namespace std::string_literals;

constexpr int32_t kBorn = 2445760;  // 1984-02-29

double day(const char* ccyymmdd) {
    return date4julian(ccyymmdd);
}

std::string doubleKey(double v) {
    uint8_t k[8];
    key4fromDouble(k, v);
    return std::string(reinterpret_cast<char*>(k), 8);
}

std::string bigEndian(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

class ExprEval : public ExprTest {
  protected:
    void SetUp() override {
        ExprTest::SetUp();
        table->put("NAME", "Alice");
        table->put("CITY", "Paris");
        table->put("CODE", "ab");
        table->putNumber("AMOUNT", -123.45);
        table->putNumber("RATE", 2.5);
        table->putDay("BORN", kBorn);
        table->put("FLAG", "T");
        table->putRaw<int32_t>("COUNT", 42);
        table->putRaw<int64_t>("PRICE", 123456);     // 12.3456
        table->putStamp("STAMP", 2451545, 3723004);  // 2000-01-01 01:02:03.004
        table->putRaw<double>("RATIO", 0.25);
        table->t->recNum = 7;
    }
    ErrorCapture errors;
};

struct TextCase {
    const char* text;
    std::string expected;
};

TEST_F(ExprEval, TextResults) {
    const TextCase cases[] = {
        {"NAME", "Alice     "},
        {"UPPER(NAME)", "ALICE     "},
        {"upper('aé-z')", "A\xC3\xA9-Z"},  // bytes outside ASCII stay as they are
        {"NAME+CITY", "Alice     Paris   "},
        {"NAME-CITY", "AliceParis        "},
        {"'ab  '-'cd'", "abcd  "},
        {"TRIM(NAME)", "Alice\0\0\0\0\0"s},
        {"TRIM('ab  ')", "ab\0\0"s},
        {"TRIM(NAME)+CITY", "AliceParis   \0\0\0\0\0"s},
        {"LTRIM('  ab ')", "ab \0\0"s},
        {"ALLTRIM('  ab ')", "ab\0\0\0"s},
        {"SUBSTR(NAME, 2, 3)", "lic"},
        {"SUBSTR(NAME, 3)", "ice     "},
        {"SUBSTR(CITY, 4, 99)", "is   "},
        {"LEFT(NAME, 3)", "Ali"},
        {"RIGHT(CITY, 4)", "s   "},
        {"STR(AMOUNT)", "      -123"},
        {"STR(AMOUNT, 8, 2)", " -123.45"},
        {"STR(RATE, 5, 9)", "2.500"},
        {"STR(12345, 3)", "***"},
        {"STR(COUNT, 4)", "  42"},
        {"CHR(65)+CHR(97.9)", "Aa"},
        {"DEL()", " "},
        {"DTOS(BORN)", "19840229"},
        {"DTOS(BORN+1)", "19840301"},
        {"DTOS(STOD('        ')+5)", "        "},
        {"DTOC(BORN)", "02/29/84"},
        {"DTOC(BORN, 1)", "19840229"},
        {"DTOC(BORN-60)", "12/31/83"},
        {"IIF(FLAG, 'yes', 'no ')", "yes"},
        {"IIF(.NOT. FLAG, 'yes', 'no ')", "no "},
        {"IIF(FLAG, NAME, CITY+'xx')", "Alice     "},
        {"'ab'+'cd'", "abcd"},
        {"[ab]+\"cd\"", "abcd"},
        {"DESCEND('AB')", "\xBF\xBE"},
        {"ASCEND(NAME)", "Alice     "},
        {"ASCEND(AMOUNT)", "0000+*).('"},
        {"ASCEND(BORN)", "19840229"},
        {"ASCEND(BORN+1)", "19840301"},
        {"DESCEND(BORN)", "\xCF\xC7\xC8\xCC\xD0\xCE\xCE\xC7"},
        {"ASCEND(FLAG)", "1"},
        {"DESCEND(.F.)", "\xD0"},
        {"ASCEND(RATIO)", doubleKey(0.25)},
        {"ASCEND(COUNT)", doubleKey(42)},
        {"ASCEND(PRICE)", doubleKey(12.3456)},
        {"ASCEND(STAMP)", bigEndian(2451545) + bigEndian(3723004)},
        {"DESCEND(STAMP)", bigEndian(~2451545u) + bigEndian(~3723004u)},
    };
    for (const TextCase& c : cases) EXPECT_EQ(table->eval(c.text), c.expected) << c.text;
    std::string time = table->eval("TIME()");
    ASSERT_EQ(time.size(), 8u);
    EXPECT_EQ(time[2], ':');
    EXPECT_EQ(time[5], ':');
    std::string d = table->eval("DESCEND(RATIO)"), a = doubleKey(0.25);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(static_cast<char>(~a[i]), d[i]);
}

struct NumberCase {
    const char* text;
    double expected;
};

TEST_F(ExprEval, NumberAndDateResults) {
    char today[8];
    ASSERT_EQ(date4today(today), 0);
    const NumberCase cases[] = {
        {"AMOUNT+1", -122.45},
        {"AMOUNT*2", -246.9},
        {"RATE-0.5", 2.0},
        {"10/4", 2.5},
        {"10/0", 0.0},
        {"2^10", 1024.0},
        {"2**3^2", 64.0},
        {"7-10", -3.0},
        {"-5", -5.0},
        {"+.5", 0.5},
        {"1.5.5", 1.5},
        {"COUNT+1", 43.0},
        {"PRICE*1", 12.3456},
        {"RATIO*4", 1.0},
        {"BORN+1", day("19840301")},
        {"1+BORN", day("19840301")},
        {"BORN-1", day("19840228")},
        {"BORN-STOD('19840101')", 59.0},
        {"STOD('        ')+5", 0.0},  // a blank date stays blank
        {"STOD('        ')-BORN", 0.0},
        {"STOD('19840229')", kBorn},
        {"STOD('1984')", -1.0},                 // blank month and day: not a date
        {"STOD('19841340')", -1.0},             // no such date
        {"CTOD('02/29/84')", day("20840229")},  // the picture has no century
        {"DAY(BORN)", 29.0},
        {"MONTH(BORN)", 2.0},
        {"YEAR(BORN)", 1984.0},
        {"DAY(BORN+1)", 1.0},
        {"YEAR(STOD('        '))", 0.0},
        {"VAL('  12.5xyz')", 12.5},
        {"VAL('-7')", -7.0},
        {"VAL(NAME)", 0.0},
        {"RECNO()", 7.0},
        {"RECCOUNT()", 0.0},
        {"IIF(FLAG, 1, 2)", 1.0},
        {"IIF(FLAG, BORN, DATE())", kBorn},
        {"DATE()", day(today)},
    };
    for (const NumberCase& c : cases) EXPECT_DOUBLE_EQ(table->number(c.text), c.expected) << c.text;
    EXPECT_EQ(table->eval("AMOUNT"), "   -123.45");
    EXPECT_EQ(table->eval("PRICE"), std::string(rawBytes<int64_t>(123456)));
}

struct TruthCase {
    const char* text;
    int32_t expected;
};

TEST_F(ExprEval, LogicalResults) {
    const TruthCase cases[] = {
        {"FLAG", 1},
        {".NOT. FLAG", 0},
        {".T.", 1},
        {".TRUE.", 1},
        {".f.", 0},
        {".FALSE.", 0},
        {"FLAG .AND. .F.", 0},
        {"FLAG .OR. .F.", 1},
        {".F. .OR. .F. .OR. .T.", 1},
        {"FLAG .AND. FLAG .AND. .F.", 0},
        {"'AB' = 'ABC'", 1},
        {"'ABC' = 'AB'", 1},
        {"'ABC' > 'AB'", 1},
        {"'AB' > 'ABC'", 0},
        {"'AB' < 'ABC'", 1},
        {"'AB' >= 'ABC'", 0},
        {"'ABC' >= 'AB'", 1},
        {"'AB' <= 'ABC'", 1},
        {"'ABC' <= 'AB'", 0},
        {"'AB' # 'AC'", 1},
        {"'AB' <> 'AB'", 0},
        {"'AB' => 'AA'", 1},
        {"'AB' =< 'AA'", 0},
        {"NAME = 'Ali'", 1},
        {"'lic' $ NAME", 1},
        {"'xyz' $ NAME", 0},
        {"'' $ NAME", 1},
        {"AMOUNT < 0", 1},
        {"AMOUNT >= -123.45", 1},
        {"AMOUNT > -123.45", 0},
        {"1 = 1", 1},
        {"1 # 2", 1},
        {"1 <= 1", 1},
        {"VAL('-0') = 0", 1},    // -0.0 equals 0.0
        {"-8^0.5 = -8^0.5", 0},  // NaN equals nothing
        {"-8^0.5 # -8^0.5", 1},
        {"BORN = STOD('19840229')", 1},
        {"BORN < DATE()", 1},
        {"BORN # BORN+1", 1},
        {"BORN+1 > BORN", 1},
        {"FLAG = .T.", 1},
        {"FLAG # .T.", 0},
        {"PRICE = PRICE", 1},
        {"PRICE > PRICE", 0},
        {"PRICE >= PRICE", 1},
        {"PRICE <> PRICE", 0},
        {"PRICE < PRICE", 0},
        {"PRICE <= PRICE", 1},
        {"PRICE = 12.3456", 1},
        {"STAMP = STAMP", 1},
        {"STAMP < STAMP", 0},
        {"STAMP <= STAMP", 1},
        {"STAMP # STAMP", 0},
        {".NOT. AMOUNT = 5", 1},
        {"DELETED()", 0},
        {"NAME", e4result},  // not a logical expression
    };
    for (const TruthCase& c : cases) EXPECT_EQ(table->truth(c.text), c.expected) << c.text;
}

TEST_F(ExprEval, CurrencyAndDateTimeCompareByValue) {
    TempDir other;
    static const field4def pair[] = {{"P1", 'Y', 0, 0, 0},
                                     {"P2", 'Y', 0, 0, 0},
                                     {"T1", 'T', 0, 0, 0},
                                     {"T2", 'T', 0, 0, 0},
                                     {nullptr, 0, 0, 0, 0}};
    table4* t = table4create(&table->env, other.file("pair").c_str(), pair, nullptr);
    ASSERT_NE(t, nullptr);
    auto put = [&](const char* name, const std::string& bytes) {
        std::memcpy(t->record + fieldNamed(t, name)->offset, bytes.data(), 8);
    };
    auto truth = [&](const char* text) {
        expression4* x = expr4parse(t, text, nullptr);
        EXPECT_NE(x, nullptr) << text;
        int32_t r = x != nullptr ? expr4true(x) : -1;
        expr4free(x);
        return r;
    };
    put("P1", rawBytes<int64_t>(-5));
    put("P2", rawBytes<int64_t>(3));
    datetime4 a, b;
    datetime4put(&a, 100, 86399999);
    datetime4put(&b, 101, 0);
    put("T1", std::string(reinterpret_cast<char*>(a.bytes), 8));
    put("T2", std::string(reinterpret_cast<char*>(b.bytes), 8));
    EXPECT_EQ(truth("P1 < P2"), 1);  // signed, not byte order
    EXPECT_EQ(truth("P1 > P2"), 0);
    EXPECT_EQ(truth("P1 # P2"), 1);
    EXPECT_EQ(truth("T1 < T2"), 1);  // the day decides before the milliseconds
    EXPECT_EQ(truth("T1 >= T2"), 0);
    EXPECT_EQ(table4close(t), 0);
}

TEST_F(ExprEval, DeletedReadsTheDeletionByte) {
    table->t->record[0] = '*';
    EXPECT_EQ(table->truth("DELETED()"), 1);
    EXPECT_EQ(table->eval("DEL()"), "*");
    table->t->record[0] = '?';
    expression4* x = expr4parse(table->t, "DELETED()", nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(expr4true(x), 0);  // the evaluation goes on, the error stands
    EXPECT_EQ(table->takeError(), e4info);
    expr4free(x);
}

TEST_F(ExprEval, RecordCountFollowsTheFile) {
    std::string record = blankRecord(table->t);
    ASSERT_EQ(appendRaw(table->t, record), 0);
    ASSERT_EQ(appendRaw(table->t, record), 0);
    EXPECT_DOUBLE_EQ(table->number("RECCOUNT()"), 2.0);
}

TEST_F(ExprEval, ResultsNeverWriteIntoTheRecord) {
    std::string before(table->t->record, table->t->dataFile->recordLen);
    for (const char* text : {"UPPER(NAME)", "TRIM(NAME)+CITY", "LTRIM(NAME)", "SUBSTR(CITY, 2)",
                             "DESCEND(NAME)", "ASCEND(AMOUNT)", "NAME-CITY", "RIGHT(NAME, 2)"})
        EXPECT_NE(table->eval(text)[0], '!') << text;
    EXPECT_EQ(std::string(table->t->record, table->t->dataFile->recordLen), before);
}

TEST_F(ExprEval, EvaluationErrors) {
    char* result = nullptr;
    EXPECT_EQ(expr4evaluate(nullptr, &result), e4parmNull);
    expression4* x = expr4parse(table->t, "NAME", nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(expr4evaluate(x, nullptr), e4parmNull);
    table->takeError();
    error4setCode(&table->env, e4read);
    EXPECT_EQ(expr4evaluate(x, &result), e4codeBase);
    EXPECT_EQ(expr4true(x), e4codeBase);
    EXPECT_EQ(expr4key(x, &result, nullptr), e4codeBase);
    EXPECT_EQ(table->takeError(), e4read);
    expr4free(x);
}

// ---- keys --------------------------------------------------------------------

TEST_F(ExprEval, KeysOfEachType) {
    table->putRaw<int32_t>("COUNT", -1);
    EXPECT_EQ(table->key("COUNT"), "\x7F\xFF\xFF\xFF");
    table->putRaw<int32_t>("COUNT", 0);
    EXPECT_EQ(table->key("COUNT"), "\x80\0\0\0"s);
    EXPECT_EQ(table->key("0.0+0"), "\x80\0\0\0\0\0\0\0"s);
    EXPECT_EQ(table->key("0.0*-1"), table->key("0.0+0"));  // -0.0 keys as 0.0
    EXPECT_LT(table->key("1.0+0"), table->key("2.0+0"));
    EXPECT_LT(table->key("-1.0+0"), table->key("0.0+0"));
    EXPECT_EQ(table->key("FLAG"), "T");
    EXPECT_EQ(table->key(".NOT. FLAG"), "F");
    EXPECT_EQ(table->key("AMOUNT"), doubleKey(-123.45));
    EXPECT_EQ(table->key("BORN"), doubleKey(kBorn));
    EXPECT_EQ(table->key("BORN+1"), doubleKey(kBorn + 1));
    EXPECT_EQ(table->key("NAME"), "Alice     ");
    EXPECT_EQ(table->key("RATIO"), doubleKey(0.25));
    uint8_t k[8];
    key4fromCurrency(k, 123456);
    EXPECT_EQ(table->key("PRICE"), std::string(reinterpret_cast<char*>(k), 8));
    EXPECT_EQ(table->key("PRICE*2"), table->key("PRICE+PRICE"));  // currency form
    key4fromCurrency(k, 246912);
    EXPECT_EQ(table->key("PRICE*2"), std::string(reinterpret_cast<char*>(k), 8));
    key4fromDateTime(k, 2451545, 3723004);
    EXPECT_EQ(table->key("STAMP"), std::string(reinterpret_cast<char*>(k), 8));
}

TEST_F(ExprEval, TrimmedTextKeysEndInBlanks) {
    table->put("CODE", "ab");
    EXPECT_EQ(table->eval("TRIM(CODE)"), "ab\0\0"s);
    EXPECT_EQ(table->key("TRIM(CODE)"), "ab  ");
    EXPECT_EQ(table->key("TRIM(CODE)+'x'"), "abx  ");
}

TEST_F(ExprEval, NumbersBeyondTheCurrencyFormAreRefused) {
    EXPECT_EQ(table->key("PRICE*100000000000000"), "!-440");
    EXPECT_EQ(table->key("PRICE*-1000000000000000"), "!-440");
    EXPECT_EQ(table->key("PRICE*(-8^0.5)"), "!-440");  // NaN
    EXPECT_NE(table->key("PRICE*1000000000")[0], '!');
}

TEST_F(ExprEval, GeneralCollationKeysSortAsAReaderExpects) {
    expr4tag general{expr4collationGeneral, 0, nullptr};
    table->put("NAME", "apple");
    std::string apple = table->key("NAME", &general);
    table->put("NAME", "Banana");
    std::string banana = table->key("NAME", &general);
    ASSERT_EQ(apple.size(), 20u);
    EXPECT_LT(apple, banana);                // case folded
    EXPECT_LT(table->key("NAME"), "apple");  // byte order without the collation
    uint8_t expected[20];
    ASSERT_EQ(
        collate4key(reinterpret_cast<const uint8_t*>("Banana    "), 10, nullptr, expected, 20), 20);
    EXPECT_EQ(banana, std::string(reinterpret_cast<char*>(expected), 20));
    // Trailing NUL bytes of a trimmed text collate as blanks.
    EXPECT_EQ(table->key("TRIM(NAME)", &general), banana);

    expression4* x = expr4parse(table->t, "NAME", &general);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(expr4keyLength(x), 20);
    expr4free(x);
}

TEST_F(ExprEval, KeyLengths) {
    expr4tag plain{};
    expr4tag candidate{expr4collationNone, expr4optionCandidate, nullptr};
    struct LengthCase {
        const char* text;
        const expr4tag* tag;
        int32_t len;
    } cases[] = {
        {"NAME", &plain, 10},          {"AMOUNT", &plain, 8},
        {"BORN", &plain, 8},           {"BORN+1", &plain, 8},
        {"STAMP", &plain, 8},          {"PRICE", &plain, 8},
        {"RATIO", &plain, 8},          {"COUNT", &plain, 4},
        {"FLAG", &plain, 1},           {"OPT", &plain, 6},
        {"OPT", &candidate, 5},        {"NAME+OPT", nullptr, 16},
        {"UPPER(OPT)", &candidate, 5},
    };
    for (const LengthCase& c : cases) {
        expression4* x = expr4parse(table->t, c.text, c.tag);
        ASSERT_NE(x, nullptr) << c.text;
        EXPECT_EQ(expr4keyLength(x), c.len) << c.text;
        expr4free(x);
    }
}

TEST_F(ExprEval, NullableFieldsPrefixTheirKeys) {
    expr4tag plain{};
    expr4tag candidate{expr4collationNone, expr4optionCandidate, nullptr};
    table->put("OPT", "xy");
    table->setNull("OPT", false);
    EXPECT_EQ(table->key("OPT", &plain), "\x80xy   ");
    EXPECT_EQ(table->key("NAME+OPT", &plain),
              "\x80"
              "Alice     xy   ");
    EXPECT_EQ(table->key("OPT", &candidate), "xy   ");
    table->setNull("OPT", true);
    EXPECT_EQ(table->key("OPT", &plain), std::string(6, '\0'));
    EXPECT_EQ(table->key("NAME+OPT", &plain), std::string(16, '\0'));
    EXPECT_LT(table->key("OPT", &plain), "\x80");         // null sorts first
    EXPECT_EQ(table->key("NAME", &plain), "Alice     ");  // reads no nullable field
}

// Text fields joined by '+' key as their bytes in the order written, however grouped, with or
// without a tag; a join with anything else, or a collated tag, keys as evaluated.
TEST_F(ExprEval, JoinedTextFieldsKeyAsTheirBytesInOrder) {
    expr4tag plain{};
    expr4tag general{expr4collationGeneral, 0, nullptr};
    const TextCase cases[] = {
        {"NAME+CITY", "Alice     Paris   "},
        {"CITY+(CODE+NAME)", "Paris   ab  Alice     "},
        {"(CITY+CODE)+NAME", "Paris   ab  Alice     "},
        {"CODE+CODE+CODE", "ab  ab  ab  "},
        {"CODE+'x'+CODE", "ab  xab  "},
        {"UPPER(CODE)+CITY", "AB  Paris   "},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(table->key(c.text), c.expected) << c.text;
        EXPECT_EQ(table->key(c.text, &plain), c.expected) << c.text;
        EXPECT_EQ(table->eval(c.text), c.expected) << c.text;
    }
    uint8_t collated[36];
    ASSERT_EQ(collate4key(reinterpret_cast<const uint8_t*>("Alice     Paris   "), 18, nullptr,
                          collated, 36),
              36);
    EXPECT_EQ(table->key("NAME+CITY", &general),
              std::string(reinterpret_cast<char*>(collated), 36));
    // A tag's expression reads the record the data file points at.
    expression4* x = expr4parse(table->t, "CODE+NAME", &plain);
    ASSERT_NE(x, nullptr);
    std::string other(table->t->record, size_t(table->t->dataFile->recordLen));
    std::memcpy(other.data() + fieldNamed(table->t, "CODE")->offset, "zz", 2);
    table->t->dataFile->currentRecord = other.data();
    char* key = nullptr;
    ASSERT_EQ(expr4key(x, &key, &plain), 14);
    EXPECT_EQ(std::string(key, 14), "zz  Alice     ");
    table->t->dataFile->currentRecord = table->t->record;
    expr4free(x);
}

TEST_F(ExprEval, KeyConvertOfTypedValues) {
    expression4* x = expr4parse(table->t, "NAME", nullptr);
    ASSERT_NE(x, nullptr);
    struct ConvertCase {
        std::string value;
        char type;
        std::string key;
    } cases[] = {
        {"19840229", 'D', doubleKey(kBorn)},
        {"        ", 'D', doubleKey(0)},
        {"   -1.50", 'N', doubleKey(-1.5)},
        {rawBytes<double>(-2.0), 'n', doubleKey(-2.0)},
        {rawBytes<int32_t>(1), 'L', "T"},
        {rawBytes<int32_t>(0), 'L', "F"},
        {"abc", 'C', "abc"},
    };
    for (ConvertCase& c : cases) {
        char* v = c.value.data();
        int32_t len = expr4keyConvert(x, &v, static_cast<int32_t>(c.value.size()), c.type, nullptr);
        ASSERT_EQ(len, static_cast<int32_t>(c.key.size())) << c.type;
        EXPECT_EQ(std::string(v, len), c.key) << c.type;
        EXPECT_EQ(v[len], '\0');
    }
    std::string two = rawBytes<int32_t>(2);
    char* v = two.data();
    EXPECT_EQ(expr4keyConvert(x, &v, 4, 'L', nullptr), e4info);  // a logical is 0 or 1
    table->takeError();
    v = two.data();
    EXPECT_EQ(expr4keyConvert(x, &v, 4, 'Q', nullptr), e4info);
    table->takeError();
    EXPECT_EQ(expr4keyConvert(x, nullptr, 4, 'C', nullptr), e4parmNull);
    expr4free(x);
}

// ---- tags over several handles -----------------------------------------------

TEST_F(ExprEval, ATagExpressionReadsTheHandleItIsPointedAt) {
    table->env.singleOpen = 0;
    table->env.accessMode = 0;
    table4* second = table4open(&table->env, table->t->dataFile->name);
    ASSERT_NE(second, nullptr);
    expr4tag tag{};
    expression4* x = expr4parse(table->t, "UPPER(NAME)+STR(RECNO(), 3)", &tag);
    ASSERT_NE(x, nullptr);
    std::memcpy(second->record + fieldNamed(second, "NAME")->offset, "bob       ", 10);
    second->recNum = 3;

    char* key = nullptr;
    ASSERT_EQ(expr4key(x, &key, &tag), 13);  // no current record yet: its own handle
    EXPECT_EQ(std::string(key, 13), "ALICE       7");
    ASSERT_EQ(expr4setTable(x, second), 0);
    ASSERT_EQ(expr4key(x, &key, &tag), 13);
    EXPECT_EQ(std::string(key, 13), "BOB         3");
    EXPECT_EQ(x->entries[0].field->table, second);

    // The old-record buffer is read by pointing the data file at it.
    std::memcpy(second->recordOld, second->record, second->dataFile->recordLen);
    std::memcpy(second->recordOld + fieldNamed(second, "NAME")->offset, "old", 3);
    second->dataFile->currentRecord = second->recordOld;
    ASSERT_EQ(expr4key(x, &key, &tag), 13);
    EXPECT_EQ(std::string(key, 13), "OLD         3");

    // Closing the handle it reads drops the pointer; the next evaluation
    // reads a handle that is still open.
    EXPECT_EQ(table4close(second), 0);
    EXPECT_EQ(table->t->dataFile->currentRecord, nullptr);
    ASSERT_EQ(expr4key(x, &key, &tag), 13);
    EXPECT_EQ(std::string(key, 13), "ALICE       7");
    expr4free(x);
}

TEST_F(ExprEval, SetTableRefusesAHandleOfAnotherFile) {
    TempDir other;
    table4* t2 = table4create(&table->env, other.file("other").c_str(), kExprFields, nullptr);
    ASSERT_NE(t2, nullptr);
    expression4* x = expr4parse(table->t, "NAME", nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(expr4setTable(x, t2), e4parm);
    table->takeError();
    EXPECT_EQ(expr4setTable(nullptr, t2), e4parmNull);
    expr4free(x);
    EXPECT_EQ(table4close(t2), 0);
}

// ---- named calculations ---------------------------------------------------------

TEST_F(ExprEval, NamedCalculationsAreKeptByNameAndFreedWithTheEnvironment) {
    env4* env = &table->env;
    expr4calc* c = expr4calcCreate(env, expr4parse(table->t, "UPPER(NAME)", nullptr), "Shout");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(expr4calcLookup(env, "SHOUT"), c);
    EXPECT_STREQ(c->name, "SHOUT");
    expr4calc* again = expr4calcCreate(env, expr4parse(table->t, "NAME", nullptr), "shout");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(expr4calcLookup(env, "shout"), again);  // replaced
    EXPECT_EQ(env->calcs.nLink, 1);
    EXPECT_EQ(expr4calcCreate(env, expr4parse(table->t, "NAME", nullptr), ""), nullptr);
    EXPECT_EQ(table->takeError(), e4name);
    EXPECT_EQ(
        expr4calcCreate(env, expr4parse(table->t, "NAME", nullptr), "AVERYLONGCALCULATIONNAME"),
        nullptr);
    EXPECT_EQ(table->takeError(), e4name);
    EXPECT_NE(expr4calcCreate(env, expr4parse(table->t, "CITY", nullptr), "OTHER"), nullptr);
    expr4calcDelete(env, expr4calcLookup(env, "OTHER"));
    EXPECT_EQ(expr4calcLookup(env, "OTHER"), nullptr);
    EXPECT_NE(expr4calcCreate(env, expr4parse(table->t, "CITY", nullptr), "KEPT"), nullptr);
    // env4release (in the fixture) frees what is left; the sanitizer sees any leak.
}

}  // namespace
