#pragma once
// Helpers of the filter tests.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

// A word of letters that each take a whole key byte, so that a key of lenKey bytes holds
// exactly lenKey - 4 of them.
inline std::string byteLetters(size_t n) {
    const std::string letters = "bcdfghjklmpqvwxyz";
    std::string word;
    for (size_t i = 0; i < n; ++i) word += letters[i % letters.size()];
    return word;
}

// Runs work(0) and work(1) on two threads at once; each returns its number of wrong answers.
inline void expectNoMismatchOnTwoThreads(const std::function<int(int)>& work) {
    int mismatches[2] = {-1, -1};
    std::thread a([&] { mismatches[0] = work(0); }), b([&] { mismatches[1] = work(1); });
    a.join();
    b.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}
