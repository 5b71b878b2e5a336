#include "engine/RecordSettings.h"

#include "base/ProfileStore.h"
#include "engine/QualityLevel.h"
#include "engine/SettingsKeys.h"

namespace quillet {

void RecordSettings::load(const ProfileStore& settings, int sourceCount)
{
    qualityLevel = clampQualityLevel(settings.getInt(keys::kScreen, keys::kQuality, keys::kQualityDefault));
    framesPerSecond = static_cast<uint8_t>(settings.getInt(keys::kScreen, keys::kFps, keys::kFpsDefault));
    hideWhileRecording = settings.getInt(keys::kScreen, keys::kHideWhileRecording, 0) != 0;
    recordSound = settings.getInt(keys::kQuillet, keys::kRecordSound, 1) != 0;
    audioSourceCount = sourceCount < 0 ? 0 : sourceCount;
    audioSourceIndex = settings.getInt(keys::kQuillet, keys::kAudioSource, 0);
    if (audioSourceIndex < 0)
        audioSourceIndex = 0;
    if (audioSourceIndex > audioSourceCount)
        audioSourceIndex = audioSourceCount;
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
