# Sound coding: the MP3 back end on LAME, the AAC-LC encoder (libavcodec's
# native AAC coder behind our own ADTS framing) and the AudioEncoder wrapper
# that picks between them.
pkg_check_modules(QUILLET_ACODING_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)

add_library(quillet_audio_coding
  ${CMAKE_CURRENT_LIST_DIR}/aac/AdtsHeader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aac/AacLcEncoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mp3Backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AudioEncoder.cpp
)
target_include_directories(quillet_audio_coding PUBLIC ${PROJECT_SOURCE_DIR})
# LAME ships no pkg-config file.
target_link_libraries(quillet_audio_coding
  PUBLIC quillet_engine_types
  PRIVATE mp3lame PkgConfig::QUILLET_ACODING_AV)
