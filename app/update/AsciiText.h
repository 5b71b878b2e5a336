#pragma once
#include <cstddef>
#include <string_view>

namespace quillet {

// Case-blind matching for the ASCII words of HTTP headers and HTML tags. Bytes
// outside A..Z compare as they are, so UTF-8 text passes through unchanged.
inline char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(s[i]) != asciiLower(prefix[i]))
            return false;
    return true;
}

inline bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && startsWithNoCase(a, b);
}

// Position of needle in text from `from` on, or npos.
inline size_t findNoCase(std::string_view text, std::string_view needle, size_t from = 0)
{
    if (needle.empty())
        return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= text.size(); ++i)
        if (startsWithNoCase(text.substr(i), needle))
            return i;
    return std::string_view::npos;
}

} // namespace quillet
