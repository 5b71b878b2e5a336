// The PulseAudio backend's side of audio/input/AudioPlatform.h.
#include <mutex>

#include "audio/input/AudioPlatform.h"
#include "audio/loopback/LoopbackCapture.h"
#include "audio/pulse/PulseDeviceList.h"
#include "audio/pulse/PulseMonitorDevice.h"
#include "audio/pulse/PulseRecorder.h"

namespace quillet {

std::unique_ptr<AudioInput> createAudioInput() { return std::make_unique<PulseRecorder>(); }

int queryAudioSystem(AudioSystemInfo& info, std::string& error)
{
    info = AudioSystemInfo();
    PulseConnection connection;
    if (!connection.connect("Quillet device list")) {
        error = connection.error();
        return 0;
    }
    return queryPulseAudioSystem(connection, info, error);
}

namespace {

int32_t pulseLookbackCall(void* buffer, int32_t n)
{
    // One capture per process, as the entry's contract has it; the lock makes
    // a fetch from a clock thread and a stop from the main thread safe even if
    // a caller ever lets them overlap.
    static std::mutex mutex;
    static LoopbackCapture capture(std::make_unique<PulseMonitorDevice>());
    std::lock_guard<std::mutex> guard(mutex);
    return capture.call(buffer, n);
}

} // namespace

LookbackCallFn platformLookbackCall() { return &pulseLookbackCall; }

} // namespace quillet
