# Native builds: the portable logic under sanitizers, its tests, the kit, and the fuzz targets.
option(LOADER_SANITIZE "AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(LOADER_FUZZ "libFuzzer targets (needs clang)" OFF)

set(WARNINGS -Wall -Wextra -Wshadow)
target_compile_options(loader_core PRIVATE ${WARNINGS})

if(LOADER_FUZZ)
  target_compile_options(loader_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined -g)
  include(${CMAKE_SOURCE_DIR}/fuzz/fuzz.cmake)
  return()
endif()

if(LOADER_SANITIZE)
  set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${SANITIZERS})
  add_link_options(${SANITIZERS})
  target_compile_options(loader_core PRIVATE ${SANITIZERS})
  target_link_options(loader_core PUBLIC ${SANITIZERS})
endif()

add_subdirectory(kit)
if(NOT LOADER_SANITIZE)
  # What Debian builds its own programs with: a fortified C library, stack protection, a
  # position-independent program and read-only relocations.
  foreach(target loaderkit kit loader_core)
    target_compile_options(${target} PRIVATE -fstack-protector-strong -fPIE -Wformat -Werror=format-security)
  endforeach()
  target_compile_definitions(loaderkit PRIVATE _FORTIFY_SOURCE=2)
  target_compile_definitions(kit PRIVATE _FORTIFY_SOURCE=2)
  target_link_options(loaderkit PRIVATE -pie -Wl,-z,relro,-z,now)
  include(${CMAKE_SOURCE_DIR}/cmake/package.cmake)
endif()

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(native_tests
  tests/native/scrambler_test.cpp
  tests/native/reply_parser_test.cpp
  tests/native/discovery_rules_test.cpp
  tests/native/startup_rules_test.cpp
  tests/native/package_names_test.cpp
  tests/native/stamp_layout_test.cpp
  tests/native/notice_format_test.cpp
  tests/native/meter_and_uninstall_test.cpp
  kit/store/store_test.cpp
  kit/funnel/views_test.cpp)
target_compile_options(native_tests PRIVATE ${WARNINGS})
# The kit's own cases, and the endpoint's reading of a report, which the loader's report must pass.
target_link_libraries(native_tests PRIVATE kit GTest::gtest_main)
gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60)

add_test(NAME kit_cli COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/native/kit_cli_test.py $<TARGET_FILE:loaderkit> -v)
# docs/operators.md walked as written, from a copy of the project: its own build of the kit and
# package, apart from kit_cli so that the two run side by side.
add_test(NAME operators_guide COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/native/kit_cli_test.py
         $<TARGET_FILE:loaderkit> -v GuideWalkTest)
