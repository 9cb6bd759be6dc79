#pragma once
// Test helper for key expressions: an environment with one table holding a
// field of every type the expression language reads, whose current record the
// tests fill directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "table_helpers.h"
#include "temp_dir.h"
#include "xbase/date4.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/table4.h"
#include "xbase/util4.h"

// NAME C10, CITY C8, CODE C4, AMOUNT N10.2, RATE F8.3, BORN D, FLAG L,
// COUNT I, PRICE Y, STAMP T, RATIO B, NOTE memo, OPT C5 nullable.
inline const field4def kExprFields[] = {
    {"NAME", 'C', 10, 0, 0},   {"CITY", 'C', 8, 0, 0},  {"CODE", 'C', 4, 0, 0},
    {"AMOUNT", 'N', 10, 2, 0}, {"RATE", 'F', 8, 3, 0},  {"BORN", 'D', 0, 0, 0},
    {"FLAG", 'L', 0, 0, 0},    {"COUNT", 'I', 0, 0, 0}, {"PRICE", 'Y', 0, 0, 0},
    {"STAMP", 'T', 0, 0, 0},   {"RATIO", 'B', 0, 0, 0}, {"NOTE", 'X', 0, 0, 0},
    {"OPT", 'C', 5, 0, 190},   {nullptr, 0, 0, 0, 0}};

// One environment and its table "people"; the environment may live on any thread.
class ExprTable {
  public:
    explicit ExprTable(const std::string& folder) {
        (void)env4init(&env, env4version);
        env.compatibility = 30;
        env.accessMode = 1;  // records can be appended straight to the file
        t = table4create(&env, (folder + "/people").c_str(), kExprFields, nullptr);
    }
    ~ExprTable() {
        env.errorCode = 0;
        (void)env4closeAll(&env);
        (void)env4release(&env);
    }
    ExprTable(const ExprTable&) = delete;
    ExprTable& operator=(const ExprTable&) = delete;

    void put(const char* field, const std::string& bytes) {
        field4* f = fieldNamed(t, field);
        std::string v = bytes;
        v.resize(f->len, f->kind == field4kindBinary ? '\0' : ' ');
        std::memcpy(t->record + f->offset, v.data(), f->len);
    }
    void putNumber(const char* field, double value) {
        field4* f = fieldNamed(t, field);
        (void)c4dtoa(value, t->record + f->offset, f->len, f->dec);
    }
    void putDay(const char* field, int32_t day) {
        char text[8];
        (void)date4fromJulian(text, day);
        put(field, std::string(text, 8));
    }
    void putStamp(const char* field, int32_t day, int32_t ms) {
        datetime4 v;
        datetime4put(&v, day, ms);
        put(field, std::string(reinterpret_cast<const char*>(v.bytes), 8));
    }
    template <typename T>
    void putRaw(const char* field, T value) {
        put(field, rawBytes(value));
    }
    void setNull(const char* field, bool null) {
        field4* f = fieldNamed(t, field);
        field4* flags = &t->fields[t->fieldCount - 1];
        char& byte = t->record[flags->offset + f->nullBit / 8];
        if (null)
            byte = static_cast<char>(byte | (1 << (f->nullBit % 8)));
        else
            byte = static_cast<char>(byte & ~(1 << (f->nullBit % 8)));
    }

    // The result bytes of `text`, or "!<code>" when parsing or evaluating fails.
    std::string eval(const char* text, char* type = nullptr) {
        expression4* x = expr4parse(t, text, nullptr);
        if (x == nullptr) return "!" + std::to_string(takeError());
        char* result = nullptr;
        int32_t len = expr4evaluate(x, &result);
        if (type != nullptr) *type = x->type;
        std::string out = len < 0 ? "!" + std::to_string(len) : std::string(result, len);
        expr4free(x);
        return out;
    }
    double number(const char* text) {
        char type = 0;
        std::string r = eval(text, &type);
        double d = -999999.0;
        if ((type == 'n' || type == 'd') && r.size() == 8) std::memcpy(&d, r.data(), 8);
        return d;
    }
    // 1 or 0, or a negative code.
    int32_t truth(const char* text) {
        expression4* x = expr4parse(t, text, nullptr);
        if (x == nullptr) return takeError();
        int32_t r = expr4true(x);
        expr4free(x);
        return r;
    }
    // The key bytes of `text` for `tag`, or "!<code>" (and the code in keyError).
    std::string key(const char* text, const expr4tag* tag = nullptr) {
        keyError = 0;
        expression4* x = expr4parse(t, text, tag);
        if (x == nullptr) keyError = takeError();
        char* k = nullptr;
        int32_t len = x != nullptr ? expr4key(x, &k, tag) : 0;
        if (len < 0) keyError = takeError();
        expr4free(x);
        return keyError != 0 ? "!" + std::to_string(keyError) : std::string(k, len);
    }
    int32_t takeError() { return error4setCode(&env, 0); }
    int32_t keyError = 0;

    env4 env;
    table4* t = nullptr;
};

class ExprTest : public ::testing::Test {
  protected:
    void SetUp() override {
        table = std::make_unique<ExprTable>(dir.path());
        ASSERT_NE(table->t, nullptr);
    }
    void TearDown() override { table.reset(); }
    TempDir dir;
    std::unique_ptr<ExprTable> table;
};
