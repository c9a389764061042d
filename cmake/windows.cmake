# Windows builds: the loader itself, and (win64) the Win32 tests that run under Wine.
# No -fdata-sections: with it MinGW's GCC puts zero-filled buffers in .data$ sections, which take
# their size in the file, instead of in .bss. No unwinding tables: nothing throws.
set(SIZE_FLAGS -Oz -malign-data=abi -ffunction-sections -fno-jump-tables -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
               -fno-threadsafe-statics -fno-ident)
# Windows itself keeps the stack at 4-byte alignment on x86; nothing here needs more.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND SIZE_FLAGS -mpreferred-stack-boundary=2)
endif()
target_compile_options(loader_core PRIVATE ${SIZE_FLAGS})

# The installer's transfer: paced, or with LOADER_RESILIENT_DOWNLOAD the resilient one.
if(LOADER_RESILIENT_DOWNLOAD)
  set(LOADER_TRANSFER_SOURCE src/net/resilient_transfer.cpp)
else()
  set(LOADER_TRANSFER_SOURCE src/net/paced_transfer.cpp)
endif()
set(LOADER_WIN_SOURCES
  src/app/download_window.cpp
  src/app/language_chooser.cpp
  src/net/internet.cpp
  src/net/page_fetch.cpp
  src/net/discovery.cpp
  src/net/package_selection.cpp
  src/net/download_worker.cpp
  ${LOADER_TRANSFER_SOURCE}
  src/base/system_library.cpp
  src/stamp/reg_key.cpp
  src/stamp/stamp_reader.cpp
  src/stamp/registry_records.cpp
  src/ui/progress_meter.cpp
  src/ui/notice_box.cpp
  src/ui/notice_text.cpp
  src/ui/handover.cpp)
# Only KnownDLLs in the import table; other system libraries are loaded from the system folder.
set(LOADER_WIN_LIBS loader_core gdi32 user32 advapi32)

