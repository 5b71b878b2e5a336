# Tests of the I420 conversion and the H.264 encoder wrapper. The decoder
# checks use libavcodec, a test-only dependency.
quillet_add_test(video_i420_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/I420ConvertTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/I420SimdTest.cpp
  LIBS quillet_video_h264)

# The same suite once more on the scalar path, as the environment switch selects it.
add_test(NAME video_i420_tests_forced_scalar COMMAND video_i420_tests)
set_tests_properties(video_i420_tests_forced_scalar PROPERTIES ENVIRONMENT "QUILLET_FORCE_SCALAR=1")

pkg_check_modules(QUILLET_H264_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
quillet_add_test(video_h264_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/H264NalTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/H264EncoderTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/H264DecodeTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/H264HintsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/H264TestSupport.cpp
  LIBS quillet_video_h264 quillet_engine_types PkgConfig::QUILLET_H264_AV)

# The recording's H.264 frame tick (grabber, cursor, changed areas, hints),
# decoded by libavcodec.
quillet_add_test(video_h264_frame_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/H264FrameCoderTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/H264TestSupport.cpp
  LIBS quillet_engine quillet_capture_synthetic PkgConfig::QUILLET_H264_AV)
