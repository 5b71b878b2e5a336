# quillet_sanitizer_environment(OUT): the environment a test's programs need
# in a sanitizer build (empty otherwise).
function(quillet_sanitizer_environment out)
  set(value "")
  if(CMAKE_BUILD_TYPE STREQUAL "Asan")
    set(value "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
  elseif(CMAKE_BUILD_TYPE STREQUAL "Tsan")
    # Libraries not built with the race detector (the toolkit, the sound
    # server's client) synchronise where it cannot see: their own calls into
    # its interceptors are not reported; every access of our code still is.
    set(value "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp ignore_noninstrumented_modules=1")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# quillet_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...])
# Builds one GoogleTest executable and registers its cases with CTest.
# Tests labelled "display" or "sound" need the headless desktop from scripts/test-env.sh;
# they never run concurrently with each other (RESOURCE_LOCK desktop);
# tests labelled "slow" are skipped unless QUILLET_SLOW_TESTS=1 is set when ctest runs.
function(quillet_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set(props "")
  if(T_LABELS)
    # One shared display and sound server: such tests run one at a time.
    if("display" IN_LIST T_LABELS OR "sound" IN_LIST T_LABELS)
      list(APPEND props RESOURCE_LOCK desktop)
    endif()
  endif()
  quillet_sanitizer_environment(environment)
  if(environment)
    list(APPEND props ENVIRONMENT "${environment}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES ${props} SKIP_RETURN_CODE 77)
  if(T_LABELS)
    # Labels are set once the cases are known: among the discovery's
    # properties a list of several labels is flattened into the pairs and
    # takes every property after it along (the lock, the environment).
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${script}"
         "foreach(test IN LISTS ${name}_TESTS)\n"
         "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${T_LABELS}\")\n"
         "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()
