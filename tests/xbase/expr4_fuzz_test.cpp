// Random expressions, mostly well formed and partly mangled, parsed and run
// against random records: nothing may crash, and every key has the length
// the tag expects.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "expr_fixture.h"
#include "xbase/expr4.h"

namespace {

const char* const kNames[] = {"NAME", "CITY",  "CODE",   "AMOUNT",     "RATE",         "BORN",
                              "FLAG", "COUNT", "PRICE",  "STAMP",      "RATIO",        "NOTE",
                              "OPT",  "name",  "NOSUCH", "_NULLFLAGS", "LONGNAMEISBAD"};
const char* const kOperators[] = {"+",  "-", "*",     "/", "^",  "**", ".AND.", ".OR.",
                                  "=",  "#", "<>",    "<", ">",  "<=", ">=",    "=<",
                                  "=>", "$", ".and.", "!", "&&", "%"};
const char* const kFunctions[] = {"CHR",     "DEL",    "STR",     "SUBSTR",   "TIME",    "UPPER",
                                  "DTOS",    "DTOC",   "TRIM",    "LTRIM",    "ALLTRIM", "LEFT",
                                  "RIGHT",   "IIF",    "STOD",    "CTOD",     "DATE",    "DAY",
                                  "MONTH",   "YEAR",   "DELETED", "RECCOUNT", "RECNO",   "VAL",
                                  "DESCEND", "ASCEND", "NOFUNC",  "upper"};

class Generator {
  public:
    explicit Generator(uint64_t seed) : rng_(seed) {}

    std::string expression(int depth) {
        int choice = pick(depth > 4 ? 5 : 12);
        switch (choice) {
            case 0:
            case 1:
                return kNames[pick(std::size(kNames))];
            case 2:
                return number();
            case 3:
                return text();
            case 4:
                return pick(2) ? ".T." : ".F.";
            case 5:
                return ".NOT. " + expression(depth + 1);
            case 6:
            case 7:
                return expression(depth + 1) + kOperators[pick(std::size(kOperators))] +
                       expression(depth + 1);
            case 8:
            case 9: {
                std::string call = kFunctions[pick(std::size(kFunctions))];
                call += "(";
                int args = pick(4);
                for (int i = 0; i < args; ++i) {
                    if (i > 0) call += ",";
                    call += pick(3) == 0 ? number() : expression(depth + 1);
                }
                return call + ")";
            }
            case 10:
                return "(" + expression(depth + 1) + ")";
            default:
                return std::string(pick(2) ? "PEOPLE->" : "people.") +
                       kNames[pick(std::size(kNames))];
        }
    }

