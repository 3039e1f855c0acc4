# Helpers shared by every subsystem folder.

# Warnings for our own code.
function(vantrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-dangling-pointer)
  if(VANTREL_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One static library per subsystem folder, from every .cpp in it and its part sub-folders.
function(vantrel_subsystem_library target)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()   # a folder still without code
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  vantrel_warnings(${target})
endfunction()
