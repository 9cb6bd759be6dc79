#pragma once
// ZTSearchFormula: the formula condition of a search (the part of a query text after its first
// '='), compiled on the search's database and run against each record the walk reaches. A record
// passes when the result reads wholly as a non-zero decimal integer.
#include <cstdint>
#include <memory>

#include "ztdb/ztstr.h"

class ZTFile;
class ZTExpression;
class ZTRecord;

class ZTSearchFormula {
  public:
    ZTSearchFormula();
    ~ZTSearchFormula();
    ZTSearchFormula(const ZTSearchFormula&) = delete;
    ZTSearchFormula& operator=(const ZTSearchFormula&) = delete;

    // Compiles the text on the file; false (no condition) when it does not compile or gives no
    // code.
    bool compile(ZTFile* file, const char* text);
    void clear();
    bool isEmpty() const { return code_.length == 0; }
    const char* getCode() const { return code_.text; }

    // Whether the record passes.
    bool accepts(uint32_t recordID);
    // The rule for a result text: a non-zero decimal integer, nothing else.
    static bool isTrue(const char* result);

  private:
    ZTStr code_;  // with the output opcode
    ZTFile* file_ = nullptr;
    std::unique_ptr<ZTRecord> record_;  // the record under test, on the search's file
    std::unique_ptr<ZTExpression> expression_;
};
