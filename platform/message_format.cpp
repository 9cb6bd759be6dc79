#include "platform/message_format.h"

#include <charconv>
#include <climits>

#include "platform/log.h"

namespace qv {

namespace {

struct Spec {
    bool left = false, plus = false, space = false, zero = false, alternate = false;
    int width = 0;
    int precision = -1;
    char conversion = 0;
};

bool isInteger(char c) {
    return c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X';
}

bool isReal(char c) {
    return c == 'f' || c == 'F' || c == 'e' || c == 'E' || c == 'g' || c == 'G';
}

// Digits of a width or precision; false past kMaxFieldWidth.
bool takeNumber(std::string_view format, std::size_t& at, int* out) {
    *out = 0;
    while (at < format.size() && format[at] >= '0' && format[at] <= '9') {
        *out = *out * 10 + (format[at] - '0');
        if (*out > kMaxFieldWidth) return false;
        ++at;
    }
    return true;
}

// Reads the specifier after the '%' at format[at - 1]; at ends after its conversion.
bool parseSpec(std::string_view format, std::size_t& at, Spec* spec) {
    for (; at < format.size(); ++at) {
        char c = format[at];
        if (c == '-')
            spec->left = true;
        else if (c == '+')
            spec->plus = true;
        else if (c == ' ')
            spec->space = true;
        else if (c == '0')
            spec->zero = true;
        else if (c == '#')
            spec->alternate = true;
        else
            break;
    }
    if (!takeNumber(format, at, &spec->width)) return false;
    if (at < format.size() && format[at] == '.') {
        ++at;
        if (!takeNumber(format, at, &spec->precision)) return false;
    }
    while (at < format.size() &&
           std::string_view("hljzt").find(format[at]) != std::string_view::npos)
        ++at;
    if (at >= format.size()) return false;
    spec->conversion = format[at++];
    return spec->conversion == 's' || isInteger(spec->conversion) || isReal(spec->conversion);
}

void pad(std::string& out, const Spec& spec, std::string_view sign, std::string_view body) {
    std::size_t length = sign.size() + body.size();
    std::size_t fill = spec.width > 0 && length < static_cast<std::size_t>(spec.width)
                           ? static_cast<std::size_t>(spec.width) - length
                           : 0;
    if (spec.left) {
        out.append(sign).append(body).append(fill, ' ');
    } else if (spec.zero) {
        out.append(sign).append(fill, '0').append(body);
    } else {
        out.append(fill, ' ').append(sign).append(body);
    }
}

void appendInteger(std::string& out, Spec spec, int64_t value) {
    const char c = spec.conversion;
    const bool isSigned = c == 'd' || c == 'i';
    uint64_t magnitude = 0;
    bool negative = false;
    if (isSigned) {
        negative = value < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    } else if (value < 0 && value >= INT32_MIN) {
        magnitude = static_cast<uint32_t>(value);  // as a 32-bit unsigned, the way it was stored
    } else {
        magnitude = static_cast<uint64_t>(value);
    }
    char buffer[32];
    int base = c == 'x' || c == 'X' ? 16 : 10;
    auto end = std::to_chars(buffer, buffer + sizeof buffer, magnitude, base).ptr;
    std::string digits(buffer, end);
    if (c == 'X') {
        for (char& d : digits) d = static_cast<char>(d >= 'a' && d <= 'f' ? d - 'a' + 'A' : d);
    }
    if (spec.precision >= 0) {
        if (spec.precision == 0 && magnitude == 0) digits.clear();
        if (digits.size() < static_cast<std::size_t>(spec.precision))
            digits.insert(0, static_cast<std::size_t>(spec.precision) - digits.size(), '0');
        spec.zero = false;  // a precision replaces zero padding, as in C
    }
    std::string_view sign;  // always a literal
    if (negative)
        sign = "-";
    else if (isSigned && spec.plus)
        sign = "+";
    else if (isSigned && spec.space)
        sign = " ";
    else if (spec.alternate && base == 16 && magnitude != 0)
        sign = c == 'X' ? "0X" : "0x";
    pad(out, spec, sign, digits);
}

void appendReal(std::string& out, const Spec& spec, double value) {
    const char c = spec.conversion;
    std::chars_format style = c == 'f' || c == 'F'   ? std::chars_format::fixed
                              : c == 'e' || c == 'E' ? std::chars_format::scientific
                                                     : std::chars_format::general;
    int precision = spec.precision < 0 ? 6 : spec.precision;
    if (style == std::chars_format::general && precision == 0) precision = 1;
    // 309 integer digits of the largest double, the precision, sign, point and exponent.
    std::string buffer(340 + static_cast<std::size_t>(precision), '\0');
    auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, style, precision);
    buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
    if (c == 'F' || c == 'E' || c == 'G') {
        for (char& d : buffer) d = static_cast<char>(d >= 'a' && d <= 'z' ? d - 'a' + 'A' : d);
    }
    std::string_view sign;  // always a literal
    std::string_view body = buffer;
    if (!body.empty() && body.front() == '-') {
        sign = "-";
        body.remove_prefix(1);
    } else if (spec.plus) {
        sign = "+";
    } else if (spec.space) {
        sign = " ";
    }
    pad(out, spec, sign, body);
}

void appendText(std::string& out, const Spec& spec, std::string_view text) {
    if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision))
        text = text.substr(0, static_cast<std::size_t>(spec.precision));
    Spec plain = spec;
    plain.zero = false;
    pad(out, plain, {}, text);
}

