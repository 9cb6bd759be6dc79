#pragma once
// Formulas: a small function language over a record's fields, compiled against one database
// into a code text and run against a record.
//
// Code text: one byte per opcode, read left to right on a stack of texts. A literal is 's', its
// length as exactly four decimal digits, then its bytes; a field reference is the field's ID as
// such a literal followed by 'v'. Every value is a text: numbers are texts that read wholly as a
// number (blanks before, an optional sign, digits with at most one point, an optional exponent;
// never "nan", "inf" or hexadecimal), truths are "1" and "0", IDs are decimal texts. A failing
// operation yields "##ERROR", which every later operation passes on; nothing stops a run.
//
// A code text depends on the database it was compiled for (field IDs) and is run by one thread
// at a time per ZTExpression; expressions on different threads share nothing but what they
// reach through their own database (each thread works on its own duplicate).
#include <cstdint>
#include <string>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztstr.h"

class ZTFile;
class ZTRecord;

// The value of every failed operation.
inline constexpr const char* kFormulaError = "##ERROR";

// One token of a formula: its code (see ZTTranslator) and its text (the literal, or the folded
// field name; empty for keywords and operators).
class ZTToken {
  public:
    ZTToken(uint32_t code, const char* text) : code(code) { this->text.assign(text); }
    uint32_t code;
    ZTStr text;
};

// Compiles a formula text against one database (field names become field IDs). Callers append
// the output opcode 'o' to the code before they evaluate it.
class ZTTranslator {
  public:
    // Results of translate: 0 compiled, otherwise the first fault found.
    static constexpr int kOk = 0;
    static constexpr int kErrorOpenString = 1;    // a double quote never closed
    static constexpr int kErrorBrackets = 2;      // unequal numbers of "(" and ")"
    static constexpr int kErrorSyntax = 3;        // a token out of place or an argument missing
    static constexpr int kErrorUnknownField = 4;  // a name the database does not know
    static constexpr int kErrorTooLong = 5;       // a literal longer than 9999 bytes
    static constexpr int kErrorTooDeep = 6;       // brackets or calls nested beyond kMaxDepth
    static constexpr int kErrorTrailing = 7;      // text after a complete formula
    // The deepest nesting of brackets and calls a formula may have.
    static constexpr uint32_t kMaxDepth = 200;
    static constexpr uint32_t kMaxLiteral = 9999;

    // The file may be null (then any field name is unknown) and changed later.
    explicit ZTTranslator(ZTFile* file = nullptr);
    ZTTranslator(const ZTTranslator&) = delete;
    ZTTranslator& operator=(const ZTTranslator&) = delete;

    void setFile(ZTFile* file) { file_ = file; }
    ZTFile* getFile() const { return file_; }

    // Compiles text. On success *code (when given) points at the code, owned by the translator
    // and valid until the next translate; on failure the code is empty.
    int translate(const char* text, const char** code);
    const ZTStr& getCode() const { return code_; }
    // The tokens of the last translate after operator rewriting.
    const ZTArrayP<ZTToken*>& getTokens() const { return tokens_; }

  private:
    int lex(const char* text);
    int rewriteOperators();

    ZTArrayP<ZTToken*> tokens_;
    ZTStr source_;
    ZTStr code_;
    ZTFile* file_ = nullptr;
};

// Turns rewritten tokens (every operator in call form) into code text.
class ZTTokenConverter {
  public:
    ZTTokenConverter(ZTFile* file, const ZTArrayP<ZTToken*>* tokens, ZTStr* code);
    // ZTTranslator's result codes.
    int convert();

  private:
    int expression(uint32_t depth);
    int call(uint32_t code, uint32_t depth);
    int expect(uint32_t code);
    void emitLiteral(const char* text, uint32_t length);

    ZTFile* file_;
    const ZTArrayP<ZTToken*>* tokens_;
    ZTStr* code_;
    uint32_t next_ = 0;
};

// Finds the record of a set whose field holds exactly a value (findrecord, autolink).
class ZTRecordFinder {
  public:
    virtual ~ZTRecordFinder() = default;
    // The first such record in the set's order; 0 when none. The value is compared byte for
    // byte with the field's values (their head, before any tagged section).
    virtual uint32_t findRecord(ZTFile* file, uint32_t setID, uint32_t fieldID,
                                const char* value) = 0;
};

// Walks the set's members in set order and tests each one's values of the field with an exact
// condition. The records that hold the value at all are found first through the field's value
// index: with none the answer is 0, with one it is that record when it is a member, and only
// with several is the set walked (testing those records alone).
class ZTSetOrderFinder : public ZTRecordFinder {
  public:
    uint32_t findRecord(ZTFile* file, uint32_t setID, uint32_t fieldID, const char* value) override;
};

