#pragma once
// A small XML reader and writer for files other desktop programs share with us (the recent
// documents list). It reads a whole document into a tree and writes it back with everything
// it did not change: comments, processing instructions and the text between elements keep
// their place. It expands only the predefined and numeric character references and refuses a
// document type with an internal subset, so no entity can make it allocate without bound;
// nesting is limited to kMaxXmlDepth.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

constexpr int kMaxXmlDepth = 64;

struct XmlNode {
    enum class Kind { element, text, raw };  // raw: a comment or processing instruction

    Kind kind = Kind::element;
    std::string name;                                             // element
    std::vector<std::pair<std::string, std::string>> attributes;  // element, values decoded
    std::vector<XmlNode> children;                                // element
    std::string text;  // text (decoded) or raw (as it stands in the file)

    // The first child element of that name, or null.
    XmlNode* child(std::string_view childName);
    // The attribute's value, or null.
    const std::string* attribute(std::string_view attributeName) const;
    void setAttribute(std::string_view attributeName, std::string value);
};

struct XmlDocument {
    std::string prolog;  // as it stands before the root element (declaration, comments, ...)
    XmlNode root;
    std::string epilog;  // as it stands after the root element
};

// False, with error set to what and where, when text is not well-formed XML.
bool parseXml(std::string_view text, XmlDocument* document, std::string* error);

std::string writeXml(const XmlDocument& document);

// An attribute value with '&', '<', '>', '"', tabs and line breaks written as references.
std::string escapeXml(std::string_view text);

}  // namespace qv
