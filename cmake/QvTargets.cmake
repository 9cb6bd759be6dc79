# Helpers shared by the folders' CMakeLists.

# qv_library(<name> DEPS <targets...>)
# A static library of every .cpp in the calling folder (sub-folders excluded).
# The project root is on the include path, so headers are included as
# "xbase/file4.h", "ztdb/ztstr.h" and so on.
function(qv_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()

# qv_test_folder(<name> DEPS <targets...> [OWN_MAIN] [ENVIRONMENT <VAR=value...>]
#                [EXCLUDE <gtest patterns...>])
# One GoogleTest executable of every .cpp in the calling folder. A test whose
# name starts with LONG_ (TEST(Suite, LONG_Name), marked on purpose the way
# GoogleTest marks DISABLED_ tests) gets the CTest label "long"; scripts/test
# leaves those out unless asked (scripts/test --long). No other name is
# matched, so a test about long keys or long fields runs with the rest.
# OWN_MAIN: the folder brings its own main() (GoogleTest's is not linked).
# ENVIRONMENT: variables set for every test. EXCLUDE: tests the folder
# registers itself (for example under another command); they are not discovered.
function(qv_test_folder name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "DEPS;ENVIRONMENT;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set(gtest_libs GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    list(APPEND gtest_libs GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} ${gtest_libs} Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    QV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(excluded "*.LONG_*")
  foreach(pattern ${ARG_EXCLUDE})
    string(APPEND excluded ":${pattern}")
  endforeach()
  set(long_filter "*.LONG_*")
  if(ARG_EXCLUDE)
    list(JOIN ARG_EXCLUDE ":" others)
    string(APPEND long_filter "-${others}")
  endif()
  gtest_discover_tests(${name}
    TEST_FILTER "-${excluded}"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600 ENVIRONMENT "${ARG_ENVIRONMENT}")
  gtest_discover_tests(${name}
    TEST_FILTER "${long_filter}"
    TEST_PREFIX "long."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS long TIMEOUT 3600 ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()
