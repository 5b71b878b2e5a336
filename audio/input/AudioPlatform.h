#pragma once
#include <memory>
#include <string>

#include "audio/input/AudioInput.h"
#include "audio/input/AudioSourceList.h"
#include "audio/loopback/LookbackCall.h"

namespace quillet {

// Entry points every sound backend provides (PulseAudio on Linux); the engine
// and the shell reach the platform only through these and AudioInput.

// A recorder for capture devices; never null.
std::unique_ptr<AudioInput> createAudioInput();

// Asks the sound system for its capture devices and defaults. Returns 1, or 0
// with error set when the sound system cannot be reached (info is then empty,
// which still yields the one-entry source list "default device").
int queryAudioSystem(AudioSystemInfo& info, std::string& error);

// The computer-sound entry of this platform, honouring the lookbackCall
// contract. Process-wide: one capture at a time.
LookbackCallFn platformLookbackCall();

} // namespace quillet
