# Encoding cost of one second of sound for every quality level's format.
add_executable(audio_coding_bench ${CMAKE_CURRENT_LIST_DIR}/AudioEncoderBench.cpp)
target_link_libraries(audio_coding_bench PRIVATE quillet_audio_coding benchmark::benchmark)
