# Cross-compiling quilbex.exe for 64-bit Windows with Debian's mingw-w64.
# The posix thread model is the one whose libstdc++ has std::thread.
#
# zlib comes from the mingw sysroot; ISA-L from the dependency cache that
# tools/build-windows fills (QUILBEX_MINGW_PREFIX, by default
# ${XDG_CACHE_HOME:-~/.cache}/quilbex-mingw/prefix), found through the .pc
# files it writes there.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILBEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILBEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILBEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILBEX_MINGW_TRIPLET}-windres)

if(DEFINED ENV{QUILBEX_MINGW_PREFIX})
  set(QUILBEX_MINGW_PREFIX "$ENV{QUILBEX_MINGW_PREFIX}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(QUILBEX_MINGW_PREFIX "$ENV{XDG_CACHE_HOME}/quilbex-mingw/prefix")
else()
  set(QUILBEX_MINGW_PREFIX "$ENV{HOME}/.cache/quilbex-mingw/prefix")
endif()
set(QUILBEX_MINGW_SYSROOT /usr/${QUILBEX_MINGW_TRIPLET})

set(CMAKE_FIND_ROOT_PATH ${QUILBEX_MINGW_PREFIX} ${QUILBEX_MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see the Windows libraries only, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${QUILBEX_MINGW_PREFIX}/lib/pkgconfig:${QUILBEX_MINGW_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# quilbex.exe must run from a card reader's machine without any DLL beside it.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
