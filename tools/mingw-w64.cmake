# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVEX_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVEX_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEX_MINGW_HOST}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_HOST} ${TARVEX_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static: the program may import only Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# pkg-config looks at the cross-built libraries only. Test projects that
# CMake builds meanwhile read this file again without the prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARVEX_WINDOWS_PREFIX)
if(TARVEX_WINDOWS_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${TARVEX_WINDOWS_PREFIX}/lib/pkgconfig:/usr/${TARVEX_MINGW_HOST}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()
