#pragma once
// Message lines made into the text a window shows. A line comes from a layout file, which the
// user may edit, so it is never handed to printf: one formatter here reads its specifiers and
// checks them against the arguments given, and a line whose specifiers do not match them in
// number and kind is shown as it stands (with a warning logged).
//
// Specifiers: %% and %[flags][width][.precision][length]conversion with
//   flags      '-' '+' ' ' '0' '#'
//   width      digits (no '*'), precision '.' and digits, each at most kMaxFieldWidth
//   length     h hh l ll j z t (all the same here: integers are 64-bit)
//   conversion s (text), d i (integer), u x X (integer, as unsigned), f F e E g G (real; an
//              integer argument is taken as a real)
// Numbers are written the same in every locale.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace qv {

constexpr int kMaxFieldWidth = 1000;

class MessageArg {
  public:
    enum class Kind { text, integer, real };

    MessageArg(const char* text) : kind_(Kind::text), text_(text ? text : "") {}
    MessageArg(std::string_view text) : kind_(Kind::text), text_(text) {}
    MessageArg(const std::string& text) : kind_(Kind::text), text_(text) {}
    MessageArg(int value) : kind_(Kind::integer), integer_(value) {}
    MessageArg(long value) : kind_(Kind::integer), integer_(value) {}
    MessageArg(long long value) : kind_(Kind::integer), integer_(value) {}
    MessageArg(unsigned value) : kind_(Kind::integer), integer_(value) {}
    MessageArg(unsigned long value) : kind_(Kind::integer), integer_(static_cast<int64_t>(value)) {}
    MessageArg(unsigned long long value)
        : kind_(Kind::integer), integer_(static_cast<int64_t>(value)) {}
    MessageArg(double value) : kind_(Kind::real), real_(value) {}

    Kind kind() const { return kind_; }
    std::string_view text() const { return text_; }
    int64_t integer() const { return integer_; }
    double real() const { return kind_ == Kind::integer ? static_cast<double>(integer_) : real_; }

  private:
    Kind kind_;
    std::string_view text_;
    int64_t integer_ = 0;
    double real_ = 0;
};

// The two-character sequence backslash-n becomes a line break; with tabsAndReturns also
// backslash-t a tab and backslash-r a carriage return (the lines of the print and functions
// dialogs). Other backslashes stay.
std::string expandLineEscapes(std::string_view line, bool tabsAndReturns = false);

// The format with its specifiers replaced by the arguments, or the format unchanged when they
// do not match.
std::string formatMessage(std::string_view format, std::span<const MessageArg> args);
std::string formatMessage(std::string_view format, std::initializer_list<MessageArg> args);

// What a window shows for a message line: escapes expanded, then formatted.
std::string messageText(std::string_view line, std::initializer_list<MessageArg> args,
                        bool tabsAndReturns = false);

}  // namespace qv
