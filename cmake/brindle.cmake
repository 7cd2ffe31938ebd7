# Build-speed options of the libraries, for a cold build such as CI's (both
# off by default: a local build keeps one object per source).
#
# BRN_LIBRARY_PCH: the standard headers that most library sources read are
# precompiled once (brn_library_pch) and reused by every library, a fifth of
# a library source's parse. A library reusing the header must compile with
# the same options as brn_library_pch (the common ones of the build), or the
# compiler refuses it and -Winvalid-pch fails the build; Qt's library, which
# needs position-independent code, does without. A source still includes
# every header it uses, for the build without the option. Not for optimized
# builds with GCC 12: through a precompiled header its false string-overflow
# warnings inside libstdc++ are no longer silenced as system-header ones.
#
# BRN_UNITY_LIBRARIES: a library's sources compile in batches of eight, so
# that the headers they share are parsed once per batch: parsing is half of a
# library source's compile. A batch fails to compile when two of its sources
# define the same file-local name; such a source is named in its library's
# APART list (relative to the library's folder) and compiled on its own. A
# source without clashes belongs in the batches: give new file-local helpers
# names of their own rather than lengthening the list.
function(brn_library_pch)
  if(NOT BRN_LIBRARY_PCH)
    return()
  endif()
  set(anchor ${CMAKE_CURRENT_BINARY_DIR}/brn_library_pch.cpp)
  file(WRITE ${anchor} "// Anchors the shared precompiled header of the libraries.\n")
  add_library(brn_library_pch OBJECT ${anchor})
  target_precompile_headers(brn_library_pch PRIVATE
    <algorithm> <array> <atomic> <cerrno> <chrono> <cmath> <cstddef> <cstdint> <cstdlib>
    <cstring> <exception> <functional> <limits> <map> <memory> <mutex> <optional> <span>
    <stdexcept> <string> <string_view> <system_error> <unordered_map> <unordered_set>
    <utility> <vector>)
endfunction()

# Applies the build-speed options to a library target; called after all its
# sources are added.
function(brn_library_build_options target)
  cmake_parse_arguments(ARG "" "" "APART" ${ARGN})
  if(BRN_LIBRARY_PCH)
    target_precompile_headers(${target} REUSE_FROM brn_library_pch)
  endif()
  if(NOT BRN_UNITY_LIBRARIES)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  foreach(source IN LISTS ARG_APART)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${source})
      message(FATAL_ERROR "${target}: APART names ${source}, which is not a source")
    endif()
    set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()

# One static library per source folder, holding every .cpp in it. A folder
# links only to the folders before it in the build order. RECURSIVE takes the
# .cpp files of the subfolders too (a subsystem split by stage is still one
# library); a folder with no sources yet becomes an interface library. APART
# names the sources a unity build compiles on their own (see
# brn_library_build_options).
function(brn_library name)
  cmake_parse_arguments(ARG "RECURSIVE" "" "DEPS;APART" ${ARGN})
  if(ARG_RECURSIVE)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    brn_library_build_options(${name} APART ${ARG_APART})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# A GoogleTest executable, registered with CTest as one entry that runs all
# of its cases in one process; BRN_TEST_PER_CASE=ON registers every case as
# an entry of its own instead (discovered when ctest runs), for a local run
# that wants per-case timings or isolation. Shared test helpers are included
# from tests/. In a Debug build the test sources compile at -O0 -g1 (they
# are most of the code and their speed matters little; the libraries they
# test keep the build type's flags, and -g1 still gives sanitizer traces
# their lines). Under ThreadSanitizer a target listed in
# tests/tsan_targets.txt with a filter runs only the cases the filter passes.
# The precompiled GoogleTest header that every test executable reuses. Its
# compile options must match brn_test's, or the compiler ignores it and
# parses the headers again. Called once, before the first brn_test.
function(brn_test_pch)
  set(anchor ${CMAKE_CURRENT_BINARY_DIR}/brn_test_pch.cpp)
  file(WRITE ${anchor} "// Anchors the shared precompiled header of the tests.\n")
  add_library(brn_test_pch OBJECT ${anchor})
  target_link_libraries(brn_test_pch PRIVATE GTest::gtest GTest::gmock)
  target_compile_options(brn_test_pch PRIVATE $<$<CONFIG:Debug>:-O0 -g1>)
  target_precompile_headers(brn_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
endfunction()

function(brn_test name)
  cmake_parse_arguments(ARG "OWN_PCH" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_options(${name} PRIVATE $<$<CONFIG:Debug>:-O0 -g1>)
  # BRN_UNITY_TESTS compiles a test executable's sources in batches of a few
  # files each, so that the project headers they share are read once per
  # batch: the test sources are most of a cold build. The sources must then
  # keep their file-local helpers apart (distinct names in each file's
  # anonymous namespace).
  if(BRN_UNITY_TESTS)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
  # Every test source reads the GoogleTest headers first: one precompiled
  # header, built once for all test executables (see brn_test_pch), saves a
  # third of a test's compile time.
  # OWN_PCH: a target whose libraries change the code model (Qt's demand
  # position-independent code) cannot use the shared header and gets its own.
  if(ARG_OWN_PCH)
    target_precompile_headers(${name} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  else()
    target_precompile_headers(${name} REUSE_FROM brn_test_pch)
  endif()
  set(environment "BRN_TEST_TMP=${CMAKE_BINARY_DIR}/tmp")
  get_property(filter GLOBAL PROPERTY BRN_TSAN_FILTER_${name})
  if(BRN_TEST_PER_CASE)
    set(filterArgs)
    if(filter)
      set(filterArgs TEST_FILTER ${filter})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
                         ${filterArgs} PROPERTIES ENVIRONMENT "${environment}")
  else()
    set(filterArgs)
    if(filter)
      set(filterArgs --gtest_filter=${filter})
    endif()
    add_test(NAME ${name} COMMAND ${name} ${filterArgs})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  endif()
endfunction()

function(brn_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# Refuses at configure time a source that includes a header of a later layer.
# prefix: the include prefix of the layers ("foundation/" or ""); layers: the
# folder names in layering order, each relative to base.
function(brn_check_layers base prefix)
  set(layers ${ARGN})
  list(LENGTH layers count)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    list(GET layers ${index} layer)
    file(GLOB_RECURSE files ${base}/${layer}/*.h ${base}/${layer}/*.cpp)
    foreach(path ${files})
      file(STRINGS ${path} includes REGEX "^#include \"${prefix}[a-z_]+/")
      foreach(line ${includes})
        string(REGEX REPLACE "^#include \"${prefix}([a-z_]+)/.*" "\\1" target "${line}")
        list(FIND layers ${target} targetIndex)
        if(targetIndex GREATER index)
          message(FATAL_ERROR "${path} includes ${target}, a layer after ${layer}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()
