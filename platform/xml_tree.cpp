#include "platform/xml_tree.h"

#include <charconv>

#include "platform/ansi_text.h"

namespace qv {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c) {
    return !isSpace(c) && c != '/' && c != '>' && c != '=' && c != '<' && c != '"' && c != '\'' &&
           c != '&' && c != '\0';
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool document(XmlDocument* document, std::string* error) {
        if (!misc(&document->prolog, true) || !element(&document->root, 1) ||
            !misc(&document->epilog, false)) {
            *error = problem_ + " at byte " + std::to_string(at_);
            return false;
        }
        if (at_ != text_.size()) {
            *error = "text after the root element at byte " + std::to_string(at_);
            return false;
        }
        return true;
    }

  private:
    bool fail(std::string problem) {
        if (problem_.empty()) problem_ = std::move(problem);
        return false;
    }
    bool startsWith(std::string_view s) const { return text_.substr(at_, s.size()) == s; }
    void skipSpace() {
        while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    }

    // Whitespace, comments and processing instructions (and, before the root, the XML
    // declaration and a document type without internal subset), kept as they stand.
    bool misc(std::string* out, bool beforeRoot) {
        std::size_t start = at_;
        for (;;) {
            skipSpace();
            if (startsWith("<!--") || startsWith("<?")) {
                if (!rawNode(nullptr)) return false;
            } else if (beforeRoot && startsWith("<!DOCTYPE")) {
                std::size_t end = text_.find('>', at_);
                if (end == std::string_view::npos) return fail("unfinished document type");
                if (text_.substr(at_, end - at_).find('[') != std::string_view::npos)
                    return fail("a document type with its own declarations");
                at_ = end + 1;
            } else {
                break;
            }
        }
        out->assign(text_.substr(start, at_ - start));
        return true;
    }

    // A comment or processing instruction at at_.
    bool rawNode(XmlNode* node) {
        bool comment = startsWith("<!--");
        std::string_view close = comment ? "-->" : "?>";
        std::size_t end = text_.find(close, at_ + (comment ? 4 : 2));
        if (end == std::string_view::npos)
            return fail(comment ? "unfinished comment" : "unfinished instruction");
        end += close.size();
        if (node) {
            node->kind = XmlNode::Kind::raw;
            node->text.assign(text_.substr(at_, end - at_));
        }
        at_ = end;
        return true;
    }

    bool name(std::string* out) {
        std::size_t start = at_;
        while (at_ < text_.size() && isNameChar(text_[at_])) ++at_;
        if (at_ == start) return fail("a name is missing");
        out->assign(text_.substr(start, at_ - start));
        return true;
    }

