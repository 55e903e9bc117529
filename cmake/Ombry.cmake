# ombry_library(<name> <folder> [DEPS ...]): one static library from every .cpp under src/<folder>.
function(ombry_library name folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  add_library(${name} STATIC ${sources} ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# ombry_test(<name> LABELS ... SOURCES ... [DEPS ...] [PROPERTIES ...]): one GoogleTest program, its tests
# registered with CTest under the given labels.
function(ombry_test name)
  cmake_parse_arguments(ARG "" "" "LABELS;SOURCES;DEPS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ombry_testsupport ${ARG_DEPS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    # Names without the printed parameter: stable, and selectable with -R and --rerun-failed.
    NO_PRETTY_VALUES
    PROPERTIES LABELS "${ARG_LABELS}" ${ARG_PROPERTIES})
endfunction()
