# Cross build for 64-bit ARM Linux with Debian's aarch64-linux-gnu compilers,
# from an x86-64 host. Only the launcher stub is built this way.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(WEXLO_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${WEXLO_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${WEXLO_CROSS_TRIPLE}-g++)

# Libraries come from the cross sysroot and from CMAKE_PREFIX_PATH (the
# cross-built dependencies); programs run on the build host. The host's own
# /usr/lib and /usr/include, built for x86-64, stay invisible.
set(CMAKE_FIND_ROOT_PATH /usr/${WEXLO_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
