#pragma once
#include <string>
#include <vector>

namespace quillet {

// A capture device as the sound system reports it.
struct CaptureDeviceInfo {
    std::string name;        // stable identifier used to open it
    std::string description; // text shown to the user
    bool isMonitor = false;  // records what an output device plays
};

// What the sound system offers right now.
struct AudioSystemInfo {
    std::vector<CaptureDeviceInfo> sources;
    std::string defaultSource;        // empty when there is none
    std::string defaultSinkMonitor;   // the default output's monitor; empty when it has none
};

enum class AudioSourceKind { DefaultDevice, Device, ComputerSound };

struct AudioSourceEntry {
    AudioSourceKind kind = AudioSourceKind::DefaultDevice;
    std::string device;      // what AudioInput::open takes; empty = the default device
    std::string label;       // device description, or the built-in text of labelKey
    const char* labelKey = nullptr; // language key for the two fixed entries, else null
};

// The sources the settings offer, by index: 0 the default capture device, then
// 1..N every capture device that is not a monitor, sorted by name so that a
// stored index keeps meaning the same device when others come and go, then
// N+1 "the computer's own sound" when the default output has a monitor.
class AudioSourceList {
public:
    // Message keys of the two built-in labels (their texts are the built-ins).
    static constexpr const char* kDefaultKey = "DEFAULTA";
    static constexpr const char* kComputerSoundKey = "WAVEOUT";

    void build(const AudioSystemInfo& info);

    const std::vector<AudioSourceEntry>& entries() const { return entries_; }
    int deviceCount() const { return deviceCount_; }
    bool offersComputerSound() const { return computerSound_; }
    // RecordSettings::audioSourceCount: N, plus 1 when computer sound is offered.
    int sourceCount() const { return deviceCount_ + (computerSound_ ? 1 : 0); }
    // A stored index brought into 0..sourceCount(); negative values give 0.
    int clampIndex(int index) const;
    bool isComputerSound(int index) const { return computerSound_ && index == sourceCount(); }
    // The device to open for an index (after clamping): index 0 and the
    // computer-sound entry open the default device (its buffers are then
    // overwritten with the computer's sound), 1..N their device.
    std::string deviceForIndex(int index) const;
    // The system's default capture device when the list was built ("" when
    // unknown), to name it in messages.
    const std::string& defaultDeviceName() const { return defaultDevice_; }

private:
    std::string defaultDevice_;
    std::vector<AudioSourceEntry> entries_;
    int deviceCount_ = 0;
    bool computerSound_ = false;
};

} // namespace quillet
