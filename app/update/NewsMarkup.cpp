#include "app/update/NewsMarkup.h"

#include <cstdint>

#include "app/update/AsciiText.h"

namespace quillet {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr size_t kMaxHrefLength = 2000;
// A longer "tag" is text: bounds the work a page full of unclosed tags costs.
constexpr size_t kMaxTagLength = 4096;

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Length of a well-formed entity at s ("&amp;", "&#38;", "&#x26;"), else 0.
size_t entityLength(std::string_view s)
{
    if (s.size() < 3 || s[0] != '&')
        return 0;
    size_t i = 1;
    if (s[1] == '#') {
        i = 2;
        bool hex = i < s.size() && (s[i] == 'x' || s[i] == 'X');
        if (hex)
            ++i;
        const size_t first = i;
        while (i < s.size() && i - first < 7 && (hex ? isHex(s[i]) : isDigit(s[i])))
            ++i;
        if (i == first)
            return 0;
    } else {
        while (i < s.size() && i < 12 && (isAlpha(s[i]) || isDigit(s[i])))
            ++i;
        if (i == 1)
            return 0;
    }
    return (i < s.size() && s[i] == ';') ? i + 1 : 0;
}

struct Tag {
    bool closing = false;
    std::string name; // lower case
    std::string_view attributes;
    size_t length = 0; // bytes from '<' to '>' inclusive
};

// Reads a tag at s[0] == '<'. Returns 0 when it is no tag (then '<' is text).
int readTag(std::string_view s, Tag* tag)
{
    size_t i = 1;
    if (i < s.size() && s[i] == '/') {
        tag->closing = true;
        ++i;
    }
    const size_t nameStart = i;
    while (i < s.size() && (isAlpha(s[i]) || (i > nameStart && isDigit(s[i]))))
        ++i;
    if (i == nameStart || i - nameStart > 16)
        return 0;
    for (size_t k = nameStart; k < i; ++k)
        tag->name += asciiLower(s[k]);
    const size_t attrStart = i;
    char quote = 0;
    const size_t limit = s.size() < kMaxTagLength ? s.size() : kMaxTagLength;
    for (; i < limit; ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            tag->attributes = s.substr(attrStart, i - attrStart);
            tag->length = i + 1;
            return 1;
        } else if (c == '<') {
            return 0;
        }
    }
    return 0;
}

// The value of attribute name in a tag's attribute text; false when absent.
bool attribute(std::string_view attrs, std::string_view name, std::string_view* value)
{
    size_t i = 0;
    while (i < attrs.size()) {
        while (i < attrs.size() && (isSpace(attrs[i]) || attrs[i] == '/'))
            ++i;
        const size_t nameStart = i;
        while (i < attrs.size() && !isSpace(attrs[i]) && attrs[i] != '=' && attrs[i] != '/')
            ++i;
        std::string_view n = attrs.substr(nameStart, i - nameStart);
        while (i < attrs.size() && isSpace(attrs[i]))
            ++i;
        std::string_view v;
        if (i < attrs.size() && attrs[i] == '=') {
            ++i;
            while (i < attrs.size() && isSpace(attrs[i]))
                ++i;
            if (i < attrs.size() && (attrs[i] == '"' || attrs[i] == '\'')) {
                const char q = attrs[i++];
                const size_t end = attrs.find(q, i);
                const size_t stop = end == std::string_view::npos ? attrs.size() : end;
                v = attrs.substr(i, stop - i);
                i = end == std::string_view::npos ? attrs.size() : end + 1;
            } else {
                const size_t vs = i;
                while (i < attrs.size() && !isSpace(attrs[i]))
                    ++i;
                v = attrs.substr(vs, i - vs);
            }
        }
        if (n.empty()) {
            ++i;
            continue;
        }
        if (n.size() == name.size() && startsWithNoCase(n, name)) {
            *value = v;
            return true;
        }
    }
    return false;
}

bool isFontSize(std::string_view s)
{
    if (!s.empty() && (s[0] == '+' || s[0] == '-'))
        s.remove_prefix(1);
    return s.size() == 1 && s[0] >= '1' && s[0] <= '7';
}

