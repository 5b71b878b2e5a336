#include "engine/session/StartRules.h"

#include "engine/session/StatusText.h"

namespace quillet {
namespace {

constexpr int kAlign = 16;
// Rounding slack: a size within 9 pixels below a multiple of 16 rounds up to it.
constexpr int kRoundSlack = 9;

// Adjusts one axis; returns 0 when nothing codable is left.
int adjustAxis(int lo, int hi, int screen, int* outLo, int* outHi)
{
    const int64_t size = static_cast<int64_t>(hi) - lo;
    if (size <= 0 || screen < kAlign)
        return 0;
    const int64_t sized = (size + kRoundSlack) / kAlign * kAlign;
    if (sized < kAlign)
        return 0;
    // An area that covers the screen, or that rounding would make larger
    // than the screen, is the whole axis: the grabber rounds it up to 16 by
    // scaling, as it does for the whole screen, so no screen row is cut.
    if ((lo <= 0 && hi >= screen) || sized > screen) {
        *outLo = 0;
        *outHi = screen;
        return 1;
    }
    int64_t left = lo < 0 ? 0 : lo;
    int64_t right = left + sized;
    if (right > screen) {
        right = screen;
        left = screen - sized;
        if (left < 0)
            left = 0;
    }
    *outLo = static_cast<int>(left);
    *outHi = static_cast<int>(left + sized);
    return 1;
}

} // namespace

AreaResult adjustCaptureArea(const Rect& area, int screenWidth, int screenHeight, Rect* out)
{
    if (area.right == area.left)
        return AreaResult::WholeScreen;
    Rect r;
    if (!adjustAxis(area.left, area.right, screenWidth, &r.left, &r.right) ||
        !adjustAxis(area.top, area.bottom, screenHeight, &r.top, &r.bottom))
        return AreaResult::Bad;
    if (area.left >= screenWidth || area.top >= screenHeight || area.right <= 0 || area.bottom <= 0)
        return AreaResult::Bad;
    *out = r;
    return AreaResult::Ok;
}

std::string defaultOutputName(const std::string& folder, const std::tm& t, const std::string& extension)
{
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%m-%d-%H_%M_%S", &t);
    std::string name = folder;
    if (!name.empty() && name.back() != '/')
        name += '/';
    name += stamp;
    name += '.';
    name += extension;
    return name;
}

std::string confirmationText(const std::string& formatName, const std::string& fileName, bool recordSound,
                             int framesPerSecond, const MessageLookup& lookup)
{
    std::string text = formatName;
    text += lookup("recFile");
    text += fileName;
    text += lookup("recAudio");
    text += lookup(recordSound ? "recYes" : "recNo");
    text += formatWithInt(lookup("FPS"), framesPerSecond);
    text += lookup("start1");
    return text;
}

std::string endMessageText(uint32_t framesEncoded, uint32_t framesCounted, const std::string& fileName,
                           int framesPerSecond, const MessageLookup& lookup)
{
    std::string text;
    const int percent = slowCapturePercent(framesEncoded, framesCounted);
    if (percent >= 0)
        text += formatWithInt(lookup("FpsErr"), percent);
    text += lookup("RecEnd");
    text += fileName;
    text += formatWithInt(lookup("FPS"), framesPerSecond);
    return text;
}

} // namespace quillet
