#include "platform/layout.h"

#include <charconv>

#include "platform/ansi_text.h"
#include "platform/atomic_file.h"
#include "platform/log.h"

namespace qv {

namespace {

constexpr std::string_view kHeader = "quorvane-layout 1";

const std::string& emptyText() {
    static const std::string* empty = new std::string;
    return *empty;
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > kMaxLayoutNameBytes) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// Well-formed UTF-8 without control characters other than tab.
bool validText(std::string_view text) {
    std::size_t at = 0;
    char32_t cp = 0;
    while (at < text.size()) {
        if (!decodeUtf8(text, at, cp)) return false;
        if ((cp < 0x20 && cp != '\t') || cp == 0x7F) return false;
    }
    return true;
}

// Why one line of a layout file cannot be used, or empty when it was taken.
std::string parseEntry(std::string_view line, Layout* layout) {
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return "no '='";
    std::string_view head = line.substr(0, equals);
    std::string_view text = line.substr(equals + 1);
    if (!validText(text)) return "the text is not valid UTF-8 text";
    std::size_t space = head.find(' ');
    if (space == std::string_view::npos) return "no kind of entry";
    std::string_view kind = head.substr(0, space);
    std::string_view rest = head.substr(space + 1);
    if (kind == "line") {
        std::size_t gap = rest.find(' ');
        if (gap == std::string_view::npos) return "no line number";
        std::string_view list = rest.substr(0, gap), number = rest.substr(gap + 1);
        if (!validName(list)) return "not a valid list name";
        std::size_t index = 0;
        auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), index);
        if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
            index >= kMaxLayoutLines)
            return "not a valid line number";
        layout->setLine(list, index, std::string(text));
        return {};
    }
    if (!validName(rest)) return "not a valid name";
    if (kind == "caption") {
        layout->setCaption(rest, std::string(text));
        return {};
    }
    if (kind == "number") {
        int32_t value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size())
            return "not a 32-bit number";
        layout->setNumber(rest, value);
        return {};
    }
    return "unknown kind of entry";
}

void appendText(std::string& out, std::string_view text) {
    // A real line break would end the entry: it is written as the escape that stands for it.
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
}

}  // namespace

const std::string& Layout::line(std::string_view list, std::size_t index) const {
    auto it = lists_.find(list);
    if (it == lists_.end() || index >= it->second.size()) return emptyText();
    return it->second[index];
}

const std::vector<std::string>& Layout::lines(std::string_view list) const {
    static const std::vector<std::string>* none = new std::vector<std::string>;
    auto it = lists_.find(list);
    return it == lists_.end() ? *none : it->second;
}

const std::string& Layout::caption(std::string_view name) const {
    auto it = captions_.find(name);
    return it == captions_.end() ? emptyText() : it->second;
}

int32_t Layout::number(std::string_view name, int32_t otherwise) const {
    auto it = numbers_.find(name);
    return it == numbers_.end() ? otherwise : it->second;
}

bool Layout::setLine(std::string_view list, std::size_t index, std::string text) {
    if (index >= kMaxLayoutLines) return false;
    auto it = lists_.find(list);
    if (it == lists_.end())
        it = lists_.emplace(std::string(list), std::vector<std::string>{}).first;
    if (it->second.size() <= index) it->second.resize(index + 1);
    it->second[index] = std::move(text);
    return true;
}

void Layout::setLines(std::string_view list, std::initializer_list<const char*> texts) {
    std::size_t index = 0;
    for (const char* text : texts) setLine(list, index++, text);
}

void Layout::setCaption(std::string_view name, std::string text) {
    captions_[std::string(name)] = std::move(text);
}

void Layout::setNumber(std::string_view name, int32_t value) {
    numbers_[std::string(name)] = value;
}

bool parseLayoutText(std::string_view text, std::string_view source, Layout* layout) {
    std::size_t lineNumber = 0;
    bool headerSeen = false;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!headerSeen) {
            if (line != kHeader) {
                logWarning(std::string(source) + " is not a layout file; its defaults are used");
                return false;
            }
            headerSeen = true;
            continue;
        }
        if (line.empty() || line.front() == '#') continue;
        std::string problem = parseEntry(line, layout);
        if (!problem.empty()) {
            logWarning(std::string(source) + ":" + std::to_string(lineNumber) + ": " + problem +
                       "; the line is skipped");
        }
    }
    if (!headerSeen) {
        logWarning(std::string(source) + " is empty; its defaults are used");
        return false;
    }
    return true;
}

std::string layoutText(const Layout& layout) {
    std::string out(kHeader);
    out += '\n';
    for (const auto& [list, lines] : layout.lists()) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            out += "line " + list + ' ' + std::to_string(i) + '=';
            appendText(out, lines[i]);
            out += '\n';
        }
    }
    for (const auto& [name, text] : layout.captions()) {
        out += "caption " + name + '=';
        appendText(out, text);
        out += '\n';
    }
    for (const auto& [name, value] : layout.numbers()) {
        out += "number " + name + '=' + std::to_string(value) + '\n';
    }
    return out;
}

Layout loadLayout(const std::string& folder, std::string_view fileName) {
    Layout layout = defaultLayout(fileName);
    std::string path = folder + std::string(fileName);
    std::string text;
    switch (readFileBounded(path, kMaxLayoutFileBytes, &text)) {
        case ReadFileResult::ok:
            parseLayoutText(text, path, &layout);
            break;
        case ReadFileResult::missing:
            logWarning("the layout file " + path + " is missing; its defaults are used");
            break;
        case ReadFileResult::tooLarge: {
            // What fits is used; the line the bound cut is dropped.
            text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
            logWarning("the layout file " + path + " is larger than the program reads; only " +
                       "its beginning is used");
            parseLayoutText(text, path, &layout);
            break;
        }
        case ReadFileResult::failed:
            logWarning(systemError("cannot read the layout file " + path) +
                       "; its defaults are used");
            break;
    }
    return layout;
}

}  // namespace qv
