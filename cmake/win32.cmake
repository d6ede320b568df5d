# Win32 build: the DLL, the substitute host and the Windows-side tests, run through Wine.
set(TEV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
set(TEV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh --prefix ${TEV_WINEPREFIX})

# The DLL: core + host interface + dialogs + platform glue + resources.
file(GLOB TEV_DLL_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/plugin/*.cpp
  ${CMAKE_SOURCE_DIR}/ui/*.cpp
  ${CMAKE_SOURCE_DIR}/ui/*.rc
  ${CMAKE_SOURCE_DIR}/processing/*_win32.cpp
  ${CMAKE_SOURCE_DIR}/settings/*_win32.cpp)
add_library(ZRL_TEVPlugin SHARED ${TEV_DLL_SOURCES} ${CMAKE_SOURCE_DIR}/plugin/ZRL_TEVPlugin.def)
set_target_properties(ZRL_TEVPlugin PROPERTIES PREFIX "" OUTPUT_NAME ZRL_TEVPlugin)
target_link_libraries(ZRL_TEVPlugin PRIVATE tev_core comctl32 user32 gdi32 shell32 advapi32 ${TEV_STATIC_RUNTIME})
target_link_options(ZRL_TEVPlugin PRIVATE -Wl,--kill-at)
# Resources are UTF-8 text; the dialog texts are Russian.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

# The substitute host. It asks the plugin's own location rule, with the
# plugin's own platform answers, where the settings file is.
file(GLOB TEV_HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/*.cpp)
add_executable(tevhost ${TEV_HOST_SOURCES} ${CMAKE_SOURCE_DIR}/settings/settings_platform_win32.cpp)
# Only the one option-parsing header is exposed to the cross compiler, never
# the rest of the build machine's /usr/include.
configure_file(/usr/include/cxxopts.hpp ${CMAKE_BINARY_DIR}/host-include/cxxopts.hpp COPYONLY)
target_include_directories(tevhost PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/host-include)
target_link_libraries(tevhost PRIVATE tev_core tev_media comctl32 user32 gdi32 shell32 advapi32 ${TEV_STATIC_RUNTIME})
add_dependencies(tevhost ZRL_TEVPlugin)

# tev.exe, the user's program, the same sources as the native tev.
file(GLOB TEV_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tev/*.cpp)
add_executable(tev ${TEV_APP_SOURCES})
target_include_directories(tev PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/host-include)
target_link_libraries(tev PRIVATE tev_estimate tev_core tev_media ${TEV_STATIC_RUNTIME})
# Single-precision arithmetic as on x86-64, not the x87's wider registers, so
# that --precision high gives the same bytes in both builds.
target_compile_options(tev PRIVATE -mfpmath=sse)
# No fused multiply-add in the wide arithmetic: every build and every vector
# width rounds each product alike, so --precision high has one result.
set_source_files_properties(${CMAKE_SOURCE_DIR}/tev/high_precision.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)

# GoogleTest built for MinGW from Debian's sources.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Windows-side tests: one program per area, since each Wine start costs a second.
# tests/win32/<area>_test.cpp -> tev_<area>_test.exe; files ending _gui_test.cpp
# open windows and run under their own Xvfb.
file(GLOB TEV_WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cpp)
file(GLOB TEV_WIN32_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/support/*.cpp)
foreach(test_source ${TEV_WIN32_TESTS})
  get_filename_component(area ${test_source} NAME_WE)
  add_executable(tev_${area} ${test_source} ${TEV_WIN32_TEST_SUPPORT})
  target_include_directories(tev_${area} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/win32)
  target_link_libraries(tev_${area} PRIVATE tev_core gtest gtest_main comctl32 user32 gdi32 shell32 advapi32 ${TEV_STATIC_RUNTIME})
  add_dependencies(tev_${area} ZRL_TEVPlugin tevhost)
  set(display_args "")
  if(area MATCHES "_gui_test$")
    set(display_args --xvfb)
  endif()
  add_test(NAME win32_${area}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh --prefix ${TEV_WINEPREFIX} ${display_args}
            $<TARGET_FILE:tev_${area}> --gtest_brief=0)
  set_tests_properties(win32_${area} PROPERTIES
    RESOURCE_LOCK wine TIMEOUT 600
    ENVIRONMENT "TEV_DLL=$<TARGET_FILE:ZRL_TEVPlugin>;TEV_HOST=$<TARGET_FILE:tevhost>;TEV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endforeach()

# The shipped image: PE32 i386, two exports, system imports only.
add_test(NAME dll_image COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-dll.sh $<TARGET_FILE:ZRL_TEVPlugin>)

# The host test makes its own ghosted input and measures the host's output
# with the demo's code.
file(GLOB TEV_DEMO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/demo/*.cpp)
list(FILTER TEV_DEMO_SOURCES EXCLUDE REGEX "_main\\.cpp$")
foreach(host_test tev_host_test tev_host_gui_test)
  if(TARGET ${host_test})
    target_sources(${host_test} PRIVATE ${TEV_DEMO_SOURCES})
    target_link_libraries(${host_test} PRIVATE tev_estimate tev_media)
  endif()
endforeach()

# The host's file tests read their expectations with the media library, and
# fill a small file system for the full-disk case: mounted here when CTest runs
# as root, otherwise that case is skipped.
target_link_libraries(tev_host_files_test PRIVATE tev_media)
set(TEV_FULL_DISK ${CMAKE_BINARY_DIR}/full-disk)
add_test(NAME full_disk_mount
  COMMAND sh -c "mkdir -p '${TEV_FULL_DISK}' && { mountpoint -q '${TEV_FULL_DISK}' || mount -t tmpfs -o size=256k tev-full-disk '${TEV_FULL_DISK}'; } 2>/dev/null; true")
add_test(NAME full_disk_unmount COMMAND sh -c "umount '${TEV_FULL_DISK}' 2>/dev/null; true")
set_tests_properties(full_disk_mount PROPERTIES FIXTURES_SETUP full_disk)
set_tests_properties(full_disk_unmount PROPERTIES FIXTURES_CLEANUP full_disk)
set_tests_properties(win32_host_files_test PROPERTIES FIXTURES_REQUIRED full_disk)
set_property(TEST win32_host_files_test APPEND PROPERTY ENVIRONMENT "TEV_FULL_DISK=${TEV_FULL_DISK}")

# tev.exe against tevhost.exe and the DLL on the same frames; it finds tev.exe
# beside tevhost.exe and writes its frames with the program's own stream code.
if(TARGET tev_tev_filter_test)
  target_link_libraries(tev_tev_filter_test PRIVATE tev_media)
  add_dependencies(tev_tev_filter_test tev)
endif()
