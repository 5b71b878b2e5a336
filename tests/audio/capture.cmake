# Sound capture tests: the portable parts run anywhere; the PulseAudio ones
# need the private sound server of scripts/test-env.sh and skip without it.
quillet_add_test(audio_capture_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/AudioSourceListTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/LoopbackCaptureTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/LoopbackConverterTest.cpp
  LIBS quillet_audio_loopback quillet_audio_input)

if(TARGET quillet_audio_pulse)
  quillet_add_test(audio_pulse_tests
    SOURCES
      ${CMAKE_CURRENT_SOURCE_DIR}/PulseRecorderTest.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/PulseLoopbackTest.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/SoundTestKit.cpp
    LIBS quillet_audio_pulse
    LABELS sound)
endif()

# The computer's sound through the command-line recorder keeps its pace over a
# recording (clicks stay in place); needs the desktop of scripts/test-env.sh.
quillet_add_test(audio_drift_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ComputerSoundDriftTest.cpp
  LIBS quillet_base
  LABELS "display;sound")
add_dependencies(audio_drift_tests quillet-cli)
