#pragma once
// Test helper: records every error the library raises while it lives.
#include <cstdint>
#include <vector>

#include "xbase/core/error4.h"

class ErrorCapture {
  public:
    ErrorCapture() {
        codes().clear();
        error4setHook(&ErrorCapture::record);
    }
    ~ErrorCapture() { error4setHook(nullptr); }
    const std::vector<int32_t>& seen() const { return codes(); }
    bool saw(int32_t code) const {
        for (int32_t c : codes())
            if (c == code) return true;
        return false;
    }
    void clear() { codes().clear(); }

  private:
    static std::vector<int32_t>& codes() {
        static std::vector<int32_t> v;
        return v;
    }
    static void record(env4*, int32_t code, int32_t, const char*, const char*, const char*) {
        codes().push_back(code);
    }
};
