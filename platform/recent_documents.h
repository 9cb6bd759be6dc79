#pragma once
// The documents the user opened lately, from the list every desktop program shares: the
// freedesktop bookmark file "recently-used.xbel" in the data folder (recentListPath()). Each
// entry is a <bookmark> whose href is a URI, with the times it was added, modified and visited,
// and in its metadata the document's MIME type and the programs that opened it.
//
// Reading takes the local files (file:// URIs, percent-decoded) newest first. Adding writes the
// entry the way the desktop's own programs do, so that they go on reading the list: a new entry,
// or for a listed document new times and one more use by this program; everything else in the
// file is written back as it stood. A list that is not XML, or not a bookmark list, is reported
// and left untouched.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class RecentResult { ok, notXml, notXbel, tooLarge, failed };
const char* describe(RecentResult result);

constexpr std::size_t kMaxRecentFileBytes = std::size_t{16} << 20;

// A missing list reads as empty. error says what went wrong.
RecentResult readRecentDocuments(const std::string& listPath, std::vector<std::string>* paths,
                                 std::string* error = nullptr);

struct RecentEntry {
    std::string path;      // absolute path of the document
    std::string mimeType;  // "application/octet-stream" when empty
    std::string appName;   // the program, as its entries name it ("Quorvane")
    std::string appExec;   // how to start it on the document ("'quorvane' %u")
};

// Adds the document at the current time (UTC), creating the list and its folder when missing.
RecentResult addRecentDocument(const std::string& listPath, const RecentEntry& entry,
                               std::string* error = nullptr);

// "file://" and the path with every byte outside the unreserved characters and '/' written as
// %XX.
std::string fileUri(std::string_view absolutePath);
// The path of a local file URI ("file:///..." or "file://localhost/..."); false for any other.
bool pathFromFileUri(std::string_view uri, std::string* path);

// Microseconds since 1970 of an ISO 8601 UTC time ("2024-03-09T10:11:12.5Z"); -1 when it is
// not one.
int64_t parseXbelTime(std::string_view text);
std::string formatXbelTime(int64_t microseconds);

}  // namespace qv
