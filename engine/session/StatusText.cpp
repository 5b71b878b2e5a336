#include "engine/session/StatusText.h"

#include <cstdio>

#include "base/MulDiv.h"

namespace quillet {

uint32_t recordedSeconds(uint32_t framesCounted, int framesPerSecond)
{
    return framesCounted / static_cast<uint32_t>(framesPerSecond < 1 ? 1 : framesPerSecond);
}

std::string elapsedText(uint32_t s)
{
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", s / 3600, (s % 3600) / 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%02u:%02u", (s % 3600) / 60, s % 60);
    return buf;
}

int statusTrayIcon(uint32_t seconds)
{
    return (seconds % 3600) % 2 ? kTrayIconOdd : kTrayIconEven;
}

int slowCapturePercent(uint32_t framesEncoded, uint32_t framesCounted)
{
    if (framesEncoded >= framesCounted / 2)
        return -1;
    if (framesCounted > 0x7fffffffu)
        return static_cast<int>(static_cast<uint64_t>(framesEncoded) * 100 / framesCounted);
    return mulDiv(100, static_cast<int32_t>(framesEncoded), static_cast<int32_t>(framesCounted));
}

std::string formatWithInt(const std::string& pattern, int value)
{
    std::string out;
    out.reserve(pattern.size() + 12);
    bool used = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const char next = pattern[i + 1];
            if (next == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (next == 'd' && !used) {
                out += std::to_string(value);
                used = true;
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace quillet

namespace quillet {

std::string formatWithTexts(const std::string& pattern, std::initializer_list<std::string> texts)
{
    std::string out;
    out.reserve(pattern.size() + 64);
    auto next = texts.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const char c = pattern[i + 1];
            if (c == '%') {
                out += '%';
                ++i;
                continue;
            }
            if ((c == 's' || c == 'd') && next != texts.end()) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace quillet
