# Fuzz targets (clang with libFuzzer) and benchmarks (Google Benchmark).

option(HOSTPROBE_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(HOSTPROBE_FUZZ)
  foreach(target snapshot adapters interfaces)
    add_executable(fuzz_${target} fuzz/fuzz_${target}.cc)
    target_link_libraries(fuzz_${target} PRIVATE hostprobe_cli)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()

option(HOSTPROBE_BENCH "Build the benchmarks" OFF)
if(HOSTPROBE_BENCH)
  find_package(benchmark REQUIRED)
  add_executable(bench_reports bench/bench_reports.cc)
  target_link_libraries(bench_reports PRIVATE hostprobe_cli benchmark::benchmark benchmark::benchmark_main)
endif()
