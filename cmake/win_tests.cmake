# Win32 tests and end-to-end tests, run under 64-bit Wine through tests/support/wine-run.sh.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build with MinGW")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(WINE_RUN ${CMAKE_SOURCE_DIR}/tests/support/wine-run.sh)
set(SITE ${CMAKE_SOURCE_DIR}/tests/support/scripted_site.py)

# Test programs: the robot, a stand-in installer, and DLLs with chosen file versions.
add_executable(robot tests/support/robot.cpp)
target_link_options(robot PRIVATE -static)
add_executable(fake_installer WIN32 tests/support/fake_installer.cpp)
target_link_options(fake_installer PRIVATE -static -s)

# DLLs under the names of system libraries, planted beside the loader in the flow tests.
set(PLANTED_DLLS)
foreach(name wininet winmm uxtheme wintrust crypt32)
  add_library(planted_${name} SHARED tests/support/planted.c)
  set_target_properties(planted_${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
  target_link_options(planted_${name} PRIVATE -static -s)
  list(APPEND PLANTED_DLLS planted_${name})
endforeach()

set(VERSION_DLLS)
foreach(version "6.0" "4.22" "4.21" "5.0" "5.99")
  string(REPLACE "." ";" parts ${version})
  list(GET parts 0 VERSION_MAJOR)
  list(GET parts 1 VERSION_MINOR)
  string(REPLACE "." "_" tag ${version})
  configure_file(tests/support/versioned.rc.in ${CMAKE_BINARY_DIR}/versioned/v${tag}.rc @ONLY)
  add_library(v${tag} SHARED tests/support/versioned.c ${CMAKE_BINARY_DIR}/versioned/v${tag}.rc)
  set_target_properties(v${tag} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/versioned
                                           RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/versioned)
  list(APPEND VERSION_DLLS v${tag})
endforeach()

add_executable(win_tests
  tests/win/win_test_main.cpp
  tests/win/reg_key_test.cpp
  tests/win/page_fetch_test.cpp
  tests/win/download_worker_test.cpp
  tests/win/package_selection_test.cpp
  tests/win/progress_meter_test.cpp
  tests/win/handover_test.cpp
  tests/win/stamp_reader_test.cpp
  tests/win/download_window_test.cpp
  src/res/loader.rc)
target_include_directories(win_tests PRIVATE src/res ${CMAKE_BINARY_DIR}/generated/loader ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(win_tests PRIVATE loader_win gtest)
target_link_options(win_tests PRIVATE -static)
add_dependencies(win_tests ${VERSION_DLLS} ${PLANTED_DLLS} loader fake_installer robot)

set(WIN_ENV "LOADER_BUILD_DIR=${CMAKE_BINARY_DIR};LOADER_VERSIONED_DIR=${CMAKE_BINARY_DIR}/versioned")
foreach(suite RegKey PageFetch DownloadWorker PackageSelection ProgressMeter Handover StampReader DownloadWindow)
  add_test(NAME win.${suite}
    COMMAND Python3::Interpreter ${SITE} --fixtures --exec ${WINE_RUN} $<TARGET_FILE:win_tests> --gtest_filter=${suite}*.*)
  set_tests_properties(win.${suite} PROPERTIES ENVIRONMENT "${WIN_ENV}" TIMEOUT 300 RESOURCE_LOCK wine_session)
endforeach()

# A loader branded as an operator would: the publisher check built in for a test publisher, and
# an HTTPS first configuration URL; for the end-to-end tests of both.
set(TEST_PUBLISHER "Halvorn Test Publisher")
string(REPLACE "http://" "https://" BRANDED_PRIMARY "${LOADER_PRIMARY_CONFIG_URL}")
add_loader_win(loader_win_branded ${CMAKE_BINARY_DIR}/generated/branded_config.cpp "${BRANDED_PRIMARY}"
               "${LOADER_SECONDARY_CONFIG_URL}" "${LOADER_TRACKING_KEY}" "${TEST_PUBLISHER}")
# Its file properties name the operator's company and product, as LOADER_COMPANY_NAME and
# LOADER_DISPLAY_NAME would set them.
set(TEST_COMPANY "Nordlys Gaming Ltd")
set(LOADER_DISPLAY_NAME "Nordlys Casino")
add_loader(loader_branded loader_win_branded "${TEST_COMPANY}")
unset(LOADER_DISPLAY_NAME)
add_test(NAME loader_branded_exe_check
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/check_pe.py $<TARGET_FILE:loader_branded> ${CMAKE_OBJDUMP}
          "${TEST_PUBLISHER}" "${TEST_COMPANY}" "" "Nordlys Casino")

# A loader with the resilient download, as an operator builds it, for the end-to-end tests of the
# option: the same objects as the loader but for the transfer, the resilient one (the linker
# then takes none of the library's, whose transfer defines the same two functions). Its stall
# time-out is 3 s instead of 30 s, so that a stall is noticed in seconds.
add_library(resilient_worker OBJECT src/net/resilient_transfer.cpp)
target_compile_definitions(resilient_worker PRIVATE LOADER_RECEIVE_TIMEOUT_MS=3000)
target_compile_options(resilient_worker PRIVATE ${SIZE_FLAGS} -Wall -Wextra)
target_link_libraries(resilient_worker PRIVATE loader_core)
add_loader(loader_resilient loader_win "${LOADER_COMPANY_NAME}" ON)
target_sources(loader_resilient PRIVATE $<TARGET_OBJECTS:resilient_worker>)
add_test(NAME loader_resilient_exe_check
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/check_pe.py $<TARGET_FILE:loader_resilient>
          ${CMAKE_OBJDUMP} "" "${LOADER_COMPANY_NAME}" resilient)

# A loader with reports, as an operator builds it with LOADER_REPORT_URL: its reports go to a
# host that the tests' site answers as the proxy.
set(TEST_REPORT_URL "http://report.halvorn.example/report")
add_loader_win(loader_win_report ${CMAKE_BINARY_DIR}/generated/report_config.cpp "${LOADER_PRIMARY_CONFIG_URL}"
               "${LOADER_SECONDARY_CONFIG_URL}" "${LOADER_TRACKING_KEY}" "" "${TEST_REPORT_URL}")
add_loader(loader_report loader_win_report "${LOADER_COMPANY_NAME}")
add_test(NAME loader_report_exe_check
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/check_pe.py $<TARGET_FILE:loader_report>
          ${CMAKE_OBJDUMP} "" "${LOADER_COMPANY_NAME}" report)

# The native loaderkit stamps the loader copies of the end-to-end tests.
set(LOADERKIT ${CMAKE_SOURCE_DIR}/build/native/loaderkit CACHE FILEPATH "native loaderkit for the end-to-end tests")

# End to end: the real loader.exe driven by the robot against a scripted site.
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(test ${E2E_TESTS})
  get_filename_component(name ${test} NAME_WE)
  add_test(NAME e2e.${name} COMMAND Python3::Interpreter -m unittest -v ${name}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  set_tests_properties(e2e.${name} PROPERTIES
    ENVIRONMENT "LOADER_BUILD_DIR=${CMAKE_BINARY_DIR};LOADER_EXE=$<TARGET_FILE:loader>;LOADER_BRANDED_EXE=$<TARGET_FILE:loader_branded>;LOADER_RESILIENT_EXE=$<TARGET_FILE:loader_resilient>;LOADER_REPORT_EXE=$<TARGET_FILE:loader_report>;LOADER_TEST_PUBLISHER=${TEST_PUBLISHER};LOADER_ROBOT=$<TARGET_FILE:robot>;LOADER_FAKE_INSTALLER=$<TARGET_FILE:fake_installer>;LOADER_PLANTED_DIR=${CMAKE_BINARY_DIR}/planted;LOADERKIT=${LOADERKIT};PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/support"
    TIMEOUT 600 RESOURCE_LOCK wine_session)
endforeach()

add_executable(download_bench tests/win/download_bench.cpp)
target_link_libraries(download_bench PRIVATE loader_win winmm)
target_link_options(download_bench PRIVATE -static)
# The same benchmark of the resilient download, beside an unpaced WinInet loop (scripts/bench.sh).
add_executable(download_bench_resilient tests/win/download_bench.cpp $<TARGET_OBJECTS:resilient_worker>)
target_link_libraries(download_bench_resilient PRIVATE loader_win winmm)
target_compile_definitions(download_bench_resilient PRIVATE LOADER_RESILIENT_DOWNLOAD=1)
target_link_options(download_bench_resilient PRIVATE -static)
# The import check refuses a program that names a DLL outside the KnownDLLs: this one imports winmm.
add_test(NAME loader_exe_check_refuses_other_dlls
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/check_pe.py $<TARGET_FILE:download_bench> ${CMAKE_OBJDUMP})
set_tests_properties(loader_exe_check_refuses_other_dlls PROPERTIES
  PASS_REGULAR_EXPRESSION "FAIL: imports DLLs that are not KnownDLLs: [a-z0-9., ]*winmm.dll")

# The smoke run under a relay trace of the one call that keeps the pause at 1 ms on a minimized
# Windows 11 window: the worker makes it before its first read, and the download completes
# although Wine refuses it. (A pass expression replaces the exit code, so it asks for the
# benchmark's own result=1 too.)
set(RELAYED_SMOKE [["$0" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude \
  /d 'kernel32.SetProcessInformation;wininet.InternetReadFile' /f >/dev/null 2>&1 &&
  WINEDEBUG=+relay exec "$0" "$1" --smoke 2>&1]])
add_test(NAME bench.download_smoke
  COMMAND Python3::Interpreter ${SITE} --fixtures --exec sh -c "${RELAYED_SMOKE}" ${WINE_RUN} $<TARGET_FILE:download_bench>)
set_tests_properties(bench.download_smoke PROPERTIES ENVIRONMENT "${WIN_ENV}" TIMEOUT 300 RESOURCE_LOCK wine_session
  PASS_REGULAR_EXPRESSION "Call KERNEL32\\.SetProcessInformation\\([0-9a-f]+,00000004,[0-9a-f]+,0000000c\\)[^!]*Call wininet\\.InternetReadFile[^!]*download_bench: result=1 ")
