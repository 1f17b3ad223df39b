# The launcher stub: the program that the packer appends a release to.
set(WEXLO_STUB_NAME wexlo-stub-${WEXLO_TARGET})
add_executable(wexlo_stub src/app/main.cc)
set_target_properties(wexlo_stub PROPERTIES OUTPUT_NAME ${WEXLO_STUB_NAME})
target_link_libraries(wexlo_stub PRIVATE wexlo_app)

# The marker names the target and the toolchain so the packer can refuse a
# stub of the wrong target and record how the launcher was built.
string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type_upper)
set(WEXLO_STUB_FLAGS "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type_upper}}")
string(STRIP "${WEXLO_STUB_FLAGS}" WEXLO_STUB_FLAGS)
if(WEXLO_STATIC_STUB)
  string(APPEND WEXLO_STUB_FLAGS " -static -s")
endif()
target_compile_definitions(wexlo_stub PRIVATE
  WEXLO_STUB_TARGET="${WEXLO_TARGET}"
  WEXLO_STUB_TOOLCHAIN="${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}"
  WEXLO_STUB_FLAGS="${WEXLO_STUB_FLAGS}")

if(WEXLO_STATIC_STUB)
  # A stub must be stripped before packing: stripping a packed launcher would
  # cut off its payload.
  target_link_options(wexlo_stub PRIVATE -static -s -Wl,--gc-sections)
endif()
