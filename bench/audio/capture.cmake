# Speed of the computer-sound conversion against memcpy. Run from the build
# folder: bin/bench_audio_loopback
add_executable(bench_audio_loopback ${CMAKE_CURRENT_LIST_DIR}/LoopbackConvertBench.cpp)
target_link_libraries(bench_audio_loopback PRIVATE quillet_audio_loopback benchmark::benchmark)
