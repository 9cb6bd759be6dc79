#include "platform/error_box.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/ansi_text.h"

namespace qv {

namespace {

void toStandardError(const char* text) {
    std::string line = ansiToUtf8(text ? text : "");
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

std::atomic<ErrorBoxSink> gSink{&toStandardError};

}  // namespace

void showErrorText(const char* text) {
    gSink.load()(text);
}

ErrorBoxSink setErrorBoxSink(ErrorBoxSink sink) {
    return gSink.exchange(sink ? sink : &toStandardError);
}

}  // namespace qv
