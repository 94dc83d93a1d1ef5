# Test registration: one GoogleTest executable per subsystem, discovered at test time so that the
# Windows build runs its discovery under Wine too.
include(GoogleTest)

if(KX_WINDOWS)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(KX_GTEST_LIBS GTest::gtest GTest::gmock gtest_main)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
  set(KX_GTEST_LIBS GTest::gtest GTest::gmock GTest::gtest_main)
endif()

# Test code is compiled without optimisation whatever the build type: it halves the test build, the
# longest part of the test command, and the code under test keeps the build type's flags.
# GoogleTest's header is compiled once for all of them (the test support library's precompiled
# header), which saves a third of the time of each test source.
function(kx_test_code target)
  target_compile_options(${target} PRIVATE -O0)
  if(target STREQUAL kx_testlib)
    target_precompile_headers(kx_testlib PRIVATE <gtest/gtest.h> <functional> <memory> <string>
      <vector>)
  else()
    target_precompile_headers(${target} REUSE_FROM kx_testlib)
  endif()
endfunction()

# kx_test(name SOURCES ... DEPS ... [PROPERTIES ...])
function(kx_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kx_testlib ${KX_GTEST_LIBS})
  kx_test_code(${name})
  # 32-bit Windows programs cannot run on these machines: they are built, not run.
  if(KX_WINDOWS AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  # Tests get a machine root of their own (the host layer's drive C:), never the user's.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "KX_ROOT=${CMAKE_BINARY_DIR}/testdata/machine" ${ARG_PROPERTIES})
endfunction()
