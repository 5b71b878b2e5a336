# The screen codec against other lossless screen coders on the same raw
# frames (scripts/bench-screen-codec.sh runs it); the scripted desktop comes
# from the codec's tests.
add_executable(screen_codec_compare
  ${CMAKE_CURRENT_LIST_DIR}/ScreenCodecCompare.cpp
  ${PROJECT_SOURCE_DIR}/tests/video/screen/DesktopScene.cpp)
target_include_directories(screen_codec_compare PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(screen_codec_compare PRIVATE quillet_video_screen_decode)
