# Adds the benchmarks to a build whose top-level CMakeLists.txt does not add them itself:
#   cmake -S . -B build-bench -G Ninja -DCMAKE_PROJECT_INCLUDE=$PWD/bench/AddBench.cmake
# bench/CMakeLists.txt is read once the top-level file has been read (every package
# found, every library defined), and not at all when that file has added bench/ already.
function(korvani_add_bench_once)
  if(NOT TARGET fetch_bench)
    include("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CMakeLists.txt")
  endif()
endfunction()
cmake_language(DEFER CALL korvani_add_bench_once)
