#pragma once

// A small, strict XML reader for the Agile encryption descriptor: elements, attributes and
// namespaces, nothing else. Text content is skipped; comments, processing instructions and CDATA
// are skipped; a document type declaration is refused (no entities beyond the five predefined ones
// and character references, so no entity expansion). Nesting, element count and input size are
// bounded; the input is never read out of bounds; malformed input throws XmlError.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Engine::OfficeCryptoDetail {

class XmlError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct XmlElement
{
    std::string namespaceUri; // resolved from the xmlns declarations in scope; empty if none
    std::string localName;
    // Attributes as written (qualified name, decoded value), without the xmlns declarations.
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<XmlElement> children;

    const std::string *attribute(std::string_view name) const;
    // Children with this namespace and local name.
    std::vector<const XmlElement *> childrenNamed(std::string_view ns, std::string_view local) const;
};

inline constexpr std::size_t kXmlMaxInput = 1 << 20;
inline constexpr int kXmlMaxDepth = 16;
inline constexpr std::size_t kXmlMaxElements = 1024;
inline constexpr std::size_t kXmlMaxAttributes = 64;

// Parses a UTF-8 document (an optional byte order mark; trailing whitespace or NUL bytes after the
// root element are allowed) and returns its root element.
XmlElement parseXml(std::string_view text);

} // namespace Engine::OfficeCryptoDetail
