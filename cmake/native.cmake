# Native build: unit tests and benchmarks of the portable core.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

file(GLOB TEV_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
# The estimate command is tested in-process, as a function.
add_executable(tev_native_tests ${TEV_NATIVE_TESTS} ${CMAKE_SOURCE_DIR}/tev/estimate_command.cpp)
target_link_libraries(tev_native_tests PRIVATE tev_estimate tev_core tev_media GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(tev_native_tests DISCOVERY_TIMEOUT 60)

option(TEV_BENCH "build the benchmarks" ON)
file(GLOB TEV_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
if(TEV_BENCH AND NOT TEV_SANITIZE AND TEV_BENCH_SOURCES)
  find_package(benchmark REQUIRED)
  add_executable(tev_bench ${TEV_BENCH_SOURCES})
  target_link_libraries(tev_bench PRIVATE tev_estimate tev_core benchmark::benchmark benchmark::benchmark_main)
  # Reference converters the kernels are measured against; never linked into the DLL.
  find_package(PkgConfig)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(SWSCALE IMPORTED_TARGET libswscale libavutil)
    if(SWSCALE_FOUND)
      target_link_libraries(tev_bench PRIVATE PkgConfig::SWSCALE)
      target_compile_definitions(tev_bench PRIVATE TEV_HAVE_SWSCALE=1)
    endif()
  endif()
  find_library(YUV_LIBRARY yuv)
  if(YUV_LIBRARY)
    target_link_libraries(tev_bench PRIVATE ${YUV_LIBRARY})
    target_compile_definitions(tev_bench PRIVATE TEV_HAVE_LIBYUV=1)
  endif()
endif()

# Demo tools: test card, multipath channel model, tuning, metrics and pictures.
# Frame files come from the media library, so the demo, the host and the tests
# read and write the same files.
file(GLOB TEV_DEMO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/demo/*.cpp)
list(FILTER TEV_DEMO_SOURCES EXCLUDE REGEX "_main\\.cpp$")
add_library(tev_demo STATIC ${TEV_DEMO_SOURCES})
target_include_directories(tev_demo PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tev_demo PUBLIC tev_estimate tev_media)
add_executable(tevlab ${CMAKE_SOURCE_DIR}/demo/tevlab_main.cpp)
target_link_libraries(tevlab PRIVATE tev_demo tev_estimate tev_core)
# GCC 12 sees a false "maybe uninitialized" inside <regex> (used by cxxopts)
# once the sanitizers are on.
target_compile_options(tevlab PRIVATE -Wno-maybe-uninitialized)
target_link_libraries(tev_native_tests PRIVATE tev_demo)

# tev, the user's program: its commands live in tev/, one file each.
file(GLOB TEV_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tev/*.cpp)
add_executable(tev ${TEV_APP_SOURCES})
target_link_libraries(tev PRIVATE tev_estimate tev_core tev_media)
# tev filter's tests and benchmark link its stream, frame loop and arithmetic,
# and the tests also run the program itself.
set(TEV_FILTER_SOURCES ${CMAKE_SOURCE_DIR}/tev/stream_filter.cpp ${CMAKE_SOURCE_DIR}/tev/high_precision.cpp)
target_sources(tev_native_tests PRIVATE ${TEV_FILTER_SOURCES})
target_compile_definitions(tev_native_tests PRIVATE TEV_APP_PATH="$<TARGET_FILE:tev>"
                           TEV_PHOTO_DIR="/usr/share/backgrounds/mate/nature")
add_dependencies(tev_native_tests tev)
if(TARGET tev_bench)
  # The benchmark runs the whole command, options and settings file included.
  target_sources(tev_bench PRIVATE ${TEV_FILTER_SOURCES} ${CMAKE_SOURCE_DIR}/tev/filter_command.cpp)
  target_link_libraries(tev_bench PRIVATE tev_media)
endif()
# No fused multiply-add in the wide arithmetic: every build and every vector
# width rounds each product alike, so --precision high has one result.
set_source_files_properties(${CMAKE_SOURCE_DIR}/tev/high_precision.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
