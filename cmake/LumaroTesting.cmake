# Test helpers shared by the components.
#
#   lumaro_add_unit_test(NAME SOURCES... LIBS ...)
#     A GoogleTest program of pure logic: native in the native builds (each
#     case a CTest test), under Wine in the 64-bit Windows build (one CTest
#     test per program), compiled only in the 32-bit build.
#   lumaro_add_win_test(NAME SOURCES... LIBS ...)
#     A GoogleTest program of Win32 code: Windows builds only, same rules.

if(LUMARO_FUZZ)
  return()
endif()

enable_testing()

if(WIN32)
  # Debian ships GoogleTest's sources; build them with the cross compiler.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  # The win32 thread model has no std::mutex; see the header in gtest-mingw.
  # It must be found before GoogleTest's own folder by every user of gtest.
  include_directories(BEFORE ${CMAKE_CURRENT_LIST_DIR}/gtest-mingw)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(lumaro_gtest_main INTERFACE)
  target_link_libraries(lumaro_gtest_main INTERFACE gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_library(lumaro_gtest_main INTERFACE)
  target_link_libraries(lumaro_gtest_main INTERFACE GTest::gtest GTest::gtest_main)
endif()

function(lumaro_register_import_check target)
  set_property(GLOBAL APPEND PROPERTY LUMARO_IMPORT_CHECKED_FILES $<TARGET_FILE:${target}>)
endfunction()

function(_lumaro_gtest_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(WIN32)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/test_log_role.cpp)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} lumaro_gtest_main)
  if(WIN32)
    lumaro_register_import_check(${name})
    if(LUMARO_RUN_WINE_TESTS)
      add_test(NAME ${name} COMMAND ${name})
      set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS wine)
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()

function(lumaro_add_unit_test name)
  _lumaro_gtest_program(${name} ${ARGN})
endfunction()

# Pure logic tests that need std::thread (absent from the win32 thread model).
function(lumaro_add_native_test name)
  if(NOT WIN32)
    _lumaro_gtest_program(${name} ${ARGN})
  endif()
endfunction()

function(lumaro_add_win_test name)
  if(WIN32)
    _lumaro_gtest_program(${name} ${ARGN})
  endif()
endfunction()