std::string unformatted(std::string_view format, const char* why) {
    std::string shown(format.substr(0, 80));
    if (format.size() > 80) shown += "...";
    logWarning(std::string("a message line is shown unformatted (") + why + "): " + shown);
    return std::string(format);
}

}  // namespace

std::string expandLineEscapes(std::string_view line, bool tabsAndReturns) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            char next = line[i + 1];
            if (next == 'n') {
                out += '\n';
                ++i;
                continue;
            }
            if (tabsAndReturns && (next == 't' || next == 'r')) {
                out += next == 't' ? '\t' : '\r';
                ++i;
                continue;
            }
        }
        out += line[i];
    }
    return out;
}

std::string formatMessage(std::string_view format, std::span<const MessageArg> args) {
    std::string out;
    out.reserve(format.size());
    std::size_t used = 0;
    for (std::size_t at = 0; at < format.size();) {
        char c = format[at++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (at < format.size() && format[at] == '%') {
            out += '%';
            ++at;
            continue;
        }
        Spec spec;
        if (!parseSpec(format, at, &spec)) return unformatted(format, "unknown specifier");
        if (used >= args.size()) return unformatted(format, "too few arguments");
        const MessageArg& arg = args[used++];
        if (spec.conversion == 's') {
            if (arg.kind() != MessageArg::Kind::text) return unformatted(format, "not a text");
            appendText(out, spec, arg.text());
        } else if (isInteger(spec.conversion)) {
            if (arg.kind() != MessageArg::Kind::integer)
                return unformatted(format, "not an integer");
            appendInteger(out, spec, arg.integer());
        } else {
            if (arg.kind() == MessageArg::Kind::text) return unformatted(format, "not a number");
            appendReal(out, spec, arg.real());
        }
    }
    if (used != args.size()) return unformatted(format, "too many arguments");
    return out;
}

std::string formatMessage(std::string_view format, std::initializer_list<MessageArg> args) {
    return formatMessage(format, std::span<const MessageArg>(args.begin(), args.size()));
}

std::string messageText(std::string_view line, std::initializer_list<MessageArg> args,
                        bool tabsAndReturns) {
    return formatMessage(expandLineEscapes(line, tabsAndReturns), args);
}

}  // namespace qv
