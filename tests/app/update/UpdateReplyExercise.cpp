#include "tests/app/update/UpdateReplyExercise.h"

#include "app/update/HttpGetRequest.h"
#include "app/update/NewsMarkup.h"
#include "app/update/UpdatePage.h"
#include "tests/app/update/ScriptedTransport.h"

namespace quillet::test {
namespace {

bool consume(std::string_view* s, std::string_view prefix)
{
    if (s->substr(0, prefix.size()) != prefix)
        return false;
    s->remove_prefix(prefix.size());
    return true;
}

// An attribute the markup writes: name="value" with value made of allowed bytes.
bool consumeAttribute(std::string_view* s, std::string_view name, bool (*allowed)(char))
{
    std::string_view t = *s;
    if (!consume(&t, " ") || !consume(&t, name) || !consume(&t, "=\""))
        return false;
    const size_t q = t.find('"');
    if (q == 0 || q == std::string_view::npos)
        return false;
    for (char c : t.substr(0, q))
        if (!allowed(c))
            return false;
    t.remove_prefix(q + 1);
    *s = t;
    return true;
}

bool colourChar(char c)
{
    return c == '#' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool sizeChar(char c)
{
    return c == '+' || c == '-' || (c >= '1' && c <= '7');
}
bool hrefChar(char c)
{
    return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f && c != '<' && c != '>' &&
           c != '\'' && c != '"';
}

// Every tag in marked-up news is one the label may see, with only the
// attributes the markup writes.
bool onlyAllowedTags(std::string_view s, std::string* failure)
{
    static constexpr std::string_view kPlain[] = {"b>", "/b>", "i>", "/i>", "u>", "/u>", "em>", "/em>", "strong>",
                                                  "/strong>", "p>", "/p>", "br>", "/font>", "a>", "/a>"};
    for (size_t i = s.find('<'); i != std::string_view::npos; i = s.find('<', i + 1)) {
        std::string_view t = s.substr(i + 1);
        bool ok = false;
        for (std::string_view p : kPlain)
            ok = ok || t.substr(0, p.size()) == p;
        if (!ok && consume(&t, "font")) {
            consumeAttribute(&t, "color", colourChar);
            consumeAttribute(&t, "size", sizeChar);
            ok = consume(&t, ">");
        } else if (!ok && consume(&t, "a")) {
            std::string head(s.substr(i, 17));
            for (char& c : head)
                c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            ok = consumeAttribute(&t, "href", hrefChar) && consume(&t, ">") &&
                 (head.rfind("<a href=\"http://", 0) == 0 || head.rfind("<a href=\"https://", 0) == 0);
        }
        if (!ok) {
            *failure = "news markup holds a tag it must not: " + std::string(s.substr(i, 60));
            return false;
        }
    }
    return true;
}

int checkPage(std::string_view page, std::string* failure)
{
    const UpdatePage p = UpdatePage::parse(page, "0.1.0.0");
    if (p.newestVersion.size() > UpdatePage::kMaxVersionLength) {
        *failure = "version longer than a button can hold";
        return 0;
    }
    for (char c : p.newestVersion) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            *failure = "version with a byte that is not printable ASCII";
            return 0;
        }
    }
    if (p.upgradeRequested && p.hasNews) {
        *failure = "an upgrade request also gave news";
        return 0;
    }
    if (!p.background.empty() && !isNewsColour(p.background) && p.background.size() > UpdatePage::kMaxColourLength) {
        *failure = "background colour too long";
        return 0;
    }
    const std::string rich = newsRichText(p.newsText);
    if (repairUtf8(rich) != rich) {
        *failure = "news markup is not UTF-8";
        return 0;
    }
    return onlyAllowedTags(rich, failure) ? 1 : 0;
}

} // namespace

int exerciseUpdateReply(std::string_view reply, uint32_t chunkSeed, ReplyEnd end, std::string* failure)
{
    ScriptedTransport t;
    CodeLog log;
    HttpGetRequest r(&t, "0.1.0.0", "fuzz");
    if (!r.start("updates.example.org/news.html", log.notify(), "192.0.2.1")) {
        *failure = "start refused a good URL";
        return 0;
    }
    r.connected(false);
    uint32_t x = chunkSeed * 2654435761u + 1;
    size_t at = 0;
    while (at < reply.size() && r.state() == HttpGetRequest::kSent) {
        x = x * 1664525u + 1013904223u;
        const size_t piece = 1 + (x >> 8) % (size_t{1} << (chunkSeed % 17));
        t.queue(std::string(reply.substr(at, piece)));
        at += piece;
        r.readable();
    }
    if (end == ReplyEnd::kOrderlyClose)
        r.serverClosed(false);
    else if (end == ReplyEnd::kReset)
        r.serverClosed(true);

    const std::string_view body = r.body();
    if (body.size() >= HttpGetRequest::kBufferSize || (body.data()[body.size()] != '\0')) {
        *failure = "buffer overrun or lost terminator";
        return 0;
    }
    if (r.state() > HttpGetRequest::kTooLarge) {
        *failure = "unknown state";
        return 0;
    }
    int completes = 0;
    for (int c : log.codes)
        completes += c == HttpGetRequest::kComplete;
    if (completes > 1) {
        *failure = "the page completed twice";
        return 0;
    }
    if (completes == 1 && !checkPage(body, failure))
        return 0;
    return 1;
}

int exerciseUpdateBytes(const uint8_t* data, size_t size, std::string* failure)
{
    const uint32_t seed = size > 0 ? data[0] : 0;
    const ReplyEnd end = size > 1 ? static_cast<ReplyEnd>(data[1] % 3) : ReplyEnd::kOrderlyClose;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    if (!checkPage(all, failure))
        return 0;
    return exerciseUpdateReply(size > 2 ? all.substr(2) : std::string_view(), seed, end, failure);
}

} // namespace quillet::test
