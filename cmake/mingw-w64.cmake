# Cross-builds Kestrix's command line for x86_64 Windows with Debian's mingw-w64 toolchain (the
# posix thread model, for std::thread). Libraries come from KESTRIX_WINDOWS_DEPS, the folder
# scripts/windows-deps.sh fills; everything is linked static, so the program needs no DLL
# beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT KESTRIX_WINDOWS_DEPS)
  get_filename_component(KESTRIX_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps/prefix"
    ABSOLUTE)
endif()
# The compiler checks read this file again in a project of their own: they get the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRIX_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${KESTRIX_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks only at the cross libraries (whose .pc files, written by windows-deps.sh, name
# every library a static link needs).
set(ENV{PKG_CONFIG_LIBDIR}
    "${KESTRIX_WINDOWS_DEPS}/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests and tools run under wine, through a script that runs a program again when wine lost its
# server.
find_program(KESTRIX_WINE NAMES wine wine64)
if(KESTRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
