# strudex_add_test(<name> SOURCES <files...> [LIBS <targets...>])
# Builds one Qt Test program and registers it with CTest. Every test runs headless and finds the
# project's test data and the built programs through environment variables.
function(strudex_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test strudex_test_support ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;STRUDEX_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;STRUDEX_FIXTURES=${PROJECT_SOURCE_DIR}/../shared/fixtures;STRUDEX_BIN_DIR=${STRUDEX_OUTPUT_DIR};STRUDEX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
