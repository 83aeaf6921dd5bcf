# Project-wide build helpers.

set(QUARVEL_WARNINGS -Wall -Wextra)

# The sanitizer build is also the fuzz build (one clang tree runs both): everything is
# compiled with AddressSanitizer and UndefinedBehaviorSanitizer, and with the fuzzer's
# coverage instrumentation, so that a fuzz target's coverage reaches into the libraries.
if(QUARVEL_SANITIZE OR QUARVEL_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUARVEL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Warnings apply to our own targets only, not to generated or third-party code.
function(quarvel_warnings target)
  target_compile_options(${target} PRIVATE ${QUARVEL_WARNINGS})
endfunction()

# A static library from the sources a glob found; until the first source
# arrives the library is an interface library, so that dependents configure.
function(quarvel_static_library name)
  if(ARGN)
    add_library(${name} STATIC ${ARGN})
    quarvel_warnings(${name})
    set(QUARVEL_LIB_SCOPE PUBLIC PARENT_SCOPE)
  else()
    add_library(${name} INTERFACE)
    set(QUARVEL_LIB_SCOPE INTERFACE PARENT_SCOPE)
  endif()
endfunction()

# Subsystem folders arrive one by one; each is added once it has a CMakeLists.txt.
function(quarvel_add_optional_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt,
# so that parallel work on separate folders never edits a shared list.
# Arguments name folders to leave out.
function(quarvel_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(child IN_LIST ARGN)
      continue()
    endif()
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# quarvel_add_test(<name> LABEL <subsystem> SOURCES <files...> [LIBS <libs...>]
#                  [RESOURCE_LOCK <lock>] [PROPERTIES <ctest properties...>])
# One GoogleTest executable; each test case becomes its own ctest entry, run in
# its own process with its own machine root (see tests/support), so that
# ctest -j runs them in parallel. A second label (jvm) comes from the folder's
# LABELS directory property.
include(GoogleTest)
find_package(GTest REQUIRED)
function(quarvel_add_test name)
  cmake_parse_arguments(T "" "LABEL;RESOURCE_LOCK" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} quarvel_testsupport GTest::gtest)
  target_precompile_headers(${name} REUSE_FROM quarvel_test_pch)
  quarvel_warnings(${name})
  get_directory_property(folder_labels LABELS)
  if(QUARVEL_SANITIZE AND "jvm" IN_LIST folder_labels)
    # The sanitizer tree runs nothing that starts a Java VM: such tests are built only
    # when asked for, and are no ctest entries there.
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
    return()
  endif()
  set(props LABELS ${T_LABEL} TIMEOUT 300 ${T_PROPERTIES})
  if(T_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name} TEST_PREFIX "${name}/" PROPERTIES ${props} DISCOVERY_TIMEOUT 60)
endfunction()

# quarvel_add_fuzzer(<name> SOURCES <files...> [LIBS <libs...>] [CORPUS <dir>])
# A libFuzzer target (clang) and a short ctest run of it over its seed corpus.
set(QUARVEL_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzzer runs under ctest")
function(quarvel_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  set(seeds "")
  if(F_CORPUS)
    set(seeds ${F_CORPUS})
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      $<TARGET_FILE:${name}> -max_total_time=${QUARVEL_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
      -print_final_stats=1 ${corpus} ${seeds})
  set_tests_properties(${name} PROPERTIES LABELS fuzz)
  file(MAKE_DIRECTORY ${corpus})
endfunction()
include(${CMAKE_CURRENT_LIST_DIR}/QuarvelResources.cmake)
