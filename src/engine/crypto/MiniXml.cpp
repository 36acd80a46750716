#include "engine/crypto/MiniXml.h"

#include "engine/Bytes.h"

#include <cstdint>
#include <optional>

namespace Engine::OfficeCryptoDetail {

namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameStart(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' || u >= 0x80;
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

using Raw::appendUtf8;

struct QName
{
    std::string_view prefix;
    std::string_view local;
};

struct Declaration
{
    std::string prefix; // empty for the default namespace
    std::string uri;
};

class Parser
{
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    XmlElement document()
    {
        if (m_text.size() > kXmlMaxInput)
            error("document too large");
        if (startsWith("\xEF\xBB\xBF"))
            m_pos += 3;
        skipMisc();
        if (startsWith("<!"))
            error("document type declarations are not accepted");
        if (!startsWith("<"))
            error("no root element");
        XmlElement root = element(1);
        skipMisc();
        while (!atEnd() && (m_text[m_pos] == '\0' || isSpace(m_text[m_pos])))
            ++m_pos;
        if (!atEnd())
            error("content after the root element");
        return root;
    }

private:
    [[noreturn]] void error(const char *what) const
    {
        throw XmlError(std::string(what) + " at byte " + std::to_string(m_pos));
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    bool startsWith(std::string_view token) const { return !atEnd() && m_text.substr(m_pos).starts_with(token); }
    char current() const
    {
        if (atEnd())
            error("unexpected end of document");
        return m_text[m_pos];
    }

    void skipSpace()
    {
        while (!atEnd() && isSpace(m_text[m_pos]))
            ++m_pos;
    }

    void skipPast(std::string_view terminator, const char *what)
    {
        const std::size_t at = m_text.find(terminator, m_pos);
        if (at == std::string_view::npos)
            error(what);
        m_pos = at + terminator.size();
    }

    // Whitespace, comments and processing instructions between markup.
    void skipMisc()
    {
        for (;;) {
            skipSpace();
            if (startsWith("<!--")) {
                m_pos += 4;
                skipPast("-->", "unterminated comment");
            } else if (startsWith("<?")) {
                m_pos += 2;
                skipPast("?>", "unterminated processing instruction");
            } else {
                return;
            }
        }
    }

    std::string_view name()
    {
        const std::size_t start = m_pos;
        if (!isNameStart(current()))
            error("name expected");
        ++m_pos;
        while (!atEnd() && isNameChar(m_text[m_pos]))
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    QName split(std::string_view qualified) const
    {
        const std::size_t colon = qualified.find(':');
        if (colon == std::string_view::npos)
            return {{}, qualified};
        if (colon == 0 || colon + 1 == qualified.size() || qualified.find(':', colon + 1) != std::string_view::npos)
            error("malformed qualified name");
        return {qualified.substr(0, colon), qualified.substr(colon + 1)};
    }

    // After '&': one of the five predefined entities or a character reference.
    void reference(std::string &out)
    {
        const std::size_t semicolon = m_text.find(';', m_pos);
        if (semicolon == std::string_view::npos || semicolon - m_pos > 12)
            error("malformed reference");
        const std::string_view ref = m_text.substr(m_pos + 1, semicolon - m_pos - 1);
        m_pos = semicolon + 1;
        if (ref == "lt") {
            out.push_back('<');
        } else if (ref == "gt") {
            out.push_back('>');
        } else if (ref == "amp") {
            out.push_back('&');
        } else if (ref == "quot") {
            out.push_back('"');
        } else if (ref == "apos") {
            out.push_back('\'');
        } else if (ref.size() >= 2 && ref[0] == '#') {
            const bool hex = ref[1] == 'x';
            const std::string_view digits = ref.substr(hex ? 2 : 1);
            if (digits.empty() || digits.size() > 8)
                error("malformed character reference");
            std::uint32_t cp = 0;
            for (const char c : digits) {
                int value;
                if (c >= '0' && c <= '9')
                    value = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    value = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    value = c - 'A' + 10;
                else
                    error("malformed character reference");
                cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
                if (cp > 0x10FFFF)
                    error("character reference out of range");
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))
                error("character reference out of range");
            appendUtf8(out, cp);
        } else {
            error("unknown entity");
        }
    }

    std::string attributeValue()
    {
        const char quote = current();
        if (quote != '"' && quote != '\'')
            error("quoted attribute value expected");
        ++m_pos;
        std::string value;
        for (;;) {
            const char c = current();
            if (c == quote) {
                ++m_pos;
                return value;
            }
            if (c == '<')
                error("'<' in attribute value");
            if (c == '&') {
                reference(value);
                continue;
            }
            value.push_back(isSpace(c) ? ' ' : c);
            ++m_pos;
        }
    }

    std::optional<std::string> resolve(std::string_view prefix) const
    {
        if (prefix == "xml")
            return std::string(kXmlNamespace);
        for (auto scope = m_scopes.rbegin(); scope != m_scopes.rend(); ++scope) {
            for (const Declaration &declaration : *scope) {
                if (declaration.prefix == prefix)
                    return declaration.uri;
            }
        }
        if (prefix.empty())
            return std::string();
        return std::nullopt;
    }

    XmlElement element(int depth)
    {
        if (depth > kXmlMaxDepth)
            error("elements nested too deeply");
        if (++m_elements > kXmlMaxElements)
            error("too many elements");
        ++m_pos; // '<'
        const std::string_view qualified = name();

        struct Raw
        {
            std::string_view name;
            std::string value;
        };
        std::vector<Raw> raw;
        bool empty = false;
        for (;;) {
            const std::size_t before = m_pos;
            skipSpace();
            if (startsWith("/>")) {
                m_pos += 2;
                empty = true;
                break;
            }
            if (current() == '>') {
                ++m_pos;
                break;
            }
            if (m_pos == before)
                error("whitespace expected before an attribute");
            const std::string_view attributeName = name();
            skipSpace();
            if (current() != '=')
                error("'=' expected");
            ++m_pos;
            skipSpace();
            std::string value = attributeValue();
            for (const Raw &other : raw) {
                if (other.name == attributeName)
                    error("duplicate attribute");
            }
            if (raw.size() >= kXmlMaxAttributes)
                error("too many attributes");
            raw.push_back({attributeName, std::move(value)});
        }

        std::vector<Declaration> scope;
        for (const Raw &attribute : raw) {
            if (attribute.name == "xmlns") {
                scope.push_back({std::string(), attribute.value});
            } else if (attribute.name.starts_with("xmlns:")) {
                const std::string_view prefix = attribute.name.substr(6);
                if (prefix.empty() || prefix.find(':') != std::string_view::npos || attribute.value.empty())
                    error("malformed namespace declaration");
                scope.push_back({std::string(prefix), attribute.value});
            }
        }
        m_scopes.push_back(std::move(scope));

        XmlElement result;
        const QName parts = split(qualified);
        const std::optional<std::string> uri = resolve(parts.prefix);
        if (!uri)
            error("undeclared namespace prefix");
        result.namespaceUri = *uri;
        result.localName = std::string(parts.local);
        for (Raw &attribute : raw) {
            if (attribute.name == "xmlns" || attribute.name.starts_with("xmlns:"))
                continue;
            const QName attributeParts = split(attribute.name);
            if (!attributeParts.prefix.empty() && !resolve(attributeParts.prefix))
                error("undeclared namespace prefix");
            result.attributes.emplace_back(std::string(attribute.name), std::move(attribute.value));
        }

        if (!empty)
            content(result, qualified, depth);
        m_scopes.pop_back();
        return result;
    }

    void content(XmlElement &parent, std::string_view qualified, int depth)
    {
        for (;;) {
            if (atEnd())
                error("unterminated element");
            if (startsWith("</")) {
                m_pos += 2;
                const std::string_view closing = name();
                skipSpace();
                if (current() != '>')
                    error("'>' expected");
                ++m_pos;
                if (closing != qualified)
                    error("mismatched end tag");
                return;
            }
            if (startsWith("<!--")) {
                m_pos += 4;
                skipPast("-->", "unterminated comment");
            } else if (startsWith("<![CDATA[")) {
                m_pos += 9;
                skipPast("]]>", "unterminated CDATA section");
            } else if (startsWith("<?")) {
                m_pos += 2;
                skipPast("?>", "unterminated processing instruction");
            } else if (startsWith("<!")) {
                error("unexpected declaration");
            } else if (startsWith("<")) {
                parent.children.push_back(element(depth + 1));
            } else {
                // Text: not needed by anything that reads these documents.
                const std::size_t next = m_text.find('<', m_pos);
                if (next == std::string_view::npos)
                    error("unterminated element");
                m_pos = next;
            }
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_elements = 0;
    std::vector<std::vector<Declaration>> m_scopes;
};

} // namespace

const std::string *XmlElement::attribute(std::string_view name) const
{
    for (const auto &[key, value] : attributes) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

std::vector<const XmlElement *> XmlElement::childrenNamed(std::string_view ns, std::string_view local) const
{
    std::vector<const XmlElement *> found;
    for (const XmlElement &child : children) {
        if (child.namespaceUri == ns && child.localName == local)
            found.push_back(&child);
    }
    return found;
}

XmlElement parseXml(std::string_view text)
{
    return Parser(text).document();
}

} // namespace Engine::OfficeCryptoDetail
