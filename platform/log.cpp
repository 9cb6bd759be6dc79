#include "platform/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace qv {

namespace {

std::mutex& sinkMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: warnings may come at exit
    return *mutex;
}

LogSink& currentSink() {
    static LogSink* sink = new LogSink;
    return *sink;
}

}  // namespace

void logWarning(std::string_view text) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (currentSink()) {
        currentSink()(text);
        return;
    }
    std::string line = "quorvane: warning: ";
    line.append(text);
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    LogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

}  // namespace qv
