#pragma once
// The folders the program finds its own files and the user's in. Each is returned with a
// trailing '/', has no length limit, and is read from the environment at each call except the
// program folder, which cannot change while the process runs.
//
//   program folder   the folder of /proc/self/exe: help pages, layout files, macro programs
//   config folder    $QUORVANE_HOME, else $XDG_CONFIG_HOME/quorvane, else ~/.config/quorvane
//   data folder      $XDG_DATA_HOME, else ~/.local/share (the desktop's, not ours)
//   runtime folder   $XDG_RUNTIME_DIR/quorvane, else /tmp/quorvane-<uid>: instance lock and socket
//
// Relative values of the XDG variables are ignored, as the desktop's own programs do.

#include <string>

namespace qv {

// Empty when the executable's path cannot be read.
const std::string& programFolder();

std::string configFolder();
std::string dataFolder();

// Creates the runtime folder (mode 0700) when missing. The /tmp fallback is refused (empty
// result, error set) unless it is a real folder owned by this user that no one else can enter.
std::string runtimeFolder(std::string* error);

// The freedesktop list of recently used documents in the data folder.
std::string recentListPath();

}  // namespace qv
