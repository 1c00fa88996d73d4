# add_unit_test(NAME SOURCES a.cpp b.cpp LIBS lib... [LABELS l...])
# One GoogleTest binary, registered test by test with CTest.
# The folder name (reception, serial, e2e, ...) is always one of its labels,
# so `ctest -L serial` selects a group.
function(add_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT ";${T_LIBS};" MATCHES ";GTest::gtest_main;" AND NOT ";${T_LIBS};" MATCHES ";velrpt_testmain")
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    VELRPT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELRPT_BINARY_DIR="${PROJECT_BINARY_DIR}")
  get_filename_component(group "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${group};${T_LABELS}" TIMEOUT 300)
endfunction()
