# Speed of the image coders; the JPEG encoder runs against libjpeg-turbo's
# TurboJPEG API, a benchmark-only dependency.
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)

add_executable(bench_video_images ${CMAKE_CURRENT_LIST_DIR}/JpegBench.cpp)
target_include_directories(bench_video_images PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_video_images PRIVATE quillet_video_images PkgConfig::TURBOJPEG benchmark::benchmark)
