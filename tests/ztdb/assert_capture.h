#pragma once

#include <string>
#include <vector>

#include "ztdb/ztassert.h"

// Collects the engine's precondition reports while it lives, so that a test can show that a
// programming error was reported (and that nothing else was).
class AssertCapture {
  public:
    AssertCapture() {
        previous_ = ztSetAssertHandler(&record);
        reports().clear();
    }
    ~AssertCapture() { ztSetAssertHandler(previous_); }
    AssertCapture(const AssertCapture&) = delete;
    AssertCapture& operator=(const AssertCapture&) = delete;

    static std::vector<std::string>& reports() {
        static std::vector<std::string> list;
        return list;
    }

  private:
    static void record(const char* condition, const char*, int) { reports().push_back(condition); }
    ZTAssertHandler previous_;
};