    // Character data up to stop (not included), references expanded.
    bool characters(char stop, std::string* out) {
        while (at_ < text_.size() && text_[at_] != stop) {
            char c = text_[at_];
            if (c == '<') return fail("'<' inside a value");
            if (c != '&') {
                *out += c;
                ++at_;
                continue;
            }
            std::size_t end = text_.find(';', at_);
            if (end == std::string_view::npos || end - at_ > 12) return fail("a bad reference");
            std::string_view ref = text_.substr(at_ + 1, end - at_ - 1);
            if (ref == "lt")
                *out += '<';
            else if (ref == "gt")
                *out += '>';
            else if (ref == "amp")
                *out += '&';
            else if (ref == "quot")
                *out += '"';
            else if (ref == "apos")
                *out += '\'';
            else if (ref.size() > 1 && ref[0] == '#') {
                bool hex = ref[1] == 'x';
                std::string_view digits = ref.substr(hex ? 2 : 1);
                uint32_t cp = 0;
                auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp,
                                                 hex ? 16 : 10);
                if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() ||
                    cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                    return fail("a bad character reference");
                appendUtf8(*out, cp);
            } else {
                return fail("an unknown entity");
            }
            at_ = end + 1;
        }
        return true;
    }

    bool element(XmlNode* node, int depth) {
        if (depth > kMaxXmlDepth) return fail("elements nested too deep");
        if (!startsWith("<")) return fail("an element is missing");
        ++at_;
        node->kind = XmlNode::Kind::element;
        if (!name(&node->name)) return false;
        for (;;) {
            std::size_t before = at_;
            skipSpace();
            if (startsWith("/>")) {
                at_ += 2;
                return true;
            }
            if (startsWith(">")) {
                ++at_;
                break;
            }
            if (at_ == before) return fail("an attribute without space before it");
            std::string attribute, value;
            if (!name(&attribute)) return false;
            skipSpace();
            if (!startsWith("=")) return fail("an attribute without '='");
            ++at_;
            skipSpace();
            if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\''))
                return fail("an attribute value without quotes");
            char quote = text_[at_++];
            if (!characters(quote, &value)) return false;
            if (at_ >= text_.size()) return fail("an unfinished attribute value");
            ++at_;
            if (node->attribute(attribute)) return fail("an attribute given twice");
            node->attributes.emplace_back(std::move(attribute), std::move(value));
        }
        for (;;) {
            if (at_ >= text_.size()) return fail("an element that does not end");
            if (startsWith("</")) {
                at_ += 2;
                std::string closing;
                if (!name(&closing)) return false;
                if (closing != node->name)
                    return fail("</" + closing + "> closes <" + node->name + ">");
                skipSpace();
                if (!startsWith(">")) return fail("an unfinished end tag");
                ++at_;
                return true;
            }
            XmlNode child;
            if (startsWith("<!--") || startsWith("<?")) {
                if (!rawNode(&child)) return false;
            } else if (startsWith("<![CDATA[")) {
                std::size_t end = text_.find("]]>", at_);
                if (end == std::string_view::npos) return fail("unfinished character data");
                child.kind = XmlNode::Kind::text;
                child.text.assign(text_.substr(at_ + 9, end - at_ - 9));
                at_ = end + 3;
            } else if (startsWith("<")) {
                if (!element(&child, depth + 1)) return false;
            } else {
                child.kind = XmlNode::Kind::text;
                if (!characters('<', &child.text)) return false;
            }
            node->children.push_back(std::move(child));
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string problem_;
};

void writeNode(const XmlNode& node, std::string& out) {
    switch (node.kind) {
        case XmlNode::Kind::text:
            // Line breaks and tabs between elements stay as they were written.
            for (char c : node.text) {
                if (c == '&')
                    out += "&amp;";
                else if (c == '<')
                    out += "&lt;";
                else if (c == '>')
                    out += "&gt;";
                else
                    out += c;
            }
            return;
        case XmlNode::Kind::raw:
            out += node.text;
            return;
        case XmlNode::Kind::element:
            break;
    }
    out += '<';
    out += node.name;
    for (const auto& [name, value] : node.attributes) {
        out += ' ';
        out += name;
        out += "=\"";
        out += escapeXml(value);
        out += '"';
    }
    if (node.children.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    for (const XmlNode& child : node.children) writeNode(child, out);
    out += "</";
    out += node.name;
    out += '>';
}

}  // namespace

XmlNode* XmlNode::child(std::string_view childName) {
    for (XmlNode& c : children) {
        if (c.kind == Kind::element && c.name == childName) return &c;
    }
    return nullptr;
}

const std::string* XmlNode::attribute(std::string_view attributeName) const {
    for (const auto& [name, value] : attributes) {
        if (name == attributeName) return &value;
    }
    return nullptr;
}

void XmlNode::setAttribute(std::string_view attributeName, std::string value) {
    for (auto& [name, old] : attributes) {
        if (name == attributeName) {
            old = std::move(value);
            return;
        }
    }
    attributes.emplace_back(std::string(attributeName), std::move(value));
}

bool parseXml(std::string_view text, XmlDocument* document, std::string* error) {
    *document = XmlDocument{};
    return Parser(text).document(document, error);
}

std::string writeXml(const XmlDocument& document) {
    std::string out = document.prolog;
    writeNode(document.root, out);
    out += document.epilog;
    return out;
}

std::string escapeXml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace qv
