# Every dependency comes from a Debian package; the cross builds (Windows,
# Linux aarch64) find the liblzma and libzstd that scripts/build-liblzma.sh
# cross-built from Debian's source.

# liblzma is linked statically so the launcher stays one self-contained file.
find_library(WEXLO_LZMA_STATIC NAMES liblzma.a REQUIRED)
find_path(WEXLO_LZMA_INCLUDE NAMES lzma.h REQUIRED)
add_library(wexlo_lzma INTERFACE)
target_link_libraries(wexlo_lzma INTERFACE ${WEXLO_LZMA_STATIC})
target_include_directories(wexlo_lzma SYSTEM INTERFACE ${WEXLO_LZMA_INCLUDE})
target_compile_definitions(wexlo_lzma INTERFACE LZMA_API_STATIC)
add_library(wexlo::lzma ALIAS wexlo_lzma)

# libzstd too; the launcher uses its decoder alone, so only that is linked in.
# Natively, the one `scripts/build-liblzma.sh linux-x86_64` built from
# Debian's source comes first: libzstd-dev's also carries the decoders of
# zstd's pre-1.0 formats, which would make every stub about 120 KB larger.
if(NOT CMAKE_CROSSCOMPILING)
  set(WEXLO_NATIVE_DEPS ${PROJECT_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR})
endif()
find_library(WEXLO_ZSTD_STATIC NAMES libzstd.a HINTS ${WEXLO_NATIVE_DEPS}/lib REQUIRED)
cmake_path(GET WEXLO_ZSTD_STATIC PARENT_PATH zstd_lib_dir)
find_path(WEXLO_ZSTD_INCLUDE NAMES zstd.h zstd_errors.h HINTS ${zstd_lib_dir}/../include REQUIRED)
if(NOT CMAKE_CROSSCOMPILING AND NOT WEXLO_ZSTD_STATIC MATCHES "^${WEXLO_NATIVE_DEPS}/")
  message(STATUS "libzstd: ${WEXLO_ZSTD_STATIC}; for smaller stubs run "
                 "`sh scripts/build-liblzma.sh linux-x86_64` before configuring")
endif()
add_library(wexlo_zstd INTERFACE)
target_link_libraries(wexlo_zstd INTERFACE ${WEXLO_ZSTD_STATIC})
target_include_directories(wexlo_zstd SYSTEM INTERFACE ${WEXLO_ZSTD_INCLUDE})
add_library(wexlo::zstd ALIAS wexlo_zstd)

# RapidJSON is header-only. A cross build cannot search /usr/include, so the
# headers of Debian's rapidjson-dev are copied into the build tree.
find_path(WEXLO_RAPIDJSON_INCLUDE NAMES rapidjson/reader.h
          PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(WEXLO_RAPIDJSON_COPY ${CMAKE_BINARY_DIR}/third_party/include)
file(COPY ${WEXLO_RAPIDJSON_INCLUDE}/rapidjson DESTINATION ${WEXLO_RAPIDJSON_COPY})
add_library(wexlo_rapidjson INTERFACE)
target_include_directories(wexlo_rapidjson SYSTEM INTERFACE ${WEXLO_RAPIDJSON_COPY})
add_library(wexlo::rapidjson ALIAS wexlo_rapidjson)

if(WEXLO_BUILD_PACKER)
  find_package(CLI11 CONFIG QUIET)
  if(NOT CLI11_FOUND)
    find_path(WEXLO_CLI11_INCLUDE NAMES CLI/CLI.hpp REQUIRED)
    add_library(CLI11_headers INTERFACE)
    target_include_directories(CLI11_headers SYSTEM INTERFACE ${WEXLO_CLI11_INCLUDE})
    add_library(CLI11::CLI11 ALIAS CLI11_headers)
  endif()
endif()

if(WEXLO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
