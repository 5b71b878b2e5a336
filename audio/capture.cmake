# Sound capture: the portable recorder interface and source list, the
# computer-sound source's contract and conversion, and the PulseAudio backend.
# Only audio/pulse/ includes PulseAudio headers.

add_library(quillet_audio_input
  ${CMAKE_CURRENT_SOURCE_DIR}/input/AudioBufferMailbox.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/input/AudioSourceList.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/input/CaptureBufferSize.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/input/WaveFormatRecord.cpp
)
target_include_directories(quillet_audio_input PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillet_audio_input PUBLIC quillet_engine_types quillet_base Threads::Threads)

add_library(quillet_audio_loopback
  ${CMAKE_CURRENT_SOURCE_DIR}/loopback/LoopbackCapture.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/loopback/LoopbackConverter.cpp
)
target_link_libraries(quillet_audio_loopback PUBLIC quillet_audio_input)

pkg_check_modules(QUILLET_LIBPULSE IMPORTED_TARGET libpulse)
if(QUILLET_LIBPULSE_FOUND)
  add_library(quillet_audio_pulse
    ${CMAKE_CURRENT_SOURCE_DIR}/pulse/PulseConnection.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/pulse/PulseDeviceList.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/pulse/PulseMonitorDevice.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/pulse/PulsePlatform.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/pulse/PulseRecorder.cpp
  )
  # Public: the backend's headers show libpulse types to its tests.
  target_link_libraries(quillet_audio_pulse PUBLIC quillet_audio_loopback quillet_audio_input PkgConfig::QUILLET_LIBPULSE)
else()
  message(STATUS "libpulse not found: the PulseAudio capture backend is not built")
endif()
