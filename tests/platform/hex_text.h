#pragma once
// Test helper: bytes as lowercase hex, so that any value travels in one line between processes.
#include <string>

inline std::string hexText(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
