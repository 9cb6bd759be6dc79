#pragma once
// Whole-file reads with a size bound and whole-file replacement that is atomic and durable:
// the new bytes go to a temporary file beside the target (target + kTemporarySuffix + six
// random characters, mode 0600), are synced, and
// the temporary is renamed over the target, then the folder is synced. A reader sees either the
// old file or the new one, and after a crash at any point the target is one of the two.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

constexpr const char* kTemporarySuffix = ".tmp-";

enum class ReadFileResult { ok, missing, tooLarge, failed };

// Reads at most maxBytes of an open descriptor from its current offset; tooLarge (with the
// first maxBytes in out) when there is more.
ReadFileResult readAllBounded(int fd, std::size_t maxBytes, std::string* out);

// Opens and reads a file (missing when it does not exist).
ReadFileResult readFileBounded(const std::string& path, std::size_t maxBytes, std::string* out);

// Replaces path with bytes. beforeRename, when given, runs once the temporary is complete and
// synced; false from it abandons the replacement. On success, when keepFd is given it receives
// a descriptor of the new file (the caller closes it). error says what failed.
bool replaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error,
                           const std::function<bool()>& beforeRename = {}, int* keepFd = nullptr);

// Creates the folder and its missing parents with mode (existing ones are left as they are).
bool makeFolders(const std::string& path, mode_t mode, std::string* error);

// The folder part of a path, with its trailing '/' ("./" for a bare name).
std::string folderOf(const std::string& path);

// "what: system message" for the current errno.
std::string systemError(std::string_view what);

}  // namespace qv