    // A well-typed expression of type C, n, d or L (so that most of them reach
    // the evaluator).
    std::string typed(char type, int depth) {
        bool leaf = depth > 5 || pick(3) == 0;
        switch (type) {
            case 'C': {
                static const char* const leaves[] = {"NAME", "CITY", "CODE", "OPT", "'ab c'", "''"};
                if (leaf) return leaves[pick(std::size(leaves))];
                static const char* const wraps[] = {"UPPER(",   "TRIM(",    "LTRIM(",
                                                    "ALLTRIM(", "DESCEND(", "ASCEND("};
                switch (pick(9)) {
                    case 0:
                        return wraps[pick(std::size(wraps))] + typed('C', depth + 1) + ")";
                    case 1:
                        return "SUBSTR(" + typed('C', depth + 1) + "," + number() +
                               (pick(2) ? "," + number() : "") + ")";
                    case 2:
                        return std::string(pick(2) ? "LEFT(" : "RIGHT(") + typed('C', depth + 1) +
                               "," + number() + ")";
                    case 3:
                        return typed('C', depth + 1) + (pick(2) ? "+" : "-") +
                               typed('C', depth + 1);
                    case 4:
                        return "STR(" + typed('n', depth + 1) + (pick(2) ? "," + number() : "") +
                               ")";
                    case 5:
                        return std::string(pick(2) ? "DTOS(" : "DTOC(") + typed('d', depth + 1) +
                               ")";
                    case 6:
                        return "CHR(" + typed('n', depth + 1) + ")+DEL()+TIME()";
                    case 7:
                        return "IIF(" + typed('L', depth + 1) + ",NAME,UPPER(NAME))";
                    default:
                        return std::string(pick(2) ? "ASCEND(" : "DESCEND(") +
                               typed("ndL"[pick(3)], depth + 1) + ")";
                }
            }
            case 'n': {
                static const char* const leaves[] = {"AMOUNT", "RATE",    "COUNT",     "PRICE",
                                                     "RATIO",  "RECNO()", "RECCOUNT()"};
                if (leaf) return pick(3) ? leaves[pick(std::size(leaves))] : number();
                static const char* const ops[] = {"+", "-", "*", "/", "^", "**"};
                switch (pick(5)) {
                    case 0:
                        return "VAL(" + typed('C', depth + 1) + ")";
                    case 1:
                        return std::string(pick(2) ? "DAY(" : "YEAR(") + typed('d', depth + 1) +
                               ")";
                    case 2:
                        return "IIF(" + typed('L', depth + 1) + "," + typed('n', depth + 1) + "," +
                               typed('n', depth + 1) + ")";
                    case 3:
                        return typed('d', depth + 1) + "-" + typed('d', depth + 1);
                    default:
                        return "(" + typed('n', depth + 1) + ops[pick(std::size(ops))] +
                               typed('n', depth + 1) + ")";
                }
            }
            case 'd': {
                if (leaf) return pick(2) ? "BORN" : "DATE()";
                switch (pick(4)) {
                    case 0:
                        return typed('d', depth + 1) + (pick(2) ? "+" : "-") +
                               typed('n', depth + 1);
                    case 1:
                        return "STOD(" + typed('C', depth + 1) + ")";
                    case 2:
                        return "CTOD(" + typed('C', depth + 1) + ")";
                    default:
                        return "IIF(" + typed('L', depth + 1) + "," + typed('d', depth + 1) + "," +
                               typed('d', depth + 1) + ")";
                }
            }
            default: {
                static const char* const leaves[] = {"FLAG",      ".T.",          ".F.",
                                                     "DELETED()", "PRICE>=PRICE", "STAMP<STAMP"};
                if (leaf) return leaves[pick(std::size(leaves))];
                static const char* const cmp[] = {"=", "#", "<>", "<", ">", "<=", ">=", "$"};
                switch (pick(5)) {
                    case 0:
                        return typed('C', depth + 1) + cmp[pick(std::size(cmp))] +
                               typed('C', depth + 1);
                    case 1:
                        return typed("nd"[pick(2)], depth + 1) + cmp[pick(7)] +
                               typed('n', depth + 1);
                    case 2:
                        return ".NOT. " + typed('L', depth + 1);
                    case 3:
                        return typed('L', depth + 1) + (pick(2) ? " .AND. " : " .OR. ") +
                               typed('L', depth + 1);
                    default:
                        return "(" + typed('L', depth + 1) + ")";
                }
            }
        }
    }

    // Inserts, drops or replaces a few bytes, or cuts the text short.
    std::string mangle(std::string s) {
        int edits = 1 + pick(3);
        for (int i = 0; i < edits; ++i) {
            size_t at = s.empty() ? 0 : pick(static_cast<int>(s.size()));
            switch (pick(4)) {
                case 0:
                    s.insert(s.begin() + at, static_cast<char>(1 + pick(255)));
                    break;
                case 1:
                    if (!s.empty()) s.erase(at, 1);
                    break;
                case 2:
                    if (!s.empty()) s[at] = "()'\"[],.-+ 0"[pick(12)];
                    break;
                default:
                    s.resize(at);
            }
        }
        return s;
    }

    int pick(size_t n) {
        return static_cast<int>(std::uniform_int_distribution<size_t>(0, n - 1)(rng_));
    }
    std::mt19937_64& rng() { return rng_; }

