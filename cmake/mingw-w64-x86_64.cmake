# Cross build of the Windows x64 DLL with Debian's mingw-w64 (POSIX threads
# model, package g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-win --toolchain cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win -j2
#
# gives build-win/xylotrak.dll and its import library libxylotrak.dll.a.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(XYLOTRAK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${XYLOTRAK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${XYLOTRAK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${XYLOTRAK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${XYLOTRAK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libgcc, libstdc++, winpthread) goes into every
# binary, so the DLL and the test programs need nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Google Benchmark is a host (Linux) package only.
set(XYLOTRAK_BUILD_BENCHMARKS OFF CACHE BOOL "Build the benchmarks")
