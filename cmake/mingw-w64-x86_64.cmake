# Cross-compiling for Windows on x86-64 with Debian's MinGW-w64 (the POSIX
# thread model, which std::thread needs). The C++ runtime, libgcc and
# winpthread are linked statically, so the programs need no MinGW DLLs.
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DLUMORA_WINDOWS_DEPS=<prefix printed by scripts/build_windows_deps.sh>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

# The cross-built dependencies (cJSON) live in a prefix of their own; their
# pkg-config files are the only ones looked at, never the machine's.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMORA_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
if(LUMORA_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${LUMORA_WINDOWS_DEPS})
  set(ENV{PKG_CONFIG_LIBDIR} ${LUMORA_WINDOWS_DEPS}/lib/pkgconfig)
else()
  set(ENV{PKG_CONFIG_LIBDIR} /nonexistent)
endif()
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