  private:
    std::string number() {
        static const char* const forms[] = {
            "0",  "1", "-5",           "2.5", ".5", "-.25", "7.", "1e3", "99999999999999999999",
            "-0", "3", "1000000000000"};
        return forms[pick(std::size(forms))];
    }
    std::string text() {
        std::string body;
        int n = pick(6);
        for (int i = 0; i < n; ++i) body += static_cast<char>('a' + pick(26));
        switch (pick(4)) {
            case 0:
                return "'" + body + "'";
            case 1:
                return "\"" + body + "\"";
            case 2:
                return "[" + body + "]";
            default:
                return "'" + body;  // unclosed
        }
    }

    std::mt19937_64 rng_;
};

void fillRecord(ExprTable& t, Generator& g) {
    char* rec = t.t->record;
    int32_t len = t.t->dataFile->recordLen;
    if (g.pick(2) == 0) {
        for (int32_t i = 0; i < len; ++i) rec[i] = static_cast<char>(g.rng()());
        return;
    }
    std::memcpy(rec, t.t->blankRecord, len);
    t.put("NAME", g.pick(2) ? "Alice" : "  x ");
    t.putNumber("AMOUNT", static_cast<double>(static_cast<int32_t>(g.rng()())) / 1000);
    t.putDay("BORN", 1721426 + g.pick(3652059));
    t.put("FLAG", g.pick(2) ? "T" : "n");
    t.putRaw<int32_t>("COUNT", static_cast<int32_t>(g.rng()()));
    t.putRaw<int64_t>("PRICE", static_cast<int64_t>(g.rng()()) >> g.pick(64));
    t.putStamp("STAMP", g.pick(6000000), g.pick(86400000));
    t.putRaw<double>("RATIO", static_cast<double>(static_cast<int64_t>(g.rng()())) / 7);
    t.setNull("OPT", g.pick(2) == 0);
}

// Runs `count` random expressions; returns how many parsed.
int runRandomExpressions(uint64_t seed, int count) {
    TempDir dir;
    ExprTable t(dir.path());
    EXPECT_NE(t.t, nullptr);
    if (t.t == nullptr) return 0;
    Generator g(seed);
    const expr4tag tags[] = {{expr4collationNone, 0, nullptr},
                             {expr4collationGeneral, 0, nullptr},
                             {expr4collationNone, expr4optionCandidate, nullptr}};
    int parsed = 0;
    for (int n = 0; n < count; ++n) {
        std::string text = g.pick(2) ? g.typed("CndL"[g.pick(4)], 0) : g.expression(0);
        if (g.pick(3) == 0) text = g.mangle(text);
        int which = g.pick(4);
        const expr4tag* tag = which < 3 ? &tags[which] : nullptr;
        expression4* x = expr4parse(t.t, text.c_str(), tag);
        if (x == nullptr) {
            t.takeError();
            continue;
        }
        ++parsed;
        for (int r = 0; r < 3; ++r) {
            fillRecord(t, g);
            char* result = nullptr;
            int32_t len = expr4evaluate(x, &result);
            if (len >= 0) {
                EXPECT_EQ(len, x->len) << text;
            }
            t.takeError();
            char* key = nullptr;
            len = expr4key(x, &key, tag);
            if (len >= 0) {
                EXPECT_EQ(len, expr4keyLength(x)) << text;
                EXPECT_EQ(key[len], '\0') << text;
            }
            t.takeError();
            if (x->type == 'L') {
                int32_t truth = expr4true(x);
                EXPECT_TRUE(truth == 0 || truth == 1 || truth < 0) << text;
                t.takeError();
            }
        }
        expr4free(x);
    }
    return parsed;
}

TEST(ExprRandom, RandomExpressionsNeverCrash) {
    int parsed = runRandomExpressions(4, 20000);
    EXPECT_GT(parsed, 2000);  // the generator reaches the evaluator, not only the parser
}

TEST(ExprRandom, LONG_RandomExpressionsNeverCrash) {
    for (uint64_t seed = 100; seed < 140; ++seed) runRandomExpressions(seed, 100000);
}

}  // namespace
