# Speed of the I420 conversion (against memcpy) and of the H.264 wrapper's own
# work (against the x264 call). Run from the build folder:
#   bin/bench_video_i420 ; bin/bench_video_h264
add_executable(bench_video_i420 ${CMAKE_CURRENT_LIST_DIR}/I420Bench.cpp)
target_link_libraries(bench_video_i420 PRIVATE quillet_video_h264 benchmark::benchmark)

pkg_check_modules(QUILLET_BENCH_X264 REQUIRED IMPORTED_TARGET x264)
add_executable(bench_video_h264 ${CMAKE_CURRENT_LIST_DIR}/H264Bench.cpp)
target_link_libraries(bench_video_h264 PRIVATE quillet_video_h264 PkgConfig::QUILLET_BENCH_X264 benchmark::benchmark)

# Not a speed benchmark: bit rate and PSNR of the two rate-control choices.
add_executable(bench_video_h264_ratecontrol ${CMAKE_CURRENT_LIST_DIR}/H264RateControlBench.cpp)
target_link_libraries(bench_video_h264_ratecontrol PRIVATE quillet_video_h264 PkgConfig::QUILLET_BENCH_X264
                      benchmark::benchmark)

# Conversion of changed areas only and macroblock skip hints against whole
# pictures: bin/bench_video_h264_hints
add_executable(bench_video_h264_hints ${CMAKE_CURRENT_LIST_DIR}/H264HintsBench.cpp)
target_link_libraries(bench_video_h264_hints PRIVATE quillet_video_h264 benchmark::benchmark)
