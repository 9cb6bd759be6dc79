#include "platform_qt/dialogs.h"

#include <algorithm>
#include <cctype>

namespace qv {

std::vector<int> boxAnswers(unsigned flags) {
    switch (flags & kBoxButtonsMask) {
        case kBoxOkCancel:
            return {kBoxResultOk, kBoxResultCancel};
        case kBoxYesNo:
            return {kBoxResultYes, kBoxResultNo};
        default:
            return {kBoxResultOk};
    }
}

int boxDismissAnswer(unsigned flags) {
    return boxAnswers(flags).back();
}

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t end = s.find(sep, start);
        parts.push_back(s.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

void addPattern(std::vector<std::string>& patterns, std::string p) {
    if (std::find(patterns.begin(), patterns.end(), p) == patterns.end())
        patterns.push_back(std::move(p));
}

std::vector<std::string> linuxPatterns(std::string_view list) {
    std::vector<std::string> patterns;
    for (std::string_view raw : split(list, ';')) {
        const std::string_view p = trim(raw);
        if (p.empty()) continue;
        if (p == "*.*" || p == "*") {
            addPattern(patterns, "*");
            continue;
        }
        std::string lower(p), upper(p);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return char(std::toupper(c)); });
        addPattern(patterns, std::string(p));
        addPattern(patterns, lower);
        addPattern(patterns, upper);
    }
    if (patterns.empty()) patterns.push_back("*");
    return patterns;
}

}  // namespace

std::vector<FileFilter> parseFileFilter(std::string_view filter) {
    std::vector<FileFilter> filters;
    if (!trim(filter).empty()) {
        const std::vector<std::string_view> parts = split(filter, '|');
        for (size_t i = 0; i < parts.size(); i += 2) {
            const std::string_view patterns = i + 1 < parts.size() ? parts[i + 1] : "";
            std::string description(trim(parts[i]));
            if (description.empty() && trim(patterns).empty()) continue;  // "a|b|" ends in '|'
            if (description.empty()) description = std::string(trim(patterns));
            filters.push_back({std::move(description), linuxPatterns(patterns)});
        }
    }
    if (filters.empty()) filters.push_back({"All files", {"*"}});
    return filters;
}

}  // namespace qv
