#pragma once
// Test helper: collects the warnings logged while it lives instead of printing them.
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

class LogCapture {
  public:
    LogCapture() {
        previous_ = qv::setLogSink([this](std::string_view text) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.emplace_back(text);
        });
    }
    ~LogCapture() { qv::setLogSink(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // True when a warning holding this text was logged.
    bool saw(const std::string& text) {
        for (const std::string& line : lines())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    qv::LogSink previous_;
};
