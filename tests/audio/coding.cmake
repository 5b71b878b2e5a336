# Sound coding tests. The round trips decode our streams with libavformat and
# libavcodec (and the ffmpeg program when it is installed), never with our code.
pkg_check_modules(QUILLET_ACODING_TEST_AV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)

add_library(quillet_audio_coding_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/CodingTestSupport.cpp)
target_include_directories(quillet_audio_coding_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillet_audio_coding_test_support PUBLIC PkgConfig::QUILLET_ACODING_TEST_AV)

quillet_add_test(audio_aac_encoder_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AacEncoderTest.cpp
  LIBS quillet_audio_coding quillet_audio_coding_test_support PkgConfig::QUILLET_ACODING_TEST_AV)

quillet_add_test(audio_mp3_backend_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Mp3BackendTest.cpp
  LIBS quillet_audio_coding quillet_audio_coding_test_support mp3lame)

quillet_add_test(audio_encoder_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AudioEncoderTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AudioRoundTripTest.cpp
  LIBS quillet_audio_coding quillet_audio_coding_test_support mp3lame)
