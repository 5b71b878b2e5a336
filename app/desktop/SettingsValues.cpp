#include "app/desktop/SettingsValues.h"

#include <algorithm>

#include "base/ProfileStore.h"
#include "engine/QualityLevel.h"
#include "engine/RecordSettings.h"
#include "engine/SettingsKeys.h"

namespace quillet::desktop {

void SettingsValues::load(const ProfileStore& settings, int sourceCount)
{
    RecordSettings rs;
    rs.load(settings, sourceCount);
    qualityLevel = rs.qualityLevel;
    // Read as an int: the recording parameters keep a byte, which would turn
    // a stored 260 into 4 instead of "not one of the list's rates".
    framesPerSecond = settings.getInt(keys::kScreen, keys::kFps, keys::kFpsDefault);
    recordSound = rs.recordSound;
    audioSourceCount = rs.audioSourceCount;
    audioSourceIndex = rs.audioSourceIndex;
    hideWhileRecording = rs.hideWhileRecording;
    noTrayIcon = settings.getInt(keys::kScreen, keys::kNoTrayIcon, 0) != 0;
}

void SettingsValues::setSourceCount(int sourceCount)
{
    audioSourceCount = std::max(0, sourceCount);
    audioSourceIndex = std::clamp(audioSourceIndex, 0, audioSourceCount);
}

bool parseAreaEdit(const std::string& text, int* value)
{
    size_t b = text.find_first_not_of(' ');
    size_t e = text.find_last_not_of(' ');
    if (b == std::string::npos)
        return false;
    int v = 0;
    for (size_t i = b; i <= e; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > kMaxAreaEdit)
            return false;
    }
    *value = v;
    return true;
}

AreaCheck checkAreaEdits(const std::string texts[4], int screenWidth, int screenHeight, Rect* area, int* badField)
{
    int v[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (!parseAreaEdit(texts[i], &v[i])) {
            if (badField)
                *badField = i;
            return AreaCheck::OutOfRange;
        }
    }
    const int left = v[0], top = v[1], width = v[2], height = v[3];
    if (left + width > screenWidth || top + height > screenHeight)
        return AreaCheck::LargerThanScreen;
    if ((width != 0 && width < kMinAreaSide) || (height != 0 && height < kMinAreaSide))
        return AreaCheck::TooSmall;
    *area = Rect{left, top, left + width, top + height};
    return AreaCheck::Accepted;
}

int storeSettingsChoice(const SettingsChoice& choice, SettingsValues* values, ProfileStore& settings)
{
    values->qualityLevel = clampQualityLevel(choice.qualityIndex);
    values->framesPerSecond = framesPerSecondForListIndex(choice.frameRateIndex);
    values->audioSourceIndex = std::max(0, choice.sourceIndex);
    values->recordSound = choice.recordSound;
    values->hideWhileRecording = choice.hideWhileRecording;
    int ok = 1;
    ok &= settings.writeInt(keys::kScreen, keys::kQuality, values->qualityLevel);
    ok &= settings.writeInt(keys::kScreen, keys::kFps, values->framesPerSecond);
    ok &= settings.writeInt(keys::kQuillet, keys::kRecordSound, values->recordSound ? 1 : 0);
    ok &= settings.writeInt(keys::kQuillet, keys::kAudioSource, values->audioSourceIndex);
    ok &= settings.writeInt(keys::kQuillet, keys::kTip, choice.tip ? 1 : 0);
    ok &= settings.writeInt(keys::kScreen, keys::kHideWhileRecording, values->hideWhileRecording ? 1 : 0);
    return ok;
}

} // namespace quillet::desktop
