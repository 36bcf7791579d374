# kestro_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                 [WINDOWS_ONLY | NATIVE_ONLY])
# One GoogleTest executable registered with ctest; on the Windows build ctest runs it under Wine
# in the build's own prefix. The label "concurrency" makes CI run it under ThreadSanitizer too.
function(kestro_add_test name)
  cmake_parse_arguments(ARG "WINDOWS_ONLY;NATIVE_ONLY" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(ARG_WINDOWS_ONLY AND NOT KESTRO_WINDOWS)
    return()
  endif()
  if(ARG_NATIVE_ONLY AND KESTRO_WINDOWS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  kestro_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(KESTRO_WINDOWS)
    add_test(NAME ${name} COMMAND ${name})
    kestro_wine_test_environment(${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# Wine runs every Windows test in the build's prefix, quietly.
set(KESTRO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for tests")
function(kestro_wine_test_environment test_name)
  set_tests_properties(${test_name} PROPERTIES ENVIRONMENT
    "WINEPREFIX=${KESTRO_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
endfunction()
