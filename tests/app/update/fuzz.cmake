# A libFuzzer target for the update reply (request state machine, page reader,
# news markup), built only where a clang with the fuzzer runtime is at hand.
# The test suite runs it briefly over the stored corpus; run it longer by hand:
#   build/bin/update_reply_fuzzer -max_total_time=600 NEW_DIR tests/app/update/corpus
set(_fuzz_sources
  ${PROJECT_SOURCE_DIR}/app/update/HttpGetRequest.cpp
  ${PROJECT_SOURCE_DIR}/app/update/UpdatePage.cpp
  ${PROJECT_SOURCE_DIR}/app/update/NewsMarkup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/UpdateReplyExercise.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/UpdateReplyFuzzer.cpp)
set(_fuzz_flags -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(_fuzzer "")

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(update_reply_fuzzer ${_fuzz_sources})
  target_include_directories(update_reply_fuzzer PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(update_reply_fuzzer PRIVATE ${_fuzz_flags})
  target_link_options(update_reply_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  set(_fuzzer $<TARGET_FILE:update_reply_fuzzer>)
else()
  find_program(QUILLET_CLANGXX NAMES clang++ clang++-14)
  if(QUILLET_CLANGXX AND NOT DEFINED QUILLET_CLANG_FUZZER_WORKS)
    set(_probe ${CMAKE_BINARY_DIR}/CMakeFiles/fuzzer_probe)
    file(WRITE ${_probe}.cpp "extern \"C\" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n")
    execute_process(COMMAND ${QUILLET_CLANGXX} -fsanitize=fuzzer ${_probe}.cpp -o ${_probe}
                    RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
    if(_rc EQUAL 0)
      set(QUILLET_CLANG_FUZZER_WORKS ON CACHE BOOL "clang++ can build libFuzzer targets")
    else()
      set(QUILLET_CLANG_FUZZER_WORKS OFF CACHE BOOL "clang++ can build libFuzzer targets")
    endif()
  endif()
  if(QUILLET_CLANGXX AND QUILLET_CLANG_FUZZER_WORKS)
    set(_fuzzer ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/update_reply_fuzzer)
    file(GLOB _fuzz_headers ${PROJECT_SOURCE_DIR}/app/update/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_custom_command(OUTPUT ${_fuzzer}
      COMMAND ${QUILLET_CLANGXX} ${_fuzz_flags} -I${PROJECT_SOURCE_DIR} ${_fuzz_sources} -o ${_fuzzer}
      DEPENDS ${_fuzz_sources} ${_fuzz_headers}
      COMMENT "Building the update reply fuzzer with clang")
    add_custom_target(update_reply_fuzzer ALL DEPENDS ${_fuzzer})
  else()
    message(STATUS "update reply fuzzer: no clang++ with libFuzzer; not built")
  endif()
endif()

if(_fuzzer)
  set(_artifacts ${CMAKE_BINARY_DIR}/fuzz-artifacts)
  file(MAKE_DIRECTORY ${_artifacts})
  # New inputs go to a scratch folder; the stored corpus stays as committed.
  # A crash or a slow input (over 5 s) fails the test and lands in fuzz-artifacts/.
  add_test(NAME update_reply_fuzz
    COMMAND bash -c "d=$(mktemp -d) && \"$0\" \"$d\" \"$1\" -max_total_time=15 -timeout=5 -seed=1 -artifact_prefix=\"$2/\"; rc=$?; rm -rf \"$d\"; exit $rc"
            ${_fuzzer} ${CMAKE_CURRENT_SOURCE_DIR}/corpus ${_artifacts})
  set_tests_properties(update_reply_fuzz PROPERTIES LABELS fuzz TIMEOUT 120)
endif()
