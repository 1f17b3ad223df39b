# wexlo_module(NAME DEPS...): a static library from src/NAME/*.cc. Files named
# *_posix.cc or *_windows.cc are only built for their platform, and main.cc
# files are left to the executables.
function(wexlo_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cc)
  list(FILTER sources EXCLUDE REGEX "/main\\.cc$")
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cc$")
  else()
    list(FILTER sources EXCLUDE REGEX "_windows\\.cc$")
  endif()
  if(NOT sources)
    # A module whose first file is still to be written.
    set(sources ${CMAKE_BINARY_DIR}/empty_module.cc)
    file(TOUCH ${sources})
  endif()
  add_library(wexlo_${name} STATIC ${sources})
  target_include_directories(wexlo_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  foreach(dep IN LISTS ARGN)
    target_link_libraries(wexlo_${name} PUBLIC wexlo_${dep})
  endforeach()
endfunction()
