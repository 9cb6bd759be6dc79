#pragma once
// Warnings the program notes and goes on: a damaged settings, layout or recent-documents file,
// a message line that could not be formatted. They go to standard error until a sink is set
// (the desktop may keep them; tests capture them). Safe from any thread.

#include <functional>
#include <string_view>

namespace qv {

using LogSink = std::function<void(std::string_view text)>;

void logWarning(std::string_view text);

// Installs a sink (an empty one restores standard error) and returns the previous one.
LogSink setLogSink(LogSink sink);

}  // namespace qv
