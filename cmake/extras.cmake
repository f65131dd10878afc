# Fuzz targets (clang with libFuzzer) and benchmarks (Google Benchmark).

option(HOSTPROBE_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(HOSTPROBE_FUZZ)
  set(fuzz_targets snapshot adapters interfaces)
  if(NOT WIN32)
    list(APPEND fuzz_targets netlink)  # the Linux netlink parser
  endif()
  foreach(target IN LISTS fuzz_targets)
    add_executable(fuzz_${target} fuzz/fuzz_${target}.cc)
    target_link_libraries(fuzz_${target} PRIVATE hostprobe_cli hostprobe_network hostprobe_drives)
    target_include_directories(fuzz_${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
  target_link_libraries(fuzz_snapshot PRIVATE nlohmann_json::nlohmann_json)
endif()

option(HOSTPROBE_BENCH "Build the benchmarks where Google Benchmark is installed" OFF)
if(HOSTPROBE_BENCH)
  find_package(benchmark QUIET)
endif()
if(HOSTPROBE_BENCH AND benchmark_FOUND)
  add_executable(bench_reports bench/bench_reports.cc)
  target_link_libraries(bench_reports PRIVATE hostprobe_cli hostprobe_network hostprobe_drives benchmark::benchmark benchmark::benchmark_main)
  target_include_directories(bench_reports PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()

# The command line linked against the shared C++ runtime, for bench/startup.sh
# to compare with hostprobe (built on demand only).
if(NOT WIN32)
  add_executable(hostprobe_dynamic EXCLUDE_FROM_ALL src/app/main.cc)
  target_link_libraries(hostprobe_dynamic PRIVATE hostprobe_cli)
endif()
