# Cross-builds for 64-bit Windows with Debian's mingw-w64 (posix thread model, so that the C++
# standard library's threads work), against the libraries that scripts/install-deps-windows
# builds into VESK_MINGW_PREFIX. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VESK_MINGW_HOST x86_64-w64-mingw32)
set(VESK_MINGW_PREFIX /opt/vesk-mingw64 CACHE PATH "Prefix of the libraries built for Windows")

set(CMAKE_C_COMPILER ${VESK_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESK_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${VESK_MINGW_HOST}-windres)

# Libraries, headers and packages come from the mingw sysroot and the prefix only, never from
# the build machine's /usr; programs are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${VESK_MINGW_HOST} ${VESK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${VESK_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# The C and C++ run-times and winpthread linked in statically: the programs and the DLL need no
# mingw DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# gtest_discover_tests and ctest start the Windows programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
