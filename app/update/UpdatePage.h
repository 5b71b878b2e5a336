#pragma once
#include <string>
#include <string_view>

namespace quillet {

// What the update page says. The page is an HTML page whose title holds
// "Max:" followed by the newest version (ending at a blank) and may hold "V"
// followed by the oldest version that still needs no upgrade; its body is the
// news text, and the body tag's bgcolor the news background.
struct UpdatePage {
    // Longest version text taken from a page; a longer one is ignored.
    static constexpr size_t kMaxVersionLength = 32;
    static constexpr size_t kMaxColourLength = 32;

    std::string newestVersion; // after "Max:"; empty when absent or unusable
    bool upgradeRequested = false; // "V" names a version above ours and above 1.02
    bool hasNews = false;          // a body was found (only when no upgrade is requested)
    std::string background;        // the body tag's bgcolor value; empty when none
    std::string newsText;          // the body's content, as received

    // Reads a received page; runningVersion is our own version text.
    static UpdatePage parse(std::string_view page, std::string_view runningVersion);
};

// Version texts compare as byte strings: "5.10" sorts below "5.9".
bool versionSortsBelow(std::string_view a, std::string_view b);
// Whether the leading decimal number of a version text (as in "5.2" or
// "1.03.7") is above 1.02. A text that starts with no number is not.
bool versionNumberAbove102(std::string_view version);

} // namespace quillet
