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

# qv_test_folder(<name> DEPS <targets...>)
# One GoogleTest executable of every .cpp in the calling folder. A test whose
# name starts with LONG_ (TEST(Suite, LONG_Name), marked on purpose the way
# GoogleTest marks DISABLED_ tests) gets the CTest label "long"; scripts/test
# leaves those out unless asked (scripts/test --long). No other name is
# matched, so a test about long keys or long fields runs with the rest.
function(qv_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    QV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name}
    TEST_FILTER "-*.LONG_*"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600)
  gtest_discover_tests(${name}
    TEST_FILTER "*.LONG_*"
    TEST_PREFIX "long."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS long TIMEOUT 3600)
endfunction()
