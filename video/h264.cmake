# Conversion of captured frames to I420 and the H.264 encoder on x264.
pkg_check_modules(QUILLET_X264 REQUIRED IMPORTED_TARGET x264)

add_library(quillet_video_h264
  ${CMAKE_CURRENT_LIST_DIR}/I420Picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ColorConvert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ColorConvertScalar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NalWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FlvAvcTags.cpp
  ${CMAKE_CURRENT_LIST_DIR}/H264Params.cpp
  ${CMAKE_CURRENT_LIST_DIR}/H264Encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MacroblockHints.cpp
)
target_include_directories(quillet_video_h264 PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillet_video_h264 PUBLIC quillet_engine_types quillet_base PRIVATE PkgConfig::QUILLET_X264)
# H264Params.h exposes x264 types to the benchmark and the tests.
target_include_directories(quillet_video_h264 PUBLIC ${QUILLET_X264_INCLUDE_DIRS})

# One source file per instruction set, each with its own flags; the choice is
# made at run time, so the library still runs on CPUs without AVX2.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  target_sources(quillet_video_h264 PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ColorConvertSse2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ColorConvertAvx2.cpp)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ColorConvertSse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ColorConvertAvx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
  target_compile_definitions(quillet_video_h264 PUBLIC QUILLET_X86_SIMD=1)
endif()
