#pragma once
#include <string>
#include <string_view>

namespace quillet {

// The news label draws a small subset of HTML. The page is outside input, so
// its body is rebuilt from that subset before the label sees it: bold, italic,
// underline, paragraphs, line breaks, font colour and size, and links with an
// http(s) address are kept; every other tag is dropped (script and style with
// their content), comments vanish, stray '<', '>' and '&' become text, control
// characters are removed and bytes that are not UTF-8 become U+FFFD. Nothing in
// the result makes the label load a file or an address.
std::string newsRichText(std::string_view body);

// A colour as the news label understands it: a name of letters ("SteelBlue")
// or '#' with 3 or 6 hex digits.
bool isNewsColour(std::string_view colour);

// Bytes that are not well-formed UTF-8 replaced by U+FFFD (EF BF BD).
std::string repairUtf8(std::string_view bytes);

} // namespace quillet
