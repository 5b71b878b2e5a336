#include "audio/input/AudioSourceList.h"

#include <algorithm>

#include "base/BuiltinTexts.h"

namespace quillet {

void AudioSourceList::build(const AudioSystemInfo& info)
{
    entries_.clear();
    defaultDevice_ = info.defaultSource;
    AudioSourceEntry first;
    first.kind = AudioSourceKind::DefaultDevice;
    first.label = builtinMessage(kDefaultKey);
    first.labelKey = kDefaultKey;
    entries_.push_back(first);

    std::vector<const CaptureDeviceInfo*> devices;
    for (const CaptureDeviceInfo& d : info.sources)
        if (!d.isMonitor && !d.name.empty())
            devices.push_back(&d);
    std::sort(devices.begin(), devices.end(),
              [](const CaptureDeviceInfo* a, const CaptureDeviceInfo* b) { return a->name < b->name; });
    // The same name reported twice (a racing enumeration) is one device.
    devices.erase(std::unique(devices.begin(), devices.end(),
                              [](const CaptureDeviceInfo* a, const CaptureDeviceInfo* b) { return a->name == b->name; }),
                  devices.end());
    for (const CaptureDeviceInfo* d : devices) {
        AudioSourceEntry e;
        e.kind = AudioSourceKind::Device;
        e.device = d->name;
        e.label = d->description.empty() ? d->name : d->description;
        entries_.push_back(e);
    }
    deviceCount_ = static_cast<int>(devices.size());

    computerSound_ = !info.defaultSinkMonitor.empty();
    if (computerSound_) {
        AudioSourceEntry e;
        e.kind = AudioSourceKind::ComputerSound;
        e.label = builtinMessage(kComputerSoundKey);
        e.labelKey = kComputerSoundKey;
        entries_.push_back(e);
    }
}

int AudioSourceList::clampIndex(int index) const
{
    if (index < 0)
        return 0;
    return std::min(index, sourceCount());
}

std::string AudioSourceList::deviceForIndex(int index) const
{
    const int i = clampIndex(index);
    if (i >= 1 && i <= deviceCount_)
        return entries_[static_cast<size_t>(i)].device;
    return std::string();
}

} // namespace quillet
