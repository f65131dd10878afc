# One CTest test per test case, so that a failure names its case and
# `ctest -R` picks one.
include(GoogleTest)

# A GoogleTest program. A native one is listed after each build; a Windows
# one when ctest runs, under Wine in the prefix ctest is given (WINEPREFIX),
# through cmake/wine-test.sh. DISPLAY: each case gets an X server (xvfb-run).
# PROPERTIES: test properties for every case.
function(hostprobe_gtest target)
  cmake_parse_arguments(arg "DISPLAY" "" "PROPERTIES" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    set(launcher ${PROJECT_SOURCE_DIR}/cmake/wine-test.sh)
    if(arg_DISPLAY)
      list(APPEND launcher --display)
    endif()
    set_target_properties(${target} PROPERTIES
      CROSSCOMPILING_EMULATOR "${launcher};${CMAKE_CROSSCOMPILING_EMULATOR}")
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
                         PROPERTIES ${arg_PROPERTIES})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()

# A Qt Test program: one test per test function (as -functions lists them,
# when ctest runs), named <target>.<function>. ENVIRONMENT: for every test.
function(hostprobe_qtest target)
  cmake_parse_arguments(arg "" "" "ENVIRONMENT" ${ARGN})
  set(base ${CMAKE_CURRENT_BINARY_DIR}/${target})
  file(GENERATE OUTPUT ${base}_include.cmake CONTENT
"set(qtest_target [==[${target}]==])
set(qtest_executable [==[$<TARGET_FILE:${target}>]==])
set(qtest_environment [==[${arg_ENVIRONMENT}]==])
set(qtest_list_file [==[${base}_tests.cmake]==])
set(qtest_cmake [==[${CMAKE_COMMAND}]==])
include([==[${PROJECT_SOURCE_DIR}/cmake/qtest-discover.cmake]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${base}_include.cmake)
endfunction()
