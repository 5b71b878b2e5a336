#pragma once
#include <string>

#include "audio/input/AudioSourceList.h"
#include "audio/pulse/PulseConnection.h"

namespace quillet {

// The server's capture sources, its default source and the default sink's
// monitor, asked over a connection that is already open. Returns 1, or 0 with
// error set.
int queryPulseAudioSystem(PulseConnection& connection, AudioSystemInfo& info, std::string& error);

// The default sink as a recording source: its monitor and its sample format.
struct PulseSinkMonitor {
    std::string monitorSource;
    uint32_t sampleRate = 0;
    uint8_t channels = 0;
};
int queryDefaultSinkMonitor(PulseConnection& connection, PulseSinkMonitor& monitor, std::string& error);

} // namespace quillet
