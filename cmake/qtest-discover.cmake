# Run by ctest (through TEST_INCLUDE_FILES): lists the test functions of a Qt
# Test program, once per build of it, and adds a test for each. Set before:
# qtest_target, qtest_executable, qtest_environment, qtest_list_file,
# qtest_cmake (the cmake program).
if(NOT EXISTS "${qtest_executable}")
  add_test("${qtest_target}_NOT_BUILT" "${qtest_target}_NOT_BUILT")
  return()
endif()
if(NOT EXISTS "${qtest_list_file}" OR NOT "${qtest_list_file}" IS_NEWER_THAN "${qtest_executable}")
  execute_process(COMMAND "${qtest_cmake}" -E env ${qtest_environment} "${qtest_executable}" -functions
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result TIMEOUT 60)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${qtest_executable} -functions failed (${result}):\n${output}${errors}")
  endif()
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\(\\)" functions "${output}")
  set(script "")
  foreach(function IN LISTS functions)
    string(REPLACE "()" "" function "${function}")
    string(APPEND script
      "add_test([==[${qtest_target}.${function}]==] [==[${qtest_executable}]==] [==[${function}]==])\n"
      "set_tests_properties([==[${qtest_target}.${function}]==] PROPERTIES ENVIRONMENT [==[${qtest_environment}]==])\n")
  endforeach()
  file(WRITE "${qtest_list_file}" "${script}")
endif()
include("${qtest_list_file}")
