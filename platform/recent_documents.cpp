#include "platform/recent_documents.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/atomic_file.h"
#include "platform/xml_tree.h"

namespace qv {

namespace {

constexpr std::string_view kBookmarkNamespace =
    "http://www.freedesktop.org/standards/desktop-bookmarks";
constexpr std::string_view kMimeNamespace = "http://www.freedesktop.org/standards/shared-mime-info";
constexpr std::string_view kMetadataOwner = "http://freedesktop.org";

int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    // Days since 1970-01-01 of a proleptic Gregorian date.
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int* y, int* m, int* d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

bool takeDigits(std::string_view& text, std::size_t count, int* out) {
    if (text.size() < count) return false;
    *out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *out = *out * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return true;
}

bool takeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int64_t nowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The prefix the root binds to a namespace, binding prefer (or a free variant of it) when
// the root binds none.
std::string prefixFor(XmlNode& root, std::string_view uri, std::string prefer) {
    for (const auto& [name, value] : root.attributes) {
        if (name.rfind("xmlns:", 0) == 0 && value == uri) return name.substr(6);
    }
    std::string prefix = prefer;
    for (int n = 1; root.attribute("xmlns:" + prefix); ++n) prefix = prefer + std::to_string(n);
    root.setAttribute("xmlns:" + prefix, std::string(uri));
    return prefix;
}

XmlNode element(std::string name) {
    XmlNode node;
    node.name = std::move(name);
    return node;
}

XmlNode text(std::string s) {
    XmlNode node;
    node.kind = XmlNode::Kind::text;
    node.text = std::move(s);
    return node;
}

// Appends child to parent on a line of its own at the given indentation, keeping the
// parent's closing tag on the line after.
XmlNode& appendIndented(XmlNode& parent, XmlNode child, int depth) {
    std::string indent = "\n" + std::string(2 * static_cast<std::size_t>(depth), ' ');
    std::string closing = "\n" + std::string(2 * static_cast<std::size_t>(depth - 1), ' ');
    if (!parent.children.empty() && parent.children.back().kind == XmlNode::Kind::text) {
        parent.children.back().text = indent;
    } else {
        parent.children.push_back(text(indent));
    }
    parent.children.push_back(std::move(child));
    parent.children.push_back(text(closing));
    return parent.children[parent.children.size() - 2];
}

// The bookmark's freedesktop metadata, made when missing.
XmlNode& metadataOf(XmlNode& bookmark) {
    XmlNode* info = bookmark.child("info");
    if (!info) info = &appendIndented(bookmark, element("info"), 2);
    for (XmlNode& node : info->children) {
        const std::string* owner = node.attribute("owner");
        if (node.kind == XmlNode::Kind::element && node.name == "metadata" && owner &&
            *owner == kMetadataOwner)
            return node;
    }
    XmlNode metadata = element("metadata");
    metadata.setAttribute("owner", std::string(kMetadataOwner));
    return appendIndented(*info, std::move(metadata), 3);
}

void recordUse(XmlNode& root, XmlNode& bookmark, const RecentEntry& entry, const std::string& now) {
    std::string b = prefixFor(root, kBookmarkNamespace, "bookmark");
    std::string mime = prefixFor(root, kMimeNamespace, "mime");
    bookmark.setAttribute("modified", now);
    bookmark.setAttribute("visited", now);
    XmlNode& metadata = metadataOf(bookmark);
    if (!metadata.child(mime + ":mime-type")) {
        XmlNode type = element(mime + ":mime-type");
        type.setAttribute("type",
                          entry.mimeType.empty() ? "application/octet-stream" : entry.mimeType);
        appendIndented(metadata, std::move(type), 4);
    }
    XmlNode* applications = metadata.child(b + ":applications");
    if (!applications) applications = &appendIndented(metadata, element(b + ":applications"), 4);
    for (XmlNode& app : applications->children) {
        const std::string* name = app.attribute("name");
        if (app.kind != XmlNode::Kind::element || app.name != b + ":application" || !name ||
            *name != entry.appName)
            continue;
        long count = 0;
        if (const std::string* old = app.attribute("count"))
            count = std::strtol(old->c_str(), nullptr, 10);
        app.setAttribute("count", std::to_string(count < 0 ? 1 : count + 1));
        app.setAttribute("modified", now);
        return;
    }
    XmlNode app = element(b + ":application");
    app.setAttribute("name", entry.appName);
    app.setAttribute("exec", entry.appExec);
    app.setAttribute("modified", now);
    app.setAttribute("count", "1");
    appendIndented(*applications, std::move(app), 5);
}

RecentResult readList(const std::string& listPath, XmlDocument* document, bool* missing,
                      std::string* error) {
    std::string text;
    *missing = false;
    switch (readFileBounded(listPath, kMaxRecentFileBytes, &text)) {
        case ReadFileResult::ok:
            break;
        case ReadFileResult::missing:
            *missing = true;
            return RecentResult::ok;
        case ReadFileResult::tooLarge:
            *error = listPath + " is larger than the program reads";
            return RecentResult::tooLarge;
        case ReadFileResult::failed:
            *error = systemError("cannot read " + listPath);
            return RecentResult::failed;
    }
    std::string problem;
    if (!parseXml(text, document, &problem)) {
        *error = listPath + " is not XML: " + problem;
        return RecentResult::notXml;
    }
    if (document->root.name != "xbel") {
        *error = listPath + " is not a bookmark list";
        return RecentResult::notXbel;
    }
    return RecentResult::ok;
}

}  // namespace

const char* describe(RecentResult result) {
    switch (result) {
        case RecentResult::ok:
            return "ok";
        case RecentResult::notXml:
            return "the list is not XML";
        case RecentResult::notXbel:
            return "the file is not a bookmark list";
        case RecentResult::tooLarge:
            return "the list is too large";
        case RecentResult::failed:
            return "the list could not be read or written";
    }
    return "unknown";
}

int64_t parseXbelTime(std::string_view text) {
    int year, month, day, hour, minute, second;
    if (!takeDigits(text, 4, &year) || !takeChar(text, '-') || !takeDigits(text, 2, &month) ||
        !takeChar(text, '-') || !takeDigits(text, 2, &day) || !takeChar(text, 'T') ||
        !takeDigits(text, 2, &hour) || !takeChar(text, ':') || !takeDigits(text, 2, &minute) ||
        !takeChar(text, ':') || !takeDigits(text, 2, &second))
        return -1;
    int64_t micro = 0;
    if (takeChar(text, '.')) {
        int64_t scale = 100000;
        if (text.empty() || text.front() < '0' || text.front() > '9') return -1;
        while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
            micro += (text.front() - '0') * scale;
            scale /= 10;
            text.remove_prefix(1);
        }
    }
    if (text != "Z" || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60)
        return -1;
    int64_t seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return seconds * 1000000 + micro;
}

