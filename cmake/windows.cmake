# Windows builds: the loader itself, and (win64) the Win32 tests that run under Wine.
# No -fdata-sections: with it MinGW's GCC puts zero-filled buffers in .data$ sections, which take
# their size in the file, instead of in .bss. No unwinding tables: nothing throws.
set(SIZE_FLAGS -Oz -malign-data=abi -ffunction-sections -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
               -fno-threadsafe-statics -fno-ident)
# Windows itself keeps the stack at 4-byte alignment on x86; nothing here needs more.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND SIZE_FLAGS -mpreferred-stack-boundary=2)
endif()
target_compile_options(loader_core PRIVATE ${SIZE_FLAGS})

# Everything of the program that talks to Windows, except the entry point, so the Win32 tests
# can link the same objects.
add_library(loader_win STATIC
  src/app/download_window.cpp
  src/app/language_chooser.cpp
  src/net/page_fetch.cpp
  src/net/discovery.cpp
  src/net/package_selection.cpp
  src/net/download_worker.cpp
  src/stamp/reg_key.cpp
  src/stamp/stamp_reader.cpp
  src/stamp/registry_records.cpp
  src/ui/progress_meter.cpp
  src/ui/notice_box.cpp
  src/ui/notice_text.cpp
  src/ui/handover.cpp)
target_compile_options(loader_win PRIVATE ${SIZE_FLAGS} -Wall -Wextra)
target_link_libraries(loader_win PUBLIC loader_core wininet version winmm gdi32 user32 advapi32)

add_executable(loader WIN32 src/app/main.cpp src/res/loader.rc)
target_compile_options(loader PRIVATE ${SIZE_FLAGS} -Wall -Wextra)
target_include_directories(loader PRIVATE src/res)
set_source_files_properties(src/res/loader.rc PROPERTIES OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/src/res/loader.ico;${CMAKE_SOURCE_DIR}/src/res/resource_ids.h")
target_link_libraries(loader PRIVATE loader_win)
# Our own entry point instead of the MinGW start-up files (see main.cpp); the C symbol of
# LoaderEntry carries a leading underscore on i686 only.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LOADER_ENTRY _LoaderEntry)
else()
  set(LOADER_ENTRY LoaderEntry)
endif()
target_link_options(loader PRIVATE -static -s -nostartfiles -Wl,--entry=${LOADER_ENTRY} -Wl,--gc-sections
                    -Wl,--dynamicbase -Wl,--nxcompat)
target_link_libraries(loader PRIVATE msvcrt gcc kernel32)

enable_testing()
add_test(NAME loader_exe_check
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/support/check_pe.py $<TARGET_FILE:loader> ${CMAKE_OBJDUMP})

# The Win32 and end-to-end suites run wherever Wine can execute this build: always for x86_64,
# and for i686 only where the test command found a working 32-bit Wine.
if(LOADER_WIN_TESTS)
  include(cmake/win_tests.cmake)
endif()
