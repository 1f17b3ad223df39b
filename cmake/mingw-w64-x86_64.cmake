# Cross build for 64-bit Windows with Debian's mingw-w64 compilers. The posix
# thread model is required: the win32 one has no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WEXLO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${WEXLO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WEXLO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WEXLO_MINGW_TRIPLE}-windres)

# Libraries come from the mingw sysroot and from CMAKE_PREFIX_PATH (the
# cross-built dependencies); programs run on the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${WEXLO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The dependency prefix lies outside the sysroot; searching it as an extra root
# lets find_library/find_path see it while the host's /usr stays invisible.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

# Without these the .exe silently needs libgcc, libstdc++ and libwinpthread
# DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs built for Windows run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
