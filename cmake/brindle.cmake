# One static library per source folder, holding every .cpp in it. A folder
# links only to the folders before it in the build order. RECURSIVE takes the
# .cpp files of the subfolders too (a subsystem split by stage is still one
# library); a folder with no sources yet becomes an interface library.
function(brn_library name)
  cmake_parse_arguments(ARG "RECURSIVE" "" "DEPS" ${ARGN})
  if(ARG_RECURSIVE)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
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
function(brn_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_options(${name} PRIVATE $<$<CONFIG:Debug>:-O0 -g1>)
  # Every test source reads the GoogleTest headers first; parsing them once
  # per executable instead of once per source saves a third of a test's
  # compile time.
  target_precompile_headers(${name} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
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
