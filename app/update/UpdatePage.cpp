#include "app/update/UpdatePage.h"

#include <charconv>
#include <cmath>

#include "app/update/AsciiText.h"

namespace quillet {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// A version or colour is shown on a button or handed to the label's colour
// parser: printable ASCII only, and short.
bool isPlainToken(std::string_view s, size_t maxLength)
{
    if (s.empty() || s.size() > maxLength)
        return false;
    for (char c : s)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            return false;
    return true;
}

std::string backgroundOf(std::string_view tag)
{
    const size_t name = findNoCase(tag, "bgcolor=\"");
    if (name == std::string_view::npos)
        return {};
    const size_t from = name + 9;
    const size_t end = tag.find('"', from);
    if (end == std::string_view::npos)
        return {};
    std::string_view value = tag.substr(from, end - from);
    return isPlainToken(value, UpdatePage::kMaxColourLength) ? std::string(value) : std::string();
}

} // namespace

bool versionSortsBelow(std::string_view a, std::string_view b)
{
    // std::char_traits<char> compares as unsigned bytes.
    return a.compare(b) < 0;
}

bool versionNumberAbove102(std::string_view version)
{
    // Locale-free: the program runs under the user's locale, whose decimal
    // separator may not be '.'.
    double value = 0;
    auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), value,
                                     std::chars_format::fixed);
    if (ec != std::errc() || end == version.data() || !std::isfinite(value))
        return false;
    return value > 1.02;
}

UpdatePage UpdatePage::parse(std::string_view page, std::string_view runningVersion)
{
    UpdatePage result;

    const size_t titleTag = findNoCase(page, "<title>");
    if (titleTag != std::string_view::npos) {
        const size_t from = titleTag + 7;
        const size_t end = page.find('<', from);
        const std::string_view title = page.substr(from, end == std::string_view::npos ? std::string_view::npos
                                                                                       : end - from);
        const size_t max = title.find("Max:");
        if (max != std::string_view::npos) {
            std::string_view v = title.substr(max + 4);
            size_t stop = 0;
            while (stop < v.size() && !isBlank(v[stop]))
                ++stop;
            v = v.substr(0, stop);
            if (isPlainToken(v, kMaxVersionLength))
                result.newestVersion = std::string(v);
        }
        const size_t mark = title.find('V');
        if (mark != std::string_view::npos) {
            const std::string_view required = title.substr(mark + 1);
            if (versionSortsBelow(runningVersion, required) && versionNumberAbove102(required)) {
                result.upgradeRequested = true;
                return result;
            }
        }
    }

    // "<BODY " with attributes, or a bare "<body>".
    size_t bodyTag = findNoCase(page, "<body");
    while (bodyTag != std::string_view::npos && bodyTag + 5 < page.size() && page[bodyTag + 5] != '>' &&
           !isBlank(page[bodyTag + 5]))
        bodyTag = findNoCase(page, "<body", bodyTag + 5);
    if (bodyTag == std::string_view::npos || bodyTag + 5 >= page.size())
        return result;
    const size_t tagEnd = page.find('>', bodyTag);
    if (tagEnd == std::string_view::npos)
        return result;
    result.background = backgroundOf(page.substr(bodyTag, tagEnd - bodyTag));
    std::string_view news = page.substr(tagEnd + 1);
    const size_t close = findNoCase(news, "</BODY>");
    if (close != std::string_view::npos)
        news = news.substr(0, close);
    while (!news.empty() && isBlank(news.front()))
        news.remove_prefix(1);
    result.newsText = std::string(news);
    result.hasNews = true;
    return result;
}

} // namespace quillet