std::string formatXbelTime(int64_t microseconds) {
    int64_t seconds = microseconds / 1000000, micro = microseconds % 1000000;
    if (micro < 0) {
        micro += 1000000;
        --seconds;
    }
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y, m, d;
    civilFromDays(days, &y, &m, &d);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", y, m, d,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60), static_cast<int>(micro));
    return buffer;
}

std::string fileUri(std::string_view absolutePath) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : absolutePath) {
        if (isUnreserved(c) || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

bool pathFromFileUri(std::string_view uri, std::string* path) {
    if (uri.substr(0, 7) != "file://") return false;
    uri.remove_prefix(7);
    if (uri.substr(0, 9) == "localhost") uri.remove_prefix(9);
    if (uri.empty() || uri.front() != '/') return false;  // another host's file
    path->clear();
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] != '%') {
            *path += uri[i];
            continue;
        }
        if (i + 2 >= uri.size()) return false;
        int high = hexValue(uri[i + 1]), low = hexValue(uri[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
        *path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

RecentResult readRecentDocuments(const std::string& listPath, std::vector<std::string>* paths,
                                 std::string* error) {
    paths->clear();
    std::string ignored;
    if (!error) error = &ignored;
    XmlDocument document;
    bool missing = false;
    RecentResult result = readList(listPath, &document, &missing, error);
    if (result != RecentResult::ok || missing) return result;

    struct Entry {
        int64_t time;
        std::size_t order;
        std::string path;
    };
    std::vector<Entry> entries;
    for (const XmlNode& node : document.root.children) {
        if (node.kind != XmlNode::Kind::element || node.name != "bookmark") continue;
        const std::string* href = node.attribute("href");
        std::string path;
        if (!href || !pathFromFileUri(*href, &path)) continue;
        int64_t latest = -1;
        for (const char* stamp : {"added", "modified", "visited"}) {
            if (const std::string* value = node.attribute(stamp))
                latest = std::max(latest, parseXbelTime(*value));
        }
        entries.push_back({latest, entries.size(), std::move(path)});
    }
    // Newest first; of equal times, the one written later first.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.time != b.time ? a.time > b.time : a.order > b.order;
    });
    std::set<std::string> seen;
    for (Entry& entry : entries) {
        if (seen.insert(entry.path).second) paths->push_back(std::move(entry.path));
    }
    return RecentResult::ok;
}

RecentResult addRecentDocument(const std::string& listPath, const RecentEntry& entry,
                               std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    if (entry.path.empty() || entry.path.front() != '/') {
        *error = "not an absolute path: " + entry.path;
        return RecentResult::failed;
    }
    XmlDocument document;
    bool missing = false;
    RecentResult result = readList(listPath, &document, &missing, error);
    if (result != RecentResult::ok) return result;
    if (missing) {
        document.prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        document.root = element("xbel");
        document.root.setAttribute("version", "1.0");
        document.epilog = "\n";
    }
    XmlNode& root = document.root;
    prefixFor(root, kBookmarkNamespace, "bookmark");
    prefixFor(root, kMimeNamespace, "mime");

    const std::string href = fileUri(entry.path);
    const std::string now = formatXbelTime(nowMicroseconds());
    XmlNode* bookmark = nullptr;
    for (XmlNode& node : root.children) {
        const std::string* existing = node.attribute("href");
        if (node.kind == XmlNode::Kind::element && node.name == "bookmark" && existing) {
            std::string path;
            if (*existing == href || (pathFromFileUri(*existing, &path) && path == entry.path)) {
                bookmark = &node;
                break;
            }
        }
    }
    if (!bookmark) {
        XmlNode added = element("bookmark");
        added.setAttribute("href", href);
        added.setAttribute("added", now);
        bookmark = &appendIndented(root, std::move(added), 1);
    }
    recordUse(root, *bookmark, entry, now);

    if (!makeFolders(folderOf(listPath), 0700, error)) return RecentResult::failed;
    if (!replaceFileAtomically(listPath, writeXml(document), error)) return RecentResult::failed;
    error->clear();
    return RecentResult::ok;
}

}  // namespace qv