bool isSafeHref(std::string_view s)
{
    if (!(startsWithNoCase(s, "http://") || startsWithNoCase(s, "https://")) || s.size() > kMaxHrefLength)
        return false;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`' || c == '\\')
            return false;
    }
    return true;
}

void appendEscapedAttribute(std::string* out, std::string_view v)
{
    for (char c : v) {
        if (c == '&')
            *out += "&amp;";
        else
            *out += c;
    }
}

void emitTag(std::string* out, const Tag& tag)
{
    static constexpr std::string_view kPlain[] = {"b", "i", "u", "em", "strong", "p"};
    for (std::string_view p : kPlain) {
        if (tag.name == p) {
            *out += tag.closing ? "</" : "<";
            *out += p;
            *out += '>';
            return;
        }
    }
    if (tag.name == "br") {
        if (!tag.closing)
            *out += "<br>";
        return;
    }
    if (tag.name == "font") {
        if (tag.closing) {
            *out += "</font>";
            return;
        }
        *out += "<font";
        std::string_view v;
        if (attribute(tag.attributes, "color", &v) && isNewsColour(v)) {
            *out += " color=\"";
            *out += v;
            *out += '"';
        }
        if (attribute(tag.attributes, "size", &v) && isFontSize(v)) {
            *out += " size=\"";
            *out += v;
            *out += '"';
        }
        *out += '>';
        return;
    }
    if (tag.name == "a") {
        if (tag.closing) {
            *out += "</a>";
            return;
        }
        std::string_view v;
        if (attribute(tag.attributes, "href", &v) && isSafeHref(v)) {
            *out += "<a href=\"";
            appendEscapedAttribute(out, v);
            *out += "\">";
        } else {
            *out += "<a>";
        }
    }
    // Anything else is dropped; its content stays as text.
}

// Decodes one UTF-8 sequence at s; returns its length, 0 when malformed.
size_t utf8SequenceLength(std::string_view s)
{
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80)
        return 1;
    size_t n;
    uint32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string repairUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const size_t n = utf8SequenceLength(bytes.substr(i));
        if (n == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(bytes.data() + i, n);
            i += n;
        }
    }
    return out;
}

bool isNewsColour(std::string_view c)
{
    if (c.empty() || c.size() > 32)
        return false;
    if (c[0] == '#') {
        if (c.size() != 4 && c.size() != 7)
            return false;
        for (size_t i = 1; i < c.size(); ++i)
            if (!isHex(c[i]))
                return false;
        return true;
    }
    for (char ch : c)
        if (!isAlpha(ch))
            return false;
    return true;
}

std::string newsRichText(std::string_view body)
{
    const std::string text = repairUtf8(body);
    const std::string_view s(text);
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '<') {
            if (s.substr(i, 4) == "<!--") {
                const size_t end = s.find("-->", i + 4);
                i = end == std::string_view::npos ? s.size() : end + 3;
                continue;
            }
            Tag tag;
            if (readTag(s.substr(i), &tag)) {
                i += tag.length;
                if (!tag.closing && (tag.name == "script" || tag.name == "style")) {
                    // Their content is code, not text: skip to the closing tag.
                    const size_t end = findNoCase(s, "</" + tag.name, i);
                    if (end == std::string_view::npos) {
                        i = s.size();
                    } else {
                        const size_t gt = s.find('>', end);
                        i = gt == std::string_view::npos ? s.size() : gt + 1;
                    }
                    continue;
                }
                emitTag(&out, tag);
                continue;
            }
            out += "&lt;";
            ++i;
        } else if (c == '>') {
            out += "&gt;";
            ++i;
        } else if (c == '&') {
            const size_t n = entityLength(s.substr(i));
            if (n) {
                out.append(s.data() + i, n);
                i += n;
            } else {
                out += "&amp;";
                ++i;
            }
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            ++i; // control characters have no place in a label
        } else if (c == 0x7f) {
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

} // namespace quillet
