#include "engine/RecordSettings.h"

#include "base/ProfileStore.h"
#include "engine/QualityLevel.h"
#include "engine/SettingsKeys.h"

namespace quillet {

namespace {

// Whole decimal text with optional blanks around it and an optional sign;
// false for anything else.
bool strictInt(const std::string& text, long* out)
{
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return false;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    long v = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        if (v < 100000000)
            v = v * 10 + (text[i] - '0');
    if (digits == 0 || text.find_first_not_of(" \t", i) != std::string::npos)
        return false;
    *out = negative ? -v : v;
    return true;
}

void note(SettingRepairs* repairs, const char* section, const char* key, const std::string& stored, int used)
{
    if (repairs)
        repairs->push_back(SettingRepair{section, key, stored, std::to_string(used)});
}

} // namespace

void RecordSettings::load(const ProfileStore& settings, int sourceCount, SettingRepairs* repairs)
{
    std::string text;
    const int storedQuality = settings.getInt(keys::kScreen, keys::kQuality, keys::kQualityDefault);
    qualityLevel = clampQualityLevel(storedQuality);
    if (qualityLevel != storedQuality && settings.find(keys::kScreen, keys::kQuality, &text))
        note(repairs, keys::kScreen, keys::kQuality, text, qualityLevel);

    framesPerSecond = keys::kFpsDefault;
    if (settings.find(keys::kScreen, keys::kFps, &text)) {
        long v = 0;
        if (strictInt(text, &v) && v >= kMinStoredFramesPerSecond && v <= kMaxStoredFramesPerSecond)
            framesPerSecond = static_cast<uint8_t>(v);
        else
            note(repairs, keys::kScreen, keys::kFps, text, framesPerSecond);
    }

    hideWhileRecording = settings.getInt(keys::kScreen, keys::kHideWhileRecording, 0) != 0;
    recordSound = settings.getInt(keys::kQuillet, keys::kRecordSound, 1) != 0;
    audioSourceCount = sourceCount < 0 ? 0 : sourceCount;
    const int storedSource = settings.getInt(keys::kQuillet, keys::kAudioSource, 0);
    audioSourceIndex = storedSource;
    if (audioSourceIndex < 0)
        audioSourceIndex = 0;
    if (audioSourceIndex > audioSourceCount)
        audioSourceIndex = audioSourceCount;
    if (audioSourceIndex != storedSource && settings.find(keys::kQuillet, keys::kAudioSource, &text))
        note(repairs, keys::kQuillet, keys::kAudioSource, text, audioSourceIndex);
}

int RecordSettings::save(ProfileStore& settings) const
{
    int ok = 1;
    ok &= settings.writeInt(keys::kScreen, keys::kQuality, qualityLevel);
    ok &= settings.writeInt(keys::kScreen, keys::kFps, framesPerSecond);
    ok &= settings.writeInt(keys::kQuillet, keys::kRecordSound, recordSound ? 1 : 0);
    ok &= settings.writeInt(keys::kQuillet, keys::kAudioSource, audioSourceIndex);
    ok &= settings.writeInt(keys::kScreen, keys::kHideWhileRecording, hideWhileRecording ? 1 : 0);
    return ok;
}

int framesPerSecondForListIndex(int index)
{
    static const int kRates[5] = {2, 5, 10, 15, 20};
    if (index < 0)
        index = 0;
    return kRates[index % 5];
}

int listIndexForFramesPerSecond(int fps)
{
    switch (fps) {
    case 5: return 1;
    case 10: return 2;
    case 15: return 3;
    default: return 0;
    }
}

} // namespace quillet
