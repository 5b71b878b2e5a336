#include <gtest/gtest.h>

#include "app/update/NewsMarkup.h"

namespace quillet {
namespace {

TEST(NewsMarkup, KeepsTheSmallSubsetAndNothingElse)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"<b>bold</b> <I>it</I> <u>u</u><br/>x<BR>", "<b>bold</b> <i>it</i> <u>u</u><br>x<br>"},
        {"<font color=\"SteelBlue\" size=\"+2\" face=\"x\">c</font>", "<font color=\"SteelBlue\" size=\"+2\">c</font>"},
        {"<font color='#1a2B3c' size=9>c</font>", "<font color=\"#1a2B3c\">c</font>"},
        {"<font color=\"red;background:url(x)\">c</font>", "<font>c</font>"},
        {"<a href=\"https://example.org/a?b=1&c=2\">l</a>", "<a href=\"https://example.org/a?b=1&amp;c=2\">l</a>"},
        {"<a href=\"file:///etc/passwd\">l</a>", "<a>l</a>"},
        {"<a href=\"javascript:alert(1)\" onclick=\"x\">l</a>", "<a>l</a>"},
        // Tags that would make the label load something are dropped.
        {"<img src=\"/dev/zero\"><link rel=x href=y><table><tr><td>t</td></tr></table>", "t"},
        {"a<script>var x = '<b>';</script>b<style>p{}</STYLE>c", "abc"},
        {"<p style=\"background:url(http://x/)\">p</p>", "<p>p</p>"},
        {"x<!-- <img src=a> -->y<!-- unterminated", "xy"},
        {"1 < 2 && 3 > 2 &amp; &#38; &#x26; &bogus", "1 &lt; 2 &amp;&amp; 3 &gt; 2 &amp; &#38; &#x26; &amp;bogus"},
        {"<b", "&lt;b"},
        {"<b title=\"a>b\">q</b>", "<b>q</b>"},
        {"tab\tnl\nnul\x01\x7f.", "tab\tnl\nnul."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(newsRichText(c.in), c.out) << c.in;
}

TEST(NewsMarkup, RepairsBytesThatAreNotUtf8)
{
    EXPECT_EQ(repairUtf8("caf\xc3\xa9 \xe4\xb8\xad"), "caf\xc3\xa9 \xe4\xb8\xad");
    // A lone byte, a Latin-1 text, a cut sequence, an overlong '/', a surrogate.
    EXPECT_EQ(repairUtf8("\xff"), "\xEF\xBF\xBD");
    EXPECT_EQ(repairUtf8("caf\xe9!"), "caf\xEF\xBF\xBD!");
    EXPECT_EQ(repairUtf8("\xe4\xb8"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(repairUtf8("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(repairUtf8("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(newsRichText("<b>\xb9\xfa</b>"), "<b>\xEF\xBF\xBD\xEF\xBF\xBD</b>");
}

TEST(NewsMarkup, Colours)
{
    for (const char* good : {"SteelBlue", "red", "#fff", "#A0b1C2"})
        EXPECT_TRUE(isNewsColour(good)) << good;
    for (const char* bad : {"", "#ff", "#ggg", "rgb(1,2,3)", "red blue", "url(x)", "#1234567"})
        EXPECT_FALSE(isNewsColour(bad)) << bad;
}

} // namespace
} // namespace quillet
