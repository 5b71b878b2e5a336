#include <cstring>

#include "app/player/PlayerTexts.h"

namespace quillet::player {

namespace {

const PlayerText kTexts[] = {
    {"Title", "Quillet Player"},
    {"Play", "Play"},
    {"Pause", "Pause"},
    {"StepBack", "Previous picture (,)"},
    {"StepForward", "Next picture (.)"},
    {"Fit", "Fit to window"},
    {"OpenTitle", "Play a recording"},
    {"OpenErr", "This recording cannot be played:"},
    {"StoppedAt", "Playback stopped at %1:"},
    {"AtEnd", "End of the recording."},
    {"NoSound", "No sound output, playing the pictures alone:"},
};

} // namespace

const PlayerText* playerTexts(int* count)
{
    *count = int(sizeof kTexts / sizeof kTexts[0]);
    return kTexts;
}

QString PlayerTexts::text(const char* key) const
{
    int n = 0;
    const PlayerText* all = playerTexts(&n);
    const char* builtin = nullptr;
    for (int i = 0; i < n; ++i)
        if (std::strcmp(all[i].key, key) == 0)
            builtin = all[i].builtin;
    return QString::fromStdString(language_.lookupText(kSection, key, builtin));
}

} // namespace quillet::player