# name: the library; config: its built-in values, generated from the given ones; publisher:
# the name the installer's signer must carry, or empty for no check; a seventh argument, the
# URL of an operator's report build (empty or absent: no report code at all).
function(add_loader_win name config primary secondary tracking publisher)
  set(report "${ARGV6}")
  generate_builtin_config(${config} "${primary}" "${secondary}" "${tracking}" "${publisher}" "${report}")
  set(sources ${LOADER_WIN_SOURCES} ${config})
  if(NOT publisher STREQUAL "")
    list(APPEND sources src/ui/publisher_check.cpp)
  endif()
  if(NOT report STREQUAL "")
    list(APPEND sources src/net/report.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  if(NOT publisher STREQUAL "")
    target_compile_definitions(${name} PRIVATE LOADER_PUBLISHER_CHECK=1)
  endif()
  if(NOT report STREQUAL "")
    # Public: the entry point, in the program's own sources, waits for the reports.
    target_compile_definitions(${name} PUBLIC LOADER_REPORT=1)
    if(LOADER_RESILIENT_DOWNLOAD)
      target_compile_definitions(${name} PRIVATE LOADER_REPORT_RESILIENT=1)
    endif()
  endif()
  target_link_libraries(${name} PUBLIC ${LOADER_WIN_LIBS})
  target_compile_options(${name} PRIVATE ${SIZE_FLAGS} -Wall -Wextra)
endfunction()

# Everything of the program that talks to Windows, except the entry point, so the Win32 tests
# can link the same objects.
add_loader_win(loader_win ${CMAKE_BINARY_DIR}/generated/builtin_config.cpp "${LOADER_PRIMARY_CONFIG_URL}"
               "${LOADER_SECONDARY_CONFIG_URL}" "${LOADER_TRACKING_KEY}" "${LOADER_INSTALLER_PUBLISHER}"
               "${LOADER_REPORT_URL}")

# Our own entry point instead of the MinGW start-up files (see main.cpp); the C symbol of
# LoaderEntry carries a leading underscore on i686 only.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LOADER_ENTRY _LoaderEntry)
else()
  set(LOADER_ENTRY LoaderEntry)
endif()
# The manifest without its comments and the white space between elements: the file pays for
# every byte of it. Written only when it changes; the same for every loader built here.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/res/loader.manifest)
file(READ ${CMAKE_SOURCE_DIR}/src/res/loader.manifest manifest)
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" manifest "${manifest}")
string(REGEX REPLACE ">[ \n]+" ">" manifest "${manifest}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/manifest.xml CONTENT "${manifest}" @ONLY)
# The resource compiler reports no dependencies of its own: a new manifest or company (below)
# must rebuild the resources.
set_source_files_properties(src/res/loader.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_BINARY_DIR}/generated/manifest.xml;${CMAKE_SOURCE_DIR}/src/res/loader.ico;${CMAKE_SOURCE_DIR}/src/res/resource_ids.h;${CMAKE_SOURCE_DIR}/src/res/player_texts.rc")
# company: the CompanyName of the file's version information (configure has refused quotes and
# backslashes in it, which the resource script would read as its own syntax). A true fourth
# argument names the resilient download in the version information (library built with it).
function(add_loader name library company)
  set(LOADER_COMPANY_RC "${company}")
  set(LOADER_RESILIENT_RC 0)
  if(ARGV3)
    set(LOADER_RESILIENT_RC 1)
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version_info.h.in ${CMAKE_BINARY_DIR}/generated/${name}/version_info.h @ONLY)
  set_property(SOURCE src/res/loader.rc APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/generated/${name}/version_info.h)
  add_executable(${name} WIN32 src/app/main.cpp src/res/loader.rc)
  target_compile_options(${name} PRIVATE ${SIZE_FLAGS} -Wall -Wextra)
  target_include_directories(${name} PRIVATE src/res ${CMAKE_BINARY_DIR}/generated/${name} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PRIVATE ${library})
  target_link_options(${name} PRIVATE -static -s -nostartfiles -Wl,--entry=${LOADER_ENTRY} -Wl,--gc-sections
                      -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(${name} PRIVATE msvcrt gcc kernel32)
  # The linker writes SOURCE_DATE_EPOCH as the link time, where it would write its clock's.
  set_property(TARGET ${name} PROPERTY RULE_LAUNCH_LINK "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${LOADER_BUILD_TIME}")
  # The 32-bit build ships, and its size is counted: its sections are laid out by hand.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${name} PRIVATE -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/loader-i686.ld)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/loader-i686.ld)
    # Without the linker's DOS program the headers fit in one 512-byte block (see the script).
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/compact_pe_headers.py $<TARGET_FILE:${name}>
      VERBATIM)
  endif()
endfunction()
add_loader(loader loader_win "${LOADER_COMPANY_NAME}" ${LOADER_RESILIENT_DOWNLOAD})
enable_testing()

# The optional builds, as an operator makes them, built and checked on every machine, whether or
# not Wine can run them here: each is what some player runs.
# A loader branded as an operator would: the publisher check built in for a test publisher, and
# an HTTPS first configuration URL; and the end-to-end tests of both.
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

add_test(NAME loader_exe_check
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/check_pe.py $<TARGET_FILE:loader> ${CMAKE_OBJDUMP}
          "${LOADER_INSTALLER_PUBLISHER}" "${LOADER_COMPANY_NAME}"
          "$<$<BOOL:${LOADER_RESILIENT_DOWNLOAD}>:resilient>,$<$<BOOL:${LOADER_REPORT_URL}>:report>"
          "${LOADER_DISPLAY_NAME}")
# The shipping build once more in another folder: the same bytes (built once per test command,
# in the build without the Wine suites).
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT LOADER_WIN_TESTS)
  add_test(NAME loader_rebuilt_same
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/rebuilt_same.py ${CMAKE_SOURCE_DIR}
            $<TARGET_FILE:loader> ${CMAKE_TOOLCHAIN_FILE} -DLOADER_BUILD_TIME=${LOADER_BUILD_TIME}
            "-DLOADER_COMPANY_NAME=${LOADER_COMPANY_NAME}" "-DLOADER_DISPLAY_NAME=${LOADER_DISPLAY_NAME}"
            "-DLOADER_INSTALLER_PUBLISHER=${LOADER_INSTALLER_PUBLISHER}"
            -DLOADER_RESILIENT_DOWNLOAD=${LOADER_RESILIENT_DOWNLOAD}
            "-DLOADER_PRIMARY_CONFIG_URL=${LOADER_PRIMARY_CONFIG_URL}" "-DLOADER_SECONDARY_CONFIG_URL=${LOADER_SECONDARY_CONFIG_URL}"
            "-DLOADER_TRACKING_KEY=${LOADER_TRACKING_KEY}" "-DLOADER_REPORT_URL=${LOADER_REPORT_URL}")
endif()

# The Win32 and end-to-end suites run wherever Wine can execute this build: always for x86_64,
# and for i686 only where the test command found a working 32-bit Wine.
if(LOADER_WIN_TESTS)
  include(cmake/win_tests.cmake)
endif()