// What the evaluator needs of links: following a record's link and reading a stored record.
class ZTFormulaLinks {
  public:
    virtual ~ZTFormulaLinks() = default;
    // The record that value i of the image links to; 0 when it is no link.
    virtual uint32_t linkTarget(ZTRecord* record, uint32_t i);
    // The record that the stored record's first value of the field links to; 0 when none.
    virtual uint32_t storedLinkTarget(ZTFile* file, uint32_t recordID, uint32_t fieldID);
    // The text of the stored record's first value of the field; false when it has none.
    virtual bool storedText(ZTFile* file, uint32_t recordID, uint32_t fieldID, ZTStr* out);
    // Stores a formula's result as value i of the image (a link directive makes a link where
    // the image supports it); false when refused.
    virtual bool storeResult(ZTRecord* record, uint32_t i, const char* text);
};

// Runs code text against a record. See the top of this file for values.
class ZTExpression {
  public:
    // Modes of ZTFormula::apply.
    static constexpr int kModeAppend = 1;
    static constexpr int kModeEmpty = 2;
    static constexpr int kModeReplace = 3;
    // A run stops with "##ERROR" past this many opcodes or this much working code (code that
    // 'I' inserts into itself could otherwise run for ever).
    static constexpr uint64_t kMaxSteps = 1000000;
    static constexpr uint32_t kMaxWorkingCode = 1u << 20;

    ZTExpression();
    ZTExpression(const char* code, int mode, uint32_t field);
    ZTExpression(const ZTExpression&) = delete;
    ZTExpression& operator=(const ZTExpression&) = delete;
    ~ZTExpression();

    void setField(uint32_t field) { field_ = field; }
    uint32_t getField() const { return field_; }
    void setMode(int mode) { mode_ = mode; }
    int getMode() const { return mode_; }
    void setCode(const char* code) { code_.assign(code); }
    const char* getCode() const { return code_.text; }
    void setOwned(bool owned) { owned_ = owned; }
    bool isOwned() const { return owned_; }
    // The output of the last run.
    const ZTStr& getOutput() const { return output_; }

    // The file used when no record is given (a record's own file wins).
    void setFile(ZTFile* file) { file_ = file; }
    // Not owned; null restores the default (set-order finder, links read from the file).
    void setRecordFinder(ZTRecordFinder* finder);
    void setLinks(ZTFormulaLinks* links);

    // Runs code (null: the expression's own) against the record (may be null) with the current
    // field (0: the first field read; 0xFFFFFFFF: none) and the index of the value among the
    // current field's values; copies the output into result (when given). False only when a
    // field read found no value at that index (with no field read, or with current field
    // 0xFFFFFFFF, true only for index 0).
    bool evaluate(ZTStr* result, ZTRecord* record, const char* code, uint32_t currentField,
                  uint32_t valueIndex);

  private:
    class Run;
    friend class Run;

    ZTStr code_;
    ZTStr output_;
    uint32_t owned_ = 0;
    int mode_ = kModeReplace;
    uint32_t currentField_ = 0;
    uint32_t field_ = 0;
    ZTFile* file_ = nullptr;
    ZTRecordFinder* finder_ = nullptr;
    ZTFormulaLinks* links_ = nullptr;
    std::vector<std::string> stack_;
};

// Several expressions, each with a target field and a mode, applied to one record at a time.
class ZTFormula {
  public:
    ZTFormula() = default;
    ZTFormula(const ZTFormula&) = delete;
    ZTFormula& operator=(const ZTFormula&) = delete;
    ~ZTFormula();

    // Deletes the expressions it owns and empties the list.
    void clear();
    // Appends an expression (owned only when its owned flag is set).
    void add(ZTExpression* expression);
    // Appends a new owned expression of the code.
    ZTExpression* addExpr(const char* code, int mode, uint32_t field);
    uint32_t size() const { return uint32_t(expressions_.size()); }
    ZTExpression* at(uint32_t i) const { return expressions_[i]; }

    // Applies every expression to the record: mode 2 empties the target field's values; modes
    // 1 and 3 evaluate once per value of the target field (once when it has none), mode 1
    // appending each result as a new value, mode 3 storing it into that value. The number of
    // values set.
    uint32_t apply(ZTRecord* record, uint32_t currentField);

    void setLinks(ZTFormulaLinks* links) { links_ = links; }

  private:
    std::vector<ZTExpression*> expressions_;
    ZTFormulaLinks* links_ = nullptr;
};

// Numbers as formulas read and write them.
namespace ztformula {
// Whether text reads wholly as a number by the formula grammar; its value in *v.
bool readNumber(const char* text, double* v);
// At most 14 decimals, a leading zero, trailing zeros and point cut, "-0" as "0".
std::string writeNumber(double v);
}  // namespace ztformula
