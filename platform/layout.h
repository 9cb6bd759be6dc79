#pragma once
// The layout files (".ztr") of the program's windows and custom controls, and the texts they
// carry: each window's hidden lists of message lines (looked up by list name and line number),
// its captions and hints (by control and property, "btnOper.Hint"), and its numbers (sizes,
// intervals: "lgList.DefaultColWidth").
//
// Every text and number the program fixes is compiled in (defaultLayout), so a window opens
// whatever the program folder holds. A layout file only overrides entries: loadLayout starts
// from the defaults and lays the file over them. A missing or unreadable file, one that is not
// a layout file, and each broken line are logged as warnings and change nothing else.
//
// The file, UTF-8 text, one entry a line (read in parseLayoutText, written in layoutText):
//
//   quorvane-layout 1                  first line: what the file is, format version 1
//   # any comment                      comments and empty lines are skipped
//   line <list> <number>=<text>        line <number> (0 up) of the hidden list <list>
//   caption <control.Property>=<text>  a caption or hint
//   number <control.Property>=<value>  a 32-bit integer
//
// Names are letters, digits, '_' and '.', at most 128 of them. A text is everything after the
// first '=' up to the end of the line, spaces included; a trailing carriage return is dropped.
// Texts keep the two-character sequences backslash-n (-t, -r) that stand for line breaks (tabs,
// carriage returns); expandLineEscapes turns them into the characters when a line is shown.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

constexpr std::size_t kMaxLayoutLines = 4096;  // per list
constexpr std::size_t kMaxLayoutFileBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxLayoutNameBytes = 128;

class Layout {
  public:
    Layout() = default;
    explicit Layout(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& fileName() const { return fileName_; }

    // Line index of a list; empty text when either is missing.
    const std::string& line(std::string_view list, std::size_t index) const;
    const std::vector<std::string>& lines(std::string_view list) const;
    // Empty text when missing.
    const std::string& caption(std::string_view name) const;
    int32_t number(std::string_view name, int32_t otherwise) const;
    bool hasNumber(std::string_view name) const { return numbers_.count(name) != 0; }

    // Lines past the end of a list are added (empty lines filling the gap); false when index
    // is not below kMaxLayoutLines.
    bool setLine(std::string_view list, std::size_t index, std::string text);
    void setLines(std::string_view list, std::initializer_list<const char*> texts);
    void setCaption(std::string_view name, std::string text);
    void setNumber(std::string_view name, int32_t value);

    const std::map<std::string, std::vector<std::string>, std::less<>>& lists() const {
        return lists_;
    }
    const std::map<std::string, std::string, std::less<>>& captions() const { return captions_; }
    const std::map<std::string, int32_t, std::less<>>& numbers() const { return numbers_; }

  private:
    std::string fileName_;
    std::map<std::string, std::vector<std::string>, std::less<>> lists_;
    std::map<std::string, std::string, std::less<>> captions_;
    std::map<std::string, int32_t, std::less<>> numbers_;
};

// The compiled-in layout of a file name ("listview.ztr"); an empty layout of that name when
// the program has none.
Layout defaultLayout(std::string_view fileName);
// The names of every compiled-in layout.
std::vector<std::string> defaultLayoutNames();

// The defaults of fileName overlaid with the file of that name in folder (a path ending in
// '/', normally programFolder()).
Layout loadLayout(const std::string& folder, std::string_view fileName);

// Lays the entries of text over layout. Each line that cannot be read is skipped and logged
// with source and its line number; false when text is not a layout file at all (nothing used).
bool parseLayoutText(std::string_view text, std::string_view source, Layout* layout);

// The file text of a layout, as parseLayoutText reads it.
std::string layoutText(const Layout& layout);

}  // namespace qv
