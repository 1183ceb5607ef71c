# SPDX-License-Identifier: GPL-2.0-or-later
# Helpers shared by every folder's CMakeLists.

# quorrin_library(NAME SOURCES... [DEPS libs...]): a static library whose
# headers are reached as "folder/Header.h" from the top of the tree.
function(quorrin_library name)
  cmake_parse_arguments(Q "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${Q_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${Q_DEPS})
endfunction()

# quorrin_tests(NAME SOURCES... [DEPS libs...]): one GoogleTest executable,
# every test registered with ctest and labelled with the executable's name
# (ctest -L picks the tests of the executables a build made).
function(quorrin_tests name)
  if(NOT QUORRIN_TESTS)
    return()
  endif()
  cmake_parse_arguments(Q "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT Q_SOURCES)
    return()
  endif()
  # The test bus runs the stand-in driver service, which Windows lacks.
  if(WIN32 AND ("quorrin_testbus" IN_LIST Q_DEPS OR name IN_LIST QUORRIN_POSIX_ONLY_TESTS))
    return()
  endif()
  add_executable(${name} ${Q_SOURCES})
  target_link_libraries(${name} PRIVATE ${Q_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    QUORRIN_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    QUORRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(CMAKE_CROSSCOMPILING)
    # One ctest entry per executable: listing the tests would need the
    # target system (or its emulator) at build time.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS ${name})
  endif()
endfunction()

# Sources of a folder, tests left out.
function(quorrin_sources out dir)
  file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER found EXCLUDE REGEX "_test\\.cpp$")
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(quorrin_test_sources out dir)
  file(GLOB found CONFIGURE_DEPENDS ${dir}/tests/*_test.cpp ${dir}/*_test.cpp)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# quorrin_installed_program(TARGET): TARGET linked once more into installed/,
# the copy the packages hold: the same sources and libraries, with the
# installed folder as the viewer's fallback (app/process/FallbackFolder.cpp,
# chosen by the QUORRIN_INSTALLED property), so that an installed program
# never looks into a build tree.
function(quorrin_installed_program target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  get_target_property(gui ${target} WIN32_EXECUTABLE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  add_executable(${target}_installed ${sources})
  target_link_libraries(${target}_installed PRIVATE ${libraries})
  set_target_properties(${target}_installed PROPERTIES
    QUORRIN_INSTALLED ON OUTPUT_NAME ${name} WIN32_EXECUTABLE "${gui}"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/installed)
endfunction()
